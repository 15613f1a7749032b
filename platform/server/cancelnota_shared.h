#pragma once
// What the cancellation server's method files share: the packet layouts, the
// reads of stored entries, the stock changes of a cancellation and the list
// checks. Internal to the server; the registration and the rules other parts
// use are in cancelnota.h.
//
//   cancelnota.cpp          registration of the eleven methods, blocked-entry rule, audit row
//   cancelnota_columns.cpp  column layouts of the packets and their select lists
//   cancelnota_entries.cpp  stored entries, replicas, tickable entries, an entry's items and accounts
//   cancelnota_stock.cpp    stock changes of a cancellation: collected, locked and checked, applied
//   cancelnota_list.cpp     GetLanctoNF: the entry list, its count and its filter
//   cancelnota_detail.cpp   GetItem, GetItLanctoEst, GetReplicAprov: one entry's parts
//   cancelnota_checks.cpp   VerReplic, GetVdCancela: the checks before a cancellation
//   cancelnota_cancel.cpp   CancelaNota, CancelaItemNf: the two cancellations
//   cancelnota_lookups.cpp  GetParExpedicao, GetExp, GetGradePesq: what the filter picks from

#include "cancelnota.h"
#include "packetbuild.h"
#include "quantity.h"

#include <QSet>
#include <QSqlDatabase>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace server::cancelnota {

/// What an entry list is called in the messages about it.
inline const QString kEntries = QStringLiteral("lançamentos");

// ---- column layouts (cancelnota_columns.cpp) ----------------------------------

extern const std::vector<Column> kLanctoCols;     ///< the entry list
extern const std::vector<Column> kItemCols;       ///< an entry's items
extern const std::vector<Column> kContaCols;      ///< an entry's generated accounts
extern const std::vector<Column> kEstCols;        ///< stock movements
extern const std::vector<Column> kErroReplicCols; ///< replicated documents
extern const std::vector<Column> kFollowUpCols;   ///< the follow-up of an item cancellation

/// The select list of a packet's columns; stored quantities leave as floating point.
QString selectList(const Database& db, const std::vector<Column>& cols);

// ---- stored entries (cancelnota_entries.cpp) ----------------------------------

struct StoredEntry {
    QString status, statusNfe, nrExp, nrLancEstq, cdFiliEmit;
    qint64 day = 0;
    qint64 version = 0;
};
/// (branch, entry number)
using EntryKey = std::pair<QString, QString>;

/// Stored state of the given entries, read in chunks; `forUpdate` locks the
/// rows on PostgreSQL (SQLite already holds the write lock).
std::map<EntryKey, StoredEntry> loadEntries(Database& db, QSqlDatabase& conn, std::vector<EntryKey> keys,
                                            bool forUpdate);
/// Replicated documents (not cancelled) of the given entries, in the layout of cdsErroReplic.
core::DataPacket replicatedDocs(const Database& db, QSqlDatabase& conn, const std::vector<EntryKey>& keys);
/// The given entries a tick-all may tick, as far as the stored rows say;
/// branch -> eligible entry numbers.
std::map<QString, QSet<QString>> tickableEntries(QSqlDatabase& conn, const std::vector<EntryKey>& keys);
/// An entry's items (not cancelled), in the layout of kItemCols.
core::DataPacket itemsOf(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry);
/// An entry's generated accounts, in the layout of kContaCols.
core::DataPacket accountsOf(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry);
/// Refuses a list longer than kMaxListEntries before any work.
void checkListSize(const core::DataPacket& list);

// ---- stock (cancelnota_stock.cpp) ----------------------------------------------

/// Stock changes of a cancellation, keyed by (branch, product), applied in
/// key order so that concurrent writers lock balances in the same order.
using StockDeltas = std::map<EntryKey, Quantity>;

/// Stock returned to the issuing side by the withdrawal movements of an entry
/// (all of them, or those of `onlyItems`), and taken back from the destination
/// of every replica that already brought the goods in.
void addEntryStock(Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry,
                   const QString& nrLancEstq, const QStringList* onlyItems, StockDeltas& deltas);
/// Locks every balance the changes touch and refuses (throws `key`) when one
/// that decreases would fall below zero.
void lockAndCheckStock(Database& db, QSqlDatabase& conn, const StockDeltas& deltas, const char* key);
/// Writes the balance changes checked by lockAndCheckStock.
void applyStock(Database& db, QSqlDatabase& conn, const StockDeltas& deltas);

// ---- the methods, by group ------------------------------------------------------

// cancelnota_list.cpp
std::shared_ptr<RowSource> getLanctoNF(CallContext& c);
// cancelnota_detail.cpp
core::Variant getItem(CallContext& c);
core::Variant getItLanctoEst(CallContext& c);
core::Variant getReplicAprov(CallContext& c);
// cancelnota_checks.cpp
core::Variant verReplic(CallContext& c);
core::Variant getVdCancela(CallContext& c);
// cancelnota_cancel.cpp
core::Variant cancelaNota(CallContext& c);
core::Variant cancelaItemNf(CallContext& c);
// cancelnota_lookups.cpp
core::Variant getParExpedicao(CallContext& c);
core::Variant getExp(CallContext& c);
core::Variant getGradePesq(CallContext& c);

} // namespace server::cancelnota
