#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <QList>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

// The INI syntax of the game's files, on bytes. Knows nothing of code pages:
// names and values come in and go out in the file's own encoding, and every
// byte that is not part of the change stays where it was.
//
// How a file reads (as the Windows profile functions read it):
// - Lines end at CR LF, LF or a lone CR. A UTF-8 byte-order mark before the
//   first line is not part of it.
// - Blanks and tabs at the start of a line are ignored. A line starting with
//   ";" is a comment. A line starting with "[" opens a section named by what
//   stands up to the last "]" on the line (or, without one, up to the line's
//   end), blanks and tabs around the name dropped.
// - Any other line with "=" is a key: the name before the first "=", the value
//   after it, both without surrounding blanks and tabs. A value that starts
//   and ends with the same quote character (" or ') is read without those two.
//   Other lines are ignored, as are keys before the first section.
// - Names match without regard to ASCII letter case. The first section of a
//   name and the first key of a name in it are the ones that count.
namespace IniText {

// The value of [section] key, or nothing when the section or the key is
// missing. A NUL byte ends the value, as it ends the string the Windows
// functions return.
std::optional<QByteArray> valueOf(QByteArrayView text, QByteArrayView section, QByteArrayView key);

// The text with [section] key set to value, which must hold no line break or
// NUL. The value is written as it stands, blanks and quotes included, as the
// Windows functions write it and the game reads it; so a value with blanks at
// its ends or inside a pair of quotes reads back otherwise. An existing key
// (its first line) keeps its line up to the old value: the key's spelling,
// the blanks around "=" (those after it only when the new value is not empty
// and does not start with a blank of its own). An old value in a pair of
// quotes keeps them, which then enclose the new value, and every byte before
// the opening and after the closing quote stays. Blanks after an unquoted old
// value go. A new key goes after the last key line of its section, a new
// section at the end of the text behind a blank line. Added lines end like
// their neighbours, else like the first line, else with CR LF.
QByteArray withValue(const QByteArray& text, QByteArrayView section, QByteArrayView key,
                     QByteArrayView value);

// ---- repeated keys ----------------------------------------------------------
// The game reads every line of some keys as one list (ServerPackages,
// ServerActors, Paths, EditPackages). These functions see every line of a key
// in the first section of its name.

// What a read makes of a value as it stands after "=": blanks and tabs at its
// ends dropped, then a pair of quotes, then everything from a NUL on.
QByteArray readValue(QByteArrayView raw);

// Whether two names or values are the same to the game: ASCII letters
// compared without regard to case, every other byte as it is.
bool sameText(QByteArrayView a, QByteArrayView b);

// Whether the text has a section of that name.
bool hasSection(QByteArrayView text, QByteArrayView section);

// The names of the sections, in the order of the text, each once (as first
// spelt).
QList<QByteArray> sectionNames(QByteArrayView text);

// The key lines of the section, in order: each line's key name and its value
// as a read gives it. Nothing when the section is missing.
std::optional<QList<std::pair<QByteArray, QByteArray>>> entriesOf(QByteArrayView text, QByteArrayView section);

// Every value of the key in the section, in order, each as a read gives it.
QList<QByteArray> valuesOf(QByteArrayView text, QByteArrayView section, QByteArrayView key);

// The text with one more line "key=value" right after the key's last line in
// the section, spelt as that line spells the key; without such a line, where
// withValue adds a new key or section. The line ends like the one it follows.
QByteArray withAdded(const QByteArray& text, QByteArrayView section, QByteArrayView key, QByteArrayView value);

// The text without the lines of the key in the section whose read value
// `remove` accepts (every line of the key when it is empty), each line with
// its line break. A text that ended without a line break still does, unless
// the line before the removed ones is blank: it keeps its break.
QByteArray withoutLines(const QByteArray& text, QByteArrayView section, QByteArrayView key,
                        const std::function<bool(QByteArrayView value)>& remove = {});

// ---- one parse, many lookups ------------------------------------------------
// A text read once and asked many times (a page reads a hundred keys of one
// file): the first section of each name is found by one pass over the text,
// and the keys of a section by one pass over that section when it is first
// asked for. Every answer is the one the function of the same name above
// gives for the whole text. It keeps where those lines stand, 9 to 19 bytes
// a line, never a copy of a name: a file of ten million one-line sections
// costs a little more than twice its size, not twenty times.
class Index {
public:
    explicit Index(QByteArray text);
    ~Index();
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    const QByteArray& text() const { return text_; }

    std::optional<QByteArray> valueOf(QByteArrayView section, QByteArrayView key) const;
    bool hasSection(QByteArrayView section) const;
    QList<QByteArray> sectionNames() const;
    // Each name that sectionNames() gives, in its order, without a list of
    // them all.
    void forEachSectionName(const std::function<void(QByteArrayView name)>& visit) const;
    std::optional<QList<std::pair<QByteArray, QByteArray>>> entriesOf(QByteArrayView section) const;
    QList<QByteArray> valuesOf(QByteArrayView section, QByteArrayView key) const;

    // Where the first section of the name stands: from its header line to
    // the next header line or the text's end. Nothing when it is missing.
    std::optional<std::pair<qsizetype, qsizetype>> span(QByteArrayView section) const;

private:
    friend class Editor;
    class Lines;
    struct Keys;
    // The offset of the header line of the first section of the name; -1.
    qsizetype headerOf(QByteArrayView section) const;
    // Where the section that starts at the header ends: the next header line.
    qsizetype endOf(qsizetype header) const;
    QByteArrayView partOf(qsizetype header) const;
    const Keys& keysOf(qsizetype header) const;
    QByteArray text_;
    std::unique_ptr<Lines> sections_;
    std::vector<bool> repeated_; // by header line: one of a name that came before
    mutable std::unordered_map<qsizetype, std::unique_ptr<Keys>> keys_; // by header, made when first asked
};

// ---- many edits, one parse ---------------------------------------------------
// The edits of a script made on one parse of the text: each gives the bytes
// that the function of the same name above gives on the text the edits
// before it left, at the cost of what it touches (the section, once, when a
// key of it is first asked for; then the key's lines), and the bytes are made
// once, by text(). A section is held as its lines (views into the text, or
// lines made here) only from then on, or once a new section goes after it;
// the rest of the text is copied as it stands.
//
// Names and values come as GameConfigStore passes them: names without blanks
// or tabs at their ends, no line break or NUL in a name or value, no "]" in a
// section name, no "=" in a key name nor ";" or "[" at its start. (Then a line
// this makes reads as the key or section it was made for, which the edits
// after it rely on.)
class Editor {
public:
    // The text to edit, and its index if there is one (which must outlive
    // the editor).
    explicit Editor(QByteArray text, const Index* index = nullptr);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    bool hasSection(QByteArrayView section);
    std::optional<QByteArray> valueOf(QByteArrayView section, QByteArrayView key);
    // How many lines the key has (valuesOf(...).size()).
    qsizetype lineCount(QByteArrayView section, QByteArrayView key);
    // Whether a line of the key reads (readValue) as `read`, ASCII letter
    // case aside (sameText).
    bool holds(QByteArrayView section, QByteArrayView key, QByteArrayView read);

    void withValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);
    void withAdded(QByteArrayView section, QByteArrayView key, QByteArrayView value);
    // withoutLines of the lines that read as `read` (ASCII letter case
    // aside), or of every line of the key.
    void withoutLines(QByteArrayView section, QByteArrayView key, std::optional<QByteArrayView> read);

    // The text as the edits left it.
    QByteArray text() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The break that withValue gives a line it adds after the text's last line
// when that has none: the first line's, else CR LF. Edits of a section's part
// of a text (Index::span) give the bytes the edits of the whole text give
// when they are told this break of the whole text.
QByteArray fallbackBreak(QByteArrayView text);
QByteArray withValue(const QByteArray& part, QByteArrayView section, QByteArrayView key, QByteArrayView value,
                     QByteArrayView fallbackBreak);

} // namespace IniText
