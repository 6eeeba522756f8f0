#include "support/PageTest.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

const QString notFound = QStringLiteral("Eintrag nicht gefunden!");

// The rows as the page must list them.
const QStringList expectedKeys = QStringLiteral(
    "0 1 2 3 4 5 6 7 8 9 A B C D E F G H I J K L M N O P Q R S T U V W X Y Z "
    "F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 NumPad0 NumPad1 NumPad2 NumPad3 NumPad4 NumPad5 NumPad6 NumPad7 "
    "NumPad8 NumPad9 LeftMouse RightMouse MiddleMouse MouseWheelDown MouseWheelUp Tab Enter Shift Ctrl Alt Pause "
    "CapsLock Escape Space PageDown End Left Up Right Down Insert Delete Equals Comma Minus Period Slash "
    "LeftBracket Backslash RightBracket MouseX MouseY MouseW None Cancel Backspace PageUp home Select Print "
    "Execute PrintScrn Help GreyStar Separator NumPadPeriod GreySlash NumLock ScrollLock LShift RShift LControl "
    "RControl Semicolon Tilde SingleQuote GreyMinus GreyPlus").split(QLatin1Char(' '));

} // namespace

// The key bindings page through its grid and buttons, against the bytes of the
// sample's User.ini ([Engine.Input] with all 116 keys, extra Joy keys and the
// aliases).
class KeyBindingsPageTest : public PageTest {
    Q_OBJECT

public:
    KeyBindingsPageTest() : PageTest({.file = File::User, .page = "tsTastenbelegung"}) {}

private Q_SLOTS:
    void gridListsTheKeysWithTheFilesValues();
    void typedBindingIsWrittenWithEveryListedKey();
    void missingKeysStayMissingUnlessTyped();
    void aktualisierenAndShowingAgainDiscardTyping();
    void refusedOrFailedWriteLeavesTheFileWhole();

private:
    QTableWidget* grid() const { return child<QTableWidget>("vleKeyBindings"); }
    int rowOf(const QString& key) const;
    QString valueOf(const QString& key) const;
    // Clicks the key's value cell and types over its text; the editor stays
    // open, as when the user goes straight for a button.
    void typeInto(const QString& key, const QString& text);
};

int KeyBindingsPageTest::rowOf(const QString& key) const
{
    const QList<QTableWidgetItem*> found = grid()->findItems(key, Qt::MatchExactly);
    for (const QTableWidgetItem* item : found)
        if (item->column() == 0)
            return item->row();
    qFatal("no row %s", qPrintable(key));
}

QString KeyBindingsPageTest::valueOf(const QString& key) const
{
    return grid()->item(rowOf(key), 1)->text();
}

void KeyBindingsPageTest::typeInto(const QString& key, const QString& text)
{
    QTableWidgetItem* cell = grid()->item(rowOf(key), 1);
    grid()->scrollToItem(cell);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualItemRect(cell).center());
    auto* editor = qobject_cast<QLineEdit*>(grid()->indexWidget(grid()->indexFromItem(cell)));
    QVERIFY(editor);
    typeOver(editor, text, Selection::DeleteFirst);
}

void KeyBindingsPageTest::gridListsTheKeysWithTheFilesValues()
{
    const QByteArray file = withLine(original, "\nTab=Type\r\n", "\nTab=\r\n");
    startWith(file);
    QCOMPARE(grid()->columnCount(), 2);
    QCOMPARE(grid()->horizontalHeaderItem(0)->text(), QStringLiteral("Key"));
    QCOMPARE(grid()->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
    QCOMPARE(grid()->rowCount(), 116);
    QStringList keys;
    for (int row = 0; row < grid()->rowCount(); ++row) {
        keys << grid()->item(row, 0)->text();
        QVERIFY(!(grid()->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(grid()->item(row, 1)->flags() & Qt::ItemIsEditable);
    }
    QCOMPARE(keys, expectedKeys);

    QCOMPARE(valueOf("Space"), QStringLiteral("Jump"));
    QCOMPARE(valueOf("Tab"), QString());
    QCOMPARE(valueOf("home"), QString());
    QCOMPARE(valueOf("G"), QStringLiteral("Say GG=gut gespielt"));
    QCOMPARE(valueOf("MiddleMouse"), QStringLiteral("Button bSnapLevel | Axis aMouseY Speed=2.0"));
    QCOMPARE(valueOf("0"), QStringLiteral("SwitchWeapon 10"));
    QCOMPARE(valueOf("GreyPlus"), QStringLiteral("Grow"));
    // Keys of the section that are not listed stay out of the grid.
    QVERIFY(grid()->findItems(QStringLiteral("Joy1"), Qt::MatchExactly).isEmpty());
    QCOMPARE(fileBytes(), file);
    QVERIFY(game->boxes.shown().isEmpty());
}

void KeyBindingsPageTest::typedBindingIsWrittenWithEveryListedKey()
{
    startWith(original);
    // What stands in the file when "Eintragen" is pressed is replaced by the
    // grid's value for every listed key, first, middle and last, and kept for
    // keys the grid does not list.
    QByteArray changedOutside = withLine(original, "\n0=SwitchWeapon 10\r\n", "\n0=Outside\r\n");
    changedOutside = withLine(changedOutside, "\nhome=\r\n", "\nhome=Outside\r\n");
    changedOutside = withLine(changedOutside, "\nGreyPlus=Grow\r\n", "\nGreyPlus=Outside\r\n");
    changedOutside = withLine(changedOutside, "\nJoy1=Fire\r\n", "\nJoy1=Outside\r\n");
    writeBytes(game->userIniPath(), changedOutside);

    typeInto(QStringLiteral("LeftMouse"), QStringLiteral("Fire | OnRelease Jump"));
    typeInto(QStringLiteral("G"), QStringLiteral("Say a=b | Say c"));
    typeInto(QStringLiteral("Tab"), QString());
    QVERIFY(grid()->indexWidget(grid()->currentIndex())); // still being edited
    // Pressed without taking the focus from the cell (as a shortcut would):
    // the text in the open editor still counts.
    child<QPushButton>("bKeyBindEintragen")->click();

    QByteArray expected = withLine(original, "\nLeftMouse=Fire\r\n", "\nLeftMouse=Fire | OnRelease Jump\r\n");
    expected = withLine(expected, "\nG=Say GG=gut gespielt\r\n", "\nG=Say a=b | Say c\r\n");
    expected = withLine(expected, "\nTab=Type\r\n", "\nTab=\r\n");
    expected = withLine(expected, "\nJoy1=Fire\r\n", "\nJoy1=Outside\r\n");
    QCOMPARE(fileBytes(), expected);
    QVERIFY(game->boxes.shown().isEmpty());

    // The grid keeps what was written; a reload shows the same.
    click("bKeyBindAktualisieren");
    QCOMPARE(valueOf("LeftMouse"), QStringLiteral("Fire | OnRelease Jump"));
    QCOMPARE(valueOf("G"), QStringLiteral("Say a=b | Say c"));
}

void KeyBindingsPageTest::missingKeysStayMissingUnlessTyped()
{
    QByteArray withoutSome = withLine(original, "\nB=\r\n", "\n");
    withoutSome = withLine(withoutSome, "\nF12=\r\n", "\n");
    withoutSome = withLine(withoutSome, "\nhome=\r\n", "\n");
    startWith(withoutSome);
    QCOMPARE(valueOf("B"), notFound);
    QCOMPARE(valueOf("F12"), notFound);
    QCOMPARE(valueOf("home"), notFound);

    // The placeholder is no binding: untouched rows of missing keys are left
    // out; a typed binding adds its key after the section's last key; the
    // placeholder typed into a present key is what the user wants there.
    typeInto(QStringLiteral("F12"), QStringLiteral("Shot"));
    typeInto(QStringLiteral("Space"), notFound);
    click("bKeyBindEintragen");
    QByteArray expected = withLine(withoutSome, "\nSpace=Jump\r\n", "\nSpace=Eintrag nicht gefunden!\r\n");
    expected = withLine(expected, "Aliases[39]=(Command=\"\",Alias=None)\r\n",
                        "Aliases[39]=(Command=\"\",Alias=None)\r\nF12=Shot\r\n");
    QCOMPARE(fileBytes(), expected);

    // A binding stored as the placeholder's text is a binding like any other.
    click("bKeyBindAktualisieren");
    QCOMPARE(valueOf("Space"), notFound);
    typeInto(QStringLiteral("Space"), QStringLiteral("Jump"));
    click("bKeyBindEintragen");
    QCOMPARE(fileBytes(), withLine(expected, "\nSpace=Eintrag nicht gefunden!\r\n", "\nSpace=Jump\r\n"));
}

void KeyBindingsPageTest::aktualisierenAndShowingAgainDiscardTyping()
{
    startWith(original);
    typeInto(QStringLiteral("Space"), QStringLiteral("Duck"));
    typeInto(QStringLiteral("A"), QStringLiteral("Fire"));
    QCOMPARE(valueOf("Space"), QStringLiteral("Duck"));
    click("bKeyBindAktualisieren");
    QCOMPARE(valueOf("Space"), QStringLiteral("Jump"));
    QCOMPARE(valueOf("A"), QStringLiteral("StrafeLeft"));
    // Nothing typed before the reload comes back with the next write.
    click("bKeyBindEintragen");
    QCOMPARE(fileBytes(), original);

    typeInto(QStringLiteral("Space"), QStringLiteral("Duck"));
    showPage("tsSystem");
    QVERIFY(child<QPushButton>("bBeenden")->isVisible());
    showPage("tsAliases");
    QVERIFY(!child<QPushButton>("bBeenden")->isVisible());
    showPage("tsTastenbelegung");
    QVERIFY(child<QPushButton>("bBeenden")->isVisible());
    QCOMPARE(valueOf("Space"), QStringLiteral("Jump"));
    // A key changed in the file meanwhile shows its new value.
    writeBytes(game->userIniPath(), withLine(original, "\nSpace=Jump\r\n", "\nSpace=Jump | Fire\r\n"));
    click("bKeyBindAktualisieren");
    QCOMPARE(valueOf("Space"), QStringLiteral("Jump | Fire"));
    QCOMPARE(fileBytes(), withLine(original, "\nSpace=Jump\r\n", "\nSpace=Jump | Fire\r\n"));
}

void KeyBindingsPageTest::refusedOrFailedWriteLeavesTheFileWhole()
{
    startWith(original);
    // A binding the file's code page cannot hold stops the write before any
    // key is written, those typed before it included.
    typeInto(QStringLiteral("A"), QStringLiteral("Say hi"));
    typeInto(QStringLiteral("Z"), QStringLiteral("Say 雪"));
    click("bKeyBindEintragen");
    QCOMPARE(game->boxes.errors().size(), 1);
    QVERIFY(game->boxes.errors().constFirst().contains(QStringLiteral("[Engine.Input] Z")));
    QCOMPARE(fileBytes(), original);

    setReadOnly();
    typeInto(QStringLiteral("Z"), QStringLiteral("Say ok"));
    click("bKeyBindEintragen");
    QCOMPARE(game->boxes.errors().size(), 2);
    QCOMPARE(game->boxes.shown().last().kind, Kind::Error);
    QCOMPARE(game->boxes.shown().last().text, unableToWrite(game->userIniPath()));
    QCOMPARE(fileBytes(), original);
    // What was typed is still there to try again.
    QCOMPARE(valueOf("A"), QStringLiteral("Say hi"));
    QCOMPARE(valueOf("Z"), QStringLiteral("Say ok"));
}

QTEST_MAIN(KeyBindingsPageTest)
#include "test_keybindingspage.moc"
