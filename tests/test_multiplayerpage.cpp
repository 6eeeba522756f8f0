#include "support/PageTest.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

// The Multiplayer Game page through its widgets, against the bytes of the
// sample's UnrealTournament.ini (AdminPassword=Zunder42, German server texts,
// MOTDLine4 present but empty, bLanPlay=False, DoUplink=True).
class MultiplayerPageTest : public PageTest {
    Q_OBJECT

private Q_SLOTS:
    void showFillsThePageAndWritesNothingNew();
    void everyKeystrokeIsWritten();
    void clearedFieldKeepsItsKey();
    void absentTextKeysShowTheNoticeAndWriteNothing();
    void showWritesBackWithoutChangingAByte();
    void storedUplinkTicksTheBoxAndIsWrittenOnce();
    void lanSwitchCountsOnlyAsTrue_data();
    void lanSwitchCountsOnlyAsTrue();
    void clickedBoxesWriteTheirState();

private:
    void startWith(const QByteArray& mainIni);
};

namespace {

const char* const textFields[] = {"leAdminPasswort", "leServerName", "leAdminName", "leAdminEmail",
                                  "leMOTD1",         "leMOTD2",      "leMOTD3",     "leMOTD4"};
const QByteArray textKeys[] = {"AdminPassword=", "ServerName=", "AdminName=", "AdminEmail=",
                               "MOTDLine1=",     "MOTDLine2=",  "MOTDLine3=", "MOTDLine4="};

// The file with the whole line of the key replaced (by nothing: removed).
QByteArray withKeyLine(QByteArray file, const QByteArray& key, const QByteArray& line)
{
    const qsizetype at = file.indexOf("\n" + key);
    if (at < 0)
        qFatal("no key %s", key.constData());
    file.replace(at + 1, file.indexOf('\n', at + 1) - at, line);
    return file;
}

QByteArray withoutTextKeys(QByteArray file)
{
    for (const QByteArray& key : textKeys)
        file = withKeyLine(file, key, "");
    return file;
}

} // namespace

void MultiplayerPageTest::startWith(const QByteArray& mainIni)
{
    PageTest::startWith(mainIni);
    // Nothing on this page is read or written before it is shown.
    QCOMPARE(fileBytes(), mainIni);
}

void MultiplayerPageTest::showFillsThePageAndWritesNothingNew()
{
    startWith(original);
    showPage("tsMultiplayer");
    auto* password = child<QLineEdit>("leAdminPasswort");
    QCOMPARE(password->text(), QStringLiteral("Zunder42"));
    QCOMPARE(password->displayText(), QStringLiteral("Zunder42"));
    QCOMPARE(password->toolTip(),
             QStringLiteral("Im Spiel kann man sich dann mit \"adminlogin <adminpasswort>\" zum Admin machen"));
    QCOMPARE(child<QLineEdit>("leServerName")->text(), QStringLiteral("Brennwerk Übungsserver – Grüße aus der Gießerei"));
    QCOMPARE(child<QLineEdit>("leAdminName")->text(), QStringLiteral("Jürgen Weiß"));
    QCOMPARE(child<QLineEdit>("leAdminEmail")->text(), QStringLiteral("juergen.weiss@brennwerk.example"));
    QCOMPARE(child<QLineEdit>("leMOTD3")->text(), QStringLiteral("Serverkosten: 15 € im Monat – Spenden willkommen!"));
    QCOMPARE(child<QLineEdit>("leMOTD4")->text(), QString());
    QVERIFY(!child<QCheckBox>("cbLAN")->isChecked());
    QVERIFY(child<QCheckBox>("cbAdvertise")->isChecked());
    QCOMPARE(fileBytes(), original);
    QVERIFY(game->boxes.shown().isEmpty());

    // Later shows set the same texts and leave the ticked box: no write at all.
    setReadOnly();
    showPage("tsUser");
    showPage("tsMultiplayer");
    QVERIFY(game->boxes.errors().filter(game->mainIniPath()).isEmpty());
}

void MultiplayerPageTest::everyKeystrokeIsWritten()
{
    const QByteArray empty = withKeyLine(original, "ServerName=", "ServerName=\r\n");
    startWith(empty);
    showPage("tsMultiplayer");
    // Present but empty: the field stays empty and nothing is written.
    QCOMPARE(fileBytes(), empty);
    auto* field = child<QLineEdit>("leServerName");
    QCOMPARE(field->text(), QString());
    QList<QByteArray> history;
    connect(field, &QLineEdit::textEdited, this, [&] { history << fileBytes(); });

    field->setFocus();
    QTest::keyClicks(field, "abc");
    QCOMPARE(history, (QList<QByteArray>{withLine(empty, "\nServerName=\r\n", "\nServerName=a\r\n"),
                                         withLine(empty, "\nServerName=\r\n", "\nServerName=ab\r\n"),
                                         withLine(empty, "\nServerName=\r\n", "\nServerName=abc\r\n")}));
    QVERIFY(game->boxes.shown().isEmpty());
}

void MultiplayerPageTest::clearedFieldKeepsItsKey()
{
    startWith(original);
    showPage("tsMultiplayer");
    auto* field = child<QLineEdit>("leAdminPasswort");
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(fileBytes(), withLine(original, "\nAdminPassword=Zunder42\r\n", "\nAdminPassword=\r\n"));
    QTest::keyClicks(field, "Glut42");
    QCOMPARE(fileBytes(), withLine(original, "\nAdminPassword=Zunder42\r\n", "\nAdminPassword=Glut42\r\n"));
}

void MultiplayerPageTest::absentTextKeysShowTheNoticeAndWriteNothing()
{
    const QByteArray file = withLine(withoutTextKeys(original), "\nDoUplink=True", "\nDoUplink=False");
    startWith(file);
    // A write, even of an unchanged value, would fail on a read-only file.
    setReadOnly();
    showPage("tsMultiplayer");
    for (const char* name : textFields)
        QCOMPARE(child<QLineEdit>(name)->text(), QStringLiteral("Eintrag nicht vorhanden!"));
    QVERIFY(game->boxes.shown().isEmpty());
    showPage("tsUser");
    showPage("tsMultiplayer");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(fileBytes(), file);

    // What the user types is written at once.
    setReadOnly(false);
    typeOver(child<QLineEdit>("leMOTD2"), "Hi");
    QVERIFY(fileBytes().contains("\r\nMOTDLine2=Hi\r\n"));
    QCOMPARE(withKeyLine(fileBytes(), "MOTDLine2=", ""), file);
}

void MultiplayerPageTest::showWritesBackWithoutChangingAByte()
{
    // Every field is filled and written back with what was just read: on a
    // read-only file that is no error, and the show fills the whole page,
    // both boxes too.
    startWith(withLine(original, "\nbLanPlay=False", "\nbLanPlay=True"));
    const QByteArray before = fileBytes();
    setReadOnly();
    showPage("tsMultiplayer");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(child<QLineEdit>("leAdminPasswort")->text(), QStringLiteral("Zunder42"));
    QCOMPARE(child<QLineEdit>("leMOTD3")->text(), QStringLiteral("Serverkosten: 15 € im Monat – Spenden willkommen!"));
    QVERIFY(child<QCheckBox>("cbLAN")->isChecked());
    QVERIFY(child<QCheckBox>("cbAdvertise")->isChecked());
    QCOMPARE(fileBytes(), before);

    // A value longer than a read gives (2047 characters) is shown cut, and
    // writing the cut text back leaves the whole value in the file.
    cleanup();
    init();
    QByteArray motd(3003, 'm');
    motd[2046] = 'X';
    const QByteArray file = withKeyLine(original, "MOTDLine1=", "MOTDLine1=\"" + motd + "\"\r\n");
    startWith(file);
    showPage("tsMultiplayer");
    QCOMPARE(child<QLineEdit>("leMOTD1")->text(), QString::fromLatin1(motd.left(2047)));
    QCOMPARE(fileBytes(), file);
    QVERIFY(game->boxes.shown().isEmpty());
}

void MultiplayerPageTest::storedUplinkTicksTheBoxAndIsWrittenOnce()
{
    const QByteArray file = withoutTextKeys(original);
    startWith(file);
    // The only write of the first show is "True" back to DoUplink, the
    // value it holds: no change, so no error on a read-only file.
    setReadOnly();
    showPage("tsMultiplayer");
    QVERIFY(game->boxes.shown().isEmpty());
    QVERIFY(child<QCheckBox>("cbAdvertise")->isChecked());

    // While the box stays ticked, later shows write nothing for it.
    showPage("tsUser");
    showPage("tsMultiplayer");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(fileBytes(), file);

    // Nor does the show untick it, whatever the file says.
    setReadOnly(false);
    writeBytes(game->mainIniPath(), withLine(file, "\nDoUplink=True", "\nDoUplink=False"));
    showPage("tsUser");
    showPage("tsMultiplayer");
    QVERIFY(child<QCheckBox>("cbAdvertise")->isChecked());
    QCOMPARE(fileBytes(), withLine(file, "\nDoUplink=True", "\nDoUplink=False"));
}

void MultiplayerPageTest::lanSwitchCountsOnlyAsTrue_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("True") << QByteArray("True") << true;
    QTest::newRow("true") << QByteArray("true") << false;
    QTest::newRow("1") << QByteArray("1") << false;
    QTest::newRow("False") << QByteArray("False") << false;
}

void MultiplayerPageTest::lanSwitchCountsOnlyAsTrue()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, ticked);
    const QByteArray file = withLine(original, "\nbLanPlay=False", "\nbLanPlay=" + stored);
    startWith(file);
    showPage("tsMultiplayer");
    QCOMPARE(child<QCheckBox>("cbLAN")->isChecked(), ticked);
    QCOMPARE(fileBytes(), file);
}

void MultiplayerPageTest::clickedBoxesWriteTheirState()
{
    startWith(original);
    showPage("tsMultiplayer");
    click("cbAdvertise");
    QCOMPARE(fileBytes(), withLine(original, "\nDoUplink=True", "\nDoUplink=False"));
    click("cbAdvertise");
    QCOMPARE(fileBytes(), original);
    click("cbLAN");
    QCOMPARE(fileBytes(), withLine(original, "\nbLanPlay=False", "\nbLanPlay=True"));
    // A ticked box stays ticked across shows although the file says False.
    writeBytes(game->mainIniPath(), original);
    showPage("tsUser");
    showPage("tsMultiplayer");
    QVERIFY(child<QCheckBox>("cbLAN")->isChecked());
    QCOMPARE(fileBytes(), original);
}

QTEST_MAIN(MultiplayerPageTest)
#include "test_multiplayerpage.moc"
