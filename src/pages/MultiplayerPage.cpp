#include "pages/MultiplayerPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString passwordKey = QStringLiteral("AdminPassword");
const QString serverNameKey = QStringLiteral("ServerName");
const QString adminNameKey = QStringLiteral("AdminName");
const QString adminEmailKey = QStringLiteral("AdminEmail");
const QString motdKeys[] = {QStringLiteral("MOTDLine1"), QStringLiteral("MOTDLine2"), QStringLiteral("MOTDLine3"),
                            QStringLiteral("MOTDLine4")};
const QString lanKey = QStringLiteral("bLanPlay");
const QString uplinkKey = QStringLiteral("DoUplink");

// An edit field with its label above it.
QLineEdit* labelledField(const QString& label, const QString& name, QWidget* parent, QVBoxLayout* layout)
{
    auto* field = named(new QLineEdit(parent), name);
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(field);
    layout->addWidget(caption);
    layout->addWidget(field);
    return field;
}

// A check box with its caption to the left of the box.
QCheckBox* leftCaptionBox(const QString& caption, const QString& name, QWidget* parent)
{
    auto* box = named(new QCheckBox(caption, parent), name);
    box->setLayoutDirection(Qt::RightToLeft);
    return box;
}

} // namespace

MultiplayerPage::MultiplayerPage(const PageServices& services) : Page(services, QStringLiteral("tsMultiplayer"))
{
}

void MultiplayerPage::build()
{
    GroupBox6 = named(new QGroupBox(QStringLiteral(" Server Info "), this), QStringLiteral("GroupBox6"));
    auto* infoLayout = new QVBoxLayout(GroupBox6);
    leServerName = labelledField(QStringLiteral("Server Name"), QStringLiteral("leServerName"), GroupBox6, infoLayout);
    leAdminName = labelledField(QStringLiteral("Admin Name"), QStringLiteral("leAdminName"), GroupBox6, infoLayout);
    leAdminEmail = labelledField(QStringLiteral("Admin E-Mail"), QStringLiteral("leAdminEmail"), GroupBox6, infoLayout);
    leAdminPasswort =
        labelledField(QStringLiteral("Admin Passwort"), QStringLiteral("leAdminPasswort"), GroupBox6, infoLayout);
    // Shown in clear: it is the server's password, typed by its operator.
    leAdminPasswort->setEchoMode(QLineEdit::Normal);
    leAdminPasswort->setToolTip(
        QStringLiteral("Im Spiel kann man sich dann mit \"adminlogin <adminpasswort>\" zum Admin machen"));
    cbLAN = leftCaptionBox(QStringLiteral("Optimized for LAN"), QStringLiteral("cbLAN"), GroupBox6);
    cbAdvertise = leftCaptionBox(QStringLiteral("Advertise Server"), QStringLiteral("cbAdvertise"), GroupBox6);
    auto* switches = new QHBoxLayout;
    switches->addWidget(cbLAN);
    switches->addWidget(cbAdvertise);
    switches->addStretch(1);
    infoLayout->addLayout(switches);
    infoLayout->addStretch(1);

    GroupBox7 = named(new QGroupBox(QStringLiteral(" Message Of The Day "), this), QStringLiteral("GroupBox7"));
    auto* motdLayout = new QVBoxLayout(GroupBox7);
    leMOTD1 = labelledField(QStringLiteral("Zeile 1"), QStringLiteral("leMOTD1"), GroupBox7, motdLayout);
    leMOTD2 = labelledField(QStringLiteral("Zeile 2"), QStringLiteral("leMOTD2"), GroupBox7, motdLayout);
    leMOTD3 = labelledField(QStringLiteral("Zeile 3"), QStringLiteral("leMOTD3"), GroupBox7, motdLayout);
    leMOTD4 = labelledField(QStringLiteral("Zeile 4"), QStringLiteral("leMOTD4"), GroupBox7, motdLayout);
    motdLayout->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(GroupBox6, 1);
    layout->addWidget(GroupBox7, 1);

    setTabChain({leServerName, leAdminName, leAdminEmail, leAdminPasswort, cbLAN, cbAdvertise, leMOTD1, leMOTD2, leMOTD3,
                 leMOTD4});

    const EventRules& events = services_.events;
    events.onChange(leServerName, [this] { leServerNameChange(); });
    events.onChange(leAdminName, [this] { leAdminNameChange(); });
    events.onChange(leAdminEmail, [this] { leAdminEmailChange(); });
    events.onChange(leAdminPasswort, [this] { leAdminPasswortChange(); });
    events.onChange(leMOTD1, [this] { leMOTD1Change(); });
    events.onChange(leMOTD2, [this] { leMOTD2Change(); });
    events.onChange(leMOTD3, [this] { leMOTD3Change(); });
    events.onChange(leMOTD4, [this] { leMOTD4Change(); });
    events.onClick(cbLAN, [this] { cbLANClick(); });
    events.onClick(cbAdvertise, [this] { cbAdvertiseClick(); });
}

void MultiplayerPage::tsMultiplayerShow()
{
    setQuitButtonVisible(true);

    struct Fill {
        QLineEdit* field;
        const QString& section;
        const QString& key;
    };
    const Fill fills[] = {
        {leAdminPasswort, GameIni::gameInfoSection, passwordKey},  {leServerName, GameIni::replicationSection, serverNameKey},
        {leAdminName, GameIni::replicationSection, adminNameKey}, {leAdminEmail, GameIni::replicationSection, adminEmailKey},
        {leMOTD1, GameIni::replicationSection, motdKeys[0]},      {leMOTD2, GameIni::replicationSection, motdKeys[1]},
        {leMOTD3, GameIni::replicationSection, motdKeys[2]},      {leMOTD4, GameIni::replicationSection, motdKeys[3]},
    };
    for (const Fill& fill : fills) {
        const QString value = MainIni().ReadString(fill.section, fill.key, NotFoundDefault::entryAbsent);
        if (value == NotFoundDefault::entryAbsent) {
            // Shown, but not stored: the change handler would write the
            // notice into the game's file as the key's value.
            fill.field->setText(NotFoundDefault::entryAbsent);
        } else {
            // A real change runs the field's handler, which writes the value
            // back.
            EventRules::setText(fill.field, value);
        }
        // Show a long text from its start.
        fill.field->setCursorPosition(0);
    }

    // The show only ever ticks a box; unticking is the user's.
    if (MainIni().ReadString(GameIni::serverSetupSection, lanKey, NotFoundDefault::entryNotFound) == GameIni::trueText)
        EventRules::setChecked(cbLAN, true);
    if (MainIni().ReadString(GameIni::uplinkSection, uplinkKey, NotFoundDefault::entryNotFound) == GameIni::trueText)
        EventRules::setChecked(cbAdvertise, true);
}

void MultiplayerPage::leServerNameChange()
{
    MainIni().WriteString(GameIni::replicationSection, serverNameKey, leServerName->text());
}

void MultiplayerPage::leAdminNameChange()
{
    MainIni().WriteString(GameIni::replicationSection, adminNameKey, leAdminName->text());
}

void MultiplayerPage::leAdminEmailChange()
{
    MainIni().WriteString(GameIni::replicationSection, adminEmailKey, leAdminEmail->text());
}

void MultiplayerPage::leAdminPasswortChange()
{
    MainIni().WriteString(GameIni::gameInfoSection, passwordKey, leAdminPasswort->text());
}

void MultiplayerPage::leMOTD1Change()
{
    MainIni().WriteString(GameIni::replicationSection, motdKeys[0], leMOTD1->text());
}

void MultiplayerPage::leMOTD2Change()
{
    MainIni().WriteString(GameIni::replicationSection, motdKeys[1], leMOTD2->text());
}

void MultiplayerPage::leMOTD3Change()
{
    MainIni().WriteString(GameIni::replicationSection, motdKeys[2], leMOTD3->text());
}

void MultiplayerPage::leMOTD4Change()
{
    MainIni().WriteString(GameIni::replicationSection, motdKeys[3], leMOTD4->text());
}

void MultiplayerPage::cbLANClick()
{
    MainIni().WriteString(GameIni::serverSetupSection, lanKey, cbLAN->isChecked() ? GameIni::trueText : GameIni::falseText);
}

void MultiplayerPage::cbAdvertiseClick()
{
    MainIni().WriteString(GameIni::uplinkSection, uplinkKey, cbAdvertise->isChecked() ? GameIni::trueText : GameIni::falseText);
}
