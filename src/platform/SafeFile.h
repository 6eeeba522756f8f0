#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Whole-file reads and crash-safe whole-file writes, shared by the INI layer
// and the registry file.
namespace SafeFile {

// The file's bytes, or nothing when it does not exist or cannot be read.
std::optional<QByteArray> read(const QString& path);

// True when the file exists and carries no write permission bit at all. Such a
// file is never replaced, even by root.
bool isReadOnly(const QString& path);

// Replaces the file's content: a temporary file in the same folder, flushed to
// disk and renamed over the original, whose permissions (and, for root, owner)
// it keeps. A symbolic link is followed, so the link's target changes. The
// file is created when its folder exists. On any failure throws EditorError
// "Unable to write to <path>", leaving the original untouched and no
// temporary file behind.
//
// The temporary file is ".<name>.brennwerk-XXXXXX" (six letters or digits)
// beside the file, locked while it is written. A process killed in mid-write
// leaves it behind; the next write to the same file removes every such file
// that no living writer holds locked.
void write(const QString& path, const QByteArray& content);

// Tests watch the order of writes and make a chosen write fail through this
// hook: it sees every write before it happens; returning false makes that
// write fail as a full disk would. Empty: no hook.
using WriteHook = std::function<bool(const QString& path, const QByteArray& content)>;
void setWriteHook(WriteHook hook);

} // namespace SafeFile
