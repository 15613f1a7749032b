#pragma once
// Online backup of an SQLite database while the server keeps serving.

#include <QString>

namespace server {

/// Copies the SQLite database `from` into the file `to` as one consistent
/// snapshot, with the server running: the copy is read in a single read
/// transaction (writers go on meanwhile under WAL) through SQLite's backup
/// interface, written to a temporary file beside `to` (mode 600: it holds the
/// operators' password hashes) and renamed over `to` only when complete.
/// Throws core::Error with a Portuguese message on failure; `to` is then
/// left as it was.
void backupSqlite(const QString& from, const QString& to);

} // namespace server
