#include "platform/PhysicalMemory.h"

#include <QFile>
#include <QtTest>

#include <limits>

using namespace Qt::StringLiterals;

// The machine's memory as the program reads it, cut to what 32 bits hold.
class PhysicalMemoryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void saturatesMemoryToThirtyTwoBits();
};

void PhysicalMemoryTest::saturatesMemoryToThirtyTwoBits()
{
    QCOMPARE(saturateToUInt32(0), 0u);
    QCOMPARE(saturateToUInt32(536870912), 536870912u);
    QCOMPARE(saturateToUInt32(Q_UINT64_C(4294967295)), 4294967295u);
    QCOMPARE(saturateToUInt32(Q_UINT64_C(4294967296)), 4294967295u);
    QCOMPARE(saturateToUInt32(std::numeric_limits<std::uint64_t>::max()), 4294967295u);

    // The machine's memory as the kernel reports it in /proc/meminfo.
    QFile meminfo(u"/proc/meminfo"_s);
    if (!meminfo.open(QIODevice::ReadOnly))
        QSKIP("no /proc/meminfo");
    const QByteArray text = meminfo.readAll();
    const qsizetype at = text.indexOf("MemTotal:");
    QVERIFY(at >= 0);
    const QByteArray kib = text.mid(at + 9, text.indexOf('\n', at) - at - 9).replace("kB", "").trimmed();
    const std::uint64_t bytes = kib.toULongLong() * 1024;
    QVERIFY(bytes > 0);
    QCOMPARE(totalPhysicalMemoryBytes(), bytes > 4294967295u ? 4294967295u : std::uint32_t(bytes));
}

QTEST_GUILESS_MAIN(PhysicalMemoryTest)
#include "test_physicalmemory.moc"
