#include "config/IniText.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// A byte string literal with its NUL bytes.
template <qsizetype N>
QByteArray raw(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}

} // namespace

// The index of a parsed text answers as a pass over the whole text does, and
// an edit of a section's part, put back in place, gives the bytes the edit of
// the whole text gives: each checked over texts of every shape a file takes,
// for every section and key name they hold and some they do not.
class TestIniTextIndex : public QObject {
    Q_OBJECT

private:
    static QList<QByteArray> texts()
    {
        // Enough names that some share a slot of the index, each name once
        // more in other letter case, one section of many keys.
        QByteArray many;
        for (int i = 0; i < 300; ++i)
            many += "[Section" + QByteArray::number(i) + "]\nKey=" + QByteArray::number(i) + "\n";
        many += "[Engine.GameEngine]\n";
        for (int i = 0; i < 300; ++i)
            many += "Key" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\nKEY" + QByteArray::number(i) + "=again\n";
        for (int i = 0; i < 300; i += 7)
            many += "[SECTION" + QByteArray::number(i) + "]\nKey=later\n";
        return {
            many,
            "[Engine.GameEngine]\r\nCacheSizeMegs=32\r\n[ENGINE.GAMEENGINE]\r\nCacheSizeMegs=64\r\n",
            "",
            "\xEF\xBB\xBF",
            "\xEF\xBB\xBF[S]\r\nA=1\r\n",
            "[S]",
            "[S]\r\n",
            "[S]\r\nA=1",
            "A=before any section\n[S]\nA=1\n",
            "[S]\nA=1\n[s]\nA=2\nB=3\n[T]\nA=4\n[S]\nC=5\n",
            "[S]\r\nA=1\n[T]\r\nB=2\rC=3\r",
            "  [ S ]  \r\n  a = \" q \" \r\nA=2\r\n;[T]\r\n; B=1\r\n\r\n[T] trailing ] x\r\nB = 1\r\n",
            "[S]\nA=1\n\n; comment\n\n[T]\n",
            "[S]\nA=1\nA=2\n=empty name\nno key here\n[]\nB=1\n[S\nC=2",
            raw("[S]\r\nK=be\0fore\r\nGarbage\0=x\r\n[T]\r\nA=1"),
            "\n\n[S]\n\n",
            "[Last]\r\nA=1\r\n[S]\r\nB=1",
            "[Only]",
            // A lone CR, then a key, then an empty line of a lone LF: without
            // the key the two breaks are one.
            "[S]\rA=1\n\nA=2\r\n\nB=3\r",
            "\xEF\xBB\xBF[T]\rB=1\n\n[S]\rA=1\n\n\rA=2",
            "[T]\rB=1\n\n[S]\rA=1",
            "[S]\nA=1",
            "; only a comment",
            "\n",
        };
    }

    static QList<QByteArray> sectionNames()
    {
        return {"S", "s", "T", "Last", "Only", "S ] x", "", "Missing", "engine.GAMEengine", "section147", "Section299"};
    }
    static QList<QByteArray> keyNames()
    {
        return {"A", "a", "B", "C", "K", "", "Garbage", "New", "cachesizemegs", "Key", "kEY150", "Key299"};
    }

private Q_SLOTS:
    void indexAnswersAsTheWholeText()
    {
        for (const QByteArray& text : texts()) {
            const IniText::Index index(text);
            const QByteArray shown = text.toPercentEncoding();
            QCOMPARE(index.sectionNames(), IniText::sectionNames(text));
            for (const QByteArray& section : sectionNames()) {
                QVERIFY2(index.hasSection(section) == IniText::hasSection(text, section), shown);
                QVERIFY2(index.entriesOf(section) == IniText::entriesOf(text, section), shown + " [" + section + "]");
                for (const QByteArray& key : keyNames()) {
                    const QByteArray where = shown + " [" + section + "] " + key;
                    QVERIFY2(index.valueOf(section, key) == IniText::valueOf(text, section, key), where);
                    QVERIFY2(index.valuesOf(section, key) == IniText::valuesOf(text, section, key), where);
                }
            }
        }
    }

    void editOfAPartGivesTheWholeTextsBytes()
    {
        for (const QByteArray& text : texts()) {
            const IniText::Index index(text);
            const QByteArray fallback = IniText::fallbackBreak(text);
            for (const QByteArray& section : sectionNames()) {
                const auto span = index.span(section);
                if (!span)
                    continue;
                // Each value on what the edits before it left, as a batch
                // of writes makes them.
                for (const QByteArray& value : {QByteArray("v"), QByteArray(), QByteArray(" lead")}) {
                    QByteArray whole = text;
                    QByteArray part = text.mid(span->first, span->second - span->first);
                    for (const QByteArray& key : keyNames()) {
                        whole = IniText::withValue(whole, section, key, value);
                        part = IniText::withValue(part, section, key, value, fallback);
                        QVERIFY2(text.left(span->first) + part + text.mid(span->second) == whole,
                                 text.toPercentEncoding() + " [" + section + "] " + key + "=" + value);
                    }
                }
            }
        }
    }

    // The editor's bytes are those of the functions applied one after the
    // other, after every edit of long random runs of them (and of a few runs
    // that randomness seldom makes), and its answers theirs.
    void editorGivesTheBytesOfTheEditsInTurn()
    {
        enum Op { Set, Add, Remove, Unset };
        struct Edit {
            Op op;
            QByteArray section, key, value;
        };
        struct Run {
            QByteArray text;
            QList<Edit> edits;
        };
        QList<Run> runs = {
            // The first line of a list given the value of the next one, then
            // both taken out: the lone CR of the first goes with it, and the
            // empty line after them stays.
            {"[S]\nP=x\rP=a\n\nQ=1\n", {{Set, "S", "P", "a"}, {Remove, "S", "P", "a"}, {Add, "S", "Q", "2"}}},
        };
        // Names as GameConfigStore passes them.
        QList<QByteArray> sections = sectionNames();
        sections.removeIf([](const QByteArray& name) { return name.isEmpty() || name.contains(']'); });
        sections << "New" << "new";
        QList<QByteArray> keys = keyNames();
        keys.removeAll(QByteArray());
        const QList<QByteArray> values = {"v", "", " lead", "\"q\"", "'x'", "V", "\"", "x y ", "'"};
        QRandomGenerator random(1);
        for (const QByteArray& text : texts()) {
            for (int run = 0; run < 20; ++run) {
                Run made{text, {}};
                for (int step = 0; step < 40; ++step)
                    made.edits.append({Op(random.bounded(4)), sections[random.bounded(int(sections.size()))],
                                       keys[random.bounded(int(keys.size()))],
                                       values[random.bounded(int(values.size()))]});
                runs.append(made);
            }
        }
        for (qsizetype r = 0; r < runs.size(); ++r) {
            const Run& run = runs[r];
            // Half of the runs given the index of a kept parse, half finding
            // the sections on their own.
            const IniText::Index index(run.text);
            IniText::Editor editor(run.text, r % 2 ? &index : nullptr);
            QByteArray expected = run.text;
            QByteArray done = run.text.toPercentEncoding();
            for (const auto& [op, section, key, value] : run.edits) {
                const QByteArray read = IniText::readValue(value);
                const auto isRead = [&](QByteArrayView v) { return IniText::sameText(v, read); };
                // Asked before and after the edit of the same key.
                const auto answersAsTheText = [&] {
                    const QList<QByteArray> lines = IniText::valuesOf(expected, section, key);
                    return editor.hasSection(section) == IniText::hasSection(expected, section)
                        && editor.valueOf(section, key) == IniText::valueOf(expected, section, key)
                        && editor.lineCount(section, key) == lines.size()
                        && editor.holds(section, key, read) == std::any_of(lines.cbegin(), lines.cend(), isRead);
                };
                QVERIFY2(answersAsTheText(), done);
                switch (op) {
                case Set:
                    done += " | set [" + section + "] " + key + "=" + value;
                    editor.withValue(section, key, value);
                    expected = IniText::withValue(expected, section, key, value);
                    break;
                case Add:
                    done += " | add [" + section + "] " + key + "=" + value;
                    editor.withAdded(section, key, value);
                    expected = IniText::withAdded(expected, section, key, value);
                    break;
                case Remove:
                    done += " | remove [" + section + "] " + key + "=" + value;
                    editor.withoutLines(section, key, QByteArrayView(read));
                    expected = IniText::withoutLines(expected, section, key, isRead);
                    break;
                case Unset:
                    done += " | unset [" + section + "] " + key;
                    editor.withoutLines(section, key, std::nullopt);
                    expected = IniText::withoutLines(expected, section, key);
                    break;
                }
                QVERIFY2(editor.text() == expected, done + "\n gave " + editor.text().toPercentEncoding()
                                                        + "\n not  " + expected.toPercentEncoding());
                QVERIFY2(answersAsTheText(), done);
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestIniTextIndex)
#include "test_initext.moc"
