#include "app/HauptUnit.h"
#include "config/GameConfigStore.h"
#include "controls/MaskedEdit.h"
#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "platform/SafeFile.h"
#include "support/Files.h"
#include "support/GameFixture.h"
#include "support/Environment.h"
#include "support/RegistryText.h"
#include "support/Users.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <QCryptographicHash>
#include <QProcess>

#include <functional>
#include <optional>
#include <sys/sysmacros.h>

#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

// Lowers the file size limit of this process for as long as it lives. The
// signal that a write past it sends keeps its default, which ends the
// process: the program itself must turn it into a failed write.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    bool ok_ = false;
};

// A journal of path as a write of this program makes it, holding before and
// after: what a user who plants one writes.
QByteArray journalOf(const QString& path, const QByteArray& before, const QByteArray& after)
{
    struct statx sx {};
    const QByteArray name = QFile::encodeName(path);
    if (::statx(AT_FDCWD, name.constData(), 0, STATX_BTIME | STATX_INO, &sx) != 0)
        return QByteArray();
    QByteArray birth = "none";
    if (sx.stx_mask & STATX_BTIME)
        birth = "birth " + QByteArray::number(qlonglong(sx.stx_btime.tv_sec)) + '.'
            + QByteArray::number(sx.stx_btime.tv_nsec);
    const auto hash = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    };
    return "BRENNWERK-JOURNAL 2\nfile " + QByteArray::number(qulonglong(makedev(sx.stx_dev_major, sx.stx_dev_minor)))
        + ' ' + QByteArray::number(qulonglong(sx.stx_ino)) + ' ' + birth + "\npath "
        + QFile::encodeName(QFileInfo(path).canonicalFilePath()).toPercentEncoding("/") + "\nbefore "
        + QByteArray::number(before.size()) + ' ' + hash(before) + "\nafter " + QByteArray::number(after.size()) + ' '
        + hash(after) + "\n\n" + before + after;
}

// Runs call in a child process as user 65534 with the supplementary groups
// given; whether it returned true there.
bool asUser(const std::vector<gid_t>& groups, const std::function<bool()>& call)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ActingAs user(65534, 65534, groups);
        ::_exit(user.ok() && call() ? 0 : 1);
    }
    int status = -1;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runs(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

// What the game's files go through outside the editor's control: a kill in
// mid-write, a full disk, a folder that cannot be written, another program
// writing the same file.
class CrashSafetyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedWriterLeavesOldOrNewFile_data();
    void killedWriterLeavesOldOrNewFile();
    void nextAccessPutsBackWhatAKillCutShort_data();
    void nextAccessPutsBackWhatAKillCutShort();
    void hostileOwnerOfTheFolder_data();
    void hostileOwnerOfTheFolder();
    void plantedJournals_data();
    void plantedJournals();
    void staleTemporaryFilesAreCleanedUp();
    void fullDiskLeavesTheFileAsItWas();
    void fullDiskShowsTheErrorBox();
    void readOnlyFolderWritesTheFileInPlace();
    void unwritableFileShowsTheErrorBox();
    void writeKeepsWhatTheFileIs_data();
    void writeKeepsWhatTheFileIs();
    void concurrentWritersLoseNothing_data();
    void concurrentWritersLoseNothing();
    void otherProgramsChangesAreSeenAndKept();
    void otherProgramsChangesReachThePages();
    void wholeSecondTimesProveNothing();
};

void CrashSafetyTest::killedWriterLeavesOldOrNewFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("replaced") << u"replaced"_s;
    QTest::newRow("in place, journal beside (second hard link)") << u"beside"_s;
    QTest::newRow("in place, journal in the state folder (read-only folder)") << u"state"_s;
}

void CrashSafetyTest::killedWriterLeavesOldOrNewFile()
{
    // A kill at any moment leaves the old or the new file, or a file that
    // the next access puts back to the old one from the journal.
    QFETCH(QString, how);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString folder = dir.filePath(u"System"_s);
    const QString state = dir.filePath(u"state"_s);
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(state));
    const QString path = folder + u"/UnrealTournament.ini"_s;
    const QString journal = folder + u"/.UnrealTournament.ini.brennwerk-journal"_s;
    const QByteArray versionA = bigIni("16");
    const QByteArray versionB = bigIni("32768");
    writeBytes(path, versionA);
    QStringList names{u"UnrealTournament.ini"_s};
    Environment environment;
    environment.set("XDG_STATE_HOME", QFile::encodeName(state));
    if (how == u"beside") {
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + u"/Link.ini"_s).constData()) == 0);
        names << u"Link.ini"_s;
    } else if (how == u"state") {
        if (::geteuid() != 0)
            QSKIP("a read-only folder with a writable file of another user needs root to set up");
        QVERIFY(::chown(QFile::encodeName(state).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0666) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    }
    int putBack = 0;
    SafeFile::setRecoveryReport([&](const SafeFile::Recovery& recovery) {
        putBack += recovery.outcome == SafeFile::Recovery::Outcome::PutBack;
    });
    const struct ReportEnds {
        ~ReportEnds() { SafeFile::setRecoveryReport({}); }
    } reportEnds;

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
    struct stat file {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &file), 0);

    for (int kill = 0; kill < kKills; ++kill) {
        const bool aimsInPlace = how != u"replaced" && kill % 2;
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
            if (how == u"state"
                && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0
                    || ::setresuid(65534, 65534, 65534) != 0))
                ::_exit(4);
            // Every other kill aims at the bytes written in place, after
            // the journal is whole.
            if (aimsInPlace) {
                SafeFile::setJournalHook([announce](const QString&) {
                    const char byte = 'j';
                    (void)!::write(announce, &byte, 1);
                });
            } else {
                SafeFile::setWriteHook([announce](const QString&, const QByteArray&) {
                    const char byte = 'w';
                    return ::write(announce, &byte, 1) == 1;
                });
            }
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
        ::usleep(useconds_t(random.bounded(quint32(aimsInPlace ? oneWriteUs / 3 : oneWriteUs * 3 / 2))));
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        reaper.pid = -1;
        ::close(pipeFds[0]);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the writer ended before the kill");

        // A journal beside the file may be read by whoever may read the
        // file; one in the state folder by its writer alone.
        const QDir journalFolder(how == u"state" ? state + u"/brennwerk-editor"_s : folder);
        for (const QString& name : journalFolder.entryList({u"*journal"_s}, QDir::Files | QDir::Hidden)) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(journalFolder.filePath(name)).constData(), &st), 0);
            if (how == u"beside") {
                QCOMPARE(st.st_mode & 0777, file.st_mode & 0666);
                QVERIFY(st.st_uid == file.st_uid && st.st_gid == file.st_gid);
            } else {
                QCOMPARE(st.st_mode & 0777, mode_t(0600));
                QCOMPARE(st.st_uid, uid_t(65534));
            }
        }
        // The next access, here a read by the writer's user, puts back what
        // a kill cut short.
        if (how == u"state") {
            const pid_t reader = ::fork();
            if (reader == 0) {
                ActingAs writer;
                GameConfigStore(path).ReadString(u"URL"_s, u"LocalMap"_s, QString());
                ::_exit(writer.ok() ? 0 : 1);
            }
            int readerStatus = -1;
            QCOMPARE(::waitpid(reader, &readerStatus, 0), reader);
            QVERIFY(WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0);
        } else {
            GameConfigStore(path).ReadString(u"URL"_s, u"LocalMap"_s, QString());
        }
        const QByteArray now = readBytes(path);
        QVERIFY2(now == versionA || now == versionB,
                 qPrintable(u"after kill %1 the file holds %2 bytes, neither version"_s.arg(kill).arg(now.size())));
        QVERIFY(!QFileInfo::exists(journal));
        QCOMPARE(journalFolder.entryList({u"*journal"_s}, QDir::Files | QDir::Hidden), QStringList());
        // One interrupted write may leave its temporary file until the next
        // write; never more than that.
        const QStringList left = strays(folder, names) + (how == u"state" ? strays(journalFolder.path(), {}) : QStringList());
        QVERIFY2(left.size() <= 1, qPrintable(left.join(u", "_s)));
        midWrite += int(left.size());
    }
    qInfo("%d of %d kills left a temporary file; %d left a journal the next access put back", midWrite, kKills,
          putBack);

    // The next write goes through and leaves nothing behind.
    GameConfigStore(path).WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, u"64"_s);
    QCOMPARE(readBytes(path), bigIni("64"));
    QCOMPARE(strays(folder, names), QStringList());
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

void CrashSafetyTest::nextAccessPutsBackWhatAKillCutShort_data()
{
    QTest::addColumn<int>("written");    // bytes of the new content in the file at the kill; -1: all, cut to size
    QTest::addColumn<QByteArray>("after"); // what another program wrote before the next access; empty: nothing
    QTest::addColumn<int>("outcome");
    const int putBack = int(SafeFile::Recovery::Outcome::PutBack);
    QTest::newRow("killed before the first byte") << 0 << QByteArray() << putBack;
    QTest::newRow("a prefix of the new content, the old after it") << 9000 << QByteArray() << putBack;
    QTest::newRow("the new content, then the tail of the old") << 20000 << QByteArray() << putBack;
    QTest::newRow("the new content whole, journal not yet removed") << -1 << QByteArray() << putBack;
    QTest::newRow("the game wrote the file since") << 9000 << QByteArray("[URL]\r\nLocalMap=Game.unr\r\n")
                                                   << int(SafeFile::Recovery::Outcome::Kept);
}

void CrashSafetyTest::nextAccessPutsBackWhatAKillCutShort()
{
    // Each state a kill can leave an in-place write in, forced: the writer
    // kills itself after its journal is whole and some of its bytes are in.
    QFETCH(int, written);
    QFETCH(QByteArray, after);
    QFETCH(int, outcome);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"UnrealTournament.ini"_s);
    const QString journal = dir.filePath(u".UnrealTournament.ini.brennwerk-journal"_s);
    const QByteArray old = bigIni("16").left(20000) + "\r\n[URL]\r\nLocalMap=CityIntro.unr\r\n";
    writeBytes(path, old);
    QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(path + u".link"_s).constData()) == 0);
    const QByteArray content = withLine(old, "CacheSizeMegs=16", "CacheSizeMegs=" + QByteArray(12000, '7'));

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        SafeFile::setJournalHook([&](const QString&) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
            const QByteArray part = written < 0 ? content : content.left(written);
            if (fd < 0 || ::pwrite(fd, part.constData(), size_t(part.size()), 0) != part.size()
                || (written < 0 && ::ftruncate(fd, off_t(content.size())) != 0))
                ::_exit(5);
            ::raise(SIGKILL);
        });
        GameConfigStore(path).WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, QString(12000, u'7'));
        ::_exit(6);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the writer did not stop inside its write");
    QVERIFY(QFileInfo::exists(journal));
    if (!after.isEmpty())
        writeBytes(path, after);

    QList<SafeFile::Recovery> told;
    QString read;
    {
        SafeFile::setRecoveryReport([&](const SafeFile::Recovery& recovery) { told << recovery; });
        const auto reportEnds = qScopeGuard([] { SafeFile::setRecoveryReport({}); });
        read = GameConfigStore(path).ReadString(u"URL"_s, u"LocalMap"_s, QString());
    }
    QCOMPARE(told.size(), 1);
    QCOMPARE(int(told[0].outcome), outcome);
    QCOMPARE(told[0].file, path);
    QVERIFY(!QFileInfo::exists(journal));
    if (after.isEmpty()) {
        QCOMPARE(read, u"CityIntro.unr"_s);
        QCOMPARE(readBytes(path), old);
        QCOMPARE(strays(dir.path(), {u"UnrealTournament.ini"_s, u"UnrealTournament.ini.link"_s}), QStringList());
    } else {
        // Theirs stays; the old content waits beside it, named.
        QCOMPARE(read, u"Game.unr"_s);
        QCOMPARE(readBytes(path), after);
        QVERIFY(QFileInfo(told[0].copy).fileName().startsWith(u"UnrealTournament.ini.brennwerk-kept-"_s));
        QCOMPARE(readBytes(told[0].copy), old);
        // Kept where only this user may read or rename it.
        QCOMPARE(QFileInfo(told[0].copy).path(),
                 QFile::decodeName(qgetenv("XDG_STATE_HOME")) + u"/brennwerk-editor"_s);
        struct stat kept {};
        QCOMPARE(::stat(QFile::encodeName(told[0].copy).constData(), &kept), 0);
        QCOMPARE(kept.st_mode & 07777, mode_t(0600));
        QCOMPARE(kept.st_uid, ::geteuid());
        QFile::remove(told[0].copy);
        QCOMPARE(SafeFile::describe(told[0]),
                 u"%1: a write was interrupted and the file changed since, so it is left as it is; its content from "
                 "before that write is kept in %2"_s.arg(path, told[0].copy));
    }
    // Told once; the next write goes through.
    GameConfigStore(path).WriteString(u"URL"_s, u"LocalMap"_s, u"DM-Deck16][.unr"_s);
    QVERIFY(readBytes(path + u".link"_s).endsWith("LocalMap=DM-Deck16][.unr\r\n"));
}

void CrashSafetyTest::hostileOwnerOfTheFolder_data()
{
    // What the game's user, who owns the folder, plants before root's write,
    // and swaps in between root's read and root's write.
    QTest::addColumn<QString>("plant");
    QTest::addColumn<QString>("swap");
    QTest::addColumn<QString>("refusal"); // after "Unable to write to <path>: "; %1 the path; empty: written
    const QString changed = u"it was changed while being written; nothing was written"_s;
    QTest::newRow("file swapped for a link to a set-user-ID program") << QString() << u"program"_s << changed;
    QTest::newRow("second hard link, swapped for a link to root's file") << u"hard link"_s << u"secret"_s << changed;
    QTest::newRow("link to root's file") << u"link to secret"_s << QString()
                                         << u"%1 is a symbolic link of user nobody to a file of user root; it is not "
                                            "followed"_s;
    QTest::newRow("dangling link into root's folder")
        << u"dangling link"_s << QString()
        << u"%1 is a symbolic link to a file that does not exist; nothing is created through a link"_s;
    QTest::newRow("link to a file of his own") << u"link to his own"_s << QString() << QString();
    QTest::newRow("set-id bits and a capability, replaced") << u"privileged"_s << QString() << QString();
    QTest::newRow("set-id bits and a capability, in place") << u"privileged, hard link"_s << QString() << QString();
}

void CrashSafetyTest::hostileOwnerOfTheFolder()
{
    // Root (a server's script) writes a file in a folder of the game's own
    // user. Whatever that user does, root's write never lands anywhere but in
    // his file, and never makes a privileged program.
    QFETCH(QString, plant);
    QFETCH(QString, swap);
    QFETCH(QString, refusal);
    if (::geteuid() != 0)
        QSKIP("root's write into another user's folder needs root");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const auto put = [](const QString& file, const QByteArray& bytes, uid_t uid, mode_t mode) {
        writeBytes(file, bytes);
        const QByteArray name = QFile::encodeName(file);
        return ::chown(name.constData(), uid, uid) == 0 && ::chmod(name.constData(), mode) == 0;
    };
    const auto link = [](const QString& target, const QString& at) {
        const QByteArray name = QFile::encodeName(at);
        return ::symlink(QFile::encodeName(target).constData(), name.constData()) == 0
            && ::lchown(name.constData(), 65534, 65534) == 0;
    };
    // Root's own: a folder only root enters, a secret in it, a set-user-ID program.
    const QString rootOnly = dir.filePath(u"root"_s);
    const QString secret = rootOnly + u"/secret"_s;
    const QString program = dir.filePath(u"program"_s);
    QVERIFY(QDir().mkpath(rootOnly) && ::chmod(QFile::encodeName(rootOnly).constData(), 0700) == 0);
    QVERIFY(put(secret, "root's own\n", 0, 0600) && put(program, "#!/bin/sh\n", 0, 04755));
    // The game's user's folder and file.
    const QString folder = dir.filePath(u"System"_s);
    QVERIFY(QDir().mkpath(folder) && put(folder + u"/.keep"_s, {}, 65534, 0644));
    QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
    const QString path = folder + u"/User.ini"_s;
    const QByteArray original = "[DefaultPlayer]\nName=Glutkern\n";
    QString written = path; // the file the write goes to, when it goes through
    if (plant == u"link to secret") {
        QVERIFY(link(secret, path));
    } else if (plant == u"dangling link") {
        QVERIFY(link(rootOnly + u"/new.ini"_s, path));
    } else if (plant == u"link to his own") {
        written = folder + u"/Real.ini"_s;
        QVERIFY(put(written, original, 65534, 0644) && link(u"Real.ini"_s, path));
    } else {
        QVERIFY(put(path, original, 65534, plant.startsWith(u"privileged"_s) ? 06755 : 0644));
    }
    if (plant.endsWith(u"hard link"_s))
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + u"/Other.ini"_s).constData()) == 0);
    if (plant.startsWith(u"privileged"_s)) {
        // A file capability (CAP_NET_BIND_SERVICE, effective).
        const quint32 capability[5] = {qToLittleEndian(0x02000001u), qToLittleEndian(1u << 10), 0, 0, 0};
        if (::setxattr(QFile::encodeName(path).constData(), "security.capability", capability, sizeof capability, 0) != 0)
            QSKIP("file capabilities cannot be set on this file system");
    }

    // The swap, as the folder's owner in a process of his own.
    const auto hookEnds = qScopeGuard([] { SafeFile::setWriteHook({}); });
    SafeFile::setWriteHook([&](const QString&, const QByteArray&) {
        if (swap.isEmpty())
            return true;
        const pid_t child = ::fork();
        if (child == 0) {
            ActingAs owner;
            const QByteArray name = QFile::encodeName(path);
            const QByteArray target = QFile::encodeName(swap == u"program" ? program : secret);
            ::_exit(owner.ok() && ::rename(name.constData(), (name + ".moved").constData()) == 0
                            && ::symlink(target.constData(), name.constData()) == 0
                        ? 0
                        : 1);
        }
        int status = -1;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    });
    const QString error = failureOf([&] { GameConfigStore(path).WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Bob"_s); });
    SafeFile::setWriteHook({});

    QCOMPARE(error, refusal.isEmpty() ? QString() : u"Unable to write to %1: "_s.arg(path) + refusal.arg(path));
    // Root's files are as they were, and nothing new is in root's folder.
    QCOMPARE(readBytes(secret), QByteArray("root's own\n"));
    QCOMPARE(readBytes(program), QByteArray("#!/bin/sh\n"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(program).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(04755));
    QCOMPARE(QDir(rootOnly).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{u"secret"_s});
    // No file in his folder is privileged, and none of the write's is left.
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QVERIFY2(!entry.fileName().contains(u"brennwerk"_s), qPrintable(entry.fileName()));
        QCOMPARE(::lstat(QFile::encodeName(entry.filePath()).constData(), &st), 0);
        QVERIFY2((st.st_mode & 06000) == 0 || st.st_uid != 0, qPrintable(entry.fileName()));
        QVERIFY(::lgetxattr(QFile::encodeName(entry.filePath()).constData(), "security.capability", nullptr, 0) < 0);
    }
    if (!refusal.isEmpty())
        return;
    QCOMPARE(readBytes(written), withLine(original, "Name=Glutkern", "Name=Bob"));
    QCOMPARE(::stat(QFile::encodeName(written).constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_mode & 07777, plant.startsWith(u"privileged"_s) ? mode_t(0755) : mode_t(0644));
}

void CrashSafetyTest::plantedJournals_data()
{
    // Root's file R.ini in a folder where another user (65534, in group
    // 4242) may make files, or in root's own; what lies beside it as its
    // journal. Only a journal nobody could have made but those who may
    // write R.ini anyway is believed.
    QTest::addColumn<QString>("folderKind");
    QTest::addColumn<QString>("journalKind");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("why");
    using Recovery = SafeFile::Recovery;
    const int leftAlone = int(Recovery::Outcome::LeftAlone);
    const int othersMay = int(Recovery::Why::OthersMayHaveMadeIt);
    QTest::newRow("setgid folder of his group, root's 644 file") << u"setgid"_s << u"his"_s << leftAlone << othersMay;
    QTest::newRow("folder his by an ACL, file 664 whose group may only read by an ACL")
        << u"acl group"_s << u"his"_s << leftAlone << othersMay;
    QTest::newRow("everyone's sticky folder, file 666 but read-only for him by an ACL")
        << u"acl other"_s << u"his"_s << leftAlone << othersMay;
    QTest::newRow("root's folder: a pipe") << u"root's"_s << u"pipe"_s << leftAlone
                                           << int(Recovery::Why::NotAPlainFile);
    QTest::newRow("root's folder: cut short") << u"root's"_s << u"truncated"_s << leftAlone
                                              << int(Recovery::Why::NotAJournalOfThisFile);
    QTest::newRow("root's folder: claims a terabyte") << u"root's"_s << u"huge"_s << leftAlone
                                                      << int(Recovery::Why::TooLarge);
    // Root's own journal, of an earlier file that had the inode's number: its
    // old content is kept where only root may read it.
    QTest::newRow("root's folder: of another file of that number") << u"root's"_s << u"reborn"_s
                                                                   << int(Recovery::Outcome::Kept)
                                                                   << int(Recovery::Why::Nothing);
    // Root's own journal whose old content a size limit keeps from going
    // back: it stays, and no write goes in place over it.
    QTest::newRow("root's folder: its own, not put back under a size limit")
        << u"root's"_s << u"genuine"_s << int(Recovery::Outcome::NotPutBack) << int(Recovery::Why::SystemError);
    QTest::newRow("the group's folder, the group may write the file: believed")
        << u"shared"_s << u"his"_s << int(Recovery::Outcome::PutBack) << int(Recovery::Why::Nothing);
}

void CrashSafetyTest::plantedJournals()
{
    QFETCH(QString, folderKind);
    QFETCH(QString, journalKind);
    QFETCH(int, outcome);
    QFETCH(int, why);
    if (::geteuid() != 0)
        QSKIP("other users' files beside root's need root to set up");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString folder = dir.filePath(u"System"_s);
    const QByteArray folderName = QFile::encodeName(folder);
    const QString path = folder + u"/R.ini"_s;
    const QByteArray pathName = QFile::encodeName(path);
    const QString journal = folder + u"/.R.ini.brennwerk-journal"_s;
    const QByteArray original = "[Engine.GameReplicationInfo]\nAdminPassword=roots\n";
    const QByteArray planted = "[Engine.GameReplicationInfo]\nAdminPassword=his\n";
    QVERIFY(QDir().mkpath(folder));
    writeBytes(path, original);
    const gid_t group = 4242;
    const std::vector<gid_t> groups{group};
    if (folderKind == u"setgid" || folderKind == u"shared") {
        QVERIFY(::chown(folderName.constData(), 0, group) == 0 && ::chmod(folderName.constData(), 02775) == 0);
        QVERIFY(::chown(pathName.constData(), 0, group) == 0);
        QVERIFY(::chmod(pathName.constData(), folderKind == u"shared" ? 0664 : 0644) == 0);
    } else if (folderKind == u"acl group") {
        QVERIFY(::chmod(pathName.constData(), 0664) == 0);
        if (!runs(u"setfacl"_s, {u"-m"_s, u"u:65534:rwx"_s, folder})
            || !runs(u"setfacl"_s, {u"-m"_s, u"g::r,u:4243:rw,m::rw"_s, path}))
            QSKIP("no ACLs here (setfacl, or the file system)");
    } else if (folderKind == u"acl other") {
        QVERIFY(::chmod(folderName.constData(), 01777) == 0 && ::chmod(pathName.constData(), 0666) == 0);
        if (!runs(u"setfacl"_s, {u"-m"_s, u"u:65534:r"_s, path}))
            QSKIP("no ACLs here (setfacl, or the file system)");
    }
    // He may not write the file himself (where it is not the group's).
    const bool hisWriteFails = asUser(groups, [&] { return ::open(pathName.constData(), O_WRONLY) < 0; });
    QCOMPARE(hisWriteFails, folderKind != u"shared");

    // The journal, as he or root makes it.
    if (journalKind == u"his") {
        QVERIFY(asUser(groups, [&] {
            QFile file(journal);
            return file.open(QIODevice::WriteOnly) && file.write(journalOf(path, planted, original)) > 0;
        }));
    } else if (journalKind == u"pipe") {
        QVERIFY(::mkfifo(QFile::encodeName(journal).constData(), 0644) == 0);
    } else if (journalKind == u"genuine") {
        QVERIFY(::link(pathName.constData(), QFile::encodeName(folder + u"/Link.ini"_s).constData()) == 0);
        writeBytes(journal, journalOf(path, planted + QByteArray(100000, ';'), original));
    } else if (journalKind == u"reborn") {
        QByteArray bytes = journalOf(path, planted, original);
        const qsizetype birth = bytes.indexOf(" birth ") + 7;
        QVERIFY(birth > 7);
        bytes.insert(birth, '1');
        writeBytes(journal, bytes);
    } else if (journalKind == u"truncated") {
        writeBytes(journal, journalOf(path, planted, original).chopped(5));
    } else {
        QByteArray header = journalOf(path, QByteArray(), original);
        header.replace("before 0 ", "before " + QByteArray::number(Q_INT64_C(1) << 40) + ' ');
        writeBytes(journal, header.left(header.indexOf("\n\n") + 2));
        QVERIFY(::truncate(QFile::encodeName(journal).constData(),
                           off_t(header.indexOf("\n\n") + 2 + (Q_INT64_C(1) << 40) + original.size()))
                == 0);
    }
    struct stat journalBefore {};
    QCOMPARE(::lstat(QFile::encodeName(journal).constData(), &journalBefore), 0);

    // Root's next read, then root's next write.
    QList<SafeFile::Recovery> told;
    SafeFile::setRecoveryReport([&](const SafeFile::Recovery& recovery) { told << recovery; });
    const auto reportEnds = qScopeGuard([] { SafeFile::setRecoveryReport({}); });
    GameConfigStore store(path);
    std::optional<FileSizeLimit> limit;
    if (journalKind == u"genuine")
        QVERIFY(limit.emplace(50000).ok());
    const QString read = store.ReadString(u"Engine.GameReplicationInfo"_s, u"AdminPassword"_s, QString());
    QCOMPARE(told.size(), 1);
    QCOMPARE(int(told[0].outcome), outcome);
    QCOMPARE(int(told[0].why), why);
    if (outcome == int(SafeFile::Recovery::Outcome::PutBack)) {
        // A member of the group may write the file anyway: a second player
        // recovers the first one's interrupted write.
        QCOMPARE(read, u"his"_s);
        QVERIFY(!QFileInfo::exists(journal));
        return;
    }
    if (outcome == int(SafeFile::Recovery::Outcome::NotPutBack)) {
        // Part of the old content may be in; the journal still has it all.
        const QByteArray partly = readBytes(path);
        QVERIFY(failureOf([&] { store.WriteString(u"Engine.GameReplicationInfo"_s, u"AdminPassword"_s, u"new"_s); })
                    .endsWith(u"the copy that an interrupted write left of it is still there; nothing was written"_s));
        QCOMPARE(readBytes(path), partly);
        QVERIFY(QFileInfo::exists(journal));
        QCOMPARE(told.size(), 1);
        limit.reset();
        QCOMPARE(store.ReadString(u"Engine.GameReplicationInfo"_s, u"AdminPassword"_s, QString()), u"his"_s);
        QCOMPARE(int(told.last().outcome), int(SafeFile::Recovery::Outcome::PutBack));
        QVERIFY(!QFileInfo::exists(journal));
        return;
    }
    if (outcome == int(SafeFile::Recovery::Outcome::Kept)) {
        QCOMPARE(read, u"roots"_s);
        QCOMPARE(readBytes(path), original);
        QVERIFY(!QFileInfo::exists(journal));
        QCOMPARE(readBytes(told[0].copy), planted);
        struct stat kept {};
        QCOMPARE(::stat(QFile::encodeName(told[0].copy).constData(), &kept), 0);
        QVERIFY(kept.st_uid == 0 && (kept.st_mode & 07777) == 0600);
        QFile::remove(told[0].copy);
        return;
    }
    QCOMPARE(read, u"roots"_s);
    QCOMPARE(readBytes(path), original);
    QCOMPARE(told[0].copy, journal);
    // Told once, and it stops no write.
    QCOMPARE(store.ReadString(u"Engine.GameReplicationInfo"_s, u"AdminPassword"_s, QString()), u"roots"_s);
    QCOMPARE(failureOf([&] { store.WriteString(u"Engine.GameReplicationInfo"_s, u"AdminPassword"_s, u"new"_s); }),
             QString());
    QCOMPARE(told.size(), 1);
    QCOMPARE(readBytes(path), withLine(original, "AdminPassword=roots", "AdminPassword=new"));
    // Left as it was.
    struct stat journalAfter {};
    QCOMPARE(::lstat(QFile::encodeName(journal).constData(), &journalAfter), 0);
    QCOMPARE(journalAfter.st_ino, journalBefore.st_ino);
    QCOMPARE(journalAfter.st_size, journalBefore.st_size);
    QCOMPARE(journalAfter.st_mtim.tv_nsec, journalBefore.st_mtim.tv_nsec);
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
    const QByteArray registry = registryText(installKeyText(QString(80 * 1024, u'x')));
    writeBytes(registryPath, registry);
    RegistryFile registryFile(registryPath);
    QVERIFY(registryFile.OpenKey(installKey, false));
    // Written in place (it has a second name): its backup fits, the new
    // content does not, and the write stops half-way.
    const QString linked = dir.filePath(u"Linked.ini"_s);
    const QByteArray small = "[DefaultPlayer]\r\nName=Glutkern\r\nTeam=1\r\n";
    writeBytes(linked, small);
    QVERIFY(::link(QFile::encodeName(linked).constData(), QFile::encodeName(linked + u".link"_s).constData()) == 0);

    GameConfigStore store(path);
    GameConfigStore newStore(missing);
    QString changed, created, registryWrite, inPlace;
    {
        FileSizeLimit limit(50 * 1024);
        if (!limit.ok())
            QSKIP("the file size limit cannot be lowered here");
        changed = failureOf([&] { store.WriteString(u"URL"_s, u"LocalMap"_s, u"UT-Logo-Map.unr"_s); });
        created = failureOf([&] { newStore.WriteString(u"DefaultPlayer"_s, u"Name"_s, QString(60 * 1024, u'n')); });
        registryWrite = failureOf([&] { registryFile.WriteString(u"Version"_s, u"451"_s); });
        inPlace = failureOf(
            [&] { GameConfigStore(linked).WriteString(u"DefaultPlayer"_s, u"Name"_s, QString(60 * 1024, u'n')); });
    }
    const QString tooLarge = u": "_s + QString::fromLocal8Bit(std::strerror(EFBIG));
    QCOMPARE(inPlace, u"Unable to write to "_s + linked + tooLarge);
    QCOMPARE(readBytes(linked), small);
    QCOMPARE(readBytes(linked + u".link"_s), small);
    QVERIFY(QFile::remove(linked + u".link"_s) && QFile::remove(linked));
    QCOMPARE(changed, u"Unable to write to "_s + path + tooLarge);
    QCOMPARE(readBytes(path), original);
    QCOMPARE(created, u"Unable to write to "_s + missing + tooLarge);
    QVERIFY(!QFileInfo::exists(missing));
    QCOMPARE(registryWrite, u"Failed to set data for 'Version' (Unable to write to "_s + registryPath + tooLarge + u')');
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
    QVERIFY(game.start());
    auto* button = game.child<QPushButton>(u"bCacheEintragen"_s);
    auto* label = game.child<QLabel>(u"LCacheMom"_s);
    typeOver(game.child<MaskedEdit>(u"meCache"_s), u"128"_s);
    QVERIFY(button->isEnabled());
    {
        FileSizeLimit limit(rlim_t(original.size() / 2));
        if (!limit.ok())
            QSKIP("the file size limit cannot be lowered here");
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(game.boxes.errors(),
             QStringList{u"Unable to write to %1: %2."_s.arg(game.mainIniPath(), QString::fromLocal8Bit(std::strerror(EFBIG)))});
    QCOMPARE(readBytes(game.mainIniPath()), original);
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 32"_s);
    QVERIFY(button->isEnabled());
    const QString system = QFileInfo(game.mainIniPath()).absolutePath();
    QCOMPARE(strays(system, {u"UnrealTournament.ini"_s, u"User.ini"_s, u"UnrealTournament.exe"_s}), QStringList());

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(readBytes(game.mainIniPath()), withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=128\r\n"));
    QCOMPARE(game.boxes.errors().size(), 1);
}

void CrashSafetyTest::readOnlyFolderWritesTheFileInPlace()
{
    // A server set-up: the player may write the game's files, not the folder
    // that holds them. A replacement cannot be made there, so the files are
    // written in place, their journal in the player's state folder; only a
    // file that is not there yet cannot be written.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString state = dir.filePath(u"state"_s);
    QVERIFY(QDir().mkpath(state) && ::chown(QFile::encodeName(state).constData(), 65534, 65534) == 0);
    Environment environment;
    environment.set("XDG_STATE_HOME", QFile::encodeName(state));
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
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);

    QString changed, created, registryWrite;
    bool opened = false;
    {
        ActingAs nobody;
        if (!nobody.ok()) {
            ::chmod(QFile::encodeName(folder).constData(), 0755);
            QSKIP("running as root and unable to act as another user: a folder's mode does not stop root");
        }
        GameConfigStore store(path);
        changed = failureOf([&] { store.WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Funke"_s); });
        created = failureOf([&] { GameConfigStore(missing).WriteString(u"URL"_s, u"LocalMap"_s, u"x.unr"_s); });
        RegistryFile registryFile(registryPath);
        registryFile.setClock([] { return Q_INT64_C(1733600000123); });
        opened = registryFile.OpenKey(u"\\Software\\Brennwerk"_s, true);
        registryWrite = failureOf([&] { registryFile.WriteString(u"Version"_s, u"1"_s); });
    }
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QCOMPARE(changed, QString());
    QCOMPARE(readBytes(path), withLine(original, "Name=Glutkern", "Name=Funke"));
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_mode & 07777, mode_t(0666));
    QCOMPARE(created, u"Unable to write to "_s + missing);
    QVERIFY(opened);
    QCOMPARE(registryWrite, QString());
    QVERIFY(readBytes(registryPath).startsWith(registry + "\n[Software\\\\Brennwerk] 1733600000\n"));
    QVERIFY(readBytes(registryPath).endsWith("\n\"Version\"=\"1\"\n"));
    QCOMPARE(strays(folder, {u"User.ini"_s, u"system.reg"_s}), QStringList());
    QCOMPARE(strays(state + u"/brennwerk-editor"_s, {}), QStringList());
}

void CrashSafetyTest::unwritableFileShowsTheErrorBox()
{
    GameFixture game;
    game.registerGameDir();
    const QByteArray original = readBytes(game.mainIniPath());
    const QString system = QFileInfo(game.mainIniPath()).absolutePath();
    QVERIFY(game.start());
    auto* button = game.child<QPushButton>(u"bIRCNickEintragen"_s);
    typeOver(game.child<QLineEdit>(u"eIRCNick"_s), u"Neo"_s);
    QVERIFY(button->isEnabled());

    // Every folder up to System readable by anyone, System writable by
    // anyone, the file only by its owner: a replacement would go through
    // and take the file from its owner, so the write must fail.
    for (QString folder = QFileInfo(game.gameDir()).absolutePath(); folder != system;) {
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        folder = folder == game.gameDir() ? system : game.gameDir();
    }
    QVERIFY(::chmod(QFile::encodeName(game.mainIniPath()).constData(), 0644) == 0);
    QVERIFY(::chmod(QFile::encodeName(system).constData(), 0777) == 0);
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(game.mainIniPath()).constData(), &before), 0);
    {
        ActingAs nobody;
        if (!nobody.ok())
            QSKIP("running as root and unable to act as another user: a file's mode does not stop root");
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(game.boxes.errors(), QStringList{unableToWrite(game.mainIniPath())});
    QCOMPARE(readBytes(game.mainIniPath()), original);
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(game.mainIniPath()).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(strays(system, {u"UnrealTournament.ini"_s, u"User.ini"_s, u"UnrealTournament.exe"_s}), QStringList());
}

void CrashSafetyTest::writeKeepsWhatTheFileIs_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("group-shared file written by a member of the group") << u"group"_s;
    QTest::newRow("second hard link") << u"link"_s;
    QTest::newRow("file bind-mounted on its own") << u"mount"_s;
    QTest::newRow("player's file written by root") << u"player"_s;
}

void CrashSafetyTest::writeKeepsWhatTheFileIs()
{
    // Files as players and server operators keep them. Wherever a
    // replacement would change more than the content the file is written in
    // place: it keeps its owner, group, mode, links and mount.
    QFETCH(QString, setup);
    if (::geteuid() != 0)
        QSKIP("giving files to other users and groups needs root");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString folder = dir.filePath(u"System"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + u"/User.ini"_s;
    const QString link = folder + u"/Link.ini"_s;
    const QByteArray original = "[DefaultPlayer]\r\nName=Glutkern\r\nTeam=1\r\n";
    const QByteArray changed = withLine(original, "Name=Glutkern", "Name=Funke");
    writeBytes(path, original);
    const auto own = [](const QString& file, uid_t uid, gid_t gid, mode_t mode) {
        const QByteArray name = QFile::encodeName(file);
        return ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
    };
    const auto write = [&](const QString& name) {
        return failureOf([&] { GameConfigStore(name).WriteString(u"DefaultPlayer"_s, u"Name"_s, u"Funke"_s); });
    };
    // What the file is, and must stay.
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0644;
    nlink_t links = 1;
    if (setup == u"group") {
        // root:users 664 in a folder the group may write, as "users" share it.
        gid = 100;
        mode = 0664;
        QVERIFY(own(folder, 0, gid, 0775) && own(path, uid, gid, mode));
        ActingAs member(65534, 65534, {gid});
        if (!member.ok())
            QSKIP("unable to act as another user");
        QCOMPARE(write(path), QString());
    } else if (setup == u"link") {
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
        links = 2;
        QVERIFY(own(path, uid, gid, mode));
        QCOMPARE(write(link), QString());
        QCOMPARE(readBytes(link), changed);
    } else if (setup == u"mount") {
        // Mounted in a mount namespace of a child process of its own, so
        // that no mount outlives the test.
        const QString host = dir.filePath(u"Host.ini"_s);
        writeBytes(host, original);
        writeBytes(path, "under the mount");
        QVERIFY(own(host, uid, gid, mode) && own(path, uid, gid, mode));
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount(QFile::encodeName(host).constData(), QFile::encodeName(path).constData(), nullptr,
                           MS_BIND, nullptr) != 0)
                ::_exit(77);
            ::_exit(write(path).isEmpty() && readBytes(path) == changed ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 77)
            QSKIP("this machine does not let a test bind-mount a file (needs root and mount namespaces)");
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(readBytes(path), QByteArray("under the mount"));
        QCOMPARE(readBytes(host), changed);
        QCOMPARE(strays(folder, {u"User.ini"_s}), QStringList());
        return;
    } else {
        // Root editing a player's files (sudo, a server's start script) may
        // replace them, as the player's again.
        uid = gid = 65534;
        mode = 0640;
        QVERIFY(own(path, uid, gid, mode));
        QCOMPARE(write(path), QString());
    }
    QCOMPARE(readBytes(path), changed);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_uid, uid);
    QCOMPARE(st.st_gid, gid);
    QCOMPARE(st.st_mode & 07777, mode);
    QCOMPARE(st.st_nlink, links);
    QCOMPARE(strays(folder, {u"User.ini"_s, u"Link.ini"_s}), QStringList());
}

void CrashSafetyTest::concurrentWritersLoseNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("writers");
    QTest::addColumn<int>("keys"); // each writer's
    QTest::newRow("INI file") << u"ini"_s << 2 << 100;
    QTest::newRow("INI file by two hard links, written in place") << u"links"_s << 2 << 100;
    QTest::newRow("registry file") << u"registry"_s << 2 << 100;
    // Each write replaces the file a waiting writer holds the lock of; each
    // waits its turn on the new one.
    QTest::newRow("a storm of 300 writers") << u"ini"_s << 300 << 1;
}

void CrashSafetyTest::concurrentWritersLoseNothing()
{
    // Two processes (the window and a script, two scripts) adding keys to
    // one file at once: each read-change-write holds the file, so no key
    // one of them adds is lost to the other's write.
    QFETCH(QString, kind);
    QFETCH(int, writers);
    QFETCH(int, keys);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const bool registry = kind == u"registry";
    const QString path = dir.filePath(registry ? u"system.reg"_s : u"User.ini"_s);
    QString second = path;
    const QByteArray start = registry ? QByteArray("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n")
                                      : QByteArray("[Engine.Input]\r\nAliases[0]=x\r\n");
    writeBytes(path, start);
    if (kind == u"links") {
        QVERIFY(QDir().mkpath(dir.filePath(u"Other"_s)));
        second = dir.filePath(u"Other/User.ini"_s);
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(second).constData()) == 0);
    }
    const int kWriters = writers;
    const int kKeys = keys;
    const auto keyName = [](int writer, int i) { return u"Writer%1Key%2"_s.arg(writer).arg(i); };

    // Both start at once, when the gate closes.
    int gate[2];
    QCOMPARE(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(gate[1]);
            char byte;
            // The gate gives no byte, it closes (read gives 0); a failed wait
            // would start this writer alone.
            if (::read(gate[0], &byte, 1) != 0)
                ::_exit(4);
            int status = 0;
            try {
                if (registry) {
                    RegistryFile file(path);
                    status = file.OpenKey(u"\\Software\\Brennwerk"_s, true) ? 0 : 2;
                    for (int i = 0; i < kKeys && status == 0; ++i)
                        file.WriteString(keyName(w, i), u"v"_s);
                } else {
                    GameConfigStore store(w == 0 ? path : second);
                    for (int i = 0; i < kKeys; ++i)
                        store.WriteString(u"Engine.Input"_s, keyName(w, i), u"v"_s);
                }
            } catch (const EditorError&) {
                status = 3;
            }
            ::_exit(status);
        }
        if (child > 0)
            children.push_back(child);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    QList<int> statuses;
    for (const pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        statuses << status;
    }
    QCOMPARE(statuses, QList<int>(kWriters, 0));

    const QByteArray bytes = readBytes(path);
    int found = 0;
    if (registry) {
        RegistryFile file(path);
        QVERIFY(file.OpenKey(u"\\Software\\Brennwerk"_s, false));
        for (int w = 0; w < kWriters; ++w)
            for (int i = 0; i < kKeys; ++i)
                found += file.ReadString(keyName(w, i)) == std::optional<QString>(u"v"_s);
        QVERIFY(bytes.startsWith(start));
    } else {
        // The two lines there were, then each key once, in any order.
        QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.mid(0, 2), start.split('\n').mid(0, 2));
        QStringList keys;
        for (const QByteArray& line : lines.mid(2))
            keys << QString::fromLatin1(line);
        keys.sort();
        QStringList expected;
        for (int w = 0; w < kWriters; ++w)
            for (int i = 0; i < kKeys; ++i)
                expected << keyName(w, i) + u"=v\r"_s;
        expected.sort();
        QCOMPARE(keys, expected);
        found = int(keys.size());
        QCOMPARE(readBytes(second), bytes);
    }
    QCOMPARE(found, kWriters * kKeys);
    QCOMPARE(strays(dir.path(), {QFileInfo(path).fileName(), u"Other"_s}), QStringList());
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
    QVERIFY(registry.OpenKey(installKey, false));
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
    QVERIFY(game.start());
    auto* label = game.child<QLabel>(u"LCacheMom"_s);
    auto* nick = game.child<QLineEdit>(u"eIRCNick"_s);
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 32"_s);

    // The game ran and changed its file meanwhile.
    const QByteArray byGame = withLine(withLine(original, "\nCacheSizeMegs=32\r\n", "\nCacheSizeMegs=64\r\n"),
                                       "\nNickName=Funkenflug\r\n", "\nNickName=Spieler\r\nBrowserNote=added\r\n");
    writeBytes(game.mainIniPath(), byGame);
    game.showPage("tsUser");
    game.showPage("tsSystem");
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 64"_s);
    QCOMPARE(nick->text(), u"Spieler"_s);

    // And again while the page stays open: the next write keeps it.
    const QByteArray again = withLine(byGame, "\nCacheSizeMegs=64\r\n", "\nCacheSizeMegs=96\r\n");
    writeBytes(game.mainIniPath(), again);
    typeOver(nick, u"Neo"_s);
    click(game.child<QPushButton>(u"bIRCNickEintragen"_s));
    QCOMPARE(readBytes(game.mainIniPath()), withLine(again, "\nNickName=Spieler\r\n", "\nNickName=Neo\r\n"));

    // A program that changes the file through a shared memory map moves its
    // times at the first change only: the next show still sees the second.
    const int fd = ::open(QFile::encodeName(game.mainIniPath()).constData(), O_RDWR);
    QVERIFY(fd >= 0);
    const QByteArray now = readBytes(game.mainIniPath());
    char* map = static_cast<char*>(::mmap(nullptr, size_t(now.size()), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    ::close(fd);
    QVERIFY(map != MAP_FAILED);
    const auto unmap = qScopeGuard([&] { ::munmap(map, size_t(now.size())); });
    const qsizetype at = now.indexOf("\nCacheSizeMegs=96\r\n") + 15;
    QVERIFY(at > 15);
    map[at] = '7';
    QTest::qWait(100); // the change's time lies well before the next read
    game.showPage("tsUser");
    game.showPage("tsSystem");
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 76"_s);
    map[at] = '8';
    game.showPage("tsUser");
    game.showPage("tsSystem");
    QCOMPARE(label->text(), u"Cache-Größe (in MB): 86"_s);
    QVERIFY(game.boxes.errors().isEmpty());
}

void CrashSafetyTest::wholeSecondTimesProveNothing()
{
    // ext4 with 128-byte inodes keeps whole seconds: a rewrite of the same
    // size in the same second leaves the stamp as it was, and a read after
    // it must still see the new bytes.
    if (::geteuid() != 0)
        QSKIP("a loop mount needs root");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(u"ext4.img"_s);
    const QString mountPoint = dir.filePath(u"mnt"_s);
    QVERIFY(QDir().mkpath(mountPoint));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 << 20));
    file.close();
    if (!runs(u"mkfs.ext4"_s, {u"-q"_s, u"-I"_s, u"128"_s, image}))
        QSKIP("mkfs.ext4 is not here");
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || !runs(u"mount"_s, {u"-o"_s, u"loop"_s, image, mountPoint}))
            ::_exit(77);
        const QString path = mountPoint + u"/User.ini"_s;
        const auto rewrite = [&](const QByteArray& bytes) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const bool done = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
            ::close(fd);
            return done;
        };
        // All within one second, begun early in it.
        while (QDateTime::currentDateTime().time().msec() > 100)
            ::usleep(5000);
        GameConfigStore store(path);
        if (!rewrite("[DefaultPlayer]\nName=aa\n"))
            ::_exit(2);
        ::usleep(50000);
        const QString first = store.ReadString(u"DefaultPlayer"_s, u"Name"_s, QString());
        if (!rewrite("[DefaultPlayer]\nName=bb\n"))
            ::_exit(2);
        const QString second = store.ReadString(u"DefaultPlayer"_s, u"Name"_s, QString());
        ::_exit(first == u"aa" && second == u"bb" ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        QSKIP("no loop mount here");
    QCOMPARE(WEXITSTATUS(status), 0);
}

QTEST_MAIN(CrashSafetyTest)
#include "test_crashsafety.moc"
