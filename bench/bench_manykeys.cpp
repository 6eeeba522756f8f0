// The pages that read and write many keys in a row: the key bindings page
// loads 116 keys and writes them back with one button. Measured on a
// user.ini of played-in size (about 22 KB, CR LF): the sample installation's
// file with further sections before and after [Engine.Input].

#include "config/GameConfigStore.h"
#include "pages/KeyBindingsPage.h"
#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

const QString inputSection = QStringLiteral("Engine.Input");

QByteArray sampleUserIni()
{
    const QString path = QStringLiteral(BRENNWERK_SOURCE_DIR "/examples/System/User.ini");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::abort();
    }
    return file.readAll();
}

// Sections of the kind a menu or a mod leaves in user.ini.
QByteArray paddingSections(int first, int count)
{
    QByteArray text;
    for (int s = first; s < first + count; ++s) {
        text += "[UTMenu.UTMenuPage" + QByteArray::number(s) + "]\r\n";
        for (int k = 0; k < 12; ++k)
            text += "Setting" + QByteArray::number(k) + "=(X=" + QByteArray::number(s * k)
                + ",Y=0.500000,Label=\"Option " + QByteArray::number(k) + "\")\r\n";
        text += "\r\n";
    }
    return text;
}

QByteArray realisticUserIni()
{
    QByteArray ini = sampleUserIni();
    const qsizetype input = ini.indexOf("[Engine.Input]");
    ini.insert(input, paddingSections(0, 14));
    ini += "\r\n" + paddingSections(14, 14);
    return ini;
}

struct Fixture {
    QTemporaryDir dir;
    QString path;
    Fixture() : path(dir.filePath(QStringLiteral("User.ini")))
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(realisticUserIni());
    }
};

void BM_RawFileRead(benchmark::State& state)
{
    Fixture fixture;
    for (auto _ : state)
        benchmark::DoNotOptimize(SafeFile::read(fixture.path));
    state.counters["file_bytes"] = static_cast<double>(QFileInfo(fixture.path).size());
}
BENCHMARK(BM_RawFileRead)->Unit(benchmark::kMicrosecond);

void BM_KeyBindingsLoad116Reads(benchmark::State& state)
{
    Fixture fixture;
    const GameConfigStore store(fixture.path);
    const QString notFound = QStringLiteral("Eintrag nicht gefunden!");
    for (auto _ : state) {
        for (const QString& key : KeyBindingsPage::keyNames())
            benchmark::DoNotOptimize(store.ReadString(inputSection, key, notFound));
    }
}
BENCHMARK(BM_KeyBindingsLoad116Reads)->Unit(benchmark::kMillisecond);

// Every iteration writes other values than the one before, so each write
// really replaces the file.
QList<std::pair<QString, QString>> bindings(int round)
{
    QList<std::pair<QString, QString>> pairs;
    for (const QString& key : KeyBindingsPage::keyNames())
        pairs.append({key, QStringLiteral("Button bFire | Fire %1").arg(round % 2)});
    return pairs;
}

void BM_KeyBindingsWrite116OneByOne(benchmark::State& state)
{
    Fixture fixture;
    GameConfigStore store(fixture.path);
    int round = 0;
    for (auto _ : state) {
        for (const auto& [key, value] : bindings(round++))
            store.WriteString(inputSection, key, value);
    }
}
BENCHMARK(BM_KeyBindingsWrite116OneByOne)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_KeyBindingsWrite116Batched(benchmark::State& state)
{
    Fixture fixture;
    GameConfigStore store(fixture.path);
    int round = 0;
    for (auto _ : state)
        store.WriteStrings(inputSection, bindings(round++));
}
BENCHMARK(BM_KeyBindingsWrite116Batched)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
