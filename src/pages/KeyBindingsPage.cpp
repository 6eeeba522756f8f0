#include "pages/KeyBindingsPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"
#include "controls/ValueListEditor.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {


QStringList buildKeyNames()
{
    QStringList keys;
    for (char c = '0'; c <= '9'; ++c)
        keys << QString(QLatin1Char(c));
    for (char c = 'A'; c <= 'Z'; ++c)
        keys << QString(QLatin1Char(c));
    for (int i = 1; i <= 12; ++i)
        keys << QStringLiteral("F%1").arg(i);
    for (int i = 0; i <= 9; ++i)
        keys << QStringLiteral("NumPad%1").arg(i);
    // The game spells "home" in lower case in its own files.
    keys << QStringList{
        QStringLiteral("LeftMouse"),    QStringLiteral("RightMouse"),   QStringLiteral("MiddleMouse"),
        QStringLiteral("MouseWheelDown"), QStringLiteral("MouseWheelUp"), QStringLiteral("Tab"),
        QStringLiteral("Enter"),        QStringLiteral("Shift"),        QStringLiteral("Ctrl"),
        QStringLiteral("Alt"),          QStringLiteral("Pause"),        QStringLiteral("CapsLock"),
        QStringLiteral("Escape"),       QStringLiteral("Space"),        QStringLiteral("PageDown"),
        QStringLiteral("End"),          QStringLiteral("Left"),         QStringLiteral("Up"),
        QStringLiteral("Right"),        QStringLiteral("Down"),         QStringLiteral("Insert"),
        QStringLiteral("Delete"),       QStringLiteral("Equals"),       QStringLiteral("Comma"),
        QStringLiteral("Minus"),        QStringLiteral("Period"),       QStringLiteral("Slash"),
        QStringLiteral("LeftBracket"),  QStringLiteral("Backslash"),    QStringLiteral("RightBracket"),
        QStringLiteral("MouseX"),       QStringLiteral("MouseY"),       QStringLiteral("MouseW"),
        QStringLiteral("None"),         QStringLiteral("Cancel"),       QStringLiteral("Backspace"),
        QStringLiteral("PageUp"),       QStringLiteral("home"),         QStringLiteral("Select"),
        QStringLiteral("Print"),        QStringLiteral("Execute"),      QStringLiteral("PrintScrn"),
        QStringLiteral("Help"),         QStringLiteral("GreyStar"),     QStringLiteral("Separator"),
        QStringLiteral("NumPadPeriod"), QStringLiteral("GreySlash"),    QStringLiteral("NumLock"),
        QStringLiteral("ScrollLock"),   QStringLiteral("LShift"),       QStringLiteral("RShift"),
        QStringLiteral("LControl"),     QStringLiteral("RControl"),     QStringLiteral("Semicolon"),
        QStringLiteral("Tilde"),        QStringLiteral("SingleQuote"),  QStringLiteral("GreyMinus"),
        QStringLiteral("GreyPlus"),
    };
    return keys;
}

} // namespace

const QStringList& KeyBindingsPage::keyNames()
{
    static const QStringList keys = buildKeyNames();
    return keys;
}

KeyBindingsPage::KeyBindingsPage(const PageServices& services)
    : Page(services, QStringLiteral("tsTastenbelegung")), missingAtLoad_(keyNames().size(), false)
{
}

void KeyBindingsPage::build()
{
    vleKeyBindings = named(new ValueListEditor(QStringLiteral("Key"), QStringLiteral("Value"), keyNames(), this),
                           QStringLiteral("vleKeyBindings"));
    bKeyBindAktualisieren = named(new QPushButton(QStringLiteral("Aktualisieren"), this),
                                  QStringLiteral("bKeyBindAktualisieren"));
    bKeyBindEintragen = named(new QPushButton(QStringLiteral("Eintragen"), this), QStringLiteral("bKeyBindEintragen"));

    // The buttons stand beside the grid, at its top; the lower right corner
    // belongs to the quit button.
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(bKeyBindAktualisieren);
    buttons->addWidget(bKeyBindEintragen);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(vleKeyBindings, 1);
    layout->addLayout(buttons);

    const EventRules& events = services_.events;
    events.onClick(bKeyBindAktualisieren, [this] { GetKeyBindings(); });
    events.onClick(bKeyBindEintragen, [this] { bKeyBindEintragenClick(); });
}

void KeyBindingsPage::tsTastenbelegungShow()
{
    setQuitButtonVisible(true);
    GetKeyBindings();
}

void KeyBindingsPage::GetKeyBindings()
{
    vleKeyBindings->discardEditor();
    const QStringList& keys = keyNames();
    for (int row = 0; row < keys.size(); ++row) {
        const std::optional<QString> stored = UserIni().Find(GameIni::inputSection, keys[row]);
        const QString value = stored.value_or(NotFoundDefault::entryNotFound);
        missingAtLoad_[row] = !stored;
        vleKeyBindings->setValue(vleKeyBindings->rowOfKey(keys[row]), value);
    }
}

void KeyBindingsPage::bKeyBindEintragenClick()
{
    vleKeyBindings->commitEditor();
    const QStringList& keys = keyNames();
    QList<std::pair<QString, QString>> bindings;
    bindings.reserve(keys.size());
    for (int row = 0; row < keys.size(); ++row) {
        const QString value = vleKeyBindings->value(row);
        // A key that was missing keeps missing unless the user typed a
        // binding for it: the placeholder is no binding.
        if (missingAtLoad_[row] && value == NotFoundDefault::entryNotFound)
            continue;
        bindings.append({keys[row], value});
    }
    // One rewrite of the file for all the keys: written all, or none.
    UserIni().WriteStrings(GameIni::inputSection, bindings);
}
