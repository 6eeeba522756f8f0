#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>
#include <utility>

// What a command prints on one of its streams. A pipe or a file gets the
// bytes exactly: the program's own words as UTF-8, the lines of an INI file
// (a diff, the new content of standard input) as the file holds them, CR and
// Windows-1252 included, so that patch can apply what a diff says and a
// filter's output is the file. A terminal gets the same as text, each piece
// decoded as it was written, with what would drive the terminal escaped
// (TerminalText).
class CommandOutput {
public:
    enum class Encoding { Utf8, Windows1252 };

    CommandOutput& operator+=(const QString& text);
    void append(const QByteArray& bytes, Encoding encoding);

    bool isEmpty() const { return pieces_.isEmpty(); }
    QByteArray bytes() const;
    QString text() const;
    // Every occurrence of `from` in the UTF-8 pieces replaced by `to`.
    void replace(const QString& from, const QString& to);

private:
    QList<std::pair<QByteArray, Encoding>> pieces_;
};

// Puts the output on the stream, flushed: the bytes, or on a terminal the
// text. Returns 0, or the errno of the write that failed or fell short.
int put(const CommandOutput& output, std::FILE* stream);
