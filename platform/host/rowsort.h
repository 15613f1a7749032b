#pragma once
// The row order a grid shows when the user sorts it by a column: a
// permutation of the dataset's positions, computed from one field and never
// applied to the dataset itself (its rows, cursor, ticks and the packet it
// sends back keep their own order).

#include <QtGlobal>
#include <qnamespace.h>

#include <vector>

namespace core {
class ClientDataset;
} // namespace core

namespace host {

/// Dataset positions (0 .. recordCount-1) in the order of field `field`:
/// numbers and dates by value, texts in Brazilian list order (accents and
/// letter case ignored, then code units; runs of digits by numeric value); a field with a text
/// handler (a status shown as a word) by the word shown. Nulls and empty texts
/// come first ascending, last descending. Equal keys keep the dataset's order
/// in both directions, so a second sort key is the dataset's own index.
std::vector<int> sortedPositions(const core::ClientDataset& ds, int field, Qt::SortOrder order);

} // namespace host
