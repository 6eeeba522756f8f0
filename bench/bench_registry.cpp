// The registry file on a system.reg of hostile shape: the game's install key
// opened and read (what start-up does) and one of its values written (what
// the Registry page does), after 1 MB or 100 MB of keys a few levels deep
// or thousands of levels deep, of many keys, values or lines, or of one long
// line. What it costs has to grow with the size of the file alone.

#include "platform/RegistryFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

const QString installKey = QStringLiteral("\\Software\\Unreal Technology\\Installed Apps\\UnrealTournament");

enum Shape : int64_t {
    DeepKey,    // one key thousands of names below the install key
    DeepWow,    // one key of Wow6432Node names, on the way to any key of a 64-bit prefix
    ManyKeys,   // small keys below the install key
    ManyValues, // values of the install key
    LongLine,   // one value of the install key on one line
    ManyLines,  // comment lines
};

const char* const shapeNames[] = {"deep key", "deep Wow6432Node", "many keys", "many values", "long line", "many lines"};

QByteArray repeatedTo(const QByteArray& unit, qsizetype size)
{
    return unit.repeated(std::max<qsizetype>(1, size / unit.size()));
}

QByteArray hostileFile(Shape shape, qsizetype size)
{
    QByteArray file = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
    QByteArray install = "Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament";
    QByteArray values = "\"Folder\"=\"C:\\\\UnrealTournament\"\n\"Version\"=\"436\"\n";
    QByteArray after;
    switch (shape) {
    case DeepKey:
        after = "\n[" + install + repeatedTo("\\\\a", size) + "] 1\n\"v\"=\"x\"\n";
        break;
    case DeepWow:
        file += "#arch=win64\n\n[Software" + repeatedTo("\\\\Wow6432Node", size) + "] 1\n\n";
        install = "Software\\\\Wow6432Node\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament";
        break;
    case ManyKeys:
        for (int i = 0; after.size() < size; ++i)
            after += "\n[" + install + "\\\\k" + QByteArray::number(i) + "] 1\n\"v\"=\"x\"\n";
        break;
    case ManyValues:
        for (int i = 0; values.size() < size; ++i)
            values += "\"v" + QByteArray::number(i) + "\"=\"x\"\n";
        break;
    case LongLine:
        values += "\"Long\"=\"" + repeatedTo("\\x263a", size) + "\"\n";
        break;
    case ManyLines:
        file += repeatedTo(";\n", size);
        break;
    }
    return file + "[" + install + "] 1733592000\n#time=1db48a1c2d3e4f0\n" + values + after;
}

struct Fixture {
    QTemporaryDir dir;
    QString path;
    Fixture(Shape shape, qsizetype size) : path(dir.filePath(QStringLiteral("system.reg")))
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(hostileFile(shape, size)) < size) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::abort();
        }
    }
};

void describe(benchmark::State& state, const Fixture& fixture)
{
    state.SetLabel(shapeNames[state.range(0)]);
    state.counters["file_MB"] = double(QFile(fixture.path).size()) / 1e6;
}

// Start-up: the install key opened, its folder read.
void BM_RegistryOpenAndRead(benchmark::State& state)
{
    const Fixture fixture(Shape(state.range(0)), state.range(1));
    for (auto _ : state) {
        RegistryFile registry(fixture.path);
        if (!registry.OpenKey(installKey, false) || registry.ReadString(QStringLiteral("Folder")) != u"C:\\UnrealTournament")
            state.SkipWithError("the install key was not read");
    }
    describe(state, fixture);
}

// The Registry page: a changed folder written into the open key.
void BM_RegistryWrite(benchmark::State& state)
{
    const Fixture fixture(Shape(state.range(0)), state.range(1));
    RegistryFile registry(fixture.path);
    registry.OpenKey(installKey, false);
    int round = 0;
    for (auto _ : state) {
        const QString folder = QStringLiteral("C:\\UT%1").arg(round++ % 2);
        registry.WriteString(QStringLiteral("Folder"), folder);
        if (registry.ReadString(QStringLiteral("Folder")) != folder)
            state.SkipWithError("the folder was not written");
    }
    describe(state, fixture);
}

constexpr int64_t oneMB = 1 << 20;
constexpr int64_t hundredMB = 100 * oneMB;

void shapes(benchmark::internal::Benchmark* bench)
{
    for (int64_t shape = DeepKey; shape <= ManyLines; ++shape)
        bench->Args({shape, oneMB});
    bench->Unit(benchmark::kMillisecond)->UseRealTime();
}

void largeShapes(benchmark::internal::Benchmark* bench)
{
    for (int64_t shape = DeepKey; shape <= ManyLines; ++shape)
        bench->Args({shape, hundredMB});
    bench->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
}

BENCHMARK(BM_RegistryOpenAndRead)->Apply(shapes);
BENCHMARK(BM_RegistryWrite)->Apply(shapes);
BENCHMARK(BM_RegistryOpenAndRead)->Apply(largeShapes);
BENCHMARK(BM_RegistryWrite)->Apply(largeShapes);

} // namespace

BENCHMARK_MAIN();
