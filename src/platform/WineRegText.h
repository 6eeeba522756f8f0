#pragma once

#include "platform/WineRegEscape.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Wine's registry text format ("WINE REGISTRY Version 2", as in system.reg):
// the keys and values a file holds, read the way wineserver reads them, and
// the file with one string value changed while every other byte stays as it
// was. The work is spread by job:
//   WineRegEscape  escaping of names and texts
//   WineRegScan    the one pass over a file's lines the others share
//   WineRegRead    reading: Document::parse, lookUp and the queries
//   WineRegEdit    editing: Document::withStringValue
//   WineRegView    a key as a 32-bit program sees it in a 64-bit prefix
namespace WineRegText {

// Wine's value type numbers, as they appear in "hex(N):" and "str(N):".
enum ValueType : unsigned {
    RegNone = 0, // also what a value whose data does not parse becomes
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegLink = 6,
    RegMultiSz = 7,
};

// The text a new, empty registry file starts with.
QByteArray newFileHeader();

// Compares names the way wineserver orders and matches them.
QString foldCase(const QString& name);

struct Value {
    QString name;            // empty for the default value ("@")
    unsigned type = RegNone;
    std::optional<QString> text; // for REG_SZ and REG_EXPAND_SZ, cut at the first NUL
    // REG_SZ data that is the text and its closing NUL, nothing cut off:
    // what writing that text as REG_SZ stores.
    bool plainText = false;
    std::optional<QString> link; // for REG_LINK: the path of the key a link key stands for
    int firstLine = 0;
    int lastLine = 0;        // continuation lines of long hex data included
    qsizetype prefixEnd = 0; // bytes of the first line up to and including '='
};

struct Key {
    // The names below the hive joined by "\\", as spelled in the file and
    // folded. One string each, not a list of names: a real system.reg holds
    // thousands of keys, and a string per name made reading it slow.
    QString path;
    QString foldedPath;
    int line = 0;            // the "[...]" line
    qsizetype nameEnd = 0;   // bytes of that line up to and including ']'
    int lastContentLine = 0; // last line that belongs to the block's content
    std::vector<int> timeLines; // "#time=" option lines
    bool link = false;          // "#link": the key stands for the one its SymbolicLinkValue names
    std::vector<Value> values;
};

// Where a line lies in the file.
struct Line {
    qsizetype begin = 0;
    qsizetype contentEnd = 0; // before "\r\n", "\n" or the end of the file
    qsizetype end = 0;        // after the line terminator
};

// The answer to a read, found in one pass over the file without building a
// Document: a real system.reg holds thousands of keys, and start-up looks
// for one value in it.
struct Lookup {
    // For each path asked, whether Document::keyExists would say so.
    std::vector<bool> keyExists;
    // For each path asked, the values of its blocks in the file's order.
    std::vector<std::vector<Value>> values;
};

// Nothing when the bytes are not a Wine registry file.
std::optional<Lookup> lookUp(const QByteArray& bytes, const std::vector<QStringList>& paths);

// The value as the registry sees it: the last one of that name.
const Value* lastNamed(const std::vector<Value>& values, const QString& name);

class Document {
public:
    // Nothing when the bytes are not a Wine registry file (wrong first line).
    static std::optional<Document> parse(const QByteArray& bytes);

    const QByteArray& bytes() const { return bytes_; }

    bool keyExists(const QStringList& path) const;
    // Whether a block of the key says it is a link key ("#link").
    bool isLink(const QStringList& path) const;

    // A value's data goes on past the file's end (a file cut short): any
    // line added after it would be read as that data, so such a file is not
    // written.
    bool cutShort() const { return cutShort_; }

    // The value as the registry sees it: the last one of that name in any
    // block of the key. Nothing when the key or the value is missing.
    const Value* findValue(const QStringList& path, const QString& name) const;

    // The file with the value set as REG_SZ and the key's time stamp set to
    // the given moment; the key block is added when missing.
    QByteArray withStringValue(const QStringList& path, const QString& name, const QString& text,
                               qint64 msecsSinceEpoch) const;

private:
    // The steps of withStringValue (WineRegEdit.cpp).
    class StringValueEdit;

    // A line's text as wineserver reads it, the whole line with its line
    // break, and that line break alone.
    QByteArrayView lineText(int line) const;
    QByteArrayView wholeLine(int line) const;
    QByteArrayView lineEnding(int line) const;
    QStringList spelledPath(const QStringList& path) const;
    // The line break new lines get: the one the file's first line ends with.
    QByteArray newline() const;

    QByteArray bytes_;
    std::vector<Line> lines_;
    bool cutShort_ = false;
    std::vector<Key> keys_;
};

} // namespace WineRegText
