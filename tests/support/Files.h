#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The file's bytes; empty when it cannot be read.
QByteArray readBytes(const QString& path);
// The file's bytes, or "<unreadable>", so that a comparison tells a missing
// file from an empty one.
QByteArray bytesOf(const QString& path);
// The bytes of a file of the source tree (a fixture), by its path below the
// source folder; the test ends when it is missing.
QByteArray sourceBytes(const QString& path);
// Replaces the file's bytes; the test ends when that fails.
void writeBytes(const QString& path, const QByteArray& bytes);

// The error box's text when the file cannot be written.
QString unableToWrite(const QString& path);

// The message of the EditorError the call throws; empty when it throws none.
QString failureOf(const std::function<void()>& call);
