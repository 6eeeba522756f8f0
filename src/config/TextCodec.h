#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The game's INI files are Windows-1252 text. Qt 6 has no such codec without
// ICU, so the table lives here. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same
// number and back, so every byte of a file survives a read and a write.
namespace TextCodec {

QString fromWindows1252(QByteArrayView bytes);

// Nothing when the text holds a character that has no byte in the code page.
std::optional<QByteArray> toWindows1252(QStringView text);

// A file marked as UTF-8 may still hold bytes that are no UTF-8 (a hand edit
// in another code page, a cut sequence). Each such byte becomes the lone
// surrogate U+DC80 + (byte - 0x80), and toUtf8 turns it back into the byte,
// so a value read and written again keeps its bytes.
QString fromUtf8(QByteArrayView bytes);

// UTF-8 bytes, or nothing when the text holds a lone surrogate other than
// the escaped bytes above, which UTF-8 cannot carry.
std::optional<QByteArray> toUtf8(QStringView text);

// The first character (as a full code point) that the encoder above refuses;
// used to name it in error messages. -1 when there is none.
qsizetype firstUnencodable(QStringView text, bool utf8);

} // namespace TextCodec
