// The editor's window, in a module of its own that the program loads only
// when no command is given (src/main.cpp): the commands need Qt Core alone,
// and should not pay for loading Qt Gui, Qt Widgets and libjpeg.

#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "cli/ConsoleCommands.h"
#include "controls/MessageBoxes.h"
#include "platform/AppInfo.h"
#include "platform/RunningUser.h"
#include "window.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

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

// While the application connects to the display: Qt ends the process with a
// page of advice when the display named cannot be reached (no X server at
// DISPLAY, no Wayland compositor); say it in one line instead, as when no
// display is named at all. Qt's platform warnings on the way there belong to
// that page; anything else is printed as Qt would.
void displayFailed(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (!QByteArrayView(context.category).startsWith("qt.qpa"))
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    const QByteArray display = qgetenv("WAYLAND_DISPLAY").isEmpty() ? "DISPLAY=" + qgetenv("DISPLAY")
                                                                     : "WAYLAND_DISPLAY=" + qgetenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "brennwerk-editor: cannot open the display (%s); start it from a desktop session\n",
                 display.constData());
    std::_Exit(1);
}

} // namespace

extern "C" BRENNWERK_WINDOW_EXPORT int brennwerk_window_main(int* argc, char** argv, const QStringList* arguments)
{
    // The program asks before it loads this module; another program that
    // loads it is asked here.
    exitIfPrivileged();
    std::optional<QApplication> app;
    const auto makeApplication = [&](QString& err) {
        if (!haveDisplay()) {
            err += QStringLiteral("brennwerk-editor: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                                  "start it from a desktop session\n");
            return false;
        }
        const QtMessageHandler previous = qInstallMessageHandler(displayFailed);
        app.emplace(*argc, argv);
        qInstallMessageHandler(previous);
        QApplication::setApplicationName(QStringLiteral("brennwerk-editor"));
        QApplication::setApplicationVersion(AppInfo::version);
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));
        loadQtTranslations(QLocale::system());
        return true;
    };

    QtMessageBoxes boxes;
    QString out, err;
    const StartResult start = startEditor(*arguments, boxes, out, err, {}, makeApplication);
    printText(out, stdout);
    printText(err, stderr);
    if (!start.window)
        return start.exitCode;
    return QApplication::exec();
}
