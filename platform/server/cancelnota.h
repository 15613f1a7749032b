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

/// Most entries a list sent to or returned by the server may hold: the
/// largest entry list the screen can load. `GetLanctoNF` refuses a longer
/// result (asking to narrow the filter); `VerReplic`, `GetVdCancela` and
/// `CancelaNota` refuse a longer list before any work. The server's default
/// body limit follows from it (kDefaultMaxBody in appserver.h).
constexpr int kMaxListEntries = 250000;
/// Fields of the widest entry row (the list `GetLanctoNF` returns).
constexpr int kMaxEntryFields = 20;
/// Most item rows `CancelaItemNf` takes: an NF-e holds at most 990 items.
constexpr int kMaxItemRows = 2000;

/// Writes one audit row (who, what, when, from where) on an open transaction.
/// `c` gives the session's operator and address; `operatorArg` is recorded
/// only for an in-process call without a session.
void writeAudit(QSqlDatabase& conn, const CallContext& c, const QString& operatorArg, const QString& branchInUse,
                const QString& branch, const QString& entry, const QString& item, const QString& operation,
                const QString& detail);

} // namespace server
