#include "config/GameConfigStore.h"
#include "platform/SafeFile.h"
#include "support/GameFixture.h"
#include "support/Users.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// An X display number that provably has no server while this lives: no
// socket or lock file of it in /tmp, and its abstract socket and its TCP
// ports on the loopback (where the X library tries after the socket) bound
// here without listening, so that a connection to any of them is refused
// and no server can take the number meanwhile.
class DisplayWithoutServer {
public:
    DisplayWithoutServer()
    {
        for (int number = 900; number < 1000 && name_.isEmpty(); ++number) {
            if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
                && !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) && hold(number))
                name_ = QStringLiteral(":%1").arg(number);
            else
                release();
        }
    }
    DisplayWithoutServer(const DisplayWithoutServer&) = delete;
    DisplayWithoutServer& operator=(const DisplayWithoutServer&) = delete;
    ~DisplayWithoutServer() { release(); }

    // Empty when every number tried has a server, or might have.
    QString name() const { return name_; }

private:
    bool hold(int number)
    {
        const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
        sockaddr_un local{};
        local.sun_family = AF_UNIX;
        std::memcpy(local.sun_path + 1, path.constData(), size_t(path.size())); // abstract: a NUL first
        if (bindError(AF_UNIX, &local, socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(path.size()))) != 0)
            return false;
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(quint16(6000 + number));
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bindError(AF_INET, &v4, sizeof v4) != 0)
            return false;
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(quint16(6000 + number));
        v6.sin6_addr = in6addr_loopback;
        // A machine without IPv6 has no server there either.
        const int error = bindError(AF_INET6, &v6, sizeof v6);
        return error == 0 || error == EAFNOSUPPORT || error == EADDRNOTAVAIL;
    }
    // 0, or the errno of the socket or its bind.
    int bindError(int family, const void* address, socklen_t size)
    {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return errno;
        const int error = ::bind(fd, static_cast<const sockaddr*>(address), size) == 0 ? 0 : errno;
        sockets_ << fd;
        return error;
    }
    void release()
    {
        for (const int fd : std::as_const(sockets_))
            ::close(fd);
        sockets_.clear();
    }

    QString name_;
    QList<int> sockets_;
};

// A copy of the program, its window module where the copy looks for it,
// in a folder that everyone may enter on a file system that honours set-id
// bits and file capabilities (a temporary folder is often mounted nosuid;
// the build folder is tried next). Null when there is none.
std::unique_ptr<QTemporaryDir> copyOfTheProgram()
{
    const QDir programDir = QFileInfo(BRENNWERK_EDITOR_PROGRAM).dir();
    for (const QString& base : {QDir::tempPath(), programDir.filePath("..")}) {
        struct statvfs fs {};
        if (::statvfs(QFile::encodeName(base).constData(), &fs) != 0 || (fs.f_flag & ST_NOSUID))
            continue;
        auto dir = std::make_unique<QTemporaryDir>(base + "/setid-XXXXXX");
        const QString program = dir->filePath("bin/brennwerk-editor");
        const QString window = QDir(dir->filePath("bin")).filePath(programDir.relativeFilePath(BRENNWERK_EDITOR_WINDOW));
        if (dir->isValid() && QFile::setPermissions(dir->path(), QFile::permissions(programDir.path()))
            && QDir().mkpath(QFileInfo(program).path()) && QDir().mkpath(QFileInfo(window).path())
            && QFile::copy(BRENNWERK_EDITOR_PROGRAM, program) && QFile::copy(BRENNWERK_EDITOR_WINDOW, window))
            return dir;
    }
    return nullptr;
}

} // namespace

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
    void serverFileEdits_data();
    void serverFileEdits();
    void applyMakesAllOrNone_data();
    void applyMakesAllOrNone();
    void setWaitsForALongApply();
    void refusedValuesLeaveTheFile_data();
    void refusedValuesLeaveTheFile();
    void gameFolderFromTheRegistryOrUnknown();
    void wrongUsage_data();
    void wrongUsage();
    void onlyTheWindowNeedsADisplay();
    void namesAreTakenAsGiven();
    void dryRunOnlyLooks_data();
    void dryRunOnlyLooks();
    void terminalsGetControlsEscaped_data();
    void terminalsGetControlsEscaped();
    void diffsMakeWhatTheWriteMakes_data();
    void diffsMakeWhatTheWriteMakes();
    void outputThatIsLostIsAnError_data();
    void outputThatIsLostIsAnError();

private:
    struct Run {
        int status;
        QByteArray out;
        QByteArray err;
    };
    enum Terminals { NoTerminal = 0, StdoutTerminal = 1, StderrTerminal = 2 }; // bits
    // Without a display, or with DISPLAY set to display; under a file size
    // limit of fileSizeLimit bytes when that is not 0; input on its stdin;
    // stdout and stderr each a pipe or, as `terminals` says, a terminal of
    // its own (a pseudo-terminal in raw mode, which passes bytes as they
    // come).
    Run run(const QStringList& arguments, const QString& display = QString(), rlim_t fileSizeLimit = 0,
            const QByteArray& input = {}, int terminals = NoTerminal) const;
    // A copy of the server file, at the path that %F stands for in the
    // tables (%G: the game folder).
    QString serverFile() const { return game->gameDir() + "/System/Server.ini"; }
    QByteArray expanded(QByteArray text) const
    {
        return text.replace("%F", serverFile().toUtf8()).replace("%G", game->gameDir().toUtf8());
    }
    QStringList expanded(QStringList words) const
    {
        for (QString& word : words)
            word = QString::fromUtf8(expanded(word.toUtf8()));
        return words;
    }

    std::unique_ptr<GameFixture> game;
    QString program;
};

void ConsoleCommandsTest::init()
{
    game = std::make_unique<GameFixture>();
    program = QStringLiteral(BRENNWERK_EDITOR_PROGRAM);
}

ConsoleCommandsTest::Run ConsoleCommandsTest::run(const QStringList& arguments, const QString& display,
                                                  rlim_t fileSizeLimit, const QByteArray& input, int terminals) const
{
    struct Terminal {
        int master = -1;
        int slave = -1;
        QByteArray got;
    };
    Terminal terminal[2]; // stdout, stderr
    for (int stream = 0; stream < 2; ++stream) {
        if (!(terminals & (1 << stream)))
            continue;
        Terminal& t = terminal[stream];
        termios mode{};
        if (::openpty(&t.master, &t.slave, nullptr, nullptr, nullptr) != 0 || ::tcgetattr(t.slave, &mode) != 0)
            qFatal("no pseudo-terminal: %s", std::strerror(errno));
        ::cfmakeraw(&mode);
        ::tcsetattr(t.slave, TCSANOW, &mode);
        ::fcntl(t.master, F_SETFD, FD_CLOEXEC);
        ::fcntl(t.slave, F_SETFD, FD_CLOEXEC);
        ::fcntl(t.master, F_SETFL, O_NONBLOCK);
    }
    QProcess process;
    const int outSlave = terminal[0].slave;
    const int errSlave = terminal[1].slave;
    process.setChildProcessModifier([fileSizeLimit, outSlave, errSlave] {
        if (fileSizeLimit) {
            // As "ulimit -f" in a server's script leaves it: the limit, and
            // the signal past it at its default, which ends the process.
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_DFL);
        }
        if (outSlave >= 0)
            ::dup2(outSlave, STDOUT_FILENO);
        if (errSlave >= 0)
            ::dup2(errSlave, STDERR_FILENO);
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(program, QStringList{"--registry", game->registryPath()} + arguments);
    process.write(input);
    process.closeWriteChannel();
    // Once the program has ended, reading a terminal gives what it wrote,
    // then an error: no other end is open.
    const auto readTerminals = [&terminal] {
        for (Terminal& t : terminal) {
            char bytes[4096];
            for (ssize_t got; t.master >= 0 && (got = ::read(t.master, bytes, sizeof bytes)) > 0;)
                t.got.append(bytes, got);
        }
    };
    for (Terminal& t : terminal) {
        if (t.slave >= 0)
            ::close(t.slave);
    }
    QDeadlineTimer deadline(30000);
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            qFatal("brennwerk-editor did not finish");
        process.waitForFinished(20);
        readTerminals();
    }
    readTerminals();
    for (Terminal& t : terminal) {
        if (t.master >= 0)
            ::close(t.master);
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            terminal[0].master >= 0 ? terminal[0].got : process.readAllStandardOutput(),
            terminal[1].master >= 0 ? terminal[1].got : process.readAllStandardError()};
}

void ConsoleCommandsTest::getReadsTheValue_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("main") << QStringList{"get", "main", "UBrowser.UBrowserIRCSystemPage", "NickName"} << 0
                          << QByteArray("Funkenflug\n") << QByteArray();
    QTest::newRow("user") << QStringList{"get", "user", "DefaultPlayer", "Name"} << 0 << QByteArray("Glutkern\n") << QByteArray();
    QTest::newRow("Windows-1252 to UTF-8") << QStringList{"get", "main", "Engine.GameReplicationInfo", "AdminName"}
                                           << 0 << QByteArray("J\xc3\xbcrgen Wei\xc3\x9f\n") << QByteArray();
    QTest::newRow("case-insensitive names") << QStringList{"get", "main", "engine.gameengine", "cachesizemegs"} << 0
                                            << QByteArray("32\n") << QByteArray();
    QTest::newRow("empty value is found") << QStringList{"get", "main", "Engine.GameReplicationInfo", "MOTDLine4"}
                                          << 0 << QByteArray("\n") << QByteArray();
    QTest::newRow("absent") << QStringList{"get", "main", "Engine.GameEngine", "NoSuchKey"} << 1 << QByteArray() << QByteArray();
    QTest::newRow("absent with default") << QStringList{"get", "main", "Engine.GameEngine", "Key", "-1"} << 1
                                         << QByteArray("-1\n") << QByteArray();
    // An absent section is no answer but a typo, most likely.
    QTest::newRow("a section far from all, with default")
        << QStringList{"get", "main", "Nowhere", "Key", "-1"} << 1 << QByteArray("-1\n")
        << QByteArray("brennwerk-editor: there is no section [Nowhere] in %G/System/UnrealTournament.ini\n");
    QTest::newRow("a mistyped section, with --all")
        << QStringList{"get", "--all", "main", "Engine.GameEngin", "ServerPackages"} << 1 << QByteArray()
        << QByteArray("brennwerk-editor: there is no section [Engine.GameEngin] in %G/System/UnrealTournament.ini "
                      "(closest: [Engine.GameEngine])\n");
    // Every line of a list; options after the command; "--"; a missing file.
    QTest::newRow("--all after the operands")
        << QStringList{"get", "main", "Engine.GameEngine", "serverpackages", "--all"} << 0
        << QByteArray("SoldierSkins\nCommandoSkins\nFCommandoSkins\nSGirlSkins\nBossSkins\nBotpack\nMultiMesh\n"
                      "EpicCustomModels\n")
        << QByteArray();
    QTest::newRow("--all of a key of one line") << QStringList{"get", "--all", "main", "URL", "Port"} << 0
                                                << QByteArray("7777\n") << QByteArray();
    QTest::newRow("--all of an absent key") << QStringList{"get", "main", "URL", "NoSuchKey", "--all", "none"} << 1
                                            << QByteArray("none\n") << QByteArray();
    QTest::newRow("-- ends the options") << QStringList{"get", "--", "main", "URL", "NoSuchKey", "-x"} << 1
                                         << QByteArray("-x\n") << QByteArray();
    QTest::newRow("file that does not exist") << QStringList{"get", "%G/mian", "URL", "Port", "7777"} << 1
                                              << QByteArray("7777\n")
                                              << QByteArray("brennwerk-editor: %G/mian does not exist\n");
}

void ConsoleCommandsTest::getReadsTheValue()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, err);
    const QByteArray before = readBytes(game->mainIniPath());
    const Run result = run(QStringList{"--game-dir", game->gameDir()} + expanded(arguments));
    QTEST(result.status, "status");
    QTEST(result.out, "out");
    QCOMPARE(result.err, expanded(err));
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
    QCOMPARE(run({"set", path, "IpDrv.TcpNetDriver", "MaxClientRate", "20000", "--create"}).status, 0);
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

// A copy of the bytes with the first `from` replaced by `to`.
static QByteArray changed(QByteArray bytes, const QByteArray& from, const QByteArray& to)
{
    const qsizetype at = bytes.indexOf(from);
    if (from.isEmpty() || at < 0)
        qFatal("no %s in the file", from.constData());
    return bytes.replace(at, from.size(), to);
}

void ConsoleCommandsTest::serverFileEdits_data()
{
    // On a server's file (tests/data/ini/server.ini: CR LF, Windows-1252,
    // comments, lists of 6 to 16 lines): the command line after "--game-dir
    // DIR", its status, stdout and stderr, and the file after it: the
    // original with `from` replaced by `to` (from empty: unchanged). FILE "-"
    // gets the file on stdin; from and to then tell what "%O" in stdout is,
    // and the file stays.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    const QByteArray none;
    const QByteArray lastPackage = "ServerPackages=GlutSounds\r\n";
    // Values a second run must find already there.
    const QByteArray motd = "MOTDLine1=\"Willkommen \x96 bitte fair spielen\"\t \r\n";
    QTest::newRow("set: a value in its own quotes")
        << QStringList{"set", "%F", "Engine.GameReplicationInfo", "ShortName", "\"My Server\""} << 0 << none << none
        << QByteArray("ShortName=Glutofen\r\n") << QByteArray("ShortName=\"My Server\"\r\n");
    QTest::newRow("set: a quoted value, a new one in its own single quotes")
        << QStringList{"set", "%F", "Engine.GameReplicationInfo", "MOTDLine1", "'Hallo'"} << 0 << none << none
        << motd << QByteArray("MOTDLine1='Hallo'\t \r\n");
    QTest::newRow("set: a quote at one end only")
        << QStringList{"set", "%F", "Engine.GameReplicationInfo", "ShortName", "\"Glut"} << 0 << none << none
        << QByteArray("ShortName=Glutofen\r\n") << QByteArray("ShortName=\"Glut\r\n");
    QTest::newRow("set: blanks around the value")
        << QStringList{"set", "%F", "Engine.GameReplicationInfo", "ShortName", "  Glut  "} << 0 << none << none
        << QByteArray("ShortName=Glutofen\r\n") << QByteArray("ShortName=  Glut  \r\n");
    QTest::newRow("set: the empty value") << QStringList{"set", "%F", "Engine.GameReplicationInfo", "ShortName", ""}
                                          << 0 << none << none << QByteArray("ShortName=Glutofen\r\n")
                                          << QByteArray("ShortName=\r\n");
    QTest::newRow("add: after the key's last line")
        << QStringList{"add", "%F", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0 << none << none
        << lastPackage << lastPackage + "ServerPackages=MyMod\r\n";
    QTest::newRow("add: spelt as the key's lines are")
        << QStringList{"add", "%F", "engine.gameengine", "SERVERACTORS", "MyMod.MyActor Speed=2"} << 0 << none
        << none << QByteArray("ServerActors=Glutofen.Announcer\r\n")
        << QByteArray("ServerActors=Glutofen.Announcer\r\nServerActors=MyMod.MyActor Speed=2\r\n");
    QTest::newRow("add: a value there in other letter case is no change")
        << QStringList{"add", "%F", "Engine.GameEngine", "ServerPackages", "botPACK"} << 0 << none << none << none
        << none;
    QTest::newRow("add: a section without the key, after its last key")
        << QStringList{"add", "%F", "IpServer.UdpServerUplink", "MasterServerAddress", "master.example"} << 0 << none
        << none << QByteArray("Region=0\r\n\r\n[UWeb.WebServer]")
        << QByteArray("Region=0\r\nMasterServerAddress=master.example\r\n\r\n[UWeb.WebServer]");
    QTest::newRow("remove: every line of the value, letter case aside")
        << QStringList{"remove", "%F", "Core.System", "Paths", "../MODS/glut/*.u"} << 0 << none << none
        << QByteArray("Paths=../Mods/Glut/*.u\r\n") << none;
    QTest::newRow("remove: a value not there is no change")
        << QStringList{"remove", "%F", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0 << none << none << none
        << none;
    QTest::newRow("remove: a commented line is none")
        << QStringList{"remove", "%F", "Engine.GameEngine", "ServerActors", "GlutStats.StatsActor"} << 0 << none
        << none << none << none;
    QByteArray suppress;
    for (const char* name : {"Load", "Save", "NetTraffic", "Garbage", "Kill", "Replace", "Sound", "Compile", "Bind", "Bsp"})
        suppress += QByteArray("Suppress=Dev") + name + "\r\n";
    QTest::newRow("unset: every line of the key")
        << QStringList{"unset", "%F", "Core.System", "suppress"} << 0 << none << none << suppress << none;
    QTest::newRow("set: a list is refused")
        << QStringList{"set", "%F", "Engine.GameEngine", "ServerActors", "MyMod.MyActor"} << 1 << none
        << QByteArray("brennwerk-editor: [Engine.GameEngine] ServerActors has 9 lines in %F, and 'set' would change "
                      "only the first: use 'add' and 'remove' for a list, or 'set --first'\n")
        << none << none;
    QTest::newRow("set --first: the first line")
        << QStringList{"set", "--first", "%F", "Engine.GameEngine", "ServerActors", "IpDrv.UdpBeacon2"} << 0 << none
        << none << QByteArray("ServerActors=IpDrv.UdpBeacon\r\n") << QByteArray("ServerActors=IpDrv.UdpBeacon2\r\n");
    QTest::newRow("set: a value in quotes keeps what stands after them")
        << QStringList{"set", "%F", "Engine.GameReplicationInfo", "MOTDLine1", "Hallo"} << 0 << none << none
        << QByteArray("\"Willkommen \x96 bitte fair spielen\"\t \r\n") << QByteArray("\"Hallo\"\t \r\n");
    QTest::newRow("set: a mistyped section is refused")
        << QStringList{"set", "%F", "Engine.GameEngin", "CacheSizeMegs", "64"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [Engine.GameEngin] in %F (closest: [Engine.GameEngine]); "
                      "--create adds it\n")
        << none << none;
    QTest::newRow("add: a mistyped section is refused")
        << QStringList{"add", "%F", "Engine.GameEngines", "ServerPackages", "MyMod"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [Engine.GameEngines] in %F (closest: [Engine.GameEngine]); "
                      "--create adds it\n")
        << none << none;
    QTest::newRow("set: two neighbours swapped and a letter left out, two typos")
        << QStringList{"set", "%F", "Engine.GaemEngie", "CacheSizeMegs", "64"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [Engine.GaemEngie] in %F (closest: [Engine.GameEngine]); "
                      "--create adds it\n")
        << none << none;
    QTest::newRow("remove: a section far from all")
        << QStringList{"remove", "%F", "MyMod.Settings", "Speed", "2"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [MyMod.Settings] in %F\n") << none << none;
    QTest::newRow("set --create FILE: a new section")
        << QStringList{"set", "--create", "%F", "MyMod.Settings", "Speed", "2"} << 0 << none << none
        << QByteArray("MinPlayers=0\r\n") << QByteArray("MinPlayers=0\r\n\r\n[MyMod.Settings]\r\nSpeed=2\r\n");
    QTest::newRow("set: a negative number and a value after --")
        << QStringList{"set", "%F", "Botpack.DeathMatchPlus", "MinPlayers", "--", "-2"} << 0 << none << none
        << QByteArray("MinPlayers=0\r\n") << QByteArray("MinPlayers=-2\r\n");
    // The lines as the file holds them: CR LF.
    const QByteArray packageDiff = "--- %F\n+++ %F\n@@ -81,6 +81,7 @@\n ServerPackages=GlutSkins\r\n"
                                   " ServerPackages=GlutHUD\r\n ServerPackages=GlutSounds\r\n+ServerPackages=MyMod\r\n"
                                   " MinClientVersion=432\r\n \r\n [Editor.EditorEngine]\r\n";
    QTest::newRow("--dry-run: the diff, and no change")
        << QStringList{"add", "%F", "Engine.GameEngine", "ServerPackages", "MyMod", "--dry-run"} << 0 << packageDiff
        << none << none << none;
    QTest::newRow("--diff: the change, and the same diff")
        << QStringList{"--diff", "add", "%F", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0 << packageDiff
        << none << lastPackage << lastPackage + "ServerPackages=MyMod\r\n";
    QTest::newRow("--diff: lines in Windows-1252, as the file holds them")
        << QStringList{"unset", "--diff", "%F", "Engine.GameReplicationInfo", "AdminName"} << 0
        << QByteArray("--- %F\n+++ %F\n@@ -108,7 +108,6 @@\n [Engine.GameReplicationInfo]\r\n"
                      " ServerName=Glutofen | Instagib | D\xe4nemark & K\xf6ln\r\n ShortName=Glutofen\r\n"
                      "-AdminName=J\xfcrgen \x84" "Funke\x93 Wei\xdf\r\n"
                      " AdminEmail=admin@glutofen.example\r\n Region=0\r\n"
                      " MOTDLine1=\"Willkommen \x96 bitte fair spielen\"\t \r\n")
        << none << QByteArray("AdminName=J\xfcrgen \x84" "Funke\x93 Wei\xdf\r\n") << none;
    QTest::newRow("set -: the new content on stdout")
        << QStringList{"set", "-", "Engine.GameEngine", "CacheSizeMegs", "64"} << 0 << QByteArray("%O") << none
        << QByteArray("CacheSizeMegs=32\r\n") << QByteArray("CacheSizeMegs=64\r\n");
    QTest::newRow("remove -: no change, the input as it came")
        << QStringList{"remove", "-", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0 << QByteArray("%O") << none
        << none << none;
    QTest::newRow("set --create -: a new section")
        << QStringList{"set", "--create", "-", "MyMod.Settings", "Speed", "2"} << 0 << QByteArray("%O") << none
        << QByteArray("MinPlayers=0\r\n") << QByteArray("MinPlayers=0\r\n\r\n[MyMod.Settings]\r\nSpeed=2\r\n");
    QTest::newRow("--dry-run -: the diff alone")
        << QStringList{"--dry-run", "add", "-", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0
        << QByteArray(packageDiff).replace("%F", "-") << none << none << none;
    QTest::newRow("add -: a mistyped section in standard input")
        << QStringList{"add", "-", "Engine.GameEngin", "ServerPackages", "MyMod"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [Engine.GameEngin] in standard input (closest: "
                      "[Engine.GameEngine]); --create adds it\n")
        << none << none;
    QTest::newRow("get -: from standard input")
        << QStringList{"get", "-", "Engine.GameReplicationInfo", "AdminName"} << 0
        << QByteArray("J\xc3\xbcrgen \xe2\x80\x9e" "Funke\xe2\x80\x9c Wei\xc3\x9f\n") << none << none << none;
    QTest::newRow("get -: a mistyped section")
        << QStringList{"get", "-", "UWeb.WebSrever", "ListenPort", "80"} << 1 << QByteArray("80\n")
        << QByteArray("brennwerk-editor: there is no section [UWeb.WebSrever] in standard input (closest: "
                      "[UWeb.WebServer])\n")
        << none << none;
    QTest::newRow("--diff: no change, no diff")
        << QStringList{"--diff", "remove", "%F", "Engine.GameEngine", "ServerPackages", "MyMod"} << 0 << none << none
        << none << none;
    QTest::newRow("list: the sections")
        << QStringList{"list", "%F"} << 0
        << QByteArray("URL\nFirstRun\nEngine.Engine\nCore.System\nEngine.GameEngine\nEditor.EditorEngine\n"
                      "Engine.GameReplicationInfo\nIpServer.UdpServerUplink\nUWeb.WebServer\nBotpack.DeathMatchPlus\n")
        << none << none << none;
    QTest::newRow("list: a section as the game reads it")
        << QStringList{"list", "%F", "uweb.webserver"} << 0
        << QByteArray("Applications[0]=UTServerAdmin.UTServerAdmin\nApplicationPaths[0]=/ServerAdmin\n"
                      "Applications[1]=UTServerAdmin.UTImageServer\nApplicationPaths[1]=/images\nListenPort=5080\n"
                      "bEnabled=False\n")
        << none << none << none;
    QTest::newRow("list: a mistyped section")
        << QStringList{"list", "%F", "UWeb.WebSrever"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [UWeb.WebSrever] in %F (closest: [UWeb.WebServer])\n")
        << none << none;
    QTest::newRow("list: two letters missing, two sections as near, in their order")
        << QStringList{"list", "%F", "Engine.GmEngine"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [Engine.GmEngine] in %F (closest: [Engine.Engine], "
                      "[Engine.GameEngine])\n")
        << none << none;
    QTest::newRow("list: the first letter and another missing")
        << QStringList{"list", "%F", "otpack.DeathMachPlus"} << 1 << none
        << QByteArray("brennwerk-editor: there is no section [otpack.DeathMachPlus] in %F (closest: "
                      "[Botpack.DeathMatchPlus])\n")
        << none << none;
    QTest::newRow("unset: a file that does not exist")
        << QStringList{"unset", "%G/Server.ini", "Core.System", "Paths"} << 1 << none
        << QByteArray("brennwerk-editor: %G/Server.ini does not exist\n") << none << none;
    QTest::newRow("add: a file that does not exist")
        << QStringList{"add", "%G/Server.ini", "Core.System", "Paths", "x"} << 1 << none
        << QByteArray("brennwerk-editor: %G/Server.ini does not exist; --create makes it\n") << none << none;
}

void ConsoleCommandsTest::serverFileEdits()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    const QByteArray original = sourceBytes("tests/data/ini/server.ini");
    writeBytes(serverFile(), original);
    const bool standardInput = arguments.contains("-");
    const Run result = run(QStringList{"--game-dir", game->gameDir()} + expanded(arguments), QString(), 0,
                           standardInput ? original : QByteArray());
    QTEST(result.status, "status");
    const QByteArray expected = from.isEmpty() ? original : changed(original, from, to);
    QFETCH(QByteArray, out);
    QCOMPARE(result.out, expanded(out).replace("%O", expected));
    QFETCH(QByteArray, err);
    QCOMPARE(result.err, expanded(err));
    QCOMPARE(readBytes(serverFile()), standardInput ? original : expected);
    // The same command again changes nothing, and says so with no diff.
    const QStringList edits{"set", "add", "remove", "unset"};
    if (result.status == 0 && edits.contains(arguments.front()) && !standardInput && !arguments.contains("--dry-run")) {
        QStringList again = expanded(arguments);
        again.removeAll("--diff");
        const Run second = run(QStringList{"--game-dir", game->gameDir(), "--diff"} + again);
        QCOMPARE(second.status, 0);
        QCOMPARE(second.out, QByteArray());
        QCOMPARE(readBytes(serverFile()), expected);
    }
    // What was added, removed again, gives back every byte.
    if (arguments.front() == "add" && expected != original && !standardInput) {
        arguments.front() = "remove";
        arguments.removeAll("--diff");
        QCOMPARE(run(expanded(arguments)).status, 0);
        QCOMPARE(readBytes(serverFile()), original);
    }
}

void ConsoleCommandsTest::applyMakesAllOrNone_data()
{
    // "apply" on the server file: its command line (%S: the script's file,
    // written from `script`; without %S the script comes on stdin), status,
    // stdout and stderr, and the file after it: the original with each
    // `changes` pair (from, to) made.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QByteArrayList>("changes");
    const QByteArray none;
    QTest::newRow("a mod installed, from a file, with its diff")
        << QStringList{"apply", "%F", "%S", "--diff"}
        << QByteArray("# MyMod 1.2 for the Glutofen server\n"
                      "add Engine.GameEngine ServerPackages MyMod\n"
                      "  add Engine.GameEngine ServerActors 'MyMod.MyActor Speed=2'   # with its settings\n"
                      "set Engine.GameReplicationInfo MOTDLine3 \"Now with \\\"MyMod\\\"\"\n"
                      "add Engine.GameEngine ServerPackages mymod\n")
        << 0
        << QByteArray("--- %F\n+++ %F\n"
                      "@@ -69,6 +69,7 @@\n ServerActors=Glutofen.MapVoteActor\r\n ServerActors=Glutofen.AntiTweak\r\n"
                      " ServerActors=Glutofen.Announcer\r\n+ServerActors=MyMod.MyActor Speed=2\r\n"
                      " ServerPackages=SoldierSkins\r\n ServerPackages=CommandoSkins\r\n ServerPackages=FCommandoSkins\r\n"
                      "@@ -81,6 +82,7 @@\n ServerPackages=GlutSkins\r\n ServerPackages=GlutHUD\r\n ServerPackages=GlutSounds\r\n"
                      "+ServerPackages=MyMod\r\n MinClientVersion=432\r\n \r\n [Editor.EditorEngine]\r\n"
                      "@@ -113,7 +115,7 @@\n Region=0\r\n"
                      " MOTDLine1=\"Willkommen \x96 bitte fair spielen\"\t \r\n MOTDLine2=Maps: DM-Deck16][, CTF-Face\r\n"
                      "-MOTDLine3=\r\n+MOTDLine3=Now with \"MyMod\"\r\n MOTDLine4=\r\n \r\n [IpServer.UdpServerUplink]\r\n")
        << none
        << QByteArrayList{"ServerActors=Glutofen.Announcer\r\n",
                          "ServerActors=Glutofen.Announcer\r\nServerActors=MyMod.MyActor Speed=2\r\n",
                          "ServerPackages=GlutSounds\r\n", "ServerPackages=GlutSounds\r\nServerPackages=MyMod\r\n",
                          "MOTDLine3=\r\n", "MOTDLine3=Now with \"MyMod\"\r\n"};
    QTest::newRow("a mod removed, CR LF script on stdin")
        << QStringList{"apply", "%F"}
        << QByteArray("remove Engine.GameEngine ServerActors Glutofen.AntiTweak\r\n"
                      "remove Engine.GameEngine ServerPackages glutofen\r\n")
        << 0 << none << none
        << QByteArrayList{"ServerActors=Glutofen.AntiTweak\r\n", "", "ServerPackages=Glutofen\r\n", ""};
    QTest::newRow("--create makes a section")
        << QStringList{"apply", "--create", "%F", "-"}
        << QByteArray("set MyMod.Settings Speed 2\nadd MyMod.Settings Maps DM-Deck16][\n") << 0 << none << none
        << QByteArrayList{"MinPlayers=0\r\n", "MinPlayers=0\r\n\r\n[MyMod.Settings]\r\nSpeed=2\r\nMaps=DM-Deck16][\r\n"};
    {
        // More changed lines than the shortest edit script is looked for in:
        // each change shows as itself, between lines that stayed.
        QByteArray script, added, diffAdded;
        for (int i = 0; i < 600; ++i) {
            const QByteArray line = "BulkKey" + QByteArray::number(i) + "=" + QByteArray::number(i);
            script += "set Engine.GameEngine BulkKey" + QByteArray::number(i) + " " + QByteArray::number(i) + "\n";
            script += "set Botpack.DeathMatchPlus BulkKey" + QByteArray::number(i) + " " + QByteArray::number(i) + "\n";
            added += line + "\r\n";
            diffAdded += "+" + line + "\r\n";
        }
        QTest::newRow("1,200 changes, with their diff")
            << QStringList{"apply", "%F", "%S", "--diff"} << script << 0
            << "--- %F\n+++ %F\n@@ -82,6 +82,606 @@\n ServerPackages=GlutHUD\r\n ServerPackages=GlutSounds\r\n"
                   " MinClientVersion=432\r\n"
                   + diffAdded + " \r\n [Editor.EditorEngine]\r\n UseSound=True\r\n@@ -135,3 +735,603 @@\n"
                   " FragLimit=30\r\n TimeLimit=15\r\n MinPlayers=0\r\n" + diffAdded
            << none
            << QByteArrayList{"MinClientVersion=432\r\n", "MinClientVersion=432\r\n" + added, "MinPlayers=0\r\n",
                              "MinPlayers=0\r\n" + added};
    }
    QTest::newRow("--dry-run writes nothing")
        << QStringList{"apply", "%F", "--dry-run"} << QByteArray("remove Engine.GameEngine ServerPackages GlutHUD\n")
        << 0
        << QByteArray("--- %F\n+++ %F\n@@ -79,7 +79,6 @@\n ServerPackages=GlutMapVote\r\n"
                      " ServerPackages=GlutAnnouncer\r\n ServerPackages=GlutSkins\r\n-ServerPackages=GlutHUD\r\n"
                      " ServerPackages=GlutSounds\r\n MinClientVersion=432\r\n \r\n")
        << none << QByteArrayList{};
    QTest::newRow("nothing but comments and blank lines")
        << QStringList{"apply", "%F", "%S"} << QByteArray("# nothing yet\n\n   \n") << 0 << none << none
        << QByteArrayList{};
    // A bad line writes nothing, and is named by its number.
    QTest::newRow("an unknown command in line 3, the first bad line")
        << QStringList{"apply", "%F", "%S"}
        << QByteArray("add Engine.GameEngine ServerPackages MyMod\n\nad Engine.GameEngine ServerActors MyMod.MyActor\n"
                      "add Engine.GameEngine ServerPackages $MOD\n")
        << 1 << none
        << QByteArray("brennwerk-editor: %S:3: unknown command 'ad' (a script holds set, add, remove and unset); "
                      "nothing written\n")
        << QByteArrayList{};
    QTest::newRow("a list set in line 4, after an add to it")
        << QStringList{"apply", "%F"}
        << QByteArray("# MyMod\nadd Engine.GameEngine ServerPackages MyMod\n"
                      "add Engine.GameEngine ServerActors MyMod.MyActor\nset Engine.GameEngine ServerActors X\n")
        << 1 << none
        << QByteArray("brennwerk-editor: standard input:4: [Engine.GameEngine] ServerActors has 10 lines in %F, and "
                      "'set' would change only the first: use 'add' and 'remove' for a list, or 'set --first'; "
                      "nothing written\n")
        << QByteArrayList{};
    QTest::newRow("a mistyped section in a line continued")
        << QStringList{"apply", "%F", "%S"}
        << QByteArray("add Engine.GameEngine ServerPackages MyMod\nadd Engine.GameEngin \\\n  ServerActors MyMod.A\n")
        << 1 << none
        << QByteArray("brennwerk-editor: %S:2: there is no section [Engine.GameEngin] in %F (closest: "
                      "[Engine.GameEngine]); --create adds it; nothing written\n")
        << QByteArrayList{};
    QTest::newRow("a quote not closed")
        << QStringList{"apply", "%F", "%S"}
        << QByteArray("add Engine.GameEngine ServerPackages MyMod\nset Engine.GameReplicationInfo MOTDLine3 'It's fine'\n")
        << 1 << none << QByteArray("brennwerk-editor: %S:2: a quote (') is not closed on its line; nothing written\n")
        << QByteArrayList{};
    QTest::newRow("what a shell would expand")
        << QStringList{"apply", "%F", "%S"} << QByteArray("add Engine.GameEngine ServerPackages \"$MOD\"\n") << 1
        << none
        << QByteArray("brennwerk-editor: %S:1: '$' would be expanded by a shell; put it in single quotes; nothing "
                      "written\n")
        << QByteArrayList{};
    QTest::newRow("a value the file cannot hold")
        << QStringList{"apply", "%F", "%S"}
        << QByteArray("add Engine.GameEngine ServerPackages MyMod\nset Engine.GameReplicationInfo ShortName \xe9\x9b\xaa\n")
        << 1 << none
        << QByteArray("brennwerk-editor: %S:2: the value for [Engine.GameReplicationInfo] ShortName contains the "
                      "character \"\xe9\x9b\xaa\" (U+96EA), which cannot be stored in %F (Windows-1252 text); nothing "
                      "written\n")
        << QByteArrayList{};
    QTest::newRow("a line that is not UTF-8")
        << QStringList{"apply", "%F", "%S"} << QByteArray("add Engine.GameEngine ServerPackages MyMod\r\n# M\xfcll\r\n")
        << 1 << none << QByteArray("brennwerk-editor: %S:2: the line is not UTF-8 text; nothing written\n")
        << QByteArrayList{};
    QTest::newRow("a script that cannot be read")
        << QStringList{"apply", "%F", "%G/none.txt"} << none << 1 << none
        << QByteArray("brennwerk-editor: cannot read %G/none.txt: No such file or directory\n") << QByteArrayList{};
    QTest::newRow("a FILE that does not exist")
        << QStringList{"apply", "%G/Server.ini", "%S"} << QByteArray("unset Engine.GameEngine ServerPackages\n") << 1
        << none << QByteArray("brennwerk-editor: %G/Server.ini does not exist; --create makes it\n")
        << QByteArrayList{};
}

void ConsoleCommandsTest::applyMakesAllOrNone()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, script);
    QFETCH(QByteArrayList, changes);
    const QByteArray original = sourceBytes("tests/data/ini/server.ini");
    writeBytes(serverFile(), original);
    const QString scriptFile = game->gameDir() + "/mod.txt";
    const bool viaFile = arguments.contains("%S");
    if (viaFile)
        writeBytes(scriptFile, script);
    arguments.replaceInStrings("%S", scriptFile);
    // Every write of the file renames a new file onto its name: one for a
    // change, none for none.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(game->gameDir() + "/System").constData(), IN_MOVED_TO) >= 0);
    const Run result = run(expanded(arguments), QString(), 0, viaFile ? QByteArray() : script);
    int renames = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
            renames += QByteArray(reinterpret_cast<inotify_event*>(at)->name) == "Server.ini" ? 1 : 0;
    }
    ::close(watch);

    QTEST(result.status, "status");
    QFETCH(QByteArray, out);
    QCOMPARE(result.out, expanded(out).replace("%S", scriptFile.toUtf8()));
    QFETCH(QByteArray, err);
    QCOMPARE(result.err, expanded(err).replace("%S", scriptFile.toUtf8()));
    QByteArray expected = original;
    for (qsizetype i = 0; i + 1 < changes.size(); i += 2)
        expected = changed(expected, changes[i], changes[i + 1]);
    QCOMPARE(readBytes(serverFile()), expected);
    QCOMPARE(renames, expected == original ? 0 : 1);
    // The same script again changes nothing, and says so with no diff.
    if (result.status == 0 && !arguments.contains("--dry-run")) {
        QStringList again = expanded(arguments);
        again.removeAll("--diff");
        const Run second = run(again + QStringList{"--diff"}, QString(), 0, viaFile ? QByteArray() : script);
        QCOMPARE(second.status, 0);
        QCOMPARE(second.out, QByteArray());
        QCOMPARE(readBytes(serverFile()), expected);
    }
}

void ConsoleCommandsTest::setWaitsForALongApply()
{
    // A "set" started while an "apply" of 10,000 changes holds the file
    // waits its turn and succeeds, and the file holds both. The apply is
    // stopped right after it has locked the file (strace sends it SIGSTOP
    // on the return of its first flock) until the set says that it waits:
    // the set's wait then spans all of the apply's work.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("strace is not installed");
    // A server's file of 80 KB: a script that cost a pass over the file for
    // each change took longer than a writer waits for a lock.
    QByteArray original = sourceBytes("tests/data/ini/server.ini");
    for (int i = 0; original.size() < 80000; ++i)
        original += "\r\n[Mod" + QByteArray::number(i) + ".Settings]\r\nSpeed=" + QByteArray::number(i) + "\r\n";
    writeBytes(serverFile(), original);
    QByteArray script;
    for (int i = 0; i < 5000; ++i) {
        script += "set Botpack.DeathMatchPlus ApplyKey" + QByteArray::number(i) + " " + QByteArray::number(i) + "\n";
        script += "add Engine.GameEngine ServerPackages ApplyPackage" + QByteArray::number(i) + "\n";
    }
    const QString scriptFile = game->gameDir() + "/changes.txt";
    writeBytes(scriptFile, script);
    const QStringList set{"set", serverFile(), "Engine.GameEngine", "CacheSizeMegs", "77"};
    // The same two, one after the other.
    const QString copy = game->gameDir() + "/Copy.ini";
    writeBytes(copy, original);
    QCOMPARE(run({"apply", copy, scriptFile}).status, 0);
    QCOMPARE(run(QStringList(set).replaceInStrings(serverFile(), copy)).status, 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    // LeakSanitizer stops the world with ptrace, which strace holds.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    QProcess apply;
    apply.setProcessEnvironment(environment);
    apply.start("strace", {"-f", "-qq", "-o", "/dev/null", "-e", "trace=flock", "-e",
                           "inject=flock:signal=SIGSTOP:when=1", program, "--registry", game->registryPath(), "apply",
                           serverFile(), scriptFile});
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(serverFile()).constData(), &st), 0);
    const QByteArray inode = QString::asprintf(" %02x:%02x:%llu ", major(st.st_dev), minor(st.st_dev),
                                               static_cast<unsigned long long>(st.st_ino))
                                 .toLatin1();
    QByteArray holder;
    QDeadlineTimer deadline(30000);
    while (holder.isEmpty() && !deadline.hasExpired() && apply.state() != QProcess::NotRunning) {
        for (const QByteArray& line : readBytes("/proc/locks").split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (line.contains(inode) && fields.size() >= 6 && fields[1] == "FLOCK")
                holder = fields[4];
        }
        apply.waitForFinished(1);
    }
    QVERIFY2(!holder.isEmpty(), apply.readAllStandardError().constData());

    QProcess setter;
    setter.setProcessEnvironment(environment);
    setter.start(program, QStringList{"--registry", game->registryPath()} + set);
    QByteArray setErr;
    while (!setErr.contains('\n') && !deadline.hasExpired() && setter.state() != QProcess::NotRunning) {
        setter.waitForReadyRead(20);
        setErr += setter.readAllStandardError();
    }
    QCOMPARE(setErr, "brennwerk-editor: waiting for " + serverFile().toUtf8() + ", which process " + holder
                         + " holds locked\n");
    QCOMPARE(::kill(pid_t(holder.toInt()), SIGCONT), 0);
    QVERIFY(apply.waitForFinished(30000));
    QVERIFY(setter.waitForFinished(30000));
    QCOMPARE(apply.exitCode(), 0);
    QCOMPARE(setter.readAllStandardError(), QByteArray());
    QCOMPARE(setter.exitCode(), 0);
    QCOMPARE(readBytes(serverFile()), readBytes(copy));
}

void ConsoleCommandsTest::refusedValuesLeaveTheFile_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("errorPart"); // %1: the file, %2: the process that holds it locked
    QTest::newRow("line break") << "Evil\n[Engine.Engine]" << QString() << "line break";
    QTest::newRow("outside Windows-1252") << "雪" << QString() << "";
    QTest::newRow("read-only file") << "64" << "read-only"
                                    << "brennwerk-editor: unable to write to %1: it is read-only (it has no write "
                                       "permission)\n";
    QTest::newRow("a user who may not write it") << "64" << "another user"
                                                << "brennwerk-editor: unable to write to %1: Permission denied\n";
    QTest::newRow("file size limit below the new content")
        << QString(4000, u'9') << "size limit" << QString("unable to write to %1: ") + std::strerror(EFBIG);
    // A copy of the program that root made set-id or gave a capability (as
    // a careless admin might), run by a user who cannot even reach root's
    // file: without the refusal, the copy writes it with root's rights.
    const QString refusal = "brennwerk-editor: refusing to run set-user-ID, set-group-ID or with file capabilities; "
                            "run it as the user whose files it edits\n";
    QTest::newRow("set-user-ID copy") << "64" << "chmod 4755" << refusal;
    QTest::newRow("set-group-ID copy") << "64" << "chmod 2755" << refusal;
    QTest::newRow("copy with a file capability") << "64" << "setcap cap_dac_override+ep" << refusal;
    QTest::newRow("lock that nobody releases")
        << "64" << "locked"
        << "brennwerk-editor: waiting for %1, which process %2 holds locked\nbrennwerk-editor: unable to write to %1: "
           "process %2 has held it locked for 10 seconds; nothing was written\n";
}

void ConsoleCommandsTest::refusedValuesLeaveTheFile()
{
    QFETCH(QString, value);
    QFETCH(QString, condition);
    QFETCH(QString, errorPart);
    const bool privileged = condition.startsWith("chmod") || condition.startsWith("setcap");
    if ((condition == "another user" || privileged) && ::geteuid() != 0)
        QSKIP("needs root to act as another user");
    const QByteArray before = readBytes(game->mainIniPath());
    if (condition == "read-only")
        QFile::setPermissions(game->mainIniPath(), QFile::ReadOwner | QFile::ReadGroup);
    // The condition is the command that gives the copy its rights.
    std::unique_ptr<QTemporaryDir> copy;
    if (privileged) {
        QVERIFY(::chmod(QFile::encodeName(game->mainIniPath()).constData(), 0600) == 0);
        copy = copyOfTheProgram();
        if (!copy)
            QSKIP("no folder here where set-id bits take effect (the temporary and the build folder are nosuid)");
        program = copy->filePath("bin/brennwerk-editor");
        QStringList words = condition.split(' ');
        QCOMPARE(QProcess::execute(words.takeFirst(), words << program), 0);
    }
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
    // Another user, started from a process acting as that user, names the
    // file by its path: the game folder is root's only.
    std::optional<ActingAs> other;
    if (condition == "another user" || privileged) {
        other.emplace();
        QVERIFY(other->ok());
    }
    const QStringList file = other ? QStringList{game->mainIniPath()} : QStringList{"--game-dir", game->gameDir(), "main"};
    const Run result = run(QStringList{"set"} + file + QStringList{"Engine.GameEngine", "CacheSizeMegs", value},
                           QString(), condition == "size limit" ? rlim_t(before.size() + 100) : 0);
    // The window is no way round it.
    if (privileged) {
        const Run window = run({"--game-dir", game->gameDir()});
        QCOMPARE(window.status, 2);
        QCOMPARE(QString::fromUtf8(window.err), errorPart);
    }
    other.reset();
    if (holder > 0) {
        ::close(holding[1]);
        ::waitpid(holder, nullptr, 0);
        errorPart = errorPart.arg(game->mainIniPath()).arg(holder);
        QCOMPARE(QString::fromUtf8(result.err), errorPart);
    }
    if (errorPart.contains("%1"))
        errorPart = errorPart.arg(game->mainIniPath());
    if (privileged)
        QCOMPARE(QString::fromUtf8(result.err), errorPart);
    QCOMPARE(result.status, privileged ? 2 : 1);
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
    QCOMPARE(result.err, "brennwerk-editor: " + server.toUtf8() + "/User.ini does not exist\n");
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
    QTest::newRow("--create with get") << QStringList{"--create", "get", "main", "S", "K"};
    QTest::newRow("--create with remove") << QStringList{"remove", "main", "S", "K", "V", "--create"};
    QTest::newRow("--first with add") << QStringList{"add", "--first", "main", "S", "K", "V"};
    QTest::newRow("--all with set") << QStringList{"set", "main", "S", "K", "V", "--all"};
    QTest::newRow("--dry-run with list") << QStringList{"list", "main", "--dry-run"};
    QTest::newRow("--diff without a command") << QStringList{"--diff"};
    QTest::newRow("unset with a value") << QStringList{"unset", "main", "S", "K", "V"};
    QTest::newRow("list without FILE") << QStringList{"list"};
    QTest::newRow("apply with too much") << QStringList{"apply", "main", "a.txt", "b.txt"};
    QTest::newRow("unknown option after the command") << QStringList{"add", "main", "S", "K", "V", "--bogus"};
    QTest::newRow("a value option without its value") << QStringList{"get", "main", "S", "K", "--ini-dir"};
    QTest::newRow("a flag with a value") << QStringList{"set", "--create=yes", "main", "S", "K", "V"};
    QTest::newRow("a value with a dash, not after --") << QStringList{"set", "main", "S", "K", "-x"};
    QTest::newRow("paths with an argument") << QStringList{"paths", "main"};
    // Standard input cannot be FILE and SCRIPT at once, nor both the file
    // and the diff come out on stdout.
    QTest::newRow("apply - without SCRIPT") << QStringList{"apply", "-"};
    QTest::newRow("apply - -") << QStringList{"apply", "-", "-"};
    QTest::newRow("--diff with FILE -") << QStringList{"set", "--diff", "-", "S", "K", "V"};
}

void ConsoleCommandsTest::wrongUsage()
{
    QFETCH(QStringList, arguments);
    const QByteArray before = readBytes(game->mainIniPath());
    const Run result = run(QStringList{"--game-dir", game->gameDir()} + arguments);
    QCOMPARE(result.status, 2);
    // One line, in the style of every error.
    QVERIFY2(QRegularExpression("^brennwerk-editor: ['a-z][^\n]*[^.]; try 'brennwerk-editor --help'\n$")
                 .match(QString::fromUtf8(result.err))
                 .hasMatch(),
             result.err.constData());
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(readBytes(game->mainIniPath()), before);
}

void ConsoleCommandsTest::onlyTheWindowNeedsADisplay()
{
    const QByteArray before = readBytes(game->mainIniPath());
    const DisplayWithoutServer free;
    QVERIFY2(!free.name().isEmpty(), "no display number from :900 to :999 is free of an X server");
    // None named, or one where no X server listens.
    for (const auto& [display, message] :
         {std::pair{QString(), QStringLiteral("brennwerk-editor: no display found")},
          std::pair{free.name(), "brennwerk-editor: cannot open the display (DISPLAY=" + free.name() + ")"}}) {
        const Run window = run({"--game-dir", game->gameDir()}, display);
        QCOMPARE(window.status, 1);
        QVERIFY2(window.err.startsWith(message.toUtf8()), window.err.constData());
        QCOMPARE(window.err.count('\n'), 1);
        QCOMPARE(window.out, QByteArray());
        QCOMPARE(readBytes(game->mainIniPath()), before);
    }

    const Run help = run({"--help"});
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.startsWith("Usage: brennwerk-editor [OPTION]..."), help.out.constData());
    QCOMPARE(help.err, QByteArray());

    // Nor the window's libraries: a command that loaded Qt Gui would pay for
    // it on every call from a script. The loader names what it loads.
    QProcess command;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_DEBUG", "files");
    command.setProcessEnvironment(environment);
    command.start(QStringLiteral(BRENNWERK_EDITOR_PROGRAM),
                  {"--game-dir", game->gameDir(), "get", "main", "Engine.GameEngine", "CacheSizeMegs"});
    QVERIFY(command.waitForFinished(30000));
    QCOMPARE(command.exitCode(), 0);
    QCOMPARE(command.readAllStandardOutput(), QByteArray("32\n"));
    const QByteArray loaded = command.readAllStandardError();
    QVERIFY2(loaded.contains("libQt6Core.so"), loaded.constData());
    for (const char* library : {"libQt6Gui.so", "libQt6Widgets.so", "libjpeg.so"})
        QVERIFY2(!loaded.contains(library), library);
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
                             "done\n");
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
    QCOMPARE(result.err, ("brennwerk-editor: unable to write to " + link + ": " + why + "\n").toUtf8());
    QCOMPARE(readBytes(secret), QByteArray("[S]\nK=root's\n"));
}

void ConsoleCommandsTest::terminalsGetControlsEscaped_data()
{
    // On a file whose name and values hold what drives a terminal (%E, in
    // Windows-1252: ESC sequences that set the window's title and clear the
    // screen, BEL, DEL, the C1 controls 0x9D and 0x90, beside a tab and the
    // euro sign 0x80, which are text): what a pipe gets, and what a terminal
    // shows.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QByteArray>("shownOut");
    QTest::addColumn<QByteArray>("shownErr");
    const QByteArray none;
    const QByteArray title = "Title=\x1b]0;owned\x07\x1b[2J\tdone\x7f\n";
    const QByteArray shownTitle = "Title=\\x1b]0;owned\\x07\\x1b[2J\tdone\\x7f\n";
    QTest::newRow("get") << QStringList{"get", "%E", "S", "Title"} << title.sliced(6) << none
                         << shownTitle.sliced(6) << none;
    QTest::newRow("list") << QStringList{"list", "%E", "S"} << title + "C1=\xc2\x9d\xc2\x90 \xe2\x82\xac\n" << none
                          << shownTitle + "C1=\\x9d\\x90 \xe2\x82\xac\n" << none;
    // The diff holds the file's bytes, CR and Windows-1252 as they are, and
    // the name in quotes (%Q) with its ESC as \033, as patch reads it.
    QTest::newRow("the diff of a dry run")
        << QStringList{"set", "--dry-run", "%E", "S", "C1", "x"}
        << QByteArray("--- %Q\n+++ %Q\n@@ -1,3 +1,3 @@\n [S]\r\n Title=\x1b]0;owned\x07\x1b[2J\tdone\x7f\r\n"
                      "-C1=\x9d\x90 \x80\r\n+C1=x\r\n")
        << none
        << QByteArray("--- %Q\n+++ %Q\n@@ -1,3 +1,3 @@\n [S]\\x0d\n Title=\\x1b]0;owned\\x07\\x1b[2J\tdone\\x7f\\x0d\n"
                      "-C1=\\x9d\\x90 \xe2\x82\xac\\x0d\n+C1=x\\x0d\n")
        << none;
    QTest::newRow("an error naming the section and the file")
        << QStringList{"set", "%E", "\x1b[2J", "K", "v"} << none
        << QByteArray("brennwerk-editor: there is no section [\x1b[2J] in %E; --create adds it\n") << none
        << QByteArray("brennwerk-editor: there is no section [\\x1b[2J] in %E; --create adds it\n");
}

void ConsoleCommandsTest::terminalsGetControlsEscaped()
{
    QFETCH(QStringList, arguments);
    const QString file = game->gameDir() + "/t\x1b[7m.ini";
    const QByteArray shownFile = game->gameDir().toUtf8() + "/t\\x1b[7m.ini";
    writeBytes(file, "[S]\r\nTitle=\x1b]0;owned\x07\x1b[2J\tdone\x7f\r\nC1=\x9d\x90 \x80\r\n");
    arguments.replaceInStrings("%E", file);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QByteArray, shownOut);
    QFETCH(QByteArray, shownErr);
    const QByteArray quotedFile = "\"" + game->gameDir().toUtf8() + "/t\\033[7m.ini\"";
    out.replace("%E", file.toUtf8()).replace("%Q", quotedFile);
    err.replace("%E", file.toUtf8());
    shownOut.replace("%Q", quotedFile);
    shownOut.replace("%E", shownFile);
    shownErr.replace("%E", shownFile);
    // Each stream is looked at on its own: every mix of pipes and terminals.
    for (int terminals = NoTerminal; terminals <= (StdoutTerminal | StderrTerminal); ++terminals) {
        const Run result = run(arguments, QString(), 0, {}, terminals);
        QCOMPARE(result.status, err.isEmpty() ? 0 : 1);
        QCOMPARE(result.out, terminals & StdoutTerminal ? shownOut : out);
        QCOMPARE(result.err, terminals & StderrTerminal ? shownErr : err);
    }
}

void ConsoleCommandsTest::diffsMakeWhatTheWriteMakes_data()
{
    // A file's bytes and a change of it (%F: the file, by a relative name).
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("arguments");
    const QString name = "server.ini";
    const QStringList setA{"set", "%F", "S", "A", "3"};
    QTest::newRow("CR LF") << name << QByteArray("[S]\r\nA=1\r\nB=2\r\n") << setA;
    QTest::newRow("LF") << name << QByteArray("[S]\nA=1\nB=2\n") << setA;
    QTest::newRow("lone CR") << name << QByteArray("[S]\rA=1\rB=2\r") << setA;
    QTest::newRow("CR LF with a lone CR") << name << QByteArray("[S]\r\nA=1\rB=2\r\n") << setA;
    QTest::newRow("no line break at the end, the last line changed")
        << name << QByteArray("[S]\r\nA=1\r\nB=2") << QStringList{"set", "%F", "S", "B", "3"};
    QTest::newRow("no line break at the end, a key added after it")
        << name << QByteArray("[S]\r\nA=1\r\nB=2") << QStringList{"add", "%F", "S", "C", "4"};
    const QStringList serverName{"set", "%F", "Engine.GameReplicationInfo", "ServerName", "B\u00e4r \u20ac Server"};
    QTest::newRow("a Windows-1252 value")
        << name << QByteArray("[Engine.GameReplicationInfo]\r\nServerName=Alt\r\nShortName=Alt\r\n") << serverName;
    QTest::newRow("a UTF-8 file (byte-order mark)")
        << name << QByteArray("\xef\xbb\xbf[Engine.GameReplicationInfo]\r\nServerName=J\xc3\xbcrgen\r\n") << serverName;
    QTest::newRow("a new section, a name with a blank")
        << "Mein Server.ini" << QByteArray("[S]\r\nA=1\r\n")
        << QStringList{"set", "--create", "%F", "IpDrv.TcpNetDriver", "MaxClientRate", "20000"};
    QTest::newRow("the last line removed")
        << name << QByteArray("[S]\r\nA=1\r\nB=2\r\n") << QStringList{"unset", "%F", "S", "B"};
    QTest::newRow("the last line removed, without its line break")
        << name << QByteArray("[S]\r\nA=1\r\nB=2") << QStringList{"unset", "%F", "S", "B"};
}

void ConsoleCommandsTest::diffsMakeWhatTheWriteMakes()
{
    // The diff a dry run prints, applied as an operator applies it, makes
    // the very bytes the write makes; and FILE "-" prints them.
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, arguments);
    for (const char* tool : {"patch", "git"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
    }
    const QTemporaryDir dir;
    const auto folder = [&dir](const QString& which) {
        QDir().mkpath(dir.filePath(which));
        return dir.filePath(which);
    };
    const auto command = [this](const QString& cwd, QStringList words, const QByteArray& input = {}) {
        QProcess process;
        process.setWorkingDirectory(cwd);
        process.start(program, words);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(30000);
        return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   process.readAllStandardOutput(), process.readAllStandardError()};
    };
    const auto with = [&arguments](const QString& file, const QString& option) {
        QStringList words = arguments;
        words.replaceInStrings("%F", file);
        return option.isEmpty() ? words : words << option;
    };

    writeBytes(folder("look") + "/" + name, bytes);
    const Run look = command(dir.filePath("look"), with(name, "--dry-run"));
    QCOMPARE(look.err, QByteArray());
    QCOMPARE(look.status, 0);
    QCOMPARE(readBytes(dir.filePath("look/") + name), bytes);
    writeBytes(folder("write") + "/" + name, bytes);
    const Run write = command(dir.filePath("write"), with(name, "--diff"));
    QCOMPARE(write.status, 0);
    const QByteArray written = readBytes(dir.filePath("write/") + name);
    QVERIFY(written != bytes);
    QCOMPARE(write.out, look.out);
    const Run filter = command(dir.path(), with("-", QString()), bytes);
    QCOMPARE(filter.err, QByteArray());
    QCOMPARE(filter.out, written);

    // No git configuration of the machine or a repository around the
    // folder takes part.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("GIT_CONFIG_NOSYSTEM", "1");
    environment.insert("GIT_CONFIG_GLOBAL", "/dev/null");
    environment.insert("GIT_CEILING_DIRECTORIES", dir.path());
    const QList<std::pair<QString, QStringList>> appliers{
        {"patch", {"patch", "-s", "--", name}}, {"patch -p0", {"patch", "-s", "-p0"}}, {"git apply -p0", {"git", "apply", "-p0", "-"}}};
    for (const auto& [what, words] : appliers) {
        const QString cwd = folder(what);
        writeBytes(cwd + "/" + name, bytes);
        QProcess apply;
        apply.setProcessEnvironment(environment);
        apply.setWorkingDirectory(cwd);
        apply.start(words.front(), words.mid(1));
        apply.write(look.out);
        apply.closeWriteChannel();
        QVERIFY(apply.waitForFinished(30000));
        QVERIFY2(apply.exitStatus() == QProcess::NormalExit && apply.exitCode() == 0,
                 qPrintable(what + ": " + apply.readAllStandardOutput() + apply.readAllStandardError()));
        QVERIFY2(readBytes(cwd + "/" + name) == written, qPrintable(what));
    }
}

void ConsoleCommandsTest::outputThatIsLostIsAnError_data()
{
    // A command line, and whether it prints on stdout.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("prints");
    QTest::newRow("--help") << QStringList{"--help"} << true;
    QTest::newRow("--version") << QStringList{"--version"} << true;
    QTest::newRow("get") << QStringList{"get", "main", "Engine.GameEngine", "CacheSizeMegs"} << true;
    QTest::newRow("list") << QStringList{"list", "main"} << true;
    QTest::newRow("--dry-run") << QStringList{"--dry-run", "set", "main", "Engine.GameEngine", "CacheSizeMegs", "64"}
                               << true;
    QTest::newRow("paths") << QStringList{"paths"} << true;
    // Nothing to print, nothing lost; and the file it writes is no stream.
    QTest::newRow("set") << QStringList{"set", "main", "Engine.GameEngine", "CacheSizeMegs", "64"} << false;
}

void ConsoleCommandsTest::outputThatIsLostIsAnError()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, prints);
    const QByteArray before = readBytes(game->mainIniPath());
    const QByteArray written = withLine(before, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=64\r\n");
    QList<QByteArray> words{BRENNWERK_EDITOR_PROGRAM, "--registry", QFile::encodeName(game->registryPath()),
                            "--game-dir", QFile::encodeName(game->gameDir())};
    for (const QString& argument : arguments)
        words << argument.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    enum Stdout { DevFull, Closed, BrokenPipe, BrokenPipeSignalIgnored };
    for (const Stdout to : {DevFull, Closed, BrokenPipe, BrokenPipeSignalIgnored}) {
        // A pipe nobody reads any more: its reading end closed before the
        // program starts.
        int pipeEnds[2] = {-1, -1};
        QVERIFY(::pipe(pipeEnds) == 0);
        ::close(pipeEnds[0]);
        int errPipe[2];
        QVERIFY(::pipe(errPipe) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::dup2(errPipe[1], STDERR_FILENO);
            if (to == DevFull)
                ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
            else if (to == Closed)
                ::close(STDOUT_FILENO);
            else
                ::dup2(pipeEnds[1], STDOUT_FILENO);
            std::signal(SIGPIPE, to == BrokenPipeSignalIgnored ? SIG_IGN : SIG_DFL);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        ::close(errPipe[1]);
        QByteArray err;
        char buffer[4096];
        for (ssize_t got; (got = ::read(errPipe[0], buffer, sizeof buffer)) > 0;)
            err.append(buffer, got);
        ::close(errPipe[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const QByteArray why = to == DevFull ? std::strerror(ENOSPC) : to == Closed ? std::strerror(EBADF) : "";
        if (!prints) {
            QCOMPARE(err, QByteArray());
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else if (to == BrokenPipe) {
            // As coreutils end there: quietly, by the signal.
            QCOMPARE(err, QByteArray());
            QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE, QByteArray::number(status).constData());
        } else {
            QCOMPARE(err, why.isEmpty() ? QByteArray() : "brennwerk-editor: write error: " + why + "\n");
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 1, QByteArray::number(status).constData());
        }
        QCOMPARE(readBytes(game->mainIniPath()), prints ? before : written);
    }
}

QTEST_GUILESS_MAIN(ConsoleCommandsTest)
void ConsoleCommandsTest::dryRunOnlyLooks_data()
{
    QTest::addColumn<bool>("interrupted"); // a write was killed after its journal
    QTest::newRow("a file as it is") << false;
    QTest::newRow("a write interrupted, its journal beside") << true;
}

void ConsoleCommandsTest::dryRunOnlyLooks()
{
    // A dry run reads and writes nothing but its output: no exclusive lock,
    // nothing opened for writing, no recovery, no journal touched; the
    // system calls say so.
    QFETCH(bool, interrupted);
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("strace is not installed");
    const QString path = game->mainIniPath();
    const QString journal = QFileInfo(path).path() + "/." + QFileInfo(path).fileName() + ".brennwerk-journal";
    if (interrupted) {
        // In place (a second name), killed with the journal whole.
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(path + ".link").constData()) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            SafeFile::setJournalHook([](const QString&) { ::raise(SIGKILL); });
            GameConfigStore(path).WriteString("Engine.GameEngine", "CacheSizeMegs", "99");
            ::_exit(6);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && QFileInfo::exists(journal));
    }
    const QByteArray before = readBytes(path);
    const QByteArray journalBefore = interrupted ? readBytes(journal) : QByteArray();
    const QString log = QDir(QDir::tempPath()).filePath(QStringLiteral("dry-run-%1.strace").arg(::getpid()));
    QProcess strace;
    // LeakSanitizer stops the world with ptrace, which strace holds.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    strace.setProcessEnvironment(environment);
    strace.start(QStringLiteral("strace"), {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"), log, QStringLiteral("-e"),
                               QStringLiteral("trace=%file,write,pwrite64,ftruncate,flock,fallocate"),
                               QStringLiteral(BRENNWERK_EDITOR_PROGRAM), QStringLiteral("set"), path, QStringLiteral("Engine.GameEngine"),
                               QStringLiteral("CacheSizeMegs"), QStringLiteral("77"), QStringLiteral("--dry-run")});
    QVERIFY(strace.waitForFinished(30000));
    const QByteArray calls = readBytes(log);
    QFile::remove(log);
    QCOMPARE(strace.exitCode(), 0);
    QVERIFY(strace.readAllStandardOutput().contains("+CacheSizeMegs=77"));
    QCOMPARE(readBytes(path), before);
    if (interrupted)
        QCOMPARE(readBytes(journal), journalBefore);
    for (const QByteArray& call : calls.split('\n')) {
        const bool writes = call.contains("O_WRONLY") || call.contains("O_RDWR") || call.contains("O_CREAT")
            || call.contains("LOCK_EX") || call.contains("unlink") || call.contains("rename")
            || call.contains("ftruncate") || call.contains("pwrite64") || call.contains("fallocate")
            || call.contains("mkdir");
        // Writing to its standard output and error is all it may write.
        const bool output = QRegularExpression(QStringLiteral("^\\d+ +write\\([12],")).match(QString::fromUtf8(call)).hasMatch();
        const bool ownFiles = call.contains("/dev/") || call.contains("/proc/");
        QVERIFY2(!writes || ownFiles, call.constData());
        QVERIFY2(!call.contains(" write(") || output, call.constData());
    }
    if (interrupted) {
        // Not a dry run: the journal was a real one, and is put back now.
        const Run get = run({QStringLiteral("get"), path, QStringLiteral("Engine.GameEngine"), QStringLiteral("CacheSizeMegs")});
        QVERIFY2(get.err.contains("put back"), get.err.constData());
        QCOMPARE(readBytes(path), before);
        QVERIFY(!QFileInfo::exists(journal));
    }
}

#include "test_consolecommands.moc"
