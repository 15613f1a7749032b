#pragma once
// The server's schema: application tables and the host tables that the
// screen queries directly, created and migrated at start-up. Dates of the
// application tables are stored as the platform's day count (INTEGER), the
// same number on the wire and in both dialects.

#include "database.h"

#include <QStringList>

namespace server {

/// Current schema version written in SCHEMA_VERSAO.
constexpr int kSchemaVersion = 4;

/// Creates the tables that are missing and applies pending migrations up to
/// `target` in one transaction; returns the version found before (0 for an
/// empty database). Throws InternalError when the database holds a newer
/// version than this program knows, or when a step cannot convert the data
/// (nothing is changed then). Tests pass an older `target` to build a
/// database as an earlier release left it.
int migrateSchema(Database& db, int target = kSchemaVersion);

/// The host tables the screen's lookups read (branch, company, route, state
/// registration, city, state), in the order they can be created.
QStringList lookupTables();
/// The CREATE TABLE statement of one of lookupTables(), as the server's schema has it.
QString lookupTableDdl(const QString& table);

} // namespace server
