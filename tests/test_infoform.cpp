#include "app/HauptUnit.h"
#include "app/InfoUnit.h"
#include "support/PageTest.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

// The about box, opened from the main window's menu as the user does.
class InfoFormTest : public PageTest {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void boxShowsNameVersionAndLogo();
    void mainWindowTakesNoInputWhileTheBoxIsOpen();
    void undecodableLogoLeavesTheFrameEmpty();
    void longPathsAreElidedWithinTheMainWindowsWidth();

private:
    template <typename T>
    T* inBox(const char* name) const
    {
        T* widget = window->InfoForm->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    void openBox();
};

void InfoFormTest::init()
{
    PageTest::init();
    start();
}

void InfoFormTest::openBox()
{
    window->findChild<QAction*>("mmInfo")->trigger();
    QVERIFY(window->InfoForm);
    QVERIFY(QTest::qWaitForWindowExposed(window->InfoForm.get()));
}

void InfoFormTest::boxShowsNameVersionAndLogo()
{
    // Nothing of it exists, let alone shows, until "Info".
    QVERIFY(!window->InfoForm);
    for (const QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<const TInfoForm*>(top));
    openBox();
    TInfoForm* box = window->InfoForm.get();
    QCOMPARE(box->windowTitle(), QStringLiteral("Brennwerk-Editor Info"));
    QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(box->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!box->windowIcon().isNull());
    QCOMPARE(box->minimumSize(), box->maximumSize());
    QVERIFY(!box->parentWidget()); // a window of its own, not disabled with the main window

    const auto* version = inBox<QLabel>("LVersionInfo");
    QCOMPARE(version->text(), QStringLiteral("Brennwerk-Editor\nv2.3"));
    QCOMPARE(version->alignment(), Qt::AlignCenter);
    QCOMPARE(version->font().pointSize(), 10);
    QVERIFY(inBox<QFrame>("Panel1")->isAncestorOf(version));
    QCOMPARE(inBox<QPushButton>("bInfoOK")->text(), QStringLiteral("OK"));

    const auto* image = inBox<QLabel>("Image1");
    QCOMPARE(image->pixmap().size(), QSize(220, 80));
    const auto* bevel = inBox<QFrame>("Bevel1");
    QCOMPARE(bevel->frameShadow(), QFrame::Sunken);
    QVERIFY(bevel->isAncestorOf(image));
    QVERIFY(bevel->width() >= 220 && bevel->height() >= 80);

    QCOMPARE(inBox<QLabel>("Label1")->text(), QStringLiteral("Ein Konfigurationswerkzeug für Unreal Tournament"));
    QCOMPARE(inBox<QLabel>("Label2")->text(), QStringLiteral("Linux-Ausgabe"));

    // Below the texts, the files the editor edits; one not there yet is
    // marked, and made since, it is shown as there.
    QCOMPARE(inBox<QLabel>("LMainIni")->text(), "Haupt-INI: " + game->mainIniPath());
    QCOMPARE(inBox<QLabel>("LUserIni")->text(), "User-INI: " + game->userIniPath());
    QVERIFY(inBox<QLabel>("LUserIni")->geometry().top() > inBox<QFrame>("Panel1")->geometry().bottom());
    QTest::mouseClick(inBox<QPushButton>("bInfoOK"), Qt::LeftButton);
    const QByteArray user = readBytes(game->userIniPath());
    QVERIFY(QFile::remove(game->userIniPath()));
    openBox();
    QCOMPARE(inBox<QLabel>("LUserIni")->text(), "User-INI: " + game->userIniPath() + " (noch nicht vorhanden)");
    QCOMPARE(inBox<QLabel>("LMainIni")->text(), "Haupt-INI: " + game->mainIniPath());
    QVERIFY(box->width() >= inBox<QLabel>("LUserIni")->sizeHint().width());
    QTest::mouseClick(inBox<QPushButton>("bInfoOK"), Qt::LeftButton);
    writeBytes(game->userIniPath(), user);
    openBox();
    QCOMPARE(inBox<QLabel>("LUserIni")->text(), "User-INI: " + game->userIniPath());
}

void InfoFormTest::mainWindowTakesNoInputWhileTheBoxIsOpen()
{
    openBox();
    TInfoForm* box = window->InfoForm.get();
    QVERIFY(!window->isEnabled());
    // The quit button takes no click meanwhile.
    QTest::mouseClick(window->bBeenden, Qt::LeftButton);
    QVERIFY(window->isVisible());

    QTest::mouseClick(inBox<QPushButton>("bInfoOK"), Qt::LeftButton);
    QVERIFY(!box->isVisible());
    QVERIFY(window->isEnabled());

    // Again, closed by its close button this time.
    openBox();
    QVERIFY(!window->isEnabled());
    QVERIFY(box->close());
    QVERIFY(!box->isVisible());
    QVERIFY(window->isEnabled());

    // And once more: the box can be shown any number of times, and it is
    // the same box each time.
    openBox();
    QCOMPARE(window->InfoForm.get(), box);
    QVERIFY(!window->isEnabled());
    QTest::mouseClick(inBox<QPushButton>("bInfoOK"), Qt::LeftButton);
    QVERIFY(window->isEnabled());

    // From the keyboard: the menu bar opens it (F10, Right to "Info",
    // Return); Escape closes it, and so does Return, which presses "OK".
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QVERIFY(QTest::qWaitForWindowActive(window));
        for (const Qt::Key menuKey : {Qt::Key_F10, Qt::Key_Right, Qt::Key_Return})
            QTest::keyClick(static_cast<QWidget*>(nullptr), menuKey);
        QVERIFY(box->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(static_cast<QWidget*>(nullptr), key);
        QVERIFY(!box->isVisible());
        QVERIFY(window->isEnabled());
    }
    QVERIFY(game->boxes.shown().isEmpty());
}

void InfoFormTest::longPathsAreElidedWithinTheMainWindowsWidth()
{
    stop();
    const QString folder = game->gameDir() + "/" + QString(150, 'x') + "/" + QString(150, 'y');
    QVERIFY(QDir().mkpath(folder));
    start({"--ini-dir", folder});
    openBox();
    TInfoForm* box = window->InfoForm.get();
    QVERIFY(box->width() <= window->width());
    const auto* line = inBox<QLabel>("LUserIni");
    QVERIFY2(line->text().startsWith("User-INI: " + folder.left(12)), qPrintable(line->text()));
    QVERIFY2(line->text().endsWith("yyy/User.ini (noch nicht vorhanden)"), qPrintable(line->text()));
    QVERIFY(line->text().contains(QChar(0x2026)));
    QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->contentsRect().width());
    QCOMPARE(line->toolTip(), folder + "/User.ini");
}

void InfoFormTest::undecodableLogoLeavesTheFrameEmpty()
{
    const QByteArray logo = logoJpeg();
    for (const QByteArray& broken : {QByteArray("no picture"), logo.left(logo.size() / 2), QByteArray()}) {
        TInfoForm box(*window, broken);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(!window->isEnabled());
        const auto* image = box.findChild<QLabel*>("Image1");
        QVERIFY(image);
        QVERIFY(image->pixmap().isNull());
        QCOMPARE(box.findChild<QLabel*>("LVersionInfo")->text(), QStringLiteral("Brennwerk-Editor\nv2.3"));
        QVERIFY(box.close());
        QVERIFY(window->isEnabled());
    }
}

QTEST_MAIN(InfoFormTest)
#include "test_infoform.moc"
