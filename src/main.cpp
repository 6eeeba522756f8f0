#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "controls/MessageBoxes.h"
#include "platform/AppInfo.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <optional>

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

void print(const QString& text, std::FILE* stream)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char** argv)
{
    std::optional<QApplication> app;
    const auto makeApplication = [&](QString& err) {
        if (!haveDisplay()) {
            err += QStringLiteral("brennwerk-editor: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                                  "start it from a desktop session\n");
            return false;
        }
        const QtMessageHandler previous = qInstallMessageHandler(displayFailed);
        app.emplace(argc, argv);
        qInstallMessageHandler(previous);
        QApplication::setApplicationName(QStringLiteral("brennwerk-editor"));
        QApplication::setApplicationVersion(AppInfo::version);
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));
        loadQtTranslations(QLocale::system());
        return true;
    };

    QtMessageBoxes boxes;
    QString out, err;
    const std::optional<QStringList> arguments = argumentList(argc, argv, err);
    if (!arguments) {
        print(err, stderr);
        return 2;
    }
    const StartResult start = startEditor(*arguments, boxes, out, err, {}, makeApplication);
    print(out, stdout);
    print(err, stderr);
    if (!start.window)
        return start.exitCode;
    return QApplication::exec();
}
