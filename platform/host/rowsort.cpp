#include "rowsort.h"

#include "client/clientdataset.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <array>
#include <numeric>

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

/// Brazilian list order without a collator per comparison: accents and case
/// folded, runs of digits compared by value ("NF2" before "NF10"); what is
/// still equal is ordered by the texts' code units, so the order is total.
int naturalCompare(const QString& a, const QString& b)
{
    const qsizetype na = a.size(), nb = b.size();
    qsizetype i = 0, j = 0;
    while (i < na && j < nb) {
        const char16_t x = a.at(i).unicode(), y = b.at(j).unicode();
        const bool dx = x >= '0' && x <= '9', dy = y >= '0' && y <= '9';
        if (dx && dy) {
            qsizetype si = i, sj = j;
            while (si < na && a.at(si) == u'0') ++si;
            while (sj < nb && b.at(sj) == u'0') ++sj;
            qsizetype ei = si, ej = sj;
            while (ei < na && a.at(ei).isDigit() && a.at(ei).unicode() <= '9') ++ei;
            while (ej < nb && b.at(ej).isDigit() && b.at(ej).unicode() <= '9') ++ej;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            for (qsizetype k = 0; k < ei - si; ++k)
                if (a.at(si + k) != b.at(sj + k))
                    return a.at(si + k) < b.at(sj + k) ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const char16_t fx = foldChar(x), fy = foldChar(y);
        if (fx != fy)
            return fx < fy ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < na || j < nb)
        return i < na ? 1 : -1;
    return a < b ? -1 : (b < a ? 1 : 0);
}

/// Rank of every row's text: distinct texts are ordered once and each row
/// gets its text's rank, so the row sort compares integers.
std::vector<int> textRanks(const std::vector<QString>& texts)
{
    QHash<QString, int> distinct;
    distinct.reserve(qsizetype(texts.size() / 4 + 16));
    std::vector<int> rowText(texts.size());
    std::vector<const QString*> unique;
    for (size_t r = 0; r < texts.size(); ++r) {
        auto it = distinct.find(texts[r]);
        if (it == distinct.end()) {
            it = distinct.insert(texts[r], int(unique.size()));
            unique.push_back(&texts[r]);
        }
        rowText[r] = it.value();
    }
    std::vector<int> byKey(unique.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(),
              [&](int a, int b) { return naturalCompare(*unique[size_t(a)], *unique[size_t(b)]) < 0; });
    std::vector<int> rank(unique.size());
    for (size_t i = 0; i < byKey.size(); ++i)
        rank[size_t(byKey[i])] = int(i);
    for (int& t : rowText)
        t = rank[size_t(t)];
    return rowText;
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
                             || f.dataType() == core::FieldType::DateTime
                             || f.dataType() == core::FieldType::Boolean);
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
