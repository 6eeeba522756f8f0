// The program: help, version and the commands need Qt Core alone and run
// here; the window lives in a module (src/window.cpp) loaded only when it is
// wanted, so that a command from a script does not pay for loading and
// relocating Qt Gui, Qt Widgets, libjpeg and the libraries below them.

#include "cli/CommandLine.h"
#include "cli/ConsoleCommands.h"
#include "platform/RunningUser.h"
#include "window.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The arguments as text. File names on Linux are bytes, and Qt holds them as
// UTF-8 text: bytes that are no UTF-8 would come back from that text as other
// bytes, naming another file. Such an argument is refused (the reason in
// err), never used for a file it does not name.
std::optional<QStringList> argumentList(int argc, char** argv, QString& err)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QFile::decodeName(raw);
        if (i > 0 && QFile::encodeName(text) != raw) {
            QString shown;
            for (const char c : raw) {
                const auto byte = static_cast<unsigned char>(c);
                shown += byte >= 0x20 && byte < 0x7f ? QString(QLatin1Char(c))
                                                     : QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
            }
            err += QStringLiteral("brennwerk-editor: the argument '%1' is not UTF-8 text, and this program names "
                                  "files by UTF-8 names only; nothing was done\n")
                       .arg(shown);
            return std::nullopt;
        }
        arguments << text;
    }
    return arguments;
}

// The window module sits at a path fixed relative to this program, the same
// in the build folder and where it is installed, so that no search path can
// hand it another module, and a build never loads an installed one. This
// program's folder is the one /proc/self/exe names (as the dynamic loader
// finds its $ORIGIN); the loader's own $ORIGIN in a dlopen() path stands for
// the folder of the library that calls dlopen(), which under a sanitizer's
// interceptor is not this program's. Bound as the
// loader binds a program's libraries at its start: the module (linked with
// -z now) and every library that asks for it at once, the others' calls on
// first use. Binding all of them at once would look up several thousand
// more symbols, about a millisecond of the window's start.
std::string windowModulePath()
{
    std::string program(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), program.size());
    if (length <= 0 || size_t(length) >= program.size())
        return "$ORIGIN/" BRENNWERK_WINDOW_MODULE;
    program.resize(size_t(length));
    return program.substr(0, program.rfind('/') + 1) + BRENNWERK_WINDOW_MODULE;
}

int runWindow(int& argc, char** argv, const QStringList& arguments)
{
    void* module = ::dlopen(windowModulePath().c_str(), RTLD_LAZY | RTLD_LOCAL);
    const auto entry = module ? reinterpret_cast<BrennwerkWindowMain>(::dlsym(module, BRENNWERK_WINDOW_ENTRY))
                              : nullptr;
    if (!entry) {
        std::fprintf(stderr, "brennwerk-editor: cannot load the editor's window (%s); reinstall the program\n",
                     ::dlerror());
        return 1;
    }
    // Never unloaded: Qt's and the window's exit handlers live in it.
    return entry(&argc, argv, &arguments);
}

// A standard stream the program was started without (">&-") would otherwise
// be the number of the next file it opens, and what it prints would go into
// that file: the game's INI. Each such number is taken by /dev/null, opened
// the other way round, so that a read or write there still fails (EBADF) as
// on the closed stream.
void occupyClosedStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", (fd == STDIN_FILENO ? O_WRONLY : O_RDONLY));
        if (opened != fd && opened >= 0)
            ::close(opened);
    }
}

// Prints what a command said and ends as coreutils' close_stdout does: output
// that did not reach its stream (a full disk, /dev/full, a closed stream) is
// a failure, said in one line where stderr still works, with status 1. A
// reader that stopped reading (head, grep -q) is none: while SIGPIPE has its
// default action, the write ends the program quietly there, as it ends
// coreutils; where SIGPIPE is ignored (systemd starts services so), EPIPE
// ends it as quietly, with status 1, instead of a message at every "| head".
int finish(int status, const CommandOutput& out, const CommandOutput& err)
{
    int outError = put(out, stdout);
    if (std::fclose(stdout) != 0 && outError == 0)
        outError = errno;
    CommandOutput said = err;
    if (outError != 0 && outError != EPIPE)
        said += QStringLiteral("brennwerk-editor: write error: %1\n")
                    .arg(QString::fromLocal8Bit(std::strerror(outError)));
    const int errError = put(said, stderr);
    if (outError != 0 || errError != 0)
        return status == 0 ? 1 : status;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    occupyClosedStandardStreams();
    exitIfPrivileged();
    QString err;
    const std::optional<QStringList> arguments = argumentList(argc, argv, err);
    if (!arguments) {
        printText(err, stderr);
        return 2;
    }
    CommandOutput out, commandErr;
    if (const std::optional<int> status = runWithoutWindow(parseCommandLine(*arguments), out, commandErr))
        return finish(*status, out, commandErr);
    return runWindow(argc, argv, *arguments);
}
