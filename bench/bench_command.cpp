// A command's whole process against a program on Qt Core alone: this program
// starts, in turns, `brennwerk-editor get` of the last key of a 21 KB server
// file, the yardstick bench/bare_read.cpp (Qt Core, reads the same file),
// `crudini --get` of the same key where crudini is installed (on a UTF-8 copy:
// it reads no Windows-1252), and the editor's window path as far as it goes
// without a display (it loads the window's libraries and stops before the
// application: what the split of the program adds to the window's start).
// Each is timed from fork() to wait4(), wall time and the child's CPU time
// (user + system from wait4), medians. It asserts nothing but that each
// child answered as it should.
//
//   bench_command --program <brennwerk-editor> --bare <bare_read> [--runs N]
//                 [--baseline <another build of brennwerk-editor>]
// --baseline runs another build's get and window path in the same turns,
// to compare a change with what it changed.

#include "ChildProcess.h"
#include "config/TextCodec.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Sample {
    double wallMs = 0;
    double cpuMs = 0;
};

struct Child {
    std::string name;
    std::vector<std::string> command;
    bool withoutDisplay = false; // DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset
    int status = 0;              // the exit status it must end with
    std::string out;             // what it must print, when not empty
    std::vector<Sample> samples;
};

// One run of the child; false when it did not answer as it should.
bool run(Child& child)
{
    bench::ChildRun result;
    const bool withoutDisplay = child.withoutDisplay;
    const bool started = bench::runChild(child.command, result, [withoutDisplay](long long) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        if (withoutDisplay) {
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                ::unsetenv(name);
        }
    });
    if (!started)
        return false;
    if (result.status != child.status || (!child.out.empty() && result.out != child.out)) {
        std::fprintf(stderr, "bench_command: %s ended with status %d and printed '%s'\n", child.name.c_str(),
                     result.status, result.out.c_str());
        return false;
    }
    child.samples.push_back({result.wallMs, result.cpuMs});
    return true;
}

double median(const std::vector<Sample>& samples, double Sample::*field)
{
    std::vector<double> values;
    for (const Sample& sample : samples)
        values.push_back(sample.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The sample server's UnrealTournament.ini (CR LF, Windows-1252) with
// sections of made-up keys after it, to 21 KB; the key looked up is the last
// one, so the whole file is walked.
QByteArray serverFile(QByteArray& lastSection, QByteArray& lastKey, QByteArray& lastValue)
{
    QFile sample(QStringLiteral(BRENNWERK_SOURCE_DIR "/tests/data/ini/server.ini"));
    if (!sample.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = sample.readAll();
    for (int section = 0; text.size() < 21 * 1024; ++section) {
        lastSection = "Bench.Padding" + QByteArray::number(section);
        text += "\r\n[" + lastSection + "]\r\n";
        for (int key = 0; key < 20; ++key) {
            lastKey = "Key" + QByteArray::number(key);
            lastValue = "value " + QByteArray::number(key) + " of section " + QByteArray::number(section);
            text += lastKey + "=" + lastValue + "\r\n";
        }
    }
    return text;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

int main(int argc, char** argv)
{
    std::string program, bare, baseline;
    int runs = 41;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc)
            program = argv[++i];
        else if (std::strcmp(argv[i], "--bare") == 0 && i + 1 < argc)
            bare = argv[++i];
        else if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc)
            baseline = argv[++i];
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: bench_command --program <brennwerk-editor> --bare <bare_read> [--runs N]\n");
            return 2;
        }
    }
    if (program.empty() || bare.empty()) {
        std::fprintf(stderr, "usage: bench_command --program <brennwerk-editor> --bare <bare_read> [--runs N]\n");
        return 2;
    }

    QTemporaryDir dir;
    QByteArray section, key, value;
    const QByteArray text = serverFile(section, key, value);
    const QString file = dir.filePath(QStringLiteral("UnrealTournament.ini"));
    const QString utf8File = dir.filePath(QStringLiteral("UnrealTournament.utf8.ini"));
    if (!dir.isValid() || text.isEmpty() || !write(file, text)
        || !write(utf8File, TextCodec::fromWindows1252(text).toUtf8())) {
        std::fprintf(stderr, "bench_command: cannot write the server file\n");
        return 1;
    }
    const std::string path = QFile::encodeName(file).toStdString();

    std::vector<Child> children;
    const auto get = [&](const std::string& name, const std::string& editor) {
        children.push_back({name, {editor, "get", path, section.toStdString(), key.toStdString()}, false, 0,
                            value.toStdString() + "\n", {}});
    };
    // The window path stops at the display check with status 1; the game
    // folder given, nothing of the registry is read.
    const auto window = [&](const std::string& name, const std::string& editor) {
        children.push_back({name, {editor, "--game-dir", dir.path().toStdString()}, true, 1, {}, {}});
    };
    get("brennwerk-editor get", program);
    children.push_back({"Qt Core yardstick (bare_read)", {bare, path}, false, 0,
                        std::to_string(text.size()) + "\n", {}});
    const QString crudini = QStandardPaths::findExecutable(QStringLiteral("crudini"));
    if (!crudini.isEmpty()) {
        children.push_back({"crudini --get (UTF-8 copy)",
                            {QFile::encodeName(crudini).toStdString(), "--get",
                             QFile::encodeName(utf8File).toStdString(), section.toStdString(), key.toStdString()},
                            false, 0, value.toStdString() + "\n", {}});
    }
    window("window path to the display check", program);
    if (!baseline.empty()) {
        get("baseline: get", baseline);
        window("baseline: window path", baseline);
    }

    // In turns, so that a busy machine weighs on all alike; one round first
    // that is not counted (caches).
    for (int round = -1; round < runs; ++round) {
        for (Child& child : children) {
            if (!run(child))
                return 1;
            if (round < 0)
                child.samples.clear();
        }
    }

    std::printf("%zu-byte server file (%s), last key; median of %d runs\n", size_t(text.size()),
                "CR LF, Windows-1252", runs);
    std::printf("%-36s %10s %10s\n", "", "wall ms", "CPU ms");
    for (const Child& child : children) {
        std::printf("%-36s %10.2f %10.2f\n", child.name.c_str(), median(child.samples, &Sample::wallMs),
                    median(child.samples, &Sample::cpuMs));
    }
    const Child& editor = children[0];
    const Child& yardstick = children[1];
    std::printf("%-36s %10.2f %10.2f   (target: at most 1.2)\n", "get / Qt Core yardstick",
                median(editor.samples, &Sample::wallMs) / median(yardstick.samples, &Sample::wallMs),
                median(editor.samples, &Sample::cpuMs) / median(yardstick.samples, &Sample::cpuMs));
    return 0;
}
