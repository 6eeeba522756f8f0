#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "support/Files.h"
#include "support/RegistryText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Every write in these tests happens at this moment: 2024-12-07 19:33:20.123 UTC.
constexpr qint64 kNow = Q_INT64_C(1733600000123);
constexpr QByteArrayView kNowSeconds = "1733600000";
constexpr QByteArrayView kNowFileTime = "1db48dedf24c4b0"; // 100 ns ticks since 1601, in hex

QString fixturePath(const QString& name)
{
    return QStringLiteral(BRENNWERK_SOURCE_DIR "/tests/data/registry/") + name;
}

// Copies a fixture into the folder, so that tests may change it.
QString place(const QTemporaryDir& dir, const QString& fixture)
{
    const QString path = dir.filePath(fixture);
    writeBytes(path, bytesOf(fixturePath(fixture)));
    return path;
}

std::unique_ptr<RegistryFile> registryAt(const QString& path)
{
    auto registry = std::make_unique<RegistryFile>(path);
    registry->setClock([] { return kNow; });
    return registry;
}

QString text(const std::optional<QString>& value)
{
    return value ? *value : u"<missing>"_s;
}

QByteArray replaced(QByteArray bytes, const QByteArray& before, const QByteArray& after)
{
    if (bytes.count(before) != 1)
        qFatal("'%s' is not once in the file", before.constData());
    return bytes.replace(before, after);
}

} // namespace

class TestRegistryFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheSampleFile();
    void classesRootIsSoftwareClasses();
    void readsWhatWineWrites();
    void refusesValuesThatAreNotText();
    void writeChangesOnlyTheValueAndItsTimeStamp();
    void writesTheMapRegistrationIntoANewFile();
    void newKeysGoWhereWineSortsThem();
    void writesTextTheWayWineEscapesIt_data();
    void writesTextTheWayWineEscapesIt();
    void keepsLineEndingsAndContinuations();
    void failedWritesLeaveTheFileAlone();
    void neverWritesAFileThatIsNotAWineRegistry();
    void seesChangesMadeByOtherPrograms();
    void survivesHostileContent();
    void continuedDataOfOtherKeysIsNoKey();
};

void TestRegistryFile::readsTheSampleFile()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    const QByteArray original = bytesOf(path);
    auto registry = registryAt(path);
    registry->SetRootKey(RegistryRoot::LocalMachine);

    QVERIFY(registry->OpenKey(installKey, false));
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"C:\\UnrealTournament"_s);
    QCOMPARE(text(registry->ReadString(u"VERSION"_s)), u"436"_s);
    QVERIFY(!registry->ReadString(u"Language"_s));
    QVERIFY(registry->ValueExists(u"folder"_s));
    QVERIFY(!registry->ValueExists(u"Language"_s));
    // The key has no default value.
    QVERIFY(!registry->ReadString(QString()));
    registry->CloseKey();
    QVERIFY(failureOf([&] { registry->ReadString(u"Folder"_s); }).contains(u"Folder"_s));

    // Key names match regardless of case; a key above a block exists too.
    QVERIFY(registry->OpenKey(u"\\SOFTWARE\\unreal technology\\INSTALLED APPS\\unrealtournament"_s, false));
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"C:\\UnrealTournament"_s);
    QVERIFY(registry->OpenKey(u"\\Software\\Unreal Technology"_s, false));
    QVERIFY(!registry->ReadString(u"Folder"_s));

    QVERIFY(!registry->OpenKey(u"\\Software\\Unreal Technology\\Installed Apps\\Unreal"_s, false));
    QVERIFY(!registry->OpenKey(u"\\Software\\Epic Games"_s, false));
    QVERIFY(!registry->KeyExists(u"\\Software\\Unreal"_s)); // a name is matched whole, not by its start
    QVERIFY(registry->KeyExists(installKey));
    // A failed open leaves no key open.
    QVERIFY(!registry->ValueExists(u"Folder"_s));

    QCOMPARE(bytesOf(path), original);
}

void TestRegistryFile::classesRootIsSoftwareClasses()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    auto registry = registryAt(path);

    registry->SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry->OpenKey(u"\\Unreal.Map\\Shell\\open\\command"_s, false));
    QCOMPARE(text(registry->ReadString(QString())), u"C:\\UnrealTournament\\System\\UnrealTournament.exe \"%1\""_s);
    QVERIFY(registry->KeyExists(u"\\UNREAL.MAP"_s));
    QVERIFY(!registry->KeyExists(u"\\.unr"_s));
    QVERIFY(!registry->KeyExists(u"\\Software\\Unreal Technology"_s));

    registry->SetRootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry->KeyExists(u"\\Software\\CLASSES\\Unreal.Map"_s));
    QVERIFY(!registry->KeyExists(u"\\Unreal.Map"_s));

    // A value written under one root is read under the other.
    QVERIFY(registry->OpenKey(u"\\Software\\CLASSES\\.unr"_s, true));
    registry->WriteString(QString(), u"Unreal.Map"_s);
    registry->SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry->OpenKey(u"\\.UNR"_s, false));
    QCOMPARE(text(registry->ReadString(QString())), u"Unreal.Map"_s);
    QVERIFY(bytesOf(path).contains("\n[Software\\\\Classes\\\\.unr] 1733600000\n"));
}

void TestRegistryFile::readsWhatWineWrites()
{
    QTemporaryDir dir;
    auto registry = registryAt(place(dir, u"wine_types.reg"_s));

    QVERIFY(registry->OpenKey(u"\\Software\\Microsoft\\Windows NT\\CurrentVersion"_s, false));
    QCOMPARE(text(registry->ReadString(u"RegisteredOwner"_s)), u"Grüße \"Tester\"\tim\nNetz"_s);
    QCOMPARE(text(registry->ReadString(u"Owner"_s)), u"Müller"_s); // hex(1): REG_SZ as bytes
    QCOMPARE(text(registry->ReadString(u"RegisteredOrganization"_s)), QString());
    QCOMPARE(text(registry->ReadString(u"CurrentBuild"_s)), u"19045"_s);

    registry->SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry->OpenKey(u"\\Unreal.Map\\DefaultIcon"_s, false));
    QCOMPARE(text(registry->ReadString(QString())), u"%ProgramFiles%\\UT\\Help\\Unreal.ico"_s); // REG_EXPAND_SZ, unexpanded
    QVERIFY(registry->OpenKey(u"\\.unr"_s, false));
    QCOMPARE(text(registry->ReadString(u"content type"_s)), u"application/x-unreal-map"_s);
}

void TestRegistryFile::refusesValuesThatAreNotText()
{
    QTemporaryDir dir;
    auto registry = registryAt(place(dir, u"wine_types.reg"_s));
    QVERIFY(registry->OpenKey(u"\\Software\\Microsoft\\Windows NT\\CurrentVersion"_s, false));

    for (const QString& name : {u"InstallDate"_s, u"DigitalProductId"_s, u"PathList"_s, u"Broken"_s}) {
        QVERIFY2(registry->ValueExists(name), qPrintable(name));
        QCOMPARE(failureOf([&] { registry->ReadString(name); }), u"Invalid data type for '%1'"_s.arg(name));
    }
}

void TestRegistryFile::writeChangesOnlyTheValueAndItsTimeStamp()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    const QByteArray original = bytesOf(path);
    auto registry = registryAt(path);

    QVERIFY(registry->OpenKey(installKey, true));
    registry->WriteString(u"FOLDER"_s, u"D:\\Spiele\\UT"_s);

    QByteArray expected = replaced(original,
                                   "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n",
                                   "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733600000\n");
    expected = replaced(expected, "#time=1db48a1c2d3e4f0\n", "#time=1db48dedf24c4b0\n");
    expected = replaced(expected, "\"Folder\"=\"C:\\\\UnrealTournament\"\n", "\"Folder\"=\"D:\\\\Spiele\\\\UT\"\n");
    QCOMPARE(bytesOf(path), expected);
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"D:\\Spiele\\UT"_s);

    // A new value goes to the end of its key; a key without "#time=" gets no such line.
    registry->SetRootKey(RegistryRoot::ClassesRoot);
    QVERIFY(registry->OpenKey(u"\\Unreal.Map\\Shell\\open\\command"_s, false));
    registry->WriteString(u"Note"_s, u"written"_s);
    expected = replaced(expected, "[Software\\\\Classes\\\\Unreal.Map\\\\Shell\\\\open\\\\command] 1733592000\n",
                        "[Software\\\\Classes\\\\Unreal.Map\\\\Shell\\\\open\\\\command] 1733600000\n");
    expected += "\"Note\"=\"written\"\n";
    QCOMPARE(bytesOf(path), expected);
}

void TestRegistryFile::writesTheMapRegistrationIntoANewFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config/brennwerk-editor/system.reg"_s);
    auto registry = registryAt(path);

    QVERIFY(!registry->OpenKey(installKey, false));
    QVERIFY(!registry->KeyExists(u"\\Software"_s));
    QVERIFY(registry->OpenKey(installKey, true));
    QVERIFY(!QFileInfo::exists(path)); // opening alone writes nothing
    registry->WriteString(u"Folder"_s, u"C:\\Games\\UT"_s);
    registry->WriteString(u"Version"_s, u"436"_s);
    registry->CloseKey();

    const QString gameDir = u"C:\\Games\\UT"_s;
    const QList<std::pair<QString, QString>> steps = {
        {u"\\.unr"_s, u"Unreal.Map"_s},
        {u"\\Unreal.Map"_s, u"Unreal Map"_s},
        {u"\\Unreal.Map\\DefaultIcon"_s, gameDir + u"\\Help\\Unreal.ico"_s},
        {u"\\Unreal.Map\\Shell"_s, u"open"_s},
        {u"\\Unreal.Map\\Shell\\open"_s, u"&Play this Unreal level"_s},
        {u"\\Unreal.Map\\Shell\\open\\command"_s, gameDir + u"\\System\\UnrealTournament.exe \"%1\""_s},
    };
    registry->SetRootKey(RegistryRoot::LocalMachine);
    for (const auto& [key, value] : steps) {
        QVERIFY(registry->OpenKey(u"\\Software\\CLASSES"_s + key, true));
        registry->WriteString(QString(), value);
    }
    const QByteArray afterMachine = bytesOf(path);
    registry->SetRootKey(RegistryRoot::ClassesRoot);
    for (const auto& [key, value] : steps) {
        QVERIFY(registry->OpenKey(key, true));
        registry->WriteString(QString(), value);
    }
    registry->CloseKey();

    QCOMPARE(bytesOf(path), afterMachine); // the same keys: nothing new under the second root
    QCOMPARE(bytesOf(path), bytesOf(fixturePath(u"map_registration.reg"_s)));
}

void TestRegistryFile::newKeysGoWhereWineSortsThem()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"wine_types.reg"_s);
    const QByteArray original = bytesOf(path);
    auto registry = registryAt(path);
    registry->SetRootKey(RegistryRoot::ClassesRoot);

    QVERIFY(registry->KeyExists(u"\\Unreal.Map"_s)); // exists above its DefaultIcon block
    QVERIFY(registry->OpenKey(u"\\unreal.map"_s, false));
    registry->WriteString(QString(), u"Unreal Map"_s);
    QVERIFY(registry->OpenKey(u"\\unreal"_s, true));
    registry->WriteString(QString(), u"Unreal Protocol"_s);
    registry->SetRootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry->OpenKey(u"\\System\\Brennwerk"_s, true));
    registry->WriteString(u"Test"_s, u"1"_s);

    // Wine's order: names compared regardless of case, a name before the
    // longer names it begins; the existing key's spelling is kept.
    const QByteArray blockHead = "] " + kNowSeconds.toByteArray() + "\n#time=" + kNowFileTime.toByteArray() + "\n";
    QByteArray expected = replaced(
        original, "[Software\\\\Classes\\\\Unreal.Map\\\\DefaultIcon]",
        "[Software\\\\Classes\\\\unreal" + blockHead + "@=\"Unreal Protocol\"\n\n"
            + "[Software\\\\Classes\\\\Unreal.Map" + blockHead + "@=\"Unreal Map\"\n\n"
            + "[Software\\\\Classes\\\\Unreal.Map\\\\DefaultIcon]");
    expected += "\n[System\\\\Brennwerk" + blockHead + "\"Test\"=\"1\"\n";
    QCOMPARE(bytesOf(path), expected);
}

void TestRegistryFile::writesTextTheWayWineEscapesIt_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line");
    // The line the value stood on before, when not the sample's.
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("command") << u"C:\\Games\\UT\\System\\UnrealTournament.exe \"%1\""_s
                             << QByteArray(R"(@="C:\\Games\\UT\\System\\UnrealTournament.exe \"%1\"")") << QByteArray();
    QTest::newRow("trailing backslash") << u"C:\\"_s << QByteArray(R"(@="C:\\")") << QByteArray();
    QTest::newRow("brackets stay plain") << u"[x] ;#@="_s << QByteArray(R"(@="[x] ;#@=")") << QByteArray();
    // Above ASCII: the UTF-16 unit in hex, four digits when a hex digit follows.
    QTest::newRow("umlaut") << u"Müller"_s << QByteArray(R"(@="M\xfcller")") << QByteArray();
    QTest::newRow("umlaut before hex digit") << u"Grüße"_s << QByteArray(R"(@="Gr\xfc\x00dfe")") << QByteArray();
    QTest::newRow("surrogate pair") << u"a😀b"_s << QByteArray(R"(@="a\xd83d\xde00b")") << QByteArray();
    QTest::newRow("control characters") << u"a\tb\nc\rd\x1b"_s << QByteArray(R"(@="a\tb\nc\rd\e")") << QByteArray();
    // Octal for the rest, three digits when an octal digit follows.
    QTest::newRow("octal") << u"\x01x\x01" "7"_s << QByteArray(R"(@="\1x\0017")") << QByteArray();

    // The text a value holds as REG_SZ already is no change, in any spelling.
    QTest::newRow("same text") << u"a"_s << QByteArray(R"(@="a")") << QByteArray(R"(@="a")");
    QTest::newRow("same text as bytes") << u"a"_s << QByteArray("@=hex(1):61,00,00,00")
                                        << QByteArray("@=hex(1):61,00,00,00");
    // Text that only reads the same becomes REG_SZ, as RegSetValueEx makes
    // it: other programs expand an expandable string, and see data after a
    // NUL.
    QTest::newRow("empty expandable string") << QString() << QByteArray(R"(@="")") << QByteArray(R"(@=str(2):"")");
    QTest::newRow("expandable string") << u"%ProgramFiles%\\UT"_s << QByteArray(R"(@="%ProgramFiles%\\UT")")
                                       << QByteArray(R"(@=str(2):"%ProgramFiles%\\UT")");
    QTest::newRow("data after a NUL") << u"a"_s << QByteArray(R"(@="a")") << QByteArray(R"(@="a\0b")");
    QTest::newRow("bytes without a NUL") << u"a"_s << QByteArray(R"(@="a")") << QByteArray("@=hex(1):61,00");
}

void TestRegistryFile::writesTextTheWayWineEscapesIt()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, stored);
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    const QByteArray sampleLine = R"(@="C:\\UnrealTournament\\System\\UnrealTournament.exe \"%1\"")";
    if (!stored.isEmpty())
        writeBytes(path, replaced(bytesOf(path), sampleLine, stored));
    const QByteArray before = bytesOf(path);
    auto registry = registryAt(path);
    registry->SetRootKey(RegistryRoot::ClassesRoot);

    QVERIFY(registry->OpenKey(u"\\Unreal.Map\\Shell\\open\\command"_s, false));
    registry->WriteString(QString(), value);
    const QByteArray expected = line == stored
        ? before
        : replaced(replaced(before, "command] 1733592000\n", "command] 1733600000\n"),
                   (stored.isEmpty() ? sampleLine : stored) + "\n", line + "\n");
    QCOMPARE(bytesOf(path), expected);
    QCOMPARE(text(registry->ReadString(QString())), value);

    // Value names are escaped the same way.
    const QString name = u"Na\"me\\"_s + value;
    registry->WriteString(name, u"v"_s);
    QCOMPARE(text(registry->ReadString(name)), u"v"_s);
}

void TestRegistryFile::keepsLineEndingsAndContinuations()
{
    QTemporaryDir dir;
    {
        const QString path = place(dir, u"wine_types.reg"_s);
        const QByteArray original = bytesOf(path);
        auto registry = registryAt(path);
        QVERIFY(registry->OpenKey(u"\\Software\\Microsoft\\Windows NT\\CurrentVersion"_s, false));

        // A new value goes after the last line of the block, unknown lines included.
        registry->WriteString(u"ProductName"_s, u"Wine"_s);
        QByteArray expected = replaced(original,
                                       "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1733592000\n"
                                       "#time=1db48cc3eb2e000\n",
                                       "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1733600000\n"
                                       "#time=1db48dedf24c4b0\n");
        expected = replaced(expected, "a line wineserver does not know\n",
                            "a line wineserver does not know\n\"ProductName\"=\"Wine\"\n");
        QCOMPARE(bytesOf(path), expected);

        // Text written over hex data replaces all of its lines.
        registry->WriteString(u"DigitalProductId"_s, u"none"_s);
        const qsizetype start = expected.indexOf("\"DigitalProductId\"=hex:");
        const qsizetype end = expected.indexOf("\"InstallDate\"");
        expected.replace(start, end - start, "\"DigitalProductId\"=\"none\"\n");
        QCOMPARE(bytesOf(path), expected);
        QCOMPARE(failureOf([&] { registry->ReadString(u"InstallDate"_s); }), u"Invalid data type for 'InstallDate'"_s);
    }
    {
        // A file with CRLF line ends keeps them, new lines included.
        const QString path = dir.filePath(u"crlf.reg"_s);
        const QByteArray original = "WINE REGISTRY Version 2\r\n;; All keys relative to \\\\Machine\r\n\r\n"
                                    "[Software\\\\A] 1\r\n\"X\"=\"1\"\r\n";
        writeBytes(path, original);
        auto registry = registryAt(path);
        QVERIFY(registry->OpenKey(u"\\Software\\A"_s, false));
        QCOMPARE(text(registry->ReadString(u"X"_s)), u"1"_s);
        registry->WriteString(u"X"_s, u"2"_s);
        registry->WriteString(u"Y"_s, u"3"_s);
        QVERIFY(registry->OpenKey(u"\\Software\\B"_s, true));
        registry->WriteString(u"Z"_s, u"4"_s);
        QCOMPARE(bytesOf(path),
                 QByteArray("WINE REGISTRY Version 2\r\n;; All keys relative to \\\\Machine\r\n\r\n"
                            "[Software\\\\A] 1733600000\r\n\"X\"=\"2\"\r\n\"Y\"=\"3\"\r\n\r\n"
                            "[Software\\\\B] 1733600000\r\n#time=1db48dedf24c4b0\r\n\"Z\"=\"4\"\r\n"));
    }
}

void TestRegistryFile::failedWritesLeaveTheFileAlone()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    const QByteArray original = bytesOf(path);
    auto registry = registryAt(path);

    // No key open.
    QCOMPARE(failureOf([&] { registry->WriteString(u"Folder"_s, u"x"_s); }), u"Failed to set data for 'Folder'"_s);
    // The file cannot hold a NUL inside a text.
    QVERIFY(registry->OpenKey(installKey, false));
    QCOMPARE(failureOf([&] { registry->WriteString(u"Folder"_s, u"a\0b"_s); }), u"Failed to set data for 'Folder'"_s);
    QCOMPARE(bytesOf(path), original);

    // Read-only file: keys do not open for writing, and a key opened before
    // the change cannot be written.
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    QCOMPARE(failureOf([&] { registry->WriteString(QString(), u"x"_s); }), u"Failed to set data for ''"_s);
    QCOMPARE(bytesOf(path), original);
    QVERIFY(!registry->OpenKey(installKey, false));
    QVERIFY(!registry->OpenKey(u"\\Software\\New"_s, true));
    QVERIFY(registry->KeyExists(installKey)); // still readable
    QVERIFY(registry->OpenKeyReadOnly(installKey));
    QVERIFY(registry->ReadString(u"Folder"_s).has_value());
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    // A key opened for reading is never written, even where the file could be.
    QCOMPARE(failureOf([&] { registry->WriteString(u"Folder"_s, u"x"_s); }), u"Failed to set data for 'Folder'"_s);
    QCOMPARE(bytesOf(path), original);

    // A folder where the file should be.
    auto misplaced = registryAt(dir.path());
    QVERIFY(!misplaced->OpenKey(installKey, true));

    // The folder of a new file cannot be made: a file took its name after the key was opened.
    auto blocked = registryAt(dir.filePath(u"sub/system.reg"_s));
    QVERIFY(blocked->OpenKey(installKey, true));
    writeBytes(dir.filePath(u"sub"_s), "not a folder");
    QCOMPARE(failureOf([&] { blocked->WriteString(u"Folder"_s, u"x"_s); }), u"Failed to set data for 'Folder'"_s);
    QCOMPARE(bytesOf(dir.filePath(u"sub"_s)), QByteArray("not a folder"));
    QVERIFY(!blocked->OpenKey(installKey, true));

    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2); // no leftovers
}

void TestRegistryFile::neverWritesAFileThatIsNotAWineRegistry()
{
    const QList<QByteArray> foreign = {
        bytesOf(fixturePath(u"regedit_export.reg"_s)),
        "WINE REGISTRY Version 1\n",
        "\xef\xbb\xbfWINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n",
        QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10),
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"system.reg"_s);
    for (const QByteArray& bytes : foreign) {
        writeBytes(path, bytes);
        auto registry = registryAt(path);
        QVERIFY(!registry->OpenKey(installKey, false));
        QVERIFY(!registry->OpenKey(installKey, true));
        QVERIFY(!registry->KeyExists(u"\\Software"_s));
        QCOMPARE(bytesOf(path), bytes);

        // Replaced by such a file after the key was opened.
        writeBytes(path, bytesOf(fixturePath(u"sample.reg"_s)));
        QVERIFY(registry->OpenKey(installKey, false));
        writeBytes(path, bytes);
        QVERIFY(!registry->ReadString(u"Folder"_s));
        QCOMPARE(failureOf([&] { registry->WriteString(u"Folder"_s, u"x"_s); }),
                 u"Failed to set data for 'Folder'"_s);
        QCOMPARE(bytesOf(path), bytes);
    }

    // An empty file holds nothing to lose: it becomes a registry.
    writeBytes(path, QByteArray());
    auto registry = registryAt(path);
    QVERIFY(!registry->OpenKey(installKey, false));
    QVERIFY(registry->OpenKey(installKey, true));
    registry->WriteString(u"Folder"_s, u"C:\\UT"_s);
    QCOMPARE(bytesOf(path),
             QByteArray("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                        "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733600000\n"
                        "#time=1db48dedf24c4b0\n\"Folder\"=\"C:\\\\UT\"\n"));
}

void TestRegistryFile::seesChangesMadeByOtherPrograms()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"sample.reg"_s);
    auto registry = registryAt(path);
    QVERIFY(registry->OpenKey(installKey, false));
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"C:\\UnrealTournament"_s);

    // Another program changes a value and adds a key.
    QByteArray changed = replaced(bytesOf(path), "\"Folder\"=\"C:\\\\UnrealTournament\"",
                                  "\"Folder\"=\"E:\\\\UT\"");
    changed += "\n[Software\\\\Other] 1700000000\n\"Kept\"=\"yes\"\n";
    writeBytes(path, changed);
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"E:\\UT"_s);
    QVERIFY(registry->KeyExists(u"\\Software\\Other"_s));

    registry->WriteString(u"Version"_s, u"451"_s);
    QByteArray expected = replaced(changed, "\"Version\"=\"436\"", "\"Version\"=\"451\"");
    expected = replaced(expected, "UnrealTournament] 1733592000", "UnrealTournament] 1733600000");
    expected = replaced(expected, "#time=1db48a1c2d3e4f0", "#time=1db48dedf24c4b0");
    QCOMPARE(bytesOf(path), expected);

    // The file removed: the open key reads nothing, and a write brings the key back.
    QVERIFY(QFile::remove(path));
    QVERIFY(!registry->ReadString(u"Folder"_s));
    QVERIFY(!registry->KeyExists(installKey));
    registry->WriteString(u"Folder"_s, u"F:\\UT"_s);
    QVERIFY(registry->KeyExists(installKey));
    QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"F:\\UT"_s);
}

void TestRegistryFile::survivesHostileContent()
{
    QTemporaryDir dir;
    const QString path = place(dir, u"hostile.reg"_s);
    const QByteArray original = bytesOf(path);
    auto registry = registryAt(path);

    QVERIFY(registry->OpenKey(u"\\Software\\Hostile"_s, false));
    QCOMPARE(text(registry->ReadString(u"Short"_s)), u"x"_s);
    QCOMPARE(text(registry->ReadString(u"Octal"_s)), u"AA2"_s);
    QCOMPARE(text(registry->ReadString(u"Spaced"_s)), u"ok"_s);
    QVERIFY(registry->ReadString(u"Raw"_s)->startsWith(u"Grüß "_s));
    // What wineserver cannot parse exists without being text.
    for (const QString& name : {u"NoEnd"_s, u"BackslashAtEnd"_s, u"Hex"_s, u"Nul"_s, u"Big"_s, u"Type"_s}) {
        QVERIFY2(registry->ValueExists(name), qPrintable(name));
        QVERIFY2(!failureOf([&] { registry->ReadString(name); }).isEmpty(), qPrintable(name));
    }
    // Values below a key line that does not parse belong to no key.
    QVERIFY(!registry->ValueExists(u"Orphan"_s));
    QVERIFY(!registry->KeyExists(u"\\Unclosed"_s));

    // Data cut off by the end of the file would take any line added after it
    // as more of itself: such a file is not written.
    QVERIFY(registry->OpenKey(u"\\Software\\Hostile\\Deep"_s, false));
    QVERIFY(registry->ValueExists(u"Dangling"_s));
    QCOMPARE(failureOf([&] { registry->WriteString(u"New"_s, u"v"_s); }), u"Failed to set data for 'New'"_s);
    QCOMPARE(bytesOf(path), original);

    // Long lines, deep keys and unfinished escapes in bulk.
    QByteArray bulk = "WINE REGISTRY Version 2\n[" + QByteArray(200000, 'k') + "] 1\n\"" + QByteArray(300000, '\\')
        + "\n[" + QByteArray("a\\\\").repeated(50000) + "] 9\n@=hex:" + QByteArray("00,").repeated(100000) + "\\\n\\\n";
    bulk += "\"x\"=\"\\x" + QByteArray(100000, 'f') + "\n[Software\\\\Bulk" + QByteArray("\\\\Wow6432Node").repeated(50000)
        + "] 9\n[Software\\\\Bulk]\n\"v\"=\"\\";
    writeBytes(path, bulk);
    QVERIFY(registry->KeyExists(u"\\a\\a\\a\\a"_s));
    QVERIFY(registry->KeyExists(u"\\Software\\Bulk\\Wow6432Node\\Wow6432Node"_s));
    QVERIFY(!registry->KeyExists(u"\\Software\\Bulk\\Wow6432Node\\a"_s));
    QVERIFY(registry->OpenKey(u"\\Software\\Bulk"_s, false));
    QVERIFY(registry->ValueExists(u"v"_s));
    registry->WriteString(u"w"_s, u"1"_s);
    QCOMPARE(text(registry->ReadString(u"w"_s)), u"1"_s);
    QCOMPARE(bytesOf(path), replaced(bulk, "[Software\\\\Bulk]\n", "[Software\\\\Bulk] 1733600000\n")
                                + "\n\n\"w\"=\"1\"\n");
}

void TestRegistryFile::continuedDataOfOtherKeysIsNoKey()
{
    // Hex data ending in a backslash goes on over the next line whatever it
    // holds, in keys that are not looked up as well: the install-path "key"
    // below is data of the key above it, and "Folder" is that key's value.
    // Names with escaped quotes and "@" must not throw the reading off.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"continued.reg"_s);
    for (const QByteArray& valueName : {QByteArray("\"na\\\"me\""), QByteArray("\"a\\\\\""), QByteArray("@")}) {
        const QByteArray file = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                                "[Software\\\\Other] 1733592000\n"
            + valueName + "=hex:01,02,\\\n"
                          "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"
                          "\"Folder\"=\"C:\\\\Fake\"\n";
        writeBytes(path, file);
        auto registry = registryAt(path);
        QVERIFY2(!registry->KeyExists(installKey), valueName.constData());
        QVERIFY(!registry->OpenKey(installKey, false));
        QVERIFY(registry->OpenKey(u"\\Software\\Other"_s, false));
        QCOMPARE(text(registry->ReadString(u"Folder"_s)), u"C:\\Fake"_s);
    }
}

QTEST_GUILESS_MAIN(TestRegistryFile)
#include "test_registryfile.moc"
