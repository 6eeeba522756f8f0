#include "app/HauptUnit.h"
#include "support/PageTest.h"
#include "support/ProcessState.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

// The main window around the pages: its quit button, the ways of closing
// it, and the clock in its status bar.
class MainWindowTest : public PageTest {
    Q_OBJECT

public:
    MainWindowTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void quitButtonFollowsThePage();
    void everyWayOfClosingEndsTheWindow_data();
    void everyWayOfClosingEndsTheWindow();
    void clockShowsLocalTimeAndDate();
};

void MainWindowTest::quitButtonFollowsThePage()
{
    game->registerGameDir();
    start();
    QTabWidget* tabs = window->PageControl1;
    showPage("tsAliases");
    QVERIFY(!window->bBeenden->isVisible());
    tabs->setTabVisible(7, true);
    showPage("ts3DRender");
    QVERIFY(!window->bBeenden->isVisible());
    for (const char* page : {"tsUser", "tsMultiplayer", "tsTastenbelegung", "tsRegistry", "tsWeapponpriority", "tsSystem"}) {
        showPage("tsAliases");
        showPage(page);
        QVERIFY2(window->bBeenden->isVisible(), page);
    }
    showPage("ts3DRender");
    QVERIFY(window->bBeenden->isVisible());
}

void MainWindowTest::everyWayOfClosingEndsTheWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("quit button") << "button";
    QTest::newRow("menu item") << "menu";
    QTest::newRow("window close") << "close";
    // By keys alone: the first item of the menu bar is "Beenden".
    QTest::newRow("F10, Return") << "F10";
    QTest::newRow("Alt, Return") << "Alt";
    QTest::newRow("Return on the quit button") << "Return";
}

void MainWindowTest::everyWayOfClosingEndsTheWindow()
{
    QFETCH(QString, way);
    game->registerGameDir();
    start();
    const QByteArray mainAfterStart = readBytes(game->mainIniPath());
    const QByteArray userAfterStart = readBytes(game->userIniPath());
    if (way == "button") {
        QTest::mouseClick(window->bBeenden, Qt::LeftButton);
    } else if (way == "F10" || way == "Alt") {
        QWidget* field = child<QWidget>("meCache");
        field->setFocus();
        QTest::keyClick(field, way == "F10" ? Qt::Key_F10 : Qt::Key_Alt);
        QVERIFY(window->isVisible());
        QTest::keyClick(field, Qt::Key_Return);
    } else if (way == "Return") {
        window->bBeenden->setFocus();
        QTest::keyClick(window->bBeenden, Qt::Key_Return);
    } else if (way == "menu") {
        child<QAction>("mmBeenden")->trigger();
    } else {
        window->close();
    }
    QVERIFY(!window->isVisible());
    QVERIFY(!child<QTimer>("Timer1")->isActive());
    QCOMPARE(readBytes(game->mainIniPath()), mainAfterStart);
    QCOMPARE(readBytes(game->userIniPath()), userAfterStart);
    QVERIFY(game->boxes.shown().isEmpty());
}

void MainWindowTest::clockShowsLocalTimeAndDate()
{
    DefaultLocale locale(QLocale(QLocale::German, QLocale::Germany));
    game->registerGameDir();
    start();
    auto* time = child<QLabel>("StatusBar1Panel1");
    auto* date = child<QLabel>("StatusBar1Panel2");
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(time->text()).hasMatch());
    QVERIFY(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d\\d$").match(date->text()).hasMatch());
    QVERIFY(child<QLabel>("StatusBar1Panel0")->text().isEmpty());
    // The panels show their whole text.
    QVERIFY(time->width() >= time->fontMetrics().horizontalAdvance(time->text()));
    QVERIFY(date->width() >= date->fontMetrics().horizontalAdvance(date->text()));

    const QString first = time->text();
    QTRY_VERIFY_WITH_TIMEOUT(time->text() != first, 3000);

    locale.set(QLocale(QLocale::English, QLocale::UnitedStates));
    window->Timer1Timer();
    QVERIFY2(time->text().endsWith("AM") || time->text().endsWith("PM"), qPrintable(time->text()));
}

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
