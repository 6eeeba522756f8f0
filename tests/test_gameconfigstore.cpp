#include "config/GameConfigStore.h"
#include "config/IniNumbers.h"
#include "platform/EditorError.h"
#include "support/Files.h"
#include "support/GameFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

using namespace Qt::StringLiterals;

namespace {

QByteArray fixture(const QString& name)
{
    return sourceBytes(u"tests/data/ini/"_s + name);
}

// A byte string literal with its NUL bytes.
template <qsizetype N>
QByteArray raw(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}

QString writeError(GameConfigStore& store, const QString& section, const QString& key, const QString& value)
{
    return failureOf([&] { store.WriteString(section, key, value); });
}

} // namespace

class TestGameConfigStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name = u"user.ini"_s) const { return dir_.filePath(name); }
    // A fresh copy of a fixture in the temporary folder.
    QString copy(const QString& fixtureName)
    {
        const QString target = path(fixtureName);
        QFile::remove(target);
        writeBytes(target, fixture(fixtureName));
        return target;
    }

private Q_SLOTS:
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup()
    {
        QDir folder(dir_.path());
        for (const QFileInfo& entry : folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden)) {
            if (entry.isDir() && !entry.isSymLink()) {
                QDir(entry.filePath()).removeRecursively();
                continue;
            }
            QFile::setPermissions(entry.filePath(), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(entry.filePath());
        }
    }

    // ---- reading -------------------------------------------------------

    void readMissingGivesDefault()
    {
        const GameConfigStore nofile(path(u"nothing.ini"_s));
        QCOMPARE(nofile.ReadString(u"URL"_s, u"Port"_s, u"Eintrag nicht gefunden!"_s), u"Eintrag nicht gefunden!"_s);
        QVERIFY(!QFileInfo::exists(path(u"nothing.ini"_s))); // reading creates nothing

        const GameConfigStore store(copy(u"lf.ini"_s));
        QCOMPARE(store.ReadString(u"NoSuchSection"_s, u"Name"_s, u"nicht vorhanden!"_s), u"nicht vorhanden!"_s);
        QCOMPARE(store.ReadString(u"DefaultPlayer"_s, u"NoSuchKey"_s, u"x"_s), u"x"_s);
        // The comment line before the first section is no key either.
        QCOMPARE(store.ReadString(u"DefaultPlayer"_s, u"; written by hand on Linux"_s, u"x"_s), u"x"_s);
    }

    void readSyntax_data()
    {
        QTest::addColumn<QString>("fixtureName");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString notFound = u"<default>"_s;
        auto row = [](const char* name, const char* file, const QString& s, const QString& k, const QString& v) {
            QTest::newRow(name) << QString::fromLatin1(file) << s << k << v;
        };
        row("names ignore ASCII case", "syntax.ini", u"ENGINE.gameengine"_s, u"cachesizemegs"_s, u"16"_s);
        row("brackets and = in key and value", "syntax.ini", u"Engine.GameEngine"_s, u"Aliases[12]"_s,
            u"(Command=\"Say Hi\",Alias=Hi)"_s);
        row("commented key is no key", "syntax.ini", u"Engine.GameEngine"_s, u";CacheSizeMegs"_s, notFound);
        row("key before any section", "syntax.ini", QString(), u"Orphan"_s, notFound);
        row("[ without ] opens a section to the line's end", "syntax.ini", u"Broken"_s, u"Key"_s, u"in broken"_s);
        row("text after ] is ignored", "syntax.ini", u"Trailing"_s, u"Key"_s, u"in trailing"_s);
        row("blanks around name, = and value", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s,
            u"ServerName"_s, u"My Server"_s);
        row("tabs and double quotes", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s,
            u"ShortName"_s, u"UT Server"_s);
        row("single quotes", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s, u"MOTDLine1"_s,
            u"Welcome"_s);
        row("one quote stays", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s, u"MOTDLine2"_s,
            u"\"Half quoted"_s);
        row("a lone quote stays", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s, u"MOTDLine3"_s,
            u"\""_s);
        row("empty value is no default", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s,
            u"AdminName"_s, QString(u""_s));
        row("blank value is empty", "spacing_and_quotes.ini", u"Engine.GameReplicationInfo"_s, u"AdminEmail"_s,
            QString(u""_s));
        row("first duplicate key wins", "duplicate_keys.ini", u"Engine.GameEngine"_s, u"ServerPackages"_s,
            u"SoldierSkins"_s);
        row("first duplicate section wins", "duplicate_keys.ini", u"Engine.GameEngine"_s, u"CacheSizeMegs"_s,
            u"4"_s);
        row("CR LF, unterminated last line", "crlf_no_final_newline.ini", u"URL"_s, u"LocalMap"_s,
            u"CityIntro.unr"_s);
        row("mixed endings: after LF", "mixed_line_endings.ini", u"A"_s, u"Two"_s, u"2"_s);
        row("mixed endings: after lone CR", "mixed_line_endings.ini", u"A"_s, u"Three"_s, u"3"_s);
        row("mixed endings: last line", "mixed_line_endings.ini", u"B"_s, u"Four"_s, u"4"_s);
        row("CR only", "cr_only.ini", u"Old.Mac"_s, u"Second"_s, u"2"_s);
        row("UTF-8 after a BOM", "bom.ini", u"DefaultPlayer"_s, u"Name"_s, u"Jürgen"_s);
        row("Windows-1252", "windows1252.ini", u"DefaultPlayer"_s, u"Name"_s,
            u"Mädchen € \u0081ÿ"_s);
        row("NUL ends a value", "nul_bytes.ini", u"A"_s, u"Key"_s, u"be"_s);
        row("NUL bytes do not hide later keys", "nul_bytes.ini", u"A"_s, u"After"_s, u"ok"_s);
    }

    void readSyntax()
    {
        QFETCH(QString, fixtureName);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const GameConfigStore store(copy(fixtureName));
        const QString value = store.ReadString(section, key, u"<default>"_s);
        QCOMPARE(value, expected);
    }

    void readHostileContent()
    {
        // One 1 MB line without a line break, then a key: still found, cut to 2047.
        QByteArray big = "[A]\r\nHuge=" + QByteArray(1 << 20, 'v') + "\r\n" + QByteArray(1 << 20, '[')
            + "\r\n[B]\nAfter=1";
        writeBytes(path(), big);
        const GameConfigStore store(path());
        QCOMPARE(store.ReadString(u"A"_s, u"Huge"_s, {}), QString(2047, u'v'));
        QCOMPARE(store.ReadString(u"B"_s, u"After"_s, {}), u"1"_s);

        // Arbitrary bytes: any answer is fine as long as it returns.
        QByteArray noise;
        quint32 seed = 12345;
        for (int i = 0; i < 200000; ++i) {
            seed = seed * 1103515245u + 12345u;
            noise.append(static_cast<char>(seed >> 24));
        }
        writeBytes(path(), noise);
        store.ReadString(u"A"_s, u"B"_s, {});

        // UTF-16 is not understood: defaults, and no write that would corrupt it.
        const QByteArray utf16 = raw("\xFF\xFE[\0A\0]\0\r\0\n\0K\0=\0""1\0");
        writeBytes(path(), utf16);
        GameConfigStore writable(path());
        QCOMPARE(writable.ReadString(u"A"_s, u"K"_s, u"d"_s), u"d"_s);
        QVERIFY(writeError(writable, u"A"_s, u"K"_s, u"2"_s).contains(u"UTF-16"_s));
        QCOMPARE(bytesOf(path()), utf16);
    }

    void readCutsAt2047Characters()
    {
        GameConfigStore store(path());
        const QString exact(2047, u'a');
        store.WriteString(u"S"_s, u"Exact"_s, exact);
        store.WriteString(u"S"_s, u"Long"_s, QString(2047, u'b') + u"cdef"_s);
        QCOMPARE(store.ReadString(u"S"_s, u"Exact"_s, {}), exact);
        QCOMPARE(store.ReadString(u"S"_s, u"Long"_s, {}), QString(2047, u'b'));
        // The whole value is on disk; only the read is cut.
        QVERIFY(bytesOf(path()).contains(QByteArray(2047, 'b') + "cdef\r\n"));
        // In UTF-8, 2047 characters take up to three bytes each; a character
        // of two UTF-16 units that the cut would halve goes whole.
        QByteArray euros;
        for (int i = 0; i < 2046; ++i)
            euros += "\xE2\x82\xAC";
        writeBytes(path(), "\xEF\xBB\xBF[S]\r\nEuro=" + euros + "\xF0\x9F\x98\x80" + euros + "\r\n");
        QCOMPARE(store.ReadString(u"S"_s, u"Euro"_s, {}), QString(2046, QChar(0x20AC)));
    }

    void eachCallReadsTheFileAfresh()
    {
        GameConfigStore store(path());
        store.WriteString(u"S"_s, u"A"_s, u"1"_s);
        QCOMPARE(store.ReadString(u"S"_s, u"A"_s, {}), u"1"_s);
        // Another program (the game) rewrites the file between two calls.
        writeBytes(path(), "[S]\r\nA=2\r\nFromGame=yes\r\n");
        QCOMPARE(store.ReadString(u"S"_s, u"A"_s, {}), u"2"_s);
        store.WriteString(u"S"_s, u"B"_s, u"3"_s);
        QCOMPARE(bytesOf(path()), QByteArray("[S]\r\nA=2\r\nFromGame=yes\r\nB=3\r\n"));
    }

    // ---- numbers ---------------------------------------------------------

    void readInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        // The same text through the decimal-only reading the pages' digit
        // fields use: no hexadecimal, no blanks.
        QTest::addColumn<int>("decimal");
        const int def = 255;
        QTest::newRow("decimal") << u"31"_s << 31 << 31;
        QTest::newRow("$") << u"$1F"_s << 31 << def;
        QTest::newRow("0x") << u"0x1F"_s << 31 << def;
        QTest::newRow("0X") << u"0X1f"_s << 31 << def;
        QTest::newRow("x") << u"x1F"_s << 31 << def;
        QTest::newRow("X") << u"Xff"_s << 255 << def;
        QTest::newRow("negative") << u"-5"_s << -5 << -5;
        QTest::newRow("plus") << u"+7"_s << 7 << 7;
        QTest::newRow("leading zeros") << u"0042"_s << 42 << 42;
        QTest::newRow("zero") << u"0"_s << 0 << 0;
        QTest::newRow("max") << u"2147483647"_s << INT_MAX << INT_MAX;
        QTest::newRow("min") << u"-2147483648"_s << INT_MIN << INT_MIN;
        QTest::newRow("above max") << u"2147483648"_s << def << def;
        QTest::newRow("below min") << u"-2147483649"_s << def << def;
        QTest::newRow("8 hex digits, high bit") << u"$80000000"_s << INT_MIN << def;
        QTest::newRow("8 hex digits, all set") << u"0xFFFFFFFF"_s << -1 << def;
        QTest::newRow("9 hex digits") << u"$0000000FF"_s << def << def;
        QTest::newRow("signed hex") << u"-$1F"_s << def << def;
        QTest::newRow("0x alone") << u"0x"_s << def << def;
        QTest::newRow("$ alone") << u"$"_s << def << def;
        QTest::newRow("sign alone") << u"-"_s << def << def;
        QTest::newRow("word") << u"True"_s << def << def;
        QTest::newRow("fraction") << u"1.5"_s << def << def;
        QTest::newRow("trailing letters") << u"12abc"_s << def << def;
        QTest::newRow("quoted leading blank skipped") << u"\" 12\""_s << 12 << def;
        QTest::newRow("quoted trailing blank fails") << u"\"12 \""_s << def << def;
        QTest::newRow("empty") << QString() << def << def;
        QTest::newRow("non-ASCII digit") << u"\u0663"_s << def << def;
    }

    void readInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(int, decimal);
        // Raw bytes, so that quoted texts stay exactly as given; UTF-8 for the non-ASCII digit.
        writeBytes(path(), "\xEF\xBB\xBF[DefaultPlayer]\r\nTeam=" + text.toUtf8() + "\r\n");
        const GameConfigStore store(path());
        QCOMPARE(store.ReadInteger(u"DefaultPlayer"_s, u"Team"_s, 255), expected);
        QCOMPARE(IniNumbers::decimalToInt32(store.ReadString(u"DefaultPlayer"_s, u"Team"_s, QString())).value_or(255),
                 decimal);
    }

    void readBoolAndWriteInteger()
    {
        writeBytes(path(), "[D3D]\r\nOne=1\r\nTwo=2\r\nZero=0\r\nMinus=-3\r\nWord=True\r\n");
        GameConfigStore store(path());
        QCOMPARE(store.ReadBool(u"D3D"_s, u"One"_s, false), true);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Two"_s, false), true);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Minus"_s, false), true);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Zero"_s, true), false);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Word"_s, false), false);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Word"_s, true), true);
        QCOMPARE(store.ReadBool(u"D3D"_s, u"Missing"_s, true), true);
        QCOMPARE(store.ReadInteger(u"D3D"_s, u"Missing"_s, 255), 255);

        store.WriteInteger(u"DefaultPlayer"_s, u"Team"_s, 255);
        store.WriteInteger(u"DefaultPlayer"_s, u"Minus"_s, -1);
        store.WriteInteger(u"DefaultPlayer"_s, u"Min"_s, INT_MIN);
        QVERIFY(bytesOf(path()).endsWith("\r\n[DefaultPlayer]\r\nTeam=255\r\nMinus=-1\r\nMin=-2147483648\r\n"));
    }

    // ---- reading again: the kept parse never outlives the bytes ----------

    // A read after another program, or another store of this one, changed
    // the file gives the new value, however little the change left to see:
    // the same size, the same tick of the file clock, the old modification
    // time put back, a new file renamed over the old.
    void readAfterAnotherWriter_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("settle"); // the first read long after the file's last change
        QTest::addColumn<QString>("expected");
        for (const bool settle : {false, true}) {
            const char* when = settle ? ", read settled" : ", same tick";
            QTest::addRow("in place, same size%s", when) << u"in place"_s << settle << u"bbbb"_s;
            QTest::addRow("in place, same size, times put back%s", when) << u"times back"_s << settle << u"bbbb"_s;
            QTest::addRow("renamed over, same size%s", when) << u"rename"_s << settle << u"bbbb"_s;
            QTest::addRow("another store object%s", when) << u"other store"_s << settle << u"bbbb"_s;
            QTest::addRow("after this store's write, in place%s", when) << u"after own write"_s << settle
                                                                        << u"dddd"_s;
            QTest::addRow("removed%s", when) << u"remove"_s << settle << u"<d>"_s;
        }
    }

    void readAfterAnotherWriter()
    {
        QFETCH(QString, change);
        QFETCH(bool, settle);
        QFETCH(QString, expected);
        const QByteArray before = "[S]\r\nK=aaaa\r\n";
        const QByteArray after = "[S]\r\nK=bbbb\r\n";
        writeBytes(path(), before);
        GameConfigStore store(path());
        const auto overwriteInPlace = [&](const QByteArray& bytes, bool timesBack) {
            struct stat old {};
            QCOMPARE(::stat(QFile::encodeName(path()).constData(), &old), 0);
            const int fd = ::open(QFile::encodeName(path()).constData(), O_WRONLY);
            QVERIFY(fd >= 0);
            QCOMPARE(::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0), ssize_t(bytes.size()));
            if (timesBack) {
                const timespec times[2] = {old.st_atim, old.st_mtim};
                QCOMPARE(::futimens(fd, times), 0);
            }
            ::close(fd);
        };
        if (change == u"after own write")
            store.WriteString(u"S"_s, u"K"_s, u"cccc"_s); // its bytes are what the store keeps now
        if (settle)
            QThread::msleep(60); // many ticks of the file clock
        QCOMPARE(store.ReadString(u"S"_s, u"K"_s, u"<d>"_s), change == u"after own write" ? u"cccc"_s : u"aaaa"_s);
        QCOMPARE(store.ReadString(u"S"_s, u"K"_s, u"<d>"_s), change == u"after own write" ? u"cccc"_s : u"aaaa"_s);
        if (change == u"in place") {
            overwriteInPlace(after, false);
        } else if (change == u"times back") {
            overwriteInPlace(after, true);
        } else if (change == u"rename") {
            writeBytes(path(u"new.ini"_s), after);
            QCOMPARE(::rename(QFile::encodeName(path(u"new.ini"_s)).constData(), QFile::encodeName(path()).constData()),
                     0);
        } else if (change == u"other store") {
            GameConfigStore(path()).WriteString(u"S"_s, u"K"_s, u"bbbb"_s);
        } else if (change == u"after own write") {
            overwriteInPlace("[S]\r\nK=dddd\r\n", true);
        } else {
            QVERIFY(QFile::remove(path()));
        }
        QCOMPARE(store.ReadString(u"S"_s, u"K"_s, u"<d>"_s), expected);
        QCOMPARE(store.Sections(), expected == u"<d>"_s ? QStringList() : QStringList{u"S"_s});
    }

    // ---- writing: only the key's own line changes ------------------------

    void writeChangesOnlyItsLine_data()
    {
        QTest::addColumn<QString>("fixtureName");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("CR LF, first key") << u"crlf_no_final_newline.ini"_s << u"Engine.GameEngine"_s
            << u"CacheSizeMegs"_s << u"32"_s
            << QByteArray("[Engine.GameEngine]\r\nCacheSizeMegs=32\r\nUseSound=True\r\n\r\n[URL]\r\n"
                          "Protocol=unreal\r\nLocalMap=CityIntro.unr");
        QTest::newRow("unterminated last line stays unterminated") << u"crlf_no_final_newline.ini"_s << u"URL"_s
            << u"LocalMap"_s << u"UT-Logo-Map.unr"_s
            << QByteArray("[Engine.GameEngine]\r\nCacheSizeMegs=4\r\nUseSound=True\r\n\r\n[URL]\r\n"
                          "Protocol=unreal\r\nLocalMap=UT-Logo-Map.unr");
        QTest::newRow("LF") << u"lf.ini"_s << u"DefaultPlayer"_s << u"Name"_s << u"Brennwerk"_s
            << QByteArray("; written by hand on Linux\n[DefaultPlayer]\nName=Brennwerk\nTeam=1\n\n"
                          "[Engine.PlayerPawn]\nDesiredFOV=90\n");
        QTest::newRow("mixed, LF line") << u"mixed_line_endings.ini"_s << u"A"_s << u"Two"_s << u"22"_s
            << QByteArray("[A]\r\nOne=1\nTwo=22\rThree=3\r\n[B]\nFour=4\r");
        QTest::newRow("mixed, lone CR line") << u"mixed_line_endings.ini"_s << u"B"_s << u"Four"_s << u""_s
            << QByteArray("[A]\r\nOne=1\nTwo=2\rThree=3\r\n[B]\nFour=\r");
        QTest::newRow("CR only") << u"cr_only.ini"_s << u"Old.Mac"_s << u"First"_s << u"one"_s
            << QByteArray("[Old.Mac]\rFirst=one\rSecond=2\r");
        QTest::newRow("BOM kept, UTF-8 written") << u"bom.ini"_s << u"DefaultPlayer"_s << u"Name"_s
            << u"Zoë ā"_s
            << QByteArray("\xEF\xBB\xBF[DefaultPlayer]\r\nName=Zo\xC3\xAB \xC4\x81\r\nTeam=0\r\n");
        QTest::newRow("first duplicate only, spelling kept") << u"duplicate_keys.ini"_s
            << u"ENGINE.GAMEENGINE"_s << u"serverpackages"_s << u"Botpack"_s
            << QByteArray("[Engine.GameEngine]\r\nServerPackages=Botpack\r\nServerPackages=CommandoSkins\r\n"
                          "serverpackages=FCommandoSkins\r\nCacheSizeMegs=4\r\n\r\n[URL]\r\nPort=7777\r\n\r\n"
                          "[engine.gameengine]\r\nCacheSizeMegs=64\r\nServerPackages=Botpack\r\n");
        QTest::newRow("spacing before the value kept, blanks after it dropped")
            << u"spacing_and_quotes.ini"_s << u"Engine.GameReplicationInfo"_s << u"ServerName"_s
            << u"Brennwerk Server"_s
            << QByteArray("[Engine.GameReplicationInfo]\r\n  ServerName = Brennwerk Server\r\n"
                          "\tShortName\t=\t\"UT Server\"\t\r\nMOTDLine1='Welcome'\r\nMOTDLine2=\"Half quoted\r\n"
                          "MOTDLine3=\"\r\nAdminName=\r\nAdminEmail = \r\n");
        QTest::newRow("quoted value keeps its quotes")
            << u"spacing_and_quotes.ini"_s << u"Engine.GameReplicationInfo"_s << u"MOTDLine1"_s << u"Hi"_s
            << QByteArray("[Engine.GameReplicationInfo]\r\n  ServerName = My Server  \r\n"
                          "\tShortName\t=\t\"UT Server\"\t\r\nMOTDLine1='Hi'\r\nMOTDLine2=\"Half quoted\r\n"
                          "MOTDLine3=\"\r\nAdminName=\r\nAdminEmail = \r\n");
        QTest::newRow("quoted value: what stands around the quotes stays")
            << u"spacing_and_quotes.ini"_s << u"Engine.GameReplicationInfo"_s << u"ShortName"_s << u" X"_s
            << QByteArray("[Engine.GameReplicationInfo]\r\n  ServerName = My Server  \r\n"
                          "\tShortName\t=\t\" X\"\t\r\nMOTDLine1='Welcome'\r\nMOTDLine2=\"Half quoted\r\n"
                          "MOTDLine3=\"\r\nAdminName=\r\nAdminEmail = \r\n");
        // A value that brings its own pair is written as given: setting it
        // again changes nothing.
        QTest::newRow("quoted value, a new one with its own quotes")
            << u"spacing_and_quotes.ini"_s << u"Engine.GameReplicationInfo"_s << u"ShortName"_s << u"\"My Server\""_s
            << QByteArray("[Engine.GameReplicationInfo]\r\n  ServerName = My Server  \r\n"
                          "\tShortName\t=\t\"My Server\"\t\r\nMOTDLine1='Welcome'\r\nMOTDLine2=\"Half quoted\r\n"
                          "MOTDLine3=\"\r\nAdminName=\r\nAdminEmail = \r\n");
        QTest::newRow("empty value filled after its blank")
            << u"spacing_and_quotes.ini"_s << u"Engine.GameReplicationInfo"_s << u"AdminEmail"_s << u"a@b.de"_s
            << QByteArray("[Engine.GameReplicationInfo]\r\n  ServerName = My Server  \r\n"
                          "\tShortName\t=\t\"UT Server\"\t\r\nMOTDLine1='Welcome'\r\nMOTDLine2=\"Half quoted\r\n"
                          "MOTDLine3=\"\r\nAdminName=\r\nAdminEmail = a@b.de\r\n");
        // The value a read gives is no change: blanks and quotes stay.
        QTest::newRow("value held, blanks around it kept") << u"spacing_and_quotes.ini"_s
            << u"Engine.GameReplicationInfo"_s << u"ServerName"_s << u"My Server"_s
            << fixture(u"spacing_and_quotes.ini"_s);
        QTest::newRow("value held, quotes and tabs kept") << u"spacing_and_quotes.ini"_s
            << u"Engine.GameReplicationInfo"_s << u"ShortName"_s << u"UT Server"_s
            << fixture(u"spacing_and_quotes.ini"_s);
        QTest::newRow("NUL bytes elsewhere kept") << u"nul_bytes.ini"_s << u"A"_s << u"After"_s << u"fine"_s
            << raw("[A]\r\nKey=be\0fore\r\nGarbage\0=x\r\n\0\0\0\r\nAfter=fine\r\n");
    }

    void writeChangesOnlyItsLine()
    {
        QFETCH(QString, fixtureName);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);
        GameConfigStore store(copy(fixtureName));
        store.WriteString(section, key, value);
        QCOMPARE(bytesOf(store.path()), expected);
        // A value in its own quotes reads without them; written again, it
        // changes nothing.
        const bool quoted = value.size() >= 2 && value.front() == u'"' && value.back() == u'"';
        QCOMPARE(store.ReadString(section, key, u"<default>"_s), quoted ? value.mid(1, value.size() - 2) : value);
        store.WriteString(section, key, value);
        QCOMPARE(bytesOf(store.path()), expected);
    }

    void blanksDoNotPileUpWhileTyping()
    {
        // A field written on every keystroke: "neu ", "neu 4", "neu 42".
        writeBytes(path(), "[S]\r\nK = alt\r\nL=1\r\n");
        GameConfigStore store(path());
        for (const QString& typed : {u"n"_s, u"neu "_s, u"neu 4"_s, u"neu 42"_s, u" x"_s, u" xy"_s, u"z"_s})
            store.WriteString(u"S"_s, u"K"_s, typed);
        QCOMPARE(bytesOf(path()), QByteArray("[S]\r\nK = z\r\nL=1\r\n"));
        store.WriteString(u"S"_s, u"K"_s, u" lead"_s);
        store.WriteString(u"S"_s, u"K"_s, u" lead2"_s);
        QCOMPARE(bytesOf(path()), QByteArray("[S]\r\nK = lead2\r\nL=1\r\n"));
    }

    void valuesAreWrittenVerbatim()
    {
        // As the Windows functions do: nothing is added, so the game reads
        // the text as typed. Reading back strips blanks and a pair of quotes.
        GameConfigStore store(path());
        const QStringList values{u" padded "_s, u"\"quoted\""_s, u"'single'"_s, u"\t"_s, u""_s, u"\"half"_s};
        for (const QString& value : values)
            store.WriteString(u"S"_s, u"K"_s + QString::number(values.indexOf(value)), value);
        QCOMPARE(bytesOf(path()),
                 QByteArray("[S]\r\nK0= padded \r\nK1=\"quoted\"\r\nK2='single'\r\nK3=\t\r\n"
                            "K4=\r\nK5=\"half\r\n"));
        const QStringList readBack{u"padded"_s, u"quoted"_s, u"single"_s, u""_s, u""_s, u"\"half"_s};
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(store.ReadString(u"S"_s, u"K"_s + QString::number(i), u"<d>"_s), readBack[i]);
    }

    // ---- lists of repeated keys: several edits in one write -----------------

    void editLists_data()
    {
        QTest::addColumn<QByteArray>("before"); // "<none>": no file
        QTest::addColumn<QStringList>("edits"); // kind, section, key, value; kind: set first add remove unset
        QTest::addColumn<bool>("create");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("error"); // %1: the file; the file is then unchanged
        auto row = [](const char* name, const QByteArray& before, const QStringList& edits, bool create,
                      const QByteArray& expected, const QString& error = {}) {
            QTest::newRow(name) << before << edits << create << expected << error;
        };
        row("add: after the key's last line, other keys between", "[S]\nP=a\nX=1\nP=b\nY=2\n",
            {u"add"_s, u"S"_s, u"P"_s, u"c"_s}, false, "[S]\nP=a\nX=1\nP=b\nP=c\nY=2\n");
        row("remove and add back at an unterminated end", "[S]\r\nP=a\r\nP=b",
            {u"remove"_s, u"S"_s, u"P"_s, u"B"_s, u"add"_s, u"S"_s, u"P"_s, u"b"_s}, false, "[S]\r\nP=a\r\nP=b");
        row("remove a section's only line at an unterminated end and add it back", "[S]\nX=1\n[T]\nP=a",
            {u"remove"_s, u"T"_s, u"P"_s, u"a"_s, u"add"_s, u"T"_s, u"P"_s, u"a"_s}, false, "[S]\nX=1\n[T]\nP=a");
        row("remove the unterminated last line after a blank one: the blank line stays", "[S]\nP=a\r\n\r\nP=b",
            {u"remove"_s, u"S"_s, u"P"_s, u"b"_s}, false, "[S]\nP=a\r\n\r\n");
        row("only the first section of a name", "[S]\nP=a\n[T]\nP=x\n[s]\nP=b\n",
            {u"unset"_s, u"S"_s, u"P"_s, u""_s, u"add"_s, u"s"_s, u"P"_s, u"b"_s}, false,
            "[S]\nP=b\n[T]\nP=x\n[s]\nP=b\n");
        row("values compared as read: blanks, quotes, ASCII case", "[S]\nP = \"MyMod\" \nP=Other\n",
            {u"add"_s, u"S"_s, u"P"_s, u" OTHER"_s, u"remove"_s, u"S"_s, u"P"_s, u"'mymod'"_s}, false,
            "[S]\nP=Other\n");
        row("UTF-8 after a BOM: only ASCII letters fold", "\xEF\xBB\xBF[S]\nP=J\xC3\xBCrgen\n",
            {u"remove"_s, u"S"_s, u"P"_s, u"JÜRGEN"_s, u"add"_s, u"S"_s, u"P"_s, u"Zoë"_s}, false,
            "\xEF\xBB\xBF[S]\nP=J\xC3\xBCrgen\nP=Zo\xC3\xAB\n");
        row("set --first: the first of several lines", "[S]\nP=a\nP=b\n", {u"first"_s, u"S"_s, u"P"_s, u"c"_s},
            false, "[S]\nP=c\nP=b\n");
        row("set: a key of several lines is refused", "[S]\nP=a\nP=b\n", {u"set"_s, u"S"_s, u"P"_s, u"a"_s}, false,
            {}, u"[S] P has 2 lines in %1"_s);
        row("a section that is not there", "[S]\nP=a\n", {u"add"_s, u"T"_s, u"P"_s, u"x"_s}, false, {},
            u"There is no section [T] in %1"_s);
        row("--create: a new section; nothing to remove where there is none", "[S]\nP=a\n",
            {u"add"_s, u"T"_s, u"P"_s, u"x"_s, u"remove"_s, u"U"_s, u"P"_s, u"x"_s}, true, "[S]\nP=a\n\n[T]\nP=x\n");
        row("all or nothing: a later edit refused", "[S]\nP=a\n",
            {u"add"_s, u"S"_s, u"P"_s, u"b"_s, u"set"_s, u"S"_s, u"Q"_s, u"雪"_s}, false, {},
            u"The value for [S] Q contains the character \"雪\" (U+96EA), which cannot be stored in %1 "
            "(Windows-1252 text)"_s);
        row("one key edited again and again, each edit on what the one before left", "[S]\r\nP=a\r\nQ=\"q\"\r\n",
            {u"first"_s, u"S"_s, u"P"_s, u"x"_s, u"first"_s, u"S"_s, u"P"_s, u"y"_s, u"add"_s, u"S"_s, u"P"_s, u"z"_s,
             u"add"_s, u"S"_s, u"P"_s, u"Z"_s, u"remove"_s, u"S"_s, u"P"_s, u"y"_s, u"set"_s, u"S"_s, u"Q"_s, u"r"_s,
             u"set"_s, u"S"_s, u"Q"_s, u"'s'"_s, u"unset"_s, u"S"_s, u"P"_s, u""_s, u"add"_s, u"S"_s, u"P"_s, u"a"_s},
            false, "[S]\r\nQ='s'\r\nP=a\r\n");
        row("--create: edits in a section an edit before made, the file ending without a line break", "[S]\nP=a",
            {u"add"_s, u"T"_s, u"P"_s, u"x"_s, u"add"_s, u"S"_s, u"P"_s, u"b"_s, u"set"_s, u"T"_s, u"Q"_s, u"y"_s,
             u"unset"_s, u"T"_s, u"P"_s, u""_s},
            true, "[S]\nP=a\nP=b\n\n[T]\nQ=y\n");
        row("a file that does not exist", "<none>", {u"add"_s, u"S"_s, u"P"_s, u"a"_s}, false, {},
            u"%1 does not exist"_s);
        row("--create: a file that does not exist", "<none>", {u"add"_s, u"S"_s, u"P"_s, u"a"_s}, true,
            "[S]\r\nP=a\r\n");
    }

    void editLists()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, edits);
        QFETCH(bool, create);
        QFETCH(QByteArray, expected);
        QFETCH(QString, error);
        const QMap<QString, IniEdit::Kind> kinds{{u"set"_s, IniEdit::Kind::Set}, {u"first"_s, IniEdit::Kind::SetFirst},
                                                 {u"add"_s, IniEdit::Kind::Add}, {u"remove"_s, IniEdit::Kind::Remove},
                                                 {u"unset"_s, IniEdit::Kind::Unset}};
        QList<IniEdit> list;
        for (qsizetype i = 0; i + 3 < edits.size(); i += 4)
            list.append({kinds.value(edits[i]), edits[i + 1], edits[i + 2], edits[i + 3]});
        if (before != "<none>")
            writeBytes(path(), before);
        GameConfigStore store(path());
        GameConfigStore::Change change;
        QCOMPARE(failureOf([&] { change = store.Edit(list, create); }), error.isEmpty() ? QString() : error.arg(path()));
        QCOMPARE(bytesOf(path()), error.isEmpty() ? expected : before == "<none>" ? "<unreadable>" : before);
        if (error.isEmpty())
            QCOMPARE(change.after, expected);
    }

    // ---- writing: where new keys and sections go ---------------------------

    void writeNewKey_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("after the last key, not after comments and blanks")
            << fixture(u"comments_after_keys.ini"_s) << u"Engine.Input"_s
            << QByteArray("[Engine.Input]\r\nF1=Help\r\nF2=\r\nNew=v\r\n; the game adds more bindings below\r\n\r\n"
                          "[Engine.PlayerPawn]\r\nDesiredFOV=90\r\n");
        QTest::newRow("section without keys: after its header")
            << QByteArray("[Empty]\r\n\r\n[Other]\r\nA=1\r\n") << u"Empty"_s
            << QByteArray("[Empty]\r\nNew=v\r\n\r\n[Other]\r\nA=1\r\n");
        QTest::newRow("unterminated last line: file stays unterminated")
            << QByteArray("[S]\r\nA=1") << u"S"_s << QByteArray("[S]\r\nA=1\r\nNew=v");
        QTest::newRow("lone header, no line break anywhere")
            << QByteArray("[S]") << u"S"_s << QByteArray("[S]\r\nNew=v");
        QTest::newRow("ending of the neighbouring line")
            << QByteArray("[S]\r\nA=1\n[T]\r\n") << u"S"_s << QByteArray("[S]\r\nA=1\nNew=v\n[T]\r\n");
        QTest::newRow("into the first of two same-named sections")
            << QByteArray("[S]\nA=1\n[s]\nB=2\n") << u"s"_s << QByteArray("[S]\nA=1\nNew=v\n[s]\nB=2\n");
        QTest::newRow("BOM file")
            << QByteArray("\xEF\xBB\xBF[S]\r\n") << u"S"_s << QByteArray("\xEF\xBB\xBF[S]\r\nNew=v\r\n");
    }

    void writeNewKey()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QByteArray, expected);
        writeBytes(path(), before);
        GameConfigStore store(path());
        store.WriteString(section, u"New"_s, u"v"_s);
        QCOMPARE(bytesOf(path()), expected);
    }

    void writeNewSection_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("blank line before it") << QByteArray("[A]\r\nX=1\r\n")
                                              << QByteArray("[A]\r\nX=1\r\n\r\n[New]\r\nKey=v\r\n");
        QTest::newRow("missing final newline added") << QByteArray("[A]\r\nX=1")
                                                     << QByteArray("[A]\r\nX=1\r\n\r\n[New]\r\nKey=v\r\n");
        QTest::newRow("no second blank line") << QByteArray("[A]\nX=1\n\n")
                                              << QByteArray("[A]\nX=1\n\n[New]\nKey=v\n");
        QTest::newRow("LF file") << QByteArray("[A]\nX=1\n") << QByteArray("[A]\nX=1\n\n[New]\nKey=v\n");
        QTest::newRow("ending of the last line") << QByteArray("[A]\nX=1\r\n")
                                                 << QByteArray("[A]\nX=1\r\n\r\n[New]\r\nKey=v\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArray("[New]\r\nKey=v\r\n");
        QTest::newRow("only a BOM") << QByteArray("\xEF\xBB\xBF")
                                    << QByteArray("\xEF\xBB\xBF[New]\r\nKey=v\r\n");
        QTest::newRow("name only in a comment") << QByteArray(";[New]\r\n")
                                                << QByteArray(";[New]\r\n\r\n[New]\r\nKey=v\r\n");
    }

    void writeNewSection()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, expected);
        writeBytes(path(), before);
        GameConfigStore store(path());
        store.WriteString(u"New"_s, u"Key"_s, u"v"_s);
        QCOMPARE(bytesOf(path()), expected);
        QCOMPARE(store.ReadString(u"New"_s, u"Key"_s, {}), u"v"_s);
    }

    void writeCreatesMissingFile()
    {
        GameConfigStore store(path());
        store.WriteString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, QString());
        QCOMPARE(bytesOf(path()), QByteArray("[Engine.GameEngine]\r\nCacheSizeMegs=\r\n"));
        QCOMPARE(store.ReadString(u"Engine.GameEngine"_s, u"CacheSizeMegs"_s, u"nicht gefunden!"_s), QString());
    }

    // ---- writing: failures leave everything as it was ---------------------

    void writeFailures()
    {
        const QString missingFolder = path(u"no-such-folder/user.ini"_s);
        GameConfigStore nowhere(missingFolder);
        QCOMPARE(writeError(nowhere, u"S"_s, u"K"_s, u"v"_s), u"Unable to write to "_s + missingFolder);
        QVERIFY(!QFileInfo::exists(path(u"no-such-folder"_s)));

        const QString file = copy(u"duplicate_keys.ini"_s);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        GameConfigStore store(file);
        const QString expected = u"Unable to write to "_s + file;
        QCOMPARE(writeError(store, u"URL"_s, u"Port"_s, u"7778"_s), expected);
        // The value a read gives changes nothing, so nothing is refused.
        QCOMPARE(writeError(store, u"URL"_s, u"Port"_s, u"7777"_s), QString());
        QCOMPARE(writeError(store, u"New"_s, u"Key"_s, u"v"_s), expected);
        QCOMPARE(bytesOf(file), fixture(u"duplicate_keys.ini"_s));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{u"duplicate_keys.ini"_s});

        // A file that is there but cannot be read is not replaced by a new one.
        QVERIFY(QDir(dir_.path()).mkdir(u"folder.ini"_s));
        GameConfigStore folder(path(u"folder.ini"_s));
        QCOMPARE(folder.ReadString(u"S"_s, u"K"_s, u"d"_s), u"d"_s);
        QCOMPARE(writeError(folder, u"S"_s, u"K"_s, u"v"_s), u"Unable to write to "_s + path(u"folder.ini"_s));
        QVERIFY(QFileInfo(path(u"folder.ini"_s)).isDir());
        QDir(dir_.path()).rmdir(u"folder.ini"_s);
    }

    void writeRefusesWhatWouldCorruptTheFile_data()
    {
        QTest::addColumn<QString>("fixtureName");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message"); // %1 is the file's path
        const QString s = u"Engine.GameReplicationInfo"_s;
        const QString k = u"MOTDLine1"_s;
        const QString f = u"spacing_and_quotes.ini"_s;
        QTest::newRow("LF") << f << s << k << u"one\nServerName=planted"_s
                            << u"The value for [Engine.GameReplicationInfo] MOTDLine1 contains a line break and "
                               "cannot be stored in %1"_s;
        QTest::newRow("CR") << f << s << k << u"one\r[Planted]"_s
                            << u"The value for [Engine.GameReplicationInfo] MOTDLine1 contains a line break and "
                               "cannot be stored in %1"_s;
        QTest::newRow("NUL") << f << s << k << QString(u"a\0b"_s)
                             << u"The value for [Engine.GameReplicationInfo] MOTDLine1 contains a NUL character "
                                "and cannot be stored in %1"_s;
        QTest::newRow("outside Windows-1252") << f << s << k << u"Łódź"_s
                                              << u"The value for [Engine.GameReplicationInfo] MOTDLine1 contains "
                                                 "the character \"Ł\" (U+0141), which cannot be stored in %1 "
                                                 "(Windows-1252 text)"_s;
        QTest::newRow("C1 control without a Windows-1252 byte") << f << s << k << u"\u0080"_s
            << u"The value for [Engine.GameReplicationInfo] MOTDLine1 contains the character \"\u0080\" (U+0080), "
               "which cannot be stored in %1 (Windows-1252 text)"_s;
        QTest::newRow("lone surrogate in UTF-8") << u"bom.ini"_s << u"DefaultPlayer"_s << u"Name"_s
            << QString(QChar(0xD800))
            << u"The value for [DefaultPlayer] Name contains the character U+D800, which cannot be stored in %1 "
               "(UTF-8 text)"_s;
        QTest::newRow("] in section") << f << u"A]B"_s << k << u"v"_s
                                      << u"The section name of [A]B] MOTDLine1 contains \"]\" and cannot be "
                                         "stored in %1"_s;
        QTest::newRow("= in key") << f << s << u"A=B"_s << u"v"_s
                                  << u"The key name of [Engine.GameReplicationInfo] A=B contains \"=\" and cannot "
                                     "be stored in %1"_s;
        QTest::newRow("; starting a key") << f << s << u";K"_s << u"v"_s
                                          << u"The key name of [Engine.GameReplicationInfo] ;K starts with \";\" "
                                             "and cannot be stored in %1"_s;
        QTest::newRow("blank key") << f << s << u" \t"_s << u"v"_s
                                   << u"The key name of [Engine.GameReplicationInfo] is empty and cannot be "
                                      "stored in %1"_s;
        QTest::newRow("line break in section") << f << u"A\nB"_s << k << u"v"_s
                                               << u"The section name of [A\nB] MOTDLine1 contains a line break or "
                                                  "NUL character and cannot be stored in %1"_s;
    }

    void writeRefusesWhatWouldCorruptTheFile()
    {
        QFETCH(QString, fixtureName);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, message);
        GameConfigStore store(copy(fixtureName));
        QCOMPARE(writeError(store, section, key, value), message.arg(store.path()));
        QCOMPARE(bytesOf(store.path()), fixture(fixtureName));
    }

    // ---- writing: text encodings -----------------------------------------

    void windows1252RoundTrip()
    {
        GameConfigStore store(path());
        const QString text = u"äöüß ÄÖÜ € „x“ – \u0081\u008D\u008F\u0090\u009D ÿ"_s;
        store.WriteString(u"DefaultPlayer"_s, u"Name"_s, text);
        QCOMPARE(bytesOf(path()), QByteArray("[DefaultPlayer]\r\nName=\xE4\xF6\xFC\xDF \xC4\xD6\xDC \x80 \x84x\x93 "
                                             "\x96 \x81\x8D\x8F\x90\x9D \xFF\r\n"));
        QCOMPARE(store.ReadString(u"DefaultPlayer"_s, u"Name"_s, {}), text);

        // Every byte 0x20..0xFF reads as one character and writes back as the same byte.
        QByteArray all;
        for (int b = 0x20; b < 0x100; ++b)
            all.append(static_cast<char>(b));
        writeBytes(path(), "[S]\r\nK=x" + all + "x\r\n");
        const QString read = store.ReadString(u"S"_s, u"K"_s, {});
        QCOMPARE(read.size(), all.size() + 2);
        store.WriteString(u"S"_s, u"Other"_s, u"1"_s);
        store.WriteString(u"S"_s, u"K"_s, read);
        QCOMPARE(bytesOf(path()), "[S]\r\nK=x" + all + "x\r\nOther=1\r\n");

        // Non-ASCII names in a Windows-1252 file.
        store.WriteString(u"Größe"_s, u"Maß"_s, u"1"_s);
        QVERIFY(bytesOf(path()).endsWith("[Gr\xF6\xDF" "e]\r\nMa\xDF=1\r\n"));
        QCOMPARE(store.ReadString(u"Größe"_s, u"Maß"_s, {}), u"1"_s);
    }

    // ---- writing: the file itself ----------------------------------------

    void writeKeepsFileProperties()
    {
        // Through a symbolic link: the target changes, the link stays a link.
        const QString target = copy(u"lf.ini"_s);
        const QString link = path(u"link.ini"_s);
        QVERIFY(QFile::link(target, link));
        GameConfigStore viaLink(link);
        viaLink.WriteString(u"DefaultPlayer"_s, u"Team"_s, u"2"_s);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(bytesOf(target).contains("\nTeam=2\n"));

        // Permissions stay.
        QVERIFY(::chmod(QFile::encodeName(target).constData(), 0640) == 0);
        viaLink.WriteString(u"DefaultPlayer"_s, u"Team"_s, u"3"_s);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));

        // Writing the value a key holds leaves the file alone: same inode.
        const auto inode = st.st_ino;
        viaLink.WriteString(u"DefaultPlayer"_s, u"Team"_s, u"3"_s);
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_ino, inode);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestGameConfigStore)
#include "test_gameconfigstore.moc"
