#include "app/HauptUnit.h"
#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "support/Environment.h"
#include "support/Files.h"
#include "support/GameFixture.h"
#include "support/RegistryText.h"
#include "support/WriteLog.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString testKey = u"\\Software\\Brennwerk\\Zeichentest"_s;
// Umlauts (in every code page Wine's tools print with), the euro sign, CJK,
// a character beyond the 16-bit range, quotes, a backslash before a letter
// that is a hex digit, and a percent sign.
const QString oddText = u"Grüße aus Köln: € 日本 😀 \"%1\" C:\\a\\b"_s;

struct Result {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// The registry layer against Debian's Wine itself, on a prefix made for the
// test. Skipped when Wine is not installed (scripts/test.sh installs it).
class RealWineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void readsWhatWineRegAddWrote();
    void seesTheKeysA32BitProgramSees();
    void wineSeesWhatTheEditorWrote();
    void refusesToWriteWhileWineRuns();

private:
    Result run(const QString& program, const QStringList& arguments, int timeoutMs = 120000) const;
    void wine(const QStringList& arguments, QByteArray* out = nullptr) const;
    void waitForWineServer() const;
    // Starts a server that stays after its last program, as while a game
    // runs (for a minute, should the test end without stopping it), and
    // returns once it is up.
    void startLastingServer() const;
    // The value "reg query" shows in a view (32-bit programs' unless told),
    // decoded from the console code page Wine prints with.
    QString queried(const QString& key, const QString& name, const QString& view = u"/reg:32"_s) const;
    // Whether "reg query" finds the key in the view.
    bool wineHas(const QString& key, const QString& view) const;
    void startEditor();

    QProcessEnvironment environment;
    QTemporaryDir scratch;
    QString prefix;
    QString hive;
    QString gameDir;
    std::unique_ptr<GameFixture> game;
    THauptForm* window = nullptr;
    std::unique_ptr<Environment> environment_;
};

Result RealWineTest::run(const QString& program, const QStringList& arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(environment);
    // A server started in the background would hold the pipes open.
    if (program == u"wineserver"_s) {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    process.start(program, arguments);
    Result result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitCode();
    if (program != u"wineserver"_s) {
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
    }
    return result;
}

void RealWineTest::wine(const QStringList& arguments, QByteArray* out) const
{
    const Result result = run(u"wine"_s, arguments);
    QVERIFY2(result.finished && result.exitCode == 0,
             qPrintable(u"wine %1: exit %2\n%3"_s.arg(arguments.join(' ')).arg(result.exitCode)
                            .arg(QString::fromLocal8Bit(result.err))));
    if (out)
        *out = result.out;
}

// Wine's server writes system.reg when its last program has ended and it
// goes away; only then does the file hold what Wine did.
void RealWineTest::waitForWineServer() const
{
    const Result result = run(u"wineserver"_s, {u"-w"_s});
    QVERIFY2(result.finished, "wineserver -w did not return");
}

void RealWineTest::startLastingServer() const
{
    const Result server = run(u"wineserver"_s, {u"--persistent=60"_s});
    QVERIFY(server.finished && server.exitCode == 0);
    // A query returns once the server is up.
    wine({u"reg"_s, u"query"_s, u"HKLM"_s + installKey, u"/reg:32"_s});
}

bool RealWineTest::wineHas(const QString& key, const QString& view) const
{
    const Result result = run(u"wine"_s, {u"reg"_s, u"query"_s, key, view});
    return result.finished && result.exitCode == 0;
}

QString RealWineTest::queried(const QString& key, const QString& name, const QString& view) const
{
    const QString codePage = valueIn(hive, RegistryRoot::LocalMachine,
                                     u"\\System\\CurrentControlSet\\Control\\Nls\\CodePage"_s, u"OEMCP"_s);
    QStringDecoder decode(("CP" + codePage).toLatin1().constData());
    if (!decode.isValid())
        return u"<no decoder for code page %1>"_s.arg(codePage);
    QByteArray out;
    const Result result = run(u"wine"_s, name.isEmpty() ? QStringList{u"reg"_s, u"query"_s, key, u"/ve"_s, view}
                                                        : QStringList{u"reg"_s, u"query"_s, key, u"/v"_s, name, view});
    if (!result.finished || result.exitCode != 0)
        return u"<not found>"_s;
    out = result.out;
    // "    Folder    REG_SZ    C:\Games\..."
    for (const QString& line : QString(decode(out)).split(u"\r\n"_s)) {
        const qsizetype type = line.indexOf(u"    REG_SZ    "_s);
        if (type >= 0)
            return line.mid(type + 14);
    }
    return u"<not in: %1>"_s.arg(QString::fromLatin1(out));
}

void RealWineTest::startEditor()
{
    window = game->start();
    QVERIFY2(window, qPrintable(game->err));
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void RealWineTest::initTestCase()
{
    for (const char* program : {"wine", "wineboot", "wineserver"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            QSKIP(qPrintable(u"%1 is not installed; scripts/test.sh installs Wine (scripts/deps.sh --with-wine)"_s
                                 .arg(QString::fromLatin1(program))));
    QVERIFY(scratch.isValid());
    prefix = QFileInfo(scratch.path()).canonicalFilePath() + u"/prefix"_s;
    hive = prefix + u"/system.reg"_s;

    // Headless and offline: no display, no Mono or Gecko to download, no menu
    // entries in the user's desktop; Unix file names and arguments in UTF-8.
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WINEPREFIX"_s, prefix);
    environment.insert(u"WINEDEBUG"_s, u"-all"_s);
    environment.insert(u"WINEDLLOVERRIDES"_s, u"mscoree,mshtml=;winemenubuilder.exe=d"_s);
    environment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);

    QElapsedTimer clock;
    clock.start();
    const Result boot = run(u"wineboot"_s, {u"-i"_s}, 240000);
    QVERIFY2(boot.finished, "wineboot -i did not finish within 4 minutes");
    waitForWineServer();
    qInfo("wineboot -i took %.1f s", double(clock.elapsed()) / 1000);
    QVERIFY2(QFileInfo(hive).isFile(), qPrintable(QString::fromLocal8Bit(boot.err)));
    QVERIFY(QFileInfo(prefix + u"/dosdevices/c:"_s).isSymLink());

    // The installer's keys, as Wine's own tool writes them for a 32-bit
    // program (the installer is one): the install path and the map type.
    const auto add32 = [this](const QString& key, const QString& name, const QString& data) {
        wine(QStringList{u"reg"_s, u"add"_s, key} + (name.isEmpty() ? QStringList{u"/ve"_s} : QStringList{u"/v"_s, name})
             + QStringList{u"/d"_s, data, u"/f"_s, u"/reg:32"_s});
    };
    add32(u"HKLM"_s + installKey, u"Folder"_s, u"C:\\Games\\Ünreal"_s);
    add32(u"HKLM"_s + installKey, u"Version"_s, u"400"_s);
    add32(u"HKLM\\Software\\Classes\\.unr"_s, QString(), u"Unreal.Map"_s);
    add32(u"HKLM\\Software\\Classes\\Unreal.Map"_s, QString(), u"Unreal Map"_s);
    add32(u"HKLM\\Software\\Classes\\Unreal.Map\\Shell\\open\\command"_s, QString(),
          u"C:\\Games\\Ünreal\\System\\UnrealTournament.exe \"%1\""_s);
    // What only 64-bit programs see (a link type a 64-bit program
    // registered), and a key of a part of Software\Classes that Wine shares
    // between the views.
    wine({u"reg"_s, u"add"_s, u"HKLM\\Software\\Classes\\Unreal.Link"_s, u"/ve"_s, u"/d"_s, u"64"_s, u"/f"_s, u"/reg:64"_s});
    wine({u"reg"_s, u"add"_s, u"HKLM\\Software\\Classes\\AppId\\Brennwerk.exe"_s, u"/ve"_s, u"/d"_s, u"shared"_s, u"/f"_s,
          u"/reg:64"_s});
    waitForWineServer();

    game = std::make_unique<GameFixture>();
    // Started with no options, as a newcomer does.
    game->registryOption = false;
    gameDir = prefix + u"/drive_c/Games/Ünreal"_s;
    QVERIFY(QDir().mkpath(prefix + u"/drive_c/Games"_s));
    QVERIFY(QDir().rename(game->gameDir(), gameDir));

    environment_ = std::make_unique<Environment>();
    environment_->set("WINEPREFIX", QFile::encodeName(prefix));
}

void RealWineTest::cleanupTestCase()
{
    game.reset();
    if (prefix.isEmpty())
        return;
    environment_.reset();
    run(u"wineserver"_s, {u"-k"_s});
    waitForWineServer();
    // Debian's Wine leaves its server folder in /tmp, named in the prefix.
    QFile name(prefix + u"/wineserver"_s);
    if (name.open(QIODevice::ReadOnly)) {
        const QString folder = QString::fromUtf8(name.readAll()).trimmed();
        const QString tmp = qEnvironmentVariable("TMPDIR", u"/tmp"_s);
        if (folder.startsWith(u"wine-"_s) && !folder.contains('/'))
            QDir(tmp + '/' + folder).removeRecursively();
    }
}

void RealWineTest::readsWhatWineRegAddWrote()
{
    RegistryFile registry(hive);
    QCOMPARE(registry.winePrefix().value_or(QString()), prefix);
    registry.SetRootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(installKey, false));
    QCOMPARE(registry.ReadString(u"Folder"_s).value_or(u"<none>"_s), u"C:\\Games\\Ünreal"_s);
    QCOMPARE(registry.ReadString(u"VERSION"_s).value_or(u"<none>"_s), u"400"_s);

    // A newcomer starts the editor with no options and lands on the System
    // page of the installation the key names.
    const QByteArray before = readBytes(hive);
    startEditor();
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(window->state().GameDir, gameDir);
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), u"tsSystem"_s);
    QCOMPARE(game->child<QLineEdit>("eIRCNick")->text(), u"Funkenflug"_s);
    QCOMPARE(readBytes(hive), before);
    game->stop();
}

void RealWineTest::seesTheKeysA32BitProgramSees()
{
    // Each key as the editor finds it, against what Wine's tool finds in
    // either view.
    const QStringList keys{installKey,
                           u"\\Software\\Unreal Technology"_s,
                           u"\\Software\\CLASSES\\.unr"_s,
                           u"\\Software\\CLASSES\\Unreal.Map\\Shell\\open\\command"_s,
                           u"\\Software\\CLASSES\\Unreal.Map\\DefaultIcon"_s,
                           u"\\Software\\CLASSES\\Unreal.Link"_s,
                           u"\\Software\\CLASSES\\AppId\\Brennwerk.exe"_s,
                           u"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"_s,
                           u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s};
    RegistryFile registry(hive);
    QStringList seen32, seen64;
    for (const QString& key : keys) {
        registry.SetRootKey(RegistryRoot::LocalMachine);
        const bool found = registry.KeyExists(key);
        QCOMPARE(registry.OpenKey(key, false), found);
        QVERIFY2(found == wineHas(u"HKLM"_s + key, u"/reg:32"_s), qPrintable(key));
        if (found)
            seen32 << key;
        if (wineHas(u"HKLM"_s + key, u"/reg:64"_s))
            seen64 << key;
    }
    // Not all the same in the two views, or the test would show nothing.
    QCOMPARE(seen32, (QStringList{keys[0], keys[1], keys[2], keys[3], keys[6], keys[7]}));
    QCOMPARE(seen64, (QStringList{keys[5], keys[6], keys[7], keys[8]}));
    registry.SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry.OpenKey(u"\\Unreal.Map\\Shell\\open\\command"_s, false));
    QCOMPARE(registry.ReadString(QString()).value_or(u"<none>"_s), queried(u"HKCR\\Unreal.Map\\Shell\\open\\command"_s, QString()));
}

void RealWineTest::wineSeesWhatTheEditorWrote()
{
    waitForWineServer();
    const QByteArray before = readBytes(hive);
    startEditor();
    // The map registration found is written again as a whole; the module
    // and the link type (which only 64-bit programs see) are new.
    game->showPage("tsRegistry");
    QVERIFY(game->child<QCheckBox>("cbMap")->isChecked());
    QVERIFY(!game->child<QCheckBox>("cbLink")->isChecked());
    click(game->child<QCheckBox>("cbModule"));
    click(game->child<QCheckBox>("cbLink"));
    QVERIFY2(game->boxes.errors().isEmpty(), qPrintable(game->boxes.errors().join('\n')));
    game->stop();
    {
        RegistryFile registry(hive);
        registry.SetRootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(testKey, true));
        registry.WriteString(u"Zeichen"_s, oddText);
        registry.WriteString(QString(), u"Ünreal"_s);
    }

    // Only the keys written have changed; every other byte of Wine's file is
    // as Wine wrote it.
    const QByteArray after = readBytes(hive);
    // All of it where 32-bit programs have it.
    QStringList written{u"software\\wow6432node\\unreal technology\\installed apps\\unrealtournament"_s,
                        u"software\\wow6432node\\brennwerk\\zeichentest"_s};
    for (const QString& type : {u".unr"_s, u".umod"_s, u".unreal"_s})
        written << u"software\\classes\\wow6432node\\"_s + type;
    for (const QString& classKey : {u"unreal.map"_s, u"unreal.module"_s, u"unreal.link"_s})
        for (const QString& sub : {u""_s, u"\\defaulticon"_s, u"\\shell"_s, u"\\shell\\open"_s, u"\\shell\\open\\command"_s})
            written << u"software\\classes\\wow6432node\\"_s + classKey + sub;
    QCOMPARE(withoutKeys(after, written), withoutKeys(before, written));

    // What Wine's own tools see, all of it in the 32-bit view.
    const QString folder = u"C:\\Games\\Ünreal"_s;
    const QString command = folder + u"\\System\\UnrealTournament.exe \"%1\""_s;
    QCOMPARE(queried(u"HKLM"_s + installKey, u"Folder"_s), folder);
    QCOMPARE(queried(u"HKLM"_s + installKey, u"Version"_s), u"436"_s);
    QCOMPARE(queried(u"HKCR\\Unreal.Map\\Shell\\open\\command"_s, QString()), command);
    QCOMPARE(queried(u"HKLM\\Software\\Classes\\Unreal.Map\\DefaultIcon"_s, QString()), folder + u"\\Help\\Unreal.ico"_s);
    QCOMPARE(queried(u"HKCR\\.unr"_s, QString()), u"Unreal.Map"_s);
    QCOMPARE(queried(u"HKCR\\.umod"_s, QString()), u"Unreal.Module"_s);
    QCOMPARE(queried(u"HKLM\\Software\\Classes\\Unreal.Module\\Shell\\open\\command"_s, QString()),
             folder + u"\\System\\Setup.exe install \"%1\""_s);
    QCOMPARE(queried(u"HKCR\\Unreal.Link\\Shell\\open\\command"_s, QString()), command);
    QCOMPARE(queried(u"HKLM"_s + testKey, QString()), u"Ünreal"_s);
    // Nothing of it in the 64-bit view: no registration split across the two.
    for (const QString& key : {u"HKLM"_s + installKey, u"HKLM\\Software\\Classes\\.unr"_s, u"HKCR\\.umod"_s,
                               u"HKLM\\Software\\Classes\\Unreal.Map"_s, u"HKCR\\Unreal.Module"_s, u"HKLM"_s + testKey})
        QVERIFY2(!wineHas(key, u"/reg:64"_s), qPrintable(key));
    QCOMPARE(queried(u"HKCR\\Unreal.Link"_s, QString(), u"/reg:64"_s), u"64"_s);

    // Characters no console code page holds: through an export, which Wine
    // writes as UTF-16.
    wine({u"reg"_s, u"export"_s, u"HKLM"_s + testKey, u"C:\\zeichentest.reg"_s, u"/y"_s, u"/reg:32"_s});
    QStringDecoder utf16(QStringDecoder::Utf16LE);
    const QString exported = utf16(readBytes(prefix + u"/drive_c/zeichentest.reg"_s));
    QString escaped = oddText;
    escaped.replace('\\', u"\\\\"_s).replace('"', u"\\\""_s);
    QVERIFY2(exported.contains(u"\r\n\"Zeichen\"=\""_s + escaped + u"\"\r\n"_s), qPrintable(exported));

    // Wine has written the registry back in its own way since; it still
    // holds the same.
    waitForWineServer();
    QCOMPARE(valueIn(hive, RegistryRoot::LocalMachine, testKey, u"Zeichen"_s), oddText);
    QCOMPARE(valueIn(hive, RegistryRoot::ClassesRoot, u"\\Unreal.Map\\Shell\\open\\command"_s),
             folder + u"\\System\\UnrealTournament.exe \"%1\""_s);
}

void RealWineTest::refusesToWriteWhileWineRuns()
{
    const QString message = u"Wine läuft noch (wineserver für %1). Bitte beende das Spiel und alle "
                            "Wine-Programme und versuche es dann erneut."_s
                                .arg(prefix);
    // The install key as the Registry page writes it on its first show, so
    // that the page finds nothing to write while a server runs below.
    waitForWineServer();
    startEditor();
    game->showPage("tsRegistry");
    QVERIFY2(game->boxes.errors().isEmpty(), qPrintable(game->boxes.errors().join('\n')));
    game->stop();

    RegistryFile registry(hive);
    registry.SetRootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(installKey, false));

    // Debian's Wine keeps its server's folder in the TMPDIR of whoever
    // started it: two servers in turn, each with a TMPDIR that is not the
    // editor's.
    const QProcessEnvironment common = environment;
    for (const QString& tmpName : {u"tmp-a"_s, u"tmp-b"_s}) {
        waitForWineServer();
        const QString tmp = scratch.filePath(tmpName);
        QVERIFY(QDir().mkpath(tmp));
        QVERIFY(QDir(qEnvironmentVariable("TMPDIR", u"/tmp"_s)) != QDir(tmp));
        environment.insert(u"TMPDIR"_s, tmp);
        startLastingServer();
        // The running server may save the registry itself (it does every
        // half minute while it holds changes): what counts is that this
        // program writes nothing to it.
        const WriteLog writes;

        QCOMPARE(registry.ReadString(u"Folder"_s).value_or(u"<none>"_s), u"C:\\Games\\Ünreal"_s);
        QCOMPARE(failureOf([&] { registry.WriteString(u"Folder"_s, u"C:\\Anderswo"_s); }), message);

        game->boxes.clear();
        startEditor();
        QCOMPARE(window->state().GameDir, gameDir);
        // The page finds the install path as it would write it: nothing to
        // refuse, no box.
        game->showPage("tsRegistry");
        QVERIFY2(game->boxes.errors().isEmpty(), qPrintable(game->boxes.errors().join('\n')));
        QVERIFY(!game->child<QCheckBox>("cbUTPath")->isEnabled());
        game->stop();
        QCOMPARE(writes.count(), 0);

        // -k and -w find the server through the same TMPDIR.
        run(u"wineserver"_s, {u"-k"_s});
        waitForWineServer();
        environment = common;
    }

    // Once the server has gone, writing works again.
    QCOMPARE(failureOf([&] { registry.WriteString(u"Version"_s, u"436"_s); }), QString());
}

QTEST_MAIN(RealWineTest)
#include "test_realwine.moc"
