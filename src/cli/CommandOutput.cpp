#include "cli/CommandOutput.h"

#include "config/TextCodec.h"
#include "platform/TerminalText.h"

#include <cerrno>

#include <unistd.h>

CommandOutput& CommandOutput::operator+=(const QString& text)
{
    append(text.toUtf8(), Encoding::Utf8);
    return *this;
}

void CommandOutput::append(const QByteArray& bytes, Encoding encoding)
{
    if (bytes.isEmpty())
        return;
    if (!pieces_.isEmpty() && pieces_.back().second == encoding)
        pieces_.back().first += bytes;
    else
        pieces_.append({bytes, encoding});
}

QByteArray CommandOutput::bytes() const
{
    QByteArray all;
    for (const auto& [bytes, encoding] : pieces_)
        all += bytes;
    return all;
}

QString CommandOutput::text() const
{
    QString all;
    for (const auto& [bytes, encoding] : pieces_)
        all += encoding == Encoding::Utf8 ? TextCodec::fromUtf8(bytes) : TextCodec::fromWindows1252(bytes);
    return all;
}

void CommandOutput::replace(const QString& from, const QString& to)
{
    for (auto& [bytes, encoding] : pieces_) {
        if (encoding == Encoding::Utf8)
            bytes.replace(from.toUtf8(), to.toUtf8());
    }
}

int put(const CommandOutput& output, std::FILE* stream)
{
    const QByteArray bytes = ::isatty(::fileno(stream)) ? TerminalText::escaped(output.text()).toLocal8Bit()
                                                        : output.bytes();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size())
        || std::fflush(stream) != 0)
        return errno ? errno : EIO;
    return 0;
}
