#include "rowsort.h"

#include "core/clientdataset.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <numeric>

namespace host {

namespace {

/// Rank of every row's text: distinct texts are collated once (through ICU
/// sort keys) and each row gets its text's rank, so the row sort compares
/// integers.
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
    QCollator coll(QLocale(QLocale::Portuguese, QLocale::Brazil));
    coll.setNumericMode(true);
    coll.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(unique.size());
    for (const QString* t : unique)
        keys.push_back(coll.sortKey(*t));
    std::vector<int> byKey(unique.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(), [&](int a, int b) {
        const int c = keys[size_t(a)].compare(keys[size_t(b)]);
        return c != 0 ? c < 0 : *unique[size_t(a)] < *unique[size_t(b)];
    });
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
