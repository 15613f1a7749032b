// Reads of stored entries the methods share: their state, their replicas,
// which of them a tick-all may tick, and one entry's items and accounts.
#include "cancelnota_shared.h"

#include <QSqlQuery>

#include <algorithm>

namespace server::cancelnota {

namespace {

constexpr int kChunk = 400;

// Whether every key is made of digits only: such keys sort the same in
// every collation, so a range of them found in memory is the same range for
// the database.
bool digitKeys(const QStringList& numbers)
{
    for (const QString& n : numbers) {
        if (n.isEmpty())
            return false;
        for (QChar ch : n)
            if (ch < u'0' || ch > u'9')
                return false;
    }
    return true;
}

// A statement text that depends on the dialect only, built once per thread
// and dialect instead of on every call.
template <class Build>
const QString& textFor(const Database& db, Build build)
{
    thread_local QString text[2];
    QString& t = text[db.isSqlite() ? 0 : 1];
    if (t.isEmpty())
        t = build();
    return t;
}

} // namespace

std::map<EntryKey, StoredEntry> loadEntries(Database& db, QSqlDatabase& conn, std::vector<EntryKey> keys,
                                            bool forUpdate)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::map<QString, QStringList> byBranch;
    for (const auto& k : keys)
        byBranch[k.first] << k.second;
    std::map<EntryKey, StoredEntry> out;
    for (const auto& [branch, numbers] : byBranch) {
        for (int from = 0; from < numbers.size(); from += kChunk) {
            const QStringList part = numbers.mid(from, kChunk);
            QString sql = QString("SELECT NRLANCTONF, IDSTATUS, IDSTATUSNFE, NRVERSAO, NREXPEDICAO, NRLANCESTQ, "
                                  "CDFILIEMIT, DTENTRSAID FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF IN (%1) "
                                  "ORDER BY NRLANCTONF")
                              .arg(marks(part.size()));
            if (forUpdate && !db.isSqlite())
                sql += " FOR UPDATE";
            // Whole chunks share one text: kept prepared across chunks and calls.
            QSqlQuery q = prepareKept(conn, sql);
            q.addBindValue(branch);
            for (const QString& n : part)
                q.addBindValue(n);
            exec(q);
            while (q.next()) {
                StoredEntry e;
                e.status = q.value(1).toString();
                e.statusNfe = q.value(2).toString();
                e.version = q.value(3).toLongLong();
                e.nrExp = q.value(4).toString();
                e.nrLancEstq = q.value(5).toString();
                e.cdFiliEmit = q.value(6).toString();
                e.day = q.value(7).toLongLong();
                out[{branch, q.value(0).toString()}] = e;
            }
            q.finish();
        }
    }
    return out;
}

core::DataPacket replicatedDocs(const Database& db, QSqlDatabase& conn, const std::vector<EntryKey>& keys)
{
    core::DataPacket p(fieldDefs(kErroReplicCols));
    std::map<QString, QStringList> byBranch;
    for (const auto& k : keys)
        byBranch[k.first] << k.second;
    for (const auto& [branch, numbers] : byBranch) {
        for (int from = 0; from < numbers.size(); from += kChunk) {
            const QStringList part = numbers.mid(from, kChunk);
            QSqlQuery q =
                prepareKept(conn,
                            QString("SELECT %1 FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF IN (%2) "
                                    "AND IDCANCELADO = 'N' ORDER BY NRLANCTONF, CDFILIALREPLIC, NRLANCTONFDEST")
                                .arg(selectList(db, kErroReplicCols), marks(part.size())));
            q.addBindValue(branch);
            for (const QString& n : part)
                q.addBindValue(n);
            exec(q);
            core::DataPacket chunk = packetFromQuery(q, kErroReplicCols);
            q.finish();
            for (auto& row : chunk.rows())
                p.rows().push_back(std::move(row));
        }
    }
    return p;
}

// The given entries a tick-all may tick, as far as the stored rows say: the
// entry is stored, not blocked (the statuses of isBlockedEntry), and none of
// its replicas (not cancelled) is approved; branch -> eligible entry numbers.
// The rule runs in SQL, so only the numbers of eligible entries are read. A list that covers most
// of its range of numbers (the usual list of a period) is read as that one
// range and matched against the keys in memory; a sparse one is read in
// chunks of keys, one kept-prepared query per chunk.
std::map<QString, QSet<QString>> tickableEntries(QSqlDatabase& conn, const std::vector<EntryKey>& keys)
{
    static const QString eligibleSql = QStringLiteral(
        "SELECT L.NRLANCTONF FROM LANCTONF L WHERE L.CDFILIAL = ? AND %1 AND "
        "COALESCE(L.IDSTATUS, '') NOT IN ('A', 'C', 'E', 'L') AND COALESCE(L.IDSTATUSNFE, '') NOT IN ('A', 'D', 'T') "
        "AND NOT EXISTS (SELECT 1 FROM DOCREPLIC D WHERE D.CDFILIAL = L.CDFILIAL AND D.NRLANCTONF = L.NRLANCTONF AND "
        "D.IDCANCELADO = 'N' AND D.IDSTATUS = 'A')");
    std::map<QString, QStringList> byBranch;
    for (const auto& k : keys)
        byBranch[k.first] << k.second;
    std::map<QString, QSet<QString>> out;
    for (auto& [branch, numbers] : byBranch) {
        QSet<QString>& eligible = out[branch];
        const QSet<QString> wanted(numbers.cbegin(), numbers.cend());
        eligible.reserve(wanted.size());
        auto collect = [&](QSqlQuery& q, bool match) {
            q.setForwardOnly(true);
            exec(q);
            while (q.next()) {
                const QString nr = q.value(0).toString();
                if (!match || wanted.contains(nr))
                    eligible.insert(nr);
            }
            q.finish();
        };
        if (wanted.size() > kChunk && digitKeys(numbers)) {
            const auto [lo, hi] = std::minmax_element(numbers.cbegin(), numbers.cend());
            QSqlQuery n =
                prepareKept(conn, "SELECT COUNT(*) FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF BETWEEN ? AND ?");
            n.addBindValue(branch);
            n.addBindValue(*lo);
            n.addBindValue(*hi);
            exec(n);
            const qint64 inRange = n.next() ? n.value(0).toLongLong() : 0;
            n.finish();
            if (inRange <= 2 * qint64(wanted.size())) {
                QSqlQuery q = prepareKept(conn, eligibleSql.arg("L.NRLANCTONF BETWEEN ? AND ?"));
                q.addBindValue(branch);
                q.addBindValue(*lo);
                q.addBindValue(*hi);
                collect(q, true);
                continue;
            }
        }
        const QStringList distinct = wanted.values();
        for (int from = 0; from < distinct.size(); from += kChunk) {
            const QStringList part = distinct.mid(from, kChunk);
            QSqlQuery q = prepareKept(conn, eligibleSql.arg(QString("L.NRLANCTONF IN (%1)").arg(marks(part.size()))));
            q.addBindValue(branch);
            for (const QString& nr : part)
                q.addBindValue(nr);
            collect(q, false);
        }
    }
    return out;
}

// Called on every move between entries: the statement is kept prepared.
core::DataPacket itemsOf(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry)
{
    const QString& sql = textFor(db, [&] {
        return QString("SELECT %1 FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                       "IDCANCELADO = 'N' ORDER BY NRSEQITPROD")
            .arg(selectList(db, kItemCols));
    });
    return packetFromSelect(conn, sql, {branch, entry}, kItemCols);
}

core::DataPacket accountsOf(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry)
{
    const QString& sql = textFor(db, [&] {
        return QString("SELECT %1 FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                       "ORDER BY NRLANCTOPAG, NRPARCELAPAG, NRLANCTOREC, NRPARCELAREC")
            .arg(selectList(db, kContaCols));
    });
    return packetFromSelect(conn, sql, {branch, entry}, kContaCols);
}

void checkListSize(const core::DataPacket& list)
{
    if (list.rowCount() > kMaxListEntries)
        throw BadRequest(
            QString("Lista de lançamentos longa demais (%1; no máximo %2).").arg(list.rowCount()).arg(kMaxListEntries));
}

} // namespace server::cancelnota
