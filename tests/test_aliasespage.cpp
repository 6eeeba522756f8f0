#include "controls/MaskedEdit.h"
#include "support/PageTest.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

const QByteArray emptyAlias = "(Command=\"\",Alias=None)";
const QByteArray impactJump = "(Command=\"getweapon ImpactHammer | button bfire | Fire | OnRelease Jump\",Alias=ijump)";

// The sample's line of one slot, from its start to its line break.
QByteArray slotLine(const QByteArray& file, int slot)
{
    const QByteArray key = "\nAliases[" + QByteArray::number(slot) + "]=";
    const qsizetype at = file.indexOf(key);
    if (at < 0)
        qFatal("no slot %d", slot);
    return file.mid(at, file.indexOf("\r\n", at) - at + 2);
}

QByteArray withSlot(const QByteArray& file, int slot, const QByteArray& value)
{
    return withLine(file, slotLine(file, slot),
                    "\nAliases[" + QByteArray::number(slot) + "]=" + value + "\r\n");
}

} // namespace

// The alias page through its widgets, against the bytes of the sample's
// User.ini (impact jump in Aliases[19], "mutate x" in [26], empty slots in
// 20, 25 and 28 to 39).
class AliasesPageTest : public PageTest {
    Q_OBJECT

public:
    AliasesPageTest() : PageTest({.file = File::User, .page = "tsAliases"}) {}

private Q_SLOTS:
    void gridShowsTheSlots();
    void slotFieldKeepsToOneToForty_data();
    void slotFieldKeepsToOneToForty();
    void eintragenNeedsNameAndCommand();
    void aliasIsWrittenVerbatimIntoTheChosenSlot();
    void impactJumpAndDeleteWriteTheChosenSlot();
    void restoreUndoesWhatWasWrittenSinceEntering();
    void restoreLeavesMissingSlotsMissing();
    void helpShowsItsFifteenLines();
    void failedWriteKeepsTheRow();

private:
    QString row(int n) const { return child<QTableWidget>("vleAliases")->item(n - 1, 1)->text(); }
    void chooseSlot(const QString& digits);
};

void AliasesPageTest::chooseSlot(const QString& digits)
{
    typeOver(child<MaskedEdit>("meAliasPosition"), digits, Selection::DeleteFirst);
}

void AliasesPageTest::gridShowsTheSlots()
{
    startWith(original);
    const auto* grid = child<QTableWidget>("vleAliases");
    QCOMPARE(grid->horizontalHeaderItem(0)->text(), QStringLiteral("Nr."));
    QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("Command"));
    QCOMPARE(grid->rowCount(), 40);
    for (int n = 1; n <= 40; ++n) {
        QCOMPARE(grid->item(n - 1, 0)->text(), QString::number(n));
        QVERIFY(!(grid->item(n - 1, 0)->flags() & Qt::ItemIsEditable));
    }
    QCOMPARE(row(1), QStringLiteral("(Command=\"Button bFire | Fire\",Alias=Fire)"));
    QCOMPARE(row(20), QString::fromLatin1(impactJump));
    QCOMPARE(row(21), QString()); // stored as the empty alias
    QCOMPARE(row(23), QStringLiteral("(Command=\"Say Noch 5 € für die Serverkasse?\",Alias=kasse)"));
    QCOMPARE(row(27), QStringLiteral("(Command=\"mutate x\",Alias=mx)"));
    QCOMPARE(row(40), QString());
    QVERIFY(!child<QPushButton>("bBeenden")->isVisible());
    QVERIFY(!child<QPushButton>("bAliasEintragen")->isEnabled());
    QCOMPARE(child<MaskedEdit>("meAliasPosition")->value(), QStringLiteral("1"));
    QCOMPARE(child<QPushButton>("bIJumpEintragen")->text(), QStringLiteral("I-Jump in Zeile 1 einfügen"));
    QCOMPARE(child<QPushButton>("bAliasDelete")->text(), QStringLiteral("Zeile 1 löschen"));
    QCOMPARE(fileBytes(), original);

    showPage("tsWeapponpriority");
    QVERIFY(child<QPushButton>("bBeenden")->isVisible());
}

void AliasesPageTest::slotFieldKeepsToOneToForty_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("written");
    QTest::newRow("0") << "0" << "1" << 0;
    QTest::newRow("41") << "41" << "1" << 0;
    QTest::newRow("99") << "99" << "1" << 0;
    QTest::newRow("cleared") << "" << "1" << 0;
    QTest::newRow("40") << "40" << "40" << 39;
    QTest::newRow("12") << "12" << "12" << 11;
}

void AliasesPageTest::slotFieldKeepsToOneToForty()
{
    QFETCH(QString, typed);
    QFETCH(QString, slot);
    QFETCH(int, written);
    startWith(original);
    chooseSlot(QStringLiteral("7")); // away from 1 first, so "1" must come from the rule
    chooseSlot(typed);
    QCOMPARE(child<MaskedEdit>("meAliasPosition")->value(), slot);
    QCOMPARE(child<QPushButton>("bIJumpEintragen")->text(), QStringLiteral("I-Jump in Zeile %1 einfügen").arg(slot));
    QCOMPARE(child<QPushButton>("bAliasDelete")->text(), QStringLiteral("Zeile %1 löschen").arg(slot));
    click("bIJumpEintragen");
    QCOMPARE(fileBytes(), withSlot(original, written, impactJump));
    QCOMPARE(row(written + 1), QString::fromLatin1(impactJump));
}

void AliasesPageTest::eintragenNeedsNameAndCommand()
{
    startWith(original);
    auto* name = child<QLineEdit>("leAliasName");
    auto* command = child<QLineEdit>("leAliasCommand");
    auto* button = child<QPushButton>("bAliasEintragen");
    typeOver(name, QStringLiteral("jump2"), Selection::DeleteFirst);
    QVERIFY(!button->isEnabled());
    typeOver(command, QStringLiteral(" "), Selection::DeleteFirst);
    QVERIFY(button->isEnabled()); // a blank counts as text
    typeOver(name, QString(), Selection::DeleteFirst);
    QVERIFY(!button->isEnabled());
    typeOver(name, QStringLiteral("x"), Selection::DeleteFirst);
    QVERIFY(button->isEnabled());
    typeOver(command, QString(), Selection::DeleteFirst);
    QVERIFY(!button->isEnabled());
    QCOMPARE(fileBytes(), original);
}

void AliasesPageTest::aliasIsWrittenVerbatimIntoTheChosenSlot()
{
    startWith(original);
    chooseSlot(QStringLiteral("3"));
    typeOver(child<QLineEdit>("leAliasName"), QStringLiteral("jump2"), Selection::DeleteFirst);
    typeOver(child<QLineEdit>("leAliasCommand"), QStringLiteral("Jump | Jump"), Selection::DeleteFirst);
    click("bAliasEintragen");
    const QByteArray written = "(Command=\"Jump | Jump\",Alias=jump2)";
    QCOMPARE(fileBytes(), withSlot(original, 2, written));
    QCOMPARE(row(3), QString::fromLatin1(written));
    QCOMPARE(child<QLineEdit>("leAliasName")->text(), QString());
    QCOMPARE(child<QLineEdit>("leAliasCommand")->text(), QString());
    QVERIFY(!child<QPushButton>("bAliasEintragen")->isEnabled());

    // A typed "05" stays as typed in the captions and means slot 5.
    chooseSlot(QStringLiteral("15"));
    auto* field = child<MaskedEdit>("meAliasPosition");
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClicks(field, QStringLiteral("0"));
    QCOMPARE(field->value(), QStringLiteral("05"));
    QCOMPARE(child<QPushButton>("bIJumpEintragen")->text(), QStringLiteral("I-Jump in Zeile 05 einfügen"));
    QCOMPARE(child<QPushButton>("bAliasDelete")->text(), QStringLiteral("Zeile 05 löschen"));
    // Quotes, parentheses, "=" and blanks go in unescaped, the euro sign as
    // its Windows-1252 byte.
    typeOver(child<QLineEdit>("leAliasName"), QStringLiteral("say€ "), Selection::DeleteFirst);
    typeOver(child<QLineEdit>("leAliasCommand"), QStringLiteral("say \"a=b\") |"), Selection::DeleteFirst);
    click("bAliasEintragen");
    QCOMPARE(fileBytes(),
             withSlot(withSlot(original, 2, written), 4, "(Command=\"say \"a=b\") |\",Alias=say\x80 )"));
    QCOMPARE(row(5), QStringLiteral("(Command=\"say \"a=b\") |\",Alias=say€ )"));
    QVERIFY(game->boxes.shown().isEmpty());
}

void AliasesPageTest::impactJumpAndDeleteWriteTheChosenSlot()
{
    startWith(original);
    chooseSlot(QStringLiteral("27"));
    typeOver(child<QLineEdit>("leAliasName"), QStringLiteral("keep"), Selection::DeleteFirst);
    click("bIJumpEintragen");
    QByteArray expected = withSlot(original, 26, impactJump);
    QCOMPARE(fileBytes(), expected);
    QCOMPARE(row(27), QString::fromLatin1(impactJump));
    QCOMPARE(child<QLineEdit>("leAliasName")->text(), QStringLiteral("keep"));

    click("bAliasDelete");
    expected = withSlot(original, 26, emptyAlias);
    QCOMPARE(fileBytes(), expected);
    QCOMPARE(row(27), QString());

    // The slot number and its captions outlive a change of page.
    showPage("tsSystem");
    showPage("tsAliases");
    QCOMPARE(child<MaskedEdit>("meAliasPosition")->value(), QStringLiteral("27"));
    QCOMPARE(child<QPushButton>("bAliasDelete")->text(), QStringLiteral("Zeile 27 löschen"));
    QCOMPARE(child<QLineEdit>("leAliasName")->text(), QStringLiteral("keep"));
}

void AliasesPageTest::restoreUndoesWhatWasWrittenSinceEntering()
{
    startWith(original);
    chooseSlot(QStringLiteral("5"));
    click("bAliasDelete");
    chooseSlot(QStringLiteral("6"));
    typeOver(child<QLineEdit>("leAliasName"), QStringLiteral("n"), Selection::DeleteFirst);
    typeOver(child<QLineEdit>("leAliasCommand"), QStringLiteral("c"), Selection::DeleteFirst);
    click("bAliasEintragen");
    QCOMPARE(fileBytes(),
             withSlot(withSlot(original, 4, emptyAlias), 5, "(Command=\"c\",Alias=n)"));
    // A slot changed in the file by someone else since entering goes back
    // too: every slot is written.
    writeBytes(game->userIniPath(),
               withSlot(withSlot(withSlot(original, 4, emptyAlias), 5, "(Command=\"c\",Alias=n)"), 39, "(x)"));

    click("bOriginalAliases");
    QCOMPARE(fileBytes(), original);
    QCOMPARE(row(5), QStringLiteral("(Command=\"Axis aBaseX Speed=-140.0\",Alias=TurnLeft)"));
    QCOMPARE(row(6), QStringLiteral("(Command=\"Axis aBaseX Speed=+140.0\",Alias=TurnRight)"));
    QCOMPARE(row(40), QString());

    // Writes made before the page was entered are part of the new snapshot.
    chooseSlot(QStringLiteral("1"));
    click("bIJumpEintragen");
    const QByteArray kept = withSlot(original, 0, impactJump);
    showPage("tsSystem");
    showPage("tsAliases");
    click("bOriginalAliases");
    QCOMPARE(fileBytes(), kept);
    QVERIFY(game->boxes.shown().isEmpty());
}

void AliasesPageTest::restoreLeavesMissingSlotsMissing()
{
    QByteArray withoutSome = withLine(original, slotLine(original, 30), "\n");
    withoutSome = withLine(withoutSome, slotLine(withoutSome, 31), "\n");
    startWith(withoutSome);
    QCOMPARE(row(31), QStringLiteral("Eintrag nicht gefunden"));
    QCOMPARE(row(32), QStringLiteral("Eintrag nicht gefunden"));

    // Slot 32 gets a value now; slot 31 stays missing.
    chooseSlot(QStringLiteral("32"));
    click("bIJumpEintragen");
    QVERIFY(fileBytes().contains("\nAliases[31]=" + impactJump + "\r\n"));
    click("bOriginalAliases");
    // The placeholder is never stored: a slot written since becomes empty,
    // one still missing stays out of the file.
    const QByteArray after = fileBytes();
    QVERIFY(!after.contains("Aliases[30]="));
    QVERIFY(!after.contains("Eintrag nicht gefunden"));
    QCOMPARE(withLine(after, "\nAliases[31]=" + emptyAlias + "\r\n", "\n"), withoutSome);
    QCOMPARE(row(31), QStringLiteral("Eintrag nicht gefunden"));
    QCOMPARE(row(32), QString());
}

void AliasesPageTest::helpShowsItsFifteenLines()
{
    startWith(original);
    click("BitBtn1");
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::Notice);
    const QStringList lines = game->boxes.shown()[0].text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 15);
    QCOMPARE(lines[0], QStringLiteral("Im Algemeinen sieht ein Eintrag in der User.ini für einen Alias-Befehl folgendermaßen aus:"));
    QCOMPARE(lines[1], QStringLiteral("Aliases[..]=(Command=\"<command>\",Alias=<aliasname>)"));
    for (int empty : {2, 5, 9, 13})
        QCOMPARE(lines[empty], QString());
    QCOMPARE(lines[8], QStringLiteral("(antelle \"getweapon ImpactHammer | button bfire | Fire | OnRelease Jump\")"));
    QCOMPARE(lines[12], QStringLiteral("-> fertig ;)"));
    QCOMPARE(lines[14], QStringLiteral("Mit \"Wiederherstellen\" kann man den Zustand seiner Aliases vor der Bearbeitung "
                                       "mit Brennwerk-Editor wiederherstellen."));
    QCOMPARE(fileBytes(), original);
}

void AliasesPageTest::failedWriteKeepsTheRow()
{
    startWith(original);
    setReadOnly();
    chooseSlot(QStringLiteral("27"));
    typeOver(child<QLineEdit>("leAliasName"), QStringLiteral("n"), Selection::DeleteFirst);
    typeOver(child<QLineEdit>("leAliasCommand"), QStringLiteral("c"), Selection::DeleteFirst);
    click("bAliasEintragen");
    click("bAliasDelete");
    click("bOriginalAliases");
    // Restoring what the file already holds writes nothing, so it is no error.
    QCOMPARE(game->boxes.errors(), QStringList(2, unableToWrite(game->userIniPath())));
    QCOMPARE(row(27), QStringLiteral("(Command=\"mutate x\",Alias=mx)"));
    // The edits keep their text for another try.
    QCOMPARE(child<QLineEdit>("leAliasName")->text(), QStringLiteral("n"));
    QVERIFY(child<QPushButton>("bAliasEintragen")->isEnabled());
    QCOMPARE(fileBytes(), original);
}

QTEST_MAIN(AliasesPageTest)
#include "test_aliasespage.moc"
