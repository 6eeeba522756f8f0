#include "app/HauptUnit.h"
#include "app/MaskedEdit.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "platform/SafeFile.h"
#include "support/Files.h"
#include "support/GameFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Everything in the folder but the files named.
QStringList strays(const QString& folder, const QStringList& expected)
{
    QStringList found = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& name : expected)
        found.removeAll(name);
    return found;
}

// An INI of about 1 MB, so that a write takes long enough to be cut short.
QByteArray bigIni(const QByteArray& cacheValue)
{
    QByteArray ini = "[Engine.GameEngine]\r\nCacheSizeMegs=" + cacheValue + "\r\n";
    ini.reserve(1 << 20);
    for (int i = 0; ini.size() < (1 << 20); ++i)
        ini += "ServerPackages=Package" + QByteArray::number(i) + "\r\n";
    ini += "\r\n[URL]\r\nLocalMap=CityIntro.unr\r\n";
    return ini;
}

// Lowers the file size limit of this process for as long as it lives: writes
// past it fail with EFBIG, as on a full disk, instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

// Root ignores a folder's mode. For as long as it lives, this makes a process
// running as root act as "nobody" (real and effective user, so that access()
// agrees), keeping root as the saved user to return to.
class NotRoot {
public:
    NotRoot()
    {
        if (::geteuid() != 0) {
            ok_ = true;
            return;
        }
        groupLowered_ = ::setresgid(65534, 65534, 0) == 0;
        lowered_ = groupLowered_ && ::setresuid(65534, 65534, 0) == 0;
        ok_ = lowered_;
    }
    ~NotRoot()
    {
        if (lowered_)
            (void)::setresuid(0, 0, 0);
        if (groupLowered_)
            (void)::setresgid(0, 0, 0);
    }
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool lowered_ = false;
    bool groupLowered_ = false;
};

} // namespace

// What the game's files go through outside the editor's control: a kill in
// mid-write, a full disk, a folder that cannot be written, another program
// writing the same file.
class CrashSafetyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedWriterLeavesOldOrNewFile();
    void staleTemporaryFilesAreCleanedUp();
    void fullDiskLeavesTheFileAsItWas();
    void fullDiskShowsTheErrorBox();
    void readOnlyFolderLeavesTheFileAsItWas();
    void readOnlyFolderShowsTheErrorBox();
    void otherProgramsChangesAreSeenAndKept();
    void otherProgramsChangesReachThePages();
};

void CrashSafetyTest::killedWriterLeavesOldOrNewFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"UnrealTournament.ini"_s);
    const QByteArray versionA = bigIni("16");
    const QByteArray versionB = bigIni("32768");
    writeBytes(path, versionA);

    // The child announces each write on the pipe just before it begins, so
    // that the kill lands somewhere inside one.
    constexpr int kKills = 200;
    int midWrite = 0;
    QRandomGenerator random(20241207);
    QElapsedTimer clock;
    clock.start();
    GameConfigStore(path).WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, u"32768"_s);
    GameConfigStore(path).WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, u"16"_s);
    const qint64 oneWriteUs = std::max<qint64>(clock.nsecsElapsed() / 2000, 100);
    QCOMPARE(readBytes(path), versionA);

    for (int kill = 0; kill < kKills; ++kill) {
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        // A failed check below returns early: the writer must not live on.
        struct Reaper {
            pid_t pid;
            ~Reaper()
            {
                if (pid > 0) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, nullptr, 0);
                }
            }
        } reaper{child};
        if (child == 0) {
            ::close(pipeFds[0]);
            const int announce = pipeFds[1];
            SafeFile::setWriteHook([announce](const QString&, const QByteArray&) {
                const char byte = 'w';
                return ::write(announce, &byte, 1) == 1;
            });
            GameConfigStore store(path);
            for (int i = 0;; ++i) {
                try {
                    store.WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, i % 2 ? u"16"_s : u"32768"_s);
                } catch (const EditorError&) {
                    ::_exit(3);
                }
            }
        }
        ::close(pipeFds[1]);
        // Let a random number of writes finish, then kill within the next.
        const int writesFirst = int(random.bounded(3));
        char byte = 0;
        for (int i = 0; i <= writesFirst; ++i)
            QCOMPARE(::read(pipeFds[0], &byte, 1), ssize_t(1));
        ::usleep(useconds_t(random.bounded(quint32(oneWriteUs * 3 / 2))));
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        reaper.pid = -1;
        ::close(pipeFds[0]);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the writer ended before the kill");

        const QByteArray now = readBytes(path);
        QVERIFY2(now == versionA || now == versionB,
                 qPrintable(u"after kill %1 the file holds %2 bytes, neither version"_s.arg(kill).arg(now.size())));
        // One interrupted write may leave its temporary file until the next
        // write; never more than that.
        const QStringList left = strays(dir.path(), {u"UnrealTournament.ini"_s});
        QVERIFY2(left.size() <= 1, qPrintable(left.join(u", "_s)));
        midWrite += int(left.size());
    }
    qInfo("%d of %d kills interrupted a write after its temporary file was made", midWrite, kKills);

    // The next write goes through and leaves nothing behind.
    GameConfigStore(path).WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, u"64"_s);
    QCOMPARE(readBytes(path), bigIni("64"));
    QCOMPARE(strays(dir.path(), {u"UnrealTournament.ini"_s}), QStringList());
}

void CrashSafetyTest::staleTemporaryFilesAreCleanedUp()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"User.ini"_s);
    writeBytes(path, "[DefaultPlayer]\r\nName=Glutkern\r\n");
    const auto put = [&](const QString& name) { writeBytes(dir.filePath(name), "left over"); };

    // Left by a killed writer: nobody holds it.
    put(u".User.ini.brennwerk-AbC123"_s);
    // Being written by another editor right now: locked.
    put(u".User.ini.brennwerk-Busy42"_s);
    const int busy = ::open(QFile::encodeName(dir.filePath(u".User.ini.brennwerk-Busy42"_s)).constData(), O_RDONLY);
    QVERIFY(busy >= 0);
    QCOMPARE(::flock(busy, LOCK_EX), 0);
    // The user's own files, some of them named almost alike, and another
    // file's leftover.
    const QStringList kept{u"User.ini.backup"_s, u"User.ini.AbC123"_s, u".User.ini.brennwerk-AbC1234"_s,
                           u".User.ini.brennwerk-AbC12"_s, u".User.ini.brennwerk-AbC_12"_s,
                           u".Other.ini.brennwerk-AbC123"_s, u"User.ini.brennwerk-AbC123"_s};
    for (const QString& name : kept)
        put(name);
    // Named like a leftover but no plain file: never followed or removed.
    QVERIFY(QFile::link(path, dir.filePath(u".User.ini.brennwerk-Link01"_s)));
    QVERIFY(QDir(dir.path()).mkdir(u".User.ini.brennwerk-Dir001"_s));

    GameConfigStore(path).WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Funke"_s);
    QCOMPARE(readBytes(path), QByteArray("[DefaultPlayer]\r\nName=Funke\r\n"));
    QStringList expected = kept;
    expected << u".User.ini.brennwerk-Busy42"_s << u".User.ini.brennwerk-Link01"_s << u".User.ini.brennwerk-Dir001"_s;
    expected.sort();
    QStringList left = strays(dir.path(), {u"User.ini"_s});
    left.sort();
    QCOMPARE(left, expected);
    QCOMPARE(readBytes(dir.filePath(u"User.ini.backup"_s)), QByteArray("left over"));

    // Once its writer is gone, the next write takes it away.
    ::close(busy);
    GameConfigStore(path).WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Glut"_s);
    QVERIFY(!QFileInfo::exists(dir.filePath(u".User.ini.brennwerk-Busy42"_s)));
    QVERIFY(QFileInfo::exists(dir.filePath(u".User.ini.brennwerk-Link01"_s)));
    QCOMPARE(readBytes(path), QByteArray("[DefaultPlayer]\r\nName=Glut\r\n"));
}

void CrashSafetyTest::fullDiskLeavesTheFileAsItWas()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"UnrealTournament.ini"_s);
    const QByteArray original = bigIni("16").left(100 * 1024) + "\r\n[URL]\r\nLocalMap=CityIntro.unr\r\n";
    writeBytes(path, original);
    const QString missing = dir.filePath(u"User.ini"_s);
    const QString registryPath = dir.filePath(u"system.reg"_s);
    const QByteArray registry = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                                "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"
                                "\"Folder\"=\""
        + QByteArray(80 * 1024, 'x') + "\"\n\"Version\"=\"436\"\n";
    writeBytes(registryPath, registry);
    RegistryFile registryFile(registryPath);
    QVERIFY(registryFile.OpenKey(u"\\Software\\Unreal Technology\\Installed Apps\\UnrealTournament"_s, false));

    GameConfigStore store(path);
    GameConfigStore newStore(missing);
    QString changed, created, registryWrite;
    {
        FileSizeLimit limit(50 * 1024);
        if (!limit.ok())
            QSKIP("the file size limit cannot be lowered here");
        changed = failureOf([&] { store.WriteString(u"URL"_s, u"LocalMap"_s, u"UT-Logo-Map.unr"_s); });
        created = failureOf([&] { newStore.WriteString(u"DefaultPlayer"_s, u"Name"_s, QString(60 * 1024, u'n')); });
        registryWrite = failureOf([&] { registryFile.WriteString(u"Version"_s, u"451"_s); });
    }
    QCOMPARE(changed, u"Unable to write to "_s + path);
    QCOMPARE(readBytes(path), original);
    QCOMPARE(created, u"Unable to write to "_s + missing);
    QVERIFY(!QFileInfo::exists(missing));
    QCOMPARE(registryWrite, u"Failed to set data for 'Version'"_s);
    QCOMPARE(readBytes(registryPath), registry);
    QCOMPARE(strays(dir.path(), {u"UnrealTournament.ini"_s, u"system.reg"_s}), QStringList());

    // With room again, the same writes go through.
    store.WriteString(u"URL"_s, u"LocalMap"_s, u"UT-Logo-Map.unr"_s);
    QCOMPARE(readBytes(path), withLine(original, "LocalMap=CityIntro.unr", "LocalMap=UT-Logo-Map.unr"));
}

void CrashSafetyTest::fullDiskShowsTheErrorBox()
{
    GameFixture game;
    game.registerGameDir();
    const QByteArray original = readBytes(game.mainIniPath());
    THauptForm* window = game.start();
    QVERIFY(window);
    auto* field = window->findChild<MaskedEdit*>(u"meCache"_s);
    auto* button = window->findChild<QPushButton*>(u"bCacheEintragen"_s);
    auto* label = window->findChild<QLabel*>(u"LCacheMom"_s);
    QVERIFY(field && button && label);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "128");
    QVERIFY(button->isEnabled());
    {
        FileSizeLimit limit(rlim_t(original.size() / 2));
        if (!limit.ok())
            QSKIP("the file size limit cannot be lowered here");
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(game.boxes.errors(), QStringList{u"Unable to write to %1."_s.arg(game.mainIniPath())});
    QCOMPARE(readBytes(game.mainIniPath()), original);
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 32"_s);
    QVERIFY(button->isEnabled());
    const QString system = QFileInfo(game.mainIniPath()).absolutePath();
    QCOMPARE(strays(system, {u"UnrealTournament.ini"_s, u"User.ini"_s, u"UnrealTournament.exe"_s}), QStringList());

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(readBytes(game.mainIniPath()), withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=128\r\n"));
    QCOMPARE(game.boxes.errors().size(), 1);
}

void CrashSafetyTest::readOnlyFolderLeavesTheFileAsItWas()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(u"System"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + u"/User.ini"_s;
    const QString missing = folder + u"/UnrealTournament.ini"_s;
    const QString registryPath = folder + u"/system.reg"_s;
    const QByteArray original = "[DefaultPlayer]\r\nName=Glutkern\r\nTeam=1\r\n";
    const QByteArray registry = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";
    writeBytes(path, original);
    writeBytes(registryPath, registry);
    // The files themselves may be written by anyone: only the folder stops it.
    for (const QString& file : {path, registryPath})
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0666) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);

    QString changed, created, registryWrite;
    bool opened = true;
    QString read;
    {
        NotRoot notRoot;
        if (!notRoot.ok()) {
            ::chmod(QFile::encodeName(folder).constData(), 0755);
            QSKIP("running as root and unable to act as another user: a folder's mode does not stop root");
        }
        GameConfigStore store(path);
        read = store.ReadString(u"DefaultPlayer"_s, u"Name"_s, QString());
        changed = failureOf([&] { store.WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Funke"_s); });
        created = failureOf([&] { GameConfigStore(missing).WriteString(u"URL"_s, u"LocalMap"_s, u"x.unr"_s); });
        RegistryFile registryFile(registryPath);
        opened = registryFile.OpenKey(u"\\Software\\Brennwerk"_s, true);
        registryWrite = failureOf([&] { registryFile.WriteString(u"Version"_s, u"1"_s); });
    }
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QCOMPARE(read, u"Glutkern"_s);
    QCOMPARE(changed, u"Unable to write to "_s + path);
    QCOMPARE(created, u"Unable to write to "_s + missing);
    QVERIFY(!opened);
    QCOMPARE(registryWrite, u"Failed to set data for 'Version'"_s);
    QCOMPARE(readBytes(path), original);
    QCOMPARE(readBytes(registryPath), registry);
    QCOMPARE(strays(folder, {u"User.ini"_s, u"system.reg"_s}), QStringList());
}

void CrashSafetyTest::readOnlyFolderShowsTheErrorBox()
{
    GameFixture game;
    game.registerGameDir();
    const QByteArray original = readBytes(game.mainIniPath());
    const QString system = QFileInfo(game.mainIniPath()).absolutePath();
    THauptForm* window = game.start();
    QVERIFY(window);
    auto* nick = window->findChild<QLineEdit*>(u"eIRCNick"_s);
    auto* button = window->findChild<QPushButton*>(u"bIRCNickEintragen"_s);
    QVERIFY(nick && button);
    nick->setFocus();
    QTest::keyClick(nick, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(nick, "Neo");
    QVERIFY(button->isEnabled());

    // Every folder up to System readable by anyone, System itself not writable.
    for (QString folder = QFileInfo(game.gameDir()).absolutePath(); folder != system;) {
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        folder = folder == game.gameDir() ? system : game.gameDir();
    }
    QVERIFY(::chmod(QFile::encodeName(game.mainIniPath()).constData(), 0666) == 0);
    QVERIFY(::chmod(QFile::encodeName(system).constData(), 0555) == 0);
    {
        NotRoot notRoot;
        if (!notRoot.ok()) {
            ::chmod(QFile::encodeName(system).constData(), 0755);
            QSKIP("running as root and unable to act as another user: a folder's mode does not stop root");
        }
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QVERIFY(::chmod(QFile::encodeName(system).constData(), 0755) == 0);
    QCOMPARE(game.boxes.errors(), QStringList{u"Unable to write to %1."_s.arg(game.mainIniPath())});
    QCOMPARE(readBytes(game.mainIniPath()), original);
    QCOMPARE(strays(system, {u"UnrealTournament.ini"_s, u"User.ini"_s, u"UnrealTournament.exe"_s}), QStringList());
}

void CrashSafetyTest::otherProgramsChangesAreSeenAndKept()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"User.ini"_s);
    GameConfigStore store(path);
    store.WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Glutkern"_s);

    // The game, on exit, writes the whole file anew: another file renamed
    // over ours, with its own changes and its own line endings.
    const QString fresh = dir.filePath(u"User.ini.game"_s);
    const QByteArray byGame = "[DefaultPlayer]\nName=Player\nTeam=2\n\n[Engine.PlayerPawn]\nDesiredFOV=100\n";
    writeBytes(fresh, byGame);
    QVERIFY(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) == 0);
    QCOMPARE(store.ReadString(u"DefaultPlayer"_s, u"Name"_s, {}), u"Player"_s);
    QCOMPARE(store.ReadInteger(u"DefaultPlayer"_s, u"Team"_s, 255), 2);
    store.WriteString(u"Engine.PlayerPawn"_s, u"DodgeClickTime"_s, u"0.25"_s);
    QCOMPARE(readBytes(path), byGame + "DodgeClickTime=0.25\n");

    // A text editor saving in place: same file, shorter content.
    const QByteArray byEditor = "[DefaultPlayer]\r\nName=Hand\r\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        QCOMPARE(file.write(byEditor), byEditor.size());
    }
    QCOMPARE(store.ReadString(u"Engine.PlayerPawn"_s, u"DodgeClickTime"_s, u"0.0"_s), u"0.0"_s);
    store.WriteString(u"DefaultPlayer"_s, u"Team"_s, u"1"_s);
    QCOMPARE(readBytes(path), byEditor + "Team=1\r\n");

    // Removed by someone: reads give the defaults, a write makes it anew.
    QVERIFY(QFile::remove(path));
    QCOMPARE(store.ReadString(u"DefaultPlayer"_s, u"Name"_s, u"Eintrag nicht gefunden!"_s),
             u"Eintrag nicht gefunden!"_s);
    store.WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Neu"_s);
    QCOMPARE(readBytes(path), QByteArray("[DefaultPlayer]\r\nName=Neu\r\n"));

    // The registry file, changed by Wine between two calls.
    const QString registryPath = dir.filePath(u"system.reg"_s);
    writeBytes(registryPath, "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                             "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"
                             "\"Folder\"=\"C:\\\\UT\"\n");
    RegistryFile registry(registryPath);
    registry.setClock([] { return Q_INT64_C(1733600000123); });
    QVERIFY(registry.OpenKey(u"\\Software\\Unreal Technology\\Installed Apps\\UnrealTournament"_s, false));
    QCOMPARE(registry.ReadString(u"Folder"_s), std::optional<QString>(u"C:\\UT"_s));
    const QByteArray byWine = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                              "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733599999\n"
                              "\"Folder\"=\"D:\\\\Games\\\\UT\"\n\n[Software\\\\Wine] 1733599999\n\"Version\"=\"win98\"\n";
    writeBytes(registryPath, byWine);
    QCOMPARE(registry.ReadString(u"Folder"_s), std::optional<QString>(u"D:\\Games\\UT"_s));
    registry.WriteString(u"Version"_s, u"436"_s);
    QCOMPARE(readBytes(registryPath),
             QByteArray(byWine).replace("1733599999\n\"Folder\"=\"D:\\\\Games\\\\UT\"\n",
                                        "1733600000\n\"Folder\"=\"D:\\\\Games\\\\UT\"\n\"Version\"=\"436\"\n"));
}

void CrashSafetyTest::otherProgramsChangesReachThePages()
{
    GameFixture game;
    game.registerGameDir();
    const QByteArray original = readBytes(game.mainIniPath());
    THauptForm* window = game.start();
    QVERIFY(window);
    auto* label = window->findChild<QLabel*>(u"LCacheMom"_s);
    auto* nick = window->findChild<QLineEdit*>(u"eIRCNick"_s);
    auto* nickButton = window->findChild<QPushButton*>(u"bIRCNickEintragen"_s);
    QVERIFY(label && nick && nickButton);
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 32"_s);

    // The game ran and changed its file meanwhile.
    const QByteArray byGame = withLine(withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=64\r\n"),
                                       "\nNickName=Funkenflug\r\n", "\nNickName=Spieler\r\nBrowserNote=added\r\n");
    writeBytes(game.mainIniPath(), byGame);
    window->PageControl1->setCurrentWidget(window->findChild<QWidget*>(u"tsUser"_s));
    QCoreApplication::processEvents();
    window->PageControl1->setCurrentWidget(window->findChild<QWidget*>(u"tsSystem"_s));
    QCoreApplication::processEvents();
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 64"_s);
    QCOMPARE(nick->text(), u"Spieler"_s);

    // And again while the page stays open: the next write keeps it.
    const QByteArray again = withLine(byGame, "\nCacheSizeMegs=64\r\n", "\nCacheSizeMegs=96\r\n");
    writeBytes(game.mainIniPath(), again);
    nick->setFocus();
    QTest::keyClick(nick, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(nick, "Neo");
    QTest::mouseClick(nickButton, Qt::LeftButton);
    QCOMPARE(readBytes(game.mainIniPath()), withLine(again, "\nNickName=Spieler\r\n", "\nNickName=Neo\r\n"));
    QVERIFY(game.boxes.errors().isEmpty());
}

QTEST_MAIN(CrashSafetyTest)
#include "test_crashsafety.moc"
