#include "rowsort.h"

#include "client/clientdataset.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <array>
#include <numeric>
#include <string>

namespace host {

namespace {

/// A character as the order sees it: accents dropped and letter case folded
/// (Latin-1 through a table built once, others through Qt's case folding).
char16_t foldChar(char16_t u)
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const QString d = QString(QChar(char16_t(i))).normalized(QString::NormalizationForm_D);
            t[size_t(i)] = d.isEmpty() ? char16_t(i) : d.at(0).toCaseFolded().unicode();
        }
        return t;
    }();
    return u < 256 ? table[u] : QChar(u).toCaseFolded().unicode();
}

/// Appends the text's key in Brazilian list order to `out`: every character
/// accent- and case-folded, and each run of ASCII digits written as one mark
/// (a digit, so the run sorts against other characters as any digit does),
/// the length of the run without its leading zeros, and those digits; so
/// "NF2" comes before "NF10". Each unit is written as two bytes, high byte
/// first, so that comparing keys is comparing bytes (memcmp).
void appendSortKey(const QString& s, std::string& out)
{
    auto put = [&out](char16_t u) {
        out.push_back(char(u >> 8));
        out.push_back(char(u & 0xFF));
    };
    const qsizetype n = s.size();
    const char16_t* c = reinterpret_cast<const char16_t*>(s.utf16());
    for (qsizetype i = 0; i < n;) {
        const char16_t x = c[i];
        if (x >= u'0' && x <= u'9') {
            qsizetype si = i;
            while (si < n && c[si] == u'0')
                ++si;
            qsizetype ei = si;
            while (ei < n && c[ei] >= u'0' && c[ei] <= u'9')
                ++ei;
            put(u'0');
            put(char16_t(std::min<qsizetype>(ei - si, 0xFFFF)));
            for (qsizetype k = si; k < ei; ++k)
                put(c[k]);
            i = ei;
            continue;
        }
        put(foldChar(x));
        ++i;
    }
}

/// Rank of every row's text (equal texts, equal ranks), so that the row sort
/// compares integers. The rows are ordered once by their texts' keys (what
/// is still equal by the texts' code units, so the order is total). The keys
/// lie in one buffer, and each entry carries its key's first eight bytes as
/// a number, so most comparisons touch no other memory.
std::vector<int> textRanks(const std::vector<QString>& texts)
{
    struct Key {
        quint64 head; ///< the first eight bytes, big-endian (zero-padded)
        quint32 at, size;
        int row;
    };
    std::string bytes;
    size_t units = 0;
    for (const QString& t : texts)
        units += size_t(t.size());
    bytes.reserve(units * 2 + units / 2 + 16);
    std::vector<Key> keys(texts.size());
    for (size_t r = 0; r < texts.size(); ++r) {
        const size_t at = bytes.size();
        appendSortKey(texts[r], bytes);
        keys[r] = {0, quint32(at), quint32(bytes.size() - at), int(r)};
    }
    for (Key& k : keys) {
        quint64 h = 0;
        for (quint32 b = 0; b < 8; ++b)
            h = (h << 8) | (b < k.size ? quint8(bytes[k.at + b]) : 0);
        k.head = h;
    }
    const char* base = bytes.data();
    // <0, 0, >0 as a's key and text come before, with, after b's.
    auto compare = [&](const Key& a, const Key& b) {
        if (a.head != b.head)
            return a.head < b.head ? -1 : 1;
        if (const int c = std::memcmp(base + a.at, base + b.at, std::min(a.size, b.size)))
            return c;
        if (a.size != b.size)
            return a.size < b.size ? -1 : 1;
        return texts[size_t(a.row)].compare(texts[size_t(b.row)]);
    };
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) { return compare(a, b) < 0; });
    std::vector<int> rank(texts.size());
    int current = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0 && compare(keys[i - 1], keys[i]) != 0)
            current = int(i);
        rank[size_t(keys[i].row)] = current;
    }
    return rank;
}

} // namespace

std::vector<int> sortedPositions(const core::ClientDataset& ds, int field, Qt::SortOrder order)
{
    const int n = ds.active() ? ds.recordCount() : 0;
    std::vector<int> pos(size_t(std::max(0, n)));
    std::iota(pos.begin(), pos.end(), 0);
    if (n == 0 || field < 0 || field >= ds.fieldCount())
        return pos;
    const core::Field& f = ds.field(field);
    const bool numeric = !f.hasOnGetText()
        && (f.dataType() == core::FieldType::Integer || f.dataType() == core::FieldType::Float
            || f.dataType() == core::FieldType::DateTime || f.dataType() == core::FieldType::Boolean);
    // Key per row: a number (nulls below every number), or a text rank
    // (empty texts rank first by the collation).
    std::vector<double> num(static_cast<size_t>(n));
    std::vector<char> isNull(static_cast<size_t>(n), 0);
    if (numeric) {
        for (int r = 0; r < n; ++r) {
            const core::Variant v = ds.rawValue(r, field);
            if (v.isNull())
                isNull[size_t(r)] = 1;
            else if (f.dataType() == core::FieldType::DateTime)
                num[size_t(r)] = v.toDate().days;
            else if (f.dataType() == core::FieldType::Boolean)
                num[size_t(r)] = v.toBool() ? 1 : 0;
            else
                num[size_t(r)] = v.toDouble();
        }
    } else {
        std::vector<QString> texts(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) {
            if (f.hasOnGetText()) {
                core::ClientDataset::DisplayRow shown(ds, r);
                texts[size_t(r)] = f.displayText();
            } else {
                texts[size_t(r)] = ds.rawValue(r, field).toString();
            }
        }
        const std::vector<int> ranks = textRanks(texts);
        for (int r = 0; r < n; ++r)
            num[size_t(r)] = ranks[size_t(r)];
    }
    const bool desc = order == Qt::DescendingOrder;
    std::sort(pos.begin(), pos.end(), [&](int a, int b) {
        const bool na = isNull[size_t(a)], nb = isNull[size_t(b)];
        if (na != nb)
            return desc ? nb : na;
        if (!na) {
            const double x = num[size_t(a)], y = num[size_t(b)];
            if (x != y)
                return desc ? x > y : x < y;
        }
        return a < b;
    });
    return pos;
}

} // namespace host
