#include "app/HauptUnit.h"
#include "app/RendererUnit.h"
#include "app/Startup.h"
#include "config/GameConfigStore.h"
#include "controls/EventRules.h"
#include "controls/MaskedEdit.h"
#include "controls/TextColours.h"
#include "pages/OtherRenderersPage.h"
#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"
#include "support/Environment.h"
#include "support/ModalAnswerer.h"
#include "support/PageTest.h"
#include "support/RegistryText.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
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
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStyleOption>
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
    void returnPressesTheFocusedButton_data();
    void returnPressesTheFocusedButton();
    void tabGoesDownThePageAndEndsOnBeenden_data();
    void tabGoesDownThePageAndEndsOnBeenden();
    void clockShowsLocalTimeAndDate();
    void colouredTextsStayReadable_data();
    void colouredTextsStayReadable();
    void pagesAreBuiltOnTheirFirstShowAndFitTheWindow_data();
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
    // By keys alone: the first item of the menu bar is "Beenden".
    QTest::newRow("F10, Return") << "F10";
    QTest::newRow("Alt, Return") << "Alt";
    QTest::newRow("Return on the quit button") << "Return";
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

void StartupTest::returnPressesTheFocusedButton_data()
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

void StartupTest::returnPressesTheFocusedButton()
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

void StartupTest::tabGoesDownThePageAndEndsOnBeenden_data()
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

void StartupTest::tabGoesDownThePageAndEndsOnBeenden()
{
    QFETCH(QString, page);
    QFETCH(QStringList, stops);
    game->registerGameDir();
    start();
    // Both groups of the page open, as after the renderer question.
    window->revealOtherRenderersPage();
    OtherRenderersPage* renderers = window->otherRenderersPage();
    renderers->unlockOpenGL();
    renderers->activateOpenGL();
    renderers->unlockGlide();
    renderers->activateGlide();
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

namespace {

// What a person would see cut in the window: a text wider or taller than the
// room its control gives it (a text in a sunken panel keeps the 2 pixels a
// line edit keeps inside its frame), a control that leaves its parent or
// touches the window's edge, and a frame that lost a line where the window
// is drawn at a fractional scale. Each as one line that says what and where.
QStringList cutInWindow(QWidget* window)
{
    QStringList cut;
    const auto check = [&cut](const QWidget* widget, const QString& text, const QFontMetrics& metrics,
                              const QRect& room) {
        if (text.isEmpty())
            return;
        int width = 0;
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString& line : lines)
            width = qMax(width, metrics.horizontalAdvance(line));
        const int height = metrics.height() * int(lines.size());
        if (width > room.width() || height > room.height() || !widget->rect().contains(room))
            cut << QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                       .arg(widget->objectName(), text)
                       .arg(width)
                       .arg(height)
                       .arg(room.width())
                       .arg(room.height());
    };
    const QImage shot = window->grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    const QColor background = window->palette().color(QPalette::Window);
    // Whether one of the device pixel lines around a frame's edge differs
    // from the window along most of that edge.
    const auto lineAt = [&](bool vertical, int at, int from, int to) {
        for (int line = at - 1; line <= at + 1; ++line) {
            int differing = 0;
            for (int i = from; i <= to; ++i) {
                const QColor pixel = vertical ? shot.pixelColor(line, i) : shot.pixelColor(i, line);
                differing += qAbs(pixel.lightness() - background.lightness()) > 12 ? 1 : 0;
            }
            if (differing > (to - from) / 2)
                return true;
        }
        return false;
    };

    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        const QStyle* style = widget->style();
        const QString name = widget->objectName();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            const int padding = label->frameShape() == QFrame::NoFrame ? 0 : label->frameWidth() + 2;
            const int margin = label->margin() + qMax(label->indent(), 0);
            const QRect room = label->frameShape() == QFrame::NoFrame
                ? label->contentsRect().adjusted(margin, 0, -margin, 0)
                : label->rect().adjusted(padding, label->frameWidth(), -padding, -label->frameWidth());
            check(label, label->text(), label->fontMetrics(), room);
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            QRect room;
            if (qobject_cast<const QCheckBox*>(button))
                room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
            else if (qobject_cast<const QRadioButton*>(button))
                room = style->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
            else
                room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            if (!button->icon().isNull())
                room.adjust(button->iconSize().width() + 4, 0, 0, 0);
            check(button, button->text(), button->fontMetrics(), room);
        } else if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
            QStyleOptionGroupBox option;
            option.initFrom(box);
            option.text = box->title();
            option.lineWidth = 1;
            option.textAlignment = box->alignment();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            // The blanks around a title are the caption's own.
            check(box, box->title().trimmed(), box->fontMetrics(),
                  style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box));
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
            // A line edit scrolls its text; only a field as wide as its digits
            // and the text of a combo box must show whole.
            if (qobject_cast<const MaskedEdit*>(edit) || qobject_cast<const QComboBox*>(edit->parentWidget()))
                check(edit, edit->text(), edit->fontMetrics(),
                      edit->contentsRect().marginsRemoved(edit->textMargins()).adjusted(2, 0, -2, 0));
        } else if (const auto* tabs = qobject_cast<const QTabBar*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->isTabVisible(i) && !tabs->rect().contains(tabs->tabRect(i)))
                    cut << QStringLiteral("tab \"%1\" lies outside its bar").arg(tabs->tabText(i));
        } else if (const auto* menu = qobject_cast<const QMenuBar*>(widget)) {
            for (QAction* action : menu->actions())
                if (!menu->rect().contains(menu->actionGeometry(action)))
                    cut << QStringLiteral("menu item \"%1\" lies outside its bar").arg(action->text());
        }

        const QWidget* parent = widget->parentWidget();
        const bool scrolled = qobject_cast<const QAbstractScrollArea*>(parent ? parent->parentWidget() : nullptr);
        if (!scrolled && !parent->rect().contains(widget->geometry()))
            cut << QStringLiteral("%1 lies outside %2").arg(name, parent->objectName());
        const auto* frame = qobject_cast<const QFrame*>(widget);
        const bool framed = (frame && frame->frameShape() != QFrame::NoFrame && frame->frameWidth() > 0)
            || qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget);
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (framed && !qobject_cast<const QLineEdit*>(parent)
            && !window->rect().adjusted(1, 1, -1, -1).contains(inWindow))
            cut << QStringLiteral("%1 touches the window's edge").arg(name);
        if (frame && frame->frameShape() != QFrame::NoFrame && frame->frameWidth() > 0 && !scrolled
            && frame->width() > 16 && frame->height() > 16) {
            const int left = qFloor(inWindow.left() * scale), top = qFloor(inWindow.top() * scale);
            const int right = qCeil((inWindow.right() + 1) * scale) - 1;
            const int bottom = qCeil((inWindow.bottom() + 1) * scale) - 1;
            const int inset = qCeil(8 * scale);
            const bool sides[] = {lineAt(true, left, top + inset, bottom - inset),
                                  lineAt(false, top, left + inset, right - inset),
                                  lineAt(true, right, top + inset, bottom - inset),
                                  lineAt(false, bottom, left + inset, right - inset)};
            const char* sideNames[] = {"left", "top", "right", "bottom"};
            for (int side = 0; side < 4; ++side)
                if (!sides[side])
                    cut << QStringLiteral("%1 lost its %2 line").arg(name, QLatin1String(sideNames[side]));
        }
    }
    return cut;
}

} // namespace

void StartupTest::colouredTextsStayReadable_data()
{
    QTest::addColumn<QString>("theme"); // light, or dark before or after the start
    QTest::newRow("light") << "light";
    QTest::newRow("dark") << "dark";
    QTest::newRow("dark, chosen while running") << "dark later";
}

void StartupTest::colouredTextsStayReadable()
{
    QFETCH(QString, theme);
    const QPalette before = QApplication::palette();
    const auto restore = qScopeGuard([before] { QApplication::setPalette(before); });
    // Dark colours as a dark desktop theme gives them, with Fusion.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(60, 60, 60));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    dark.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    // The Parts' blue and red stand at 1.3:1 and 2.8:1 against it.
    QCOMPARE(qRound(contrastRatio(QColor(0, 0, 255), dark.color(QPalette::Window)) * 10), 13);
    QCOMPARE(qRound(contrastRatio(QColor(255, 0, 0), dark.color(QPalette::Window)) * 10), 28);
    QCOMPARE(contrastRatio(Qt::black, Qt::white), 21.0);
    if (theme == "dark")
        QApplication::setPalette(dark);
    game->registerGameDir();
    start();
    if (theme == "dark later")
        QApplication::setPalette(dark);

    // The colours the pages give: status lines found and missing, team
    // colours.
    const QList<std::pair<const char*, QColor>> coloured{
        {"lUTPath", QColor(0, 0, 255)}, {"lModule", QColor(255, 0, 0)}, {"rbBlau", QColor(0, 0, 255)},
        {"rbRot", QColor(255, 0, 0)},   {"rbGold", QColor(215, 175, 0)}, {"rbGruen", QColor(0, 128, 0)}};
    showPage("tsUser");
    showPage("tsRegistry");
    for (const auto& [name, colour] : coloured) {
        const QWidget* widget = child<QWidget>(name);
        const QColor shown = widget->palette().color(QPalette::WindowText);
        const QColor window = widget->palette().color(QPalette::Window);
        if (theme == "light") {
            QCOMPARE(shown, colour);
            continue;
        }
        QVERIFY2(contrastRatio(shown, window) >= 4.5, name);
        // A tint of the same hue, no lighter than it needs to be.
        QVERIFY2(qAbs(shown.hsvHue() - colour.hsvHue()) <= 2, name);
        QVERIFY2(contrastRatio(shown.darker(110), window) < 4.5 || shown == colour, name);
    }
    // The window keeps its own text colour.
    QCOMPARE(child<QWidget>("rbKeine")->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::WindowText));
}

void StartupTest::pagesAreBuiltOnTheirFirstShowAndFitTheWindow_data()
{
    QTest::addColumn<QByteArray>("scale");
    QTest::addColumn<QLocale>("locale");
    for (const char* scale : {"1", "1.25", "1.5", "2"}) {
        for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()})
            QTest::addRow("%s, %s", scale, qPrintable(locale.name())) << QByteArray(scale) << locale;
    }
}

void StartupTest::pagesAreBuiltOnTheirFirstShowAndFitTheWindow()
{
    QFETCH(QByteArray, scale);
    QFETCH(QLocale, locale);
    const QByteArray ownScale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qgetenv("QT_SCALE_FACTOR") : "1";
    if (ownScale != scale) {
        // Qt takes the scale when the application starts: this row runs in
        // a run of this test of its own.
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        // The screen of a scaled desktop: the offscreen one is 800 pixels
        // wide, and Qt holds a window's tabs to the screen's width.
        QTemporaryDir screen;
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            writeBytes(screen.filePath(QStringLiteral("screen.json")),
                       R"({"screens": [{"name": "desktop", "width": 3840, "height": 2160}]})");
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                               QStringLiteral("offscreen:configfile=") + screen.filePath(QStringLiteral("screen.json")));
        }
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("pagesAreBuiltOnTheirFirstShowAndFitTheWindow:") + QTest::currentDataTag()});
        QVERIFY(run.waitForFinished(120000));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, run.readAll().constData());
        return;
    }
    QLocale::setDefault(locale);
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
    game->registerGameDir();
    start();
    QVERIFY2(cutInWindow(window).isEmpty(), qPrintable(cutInWindow(window).join(u'\n')));
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
            QVERIFY2(cutInWindow(window).isEmpty(), qPrintable(cutInWindow(window).join(u'\n')));
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
