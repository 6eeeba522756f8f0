// How long one INI access takes on a user.ini of realistic size. The pages
// read or write up to some forty keys in a row, each going to the file.
// The yardsticks: a plain read of the file (open, read, close) and the
// editor's own safe read (SafeFile::read: its lock, its look for a journal).

#include "config/GameConfigStore.h"
#include "platform/SafeFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// About 25 KB, CR LF, shaped like the game's user.ini: a long input section
// with bindings and aliases, then the player's and the weapons' sections.
QByteArray makeUserIni()
{
    QByteArray ini;
    auto line = [&ini](const QByteArray& text) { ini += text + "\r\n"; };
    line("[Engine.Input]");
    const char* keys[] = {"Aliases", "Binding", "Button", "Axis", "Joy", "Mouse", "Key"};
    for (int i = 0; i < 300; ++i)
        line(QByteArray(keys[i % 7]) + QByteArray::number(i) + "=Button bFire | Fire | OnRelease StopFire");
    for (int i = 0; i < 40; ++i)
        line("Aliases[" + QByteArray::number(i) + "]=(Command=\"Button bSnapLevel | Axis aBaseY Speed=+300.0\",Alias=MoveForward)");
    line("");
    line("[Engine.PlayerPawn]");
    line("DesiredFOV=90.000000");
    line("DodgeClickTime=0.250000");
    line("");
    line("[Botpack.Ladder]");
    line("HasBeatenGame=False");
    line("");
    line("[DefaultPlayer]");
    line("Name=Player");
    line("Class=Botpack.TMale1");
    line("Skin=CommandoSkins.cmdo");
    line("Team=255");
    while (ini.size() < 25 * 1024 - 40)
        line("; padding the file to the size of a played-in installation");
    line("[Botpack.TournamentPlayer]");
    line("WeaponPriority[19]=PulseGun");
    return ini;
}

struct Fixture {
    QTemporaryDir dir;
    QString path;
    Fixture() : path(dir.filePath(QStringLiteral("user.ini")))
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(makeUserIni());
    }
};

void BM_RawFileRead(benchmark::State& state)
{
    Fixture fixture;
    for (auto _ : state)
        benchmark::DoNotOptimize(SafeFile::read(fixture.path));
    state.SetBytesProcessed(state.iterations() * QFile(fixture.path).size());
}
BENCHMARK(BM_RawFileRead);

void BM_PlainFileRead(benchmark::State& state)
{
    Fixture fixture;
    const QByteArray name = QFile::encodeName(fixture.path);
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    for (auto _ : state) {
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        ssize_t got = 0;
        qsizetype at = 0;
        while ((got = ::read(fd, bytes.data() + at, size_t(bytes.size() - at))) > 0)
            at += got;
        ::close(fd);
        benchmark::DoNotOptimize(at);
    }
}
BENCHMARK(BM_PlainFileRead);

void BM_ReadStringLateKey(benchmark::State& state)
{
    Fixture fixture;
    const GameConfigStore store(fixture.path);
    const QString section = QStringLiteral("Botpack.TournamentPlayer");
    const QString key = QStringLiteral("WeaponPriority[19]");
    const QString def = QStringLiteral("Eintrag nicht gefunden");
    for (auto _ : state)
        benchmark::DoNotOptimize(store.ReadString(section, key, def));
}
BENCHMARK(BM_ReadStringLateKey);

void BM_WriteStringOneKey(benchmark::State& state)
{
    Fixture fixture;
    GameConfigStore store(fixture.path);
    const QString section = QStringLiteral("DefaultPlayer");
    const QString key = QStringLiteral("Team");
    int team = 0;
    // Alternating values, so every iteration really rewrites the file.
    for (auto _ : state)
        store.WriteInteger(section, key, (team++) % 2);
}
BENCHMARK(BM_WriteStringOneKey);

} // namespace

BENCHMARK_MAIN();
