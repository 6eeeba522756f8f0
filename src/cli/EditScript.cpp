#include "cli/EditScript.h"

#include <QStringDecoder>


namespace {

struct Words {
    QStringList words;
    int line = 0;
};

// One command's words into an edit, or the reason it is none.
std::variant<IniEdit, QString> editOf(const QStringList& words)
{
    const QString& command = words.front();
    IniEdit edit;
    qsizetype operandCount = 3;
    QString operandsSaid = QStringLiteral("SECTION KEY VALUE");
    if (command == QLatin1String("set")) {
        edit.kind = IniEdit::Kind::Set;
    } else if (command == QLatin1String("add")) {
        edit.kind = IniEdit::Kind::Add;
    } else if (command == QLatin1String("remove")) {
        edit.kind = IniEdit::Kind::Remove;
    } else if (command == QLatin1String("unset")) {
        edit.kind = IniEdit::Kind::Unset;
        operandCount = 2;
        operandsSaid = QStringLiteral("SECTION KEY");
    } else {
        return QStringLiteral("unknown command '%1' (a script holds set, add, remove and unset)").arg(command);
    }
    QStringList operands;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words[i];
        // As on the command line: a negative number is a value.
        if (optionsEnded || word.size() < 2 || !word.startsWith(u'-') || word[1].isDigit()) {
            operands.append(word);
        } else if (word == QLatin1String("--")) {
            optionsEnded = true;
        } else if (word == QLatin1String("--first")) {
            if (edit.kind != IniEdit::Kind::Set)
                return QStringLiteral("option '--first' goes with 'set' only");
            edit.kind = IniEdit::Kind::SetFirst;
        } else {
            return QStringLiteral("unknown option '%1'").arg(word);
        }
    }
    if (operands.size() != operandCount)
        return QStringLiteral("'%1' takes %2").arg(command, operandsSaid);
    edit.section = operands[0];
    edit.key = operands[1];
    if (operandCount == 3)
        edit.value = operands[2];
    return edit;
}

} // namespace

std::variant<QList<ScriptEdit>, ScriptError> parseEditScript(const QByteArray& script)
{
    QList<ScriptEdit> edits;
    QList<Words> commands;
    Words current;
    QString word;
    bool inWord = false; // a word has begun, if only with "" or ''
    int line = 1;

    const auto endWord = [&] {
        if (inWord) {
            if (current.words.isEmpty())
                current.line = line;
            current.words.append(word);
        }
        word.clear();
        inWord = false;
    };
    const auto endCommand = [&] {
        endWord();
        if (!current.words.isEmpty())
            commands.append(current);
        current = Words();
    };
    const auto startWord = [&] {
        if (!inWord && current.words.isEmpty())
            current.line = line;
        inWord = true;
    };

    // Line by line, so that a byte that is no UTF-8 is named by its line.
    QString text;
    int notUtf8 = 0; // the first line that is not UTF-8 text
    for (qsizetype begin = 0, number = 1; begin < script.size(); ++number) {
        qsizetype end = script.indexOf('\n', begin);
        end = end < 0 ? script.size() : end + 1;
        QStringDecoder decoder(QStringDecoder::Utf8);
        text += decoder.decode(QByteArrayView(script).sliced(begin, end - begin));
        if (decoder.hasError() && !notUtf8)
            notUtf8 = int(number);
        begin = end;
    }

    // A line that a shell would not read as we do is named, unless a line
    // before it is wrong already.
    const auto failAt = [&](ScriptError syntax) {
        for (const Words& command : commands) {
            const std::variant<IniEdit, QString> edit = editOf(command.words);
            if (const QString* why = std::get_if<QString>(&edit))
                return ScriptError{command.line, *why};
        }
        return syntax;
    };
    const auto special = [](QChar c) {
        return c == u';' || c == u'&' || c == u'|' || c == u'<' || c == u'>' || c == u'(' || c == u')';
    };
    // What goes into a word as it stands, once a word has begun.
    const auto plain = [&special](QChar c) {
        return c != u'\n' && c != u'\r' && c != u' ' && c != u'\t' && c != u'\\' && c != u'\'' && c != u'"'
            && c != u'$' && c != u'`' && !special(c);
    };
    const QString expanded = QStringLiteral("'%1' would be expanded by a shell; put it in single quotes");
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (notUtf8 && line >= notUtf8)
            return failAt(ScriptError{notUtf8, QStringLiteral("the line is not UTF-8 text")});
        const QChar c = text[i];
        if (c == u'\n') {
            endCommand();
            ++line;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            // A script saved with CR LF.
        } else if (c == u' ' || c == u'\t') {
            endWord();
        } else if (c == u'#' && !inWord) {
            while (i + 1 < text.size() && text[i + 1] != u'\n')
                ++i;
        } else if (c == u'\\') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
                ++line;
            } else if (i + 2 < text.size() && text[i + 1] == u'\r' && text[i + 2] == u'\n') {
                i += 2;
                ++line;
            } else {
                startWord();
                if (i + 1 < text.size())
                    word += text[++i];
            }
        } else if (c == u'\'' || c == u'"') {
            startWord();
            const int opened = line;
            for (++i;; ++i) {
                if (i >= text.size() || text[i] == u'\n')
                    return failAt(ScriptError{opened, QStringLiteral("a quote (%1) is not closed on its line").arg(c)});
                const QChar d = text[i];
                if (d == c)
                    break;
                if (c == u'"' && (d == u'$' || d == u'`'))
                    return failAt(ScriptError{line, expanded.arg(d)});
                if (c == u'"' && d == u'\\' && i + 1 < text.size()) {
                    const QChar next = text[i + 1];
                    if (next == u'\n')
                        return failAt(ScriptError{opened, QStringLiteral("a quote (%1) is not closed on its line").arg(c)});
                    if (next == u'$' || next == u'`' || next == u'"' || next == u'\\') {
                        word += next;
                        ++i;
                        continue;
                    }
                }
                word += d;
            }
        } else if (c == u'$' || c == u'`') {
            return failAt(ScriptError{line, expanded.arg(c)});
        } else if (special(c)) {
            return failAt(ScriptError{line, QStringLiteral("'%1' means something else to a shell; quote it").arg(c)});
        } else {
            // The rest of a plain word at once: a script of 10,000 lines
            // spent most of its parse appending character by character.
            startWord();
            qsizetype end = i + 1;
            while (end < text.size() && plain(text[end]))
                ++end;
            word += QStringView(text).sliced(i, end - i);
            i = end - 1;
        }
    }
    endCommand();

    for (const Words& command : commands) {
        std::variant<IniEdit, QString> edit = editOf(command.words);
        if (const QString* why = std::get_if<QString>(&edit))
            return ScriptError{command.line, *why};
        edits.append(ScriptEdit{std::get<IniEdit>(edit), command.line});
    }
    return edits;
}
