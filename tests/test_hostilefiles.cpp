#include "app/HauptUnit.h"
#include "controls/MaskedEdit.h"
#include "platform/SafeFile.h"
#include "support/GameFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// The file's lines, each with its own line break (CR LF, LF or a lone CR).
QList<QByteArray> linesOf(const QByteArray& text)
{
    QList<QByteArray> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            lines << text.mid(begin, i + 1 - begin);
            begin = i + 1;
        }
    }
    if (begin < text.size())
        lines << text.mid(begin);
    return lines;
}

QByteArray withoutBreak(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Empty when `after` is `before` with one line changed or added (a new
// section brings its header and a blank line); else what else changed.
QString moreThanOneLine(const QByteArray& before, const QByteArray& after)
{
    const QList<QByteArray> old = linesOf(before);
    const QList<QByteArray> now = linesOf(after);
    qsizetype prefix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix
           && old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const QList<QByteArray> removed = old.mid(prefix, old.size() - prefix - suffix);
    QList<QByteArray> added = now.mid(prefix, now.size() - prefix - suffix);
    const auto describe = [&] {
        return u"line %1: %2 lines removed, %3 added"_s.arg(prefix + 1).arg(removed.size()).arg(added.size());
    };
    if (removed.size() > 1)
        return describe();
    // An unterminated last line gains the line break the added line needs.
    if (removed.size() == 1 && added.size() > 1 && withoutBreak(added[0]) == removed[0])
        added.removeFirst();
    else if (removed.size() == 1 && added.size() != 1)
        return describe();
    if (added.size() > 3)
        return describe();
    if (added.size() > 1) { // a new section: [blank] header key
        const QByteArray header = withoutBreak(added[added.size() - 2]);
        if (!header.startsWith('[') || (added.size() == 3 && !withoutBreak(added[0]).isEmpty()))
            return describe();
    }
    return QString();
}

QByteArray replaceAll(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    return text.replace(from, to);
}

// Padding of the given size: a section of plain key lines, as a file that a
// mod or a server script kept appending to would grow.
QByteArray padding(qsizetype size, const QByteArray& eol)
{
    QByteArray pad = "[Brennwerk.Padding]" + eol;
    pad.reserve(size + 64);
    for (int i = 0; pad.size() < size; ++i)
        pad += "ServerPackages" + QByteArray::number(i) + "=Package" + QByteArray::number(i % 977) + eol;
    return pad;
}

QByteArray everyLine(const QByteArray& text, const std::function<QByteArray(int, const QByteArray&)>& change)
{
    QByteArray out;
    const QList<QByteArray> lines = linesOf(text);
    for (int i = 0; i < lines.size(); ++i)
        out += change(i, lines[i]);
    return out;
}

// Every write while it lives, with the file's bytes before and after.
class Recorder {
public:
    struct Write {
        QString path;
        QByteArray before;
        QByteArray after;
    };
    Recorder()
    {
        SafeFile::setWriteHook([this](const QString& path, const QByteArray& content) {
            writes.append({path, SafeFile::read(path).value_or(QByteArray()), content});
            return true;
        });
    }
    ~Recorder() { SafeFile::setWriteHook({}); }
    QList<Write> writes;
};

} // namespace

// The editor started on files a user, a mod or a broken tool may have left:
// every page is shown without a crash or a hang, and every write, the
// page's own and those the pages make when shown, changes one line only.
class HostileFilesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyPageSurvives_data();
    void everyPageSurvives();
};

void HostileFilesTest::everyPageSurvives_data()
{
    QTest::addColumn<QByteArray>("mainIni");
    QTest::addColumn<QByteArray>("userIni");
    const QByteArray mainIni = sourceBytes(u"examples/System/UnrealTournament.ini"_s);
    const QByteArray userIni = sourceBytes(u"examples/System/User.ini"_s);
    QVERIFY(!mainIni.isEmpty() && !userIni.isEmpty());

    // In front, so that every key the pages read is found only after it.
    QTest::newRow("10 MB") << padding(10 << 20, "\r\n") + mainIni << padding(10 << 20, "\r\n") + userIni;

    const QByteArray longLines = "; " + QByteArray(1 << 20, 'c') + "\r\nLongValue=" + QByteArray(1 << 20, 'v')
        + "\r\n" + QByteArray(1 << 20, '[') + "\r\n" + QByteArray(1 << 20, '=') + "\r\n";
    const auto afterFirstLine = [&](const QByteArray& ini) {
        const qsizetype at = ini.indexOf('\n') + 1;
        return ini.left(at) + longLines + ini.mid(at);
    };
    QTest::newRow("1 MB lines") << afterFirstLine(mainIni) << afterFirstLine(userIni);

    const auto withNuls = [](const QByteArray& ini) {
        return everyLine(ini, [](int i, const QByteArray& line) -> QByteArray {
            switch (i % 5) {
            case 0: return line + QByteArray("\0\0\0\r\n", 5);
            case 1: return QByteArray("Nul\0Key=x\r\n", 11) + line;
            case 2: return line.contains('=') ? QByteArray(line).insert(line.indexOf('=') + 1, '\0') : line;
            default: return line;
            }
        });
    };
    QTest::newRow("NUL bytes") << withNuls(mainIni) << withNuls(userIni);

    QTest::newRow("UTF-8 byte-order mark") << "\xEF\xBB\xBF" + mainIni << "\xEF\xBB\xBF" + userIni;
    QTest::newRow("CR only") << replaceAll(mainIni, "\r\n", "\r") << replaceAll(userIni, "\r\n", "\r");

    const auto mixed = [](const QByteArray& ini) {
        return everyLine(ini, [](int i, const QByteArray& line) {
            static const QByteArray breaks[] = {"\r\n", "\n", "\r\n", "\r"};
            return withoutBreak(line) + breaks[i % 4];
        });
    };
    QTest::newRow("mixed line endings") << mixed(mainIni) << mixed(userIni);

    const auto unclosed = [](const QByteArray& ini) {
        int headers = 0;
        return everyLine(ini, [&headers](int, const QByteArray& line) {
                   if (!line.startsWith('[') || headers++ % 2)
                       return line;
                   return QByteArray(line).replace("]", "");
               })
            + "[Unclosed";
    };
    QTest::newRow("section headers without ]") << unclosed(mainIni) << unclosed(userIni);

    const auto equalsInNames = [](const QByteArray& ini) {
        return everyLine(ini, [](int, const QByteArray& line) {
            if (!line.startsWith('['))
                return line;
            return line + "Key=With=Equals=1\r\n=NoName\r\n = \r\nCache=Size=Megs=1\r\n";
        });
    };
    QTest::newRow("= in key names") << equalsInNames(mainIni) << equalsInNames(userIni);
}

void HostileFilesTest::everyPageSurvives()
{
    QFETCH(QByteArray, mainIni);
    QFETCH(QByteArray, userIni);
    GameFixture game;
    game.registerGameDir();
    writeBytes(game.mainIniPath(), mainIni);
    writeBytes(game.userIniPath(), userIni);

    Recorder recorder;
    THauptForm* window = game.start();
    QVERIFY(window);
    QTabWidget* pages = window->PageControl1;
    // Every page, the hidden one too, and back to the first.
    for (int i = 0; i <= pages->count(); ++i) {
        pages->setCurrentIndex(i % pages->count());
        QCoreApplication::processEvents();
        QCOMPARE(pages->currentIndex(), i % pages->count());
    }

    // The System page's cache field, written through its button.
    const QByteArray before = readBytes(game.mainIniPath());
    typeOver(game.child<MaskedEdit>(u"meCache"_s), u"128"_s);
    click(game.child<QPushButton>(u"bCacheEintragen"_s));
    QCOMPARE(before.count("CacheSizeMegs=32"), 1);
    const QByteArray after = readBytes(game.mainIniPath());
    QVERIFY(after == QByteArray(before).replace("CacheSizeMegs=32", "CacheSizeMegs=128"));
    QCOMPARE(game.child<QLabel>(u"LCacheMom"_s)->text(), u"Cache-Größe (in MB): 128"_s);

    QVERIFY2(game.boxes.errors().isEmpty(), qPrintable(game.boxes.errors().join(u"\n"_s)));
    for (const Recorder::Write& write : recorder.writes)
        QVERIFY2(moreThanOneLine(write.before, write.after).isEmpty(),
                 qPrintable(write.path + u": "_s + moreThanOneLine(write.before, write.after)));
}

QTEST_MAIN(HostileFilesTest)
#include "test_hostilefiles.moc"
