#pragma once
// The host-lookup database of the desktops: the tables the screen's lookups
// read (branch, company, route, state registration, city, state) and nothing
// else. On PostgreSQL the desktops read them in the server's database as a
// role granted only these tables (deploy/postgres/lookup-role.sql); with
// SQLite, which has no roles, they get a file of their own, so the server's
// file (operators' password hashes, sessions, every entry) never has to be
// readable by them.

#include "database.h"

namespace server {

/// Writes the lookup tables of `source` into the SQLite file `file`, made
/// anew (an existing file is replaced); returns the rows copied.
int writeLookupDatabase(Database& source, const QString& file);

} // namespace server
