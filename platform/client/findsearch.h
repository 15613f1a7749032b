#pragma once
// What the find dialog ("Procurar") looks for, and the matching it does,
// apart from any widget: a search is a column and a text; a row matches when
// the column's shown text contains the text (letter case ignored), and a
// number typed with or without leading zeros finds the number however many
// zeros it is stored with ("134" and "0000134" both find "000000134").
// "Find next" repeats the search from the row after the current one.

#include <QList>
#include <QString>

namespace core {

class ClientDataset;

/// A column the dialog offers: the field and the title the grid shows it under.
struct FindColumn {
    QString fieldName;
    QString title;
};

struct FindSearch {
    QList<FindColumn> columns; ///< offered, in the grid's order
    QString fieldName;         ///< searched column; empty: none yet
    QString text;              ///< searched text; empty: no search yet
    bool isSet() const { return !fieldName.isEmpty() && !text.trimmed().isEmpty(); }
};

/// True when `shown` (a cell's text) matches `typed`.
bool findMatches(const QString& shown, const QString& typed);

/// The first row from `from` on (wrapping past the last row to the first)
/// whose `fieldName` text matches `typed`; -1 when none does or the dataset
/// is closed. Rows are read in place: the cursor does not move and no event
/// fires.
int findRow(const ClientDataset& ds, const QString& fieldName, const QString& typed, int from);

} // namespace core
