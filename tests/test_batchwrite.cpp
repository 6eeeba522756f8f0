#include "config/GameConfigStore.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Pairs = QList<std::pair<QString, QString>>;

// "key", "value", "key", "value" ... as pairs.
Pairs pairsOf(const QStringList& flat)
{
    Pairs pairs;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2)
        pairs.append({flat[i], flat[i + 1]});
    return pairs;
}

QString batchError(GameConfigStore& store, const QString& section, const Pairs& pairs)
{
    return failureOf([&] { store.WriteStrings(section, pairs); });
}

} // namespace

// Several keys written in one rewrite must leave exactly the bytes that
// writing them one by one leaves, and nothing at all when one is refused.
class TestBatchWrite : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup()
    {
        for (const QFileInfo& entry : QDir(dir_.path()).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            QFile::setPermissions(entry.filePath(), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(entry.filePath());
        }
    }

    void sameBytesAsWritesOneByOne_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("writes");
        const QByteArray sample = sourceBytes(u"examples/System/User.ini"_s);
        const QByteArray spacing = sourceBytes(u"tests/data/ini/spacing_and_quotes.ini"_s);

        QTest::newRow("existing keys, values with = and |")
            << sample << u"Engine.Input"_s
            << QStringList{u"Space"_s, u"Jump | Fire"_s, u"G"_s, u"Say a=b"_s, u"home"_s, u""_s, u"0"_s, u"x"_s};
        QTest::newRow("new keys go after the last key, in order")
            << sourceBytes(u"tests/data/ini/comments_after_keys.ini"_s) << u"Engine.Input"_s
            << QStringList{u"F3"_s, u"a"_s, u"F1"_s, u"Help2"_s, u"F4"_s, u"b"_s};
        QTest::newRow("same key twice, other letter case")
            << sample << u"Engine.Input"_s << QStringList{u"Joy1"_s, u"first"_s, u"JOY1"_s, u"second"_s};
        QTest::newRow("new key twice") << sample << u"Engine.Input"_s
                                       << QStringList{u"Joy9"_s, u"a"_s, u"Other"_s, u"b"_s, u"joy9"_s, u"c"_s};
        QTest::newRow("first of duplicate keys and sections")
            << sourceBytes(u"tests/data/ini/duplicate_keys.ini"_s) << u"engine.GameEngine"_s
            << QStringList{u"ServerPackages"_s, u"A"_s, u"CacheSizeMegs"_s, u"16"_s, u"New"_s, u"n"_s};
        QTest::newRow("new section with several keys")
            << sample << u"Brennwerk.Test"_s << QStringList{u"A"_s, u"1"_s, u"B"_s, u"2"_s, u"a"_s, u"3"_s};
        QTest::newRow("unterminated last line")
            << QByteArray("[S]\r\nA=1") << u"S"_s << QStringList{u"B"_s, u"2"_s, u"A"_s, u"9"_s, u"C"_s, u"3"_s};
        QTest::newRow("new section after an unterminated line")
            << QByteArray("[S]\nA=1") << u"T"_s << QStringList{u"B"_s, u"2"_s, u"C"_s, u"3"_s};
        QTest::newRow("quotes and spacing, rewritten twice")
            << spacing << u"Engine.GameReplicationInfo"_s
            << QStringList{u"MOTDLine1"_s, u"Hi"_s, u"ServerName"_s, u" padded "_s, u"ServerName"_s, u"x"_s,
                           u"AdminName"_s, u"\"q\""_s, u"AdminName"_s, u"y"_s};
        QTest::newRow("values already held") << sample << u"Engine.Input"_s
                                             << QStringList{u"Space"_s, u"Jump"_s, u"Tab"_s, u"Type"_s};
        QTest::newRow("UTF-8 file with BOM")
            << sourceBytes(u"tests/data/ini/bom.ini"_s) << u"DefaultPlayer"_s
            << QStringList{u"Name"_s, u"Zoë ā"_s, u"Neu"_s, u"€"_s};
        QTest::newRow("empty file") << QByteArray() << u"S"_s << QStringList{u"A"_s, u"1"_s, u"B"_s, u""_s};
    }

    void sameBytesAsWritesOneByOne()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QStringList, writes);
        const Pairs pairs = pairsOf(writes);

        writeBytes(path(u"single.ini"_s), before);
        GameConfigStore single(path(u"single.ini"_s));
        for (const auto& [key, value] : pairs)
            single.WriteString(section, key, value);

        writeBytes(path(u"batch.ini"_s), before);
        GameConfigStore batch(path(u"batch.ini"_s));
        batch.WriteStrings(section, pairs);

        QCOMPARE(bytesOf(batch.path()), bytesOf(single.path()));
        for (const auto& [key, value] : pairs)
            QVERIFY(!batch.ReadString(section, key, u"<missing>"_s).startsWith(u"<missing>"_s));
    }

    void goldenBatch()
    {
        // One case spelled out, so that both ways cannot be wrong alike.
        writeBytes(path(u"g.ini"_s), "[A]\r\nX=1\r\n; c\r\n\r\n[B]\r\nY=2\r\n");
        GameConfigStore store(path(u"g.ini"_s));
        store.WriteStrings(u"A"_s, {{u"x"_s, u"a=b|c"_s}, {u"Z"_s, u"3"_s}, {u"X"_s, u"4"_s}});
        QCOMPARE(bytesOf(store.path()), QByteArray("[A]\r\nX=4\r\nZ=3\r\n; c\r\n\r\n[B]\r\nY=2\r\n"));
        store.WriteStrings(u"C"_s, {{u"K"_s, u""_s}, {u"L"_s, u"v"_s}});
        QCOMPARE(bytesOf(store.path()),
                 QByteArray("[A]\r\nX=4\r\nZ=3\r\n; c\r\n\r\n[B]\r\nY=2\r\n\r\n[C]\r\nK=\r\nL=v\r\n"));
    }

    void refusedValueWritesNothing_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("line break") << u"Jump\r\n[Planted]"_s
                                    << u"The value for [Engine.Input] Space contains a line break and cannot be "
                                       "stored in %1"_s;
        QTest::newRow("outside Windows-1252")
            << u"Sprung 跳"_s
            << u"The value for [Engine.Input] Space contains the character \"跳\" (U+8DF3), which cannot be stored "
               "in %1 (Windows-1252 text)"_s;
    }

    void refusedValueWritesNothing()
    {
        QFETCH(QString, value);
        QFETCH(QString, message);
        const QByteArray sample = sourceBytes(u"examples/System/User.ini"_s);
        writeBytes(path(u"user.ini"_s), sample);
        GameConfigStore store(path(u"user.ini"_s));
        // The refused pair stands in the middle: the ones before it are not
        // written either.
        const Pairs pairs{{u"A"_s, u"changed"_s}, {u"Space"_s, value}, {u"B"_s, u"changed"_s}};
        QCOMPARE(batchError(store, u"Engine.Input"_s, pairs), message.arg(store.path()));
        QCOMPARE(bytesOf(store.path()), sample);
    }

    void failedWriteWritesNothing()
    {
        const QByteArray before("[S]\r\nA=1\r\n");
        writeBytes(path(u"ro.ini"_s), before);
        QVERIFY(QFile::setPermissions(path(u"ro.ini"_s), QFile::ReadOwner | QFile::ReadGroup));
        GameConfigStore readOnly(path(u"ro.ini"_s));
        const QString expected = u"Unable to write to "_s + readOnly.path();
        QCOMPARE(batchError(readOnly, u"S"_s, {{u"A"_s, u"2"_s}, {u"B"_s, u"3"_s}}), expected);
        // One real change among values already held is still a change.
        QCOMPARE(batchError(readOnly, u"S"_s, {{u"A"_s, u"1"_s}, {u"B"_s, u"3"_s}}), expected);
        // Every value already held: nothing to write, so nothing refused.
        QCOMPARE(batchError(readOnly, u"S"_s, {{u"A"_s, u"1"_s}, {u"a"_s, u"1"_s}}), QString());
        QCOMPARE(bytesOf(readOnly.path()), before);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"ro.ini"_s});

        const QString nowhere = path(u"missing/user.ini"_s);
        GameConfigStore missingFolder(nowhere);
        QCOMPARE(batchError(missingFolder, u"S"_s, {{u"A"_s, u"1"_s}}), u"Unable to write to "_s + nowhere);
    }

    void emptyBatchTouchesNothing()
    {
        GameConfigStore store(path(u"none.ini"_s));
        store.WriteStrings(u"S"_s, {});
        QVERIFY(!QFileInfo::exists(store.path()));
    }

    void oneReplaceForManyKeys()
    {
        // Each replace of the file is a rename of a temporary file onto its
        // name; the folder's watch counts them. (Watching the moves from the
        // temporary names too keeps the kernel from merging the events.)
        const QByteArray sample = sourceBytes(u"examples/System/User.ini"_s);
        writeBytes(path(u"user.ini"_s), sample);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(dir_.path()).constData(), IN_MOVED_FROM | IN_MOVED_TO) >= 0);

        GameConfigStore store(path(u"user.ini"_s));
        Pairs pairs;
        for (int i = 0; i < 116; ++i)
            pairs.append({u"Key%1"_s.arg(i), u"Value %1"_s.arg(i)});
        store.WriteStrings(u"Engine.Input"_s, pairs);

        int renames = 0;
        alignas(inotify_event) char buffer[16384];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && QByteArray(event->name) == "user.ini")
                    ++renames;
                at += sizeof(inotify_event) + event->len;
            }
        }
        ::close(watch);
        QCOMPARE(renames, 1);
        QCOMPARE(store.ReadString(u"Engine.Input"_s, u"Key115"_s, {}), u"Value 115"_s);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"user.ini"_s});
    }
};

QTEST_GUILESS_MAIN(TestBatchWrite)
#include "test_batchwrite.moc"
