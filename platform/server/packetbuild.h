#pragma once
// Building data packets from query results, and reading key fields of the
// packets that clients send back.

#include "database.h"
#include "registry.h"

#include <core/datapacket.h>

#include <QSqlQuery>

#include <memory>
#include <vector>

namespace server {

struct Column {
    const char* name;
    core::FieldType type;
    int size = 0;
    bool fixed = false;
};

/// The packet's field definitions for these columns.
QList<core::FieldDef> fieldDefs(const std::vector<Column>& cols);

/// Reads every row of an executed query whose select list matches `cols` in
/// order. Date-time columns hold day counts. Throws core::Error when a stored
/// value does not fit its field.
core::DataPacket packetFromQuery(QSqlQuery& q, const std::vector<Column>& cols);

/// The rows of `sql` run with `binds` through selectKept (kept prepared,
/// read without QtSql on SQLite), converted as packetFromQuery does. For
/// small reads made on every call.
core::DataPacket packetFromSelect(QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                                  const std::vector<Column>& cols);

/// The rows of an executed query, read one at a time (see packetFromQuery);
/// the query stays open on the calling thread's connection until the last
/// row or the source's end.
std::shared_ptr<RowSource> rowsFromQuery(QSqlQuery q, const std::vector<Column>& cols);

/// Index of a field the method needs in a client packet; throws BadRequest
/// naming the field when it is missing.
int requiredField(const core::DataPacket& p, const QString& name, const QString& what);

/// A string cell, blank for Null.
QString cellText(const core::PacketRow& row, int idx);

/// "?,?,?" with n marks.
QString marks(int n);

} // namespace server
