#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "config/GameConfigStore.h"
#include "platform/GamePaths.h"
#include "support/Environment.h"
#include "support/PageTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Where the game folder and the two INI files are, for the Windows game and
// the Linux builds, and that the window edits the files found there.
class GamePathsTest : public PageTest {
    Q_OBJECT

public:
    GamePathsTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void executablePathIsCutBy28Characters();
    void iniPathsMatchTheFilesOnDisk_data();
    void iniPathsMatchTheFilesOnDisk();
    void linuxBuildEditsTheFilesTheGameReads_data();
    void linuxBuildEditsTheFilesTheGameReads();
};

void GamePathsTest::executablePathIsCutBy28Characters()
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

void GamePathsTest::iniPathsMatchTheFilesOnDisk_data()
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

void GamePathsTest::iniPathsMatchTheFilesOnDisk()
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

void GamePathsTest::linuxBuildEditsTheFilesTheGameReads_data()
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

void GamePathsTest::linuxBuildEditsTheFilesTheGameReads()
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

QTEST_MAIN(GamePathsTest)
#include "test_gamepaths.moc"
