#include "findsearch.h"

#include "clientdataset.h"

namespace core {

namespace {

bool allDigits(QStringView s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

QStringView withoutLeadingZeros(QStringView s)
{
    qsizetype i = 0;
    while (i + 1 < s.size() && s[i] == u'0')
        ++i;
    return s.mid(i);
}

} // namespace

bool findMatches(const QString& shown, const QString& typed)
{
    const QString needle = typed.trimmed();
    if (needle.isEmpty())
        return false;
    if (shown.contains(needle, Qt::CaseInsensitive))
        return true;
    // A number typed with more leading zeros than it is stored with.
    return allDigits(needle) && shown.contains(withoutLeadingZeros(needle));
}

int findRow(const ClientDataset& ds, const QString& fieldName, const QString& typed, int from)
{
    const Field* f = ds.active() ? ds.findField(fieldName) : nullptr;
    const int n = ds.active() ? ds.recordCount() : 0;
    if (!f || n == 0 || typed.trimmed().isEmpty())
        return -1;
    const int start = from < 0 || from >= n ? 0 : from;
    for (int k = 0; k < n; ++k) {
        const int row = (start + k) % n;
        QString text;
        {
            ClientDataset::DisplayRow shown(ds, row);
            try {
                text = f->displayText();
            } catch (...) {
                continue; // a text handler that fails shows "?" in the grid: nothing to find there
            }
        }
        if (findMatches(text, typed))
            return row;
    }
    return -1;
}

} // namespace core
