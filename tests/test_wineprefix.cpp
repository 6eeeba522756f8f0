#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "platform/WinePaths.h"
#include "support/Environment.h"
#include "support/Files.h"
#include "support/PageTest.h"
#include "support/RegistryText.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString wineRunning = u"Wine läuft noch (wineserver für %1). Bitte beende das Spiel und alle "
                            "Wine-Programme und versuche es dann erneut."_s;

// A machine hive as Wine 8 writes it (64-bit prefix), cut down to a few keys
// of each kind around the ones the editor reads and writes: link keys, long
// hex values on continuation lines, expandable strings, escaped text.
QByteArray systemReg(const QByteArray& installKeyBlock)
{
    return R"reg(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Classes\\.txt] 1796679996
#time=1dd86946eae8284
@="txtfile"
"Content Type"="text/plain"
"PerceivedType"="text"

[Software\\Classes\\Wow6432Node\\AppId] 1796679985
#time=1dd8694683f9c08
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\
  74,00,77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,\
  00,5c,00,41,00,70,00,70,00,49,00,64,00

[Software\\Classes\\txtfile\\shell\\open\\command] 1796679996
#time=1dd86946eae8e7a
@=str(2):"%SystemRoot%\\system32\\NOTEPAD.EXE %1"

[Software\\Microsoft\\Windows NT\\CurrentVersion] 1796680163
#time=1dd8694d286d310
"CSDVersion"="Service Pack 1"
"CurrentBuild"="7601"
"InstallDate"=dword:00000000
"RegisteredOrganization"=""
"RegisteredOwner"="Anna M\xfcller"

)reg" + installKeyBlock
        + R"reg([Software\\Wine\\Drives] 1796679996
#time=1dd86946eb1e3ac
"d:"="cdrom"

[Software\\Wow6432Node\\Classes] 1796679985
#time=1dd8694683f9c08
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\
  74,00,77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,\
  00,5c,00,57,00,6f,00,77,00,36,00,34,00,33,00,32,00,4e,00,6f,00,64,00,65,00

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion] 1796679996
#time=1dd86946eb2a1f0
"CommonFilesDir"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files (x86)"

[System\\CurrentControlSet\\Control\\Nls\\CodePage] 1796679996
#time=1dd86946eb2d5c0
"ACP"="1252"
"OEMCP"="437"

[System\\CurrentControlSet\\Control\\Session Manager\\Environment] 1796679996
#time=1dd86946ebf50aa
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem"
"PROCESSOR_ARCHITECTURE"="AMD64"
)reg";
}

QByteArray installBlock(const QByteArray& key, QString folder)
{
    folder.replace(u"\\"_s, u"\\\\"_s);
    return "[" + key + "] 1796679996\n#time=1dd86946eb1e3ac\n\"Folder\"=\"" + folder.toUtf8()
        + "\"\n\"Language\"=\"int\"\n\"Version\"=\"400\"\n\n";
}

// Where the game's 32-bit installer's key lies in a 64-bit prefix, and where
// a 64-bit program has that key.
const QByteArray installKeyInFile = R"(Software\\Wow6432Node\\Unreal Technology\\Installed Apps\\UnrealTournament)";
const QByteArray installKey64InFile = R"(Software\\Unreal Technology\\Installed Apps\\UnrealTournament)";

// "server-<device>-<inode>" of a folder, in hexadecimal, as wineserver names
// its own folder.
QString serverFolderName(const QString& prefix)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(prefix).constData(), &info) != 0)
        qFatal("cannot stat %s", qPrintable(prefix));
    return u"server-%1-%2"_s.arg(qulonglong(info.st_dev), 0, 16).arg(qulonglong(info.st_ino), 0, 16);
}

// Stands in for a running wineserver: a child process that holds a write
// lock on the lock file until it is killed (the locks of this process itself
// would be invisible to the check). Folders it had to make go when it ends.
class FakeWineServer {
public:
    explicit FakeWineServer(const QString& lockFile) : lockFile_(lockFile)
    {
        QString folder = QFileInfo(lockFile).absolutePath();
        while (!QFileInfo::exists(folder)) {
            made_.prepend(folder);
            folder = QFileInfo(folder).absolutePath();
        }
        if (!QDir().mkpath(QFileInfo(lockFile).absolutePath()))
            qFatal("cannot make %s", qPrintable(lockFile));
        const QByteArray path = QFile::encodeName(lockFile);
        int ready[2];
        if (::pipe(ready) != 0)
            qFatal("no pipe");
        const pid_t parent = ::getpid();
        child_ = ::fork();
        if (child_ == 0) {
            // Never outlives a test that ends without cleaning up.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(1);
            ::close(ready[0]);
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char state = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            if (::write(ready[1], &state, 1) != 1)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char state = 'n';
        if (child_ < 0 || ::read(ready[0], &state, 1) != 1 || state != 'y')
            qFatal("the stand-in wineserver did not take its lock");
        ::close(ready[0]);
    }

    ~FakeWineServer()
    {
        stop();
        QFile::remove(lockFile_);
        for (auto it = made_.crbegin(); it != made_.crend(); ++it)
            QDir().rmdir(*it);
    }

    // Ends the process; its lock goes with it, the lock file stays.
    void stop()
    {
        if (child_ <= 0)
            return;
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
        child_ = -1;
    }

    FakeWineServer(const FakeWineServer&) = delete;
    FakeWineServer& operator=(const FakeWineServer&) = delete;

private:
    QString lockFile_;
    QStringList made_;
    pid_t child_ = -1;
};

// Stands in for a wineserver as the process list shows it: a process named
// "wineserver" (a link of that name to sleep) working in the given folder,
// with the given WINEPREFIX. It holds no lock.
class WineServerLookalike {
public:
    WineServerLookalike(const QString& workingFolder, const QString& winePrefix)
    {
        const QString sleep = QStandardPaths::findExecutable(u"sleep"_s);
        if (!dir_.isValid() || sleep.isEmpty() || !QFile::link(sleep, dir_.filePath(u"wineserver"_s)))
            qFatal("cannot make the stand-in wineserver");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WINEPREFIX"_s, winePrefix);
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(workingFolder);
        // Never outlives a test that ends without cleaning up.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(dir_.filePath(u"wineserver"_s), {u"300"_s});
        if (!process_.waitForStarted())
            qFatal("the stand-in wineserver did not start");
    }
    ~WineServerLookalike() { stop(); }

    void stop()
    {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
};

} // namespace

// The editor on a game installed in a Wine prefix: the prefix is the
// fixture's temporary folder, holding system.reg, dosdevices (c: and z:) and
// drive_c/Games/UnrealTournament, a copy of the sample installation.
class WinePrefixTest : public PageTest {
    Q_OBJECT

public:
    WinePrefixTest() : PageTest({.file = File::Registry, .registered = false}) {}

private Q_SLOTS:
    void init();
    void cleanup();

    void registryComesFromThePrefix();
    void startsOnTheGameTheWindowsFolderNames();
    void keysAreWhereA32BitProgramHasThem();
    void registryPageWritesWindowsPaths();
    void registrySpellingOfTheFolderStays_data();
    void registrySpellingOfTheFolderStays();
    void installPathThatNamesNoFolderHere_data();
    void installPathThatNamesNoFolderHere();
    void runningWineServerRefusesEveryWrite_data();
    void runningWineServerRefusesEveryWrite();
    void windowsPathsToUnixPaths();
    void unixPathsToWindowsPaths();

private:
    std::unique_ptr<Environment> environment;
    QString prefix;
    QString gameDir; // in the prefix's drive_c
};

void WinePrefixTest::init()
{
    PageTest::init();
    // The editor started the way a user does: no options at all.
    game->registryOption = false;
    environment = std::make_unique<Environment>();
    prefix = QFileInfo(QFileInfo(game->registryPath()).absolutePath()).canonicalFilePath();
    gameDir = prefix + u"/drive_c/Games/UnrealTournament"_s;
    QVERIFY(QDir().mkpath(prefix + u"/drive_c/Games"_s));
    QVERIFY(QDir().rename(game->gameDir(), gameDir));
    QVERIFY(QDir().mkpath(prefix + u"/dosdevices"_s));
    QVERIFY(QFile::link(u"../drive_c"_s, prefix + u"/dosdevices/c:"_s));
    QVERIFY(QFile::link(u"/"_s, prefix + u"/dosdevices/z:"_s));
    // Something to tell this installation's System page by.
    const QString mainIni = gameDir + u"/System/UnrealTournament.ini"_s;
    writeBytes(mainIni, withLine(readBytes(mainIni), "\nNickName=Funkenflug\r\n", "\nNickName=Weinkeller\r\n"));
    original = systemReg(installBlock(installKeyInFile, u"C:\\GAMES\\unrealtournament"_s));
    writeBytes(filePath(), original);
    environment->set("WINEPREFIX", QFile::encodeName(prefix));
}

void WinePrefixTest::cleanup()
{
    PageTest::cleanup();
    environment.reset();
}

void WinePrefixTest::registryComesFromThePrefix()
{
    const QString hive = prefix + u"/system.reg"_s;
    QCOMPARE(defaultRegistryPath(), hive);
    QCOMPARE(parseCommandLine({u"brennwerk-editor"_s}).options.registryPath, hive);
    QCOMPARE(RegistryFile(hive).winePrefix(), std::optional(prefix));

    // Without WINEPREFIX, ~/.wine; without a system.reg there, our own file.
    QTemporaryDir home;
    environment->unset("WINEPREFIX");
    environment->set("HOME", QFile::encodeName(home.path()));
    environment->set("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(u"config"_s)));
    const QString ownFile = home.filePath(u"config/brennwerk-editor/system.reg"_s);
    QCOMPARE(defaultRegistryPath(), ownFile);
    QCOMPARE(ownRegistryPath(), ownFile);
    QVERIFY(!RegistryFile(ownFile).winePrefix());
    QVERIFY(QDir().mkpath(home.filePath(u".wine/drive_c"_s)));
    QCOMPARE(defaultRegistryPath(), ownFile);
    writeBytes(home.filePath(u".wine/system.reg"_s), systemReg(QByteArray()));
    QCOMPARE(defaultRegistryPath(), home.filePath(u".wine/system.reg"_s));
    QCOMPARE(RegistryFile(defaultRegistryPath()).winePrefix(), std::optional(home.filePath(u".wine"_s)));

    // WINEPREFIX names the prefix Wine uses, even when it has no registry yet.
    environment->set("WINEPREFIX", QFile::encodeName(home.filePath(u"elsewhere"_s)));
    QCOMPARE(defaultRegistryPath(), ownFile);

    // --registry wins, and a prefix's system.reg given there is one too.
    QCOMPARE(parseCommandLine({u"brennwerk-editor"_s, u"--registry"_s, hive}).options.registryPath, hive);
    QCOMPARE(RegistryFile(hive).winePrefix(), std::optional(prefix));
    // A system.reg beside nothing of Wine's is a plain file.
    writeBytes(home.filePath(u"system.reg"_s), systemReg(QByteArray()));
    QVERIFY(!RegistryFile(home.filePath(u"system.reg"_s)).winePrefix());
    QString out, err;
    startEditor({u"brennwerk-editor"_s, u"--help"_s}, game->boxes, out, err);
    QVERIFY2(out.contains(u"$WINEPREFIX"_s) && out.contains(u"~/.wine"_s) && out.contains(ownFile), qPrintable(out));
}

void WinePrefixTest::startsOnTheGameTheWindowsFolderNames()
{
    start();
    QVERIFY(game->boxes.shown().isEmpty());
    // "C:\GAMES\unrealtournament", matched on disk regardless of case.
    QCOMPARE(window->state().GameDir, gameDir);
    QCOMPARE(window->state().MainIniPath, gameDir + u"/System/UnrealTournament.ini"_s);
    QCOMPARE(window->state().UserIniPath, gameDir + u"/System/User.ini"_s);
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), u"tsSystem"_s);
    QCOMPARE(child<QLineEdit>("eIRCNick")->text(), u"Weinkeller"_s);
    QCOMPARE(child<QLabel>("LCacheMom")->text(), u"Cache-Größe (in MB): 32"_s);
    QCOMPARE(fileBytes(), original);
}

void WinePrefixTest::keysAreWhereA32BitProgramHasThem()
{
    // The game's installer is a 32-bit program: in a 64-bit prefix Wine puts
    // its key below Wow6432Node (as the fixture has it), and the classes a
    // 32-bit program makes below Software\Classes\Wow6432Node, where Wine's
    // link Software\Wow6432Node\Classes leads.
    start();
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(window->state().GameDir, gameDir);
    showPage("tsRegistry");
    click("cbModule");
    QVERIFY(game->boxes.errors().isEmpty());
    const QByteArray after = readBytes(game->registryPath());
    const QByteArray block = blockOf(after, u"Software\\Wow6432Node\\Unreal Technology\\Installed Apps\\UnrealTournament"_s);
    QVERIFY2(block.contains("\n\"Folder\"=\"C:\\\\GAMES\\\\unrealtournament\"\n\"Language\"=\"int\"\n\"Version\"=\"436\"\n"),
             block.constData());
    for (const QString& key : {u".umod"_s, u"Unreal.Module"_s, u"Unreal.Module\\Shell\\open\\command"_s}) {
        QVERIFY2(blockOf(after, u"Software\\Classes\\Wow6432Node\\"_s + key) != "<no block>", qPrintable(key));
        QCOMPARE(blockOf(after, u"Software\\Classes\\"_s + key), QByteArray("<no block>"));
        QCOMPARE(blockOf(after, u"Software\\Wow6432Node\\Classes\\"_s + key), QByteArray("<no block>"));
    }
    QVERIFY(!after.contains("[" + installKey64InFile + "]"));
    stop();

    // A key where only a 64-bit program sees it is none for the game.
    writeBytes(game->registryPath(), systemReg(installBlock(installKey64InFile, u"C:\\Games\\UnrealTournament"_s)));
    game->boxes.clear();
    QVERIFY(!game->start());
    QCOMPARE(game->boxes.shown().size(), 1);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::OpenDialog);

    // A 32-bit prefix has one view: the key where it is named.
    QByteArray win32 = systemReg(installBlock(installKeyInFile, u"C:\\Games\\UnrealTournament"_s));
    win32.replace("#arch=win64", "#arch=win32");
    writeBytes(game->registryPath(), win32);
    RegistryFile registry(game->registryPath());
    QVERIFY(!registry.OpenKey(installKey, false));
    QVERIFY(!registry.KeyExists(installKey));
    QVERIFY(registry.KeyExists(u"\\Software\\Wow6432Node\\Unreal Technology"_s));
}

void WinePrefixTest::registryPageWritesWindowsPaths()
{
    // A Linux patch unpacked over the game changes nothing under Wine: the
    // registrations go into the prefix, none to the desktop's files.
    writeBytes(gameDir + u"/System/ut-bin"_s, "stand-in");
    QTemporaryDir home;
    environment->set("HOME", QFile::encodeName(home.path()));
    environment->set("XDG_DATA_HOME", QFile::encodeName(home.filePath(u"data"_s)));
    environment->set("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(u"config"_s)));
    // A prefix's system.reg named on the command line is a prefix all the same.
    start({u"--registry"_s, game->registryPath()});
    QCOMPARE(window->state().GameDir, gameDir);
    showPage("tsRegistry");
    // The pages name the folder as this machine has it.
    QCOMPARE(child<QLabel>("lUTPath")->text(), u"UT ist in dem Ordner \"%1\" installiert."_s.arg(gameDir));
    click("cbMap");
    click("cbProtocol");
    QVERIFY(game->boxes.shown().isEmpty());

    const QString file = game->registryPath();
    // The registry's own spelling names the game folder still: it stays.
    const QString windowsDir = u"C:\\GAMES\\unrealtournament"_s;
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, u"Folder"_s), windowsDir);
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, u"Version"_s), u"436"_s);
    for (const auto& [root, prefixKey] : {std::pair{RegistryRoot::LocalMachine, u"\\Software\\CLASSES"_s},
                                          std::pair{RegistryRoot::ClassesRoot, QString()}}) {
        for (const QString& classKey : {u"Unreal.Map"_s, u"unreal"_s}) {
            QCOMPARE(valueIn(file, root, prefixKey + "\\" + classKey + "\\Shell\\open\\command"),
                     windowsDir + u"\\System\\UnrealTournament.exe \"%1\""_s);
            QCOMPARE(valueIn(file, root, prefixKey + "\\" + classKey + "\\DefaultIcon"),
                     windowsDir + u"\\Help\\Unreal.ico"_s);
        }
    }

    // Every other key stands byte for byte as it stood; the install key
    // keeps its other value.
    const QByteArray after = readBytes(file);
    QStringList written{u"software\\wow6432node\\unreal technology\\installed apps\\unrealtournament"_s,
                        u"software\\classes\\wow6432node\\.unr"_s};
    for (const QString& classKey : {u"unreal.map"_s, u"unreal"_s})
        for (const QString& sub : {u""_s, u"\\defaulticon"_s, u"\\shell"_s, u"\\shell\\open"_s,
                                   u"\\shell\\open\\command"_s})
            written << u"software\\classes\\wow6432node\\"_s + classKey + sub;
    QCOMPARE(withoutKeys(after, written), withoutKeys(original, written));
    QCOMPARE(blocksOf(after).size(), blocksOf(original).size() + written.size() - 1);
    const QByteArray block = blockOf(after, written[0]);
    QVERIFY2(block.contains("\n\"Folder\"=\"C:\\\\GAMES\\\\unrealtournament\"\n\"Language\"=\"int\"\n\"Version\"=\"436\"\n"),
             block.constData());
    QVERIFY(QDir(home.path()).isEmpty());
}

void WinePrefixTest::registrySpellingOfTheFolderStays_data()
{
    QTest::addColumn<QString>("folder");     // "Folder" in the registry; %1: the prefix as a Z: path
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("written");   // "Folder" after the page's first show
    // drive_c/Games/Linked is a symbolic link to the game.
    QTest::newRow("a symbolic link") << u"C:\\Games\\Linked"_s << QStringList{} << u"C:\\Games\\Linked"_s;
    QTest::newRow("another drive") << u"Z:\\%1\\drive_c\\Games\\UnrealTournament"_s << QStringList{}
                                   << u"Z:\\%1\\drive_c\\Games\\UnrealTournament"_s;
    QTest::newRow("a backslash at the end") << u"c:\\games\\unrealtournament\\"_s << QStringList{}
                                            << u"c:\\games\\unrealtournament\\"_s;
    // The game folder given is not the one the registry names: the folder
    // given, as Wine names it.
    QTest::newRow("another folder") << u"C:\\Games\\Linked"_s << QStringList{u"--game-dir"_s, u"<other>"_s}
                                    << u"C:\\Games\\Other"_s;
}

void WinePrefixTest::registrySpellingOfTheFolderStays()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, options);
    QFETCH(QString, written);
    QVERIFY(QFile::link(gameDir, prefix + u"/drive_c/Games/Linked"_s));
    const QString other = prefix + u"/drive_c/Games/Other"_s;
    QVERIFY(QDir().mkpath(other + u"/System"_s));
    options.replaceInStrings(u"<other>"_s, other);
    const QString zPrefix = QString(prefix).mid(1).replace('/', '\\');
    folder = folder.arg(zPrefix);
    written = written.arg(zPrefix);
    startWith(systemReg(installBlock(installKeyInFile, folder)),
              QStringList{u"--registry"_s, game->registryPath()} + options);
    QVERIFY(WinePaths::sameFolder(window->state().GameDir, options.isEmpty() ? gameDir : other));
    showPage("tsRegistry");
    click("cbMap");
    QVERIFY2(game->boxes.shown().isEmpty(), qPrintable(game->boxes.errors().join('\n')));
    const QString file = game->registryPath();
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, u"Folder"_s), written);
    QString base = written;
    while (base.endsWith('\\'))
        base.chop(1);
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, u"\\Unreal.Map\\Shell\\open\\command"_s),
             base + u"\\System\\UnrealTournament.exe \"%1\""_s);
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, u"\\Unreal.Map\\DefaultIcon"_s), base + u"\\Help\\Unreal.ico"_s);
}

void WinePrefixTest::installPathThatNamesNoFolderHere_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a drive the prefix lacks") << u"E:\\UT"_s << u"is on drive E:, which the Wine prefix %1 does not have"_s;
    QTest::newRow("a network path") << u"\\\\server\\games\\UT"_s << u"is a network path"_s;
    QTest::newRow("a network path the Unix way") << u"//server/games/UT"_s << u"is a network path"_s;
}

void WinePrefixTest::installPathThatNamesNoFolderHere()
{
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    writeBytes(game->registryPath(), systemReg(installBlock(installKeyInFile, folder)));
    const QByteArray before = readBytes(game->registryPath());

    // Start-up asks for the game as when the key is missing.
    game->boxes.queueOpenFile(gameDir + u"/System/UnrealTournament.exe"_s);
    start();
    QCOMPARE(window->state().GameDir, gameDir);
    QCOMPARE(game->boxes.shown().size(), 2);
    QCOMPARE(game->boxes.shown()[0].kind, Kind::OpenDialog);
    // Its Registry page, shown first, mends the install path.
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), u"tsRegistry"_s);
    QVERIFY(game->boxes.errors().isEmpty());
    QCOMPARE(valueIn(game->registryPath(), RegistryRoot::LocalMachine, installKey, u"Folder"_s),
             u"C:\\Games\\UnrealTournament"_s);
    stop();
    writeBytes(game->registryPath(), before);

    // The command line says so in one line, and works on nothing.
    QString out, err;
    const StartResult result =
        startEditor({u"brennwerk-editor"_s, u"get"_s, u"main"_s, u"Engine.GameEngine"_s, u"CacheSizeMegs"_s}, game->boxes,
                    out, err);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(out, QString());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith(u"brennwerk-editor: the game folder is unknown: the install path \""_s + folder + u"\" in "_s + game->registryPath() + u" "_s
                            + reason.arg(prefix)),
             qPrintable(err));
    QVERIFY2(err.endsWith(u"; give it with --game-dir DIR\n"_s), qPrintable(err));
}

void WinePrefixTest::runningWineServerRefusesEveryWrite_data()
{
    QTest::addColumn<QString>("server");
    // Wine as it comes: /tmp/.wine-<uid>/server-<dev>-<ino>/lock.
    QTest::newRow("wine") << u"lock in /tmp/.wine-uid"_s;
    // Debian's Wine: $TMPDIR/<name in the prefix's file "wineserver">/server-<dev>-<ino>/lock.
    QTest::newRow("debian") << u"lock in TMPDIR"_s;
    // ... started with another TMPDIR than the editor's: only the process
    // list tells, by its working folder or by its environment.
    QTest::newRow("debian, another TMPDIR") << u"process in its folder"_s;
    QTest::newRow("starting up") << u"process with WINEPREFIX"_s;
}

void WinePrefixTest::runningWineServerRefusesEveryWrite()
{
    QFETCH(QString, server);
    QTemporaryDir tmp;
    QTemporaryDir otherTmp;
    writeBytes(prefix + u"/wineserver"_s, "wine-bwTest");
    environment->set("TMPDIR", QFile::encodeName(tmp.path()));
    const QString serverFolder = u"/wine-bwTest/"_s + serverFolderName(prefix);
    std::unique_ptr<FakeWineServer> lockHolder;
    std::unique_ptr<WineServerLookalike> process;
    if (server == u"lock in /tmp/.wine-uid"_s) {
        lockHolder = std::make_unique<FakeWineServer>(u"/tmp/.wine-%1/"_s.arg(::getuid()) + serverFolderName(prefix)
                                                      + u"/lock"_s);
    } else if (server == u"lock in TMPDIR"_s) {
        lockHolder = std::make_unique<FakeWineServer>(tmp.path() + serverFolder + u"/lock"_s);
    } else if (server == u"process in its folder"_s) {
        QVERIFY(QDir().mkpath(otherTmp.path() + serverFolder));
        process = std::make_unique<WineServerLookalike>(otherTmp.path() + serverFolder, u"/nowhere"_s);
    } else {
        // The prefix by another name.
        QVERIFY(QFile::link(prefix, otherTmp.filePath(u"link"_s)));
        process = std::make_unique<WineServerLookalike>(u"/"_s, otherTmp.filePath(u"link"_s));
    }
    const QString file = game->registryPath();
    const QByteArray before = readBytes(file);

    // Reading goes on; the first write of the page is refused with the box.
    start({u"--registry"_s, file});
    QCOMPARE(window->state().GameDir, gameDir);
    showPage("tsRegistry");
    const QString message = wineRunning.arg(prefix);
    QCOMPARE(game->boxes.errors(), QStringList{message});
    QCOMPARE(readBytes(file), before);
    // The page says that the path is not stored, and takes another try.
    auto* cbUTPath = child<QCheckBox>("cbUTPath");
    QVERIFY(cbUTPath->isEnabled());
    QVERIFY(!cbUTPath->isChecked());
    QCOMPARE(child<QLabel>("lUTPath")->text(), u"UT ist in dem Ordner \"%1\" installiert."_s.arg(gameDir));

    // Every write that changes something, into a key that exists or a new
    // one; the value a key holds already is written without Wine ended.
    RegistryFile registry(file);
    registry.SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry.OpenKey(u"\\Unreal.Map"_s, true));
    QCOMPARE(failureOf([&] { registry.WriteString(QString(), u"Unreal Map"_s); }), message);
    registry.SetRootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(installKey, false));
    QCOMPARE(registry.ReadString(u"Folder"_s), std::optional(u"C:\\GAMES\\unrealtournament"_s));
    QCOMPARE(failureOf([&] { registry.WriteString(u"Folder"_s, u"C:\\UT"_s); }), message);
    registry.WriteString(u"Folder"_s, u"C:\\GAMES\\unrealtournament"_s);
    QCOMPARE(readBytes(file), before);
    const QStringList leftovers = QDir(prefix).entryList({u".system.reg*"_s}, QDir::Files | QDir::Hidden);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));

    // Once it has ended (its lock file left behind, as Wine leaves it) the
    // page writes again; a wineserver of another prefix is no hindrance.
    if (lockHolder)
        lockHolder->stop();
    if (process)
        process->stop();
    QVERIFY(QDir().mkpath(otherTmp.path() + u"/wine-bwTest/"_s + serverFolderName(otherTmp.path())));
    const WineServerLookalike otherPrefix(otherTmp.path() + u"/wine-bwTest/"_s + serverFolderName(otherTmp.path()),
                                          otherTmp.path());
    QCOMPARE(failureOf([&] { registry.WriteString(u"Folder"_s, u"C:\\UT"_s); }), QString());
    game->boxes.clear();
    click(cbUTPath);
    QVERIFY(game->boxes.shown().isEmpty());
    QVERIFY(!cbUTPath->isEnabled());
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, u"Folder"_s), u"C:\\Games\\UnrealTournament"_s);
    click("cbMap");
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, u"\\Unreal.Map\\Shell\\open\\command"_s),
             u"C:\\Games\\UnrealTournament\\System\\UnrealTournament.exe \"%1\""_s);
}

void WinePrefixTest::windowsPathsToUnixPaths()
{
    const QString driveC = prefix + u"/drive_c"_s;
    QCOMPARE(WinePaths::toUnix(prefix, u"C:\\Games\\UnrealTournament"_s), std::optional(gameDir));
    QCOMPARE(WinePaths::toUnix(prefix, u"c:/games/UNREALTOURNAMENT/system/user.ini"_s),
             std::optional(gameDir + u"/System/User.ini"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"C:\\Games\\.\\Neu\\..\\UnrealTournament\\"_s), std::optional(gameDir));
    // What is not there keeps its spelling; ".." stops at the drive's root.
    QCOMPARE(WinePaths::toUnix(prefix, u"C:\\Games\\Noch Nicht\\Ünreal"_s),
             std::optional(driveC + u"/Games/Noch Nicht/Ünreal"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"C:\\..\\..\\Games"_s), std::optional(driveC + u"/Games"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"C:"_s), std::optional(driveC));
    QCOMPARE(WinePaths::toUnix(prefix, u"z:\\"_s), std::optional(u"/"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"Z:\\"_s + QString(prefix).mid(1).replace('/', '\\') + u"\\DRIVE_C"_s),
             std::optional(driveC));
    // No such drive, or no Windows path at all.
    QCOMPARE(WinePaths::toUnix(prefix, u"D:\\UnrealTournament"_s), std::nullopt);
    QCOMPARE(WinePaths::toUnix(prefix, gameDir), std::nullopt);
    QCOMPARE(WinePaths::toUnix(prefix, u"UT\\System"_s), std::nullopt);
    QCOMPARE(WinePaths::toUnix(prefix, u"C:UT"_s), std::nullopt);

    // A drive whose link leads nowhere does not exist.
    QVERIFY(QFile::link(u"../cdrom"_s, prefix + u"/dosdevices/d:"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"D:\\"_s), std::nullopt);
    // Without dosdevices Wine makes c: and z: as they are here.
    QVERIFY(QDir(prefix + u"/dosdevices"_s).removeRecursively());
    QCOMPARE(WinePaths::toUnix(prefix, u"C:\\Games\\UnrealTournament"_s), std::optional(gameDir));
    QCOMPARE(WinePaths::toUnix(prefix, u"Z:\\tmp"_s), std::optional(u"/tmp"_s));
}

void WinePrefixTest::unixPathsToWindowsPaths()
{
    const QString windowsDir = u"C:\\Games\\UnrealTournament"_s;
    QCOMPARE(WinePaths::toWindows(prefix, gameDir), std::optional(windowsDir));
    QCOMPARE(WinePaths::toWindows(prefix, gameDir + u"/"_s), std::optional(windowsDir));
    QCOMPARE(WinePaths::toWindows(prefix, prefix + u"/drive_c"_s), std::optional(u"C:\\"_s));
    QCOMPARE(WinePaths::toWindows(prefix, prefix + u"/drive_c/Neu/Ünreal"_s), std::optional(u"C:\\Neu\\Ünreal"_s));
    // Outside drive_c: through z:, which is "/".
    QCOMPARE(WinePaths::toWindows(prefix, u"/usr/share/games"_s), std::optional(u"Z:\\usr\\share\\games"_s));
    QCOMPARE(WinePaths::toWindows(prefix, u"/"_s), std::optional(u"Z:\\"_s));
    QCOMPARE(WinePaths::toWindows(prefix, prefix + u"/drive_c_other"_s),
             std::optional(u"Z:\\"_s + QString(prefix).mid(1).replace('/', '\\') + u"\\drive_c_other"_s));
    // A path through a symbolic link is where the link leads.
    QVERIFY(QFile::link(gameDir, prefix + u"/ut-link"_s));
    QCOMPARE(WinePaths::toWindows(prefix, prefix + u"/ut-link/System"_s), std::optional(windowsDir + u"\\System"_s));
    // The deepest drive wins.
    QVERIFY(QFile::link(u"../drive_c/Games"_s, prefix + u"/dosdevices/g:"_s));
    QCOMPARE(WinePaths::toWindows(prefix, gameDir), std::optional(u"G:\\UnrealTournament"_s));
    QCOMPARE(WinePaths::toUnix(prefix, u"g:\\unrealtournament"_s), std::optional(gameDir));
    // Without z: a path outside every drive has no Windows path.
    QVERIFY(QFile::remove(prefix + u"/dosdevices/z:"_s));
    QCOMPARE(WinePaths::toWindows(prefix, u"/usr/share/games"_s), std::nullopt);
    QCOMPARE(WinePaths::toWindows(prefix, u"relative/path"_s), std::nullopt);

    // The registry page then writes such a folder as it is.
    RegistryFile registry(game->registryPath());
    QCOMPARE(registry.windowsPathOf(u"/usr/share/games"_s), u"/usr/share/games"_s);
    QCOMPARE(registry.windowsPathOf(gameDir), u"G:\\UnrealTournament"_s);
    QCOMPARE(registry.localPathOf(u"/usr/share/games"_s), std::optional(u"/usr/share/games"_s));
    QCOMPARE(registry.localPathOf(u"G:\\UnrealTournament"_s), std::optional(gameDir));
}

QTEST_MAIN(WinePrefixTest)
#include "test_wineprefix.moc"
