#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Wine's registry text format ("WINE REGISTRY Version 2", as in system.reg):
// reading it the way wineserver does, and changing one string value while
// every other byte of the file stays as it was.
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

// Escapes text the way wineserver writes it: a backslash before '\' and the
// two special characters, C escapes or octal for control characters, "\x"
// plus the hexadecimal UTF-16 unit for everything above ASCII.
QByteArray escape(QStringView text, char special1, char special2);

// Decodes escaped text up to the first unescaped endChar. Returns nothing when
// endChar never comes; otherwise *next is the offset just past it. Raw bytes
// above ASCII (Wine never writes them, a text editor might) are read as UTF-8.
std::optional<QString> unescape(QByteArrayView text, char endChar, qsizetype* next);

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

// A key as a program sees it through one view of a 64-bit Wine prefix's
// machine hive, the way wineserver finds it: a key that holds a
// "Wow6432Node" subkey stands, for a 32-bit program, for that subkey (so
// Software\X is Software\Wow6432Node\X); a link key ("#link", the
// REG_LINK value "SymbolicLinkValue") stands for the key it names; nothing
// else is redirected or shared. In the 64-bit view, and in a 32-bit prefix,
// only the links apply.
struct ViewLookup {
    enum class State {
        Exists,     // key: where the file holds it
        Missing,    // key: where creating it puts it (the part that exists, then the rest)
        Unreachable // a link on the way leads nowhere: it can be neither opened nor created
    };
    State state = State::Missing;
    QStringList key;
    // The key's values in the file's order, when it exists.
    std::vector<Value> values;
};

// Whether the file is the machine hive of a 64-bit prefix ("#arch=win64"
// among the lines before the first key).
bool isWin64(const QByteArray& bytes);

// Nothing when the bytes are not a Wine registry file.
std::optional<ViewLookup> lookUpInView(const QByteArray& bytes, const QStringList& path, bool view32);

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
    QByteArrayView content(int line) const;
    QByteArrayView raw(int line) const;
    QByteArrayView terminator(int line) const;
    QStringList spelledPath(const QStringList& path) const;
    QByteArray newline() const;

    QByteArray bytes_;
    std::vector<Line> lines_;
    bool cutShort_ = false;
    std::vector<Key> keys_;
};

} // namespace WineRegText
