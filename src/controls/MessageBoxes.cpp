#include "controls/MessageBoxes.h"

#include "platform/AppInfo.h"
#include "platform/GamePaths.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

QString errorText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

namespace {

// The buttons carry the program's own captions, whatever Qt's translation is.
QMessageBox::StandardButton exec(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                 const QString& text, bool yesNo)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    if (yesNo) {
        box.addButton(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
        box.addButton(QMessageBox::No)->setText(QStringLiteral("&No"));
    } else {
        box.addButton(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    }
    // A box right after another finds no window active yet: the one it
    // stands over gets the keys back then.
    const QPointer<QWidget> active =
        QApplication::activeWindow() ? QApplication::activeWindow() : parent ? parent->window() : nullptr;
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    // Without a window manager nobody gives the window that was active the
    // focus back, and the next key would go nowhere.
    if (active && active->isVisible())
        active->activateWindow();
    return pressed;
}

class ScratchQtSettings {
public:
    ScratchQtSettings()
    {
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, folder_.path());
    }
    ~ScratchQtSettings()
    {
        // Qt's default: the user's configuration folder.
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, config);
    }
    ScratchQtSettings(const ScratchQtSettings&) = delete;
    ScratchQtSettings& operator=(const ScratchQtSettings&) = delete;

private:
    QTemporaryDir folder_;
};

} // namespace

void QtMessageBoxes::notice(QWidget* parent, const QString& text)
{
    exec(parent, QMessageBox::NoIcon, AppInfo::title, text, false);
}

MessageBoxes::Answer QtMessageBoxes::information(QWidget* parent, const QString& text, bool yesNo)
{
    const auto pressed = exec(parent, QMessageBox::Information, QStringLiteral("Information"), text, yesNo);
    if (!yesNo)
        return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtMessageBoxes::error(QWidget* parent, const QString& text)
{
    exec(parent, QMessageBox::Critical, AppInfo::title, text, false);
}

std::optional<QString> QtMessageBoxes::openGameExecutable(QWidget* parent)
{
    // Qt's file dialog keeps its history and the folder last visited in a
    // settings file of its own (QtProject.conf). This program keeps no
    // history: while the dialog lives, those settings go to a scratch folder
    // that is removed with it. Declared first, so it outlives the dialog,
    // which writes them when it is destroyed.
    const ScratchQtSettings scratch;
    QFileDialog dialog(parent, QStringLiteral("Öffnen der UnrealTournament.exe um Pfad festzustellen!"));
    // The desktop's own dialog would add the choice to its recent files.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only files of exactly these names are listed: the game's executable
    // for Windows and those of its Linux builds. No default suffix: it would
    // turn a typed "ut-bin" into "ut-bin.exe".
    dialog.setNameFilter(QStringLiteral("UnrealTournament.exe (UnrealTournament.exe %1)")
                             .arg(GamePaths::linuxExecutables().join(QLatin1Char(' '))));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.selectFile(QStringLiteral("UnrealTournament.exe"));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
