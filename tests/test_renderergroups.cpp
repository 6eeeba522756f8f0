#include "app/HauptUnit.h"
#include "app/InfoUnit.h"
#include "controls/MaskedEdit.h"
#include "support/ModalAnswerer.h"
#include "support/PageTest.h"
#include "support/WriteLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace {
const QByteArray d3d = "D3DDrv.D3DRenderDevice";
const QByteArray gl = "OpenGLDrv.OpenGLRenderDevice";
const QByteArray glide = "GlideDrv.GlideRenderDevice";
const QString rivaNotice = QStringLiteral("Aktivieren sie diese Option nur wenn sie eine RivaTNT-Karte haben!");
const QString uglyNotice =
    QStringLiteral("Es wird empfohlen, diese Option zu deaktivieren und nur zu Testzwecken einzuschalten ;)");
const QString rangeNotice = QStringLiteral(
    "Bitte geben sie einen Wert zw. 60Hz und 120Hz ein! Eine niedrigere Bildwiederholfrequenz ist inakzeptabel "
    "und eine höhere wird ihr Monitor wohl kaum aushalten ;)");
} // namespace

// The three renderer option groups through their widgets, against the bytes
// of the sample's UnrealTournament.ini.
class RendererGroupsTest : public PageTest {
    Q_OBJECT

private Q_SLOTS:
    void direct3DReading_data();
    void direct3DReading();
    void openGLAndGlideReading_data();
    void openGLAndGlideReading();
    void maxAnisotropyKeepsItsLevel_data();
    void maxAnisotropyKeepsItsLevel();
    void tickedBoxWhoseKeyVanishedWritesFalse();
    void lockedGroupsStillRefreshAndHaveTheirHints();
    void noticesFollowTheTickedBox();
    void presetsWriteTheChangedKeysInTableOrder();
    void presetAlreadyInPlaceWritesNothing();
    void handClickWritesOnceAndClearsThePresets();
    void failedWriteStopsThePresetAtThatBox();
    void refreshRateField_data();
    void refreshRateField();
    void refreshRateLeftEveryWay_data();
    void refreshRateLeftEveryWay();
};

void RendererGroupsTest::direct3DReading_data()
{
    QTest::addColumn<std::optional<QByteArray>>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<std::optional<QByteArray>>("after");
    using V = std::optional<QByteArray>;
    QTest::newRow("True") << V("True") << true << V("True");
    QTest::newRow("False") << V("False") << false << V("False");
    QTest::newRow("1 becomes True") << V("1") << true << V("True");
    QTest::newRow("-1 becomes True") << V("-1") << true << V("True");
    QTest::newRow("0x1 becomes True") << V("0x1") << true << V("True");
    QTest::newRow("2 becomes True") << V("2") << true << V("True");
    QTest::newRow("0 stays") << V("0") << false << V("0");
    QTest::newRow("true stays") << V("true") << false << V("true");
    QTest::newRow("empty stays") << V("") << false << V("");
    QTest::newRow("missing stays missing") << V() << false << V();
}

void RendererGroupsTest::direct3DReading()
{
    QFETCH(std::optional<QByteArray>, stored);
    QFETCH(bool, ticked);
    QFETCH(std::optional<QByteArray>, after);
    startWith(withValue(original, d3d, "UseVSync", stored));
    QCOMPARE(child<QCheckBox>("cbUseVSync")->isChecked(), ticked);
    QCOMPARE(fileBytes(), withValue(original, d3d, "UseVSync", after));
    // The other boxes show the sample as it is.
    QVERIFY(child<QCheckBox>("cbTranslucency")->isChecked());
    QVERIFY(!child<QCheckBox>("cbShinySurfaces")->isChecked());
    QVERIFY(game->boxes.shown().isEmpty());
}

void RendererGroupsTest::openGLAndGlideReading_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("GL True") << gl << QByteArray("Coronas") << QByteArray("cbCoronasGL") << QByteArray("True") << true << QByteArray("True");
    QTest::newRow("GL 1") << gl << QByteArray("Coronas") << QByteArray("cbCoronasGL") << QByteArray("1") << true << QByteArray("True");
    QTest::newRow("GL -1") << gl << QByteArray("Coronas") << QByteArray("cbCoronasGL") << QByteArray("-1") << false << QByteArray("-1");
    QTest::newRow("GL 0x1") << gl << QByteArray("Coronas") << QByteArray("cbCoronasGL") << QByteArray("0x1") << false << QByteArray("0x1");
    QTest::newRow("GL true") << gl << QByteArray("Coronas") << QByteArray("cbCoronasGL") << QByteArray("true") << false << QByteArray("true");
    QTest::newRow("Glide 1") << glide << QByteArray("DisableVSync") << QByteArray("cbDisableVSync3dfx") << QByteArray("1") << true << QByteArray("True");
    QTest::newRow("Glide 2") << glide << QByteArray("DisableVSync") << QByteArray("cbDisableVSync3dfx") << QByteArray("2") << false << QByteArray("2");
    QTest::newRow("Glide empty") << glide << QByteArray("DisableVSync") << QByteArray("cbDisableVSync3dfx") << QByteArray("") << false << QByteArray("");
}

void RendererGroupsTest::openGLAndGlideReading()
{
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, box);
    QFETCH(QByteArray, stored);
    QFETCH(bool, ticked);
    QFETCH(QByteArray, after);
    startAnswering(withValue(original, section, key, stored), "bOpenGL");
    // Nothing is read before the page is shown.
    QCOMPARE(fileBytes(), withValue(original, section, key, stored));
    showPage("ts3DRender");
    QCOMPARE(child<QCheckBox>(box.constData())->isChecked(), ticked);
    QCOMPARE(fileBytes(), withValue(original, section, key, after));
}

void RendererGroupsTest::maxAnisotropyKeepsItsLevel_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("action"); // "show", a control to click, or "meanwhile 8, tick"
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("written");
    // The renderer reads a level, 0 for off; "True" is 0 to it.
    QTest::newRow("16 shows on") << QByteArray("16") << "show" << true << QByteArray("16");
    QTest::newRow("0 shows off") << QByteArray("0") << "show" << false << QByteArray("0");
    QTest::newRow("-1 shows off") << QByteArray("-1") << "show" << false << QByteArray("-1");
    QTest::newRow("True becomes 16") << QByteArray("True") << "show" << true << QByteArray("16");
    QTest::newRow("Quality keeps 16") << QByteArray("16") << "rbQualityGL" << true << QByteArray("16");
    QTest::newRow("Quality keeps 4.000000") << QByteArray("4.000000") << "rbQualityGL" << true
                                            << QByteArray("4.000000");
    QTest::newRow("Quality over 0 writes 16") << QByteArray("0") << "rbQualityGL" << true << QByteArray("16");
    QTest::newRow("Fast writes 0") << QByteArray("16") << "rbFastGL" << false << QByteArray("0");
    QTest::newRow("tick over False writes 16") << QByteArray("False") << "cbMaxAnisotropyGL" << true
                                               << QByteArray("16");
    QTest::newRow("untick writes 0") << QByteArray("16") << "cbMaxAnisotropyGL" << false << QByteArray("0");
    QTest::newRow("tick keeps a level written meanwhile") << QByteArray("0") << "meanwhile 8, tick" << true
                                                          << QByteArray("8");
}

void RendererGroupsTest::maxAnisotropyKeepsItsLevel()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, action);
    QFETCH(bool, ticked);
    QFETCH(QByteArray, written);
    startAnswering(withValue(original, gl, "MaxAnisotropy", stored), "bOpenGL");
    showPage("ts3DRender");
    if (action == "meanwhile 8, tick") {
        writeBytes(game->mainIniPath(), withValue(fileBytes(), gl, "MaxAnisotropy", QByteArray("8")));
        click("cbMaxAnisotropyGL");
    } else if (action != "show") {
        click(qPrintable(action));
    }
    QCOMPARE(child<QCheckBox>("cbMaxAnisotropyGL")->isChecked(), ticked);
    QVERIFY2(fileBytes().contains("\r\nMaxAnisotropy=" + written + "\r\n"), fileBytes().constData());
    QVERIFY(game->boxes.errors().isEmpty());
}

void RendererGroupsTest::tickedBoxWhoseKeyVanishedWritesFalse()
{
    startWith(original);
    QVERIFY(child<QCheckBox>("cbUseVertexFog")->isChecked());
    const QByteArray withoutKey = withValue(original, d3d, "UseVertexFog", std::nullopt);
    writeBytes(game->mainIniPath(), withoutKey); // another program removed it
    showPage("tsUser");
    showPage("tsSystem");
    QVERIFY(!child<QCheckBox>("cbUseVertexFog")->isChecked());
    const QByteArray after = fileBytes();
    QVERIFY(after.contains("\nUseVertexFog=False\r\n"));
    QCOMPARE(withLine(after, "\nUseVertexFog=False\r\n", "\n"), withoutKey);
}

void RendererGroupsTest::lockedGroupsStillRefreshAndHaveTheirHints()
{
    startWith(withValue(original, d3d, "UseVSync", QByteArray("1")));
    QCOMPARE(child<QGroupBox>("GroupBox3")->title(), QStringLiteral(" D3D-Einstellungen (Read only) "));
    const QList<QCheckBox*> boxes = child<QGroupBox>("GroupBox3")->findChildren<QCheckBox*>();
    QCOMPARE(boxes.size(), 18);
    int withHint = 0;
    for (QCheckBox* box : boxes) {
        QVERIFY(!box->isEnabled());
        withHint += box->toolTip().isEmpty() ? 0 : 1;
    }
    QCOMPARE(withHint, 17);
    QVERIFY(child<QCheckBox>("cbUseVideoMemoryVB")->toolTip().isEmpty());
    QCOMPARE(child<QCheckBox>("cbCoronas")->toolTip(),
             QStringLiteral("Lichtkranz um Lichtquellen.  Deaktivierung bringt Performancegewinn!"));
    QVERIFY(!child<QRadioButton>("rbQuality")->isEnabled());
    QVERIFY(!child<QRadioButton>("rbFast")->isEnabled());
    // Locked, yet the show rewrote "1".
    QCOMPARE(fileBytes(), withValue(original, d3d, "UseVSync", QByteArray("True")));
    QVERIFY(!window->PageControl1->isTabVisible(7));
}

void RendererGroupsTest::noticesFollowTheTickedBox()
{
    QByteArray file = withValue(original, gl, "UseTNT", QByteArray("1"));
    file = withValue(file, glide, "FastUglyRefresh", QByteArray("True"));
    startAnswering(file, "bGlide");
    showPage("ts3DRender");
    // Glide first, then OpenGL.
    QCOMPARE(game->boxes.shown().size(), 3);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::InformationYesNo);
    QCOMPARE(game->boxes.shown()[1].kind, Kind::Notice);
    QCOMPARE(game->boxes.shown()[1].text, uglyNotice);
    QCOMPARE(game->boxes.shown()[2].kind, Kind::Notice);
    QCOMPARE(game->boxes.shown()[2].text, rivaNotice);
    QCOMPARE(fileBytes(), withValue(file, gl, "UseTNT", QByteArray("True")));

    game->boxes.clear();
    showPage("tsSystem");
    showPage("ts3DRender");
    QVERIFY(game->boxes.shown().isEmpty());

    // Clearing by hand shows nothing; ticking again does.
    click("cbFastUglyRefresh3dfx");
    QVERIFY(game->boxes.shown().isEmpty());
    click("cbFastUglyRefresh3dfx");
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].text, uglyNotice);
}

void RendererGroupsTest::presetsWriteTheChangedKeysInTableOrder()
{
    startAnswering(original, "bDirect3D");
    QVERIFY(game->boxes.shown().isEmpty());
    {
        WriteLog log;
        click("rbFast");
        QCOMPARE(log.changedLines(),
                 (QStringList{"VolumetricLighting=False", "Coronas=False", "HighDetailActors=False", "UseVSync=True",
                              "Use32BitTextures=False", "UseVideoMemoryVB=True"}));
    }
    QVERIFY(!child<QRadioButton>("rbFast")->isChecked());
    QVERIFY(!child<QRadioButton>("rbQuality")->isChecked());
    {
        WriteLog log;
        click("rbQuality");
        QCOMPARE(log.changedLines(),
                 (QStringList{"VolumetricLighting=True", "ShinySurfaces=True", "Coronas=True", "HighDetailActors=True",
                              "UseAGPTextures=True", "UseTrilinear=True", "DetailTextures=True", "UseVSync=False",
                              "Use32BitTextures=True", "Use32BitZBuffer=True", "UseVertexFog=False",
                              "UseVideoMemoryVB=False"}));
    }
    // Only the D3D section changed, nothing else of the file.
    QByteArray expected = original;
    for (const char* key : {"ShinySurfaces", "UseAGPTextures", "UseTrilinear", "DetailTextures", "Use32BitZBuffer"})
        expected = withValue(expected, d3d, key, QByteArray("True"));
    for (const char* key : {"UseVSync", "UseVertexFog", "UseVideoMemoryVB"})
        expected = withValue(expected, d3d, key, QByteArray("False"));
    QCOMPARE(fileBytes(), expected);
}

void RendererGroupsTest::presetAlreadyInPlaceWritesNothing()
{
    startAnswering(original, "bOpenGL");
    showPage("ts3DRender");
    click("rbQualityGL");
    QVERIFY(!child<QRadioButton>("rbQualityGL")->isChecked());
    WriteLog log;
    click("rbQualityGL");
    QVERIFY(child<QRadioButton>("rbQualityGL")->isChecked());
    click("rbQualityGL");
    QCOMPARE(log.count(), 0);
    QVERIFY(game->boxes.errors().isEmpty());
}

void RendererGroupsTest::handClickWritesOnceAndClearsThePresets()
{
    startAnswering(original, "bGlide");
    showPage("ts3DRender");
    click("rbFast3dfx");
    click("rbFast3dfx");
    QVERIFY(child<QRadioButton>("rbFast3dfx")->isChecked());
    WriteLog log;
    click("cbCoronas3dfx");
    QCOMPARE(log.changedLines(), QStringList{"Coronas=True"});
    QVERIFY(!child<QRadioButton>("rbFast3dfx")->isChecked());
    QVERIFY(!child<QRadioButton>("rbQuality3dfx")->isChecked());
    // The locked OpenGL group took no clicks.
    click("cbCoronasGL");
    QCOMPARE(log.count(), 1);
}

void RendererGroupsTest::failedWriteStopsThePresetAtThatBox()
{
    startAnswering(original, "bDirect3D");
    WriteLog log;
    log.failFrom("Coronas=False");
    click("rbFast");
    QCOMPARE(log.changedLines(), QStringList{"VolumetricLighting=False"});
    QCOMPARE(game->boxes.errors(), QStringList{unableToWrite(game->mainIniPath())});
    QVERIFY(!child<QCheckBox>("cbVolumetricLighting")->isChecked());
    QVERIFY(!child<QCheckBox>("cbCoronas")->isChecked());        // the failing box keeps its new state
    QVERIFY(child<QCheckBox>("cbHighDetailActors")->isChecked()); // nothing after it is set
    QVERIFY(!child<QCheckBox>("cbUseVSync")->isChecked());
    QCOMPARE(fileBytes(), withValue(original, d3d, "VolumetricLighting", QByteArray("False")));
}

void RendererGroupsTest::refreshRateField_data()
{
    QTest::addColumn<std::optional<QByteArray>>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("typed"); // empty: leave as shown; "-": clear the field
    QTest::addColumn<std::optional<QByteArray>>("written");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("error");
    using V = std::optional<QByteArray>;
    QTest::newRow("unchanged 75Hz") << V("75Hz") << "75" << "" << V("75Hz") << false << "";
    QTest::newRow("120 accepted") << V("75Hz") << "75" << "120" << V("120Hz") << false << "";
    QTest::newRow("60 accepted") << V("75Hz") << "75" << "60" << V("60Hz") << false << "";
    QTest::newRow("121 corrected") << V("75Hz") << "75" << "121" << V("60Hz") << true << "";
    QTest::newRow("59 corrected") << V("75Hz") << "75" << "59" << V("60Hz") << true << "";
    QTest::newRow("missing shows 0") << V() << "0" << "" << V("60Hz") << true << "";
    QTest::newRow("120 stored bare") << V("120") << "120" << "" << V("120Hz") << false << "";
    QTest::newRow("120Hz stored") << V("120Hz") << "120" << "" << V("120Hz") << false << "";
    QTest::newRow("cleared field") << V("75Hz") << "75" << "-" << V("75Hz") << false
                                   << "'' is not a valid integer value.";
    QTest::newRow("stored empty") << V("") << "" << "" << V("") << false << "'' is not a valid integer value.";
}

void RendererGroupsTest::refreshRateField()
{
    QFETCH(std::optional<QByteArray>, stored);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(std::optional<QByteArray>, written);
    QFETCH(bool, notice);
    QFETCH(QString, error);
    startAnswering(withValue(original, gl, "RefreshRate", stored), "bOpenGL");
    showPage("ts3DRender");
    game->boxes.clear();
    auto* field = child<MaskedEdit>("meRefreshRateGL");
    QCOMPARE(field->value(), shown);
    field->setFocus();
    QVERIFY(field->hasFocus());
    if (typed == "-") {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
    } else if (!typed.isEmpty()) {
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, typed);
    }
    child<QCheckBox>("cbDetailTexturesGL")->setFocus(); // leave the field

    if (stored) {
        QCOMPARE(fileBytes(), withValue(original, gl, "RefreshRate", written));
    } else {
        // A missing key is added to the section.
        QVERIFY(fileBytes().contains("\r\nRefreshRate=60Hz\r\n"));
    }
    QCOMPARE(game->boxes.errors(), error.isEmpty() ? QStringList() : QStringList{error});
    const bool noticeShown = !game->boxes.shown().isEmpty() && game->boxes.shown()[0].kind == Kind::Notice;
    QCOMPARE(noticeShown, notice);
    if (notice) {
        QCOMPARE(game->boxes.shown()[0].text, rangeNotice);
        QCOMPARE(field->value(), QStringLiteral("60"));
        QVERIFY(field->hasFocus());
        QCOMPARE(field->selectedText(), QStringLiteral("60_"));
    }
}

void RendererGroupsTest::refreshRateLeftEveryWay_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("typed");
    // Empty: the field kept the user; else the page shown after, or what a
    // menu item or the window's close button did instead: "about box",
    // "ended".
    QTest::addColumn<QString>("after");
    for (const char* way : {"tab click", "quit button", "Ctrl+Tab", "Ctrl+Shift+Tab", "Ctrl+PgDown", "wheel up", "Tab",
                            "Shift+Tab"})
        QTest::newRow(way) << way << "59" << "";
    // In range the field lets the user go.
    QTest::newRow("in range, tab click") << "tab click" << "75" << "tsSystem";
    QTest::newRow("in range, Ctrl+Tab") << "Ctrl+Tab" << "75" << "tsSystem";
    QTest::newRow("in range, Ctrl+Shift+Tab") << "Ctrl+Shift+Tab" << "75" << "tsAliases";
    QTest::newRow("in range, wheel up") << "wheel up" << "75" << "tsAliases";
    // The menu takes no focus: its items leave the field as it is, in range
    // or not, and the program ends as its window's close button ends it.
    QTest::newRow("menu Info") << "menu Info" << "59" << "about box";
    QTest::newRow("F10, Right, Return") << "F10, Right, Return" << "59" << "about box";
    QTest::newRow("Alt, Right, Return") << "Alt, Right, Return" << "59" << "about box";
    QTest::newRow("menu Beenden") << "menu Beenden" << "59" << "ended";
    QTest::newRow("in range, menu Beenden") << "menu Beenden" << "75" << "ended";
    QTest::newRow("in range, F10, Return") << "F10, Return" << "75" << "ended";
    QTest::newRow("in range, window close button") << "window close button" << "75" << "ended";
}

void RendererGroupsTest::refreshRateLeftEveryWay()
{
    QFETCH(QString, way);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    const QByteArray stored = withValue(original, glide, "RefreshRate", QByteArray("85Hz"));
    game->realBoxes = true;
    {
        const ModalAnswerer keepDevice(QStringLiteral("&No"));
        startAnswering(stored, "bGlide");
    }
    showPage("ts3DRender");
    auto* field = child<MaskedEdit>("meRefreshRate3dfx");
    auto* cache = child<MaskedEdit>("meCache");
    const QString cacheBefore = cache->value();
    typeOver(field, typed);

    ModalAnswerer answerer;
    QString shownMeanwhile, pageMeanwhile;
    answerer.whileOpen = [&] {
        shownMeanwhile = field->value();
        pageMeanwhile = window->PageControl1->currentWidget()->objectName();
    };
    leaveBy(window, way);

    if (after == "ended") {
        QVERIFY(!window->isVisible());
        QCOMPARE(answerer.texts, QStringList());
        QCOMPARE(fileBytes(), stored);
        return;
    }
    QVERIFY(window->isVisible());
    if (after == "about box") {
        QVERIFY(window->InfoForm && window->InfoForm->isVisible());
        QCOMPARE(answerer.texts, QStringList());
        QCOMPARE(fileBytes(), stored);
        QCOMPARE(field->value(), typed);
        // Closed again, the box gives the keys back to the field, as typed.
        QTest::mouseClick(window->InfoForm->findChild<QPushButton*>("bInfoOK"), Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(QApplication::focusWidget(), field);
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_End);
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_7);
        QCOMPARE(field->value(), typed + "7");
        QCOMPARE(fileBytes(), stored);
        return;
    }
    if (!after.isEmpty()) {
        QCOMPARE(answerer.texts, QStringList());
        QCOMPARE(fileBytes(), withValue(original, glide, "RefreshRate", QByteArray("75Hz")));
        QCOMPARE(window->PageControl1->currentWidget()->objectName(), after);
        // The keys go on in the new page.
        QVERIFY(window->PageControl1->currentWidget()->isAncestorOf(QApplication::focusWidget()));
        return;
    }
    QCOMPARE(answerer.texts, QStringList{rangeNotice});
    QCOMPARE(shownMeanwhile, QStringLiteral("60"));
    QCOMPARE(pageMeanwhile, QStringLiteral("ts3DRender"));
    QCOMPARE(fileBytes(), withValue(original, glide, "RefreshRate", QByteArray("60Hz")));
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("ts3DRender"));
    QCOMPARE(window->PageControl1->tabBar()->currentIndex(), 7);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("60_"));
    // The next key goes into the field, replacing the selection.
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_9);
    QCOMPARE(field->value(), QStringLiteral("9"));
    QCOMPARE(cache->value(), cacheBefore);
}

QTEST_MAIN(RendererGroupsTest)
#include "test_renderergroups.moc"
