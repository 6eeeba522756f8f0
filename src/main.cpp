#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "controls/MessageBoxes.h"
#include "platform/AppInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>

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
                                  "start it from a desktop session.\n");
            return false;
        }
        app.emplace(argc, argv);
        QApplication::setApplicationName(QStringLiteral("brennwerk-editor"));
        QApplication::setApplicationVersion(AppInfo::version);
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));
        loadQtTranslations(QLocale::system());
        return true;
    };

    QtMessageBoxes boxes;
    QString out, err;
    const StartResult start = startEditor(argumentList(argc, argv), boxes, out, err, {}, makeApplication);
    print(out, stdout);
    print(err, stderr);
    if (!start.window)
        return start.exitCode;
    return QApplication::exec();
}
