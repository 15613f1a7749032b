#pragma once
// The cancellation server "Exp01800.rdmCancelNota": listing entries, items,
// stock movements, shipments, grades and shipping parameters, the replication
// checks, and the two cancellations. Rules in docs/server.md.

#include "registry.h"

namespace server {

inline const QString kCancelNotaServer = QStringLiteral("Exp01800.rdmCancelNota");

void registerCancelNota(Registry& r);

/// The blocked-entry rule: IDSTATUS A, C, E or L, or IDSTATUSNFE A, D or T.
bool isBlockedEntry(const QString& status, const QString& statusNfe);

/// Writes one audit row (who, what, when) on an open transaction.
void writeAudit(QSqlDatabase& conn, const QString& operatorCode, const QString& branchInUse, const QString& branch,
                const QString& entry, const QString& item, const QString& operation, const QString& detail);

} // namespace server
