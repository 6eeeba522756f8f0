#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "platform/GamePaths.h"
#include "support/Environment.h"
#include "support/ModalAnswerer.h"
#include "support/PageTest.h"
#include "support/ProcessState.h"
#include "support/RegistryText.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

// From the command line to the shown window: where the game folder comes
// from (registry, option, the open dialog), and what start-up installs.
class StartupTest : public PageTest {
    Q_OBJECT

public:
    StartupTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void registryFoundShowsTheSystemPage();
    void missingRegistryAsksForTheExecutable();
    void cancelledDialogEndsWithNothingWritten();
    void folderThatIsNotTextCountsAsMissing();
    void gameDirOptionSkipsTheRegistry();
    void openDialogTakesTheLinuxExecutable();
    void readOnlyMainIniWithTheRealBoxes();
    void realOpenFileDialogKeepsNoHistory_data();
    void realOpenFileDialogKeepsNoHistory();
    void qtTextsFollowTheUserLanguage();
};

void StartupTest::registryFoundShowsTheSystemPage()
{
    game->registerGameDir();
    const QByteArray registryBefore = readBytes(game->registryPath());
    start();
    QCOMPARE(window->windowTitle(), QStringLiteral("Brennwerk-Editor v2.3"));
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(window->state().GameDir, game->gameDir());
    QCOMPARE(window->state().MainIniPath, game->mainIniPath());
    QCOMPARE(window->state().UserIniPath, game->userIniPath());
    QCOMPARE(readBytes(game->registryPath()), registryBefore);

    QTabWidget* tabs = window->PageControl1;
    const QStringList captions{"System", "User", "Multiplayer Game", "Tastenbelegung",
                               "Registry", "WeapponPriority", "Aliases", "andere 3D-Renderer"};
    const QStringList names{"tsSystem", "tsUser", "tsMultiplayer", "tsTastenbelegung",
                            "tsRegistry", "tsWeapponpriority", "tsAliases", "ts3DRender"};
    QCOMPARE(tabs->count(), 8);
    for (int i = 0; i < tabs->count(); ++i) {
        QCOMPARE(tabs->tabText(i), captions[i]);
        QCOMPARE(tabs->widget(i)->objectName(), names[i]);
        QCOMPARE(tabs->isTabVisible(i), i != 7);
    }
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tsSystem"));
    QVERIFY(window->bBeenden->isVisible());

    QStringList menu;
    for (const QAction* action : window->menuBar()->actions())
        menu << action->text();
    QCOMPARE(menu, (QStringList{"Beenden", "Info"}));
}

void StartupTest::missingRegistryAsksForTheExecutable()
{
    game->boxes.queueOpenFile(game->gameDir() + "/System/UnrealTournament.exe");
    start();

    const auto& shown = game->boxes.shown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].kind, Kind::OpenDialog);
    QCOMPARE(shown[1].kind, Kind::Information);
    QCOMPARE(shown[1].text, QStringLiteral("Du solltest mit Hilfe des Registry-Tabs den Pfad dauerhaft speichern!\n"
                                           "(Der Öffnen-Dialog wird dann nicht mehr angezeigt.)"));
    QCOMPARE(window->state().GameDir, game->gameDir());
    QCOMPARE(window->state().MainIniPath, game->mainIniPath());
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsRegistry"));
    // The System page was never shown, so nothing was read into it or written.
    QCOMPARE(fileBytes(), original);
    QVERIFY(!QFile::exists(game->registryPath()));
}

void StartupTest::cancelledDialogEndsWithNothingWritten()
{
    const QByteArray userBefore = readBytes(game->userIniPath());
    game->boxes.queueOpenFile(std::nullopt);
    QVERIFY(!game->start());
    QCOMPARE(game->exitCode(), 0);
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::OpenDialog);
    QCOMPARE(fileBytes(), original);
    QCOMPARE(readBytes(game->userIniPath()), userBefore);
    QVERIFY(!QFile::exists(game->registryPath()));
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible());
}

void StartupTest::folderThatIsNotTextCountsAsMissing()
{
    writeBytes(game->registryPath(),
               registryText("[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"
                            "\"Folder\"=dword:00000001\n"));
    start();
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(window->state().GameDir, QString());
    QCOMPARE(window->state().MainIniPath, GamePaths::mainIniPath(QString()));
    QVERIFY(window->state().MainIniPath.endsWith("/UnrealTournament.ini"));
}

void StartupTest::gameDirOptionSkipsTheRegistry()
{
    game->registerGameDir("/nowhere/at/all");
    start({"--game-dir", game->gameDir()});
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(window->state().GameDir, game->gameDir());
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsSystem"));
}

void StartupTest::openDialogTakesTheLinuxExecutable()
{
    // The real dialog and box: the user types the path of a Linux build's
    // executable and confirms, then dismisses the hint.
    const QString executable = game->gameDir() + "/System/ut-bin";
    writeBytes(executable, "#!/bin/sh\n");
    QVERIFY(QFile::setPermissions(executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QStringList seen;
    game->realBoxes = true;
    const ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            seen << dialog->nameFilters().join(';');
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(executable);
            QTest::keyClick(name, Qt::Key_Return);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->text();
            QTest::mouseClick(box->buttons().constFirst(), Qt::LeftButton);
        }
    });
    start();
    QCOMPARE(seen.size(), 2);
    QVERIFY2(seen[0].contains("(UnrealTournament.exe ut-bin ut-bin-amd64 ucc-bin)"), qPrintable(seen[0]));
    QVERIFY(seen[1].startsWith("Du solltest mit Hilfe des Registry-Tabs"));
    QCOMPARE(window->state().GameDir, game->gameDir());
    QCOMPARE(window->state().MainIniPath, game->mainIniPath());
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsRegistry"));
}

void StartupTest::readOnlyMainIniWithTheRealBoxes()
{
    // Players protect their settings with chmod 444. The System page's first
    // show then fails on the Direct3D refresh, which would rewrite "1" as
    // "True", while the window has just been shown.
    game->registerGameDir();
    const QByteArray file = withValue(original, "D3DDrv.D3DRenderDevice", "UseMultitexture", QByteArray("1"));
    writeBytes(game->mainIniPath(), file);
    setReadOnly();
    game->realBoxes = true;
    const ModalAnswerer answerer;
    start();
    QCOMPARE(answerer.texts, QStringList{unableToWrite(game->mainIniPath())});
    QVERIFY(window->isVisible());
    // It goes on running: other pages show and the file stays as it was.
    showPage("tsUser");
    showPage("tsSystem");
    QVERIFY(window->isVisible());
    QCOMPARE(fileBytes(), file);
}

void StartupTest::realOpenFileDialogKeepsNoHistory_data()
{
    QTest::addColumn<bool>("pick");
    QTest::newRow("picked") << true;
    QTest::newRow("cancelled") << false;
}

void StartupTest::realOpenFileDialogKeepsNoHistory()
{
    QFETCH(bool, pick);
    QTemporaryDir config;
    const UserSettingsPath settings(config.path());
    Environment environment;
    environment.set("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    game->realBoxes = true;
    QString filterShown;
    const ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Ok)->click();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        filterShown = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText();
        if (!pick) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->clear();
        QTest::keyClicks(name, game->gameDir() + "/System/UnrealTournament.exe");
        QTest::keyClick(name, Qt::Key_Return);
    });
    window = game->start();
    QCOMPARE(window != nullptr, pick);
    QCOMPARE(filterShown, QStringLiteral("UnrealTournament.exe"));
    if (pick) {
        QCOMPARE(window->state().GameDir, game->gameDir());
        QCOMPARE(answerer.texts.size(), 1);
    } else {
        QCOMPARE(fileBytes(), original);
    }
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    // Where a dialog of Qt's would have kept its history.
    delete new QFileDialog;
    QVERIFY(QFile::exists(config.filePath(QStringLiteral("QtProject.conf"))));
}

void StartupTest::qtTextsFollowTheUserLanguage()
{
    const InstalledTranslators translators;
    QVERIFY(loadQtTranslations(QLocale(QLocale::German, QLocale::Germany)));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Suchen in:"));
    // The program's own captions stay as they are.
    game->registerGameDir();
    start();
    QCOMPARE(child<QAction>("mmBeenden")->text(), QStringLiteral("Beenden"));
}

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
