// Start-up and memory of the editor against a bare Qt window, measured from
// outside: this program starts each as a child process (the editor is this
// same program in its child role, calling openEditor() as the real main
// does; the bare window is bench/bare_window.cpp), hands it the moment it
// was started, and reads back when its main window was first exposed; the
// peak memory is the child's ru_maxrss from wait4(), and its processor time
// (user and system) the same rusage's, which a busy machine inflates less
// than the time on the clock. Runs alternate between the programs so that a
// busy machine weighs on all alike.
//
//   bench_startup --bare <bare_window program> [--runs N]
//
// The editor is started twice over: given the game folder, and finding it
// in a registry the size of a real Wine prefix's. scripts/bench.sh builds
// both programs and runs this; the children use the platform plugin
// QT_QPA_PLATFORM names (offscreen there).

#include "ChildProcess.h"
#include "app/HauptUnit.h"
#include "controls/MessageBoxes.h"
#include "app/RendererUnit.h"
#include "app/Startup.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kStartEnv = "BRENNWERK_BENCH_STARTED_NS";

class SilentBoxes final : public MessageBoxes {
public:
    void notice(QWidget*, const QString&) override {}
    Answer information(QWidget*, const QString&, bool yesNo) override { return yesNo ? Answer::No : Answer::Ok; }
    void error(QWidget*, const QString& text) override { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); }
    std::optional<QString> openGameExecutable(QWidget*) override { return std::nullopt; }
};

// The child: the editor as main() starts it, until its window is exposed.
int runEditor(const QString& gameDir, const QString& registry, int argc, char** argv)
{
    QApplication app(argc, argv);
    SilentBoxes boxes;
    EditorOptions options;
    if (!gameDir.isEmpty())
        options.gameDir = gameDir;
    options.registryPath = registry;
    const std::unique_ptr<THauptForm> window = openEditor(options, boxes);
    if (!window)
        return 3;
    while (!window->windowHandle() || !window->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const long long started = std::atoll(std::getenv(kStartEnv));
    std::printf("exposed %lld\n", bench::nowNs() - started);
    std::fflush(stdout);
    std::_Exit(0); // the tear-down is no part of the start
}

struct Sample {
    double startMs = 0;
    double cpuMs = 0;
    long maxRssKb = 0;
};

bool runChild(const std::vector<std::string>& command, Sample* sample)
{
    bench::ChildRun run;
    // The child reports the moment its window is exposed, counted from the
    // fork() it learns of here.
    const auto tellStart = [](long long startedNs) { ::setenv(kStartEnv, std::to_string(startedNs).c_str(), 1); };
    if (!bench::runChild(command, run, tellStart) || run.status != 0)
        return false;
    long long exposedNs = 0;
    if (std::sscanf(run.out.c_str(), "exposed %lld", &exposedNs) != 1)
        return false;
    sample->startMs = double(exposedNs) / 1e6;
    sample->maxRssKb = run.maxRssKb;
    sample->cpuMs = run.cpuMs;
    return true;
}

template <typename T>
T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A machine hive the size of a fresh 64-bit Wine prefix's system.reg (about
// 9,000 keys and 35,000 values, 1.7 MB) in Wine's layout, with the game's
// install-path key where its 32-bit installer puts it (below Wow6432Node) and
// where a real one sorts: what start-up searches when no game folder is given.
QByteArray wineSizedRegistry(const QString& gameDir)
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
    const auto key = [&text](const QByteArray& path) {
        text += "[" + path + "] 1733592000\n#time=1db48a2c5d1e000\n";
    };
    for (int i = 0; i < 8800; ++i) {
        const QByteArray id = QByteArray::number(0x10000000 + i * 7919, 16).toUpper();
        key("Software\\\\Classes\\\\CLSID\\\\{" + id + "-0000-0000-C000-000000000046}\\\\InprocServer32");
        text += "@=\"C:\\\\windows\\\\system32\\\\component" + QByteArray::number(i) + ".dll\"\n"
                "\"ThreadingModel\"=\"Both\"\n"
                "\"Flags\"=dword:00000001\n"
                "\"Data\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10\n\n";
    }
    key("Software\\\\Wow6432Node\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament");
    QByteArray folder = gameDir.toUtf8();
    folder.replace("\\", "\\\\").replace("\"", "\\\"");
    text += "\"Folder\"=\"" + folder + "\"\n\"Version\"=\"436\"\n";
    return text;
}

// False when the copy lacks a file: the editor would start on another game.
bool copyExamples(const QString& to)
{
    const QString examples = QStringLiteral(BRENNWERK_SOURCE_DIR "/examples");
    QDirIterator it(examples, QDir::Files, QDirIterator::Subdirectories);
    int copied = 0;
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(examples.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!QFile::copy(source, target))
            return false;
        QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        ++copied;
    }
    return copied > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return runEditor(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), argc, argv);

    std::string bare;
    int runs = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--bare") == 0)
            bare = argv[i + 1];
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (bare.empty()) {
        std::fprintf(stderr, "usage: %s --bare <bare_window program> [--runs N]\n", argv[0]);
        return 2;
    }

    QTemporaryDir dir;
    const QString game = dir.filePath(QStringLiteral("UnrealTournament"));
    if (!copyExamples(game)) {
        std::fprintf(stderr, "cannot copy %s\n", BRENNWERK_SOURCE_DIR "/examples");
        return 1;
    }
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    const std::vector<std::string> editorCommand{self, "--child", game.toStdString(),
                                                 dir.filePath(QStringLiteral("system.reg")).toStdString()};
    const QString bigRegistry = dir.filePath(QStringLiteral("wine-sized.reg"));
    QFile registryFile(bigRegistry);
    const QByteArray registryText = wineSizedRegistry(game);
    if (!registryFile.open(QIODevice::WriteOnly) || registryFile.write(registryText) != registryText.size())
        return 1;
    registryFile.close();
    const std::vector<std::string> registryCommand{self, "--child", "", bigRegistry.toStdString()};
    struct Program {
        const char* name;
        std::vector<std::string> command;
        std::vector<double> ms;
        std::vector<double> cpu;
        std::vector<long> kb;
    };
    std::vector<Program> programs{{"Brennwerk-Editor", editorCommand, {}, {}, {}},
                                  {"same, via Wine registry", registryCommand, {}, {}, {}},
                                  {"bare QMainWindow", {bare}, {}, {}, {}},
                                  {"same, one line of text", {bare, "--text"}, {}, {}, {}}};
    for (int run = 0; run < runs; ++run) {
        for (Program& program : programs) {
            Sample sample;
            if (!runChild(program.command, &sample)) {
                std::fprintf(stderr, "%s failed to start or to report\n", program.name);
                return 1;
            }
            program.ms.push_back(sample.startMs);
            program.cpu.push_back(sample.cpuMs);
            program.kb.push_back(sample.maxRssKb);
        }
    }

    std::printf("Start-up to the main window exposed, median of %d runs each (min in brackets)\n", runs);
    for (const Program& program : programs)
        std::printf("  %-24s %8.1f ms (%.1f)   processor %6.1f ms   peak memory %7.1f MB\n", program.name,
                    median(program.ms), *std::min_element(program.ms.begin(), program.ms.end()),
                    median(program.cpu), median(program.kb) / 1024.0);
    std::printf("  (\"via Wine registry\": no game folder given, found in a %.1f MB system.reg)\n",
                registryText.size() / 1048576.0);
    const Program& editor = programs[0];
    for (std::size_t i = 2; i < programs.size(); ++i)
        std::printf("  editor / %-22s %5.2fx   processor %5.2fx   peak memory %5.2fx\n", programs[i].name,
                    median(editor.ms) / median(programs[i].ms), median(editor.cpu) / median(programs[i].cpu),
                    double(median(editor.kb)) / double(median(programs[i].kb)));
    std::printf("  (target: at most 1.5x the window with one line of text in time, 1.25x in memory)\n");
    return 0;
}
