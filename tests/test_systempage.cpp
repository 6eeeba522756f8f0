#include "controls/MaskedEdit.h"
#include "pages/SystemPage.h"
#include "support/PageTest.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The System page through its widgets, against the bytes of the sample's
// UnrealTournament.ini (CacheSizeMegs=32, NickName=Funkenflug,
// LocalMap=CityIntro.unr).
class SystemPageTest : public PageTest {
    Q_OBJECT

private Q_SLOTS:
    void showFillsThePageFromTheFile();
    void recommendedSizeFollowsTheMemory();
    void storedRecommendationDisablesTheButton();
    void typedCacheSizeChangesExactlyItsLine();
    void clearedCacheFieldBecomesZero();
    void missingCacheKeyIsWrittenAsRecommended();
    void fourDigitRecommendationIsShownAndWrittenWhole();
    void showAgainDiscardsWhatWasTyped();
    void nickIsWrittenAsTyped();
    void missingNickShowsTheNoticeAndKeepsTheButtonOff();
    void nickOutsideTheCodePageIsRefused();
    void introSwitchMovesOneWay();
    void failedWriteLeavesLabelButtonAndFile();

};

void SystemPageTest::showFillsThePageFromTheFile()
{
    startWith(original);
    QCOMPARE(child<MaskedEdit>("meCache")->value(), QStringLiteral("384"));
    QCOMPARE(child<MaskedEdit>("meCache")->text(), QStringLiteral("384"));
    QVERIFY(child<QPushButton>("bCacheEintragen")->isEnabled());
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): 32"));
    QCOMPARE(child<QLineEdit>("eIRCNick")->text(), QStringLiteral("Funkenflug"));
    QVERIFY(!child<QPushButton>("bIRCNickEintragen")->isEnabled());
    QCOMPARE(child<QLabel>("LNoIntro")->text(), QStringLiteral("Das Intro ausschalten!"));
    QVERIFY(child<QPushButton>("bNoIntro")->isEnabled());
    QCOMPARE(child<QGroupBox>("GroupBox3")->title(), QStringLiteral(" D3D-Einstellungen (Read only) "));
    QVERIFY(!child<QGroupBox>("GroupBox3")->isEnabled());
    QCOMPARE(fileBytes(), original);
    QVERIFY(game->boxes.shown().isEmpty());
}

void SystemPageTest::recommendedSizeFollowsTheMemory()
{
    const std::uint32_t mb = 1024u * 1024u;
    QCOMPARE(recommendedCacheMegs(64 * mb), 48);
    QCOMPARE(recommendedCacheMegs(128 * mb), 96);
    QCOMPARE(recommendedCacheMegs(256 * mb), 192);
    QCOMPARE(recommendedCacheMegs(512 * mb), 384);
    QCOMPARE(recommendedCacheMegs(1024 * mb), 768);
    QCOMPARE(recommendedCacheMegs(4294967295u), 3072);
}

void SystemPageTest::storedRecommendationDisablesTheButton()
{
    startWith(withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=384\r\n"));
    QVERIFY(!child<QPushButton>("bCacheEintragen")->isEnabled());
    // Typing a different size enables it, typing the stored one again not.
    typeOver(child<MaskedEdit>("meCache"), "38");
    QVERIFY(child<QPushButton>("bCacheEintragen")->isEnabled());
    QTest::keyClicks(child<MaskedEdit>("meCache"), "4");
    QVERIFY(!child<QPushButton>("bCacheEintragen")->isEnabled());
}

void SystemPageTest::typedCacheSizeChangesExactlyItsLine()
{
    startWith(original);
    auto* field = child<MaskedEdit>("meCache");
    typeOver(field, "2x56 7");
    QCOMPARE(field->value(), QStringLiteral("256"));
    click("bCacheEintragen");
    QCOMPARE(fileBytes(), withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=256\r\n"));
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): 256"));
    QVERIFY(!child<QPushButton>("bCacheEintragen")->isEnabled());
    QVERIFY(game->boxes.shown().isEmpty());
}

void SystemPageTest::clearedCacheFieldBecomesZero()
{
    startWith(original);
    auto* field = child<MaskedEdit>("meCache");
    field->setFocus();
    field->setCursorPosition(3);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->value(), QStringLiteral("38"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->value(), QStringLiteral("0"));
    QCOMPARE(field->text(), QStringLiteral("0__"));
    QVERIFY(child<QPushButton>("bCacheEintragen")->isEnabled());
    QCOMPARE(fileBytes(), original);
}

void SystemPageTest::missingCacheKeyIsWrittenAsRecommended()
{
    const QByteArray file = withLine(original, "\nCacheSizeMegs=32\r\n", "\n");
    startWith(file);
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): nicht vorhanden!"));
    QVERIFY(child<QPushButton>("bCacheEintragen")->isEnabled());
    click("bCacheEintragen");
    const QByteArray after = fileBytes();
    QVERIFY(after.contains("\nCacheSizeMegs=384\r\n"));
    QCOMPARE(withLine(after, "\nCacheSizeMegs=384\r\n", "\n"), file);
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): 384"));
}

void SystemPageTest::fourDigitRecommendationIsShownAndWrittenWhole()
{
    game->physicalMemory = 2048u * 1024u * 1024u;
    startWith(original);
    QCOMPARE(child<MaskedEdit>("meCache")->value(), QStringLiteral("1536"));
    QCOMPARE(child<MaskedEdit>("meCache")->text(), QStringLiteral("1536"));
    click("bCacheEintragen");
    QCOMPARE(fileBytes(), withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=1536\r\n"));
    // Typing still takes three digits at most, over the four shown too.
    auto* field = child<MaskedEdit>("meCache");
    field->setFocus();
    field->setCursorPosition(0);
    QTest::keyClick(field, Qt::Key_9);
    QCOMPARE(field->value(), QStringLiteral("953"));
    field->setValue(QStringLiteral("1536"));
    field->setCursorPosition(4);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->value(), QStringLiteral("153"));
    typeOver(field, "20481");
    QCOMPARE(field->value(), QStringLiteral("204"));
}

void SystemPageTest::showAgainDiscardsWhatWasTyped()
{
    startWith(original);
    typeOver(child<MaskedEdit>("meCache"), "99");
    typeOver(child<QLineEdit>("eIRCNick"), "Zwischenstand");
    QVERIFY(child<QPushButton>("bIRCNickEintragen")->isEnabled());
    showPage("tsUser");
    showPage("tsSystem");
    QCOMPARE(child<MaskedEdit>("meCache")->value(), QStringLiteral("384"));
    QCOMPARE(child<QLineEdit>("eIRCNick")->text(), QStringLiteral("Funkenflug"));
    QVERIFY(!child<QPushButton>("bIRCNickEintragen")->isEnabled());
    QCOMPARE(fileBytes(), original);
}

void SystemPageTest::nickIsWrittenAsTyped()
{
    startWith(original);
    typeOver(child<QLineEdit>("eIRCNick"), QStringLiteral("Jürgen =[X] "));
    QVERIFY(child<QPushButton>("bIRCNickEintragen")->isEnabled());
    click("bIRCNickEintragen");
    QCOMPARE(fileBytes(),
             withLine(original, "\nNickName=Funkenflug\r\n", "\nNickName=J\xfcrgen =[X] \r\n"));
    // The button stays on after the write.
    QVERIFY(child<QPushButton>("bIRCNickEintragen")->isEnabled());
}

void SystemPageTest::missingNickShowsTheNoticeAndKeepsTheButtonOff()
{
    const QByteArray file = withLine(original, "\nNickName=Funkenflug\r\n", "\n");
    startWith(file);
    QCOMPARE(child<QLineEdit>("eIRCNick")->text(), QStringLiteral("Eintrag nicht gefunden"));
    QVERIFY(!child<QPushButton>("bIRCNickEintragen")->isEnabled());
    typeOver(child<QLineEdit>("eIRCNick"), "Neo");
    QVERIFY(child<QPushButton>("bIRCNickEintragen")->isEnabled());
    click("bIRCNickEintragen");
    const QByteArray after = fileBytes();
    QVERIFY(after.contains("[UBrowser.UBrowserIRCSystemPage]\r\n"));
    QVERIFY(after.contains("\nNickName=Neo\r\n"));
    QCOMPARE(withLine(after, "\nNickName=Neo\r\n", "\n"), file);
}

void SystemPageTest::nickOutsideTheCodePageIsRefused()
{
    startWith(original);
    typeOver(child<QLineEdit>("eIRCNick"), QStringLiteral("Schnee 雪"));
    click("bIRCNickEintragen");
    QCOMPARE(game->boxes.errors().size(), 1);
    QCOMPARE(fileBytes(), original);
}

void SystemPageTest::introSwitchMovesOneWay()
{
    startWith(original);
    click("bNoIntro");
    QCOMPARE(fileBytes(),
             withLine(original, "\nLocalMap=CityIntro.unr\r\n", "\nLocalMap=UT-Logo-Map.unr\r\n"));
    QCOMPARE(child<QLabel>("LNoIntro")->text(), QStringLiteral("Das Intro ist deaktiviert!"));
    QVERIFY(child<QPushButton>("bNoIntro")->isEnabled());
    showPage("tsMultiplayer");
    showPage("tsSystem");
    QVERIFY(!child<QPushButton>("bNoIntro")->isEnabled());
    QCOMPARE(child<QLabel>("LNoIntro")->text(), QStringLiteral("Das Intro ist deaktiviert!"));
}

void SystemPageTest::failedWriteLeavesLabelButtonAndFile()
{
    // Read-only files (with the fields of view aligned, as the User page
    // leaves them): every show writes back only what it has just read, which
    // changes nothing and so is no error; each page is filled completely.
    const QByteArray user =
        withLine(readBytes(game->userIniPath()), "\nDefaultFOV=85.000000\r\n", "\nDefaultFOV=90.000000\r\n");
    writeBytes(game->userIniPath(), user);
    for (const QString& file : {game->mainIniPath(), game->userIniPath()})
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    start();
    for (const char* page : {"tsUser", "tsMultiplayer", "tsSystem"})
        showPage(page);
    QVERIFY2(game->boxes.shown().isEmpty(), qPrintable(game->boxes.errors().join(u'\n')));
    const QList<QCheckBox*> d3d = child<QGroupBox>("GroupBox3")->findChildren<QCheckBox*>();
    QCOMPARE(d3d.size(), 18);
    const qsizetype d3dAt = original.indexOf("[D3DDrv.D3DRenderDevice]");
    const QByteArray d3dSection = original.mid(d3dAt, original.indexOf("\r\n[", d3dAt) - d3dAt);
    for (QCheckBox* box : d3d)
        QVERIFY2(box->isChecked() == d3dSection.contains("\n" + box->objectName().mid(2).toLatin1() + "=True\r\n"),
                 qPrintable(box->objectName()));
    QCOMPARE(child<QLineEdit>("eName")->text(), QStringLiteral("Glutkern"));
    QCOMPARE(child<QLineEdit>("leMOTD4")->text(), QString());
    QCOMPARE(readBytes(game->userIniPath()), user);

    // A real change is refused.
    typeOver(child<MaskedEdit>("meCache"), "128");
    click("bCacheEintragen");
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::Error);
    QCOMPARE(game->boxes.shown()[0].text, unableToWrite(game->mainIniPath()));
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): 32"));
    QVERIFY(child<QPushButton>("bCacheEintragen")->isEnabled());

    click("bNoIntro");
    QCOMPARE(game->boxes.errors().size(), 2);
    QCOMPARE(child<QLabel>("LNoIntro")->text(), QStringLiteral("Das Intro ausschalten!"));
    QCOMPARE(fileBytes(), original);
    QCOMPARE(QDir(game->gameDir() + "/System").entryList(QDir::Files).size(), 3);
}

QTEST_MAIN(SystemPageTest)
#include "test_systempage.moc"
