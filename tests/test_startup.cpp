#include "app/HauptUnit.h"
#include "app/RendererUnit.h"
#include "app/Startup.h"
#include "config/GameConfigStore.h"
#include "controls/EventRules.h"
#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"
#include "support/Environment.h"
#include "support/ModalAnswerer.h"
#include "support/PageTest.h"
#include "support/RegistryText.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QVBoxLayout>
#include <QTabWidget>
#include <QTest>

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
    void commandLine_data();
    void commandLine();
    void executablePathIsCutBy28Characters();
    void openDialogTakesTheLinuxExecutable();
    void helpNamesTheOptions();
    void iniPathsMatchTheFilesOnDisk_data();
    void iniPathsMatchTheFilesOnDisk();
    void linuxBuildEditsTheFilesTheGameReads_data();
    void linuxBuildEditsTheFilesTheGameReads();
    void quitButtonFollowsThePage();
    void everyWayOfClosingEndsTheWindow_data();
    void everyWayOfClosingEndsTheWindow();
    void clockShowsLocalTimeAndDate();
    void pagesAreBuiltOnTheirFirstShowAndFitTheWindow();
    void pageBuiltAfterTheWindowWasSizedGrowsIt();
    void readOnlyMainIniWithTheRealBoxes();
    void realOpenFileDialogKeepsNoHistory_data();
    void realOpenFileDialogKeepsNoHistory();
    // Last: it leaves Qt's German texts installed.
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

void StartupTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("errPattern");

    QTest::newRow("version") << QStringList{"--version"} << 0
                             << "Brennwerk-Editor 2.3\nCopyright (c) 2026 The Brennwerk-Editor developers\n"
                                "MIT licence: free to use, change and share, without warranty.\n"
                             << "^$";
    QTest::newRow("unknown option") << QStringList{"--frobnicate=1"} << 2 << ""
                                    << "^brennwerk-editor: unknown option '--frobnicate'; try .*--help'\n$";
    QTest::newRow("unknown short option") << QStringList{"-q"} << 2 << "" << "^brennwerk-editor: unknown option '-q'; try .*--help'\n$";
    QTest::newRow("missing argument") << QStringList{"--game-dir"} << 2 << "" << "^brennwerk-editor: .*game-dir.*\n$";
    QTest::newRow("not a folder") << QStringList{"--game-dir", "/no/such/folder"} << 2 << "" << "^brennwerk-editor: .*/no/such/folder.*\n$";
    QTest::newRow("stray argument") << QStringList{"extra"} << 2 << "" << "^brennwerk-editor: .*extra.*\n$";
    QTest::newRow("--ini-dir not a folder") << QStringList{"--ini-dir", "/no/such/folder"} << 2 << ""
                                            << "^brennwerk-editor: .*/no/such/folder.*\n$";
}

void StartupTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    game->registerGameDir();
    QVERIFY(!game->start(arguments));
    QCOMPARE(game->exitCode(), exitCode);
    QTEST(game->out, "out");
    QFETCH(QString, errPattern);
    QVERIFY2(QRegularExpression(errPattern).match(game->err).hasMatch(), qPrintable(game->err));
    QVERIFY(game->boxes.shown().isEmpty());
}

void StartupTest::executablePathIsCutBy28Characters()
{
    QCOMPARE(GamePaths::gameDirFromExecutable("/home/anna/Games/UnrealTournament/System/UnrealTournament.exe"),
             QStringLiteral("/home/anna/Games/UnrealTournament"));
    // By count alone: another name loses 28 characters all the same.
    QCOMPARE(GamePaths::gameDirFromExecutable("/opt/games/unreal/bin/some-other-programs.bin"),
             QStringLiteral("/opt/games/unreal"));
    QCOMPARE(GamePaths::gameDirFromExecutable("/System/UnrealTournament.exe"), QString());
    QCOMPARE(GamePaths::gameDirFromExecutable("/x/UnrealTournament.exe"), QString());
    // The Linux builds' executables: the folder above the one holding them.
    QCOMPARE(GamePaths::gameDirFromExecutable("/opt/ut/System/ut-bin"), QStringLiteral("/opt/ut"));
    QCOMPARE(GamePaths::gameDirFromExecutable("/opt/ut/System64/ut-bin-amd64"), QStringLiteral("/opt/ut"));
    QCOMPARE(GamePaths::gameDirFromExecutable("/srv/ut server/System/ucc-bin"), QStringLiteral("/srv/ut server"));
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

void StartupTest::helpNamesTheOptions()
{
    QString out, err;
    ScriptedMessageBoxes boxes;
    const StartResult result = startEditor({"brennwerk-editor", "--help"}, boxes, out, err);
    QVERIFY(!result.window);
    QCOMPARE(result.exitCode, 0);
    for (const char* option : {"--game-dir DIR", "--ini-dir DIR", "--registry FILE", "--help", "--version", "paths"})
        QVERIFY2(out.contains(option), option);
    QVERIFY(err.isEmpty());
}

// Makes the folders (ending in "/") and files (each with its own cache
// size, told by its place in the list).
void makeTree(const QStringList& made)
{
    for (qsizetype i = 0; i < made.size(); ++i) {
        const QString& path = made[i];
        QVERIFY(QDir().mkpath(path.endsWith('/') ? path : QFileInfo(path).absolutePath()));
        if (path.endsWith('/'))
            continue;
        writeBytes(path, QStringLiteral("[Engine.GameEngine]\r\nCacheSizeMegs=%1\r\n").arg(100 + i).toLatin1());
        if (path.contains("/ut-bin") || path.endsWith("/ucc-bin"))
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
}

void StartupTest::iniPathsMatchTheFilesOnDisk_data()
{
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QString>("main");
    QTest::addColumn<QString>("user");
    QTest::newRow("the game's spelling") << QStringList{"System/UnrealTournament.ini", "System/User.ini"}
                                         << "System/UnrealTournament.ini" << "System/User.ini";
    QTest::newRow("another letter case") << QStringList{"SYSTEM/unrealtournament.ini", "SYSTEM/user.ini"}
                                         << "SYSTEM/unrealtournament.ini" << "SYSTEM/user.ini";
    QTest::newRow("an empty folder beside the files")
        << QStringList{"System/UnrealTournament.ini", "System/User.ini", "system/"} << "System/UnrealTournament.ini"
        << "System/User.ini";
    QTest::newRow("the files beside an empty System")
        << QStringList{"System/", "system/UnrealTournament.ini", "system/User.ini"} << "system/UnrealTournament.ini"
        << "system/User.ini";
    QTest::newRow("a missing file where the game's others are")
        << QStringList{"system/", "System/UnrealTournament.ini", "sYSTEM/"} << "System/UnrealTournament.ini"
        << "System/User.ini";
    QTest::newRow("missing files get the game's spelling") << QStringList{"system/"} << "system/UnrealTournament.ini"
                                                           << "system/User.ini";
    QTest::newRow("two spellings of a file")
        << QStringList{"System/unrealtournament.ini", "System/UnrealTournament.ini", "System/USER.INI"}
        << "System/UnrealTournament.ini" << "System/USER.INI";
    QTest::newRow("no System folder") << QStringList{} << "System/UnrealTournament.ini" << "System/User.ini";
}

void StartupTest::iniPathsMatchTheFilesOnDisk()
{
    QFETCH(QStringList, made);
    QTemporaryDir dir;
    for (QString& path : made)
        path.prepend(dir.path() + "/");
    makeTree(made);
    QTEST(GamePaths::mainIniPath(dir.path()).mid(dir.path().size() + 1), "main");
    QTEST(GamePaths::userIniPath(dir.path()).mid(dir.path().size() + 1), "user");

    // The editor reads the game's files, not an empty folder beside them,
    // and writes a file that is missing where the game reads it.
    if (QByteArray(QTest::currentDataTag()) != "an empty folder beside the files")
        return;
    QVERIFY(QDir().mkdir(game->gameDir() + "/system"));
    QVERIFY(QFile::remove(game->userIniPath()));
    start({"--game-dir", game->gameDir()});
    QCOMPARE(window->state().MainIniPath, game->mainIniPath());
    QCOMPARE(child<QLabel>("LCacheMom")->text(), QStringLiteral("Cache-Größe (in MB): 32"));
    window->state().UserIni->WriteString("DefaultPlayer", "Name", "Neu");
    QCOMPARE(readBytes(game->userIniPath()), QByteArray("[DefaultPlayer]\r\nName=Neu\r\n"));
    QVERIFY(QDir(game->gameDir() + "/system").isEmpty());
}

void StartupTest::linuxBuildEditsTheFilesTheGameReads_data()
{
    // Below the game folder ("game/", a copy of the sample with its Windows
    // executable), a made-up home ("~/") or another folder ("elsewhere/").
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("main");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("mainWhy");
    QTest::addColumn<QString>("userWhy");

    const QString installation = "the installation's System; game folder %1, given by --game-dir";
    const QString utpg = "the Linux game's preference folder ~/.utpg/System holds it; game folder %1, given by --game-dir";
    const QString loki = "the Loki game's preference folder ~/.loki/ut/System holds it; game folder %1, given by --game-dir";
    const QStringList homeFiles{"~/.utpg/System/UnrealTournament.ini", "~/.utpg/System/User.ini",
                                "~/.loki/ut/System/UnrealTournament.ini", "~/.loki/ut/System/User.ini"};
    QTest::newRow("a Windows copy") << homeFiles << QStringList{} << "game/System/UnrealTournament.ini"
                                    << "game/System/User.ini" << installation << installation;
    QTest::newRow("the Linux patch's home first") << QStringList{"game/System/ut-bin"} + homeFiles << QStringList{}
                                                  << "~/.utpg/System/UnrealTournament.ini" << "~/.utpg/System/User.ini"
                                                  << utpg << utpg;
    QTest::newRow("each file on its own")
        << QStringList{"game/System/ut-bin", "~/.utpg/System/UnrealTournament.ini", "~/.loki/ut/System/User.ini",
                       "~/.loki/ut/System/UnrealTournament.ini"}
        << QStringList{} << "~/.utpg/System/UnrealTournament.ini" << "~/.loki/ut/System/User.ini" << utpg << loki;
    QTest::newRow("nothing in the home folders")
        << QStringList{"game/System/ut-bin", "~/.utpg/System/", "~/.loki/ut/System/User.ini/"} << QStringList{}
        << "game/System/UnrealTournament.ini" << "game/System/User.ini" << installation << installation;
    QTest::newRow("only the 64-bit build")
        << QStringList{"game/System64/ut-bin-amd64", "game/System64/UnrealTournament.ini"} << QStringList{}
        << "game/System64/UnrealTournament.ini" << "game/System64/User.ini"
        << "the installation's System64: the game folder holds only the 64-bit Linux build; game folder %1, given by "
           "--game-dir"
        << "the installation's System64: the game folder holds only the 64-bit Linux build; game folder %1, given by "
           "--game-dir; does not exist yet";
    QTest::newRow("both builds") << QStringList{"game/System/ut-bin", "game/System64/ut-bin-amd64",
                                                "game/System64/UnrealTournament.ini"}
                                 << QStringList{} << "game/System/UnrealTournament.ini" << "game/System/User.ini"
                                 << installation << installation;
    QTest::newRow("--ini-dir") << QStringList{"game/System/ut-bin", "elsewhere/unrealtournament.ini"} + homeFiles
                               << QStringList{"--ini-dir", "elsewhere"} << "elsewhere/unrealtournament.ini"
                               << "elsewhere/User.ini" << "given by --ini-dir" << "given by --ini-dir; does not exist yet";
}

void StartupTest::linuxBuildEditsTheFilesTheGameReads()
{
    QFETCH(QStringList, made);
    QFETCH(QStringList, options);
    QTemporaryDir home;
    QTemporaryDir elsewhere;
    Environment environment;
    environment.set("HOME", QFile::encodeName(home.path()));
    const auto placed = [&](QString path) {
        return path.replace("game/", game->gameDir() + "/").replace("~/", home.path() + "/")
            .replace("elsewhere/", elsewhere.path() + "/");
    };
    for (QString& path : made)
        path = placed(path);
    makeTree(made);
    for (QString& option : options)
        option = placed(option).replace("elsewhere", elsewhere.path());
    QFETCH(QString, main);
    QFETCH(QString, user);
    main = placed(main);
    user = placed(user);

    // The window reads and writes those files.
    start(QStringList{"--game-dir", game->gameDir()} + options);
    QCOMPARE(window->state().MainIniPath, main);
    QCOMPARE(window->state().UserIniPath, user);
    const QString cache =
        QRegularExpression("(^|\n)CacheSizeMegs=(\\d+)").match(QString::fromLatin1(readBytes(main))).captured(2);
    QCOMPARE(child<QLabel>("LCacheMom")->text(), "Cache-Größe (in MB): " + cache);

    // The command line says which they are, and why.
    QString out, err;
    ScriptedMessageBoxes boxes;
    const StartResult result = startEditor(
        QStringList{"brennwerk-editor", "--registry", game->registryPath(), "--game-dir", game->gameDir()} + options
            + QStringList{"paths"},
        boxes, out, err);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(err.isEmpty(), qPrintable(err));
    const QStringList lines = out.split('\n');
    QCOMPARE(lines.size(), 4);
    QFETCH(QString, mainWhy);
    QFETCH(QString, userWhy);
    QCOMPARE(lines[0], QStringLiteral("main INI: %1 (%2)").arg(main, mainWhy.arg(game->gameDir())));
    QCOMPARE(lines[1], QStringLiteral("user INI: %1 (%2)").arg(user, userWhy.arg(game->gameDir())));
    QVERIFY2(lines[2].startsWith("registry: " + game->registryPath() + " (given by --registry; does not exist yet)"),
             qPrintable(lines[2]));
}

void StartupTest::quitButtonFollowsThePage()
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

void StartupTest::everyWayOfClosingEndsTheWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("quit button") << "button";
    QTest::newRow("menu item") << "menu";
    QTest::newRow("window close") << "close";
}

void StartupTest::everyWayOfClosingEndsTheWindow()
{
    QFETCH(QString, way);
    game->registerGameDir();
    start();
    const QByteArray mainAfterStart = readBytes(game->mainIniPath());
    const QByteArray userAfterStart = readBytes(game->userIniPath());
    if (way == "button") {
        QTest::mouseClick(window->bBeenden, Qt::LeftButton);
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

void StartupTest::clockShowsLocalTimeAndDate()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
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

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    window->Timer1Timer();
    QVERIFY2(time->text().endsWith("AM") || time->text().endsWith("PM"), qPrintable(time->text()));
    QLocale::setDefault(QLocale::c());
}

void StartupTest::pagesAreBuiltOnTheirFirstShowAndFitTheWindow()
{
    game->registerGameDir();
    start();
    QTabWidget* tabs = window->PageControl1;
    window->revealOtherRenderersPage(); // as the renderer question does
    const QSize windowSize = window->size();
    QCOMPARE(window->minimumSize(), window->maximumSize());
    // Every tab in sight, the one the question reveals included.
    QVERIFY(tabs->tabBar()->width() >= tabs->tabBar()->sizeHint().width());

    const QStringList lazy{"tsUser", "tsMultiplayer", "tsTastenbelegung", "tsRegistry", "tsAliases"};
    for (const QString& name : lazy) {
        const auto* page = tabs->findChild<Page*>(name);
        QVERIFY(!page->isBuilt());
        QVERIFY2(page->children().isEmpty(), qPrintable(name));
    }

    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < tabs->count(); ++i) {
            auto* page = static_cast<Page*>(tabs->widget(i));
            const QList<QWidget*> before = page->findChildren<QWidget*>();
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(i).center());
            QCoreApplication::processEvents();
            QCOMPARE(tabs->currentIndex(), i);
            QVERIFY(page->isBuilt());
            const QList<QWidget*> controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            QVERIFY2(!controls.isEmpty(), qPrintable(page->objectName()));
            // Built once: a second visit finds the very same controls.
            if (round == 1)
                QCOMPARE(page->findChildren<QWidget*>(), before);
            // Shown and laid out like the controls of a page built at start.
            for (const QWidget* control : controls) {
                if (control->testAttribute(Qt::WA_WState_ExplicitShowHide) && control->isHidden())
                    continue; // hidden on purpose by the page
                QVERIFY2(control->isVisible(), qPrintable(page->objectName() + "/" + control->objectName()));
                QVERIFY(page->rect().contains(control->geometry()));
            }
            QVERIFY2(page->width() >= page->minimumSizeHint().width()
                         && page->height() >= page->minimumSizeHint().height(),
                     qPrintable(page->objectName()));
        }
    }
    // The window kept its size: it was measured to hold every page.
    QCOMPARE(window->size(), windowSize);
    QCOMPARE(window->minimumSize(), window->maximumSize());
}

namespace {
// A page that needs more room than the window it is shown in was given.
class LargePage final : public Page {
public:
    using Page::Page;
    int builds = 0;
    int shows = 0;
    bool controlVisibleAtShow = false;

protected:
    void build() override
    {
        ++builds;
        auto* control = new QPushButton(QStringLiteral("large"), this);
        control->setObjectName(QStringLiteral("large"));
        control->setMinimumSize(400, 300);
        (new QVBoxLayout(this))->addWidget(control);
    }
    void showHandler() override
    {
        ++shows;
        controlVisibleAtShow = findChild<QWidget*>(QStringLiteral("large"))->isVisible();
    }
};
} // namespace

void StartupTest::pageBuiltAfterTheWindowWasSizedGrowsIt()
{
    ScriptedMessageBoxes boxes;
    EditorState state;
    QWidget window;
    EventRules events(boxes, &window);
    auto* tabs = new QTabWidget(&window);
    (new QVBoxLayout(&window))->addWidget(tabs);
    auto* button = new QPushButton(&window);
    const PageServices services{state, events, boxes, button, tabs};
    auto* small = new QWidget;
    tabs->addTab(small, QStringLiteral("small"));
    auto* large = new LargePage(services, QStringLiteral("large page"));
    tabs->addTab(large, QStringLiteral("large"));
    // As the main window runs a page's show handler.
    QObject::connect(tabs, &QTabWidget::currentChanged, &window,
                     [tabs] {
                         if (auto* page = dynamic_cast<Page*>(tabs->currentWidget()))
                             page->runShowHandler();
                     });
    window.setFixedSize(window.sizeHint());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(large->builds, 0);

    tabs->setCurrentWidget(large);
    QCOMPARE(large->builds, 1);
    QCOMPARE(large->shows, 1);
    QVERIFY(large->controlVisibleAtShow);
    QVERIFY(large->width() >= 400 && large->height() >= 300);
    QVERIFY(window.width() >= 400 && window.height() >= 300);
    QCOMPARE(window.minimumSize(), window.maximumSize());

    tabs->setCurrentWidget(small);
    tabs->setCurrentWidget(large);
    QCOMPARE(large->builds, 1);
    QCOMPARE(large->shows, 2);
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
    Environment environment;
    environment.set("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
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
    QVERIFY(loadQtTranslations(QLocale(QLocale::German, QLocale::Germany)));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Suchen in:"));
    // The program's own captions stay as they are.
    game->registerGameDir();
    start();
    QCOMPARE(child<QAction>("mmBeenden")->text(), QStringLiteral("Beenden"));
}

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
