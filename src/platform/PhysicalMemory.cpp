#include "platform/PhysicalMemory.h"

#include <QFile>

#include <limits>

#include <sys/sysinfo.h>

namespace {

// /proc/meminfo's "MemTotal: <n> kB", for when sysinfo(2) fails.
std::uint64_t memTotalFromProc()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096);
        if (!line.startsWith("MemTotal:"))
            continue;
        const QList<QByteArray> fields = line.mid(9).simplified().split(' ');
        bool ok = false;
        const qulonglong kib = fields.value(0).toULongLong(&ok);
        if (!ok)
            return 0;
        if (kib > std::numeric_limits<std::uint64_t>::max() / 1024)
            return std::numeric_limits<std::uint64_t>::max();
        return kib * 1024;
    }
    return 0;
}

} // namespace

std::uint32_t saturateToUInt32(std::uint64_t value)
{
    constexpr std::uint64_t max = std::numeric_limits<std::uint32_t>::max();
    return value > max ? std::uint32_t(max) : std::uint32_t(value);
}

std::uint32_t totalPhysicalMemoryBytes()
{
    struct sysinfo info {};
    if (::sysinfo(&info) == 0 && info.totalram > 0) {
        std::uint64_t bytes = 0;
        const std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
        if (__builtin_mul_overflow(std::uint64_t(info.totalram), unit, &bytes))
            bytes = std::numeric_limits<std::uint64_t>::max();
        return saturateToUInt32(bytes);
    }
    return saturateToUInt32(memTotalFromProc());
}
