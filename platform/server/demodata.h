#pragma once
// Deterministic demo data: branches, routes, shipments, grades, entries in
// every status with items, stock movements, replicas, commission accounts and
// stored tax-authority answers. Dates are relative to today, so the screen's
// default period (today - 2 .. today) finds entries.

#include "database.h"

namespace server {

struct DemoOptions {
    int entries = 2000;
    quint64 seed = 1;
    int spreadDays = 7; ///< entry dates fall in today - (spreadDays - 1) .. today
};

/// Replaces every row of the schema's tables with the demo data (one transaction).
void generateDemo(Database& db, const DemoOptions& opt);

} // namespace server
