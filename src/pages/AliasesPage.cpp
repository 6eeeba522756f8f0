#include "pages/AliasesPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"
#include "controls/MaskedEdit.h"
#include "controls/MessageBoxes.h"
#include "controls/ValueListEditor.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString impactJump =
    QStringLiteral("(Command=\"getweapon ImpactHammer | button bfire | Fire | OnRelease Jump\",Alias=ijump)");

QString aliasKey(int slot)
{
    return QStringLiteral("Aliases[%1]").arg(slot);
}

QStringList rowKeys()
{
    QStringList keys;
    for (int n = 1; n <= AliasesPage::slotCount; ++n)
        keys << QString::number(n);
    return keys;
}

} // namespace

const QString AliasesPage::EmptyAlias = QStringLiteral("(Command=\"\",Alias=None)");

QString AliasesPage::helpText()
{
    const QStringList lines{
        QStringLiteral("Im Algemeinen sieht ein Eintrag in der User.ini für einen Alias-Befehl folgendermaßen aus:"),
        QStringLiteral("Aliases[..]=(Command=\"<command>\",Alias=<aliasname>)"),
        QString(),
        QStringLiteral("<command> ist ein Befehl wie z.B. \"getweapon SniperRifle\""),
        QStringLiteral("<aliasname> ist der Name des Alias, also z.B. \"IJump\""),
        QString(),
        QStringLiteral("Der Alias-Name kann dann an einer anderen Stelle anstatt des Befehls verwendet werden"),
        QStringLiteral("z.B. zum Belegen der Taste Shift mit dem IJump: Shift=IJump."),
        QStringLiteral("(antelle \"getweapon ImpactHammer | button bfire | Fire | OnRelease Jump\")"),
        QString(),
        QStringLiteral("In diesem Fenster musst du nur noch den Befehl im Feld \"Alias Command\", den Namen im Feld "
                       "\"Alias Name\""),
        QStringLiteral("und die Position in der Alias-Liste mit Hilfe des Stellen-Feldes angeben. Dann noch auf "
                       "\"Eintragen\" klicken"),
        QStringLiteral("-> fertig ;)"),
        QString(),
        QStringLiteral("Mit \"Wiederherstellen\" kann man den Zustand seiner Aliases vor der Bearbeitung mit "
                       "Brennwerk-Editor wiederherstellen."),
    };
    return lines.join(QStringLiteral("\r\n"));
}

AliasesPage::AliasesPage(const PageServices& services)
    : Page(services, QStringLiteral("tsAliases")), missingInTable_(slotCount, false)
{
}

void AliasesPage::build()
{
    for (int i = 0; i < slotCount; ++i)
        AliasTable << QString();

    vleAliases = named(new ValueListEditor(QStringLiteral("Nr."), QStringLiteral("Command"), rowKeys(), this),
                       QStringLiteral("vleAliases"));

    leAliasName = named(new QLineEdit(this), QStringLiteral("leAliasName"));
    lAliasName = named(new QLabel(QStringLiteral("Alias Name"), this), QStringLiteral("leAliasNameLabel"));
    lAliasName->setBuddy(leAliasName);
    leAliasCommand = named(new QLineEdit(this), QStringLiteral("leAliasCommand"));
    lAliasCommand = named(new QLabel(QStringLiteral("Alias Command"), this), QStringLiteral("leAliasCommandLabel"));
    lAliasCommand->setBuddy(leAliasCommand);

    bAliasEintragen = named(new QPushButton(QStringLiteral("<-- Eintragen"), this), QStringLiteral("bAliasEintragen"));
    bAliasEintragen->setEnabled(false);
    Label2 = named(new QLabel(QStringLiteral("an Stelle:"), this), QStringLiteral("Label2"));
    meAliasPosition = named(new MaskedEdit(2, this), QStringLiteral("meAliasPosition"));
    meAliasPosition->setValue(QStringLiteral("1"));
    Label2->setBuddy(meAliasPosition);
    bIJumpEintragen =
        named(new QPushButton(QStringLiteral("I-Jump in Zeile 1 einfügen"), this), QStringLiteral("bIJumpEintragen"));
    bAliasDelete = named(new QPushButton(QStringLiteral("Zeile 1 löschen"), this), QStringLiteral("bAliasDelete"));
    bOriginalAliases =
        named(new QPushButton(QStringLiteral("Wiederherstellen"), this), QStringLiteral("bOriginalAliases"));
    BitBtn1 = named(new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Hilfe"), this),
                    QStringLiteral("BitBtn1"));

    auto* position = new QHBoxLayout;
    position->addWidget(bAliasEintragen);
    position->addWidget(Label2);
    position->addWidget(meAliasPosition);
    position->addStretch(1);

    auto* side = new QVBoxLayout;
    side->addWidget(lAliasName);
    side->addWidget(leAliasName);
    side->addWidget(lAliasCommand);
    side->addWidget(leAliasCommand);
    side->addLayout(position);
    side->addSpacing(12);
    side->addWidget(bIJumpEintragen);
    side->addWidget(bAliasDelete);
    side->addSpacing(12);
    side->addWidget(bOriginalAliases);
    side->addStretch(1);
    // The quit button is hidden on this page; help takes its corner.
    side->addWidget(BitBtn1, 0, Qt::AlignRight);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(vleAliases, 3);
    layout->addLayout(side, 2);

    const EventRules& events = services_.events;
    events.onChange(meAliasPosition, [this] { meAliasPositionChange(); });
    events.onChange(leAliasName, [this] { leAliasNameChange(); });
    events.onChange(leAliasCommand, [this] { leAliasCommandChange(); });
    events.onClick(bAliasEintragen, [this] { bAliasEintragenClick(); });
    events.onClick(bIJumpEintragen, [this] { bIJumpEintragenClick(); });
    events.onClick(bAliasDelete, [this] { bAliasDeleteClick(); });
    events.onClick(BitBtn1, [this] { BitBtn1Click(); });
    events.onClick(bOriginalAliases, [this] { bOriginalAliasesClick(); });
}

void AliasesPage::GetAliases()
{
    vleAliases->discardEditor();
    for (int n = 1; n <= slotCount; ++n) {
        const QString key = aliasKey(n - 1);
        QString text = UserIni().ReadString(GameIni::inputSection, key, NotFoundDefault::entryNotFoundNoMark);
        missingInTable_[n - 1] = text == NotFoundDefault::entryNotFoundNoMark && !UserIni().Find(GameIni::inputSection, key);
        if (text == EmptyAlias)
            text.clear();
        AliasTable[n - 1] = text;
        vleAliases->setValue(vleAliases->rowOfKey(QString::number(n)), text);
    }
}

void AliasesPage::tsAliasesShow()
{
    GetAliases();
    setQuitButtonVisible(false);
}

int AliasesPage::chosenRow() const
{
    const int n = fieldNumber(meAliasPosition);
    return n >= 1 && n <= slotCount ? n : 0;
}

void AliasesPage::meAliasPositionChange()
{
    if (chosenRow() == 0)
        EventRules::setText(meAliasPosition, QStringLiteral("1"));
    // The captions carry the field's text as it stands, "05" included.
    const QString text = meAliasPosition->value();
    bIJumpEintragen->setText(QStringLiteral("I-Jump in Zeile %1 einfügen").arg(text));
    bAliasDelete->setText(QStringLiteral("Zeile %1 löschen").arg(text));
}

void AliasesPage::enableAliasEintragen()
{
    bAliasEintragen->setEnabled(!leAliasName->text().isEmpty() && !leAliasCommand->text().isEmpty());
}

void AliasesPage::leAliasNameChange()
{
    enableAliasEintragen();
}

void AliasesPage::leAliasCommandChange()
{
    enableAliasEintragen();
}

void AliasesPage::bAliasEintragenClick()
{
    const int n = chosenRow();
    if (n == 0)
        return;
    const QString key = aliasKey(n - 1);
    UserIni().WriteString(GameIni::inputSection, key,
                          QStringLiteral("(Command=\"%1\",Alias=%2)").arg(leAliasCommand->text(), leAliasName->text()));
    vleAliases->setValue(vleAliases->rowOfKey(QString::number(n)),
                         UserIni().ReadString(GameIni::inputSection, key, NotFoundDefault::entryNotFoundNoMark));
    EventRules::setText(leAliasCommand, QString());
    EventRules::setText(leAliasName, QString());
}

void AliasesPage::bIJumpEintragenClick()
{
    const int n = chosenRow();
    if (n == 0)
        return;
    const QString key = aliasKey(n - 1);
    UserIni().WriteString(GameIni::inputSection, key, impactJump);
    vleAliases->setValue(vleAliases->rowOfKey(QString::number(n)),
                         UserIni().ReadString(GameIni::inputSection, key, NotFoundDefault::entryNotFoundNoMark));
}

void AliasesPage::bAliasDeleteClick()
{
    const int n = chosenRow();
    if (n == 0)
        return;
    UserIni().WriteString(GameIni::inputSection, aliasKey(n - 1), EmptyAlias);
    vleAliases->setValue(vleAliases->rowOfKey(QString::number(n)), QString());
}

void AliasesPage::BitBtn1Click()
{
    services_.boxes.notice(this, helpText());
}

void AliasesPage::bOriginalAliasesClick()
{
    QList<std::pair<QString, QString>> writes;
    for (int n = 1; n <= slotCount; ++n) {
        const QString key = aliasKey(n - 1);
        if (missingInTable_[n - 1]) {
            // The placeholder is no alias: a slot that was missing stays
            // missing, and one written since becomes empty.
            if (UserIni().Find(GameIni::inputSection, key))
                writes.append({key, EmptyAlias});
            continue;
        }
        const QString& entry = AliasTable[n - 1];
        writes.append({key, entry.isEmpty() ? EmptyAlias : entry});
    }
    // All forty slots in one rewrite of the file: restored all, or none.
    UserIni().WriteStrings(GameIni::inputSection, writes);
    GetAliases();
}
