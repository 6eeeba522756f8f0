#include "app/HauptUnit.h"
#include "pages/OtherRenderersPage.h"
#include "pages/SystemPage.h"
#include "support/PageTest.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

// How the keys and the wheel reach the main window: Return on the focused
// button, the Tab order of every page, and the ways of changing pages that
// must never reach the hidden one.
class MainWindowInputTest : public PageTest {
    Q_OBJECT

private Q_SLOTS:
    void returnPressesTheFocusedButton_data();
    void returnPressesTheFocusedButton();
    void tabGoesDownThePageAndEndsOnBeenden_data();
    void tabGoesDownThePageAndEndsOnBeenden();
    void hiddenPageCannotBeReached_data();
    void hiddenPageCannotBeReached();
    void secondKeyOnAControlThatWentDoesNothing_data();
    void secondKeyOnAControlThatWentDoesNothing();

private:
    // Both groups of "andere 3D-Renderer" open, as after the renderer
    // question.
    void unlockOtherRenderers() const;
};

void MainWindowInputTest::unlockOtherRenderers() const
{
    window->revealOtherRenderersPage();
    OtherRenderersPage* renderers = window->otherRenderersPage();
    renderers->unlockOpenGL();
    renderers->activateOpenGL();
    renderers->unlockGlide();
    renderers->activateGlide();
}

void MainWindowInputTest::returnPressesTheFocusedButton_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("pressed"); // empty: none
    QTest::newRow("Eintragen, System") << "tsSystem" << "bCacheEintragen" << int(Qt::Key_Return) << "bCacheEintragen";
    QTest::newRow("Eintragen, User") << "tsUser" << "bXanEintragen" << int(Qt::Key_Enter) << "bXanEintragen";
    QTest::newRow("<--") << "tsWeapponpriority" << "bPriorityEintragen" << int(Qt::Key_Return) << "bPriorityEintragen";
    QTest::newRow("Aktualisieren") << "tsTastenbelegung" << "bKeyBindAktualisieren" << int(Qt::Key_Enter)
                                   << "bKeyBindAktualisieren";
    QTest::newRow("Wiederherstellen, Aliases") << "tsAliases" << "bOriginalAliases" << int(Qt::Key_Return)
                                               << "bOriginalAliases";
    // In a field Return stays the field's: no button is pressed.
    QTest::newRow("in a field") << "tsSystem" << "meCache" << int(Qt::Key_Return) << "";
    // While the menu bar is open the keys are its own.
    QTest::newRow("F10 and Escape first") << "tsSystem" << "bCacheEintragen" << -int(Qt::Key_Return)
                                          << "bCacheEintragen";
}

void MainWindowInputTest::returnPressesTheFocusedButton()
{
    QFETCH(QString, page);
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(QString, pressed);
    game->registerGameDir();
    start();
    showPage(qPrintable(page));
    QList<QPushButton*> buttons = window->PageControl1->currentWidget()->findChildren<QPushButton*>();
    buttons << window->bBeenden;
    QStringList clicked;
    for (QPushButton* button : buttons)
        connect(button, &QPushButton::clicked, this, [&clicked, button] { clicked << button->objectName(); });
    QWidget* target = child<QWidget>(focus);
    QVERIFY(target->isEnabled());
    target->setFocus();
    QCOMPARE(QApplication::focusWidget(), target);
    if (key < 0) {
        QTest::keyClick(target, Qt::Key_F10);
        QTest::keyClick(target, Qt::Key_Escape);
        QVERIFY(window->isVisible());
        key = -key;
    }
    QTest::keyClick(target, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(clicked, pressed.isEmpty() ? QStringList() : QStringList{pressed});
    QVERIFY(window->isVisible());
}

void MainWindowInputTest::tabGoesDownThePageAndEndsOnBeenden_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("stops");
    // The controls that take the focus on a fresh start: the locked
    // Direct3D group and the buttons disabled at start are skipped.
    QTest::newRow("System") << "tsSystem"
                            << QStringList{"meCache", "bCacheEintragen", "bNoIntro", "eIRCNick", "bBeenden"};
    QTest::newRow("User") << "tsUser"
                          << QStringList{"eName", "rbBlau", "coboModel", "coboSkinMC", "bXanEintragen", "meFOV",
                                         "bBeenden"};
    QTest::newRow("Multiplayer Game") << "tsMultiplayer"
                                      << QStringList{"leServerName", "leAdminName", "leAdminEmail", "leAdminPasswort",
                                                     "cbLAN", "cbAdvertise", "leMOTD1", "leMOTD2", "leMOTD3",
                                                     "leMOTD4", "bBeenden"};
    QTest::newRow("Tastenbelegung") << "tsTastenbelegung"
                                    << QStringList{"vleKeyBindings", "bKeyBindAktualisieren", "bKeyBindEintragen",
                                                   "bBeenden"};
    QTest::newRow("Registry") << "tsRegistry"
                              << QStringList{"cbModule", "cbMap", "cbLink", "cbProtocol", "bBeenden"};
    QTest::newRow("WeapponPriority") << "tsWeapponpriority"
                                     << QStringList{"bPriorityEintragen", "mePriority", "coboWeappon", "bBeenden"};
    // The quit button is hidden here.
    QTest::newRow("Aliases") << "tsAliases"
                             << QStringList{"vleAliases", "leAliasName", "leAliasCommand", "meAliasPosition",
                                            "bIJumpEintragen", "bAliasDelete", "bOriginalAliases", "BitBtn1"};
    // Each group down its left column, the refresh rate at its foot, down
    // the right column, then the presets (one stop for the two).
    QTest::newRow("andere 3D-Renderer")
        << "ts3DRender"
        << QStringList{"cbDetailTexturesGL", "cbUseTrilinearGL", "cbUseS3TCGL", "cbUseTNTGL", "cbUseMultiTextureGL",
                       "cbTranslucencyGL", "meRefreshRateGL", "cbVolumetricLightingGL", "cbShinySurfacesGL",
                       "cbCoronasGL", "cbHighDetailActorsGL", "cbMaxAnisotropyGL", "cbAlwaysMipmapGL",
                       "cbUsePrecacheGL", "rbQualityGL", "cbTranslucency3dfx", "cbVolumetricLighting3dfx",
                       "cbShinySurfaces3dfx", "cbCoronas3dfx", "meRefreshRate3dfx", "cbHighDetailActors3dfx",
                       "cbDetailTextures3dfx", "cbFastUglyRefresh3dfx", "cbScreenSmoothing3dfx",
                       "cbDisableVSync3dfx", "rbQuality3dfx", "bBeenden"};
}

void MainWindowInputTest::tabGoesDownThePageAndEndsOnBeenden()
{
    QFETCH(QString, page);
    QFETCH(QStringList, stops);
    game->registerGameDir();
    start();
    unlockOtherRenderers();
    showPage(qPrintable(page));
    QTabBar* tabs = window->PageControl1->tabBar();
    tabs->setFocus();
    QStringList reached;
    for (int key = 0; key < 60; ++key) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        if (focus == tabs)
            break;
        // A combo box's line edit and a grid's editor stand for their control.
        while (focus->objectName().isEmpty() || focus->objectName().startsWith(QLatin1String("qt_")))
            focus = focus->parentWidget();
        reached << focus->objectName();
    }
    QCOMPARE(reached, stops);
    // Shift+Tab goes back the same way from the tab bar.
    QStringList back;
    for (qsizetype stop = stops.size() - 1; stop >= 0; --stop) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QWidget* focus = QApplication::focusWidget();
        while (focus->objectName().isEmpty() || focus->objectName().startsWith(QLatin1String("qt_")))
            focus = focus->parentWidget();
        back.prepend(focus->objectName());
    }
    QCOMPARE(back, stops);

    // Ctrl+Tab from a control of the page takes the keys into the next one,
    // also when that is built only then.
    child<QWidget>(stops.first())->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(window->PageControl1->currentWidget()->isAncestorOf(QApplication::focusWidget()));
}

void MainWindowInputTest::hiddenPageCannotBeReached_data()
{
    QTest::addColumn<QString>("answer"); // empty: the question was closed
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("pageAfter");
    for (const char* answer : {"", "bDirect3D"}) {
        const QString suffix = *answer ? QStringLiteral(", Direct3D") : QStringLiteral(", closed");
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(name + suffix)) << QString::fromLatin1(answer);
        };
        row("Ctrl+Tab") << "tsAliases" << "Ctrl+Tab" << "tsSystem";
        row("Ctrl+Shift+Tab") << "tsSystem" << "Ctrl+Shift+Tab" << "tsAliases";
        row("Ctrl+PgDown") << "tsAliases" << "Ctrl+PgDown" << "tsSystem";
        row("Ctrl+PgUp") << "tsSystem" << "Ctrl+PgUp" << "tsAliases";
        row("wheel") << "tsAliases" << "wheel down" << "tsAliases";
        row("arrow key") << "tsAliases" << "Right on the tab bar" << "tsAliases";
    }
    // From the quit button too, which lies outside the pages.
    QTest::newRow("Ctrl+Tab on the quit button") << "" << "quit button focused" << "Ctrl+Tab" << "tsUser";
}

void MainWindowInputTest::hiddenPageCannotBeReached()
{
    QFETCH(QString, answer);
    QFETCH(QString, from);
    QFETCH(QString, way);
    QFETCH(QString, pageAfter);
    // The OpenGL refresh would rewrite this key as "True".
    const QByteArray stored = withValue(original, "OpenGLDrv.OpenGLRenderDevice", "Coronas", QByteArray("1"));
    game->boxes.queueAnswer(MessageBoxes::Answer::No);
    startAnswering(stored, answer.isEmpty() ? nullptr : qPrintable(answer));
    const QByteArray afterStart = fileBytes();
    if (from == "quit button focused") {
        window->bBeenden->setFocus();
        QCOMPARE(QApplication::focusWidget(), window->bBeenden);
    } else {
        showPage(qPrintable(from));
        window->PageControl1->currentWidget()->setFocus();
    }
    leaveBy(window, way);
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), pageAfter);
    QVERIFY(!child<QWidget>("ts3DRender")->isVisible());
    QCOMPARE(fileBytes(), afterStart);
    QVERIFY(afterStart.contains("\r\nCoronas=1\r\n"));
}

void MainWindowInputTest::secondKeyOnAControlThatWentDoesNothing_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("typed"); // "field=text", typed before
    QTest::addColumn<bool>("registered");   // the install path in the registry
    QTest::addColumn<bool>("firstWrites");
    QTest::addColumn<QString>("keysAfter"); // the widget with the focus after the first key
    QTest::addColumn<QString>("tabTo");     // where Tab goes from there; empty: not tried
    // Every control that closes, ticks or selects itself, and every
    // "Eintragen": the first key acts, the second, meant for it as well,
    // finds nothing that writes or quits. Return presses push buttons only.
    // A control that went leaves the keys to the field it writes, else to
    // its page, from where Tab goes on to the control after it.
    struct Row {
        const char* page;
        const char* control;
        QStringList typed = {};
        const char* heir = nullptr; // when the control goes
        const char* tabTo = "";
        bool registered = true;
        bool firstWrites = true;
    };
    const auto rows = [](const Row& row) {
        const bool button = QByteArray(row.control).startsWith("b");
        for (const auto& [key, name] : {std::pair{Qt::Key_Space, "Space"}, std::pair{Qt::Key_Return, "Return"}}) {
            const bool acts = button || key == Qt::Key_Space;
            QTest::addRow("%s, %s", row.control, name)
                << row.page << row.control << int(key) << row.typed << row.registered << (row.firstWrites && acts)
                << (acts && row.heir ? row.heir : row.control) << (acts ? row.tabTo : "");
        }
    };
    rows({"tsSystem", "bCacheEintragen", {}, "meCache"});
    rows({"tsSystem", "bNoIntro"});
    rows({"tsSystem", "bIRCNickEintragen", {"eIRCNick=Funke"}});
    rows({"tsSystem", "rbQuality"});
    rows({"tsSystem", "rbFast"});
    rows({"tsUser", "bNameEintragen", {"eName=Anna"}});
    rows({"tsUser", "bXanEintragen"});
    // Writes back what it shows: nothing changes the first time either.
    rows({"tsTastenbelegung", "bKeyBindEintragen", {}, nullptr, "", true, false});
    rows({"tsAliases", "bAliasEintragen", {"leAliasName=Sprung", "leAliasCommand=Jump"}, "leAliasCommand"});
    rows({"tsRegistry", "cbUTPath", {}, "tsRegistry", "cbModule", false});
    rows({"tsRegistry", "cbModule", {}, "tsRegistry", "cbMap"});
    rows({"tsRegistry", "cbMap", {}, "tsRegistry", "cbLink"});
    rows({"tsRegistry", "cbLink", {}, "tsRegistry", "cbProtocol"});
    rows({"tsRegistry", "cbProtocol", {}, "tsRegistry", "bBeenden"});
    for (const char* preset : {"rbQualityGL", "rbFastGL", "rbQuality3dfx", "rbFast3dfx"})
        rows({"ts3DRender", preset});
}

void MainWindowInputTest::secondKeyOnAControlThatWentDoesNothing()
{
    QFETCH(QString, page);
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(QStringList, typed);
    QFETCH(bool, registered);
    QFETCH(bool, firstWrites);
    QFETCH(QString, keysAfter);
    QFETCH(QString, tabTo);
    if (registered)
        game->registerGameDir();
    else
        QFile::remove(game->registryPath());
    start(registered ? QStringList() : QStringList{"--game-dir", game->gameDir()});
    unlockOtherRenderers();
    window->systemPage()->unlockD3D();
    window->D3DActivate();
    showPage(qPrintable(page));
    for (const QString& field : typed)
        typeOver(child<QWidget>(field.section(u'=', 0, 0)), field.section(u'=', 1));
    QWidget* target = child<QWidget>(control);
    QVERIFY(target->isEnabled() && target->isVisible());
    target->setFocus(Qt::TabFocusReason);
    const auto files = [this] {
        return QList<QByteArray>{readBytes(game->mainIniPath()), readBytes(game->userIniPath()),
                                 readBytes(game->registryPath())};
    };
    const QList<QByteArray> before = files();

    // Through the window, as the window system hands a key to the focus.
    QTest::keyClick(window->windowHandle(), Qt::Key(key));
    const QList<QByteArray> afterFirst = files();
    QCOMPARE(afterFirst != before, firstWrites);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(keysAfter));
    QTest::keyClick(window->windowHandle(), Qt::Key(key));
    QVERIFY(window->isVisible());
    QVERIFY(child<QTimer>("Timer1")->isActive());
    QCOMPARE(files(), afterFirst);
    QVERIFY(game->boxes.shown().isEmpty());
    if (!tabTo.isEmpty()) {
        QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child<QWidget>(tabTo));
    }
}

QTEST_MAIN(MainWindowInputTest)
#include "test_mainwindowinput.moc"
