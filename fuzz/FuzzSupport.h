#pragma once

// What both fuzz targets share: how an input is split, a scratch folder, and
// the check that aborts with a readable account of what went wrong.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

// Inputs are the file's bytes, then 0x1E, then the operation: a flags byte,
// an index byte and 0x1F-separated texts. Without a 0x1E the whole input is
// the file and the operation is all zeros. See fuzz/README.md.
struct Input {
    QByteArray file;
    unsigned flags = 0;
    unsigned index = 0;
    QList<QByteArray> texts;

    QByteArray text(qsizetype i) const { return i < texts.size() ? texts[i] : QByteArray(); }
};

inline Input split(const uint8_t* data, size_t size)
{
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    Input input;
    const qsizetype cut = all.lastIndexOf('\x1E');
    if (cut < 0) {
        input.file = all;
        return input;
    }
    input.file = all.left(cut);
    const QByteArray op = all.mid(cut + 1);
    if (op.size() > 0)
        input.flags = static_cast<unsigned char>(op[0]);
    if (op.size() > 1)
        input.index = static_cast<unsigned char>(op[1]);
    if (op.size() > 2)
        input.texts = op.mid(2).split('\x1F');
    return input;
}

// One scratch folder for the whole run; each input rewrites its files.
inline const QString& scratch()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/brennwerk-fuzz-XXXXXX"));
    static const QString path = dir.path();
    if (!dir.isValid())
        std::abort();
    return path;
}

inline void put(const QString& path, const QByteArray& bytes)
{
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

inline QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

inline QByteArray show(const QByteArray& bytes)
{
    return bytes.left(300).toPercentEncoding(" []=;\"'\\@#:,()");
}

inline QByteArray show(const QString& text)
{
    return show(text.toUtf8());
}

[[noreturn]] inline void broken(const char* what, const char* file, int line, const QByteArray& detail)
{
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n%s\n", file, line, what, detail.constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace Fuzz

// Aborts (so libFuzzer keeps the input) when the invariant does not hold.
#define FUZZ_CHECK(condition, detail)                                                                               \
    do {                                                                                                             \
        if (!(condition))                                                                                            \
            ::Fuzz::broken(#condition, __FILE__, __LINE__, QByteArray(detail));                                     \
    } while (0)
