#pragma once

#include "platform/WineRegText.h"

#include <QByteArray>
#include <QStringList>

#include <optional>
#include <vector>

// The 64-bit view redirection of Wine's registry: where a key lies for a
// 32-bit or a 64-bit program, found in the file's text without building a
// Document.
namespace WineRegText {

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


} // namespace WineRegText
