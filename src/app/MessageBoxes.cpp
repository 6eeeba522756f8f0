#include "app/MessageBoxes.h"

#include "app/AppInfo.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

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
    QFileDialog dialog(parent, QStringLiteral("Öffnen der UnrealTournament.exe um Pfad festzustellen!"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only files of exactly these names are listed: the game's executable
    // for Windows and those of its Linux builds. No default suffix: it would
    // turn a typed "ut-bin" into "ut-bin.exe".
    dialog.setNameFilter(QStringLiteral("UnrealTournament.exe, ut-bin (UnrealTournament.exe ut-bin ut-bin-amd64 ucc-bin)"));
    dialog.selectFile(QStringLiteral("UnrealTournament.exe"));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
