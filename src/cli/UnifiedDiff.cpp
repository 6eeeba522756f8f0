#include "cli/UnifiedDiff.h"

#include <QByteArrayView>
#include <QHash>

#include <algorithm>
#include <vector>

namespace {

constexpr qsizetype contextLines = 3;
// Beyond this many differing lines, or this much work for the lines it
// compares, the shortest edit script costs too much memory or time to find
// (an apply of thousands of changes to a large file); the lines are then
// split where a line that stands once in each is left in place.
constexpr qsizetype maxEditDistance = 1000;
constexpr qsizetype workPerLine = 16;
constexpr qsizetype workAtLeast = qsizetype(1) << 20;

// A line with its line break, which takes part in the comparison: a line
// whose break alone changed is a changed line. Lines end where patch and git
// apply end them, at LF: a CR is a byte of its line to them, and a lone CR
// that ended a line here would make a diff that neither applies.
std::vector<QByteArrayView> linesOf(const QByteArray& text)
{
    std::vector<QByteArrayView> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            lines.emplace_back(text.constData() + begin, i + 1 - begin);
            begin = i + 1;
        }
    }
    if (begin < text.size())
        lines.emplace_back(text.constData() + begin, text.size() - begin);
    return lines;
}

enum class Op : char { Same = ' ', Removed = '-', Added = '+' };

// The shortest edit script between a and b (Myers), as one op a line; or
// nothing when it is longer than maxEditDistance or takes more work than
// the lines' count allows.
std::optional<std::vector<Op>> shortestEdit(const std::vector<QByteArrayView>& a,
                                            const std::vector<QByteArrayView>& b)
{
    const qsizetype n = qsizetype(a.size());
    const qsizetype m = qsizetype(b.size());
    const qsizetype limit = std::min(n + m, maxEditDistance);
    const qsizetype offset = limit + 1;
    qsizetype work = workPerLine * (n + m) + workAtLeast;
    std::vector<qsizetype> v(size_t(2 * offset + 1), 0);
    std::vector<std::vector<qsizetype>> trace;
    for (qsizetype d = 0; d <= limit; ++d) {
        trace.push_back(v);
        work -= qsizetype(v.size());
        for (qsizetype k = -d; k <= d; k += 2) {
            qsizetype x = (k == -d || (k != d && v[size_t(offset + k - 1)] < v[size_t(offset + k + 1)]))
                              ? v[size_t(offset + k + 1)]
                              : v[size_t(offset + k - 1)] + 1;
            qsizetype y = x - k;
            const qsizetype from = x;
            while (x < n && y < m && a[size_t(x)] == b[size_t(y)]) {
                ++x;
                ++y;
            }
            work -= 1 + x - from;
            if (work < 0)
                return std::nullopt;
            v[size_t(offset + k)] = x;
            if (x >= n && y >= m) {
                // Back through the trace, from the end to the start.
                std::vector<Op> ops;
                qsizetype cx = n, cy = m;
                for (qsizetype e = d; e > 0; --e) {
                    const std::vector<qsizetype>& w = trace[size_t(e)];
                    const qsizetype ck = cx - cy;
                    const bool down = ck == -e || (ck != e && w[size_t(offset + ck - 1)] < w[size_t(offset + ck + 1)]);
                    const qsizetype pk = down ? ck + 1 : ck - 1;
                    const qsizetype px = w[size_t(offset + pk)];
                    const qsizetype py = px - pk;
                    while (cx > px + (down ? 0 : 1) && cy > py + (down ? 1 : 0)) {
                        ops.push_back(Op::Same);
                        --cx;
                        --cy;
                    }
                    ops.push_back(down ? Op::Added : Op::Removed);
                    cx = px;
                    cy = py;
                }
                while (cx > 0 && cy > 0) {
                    ops.push_back(Op::Same);
                    --cx;
                    --cy;
                }
                std::reverse(ops.begin(), ops.end());
                return ops;
            }
        }
    }
    return std::nullopt;
}

// The ops that turn a into b: the shortest edit script where it can be
// found; else, split at the lines that stand once in a and once in b, in
// the same order in both (the longest such run: "patience"), the lines
// between them each on their own; else all of a removed and b added.
std::vector<Op> opsOf(const std::vector<QByteArrayView>& a, const std::vector<QByteArrayView>& b)
{
    std::vector<Op> ops;
    // Worked out from the end, the script keeps the earlier of two equal
    // lines as the changed one ("-old +new" above an unchanged copy of old),
    // as diff -u shows a replaced line.
    const std::vector<QByteArrayView> backA(a.rbegin(), a.rend());
    const std::vector<QByteArrayView> backB(b.rbegin(), b.rend());
    if (std::optional<std::vector<Op>> found = shortestEdit(backA, backB)) {
        ops = *std::move(found);
        std::reverse(ops.begin(), ops.end());
        // Within a run of changes, the lines removed before those added.
        for (auto run = ops.begin(); run != ops.end();) {
            const auto end = std::find(run, ops.end(), Op::Same);
            std::stable_partition(run, end, [](Op op) { return op == Op::Removed; });
            run = end == ops.end() ? end : end + 1;
        }
        return ops;
    }
    struct Seen {
        qsizetype inA = 0, inB = 0;
        qsizetype atA = 0, atB = 0;
    };
    QHash<QByteArrayView, Seen> seen;
    for (size_t i = 0; i < a.size(); ++i) {
        Seen& line = seen[a[i]];
        ++line.inA;
        line.atA = qsizetype(i);
    }
    for (size_t j = 0; j < b.size(); ++j) {
        Seen& line = seen[b[j]];
        ++line.inB;
        line.atB = qsizetype(j);
    }
    std::vector<std::pair<qsizetype, qsizetype>> unique; // by their place in a
    for (const QByteArrayView line : a) {
        const Seen& once = seen[line];
        if (once.inA == 1 && once.inB == 1)
            unique.emplace_back(once.atA, once.atB);
    }
    // The longest run of them in the same order in b: piles of patience
    // sorting, each card linked to the top of the pile left of its own.
    std::vector<size_t> tops;
    std::vector<qsizetype> below(unique.size(), -1);
    for (size_t i = 0; i < unique.size(); ++i) {
        const auto pile = std::lower_bound(tops.begin(), tops.end(), unique[i].second,
                                           [&](size_t top, qsizetype atB) { return unique[top].second < atB; });
        if (pile != tops.begin())
            below[i] = qsizetype(*(pile - 1));
        if (pile == tops.end())
            tops.push_back(i);
        else
            *pile = i;
    }
    std::vector<std::pair<qsizetype, qsizetype>> anchors;
    for (qsizetype i = tops.empty() ? -1 : qsizetype(tops.back()); i >= 0; i = below[size_t(i)])
        anchors.push_back(unique[size_t(i)]);
    std::reverse(anchors.begin(), anchors.end());
    if (anchors.empty()) {
        ops.insert(ops.end(), a.size(), Op::Removed);
        ops.insert(ops.end(), b.size(), Op::Added);
        return ops;
    }
    qsizetype fromA = 0;
    qsizetype fromB = 0;
    anchors.emplace_back(qsizetype(a.size()), qsizetype(b.size())); // the end, no line
    for (const auto& [atA, atB] : anchors) {
        const std::vector<QByteArrayView> partA(a.begin() + fromA, a.begin() + atA);
        const std::vector<QByteArrayView> partB(b.begin() + fromB, b.begin() + atB);
        const std::vector<Op> part = opsOf(partA, partB);
        ops.insert(ops.end(), part.begin(), part.end());
        if (atA < qsizetype(a.size()))
            ops.push_back(Op::Same);
        fromA = atA + 1;
        fromB = atB + 1;
    }
    return ops;
}

QByteArray range(qsizetype start, qsizetype count)
{
    // As diff -u writes it: a single line by its number alone, an empty
    // range by the line before it.
    if (count == 1)
        return QByteArray::number(start + 1);
    return QByteArray::number(count == 0 ? start : start + 1) + ',' + QByteArray::number(count);
}

// A file name as patch and git apply read it from a header: as it is, or,
// when a blank would end it there or a byte would not survive the line, in
// double quotes with C escapes, which both take (and git writes).
QByteArray headerName(const QByteArray& name)
{
    const bool plain = !name.isEmpty() && std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7f || c == '"' || c == '\\';
    });
    if (plain)
        return name;
    QByteArray quoted = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            quoted += QByteArray("\\") + c;
        else if (c == '\t')
            quoted += "\\t";
        else if (c == '\n')
            quoted += "\\n";
        else if (byte < ' ' || byte == 0x7f)
            quoted += '\\' + QByteArray::number(byte, 8).rightJustified(3, '0');
        else
            quoted += c;
    }
    return quoted + '"';
}

} // namespace

void unifiedDiff(CommandOutput& out, const QString& fileName, const QByteArray& before, const QByteArray& after)
{
    if (before == after)
        return;
    const std::vector<QByteArrayView> a = linesOf(before);
    const std::vector<QByteArrayView> b = linesOf(after);

    // The lines both start and end with are the same lines; the edit script
    // is worked out for the middle.
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const std::vector<QByteArrayView> middleA(a.begin() + qsizetype(head), a.end() - qsizetype(tail));
    const std::vector<QByteArrayView> middleB(b.begin() + qsizetype(head), b.end() - qsizetype(tail));
    std::vector<Op> ops(head, Op::Same);
    const std::vector<Op> middle = opsOf(middleA, middleB);
    ops.insert(ops.end(), middle.begin(), middle.end());
    ops.insert(ops.end(), tail, Op::Same);

    // Where each op stands in a and in b.
    std::vector<qsizetype> atA(ops.size() + 1), atB(ops.size() + 1);
    for (size_t i = 0; i < ops.size(); ++i) {
        atA[i + 1] = atA[i] + (ops[i] != Op::Added ? 1 : 0);
        atB[i + 1] = atB[i] + (ops[i] != Op::Removed ? 1 : 0);
    }

    const QByteArray name = headerName(fileName.toUtf8());
    out += QString::fromUtf8("--- " + name + "\n+++ " + name + "\n");
    QByteArray hunks;
    const qsizetype count = qsizetype(ops.size());
    qsizetype i = 0;
    while (i < count) {
        while (i < count && ops[size_t(i)] == Op::Same)
            ++i;
        if (i == count)
            break;
        // One hunk: from a change, with its context, up to where more than
        // twice the context lies between it and the next change.
        const qsizetype begin = std::max<qsizetype>(0, i - contextLines);
        qsizetype end = i;
        for (;;) {
            while (end < count && ops[size_t(end)] != Op::Same)
                ++end;
            qsizetype same = end;
            while (same < count && ops[size_t(same)] == Op::Same)
                ++same;
            if (same == count || same - end > 2 * contextLines) {
                end = std::min(count, end + contextLines);
                break;
            }
            end = same;
        }
        hunks += "@@ -" + range(atA[size_t(begin)], atA[size_t(end)] - atA[size_t(begin)]) + " +"
                 + range(atB[size_t(begin)], atB[size_t(end)] - atB[size_t(begin)]) + " @@\n";
        for (qsizetype j = begin; j < end; ++j) {
            const Op op = ops[size_t(j)];
            const QByteArrayView line = op == Op::Added ? b[size_t(atB[size_t(j)])] : a[size_t(atA[size_t(j)])];
            hunks += char(op);
            hunks += line;
            if (!line.endsWith('\n'))
                hunks += "\n\\ No newline at end of file\n";
        }
        i = end;
    }
    const bool utf8 = before.startsWith("\xEF\xBB\xBF") || after.startsWith("\xEF\xBB\xBF");
    out.append(hunks, utf8 ? CommandOutput::Encoding::Utf8 : CommandOutput::Encoding::Windows1252);
}
