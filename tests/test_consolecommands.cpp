#include "support/GameFixture.h"
#include "support/Users.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    void namesAreTakenAsGiven();

private:
    struct Run {
        int status;
        QByteArray out;
        QByteArray err;
    };
    // Without a display, or with DISPLAY set to display; under a file size
    // limit of fileSizeLimit bytes when that is not 0.
    Run run(const QStringList& arguments, const QString& display = QString(), rlim_t fileSizeLimit = 0) const;

    std::unique_ptr<GameFixture> game;
};

void ConsoleCommandsTest::init()
{
    game = std::make_unique<GameFixture>();
}

ConsoleCommandsTest::Run ConsoleCommandsTest::run(const QStringList& arguments, const QString& display,
                                                  rlim_t fileSizeLimit) const
{
    QProcess process;
    if (fileSizeLimit) {
        // As "ulimit -f" in a server's script leaves it: the limit, and the
        // signal past it at its default, which ends the process.
        process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_DFL);
        });
    }
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
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("errorPart"); // %1: the file, %2: the process that holds it locked
    QTest::newRow("line break") << "Evil\n[Engine.Engine]" << QString() << "line break";
    QTest::newRow("outside Windows-1252") << "雪" << QString() << "";
    QTest::newRow("read-only file") << "64" << "read-only" << "Unable to write to";
    QTest::newRow("file size limit below the new content")
        << QString(4000, u'9') << "size limit" << QString("Unable to write to %1: ") + std::strerror(EFBIG);
    QTest::newRow("lock that nobody releases")
        << "64" << "locked"
        << "brennwerk-editor: waiting for %1, which process %2 holds locked\nbrennwerk-editor: Unable to write to %1: "
           "process %2 has held it locked for 10 seconds; nothing was written\n";
}

void ConsoleCommandsTest::refusedValuesLeaveTheFile()
{
    QFETCH(QString, value);
    QFETCH(QString, condition);
    QFETCH(QString, errorPart);
    const QByteArray before = readBytes(game->mainIniPath());
    if (condition == "read-only")
        QFile::setPermissions(game->mainIniPath(), QFile::ReadOwner | QFile::ReadGroup);
    // Another process, of a user who may only read the file, holds its lock
    // until the end of the test.
    int holding[2] = {-1, -1};
    int held[2] = {-1, -1};
    pid_t holder = 0;
    if (condition == "locked") {
        QVERIFY(::pipe(holding) == 0 && ::pipe(held) == 0);
        holder = ::fork();
        QVERIFY(holder >= 0);
        if (holder == 0) {
            ::close(holding[1]);
            ::close(held[0]);
            // Opened for reading (the test's folders are root's only), then
            // locked as another user.
            const int fd = ::open(QFile::encodeName(game->mainIniPath()).constData(), O_RDONLY);
            ActingAs reader;
            char byte = 'h';
            ::_exit(fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(held[1], &byte, 1) == 1
                            && ::read(holding[0], &byte, 1) >= 0
                        ? 0
                        : 1);
        }
        ::close(holding[0]);
        ::close(held[1]);
        char byte;
        QCOMPARE(::read(held[0], &byte, 1), ssize_t(1));
        ::close(held[0]);
    }
    const Run result = run({"--game-dir", game->gameDir(), "set", "main", "Engine.GameEngine", "CacheSizeMegs", value},
                           QString(), condition == "size limit" ? rlim_t(before.size() + 100) : 0);
    if (holder > 0) {
        ::close(holding[1]);
        ::waitpid(holder, nullptr, 0);
        errorPart = errorPart.arg(game->mainIniPath()).arg(holder);
        QCOMPARE(QString::fromUtf8(result.err), errorPart);
    }
    if (errorPart.contains("%1"))
        errorPart = errorPart.arg(game->mainIniPath());
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

void ConsoleCommandsTest::namesAreTakenAsGiven()
{
    // A file name that is no UTF-8 is refused as a whole, never turned into
    // the name of another file.
    const QByteArray folder = QFile::encodeName(game->gameDir());
    const QByteArray latin1 = folder + "/lat\xe9.ini";
    const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0 && ::write(fd, "[S]\nK=old\n", 10) == 10 && ::close(fd) == 0);
    for (const QList<QByteArray>& arguments :
         {QList<QByteArray>{"set", latin1, "S", "K", "new"}, QList<QByteArray>{"get", latin1, "S", "K"},
          QList<QByteArray>{"--create", "set", folder + "/neu\xe9.ini", "S", "K", "V"}}) {
        int output[2];
        QCOMPARE(::pipe(output), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::dup2(output[1], 1);
            ::dup2(output[1], 2);
            std::vector<char*> argv{const_cast<char*>(BRENNWERK_EDITOR_PROGRAM)};
            for (const QByteArray& argument : arguments)
                argv.push_back(const_cast<char*>(argument.constData()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(output[1]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QByteArray said(4096, '\0');
        said.truncate(std::max<ssize_t>(::read(output[0], said.data(), size_t(said.size())), 0));
        ::close(output[0]);
        QCOMPARE(WEXITSTATUS(status), 2);
        QCOMPARE(said, "brennwerk-editor: the argument '" + QByteArray(*std::find_if(arguments.begin(), arguments.end(), [](const QByteArray& a) { return a.contains('\xe9'); })).replace("\xe9", "\\xe9")
                           + "' is not UTF-8 text, and this program names files by UTF-8 names only; nothing was "
                             "done.\n");
    }
    QCOMPARE(readBytes(QFile::decodeName(latin1)), QByteArray());
    QDir files(game->gameDir());
    QCOMPARE(files.entryList(QDir::Files).size(), 1); // the file with the name that is no UTF-8
    const int kept = ::open(latin1.constData(), O_RDONLY);
    char bytes[16] = {};
    QVERIFY(kept >= 0 && ::read(kept, bytes, sizeof bytes) == 10 && ::close(kept) == 0);
    QCOMPARE(QByteArray(bytes), QByteArray("[S]\nK=old\n"));

    // A link that another user planted to root's file is named, not read.
    if (::geteuid() != 0)
        return;
    const QString secret = game->gameDir() + "/secret.ini";
    const QString link = game->gameDir() + "/System/Server.ini";
    writeBytes(secret, "[S]\nK=root's\n");
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    QVERIFY(QFile::link(secret, link) && ::lchown(QFile::encodeName(link).constData(), 65534, 65534) == 0);
    const QString why = link + " is a symbolic link of user nobody to a file of user root; it is not followed";
    Run result = run({"get", link, "S", "K"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err, ("brennwerk-editor: cannot read " + link + ": " + why + "\n").toUtf8());
    result = run({"set", link, "S", "K", "his"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.err, ("brennwerk-editor: Unable to write to " + link + ": " + why + "\n").toUtf8());
    QCOMPARE(readBytes(secret), QByteArray("[S]\nK=root's\n"));
}

QTEST_GUILESS_MAIN(ConsoleCommandsTest)
#include "test_consolecommands.moc"
