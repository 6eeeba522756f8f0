#include "app/HauptUnit.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "support/Files.h"
#include "support/GameFixture.h"

#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Inputs the fuzz targets (fuzz/) found to break a promise of the INI layer
// or the registry file, kept here so that the normal test run guards them.
class FuzzFindingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valueReadBackIsWrittenAsItStood_data();
    void valueReadBackIsWrittenAsItStood();
    void serverPageKeepsBytesItCannotDecode();
    void dataCutOffByTheEndStaysCutOff_data();
    void dataCutOffByTheEndStaysCutOff();
};

void FuzzFindingsTest::valueReadBackIsWrittenAsItStood_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    // A byte-order mark says UTF-8, but a hand edit or another tool left
    // Windows-1252 bytes behind it: what is read must be what is written.
    QTest::newRow("Windows-1252 after a UTF-8 mark")
        << QByteArray("\xEF\xBB\xBF[Daye]\r\nNa.e=M\xE4""dche \x81\xFF\r\n") << u"Daye"_s << u"Na.e"_s;
    QTest::newRow("cut UTF-8 sequence") << QByteArray("\xEF\xBB\xBF[S]\r\nK=J\xC3\xBCrgen\xC3\r\n") << u"S"_s << u"K"_s;
    QTest::newRow("encoded surrogate") << QByteArray("\xEF\xBB\xBF[S]\r\nK=a\xED\xA0\x80z\r\n") << u"S"_s << u"K"_s;
    // U+FEFF inside a value is a zero-width no-break space, text like any
    // other, not a byte-order mark to drop.
    QTest::newRow("U+FEFF inside a value")
        << QByteArray("\xEF\xBB\xBF[S]\r\nK=a\xEF\xBB\xBF""b\r\n") << u"S"_s << u"K"_s;
    QTest::newRow("U+FEFF starting a value")
        << QByteArray("\xEF\xBB\xBF[S]\r\nK=\xEF\xBB\xBF""b\xF6\r\n") << u"S"_s << u"K"_s;
    // F2 A2 92 9A is U+A249A, whose low surrogate DC9A lies among the escapes
    // of bytes that are no UTF-8 (U+DC80 + byte): it was written as "?" and
    // the byte 9A. The fuzz input as found: the file part of it, the key
    // its operation picked, in a section whose name holds such a byte.
    QTest::newRow("character beyond U+FFFF after a byte that is no UTF-8")
        << QByteArray::fromBase64("77u/W0RlZmF1bHRQbGF5ZYByXQ0KTmFtZT1Kw7xyZ2VuDQpUZWHtPTANCsO8HgEQPXLDtkNsaWNhTGluZT"
                                  "E9cmVlJ2xjV05h9vKikprCtTy8cmdlbg0KVGVhbT0wDcrKyqxiZQAKAHRlHiRyPW9rCBA7")
        << u"DefaultPlaye"_s + QChar(0xDC80) + u"r"_s << u"\u00FC\u001E\u0001\u0010"_s;
}

void FuzzFindingsTest::valueReadBackIsWrittenAsItStood()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"User.ini"_s);
    writeBytes(path, file);
    GameConfigStore store(path);
    const QString read = store.ReadString(section, key, u"<missing>"_s);
    QVERIFY(read != u"<missing>"_s);
    // Every byte comes back: the value read holds a character for each.
    const qsizetype line = file.indexOf("\n" + key.toUtf8() + "=") + key.toUtf8().size() + 2;
    const QByteArray raw = file.mid(line, file.indexOf('\r', line) - line);
    if (raw.contains("\xEF\xBB\xBF"))
        QVERIFY2(read.contains(QChar(0xFEFF)), qPrintable(read));
    // Written back to its key it is no change at all; written to another
    // key, a real write, it comes out as the same bytes.
    QCOMPARE(failureOf([&] { store.WriteString(section, key, read); }), QString());
    QCOMPARE(readBytes(path), file);
    QCOMPARE(failureOf([&] { store.WriteString(section, u"Copy"_s, read); }), QString());
    const QByteArray copied = readBytes(path);
    QVERIFY2(copied.contains("\nCopy=" + raw), copied.toPercentEncoding().constData());
    QCOMPARE(store.ReadString(section, u"Copy"_s, u"<missing>"_s), read);
}

void FuzzFindingsTest::serverPageKeepsBytesItCannotDecode()
{
    // The Server page writes back the texts it shows; on such a file it must
    // not replace the letters it read by U+FFFD.
    GameFixture game;
    game.registerGameDir();
    const QByteArray original = "\xEF\xBB\xBF" + readBytes(game.mainIniPath());
    QVERIFY(original.contains("AdminName=J\xFCrgen Wei\xDF\r\n"));
    writeBytes(game.mainIniPath(), original);
    QVERIFY(game.start());
    game.showPage("tsMultiplayer");
    QCOMPARE(readBytes(game.mainIniPath()), original);
}

void FuzzFindingsTest::dataCutOffByTheEndStaysCutOff_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("new value in the same key") << u"\\Software\\Hostile\\Deep"_s;
    QTest::newRow("new key after it") << u"\\Software\\Zoe"_s;
}

void FuzzFindingsTest::dataCutOffByTheEndStaysCutOff()
{
    // Hex data whose continuation line never came (a file cut short) is no
    // value wineserver can read; a write elsewhere must not complete it.
    QFETCH(QString, key);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"system.reg"_s);
    writeBytes(path, "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                     "[Software\\\\Hostile\\\\Deep] 1\n\"Dangling\"=hex(2):41,00,\\\n");
    RegistryFile registry(path);
    QVERIFY(registry.OpenKey(u"\\Software\\Hostile\\Deep"_s, false));
    const QString broken = u"Invalid data type for 'Dangling'"_s;
    QCOMPARE(failureOf([&] { registry.ReadString(u"Dangling"_s); }), broken);

    // Whatever is added after it would complete it, so the file is refused
    // like any file that is not whole, and stays as it is.
    const QByteArray before = readBytes(path);
    QVERIFY(registry.OpenKey(key, true));
    QCOMPARE(failureOf([&] { registry.WriteString(u"New"_s, u"v"_s); }), u"Failed to set data for 'New'"_s);
    QCOMPARE(readBytes(path), before);
    QVERIFY(registry.OpenKey(u"\\Software\\Hostile\\Deep"_s, false));
    QCOMPARE(failureOf([&] { registry.ReadString(u"Dangling"_s); }), broken);
}

QTEST_MAIN(FuzzFindingsTest)
#include "test_fuzzfindings.moc"
