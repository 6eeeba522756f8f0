#include "app/AppInfo.h"
#include "app/ConsoleCommands.h"
#include "app/HauptUnit.h"
#include "app/MessageBoxes.h"
#include "app/Startup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

QStringList argumentList(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Qt aborts with a long message when it finds no display; say it in one line.
bool haveDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLine commandLine = parseCommandLine(argumentList(argc, argv));
    switch (commandLine.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(commandLine.message.toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fputs(commandLine.message.toLocal8Bit().constData(), stderr);
        return 2;
    case CommandLine::Action::Get:
    case CommandLine::Action::Set:
    case CommandLine::Action::Paths: {
        QByteArray out, err;
        const int status = runConsoleCommand(commandLine, out, err);
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        std::fwrite(err.constData(), 1, size_t(err.size()), stderr);
        return status;
    }
    case CommandLine::Action::Run:
        break;
    }
    if (!haveDisplay()) {
        std::fputs("brennwerk-editor: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it from a desktop session.\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brennwerk-editor"));
    QApplication::setApplicationVersion(AppInfo::version);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));
    loadQtTranslations(QLocale::system());

    QtMessageBoxes boxes;
    const std::unique_ptr<THauptForm> window = openEditor(commandLine.options, boxes);
    if (!window)
        return 0;
    return QApplication::exec();
}
