#pragma once
// Host routines under their usual names: the pick dialog, the multi-row
// picker and the find dialog, all through core::host() so tests script them.

#include <QString>

namespace core {
class ClientDataset;
class DataSource;
} // namespace core

namespace host {

class DBGrid;

/// Pick dialog over the data source's dataset. `titleAndEmpty` is
/// "title|text shown when the list is empty" (no bar: the whole text is the
/// title and a default empty text is used). A closed query is opened first.
/// True when a row was chosen; the dataset is then on it. The two flags are
/// accepted for call compatibility and have no effect.
bool Pesquisar(core::DataSource* ds, const QString& titleAndEmpty, bool flag1 = false, bool flag2 = true);

/// Multi-row picker: the user marks rows; on confirm `result` receives the
/// marked rows' `keyField` values in the list-string format of
/// docs/protocol.md ('k1','k2') and true is returned; cancelling leaves
/// `result` unchanged. A closed query is opened first.
bool PesquisaLista(core::DataSource* ds, const QString& keyField, const QString& title, bool flag, QString& result);

/// Find dialog over an open dataset (nothing for a closed one).
void Procura(core::ClientDataset* ds);

/// Find dialog over a grid's open dataset: its shown columns by their
/// titles, opening with the grid's last search; the search made is kept in
/// the grid.
void Procura(DBGrid* grid);
/// "Find next": repeats the grid's last search from the row after the
/// current one, wrapping past the end; without a last search it opens the
/// dialog. Says so when nothing matches. True when the cursor moved to a match.
bool ProcuraProximo(DBGrid* grid);

/// Opens `ds` when it is a closed host-database query (TADOIBQuery); other
/// datasets are left as they are.
void ensureOpen(core::ClientDataset& ds);

/// The list-string of docs/protocol.md for `keys`; throws core::Error for a
/// key holding characters the format does not allow (quotes, commas...).
QString joinListString(const QStringList& keys);

} // namespace host
