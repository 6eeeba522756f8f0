#include "support/GameFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// "get" and "set" from the command line, run as the real program with no
// display at all.
class ConsoleCommandsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void getReadsTheValue_data();
    void getReadsTheValue();
    void setChangesOnlyTheKeysLine();
    void setOnAnyPathAndNewKeys();
    void refusedValuesLeaveTheFile_data();
    void refusedValuesLeaveTheFile();
    void gameFolderFromTheRegistryOrUnknown();
    void wrongUsage_data();
    void wrongUsage();
    void onlyTheWindowNeedsADisplay();

private:
    struct Run {
        int status;
        QByteArray out;
        QByteArray err;
    };
    // Without a display, or with DISPLAY set to display.
    Run run(const QStringList& arguments, const QString& display = QString()) const;

    std::unique_ptr<GameFixture> game;
};

void ConsoleCommandsTest::init()
{
    game = std::make_unique<GameFixture>();
}

ConsoleCommandsTest::Run ConsoleCommandsTest::run(const QStringList& arguments, const QString& display) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRENNWERK_EDITOR_PROGRAM),
                  QStringList{"--registry", game->registryPath()} + arguments);
    if (!process.waitForFinished(30000))
        qFatal("brennwerk-editor did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

void ConsoleCommandsTest::getReadsTheValue_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("main") << QStringList{"get", "main", "UBrowser.UBrowserIRCSystemPage", "NickName"} << 0
                          << QByteArray("Funkenflug\n");
    QTest::newRow("user") << QStringList{"get", "user", "DefaultPlayer", "Name"} << 0 << QByteArray("Glutkern\n");
    QTest::newRow("Windows-1252 to UTF-8") << QStringList{"get", "main", "Engine.GameReplicationInfo", "AdminName"}
                                           << 0 << QByteArray("J\xc3\xbcrgen Wei\xc3\x9f\n");
    QTest::newRow("case-insensitive names") << QStringList{"get", "main", "engine.gameengine", "cachesizemegs"} << 0
                                            << QByteArray("32\n");
    QTest::newRow("empty value is found") << QStringList{"get", "main", "Engine.GameReplicationInfo", "MOTDLine4"}
                                          << 0 << QByteArray("\n");
    QTest::newRow("absent") << QStringList{"get", "main", "Engine.GameEngine", "NoSuchKey"} << 1 << QByteArray();
    QTest::newRow("absent with default") << QStringList{"get", "main", "Nowhere", "Key", "-1"} << 1
                                         << QByteArray("-1\n");
}

void ConsoleCommandsTest::getReadsTheValue()
{
    QFETCH(QStringList, arguments);
    const QByteArray before = readBytes(game->mainIniPath());
    const Run result = run(QStringList{"--game-dir", game->gameDir()} + arguments);
    QTEST(result.status, "status");
    QTEST(result.out, "out");
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(readBytes(game->mainIniPath()), before);
}

void ConsoleCommandsTest::setChangesOnlyTheKeysLine()
{
    const QByteArray main = readBytes(game->mainIniPath());
    const QByteArray user = readBytes(game->userIniPath());
    Run result = run({"--game-dir", game->gameDir(), "set", "main", "Engine.GameEngine", "CacheSizeMegs", "-1"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out + result.err, QByteArray());
    QCOMPARE(readBytes(game->mainIniPath()), withLine(main, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=-1\r\n"));

    result = run({"--game-dir", game->gameDir(), "set", "user", "DefaultPlayer", "Name", "Großer Bär"});
    QCOMPARE(result.status, 0);
    QCOMPARE(readBytes(game->userIniPath()), withLine(user, "\nName=Glutkern\r\n", "\nName=Gro\xdf" "er B\xe4r\r\n"));
}

void ConsoleCommandsTest::setOnAnyPathAndNewKeys()
{
    const QString path = game->gameDir() + "/server.ini";
    writeBytes(path, "[Engine.GameInfo]\nMaxPlayers=8\n");
    QCOMPARE(run({"set", path, "Engine.GameInfo", "bWorldLog", "True"}).status, 0);
    QCOMPARE(run({"set", path, "IpDrv.TcpNetDriver", "MaxClientRate", "20000"}).status, 0);
    QCOMPARE(readBytes(path),
             QByteArray("[Engine.GameInfo]\nMaxPlayers=8\nbWorldLog=True\n\n[IpDrv.TcpNetDriver]\nMaxClientRate=20000\n"));
    const Run result = run({"get", path, "Engine.GameInfo", "bWorldLog"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("True\n"));
    // A file that does not exist (a typo, say) is refused; --create makes it
    // in an existing folder.
    const QString typo = game->gameDir() + "/System/UnrealTournament.in";
    Run refused = run({"set", typo, "S", "K", "V"});
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.err.startsWith("brennwerk-editor: " + typo.toUtf8() + " does not exist")
                 && refused.err.contains("--create"),
             refused.err.constData());
    QVERIFY(!QFile::exists(typo));
    QCOMPARE(run({"--create", "set", game->gameDir() + "/new.ini", "S", "K", "V"}).status, 0);
    QCOMPARE(readBytes(game->gameDir() + "/new.ini"), QByteArray("[S]\r\nK=V\r\n"));
}

void ConsoleCommandsTest::refusedValuesLeaveTheFile_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("line break") << "Evil\n[Engine.Engine]" << false << "line break";
    QTest::newRow("outside Windows-1252") << "雪" << false << "";
    QTest::newRow("read-only file") << "64" << true << "Unable to write to";
}

void ConsoleCommandsTest::refusedValuesLeaveTheFile()
{
    QFETCH(QString, value);
    QFETCH(bool, readOnly);
    QFETCH(QString, errorPart);
    const QByteArray before = readBytes(game->mainIniPath());
    if (readOnly)
        QFile::setPermissions(game->mainIniPath(), QFile::ReadOwner | QFile::ReadGroup);
    const Run result = run({"--game-dir", game->gameDir(), "set", "main", "Engine.GameEngine", "CacheSizeMegs", value});
    QCOMPARE(result.status, 1);
    QVERIFY(result.err.startsWith("brennwerk-editor: "));
    QVERIFY2(QString::fromUtf8(result.err).contains(errorPart), result.err.constData());
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(readBytes(game->mainIniPath()), before);
    QCOMPARE(QDir(game->gameDir() + "/System").entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void ConsoleCommandsTest::gameFolderFromTheRegistryOrUnknown()
{
    const QByteArray registry = game->registryPath().toUtf8();
    Run result = run({"get", "user", "DefaultPlayer", "Team"});
    QCOMPARE(result.status, 2);
    QVERIFY(result.err.contains("--game-dir"));
    result = run({"paths"});
    QCOMPARE(result.status, 2);
    QCOMPARE(result.out, "main INI: unknown (no game folder)\nuser INI: unknown (no game folder)\nregistry: " + registry
                             + " (given by --registry; does not exist yet)\n");
    QCOMPARE(result.err.count('\n'), 1);

    game->registerGameDir();
    // Reading the install path needs no write access to the registry.
    QVERIFY(QFile::setPermissions(game->registryPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    result = run({"get", "user", "DefaultPlayer", "Team"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("1\n"));
    result = run({"paths"});
    QCOMPARE(result.status, 0);
    const QByteArray folder = game->gameDir().toUtf8();
    const QByteArray why = " (the installation's System; game folder " + folder + ", from the install path in the registry)\n";
    QCOMPARE(result.out, "main INI: " + folder + "/System/UnrealTournament.ini" + why + "user INI: " + folder
                             + "/System/User.ini" + why + "registry: " + registry + " (given by --registry)\n");
    QCOMPARE(result.err, QByteArray());

    // --ini-dir names the folder of both files; the registry is not asked.
    const QString server = game->gameDir() + "/Server";
    QVERIFY(QDir().mkdir(server));
    writeBytes(server + "/unrealtournament.ini", "[Engine.GameEngine]\r\nCacheSizeMegs=48\r\n");
    QVERIFY(QFile::remove(game->registryPath()));
    result = run({"--ini-dir", server, "get", "main", "Engine.GameEngine", "CacheSizeMegs"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("48\n"));
    result = run({"--ini-dir", server, "get", "user", "DefaultPlayer", "Team"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.err, QByteArray());
    result = run({"--ini-dir", server, "paths"});
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.startsWith("main INI: " + server.toUtf8() + "/unrealtournament.ini (given by --ini-dir)\nuser INI: "
                                   + server.toUtf8() + "/User.ini (given by --ini-dir; does not exist yet)\n"),
             result.out.constData());

    // A folder that holds none of the game's files is no game folder, given
    // or registered: not a game whose keys are all absent.
    const QString empty = game->gameDir() + "/Help";
    QVERIFY(QDir().mkpath(empty + "/System"));
    const QByteArray main = readBytes(game->mainIniPath());
    for (const QStringList& arguments : {QStringList{"--game-dir", empty, "get", "main", "Engine.GameEngine", "CacheSizeMegs", "8"},
                                         QStringList{"--game-dir", empty, "--create", "set", "main", "S", "K", "V"},
                                         QStringList{"--game-dir", empty + "/System", "get", "user", "DefaultPlayer", "Name"}}) {
        result = run(arguments);
        QCOMPARE(result.status, 2);
        QCOMPARE(result.out, QByteArray());
        QVERIFY2(result.err.contains("holds none of the game's files"), result.err.constData());
    }
    QCOMPARE(QDir(empty + "/System").entryList(QDir::Files | QDir::Hidden), QStringList());
    game->registerGameDir(empty);
    result = run({"get", "main", "Engine.GameEngine", "CacheSizeMegs"});
    QCOMPARE(result.status, 2);
    QVERIFY2(result.err.contains(empty.toUtf8()) && result.err.contains(game->registryPath().toUtf8()),
             result.err.constData());
    QCOMPARE(readBytes(game->mainIniPath()), main);
    // One game file is enough: the other is merely absent, and made only
    // when asked for.
    QVERIFY(QFile::copy(game->userIniPath(), empty + "/System/USER.INI"));
    result = run({"get", "main", "Engine.GameEngine", "CacheSizeMegs", "8"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out, QByteArray("8\n"));
    result = run({"set", "main", "Engine.GameEngine", "CacheSizeMegs", "64"});
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.contains("does not exist"), result.err.constData());
    QCOMPARE(QDir(empty + "/System").entryList(QDir::Files | QDir::Hidden), QStringList{"USER.INI"});
    QCOMPARE(run({"--create", "set", "main", "Engine.GameEngine", "CacheSizeMegs", "64"}).status, 0);
    result = run({"get", "main", "Engine.GameEngine", "CacheSizeMegs"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("64\n"));
}

void ConsoleCommandsTest::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("get without key") << QStringList{"get", "main", "Engine.GameEngine"};
    QTest::newRow("set without value") << QStringList{"set", "main", "Engine.GameEngine", "CacheSizeMegs"};
    QTest::newRow("set with too much") << QStringList{"set", "main", "S", "K", "V", "W"};
    QTest::newRow("unknown command") << QStringList{"frob", "main"};
    QTest::newRow("--create after set") << QStringList{"set", "--create", "main", "S", "K", "V"};
    QTest::newRow("--create with get") << QStringList{"--create", "get", "main", "S", "K"};
    QTest::newRow("paths with an argument") << QStringList{"paths", "main"};
}

void ConsoleCommandsTest::wrongUsage()
{
    QFETCH(QStringList, arguments);
    const Run result = run(QStringList{"--game-dir", game->gameDir()} + arguments);
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err.count('\n'), 1);
    QCOMPARE(result.out, QByteArray());
}

void ConsoleCommandsTest::onlyTheWindowNeedsADisplay()
{
    const QByteArray before = readBytes(game->mainIniPath());
    // None named, or one where no X server listens.
    for (const auto& [display, message] :
         {std::pair{"", "brennwerk-editor: no display found"},
          std::pair{":987", "brennwerk-editor: cannot open the display (DISPLAY=:987)"}}) {
        const Run window = run({"--game-dir", game->gameDir()}, display);
        QCOMPARE(window.status, 1);
        QVERIFY2(window.err.startsWith(message), window.err.constData());
        QCOMPARE(window.err.count('\n'), 1);
        QCOMPARE(window.out, QByteArray());
        QCOMPARE(readBytes(game->mainIniPath()), before);
    }

    const Run help = run({"--help"});
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.startsWith("Usage: brennwerk-editor [OPTION]..."), help.out.constData());
    QCOMPARE(help.err, QByteArray());
}

QTEST_GUILESS_MAIN(ConsoleCommandsTest)
#include "test_consolecommands.moc"
