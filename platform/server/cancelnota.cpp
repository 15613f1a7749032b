#include "cancelnota.h"

#include "packetbuild.h"
#include "picklist.h"
#include "quantity.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace server {

using core::FieldType;
using core::Variant;

namespace {

const QString kEntries = QStringLiteral("lançamentos");

const std::vector<Column> kLanctoCols = {
    {"IDCHECK", FieldType::String, 1, true},  {"CDFILIAL", FieldType::String, 4},
    {"DTENTRSAID", FieldType::DateTime},      {"NRLANCTONF", FieldType::String, 10},
    {"NREXPEDICAO", FieldType::String, 10},   {"NRLANCESTQ", FieldType::String, 10},
    {"CDCLIENTE", FieldType::String, 21},     {"NMRAZSOCCLIE", FieldType::String, 50},
    {"NRNOTAFISC", FieldType::String, 20},    {"DTEMISSAO", FieldType::DateTime},
    {"IDSISTEMA", FieldType::String, 3},      {"NMFANTCLIE", FieldType::String, 50},
    {"IDSTATUS", FieldType::String, 1},       {"IDSTATUSNFE", FieldType::String, 1},
    {"CDFILIEMIT", FieldType::String, 4},     {"NRACESSONFE", FieldType::String, 50},
    {"CDEMPRESA", FieldType::String, 2},      {"IDTIPOEMISNFE", FieldType::String, 1},
    {"CDINSCESTA", FieldType::String, 16},    {"NRVERSAO", FieldType::Integer},
};

const std::vector<Column> kItemCols = {
    {"IDCHECK", FieldType::String, 1, true}, {"NRSEQITPROD", FieldType::String, 4},
    {"CDARVPROD", FieldType::String, 20},    {"CDPRODUTO", FieldType::String, 10},
    {"NMPRODUTO", FieldType::String, 50},    {"QTITEMPROD", FieldType::Float},
    {"VRUNITITEM", FieldType::Float},        {"VRTOTAITEM", FieldType::Float},
    {"CDFILIALPED", FieldType::String, 4},   {"NRPEDIDO", FieldType::String, 10},
    {"NRITEMPED", FieldType::String, 10},    {"CDFILIMOVI", FieldType::String, 4},
    {"CDALMOXARIFE", FieldType::String, 6},  {"CDLOCALESTOQ", FieldType::String, 6},
    {"NRLOTEESTQ", FieldType::String, 20},   {"NRSUBLOTE", FieldType::String, 4},
    {"CDPRODESTO", FieldType::String, 10},   {"VRFATOCONV", FieldType::Float},
    {"NRLANCTONF", FieldType::String, 10},   {"CDFILIAL", FieldType::String, 4},
};

const std::vector<Column> kContaCols = {
    {"CDFILIALPAG", FieldType::String, 4},  {"NRLANCTOPAG", FieldType::String, 10},
    {"NRSEQVENPAG", FieldType::String, 2},  {"NRPARCELAPAG", FieldType::String, 2},
    {"CDFILIALREC", FieldType::String, 4},  {"NRLANCTOREC", FieldType::String, 10},
    {"NRSEQVENREC", FieldType::String, 2},  {"NRPARCELAREC", FieldType::String, 2},
    {"CDEMPRESA", FieldType::String, 2},    {"NRLANCTBDOC", FieldType::String, 12},
};

const std::vector<Column> kEstCols = {
    {"NRSEQUITEM", FieldType::String, 4},   {"CDARVPROD", FieldType::String, 20},
    {"CDPRODUTO", FieldType::String, 10},   {"NMPRODUTO", FieldType::String, 50},
    {"QTLANCTOEST", FieldType::Float},      {"VRUNILANCTO", FieldType::Float},
    {"DTLANCMOVI", FieldType::DateTime},    {"VRTOTLANCTO", FieldType::Float},
    {"IDTIPOMOVI", FieldType::String, 1},   {"CDFILIMOVI", FieldType::String, 4},
    {"CDPRODMOVI", FieldType::String, 10},  {"PRODMOVI", FieldType::String, 20},
};

const std::vector<Column> kErroReplicCols = {
    {"CDFILIAL", FieldType::String, 4},     {"NRLANCTONF", FieldType::String, 10},
    {"CDFILIALREPLIC", FieldType::String, 4}, {"CDSERIE", FieldType::String, 5},
    {"IDENTRSAIDOP", FieldType::String, 1}, {"DESCOPER", FieldType::String, 100},
    {"NRLANCTONFDEST", FieldType::String, 10},
};

const std::vector<Column> kFollowUpCols = {
    {"CDFILIAL", FieldType::String, 4},     {"NRLANCTONF", FieldType::String, 10},
    {"NREXPEDICAO", FieldType::String, 10}, {"NRLANCESTQ", FieldType::String, 10},
    {"DTENTRSAID", FieldType::DateTime},    {"CDFILIEMIT", FieldType::String, 4},
    {"NRSEQITPROD", FieldType::String, 4},  {"CDPRODUTO", FieldType::String, 10},
    {"NMPRODUTO", FieldType::String, 50},   {"QTITEMPROD", FieldType::Float},
    {"CDFILIALPED", FieldType::String, 4},  {"NRPEDIDO", FieldType::String, 10},
    {"NRITEMPED", FieldType::String, 10},
};

// The select list of a packet's columns; stored quantities leave as floating point.
QString selectList(const Database& db, const std::vector<Column>& cols)
{
    QStringList s;
    for (const Column& c : cols) {
        const QString name = c.name;
        if (name == "IDCHECK") s << "'N'";
        else if (name == "QTITEMPROD" || name == "QTLANCTOEST") s << qtyFloatSql(db, name);
        else s << name;
    }
    return s.join(", ");
}

bool oneOf(const QString& v, std::initializer_list<const char*> codes)
{
    for (const char* c : codes)
        if (v == QLatin1String(c)) return true;
    return false;
}

constexpr int kChunk = 400;

struct StoredEntry {
    QString status, statusNfe, nrExp, nrLancEstq, cdFiliEmit;
    qint64 day = 0;
    qint64 version = 0;
};
using EntryKey = std::pair<QString, QString>;

// Stored state of the given entries, read in chunks; `forUpdate` locks the
// rows on PostgreSQL (SQLite already holds the write lock).
std::map<EntryKey, StoredEntry> loadEntries(Database& db, QSqlDatabase& conn, std::vector<EntryKey> keys, bool forUpdate)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::map<QString, QStringList> byBranch;
    for (const auto& k : keys) byBranch[k.first] << k.second;
    std::map<EntryKey, StoredEntry> out;
    for (const auto& [branch, numbers] : byBranch) {
        for (int from = 0; from < numbers.size(); from += kChunk) {
            const QStringList part = numbers.mid(from, kChunk);
            QString sql = QString("SELECT NRLANCTONF, IDSTATUS, IDSTATUSNFE, NRVERSAO, NREXPEDICAO, NRLANCESTQ, "
                                  "CDFILIEMIT, DTENTRSAID FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF IN (%1) "
                                  "ORDER BY NRLANCTONF")
                              .arg(marks(part.size()));
            if (forUpdate && !db.isSqlite()) sql += " FOR UPDATE";
            // Whole chunks share one text: kept prepared across chunks and calls.
            QSqlQuery q = prepareKept(conn, sql);
            q.addBindValue(branch);
            for (const QString& n : part) q.addBindValue(n);
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

// Replicated documents (not cancelled) of the given entries, in the layout of cdsErroReplic.
core::DataPacket replicatedDocs(const Database& db, QSqlDatabase& conn, const std::vector<EntryKey>& keys)
{
    core::DataPacket p(fieldDefs(kErroReplicCols));
    std::map<QString, QStringList> byBranch;
    for (const auto& k : keys) byBranch[k.first] << k.second;
    for (const auto& [branch, numbers] : byBranch) {
        for (int from = 0; from < numbers.size(); from += kChunk) {
            const QStringList part = numbers.mid(from, kChunk);
            QSqlQuery q = prepareKept(conn, QString("SELECT %1 FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF IN (%2) "
                                                "AND IDCANCELADO = 'N' ORDER BY NRLANCTONF, CDFILIALREPLIC, NRLANCTONFDEST")
                                            .arg(selectList(db, kErroReplicCols), marks(part.size())));
            q.addBindValue(branch);
            for (const QString& n : part) q.addBindValue(n);
            exec(q);
            core::DataPacket chunk = packetFromQuery(q, kErroReplicCols);
            q.finish();
            for (auto& row : chunk.rows()) p.rows().push_back(std::move(row));
        }
    }
    return p;
}

// Whether every key is made of digits only: such keys sort the same in
// every collation, so a range of them found in memory is the same range for
// the database.
bool digitKeys(const QStringList& numbers)
{
    for (const QString& n : numbers) {
        if (n.isEmpty()) return false;
        for (QChar ch : n)
            if (ch < u'0' || ch > u'9') return false;
    }
    return true;
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
    for (const auto& k : keys) byBranch[k.first] << k.second;
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
                if (!match || wanted.contains(nr)) eligible.insert(nr);
            }
            q.finish();
        };
        if (wanted.size() > kChunk && digitKeys(numbers)) {
            const auto [lo, hi] = std::minmax_element(numbers.cbegin(), numbers.cend());
            QSqlQuery n = prepareKept(conn, "SELECT COUNT(*) FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF BETWEEN ? AND ?");
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
            for (const QString& nr : part) q.addBindValue(nr);
            collect(q, false);
        }
    }
    return out;
}

QString stockBranch(const QString& moveBranch, const QString& entryBranch)
{
    return moveBranch.isEmpty() ? entryBranch : moveBranch;
}

// Stock changes of a cancellation, keyed by (branch, product), applied in
// key order so that concurrent writers lock balances in the same order.
using StockDeltas = std::map<EntryKey, Quantity>;

// Locks every balance the cancellation touches, in key order (branch, then
// product) so that concurrent cancellations always queue in the same order,
// and refuses (throws `key`) when a balance that decreases would fall below
// zero. On PostgreSQL the rows stay locked until the transaction ends, so the
// balance checked is the balance written; SQLite's writer already holds the
// whole database.
void lockAndCheckStock(Database& db, QSqlDatabase& conn, const StockDeltas& deltas, const char* key)
{
    const QString sql = QString("SELECT %1 FROM SALDOESTQ WHERE CDFILIAL = ? AND CDPRODUTO = ?%2")
                            .arg(qtyUnitsSql(db, "QTSALDO"), db.isSqlite() ? "" : " FOR UPDATE");
    for (const auto& [k, delta] : deltas) {
        QSqlQuery q = prepare(conn, sql);
        q.addBindValue(k.first);
        q.addBindValue(k.second);
        exec(q);
        const Quantity balance = q.next() ? quantityAt(q, 0) : Quantity();
        if (delta.isNegative() && (balance + delta).isNegative())
            throw core::ServerError(key);
    }
}

// Writes the balance changes. A decrease updates the row it was checked
// against (locked, so it exists and stays at or above zero); an increase may
// create the balance. The two statements differ because a CHECK constraint is
// tested on the row an INSERT proposes, before ON CONFLICT turns it into an
// update.
void applyStock(Database& db, QSqlDatabase& conn, const StockDeltas& deltas)
{
    for (const auto& [k, delta] : deltas) {
        if (delta.isZero()) continue;
        QSqlQuery u = prepare(conn, delta.isNegative()
            ? "UPDATE SALDOESTQ SET QTSALDO = QTSALDO - ? WHERE CDFILIAL = ? AND CDPRODUTO = ?"
            : "INSERT INTO SALDOESTQ (QTSALDO, CDFILIAL, CDPRODUTO) VALUES (?, ?, ?) "
              "ON CONFLICT (CDFILIAL, CDPRODUTO) DO UPDATE SET QTSALDO = SALDOESTQ.QTSALDO + EXCLUDED.QTSALDO");
        u.addBindValue(qtyBind(db, delta.isNegative() ? -delta : delta));
        u.addBindValue(k.first);
        u.addBindValue(k.second);
        exec(u);
        if (u.numRowsAffected() != 1)  // checked under lock: only a broken invariant gets here
            throw InternalError(QString("O saldo %1/%2 mudou durante o cancelamento.").arg(k.first, k.second));
    }
}

// Stock returned to the issuing side by the withdrawal movements of an entry
// (all of them, or those of the listed items), and taken back from the
// destination of every replica that already brought the goods in (approved or
// emitted).
void addEntryStock(Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry, const QString& nrLancEstq,
                   const QStringList* onlyItems, StockDeltas& deltas)
{
    QString itemFilter;
    if (onlyItems) itemFilter = QString(" AND NRSEQITPROD IN (%1)").arg(marks(onlyItems->size()));
    {
        QSqlQuery q = prepare(conn, QString("SELECT CDFILIMOVI, CDPRODMOVI, CDPRODUTO, %1 FROM ITLANCTOEST "
                                            "WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND IDCANCELADO = 'N'")
                                        .arg(qtyUnitsSql(db, "QTLANCTOEST")) + itemFilter);
        q.addBindValue(branch);
        q.addBindValue(nrLancEstq);
        if (onlyItems) for (const QString& s : *onlyItems) q.addBindValue(s);
        exec(q);
        while (q.next()) {
            const QString prod = q.value(1).toString().isEmpty() ? q.value(2).toString() : q.value(1).toString();
            deltas[{stockBranch(q.value(0).toString(), branch), prod}] += quantityAt(q, 3);
        }
    }
    QSqlQuery r = prepare(conn, "SELECT CDFILIALREPLIC FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                "AND IDCANCELADO = 'N' AND IDSTATUS IN ('A', 'E')");
    r.addBindValue(branch);
    r.addBindValue(entry);
    exec(r);
    QStringList destinations;
    while (r.next()) destinations << r.value(0).toString();
    if (destinations.isEmpty()) return;
    QSqlQuery it = prepare(conn, QString("SELECT CDPRODUTO, %1 FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                         "AND IDCANCELADO = 'N'").arg(qtyUnitsSql(db, "QTITEMPROD")) + itemFilter);
    it.addBindValue(branch);
    it.addBindValue(entry);
    if (onlyItems) for (const QString& s : *onlyItems) it.addBindValue(s);
    exec(it);
    while (it.next())
        for (const QString& dest : destinations)
            deltas[{dest, it.value(0).toString()}] -= quantityAt(it, 1);
}

void execKeyed(QSqlDatabase& conn, const QString& sql, const QStringList& values)
{
    QSqlQuery q = prepare(conn, sql);
    for (const QString& v : values) q.addBindValue(v);
    exec(q);
}

// Cancels the entry's remaining parts: items, stock movements, replicas and accounts.
void cancelEntryParts(QSqlDatabase& conn, const QString& branch, const QString& entry, const QString& nrLancEstq)
{
    execKeyed(conn, "UPDATE ITLANCTONF SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'",
              {branch, entry});
    execKeyed(conn, "UPDATE ITLANCTOEST SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND IDCANCELADO = 'N'",
              {branch, nrLancEstq});
    execKeyed(conn, "UPDATE DOCREPLIC SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'",
              {branch, entry});
    execKeyed(conn, "DELETE FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?", {branch, entry});
}

void setEntryCancelled(QSqlDatabase& conn, const QString& branch, const QString& entry, qint64 version, bool cancelled)
{
    QSqlQuery q = prepare(conn, QString("UPDATE LANCTONF SET %1 NRVERSAO = NRVERSAO + 1 WHERE CDFILIAL = ? AND "
                                        "NRLANCTONF = ? AND NRVERSAO = ? AND IDSTATUS = 'P'")
                                    .arg(cancelled ? "IDSTATUS = 'C'," : ""));
    q.addBindValue(branch);
    q.addBindValue(entry);
    q.addBindValue(version);
    exec(q);
    if (q.numRowsAffected() != 1)  // the rows are locked: only a broken invariant gets here
        throw InternalError(QString("O lançamento %1/%2 mudou durante o cancelamento.").arg(branch, entry));
}

// A statement text that depends on the dialect only, built once per thread
// and dialect instead of on every call.
template <class Build>
const QString& textFor(const Database& db, Build build)
{
    thread_local QString text[2];
    QString& t = text[db.isSqlite() ? 0 : 1];
    if (t.isEmpty()) t = build();
    return t;
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

// A malformed picked list is a bad argument of the request.
QStringList pickedKeys(const QString& text, const QString& what)
{
    try {
        return parsePickedList(text, what);
    } catch (const BadRequest&) {
        throw;
    } catch (const core::Error& e) {
        throw BadRequest(e.message());
    }
}

void checkListSize(const core::DataPacket& list)
{
    if (list.rowCount() > kMaxListEntries)
        throw BadRequest(QString("Lista de lançamentos longa demais (%1; no máximo %2).").arg(list.rowCount()).arg(kMaxListEntries));
}

// ---- the methods ----------------------------------------------------------

// The list is written to the caller while it is read.
std::shared_ptr<RowSource> getLanctoNF(CallContext& c)
{
    const QString branch = c.str(0);
    const core::Date first = checkedDate(c.arg(1), "Data inicial");
    const core::Date last = checkedDate(c.arg(2), "Data final");
    const QString routes = c.str(3), allRoutes = c.str(4);
    const QString shipments = c.str(5), allShipments = c.str(6);
    const QString expFrom = c.str(7), expTo = c.str(8), noInterval = c.str(9);
    const QString grade = c.str(10);

    QString sql = QString("SELECT %1 FROM LANCTONF WHERE CDFILIAL = ? AND DTENTRSAID BETWEEN ? AND ?").arg(selectList(c.db, kLanctoCols));
    QVariantList binds{branch, qint64(first.days), qint64(last.days)};
    if (allRoutes != "T") {
        const QStringList keys = pickedKeys(routes, "rotas");
        sql += QString(" AND CDROTATRANS IN (%1)").arg(marks(keys.size()));
        for (const QString& k : keys) binds << k;
    }
    if (allShipments != "T") {
        const QStringList keys = pickedKeys(shipments, "expedições");
        sql += QString(" AND NREXPEDICAO IN (%1)").arg(marks(keys.size()));
        for (const QString& k : keys) binds << k;
    }
    if (noInterval != "T") {
        if (expFrom.trimmed().isEmpty() || expTo.trimmed().isEmpty())
            throw BadRequest("Intervalo de expedições incompleto: informe a expedição inicial e a final.");
        sql += " AND NREXPEDICAO BETWEEN ? AND ?";
        binds << expFrom << expTo;
    }
    if (grade != "T" && !grade.isEmpty()) {
        sql += " AND NRGRADEPED = ?";
        binds << grade;
    }
    // Counting at most one row past the cap tells a list that is too long
    // before any row of it is read into a packet.
    QSqlDatabase conn = c.db.connection();
    {
        QSqlQuery n = prepare(conn, QString("SELECT COUNT(*) FROM (SELECT 1 FROM LANCTONF %1 LIMIT %2) X")
                                        .arg(sql.mid(sql.indexOf("WHERE ")), QString::number(kMaxListEntries + 1)));
        for (const QVariant& b : binds) n.addBindValue(b);
        exec(n);
        if (n.next() && n.value(0).toLongLong() > kMaxListEntries)
            throw core::ServerError(QString("A consulta encontrou mais de %1 lançamentos, o máximo que a tela carrega. "
                                            "Restrinja o filtro (período, rotas ou expedições) e consulte de novo.")
                                        .arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(kMaxListEntries)));
    }
    sql += " ORDER BY DTENTRSAID, NRLANCTONF, NREXPEDICAO";
    QSqlQuery q = prepare(conn, sql);
    for (const QVariant& b : binds) q.addBindValue(b);
    exec(q);
    return rowsFromQuery(std::move(q), kLanctoCols);
}

Variant getItem(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    return Variant(core::VariantArray{itemsOf(c.db, conn, c.str(0), c.str(1)), accountsOf(c.db, conn, c.str(0), c.str(1))});
}

Variant getItLanctoEst(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn, QString("SELECT %1 FROM ITLANCTOEST WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND "
                                        "IDCANCELADO = 'N' ORDER BY NRSEQUITEM")
                                    .arg(selectList(c.db, kEstCols)));
    q.addBindValue(c.str(0));
    q.addBindValue(c.str(1));
    exec(q);
    return packetFromQuery(q, kEstCols);
}

Variant getReplicAprov(CallContext& c)
{
    static const std::vector<Column> cols = {
        {"CDSERIE", FieldType::String, 5},     {"CDFILIAL", FieldType::String, 4},
        {"NRLANCTONF", FieldType::String, 10}, {"IDENTRSAIDOP", FieldType::String, 1},
        {"TIPO", FieldType::String, 35},       {"IDSTATUS", FieldType::String, 1},
    };
    QSqlDatabase conn = c.db.connection();
    // Approved and emitted replicas first: the screen reads the first row.
    QSqlQuery q = prepare(conn, "SELECT CDSERIE, CDFILIALREPLIC, NRLANCTONFDEST, IDENTRSAIDOP, TIPO, IDSTATUS "
                                "FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N' "
                                "ORDER BY CASE IDSTATUS WHEN 'A' THEN 0 WHEN 'E' THEN 1 ELSE 2 END, "
                                "CDFILIALREPLIC, NRLANCTONFDEST");
    q.addBindValue(c.str(0));
    q.addBindValue(c.str(1));
    exec(q);
    return packetFromQuery(q, cols);
}

Variant verReplic(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    const core::DataPacket* list = c.packet(0);
    // The one-entry form names its branch; the whole-list form sends it
    // empty, and the rows' own branches are what is checked.
    if (!list || !c.str(1).isEmpty())
        c.requireBranch(c.str(1));
    if (!list) {
        core::DataPacket docs = replicatedDocs(c.db, conn, {{c.str(1), c.str(2)}});
        return Variant(core::VariantArray{Variant(), docs.isEmpty() ? Variant() : Variant(std::move(docs)), qint64(0)});
    }
    // Whole list: tick every entry that may be ticked.
    checkListSize(*list);
    c.requireBranches(*list, "CDFILIAL");
    core::DataPacket out = *list;
    const int iCheck = requiredField(out, "IDCHECK", kEntries);
    const int iBranch = requiredField(out, "CDFILIAL", kEntries);
    const int iNr = requiredField(out, "NRLANCTONF", kEntries);
    const int iStatus = out.fieldIndex("IDSTATUS"), iNfe = out.fieldIndex("IDSTATUSNFE");
    std::vector<EntryKey> keys;
    keys.reserve(out.rows().size());
    for (const auto& row : out.rows()) keys.emplace_back(cellText(row, iBranch), cellText(row, iNr));
    const auto tickable = tickableEntries(conn, keys);
    std::vector<EntryKey> ticked;
    qint64 count = 0;
    const Variant yes("S"), no("N");  // one text each, shared by every row
    for (size_t r = 0; r < out.rows().size(); ++r) {
        auto& row = out.rows()[r];
        const auto b = tickable.find(keys[r].first);
        bool ok = b != tickable.end() && b->second.contains(keys[r].second);
        // The row as the caller sent it may already show the entry blocked.
        if (ok && iStatus >= 0 && iNfe >= 0 && isBlockedEntry(cellText(row, iStatus), cellText(row, iNfe)))
            ok = false;
        row[size_t(iCheck)] = ok ? yes : no;
        if (ok) {
            ++count;
            ticked.push_back(keys[r]);
        }
    }
    core::DataPacket docs = replicatedDocs(c.db, conn, ticked);
    return Variant(core::VariantArray{Variant(std::move(out)), docs.isEmpty() ? Variant() : Variant(std::move(docs)), count});
}

Variant getVdCancela(CallContext& c)
{
    const core::DataPacket& list = *c.packet(0);
    checkListSize(list);
    c.requireBranches(list, "CDFILIAL");
    const int iBranch = requiredField(list, "CDFILIAL", kEntries);
    const int iNr = requiredField(list, "NRLANCTONF", kEntries);
    const int iStatus = list.fieldIndex("IDSTATUS"), iNfe = list.fieldIndex("IDSTATUSNFE");
    const int iVersion = list.fieldIndex("NRVERSAO");
    QSqlDatabase conn = c.db.connection();
    std::vector<EntryKey> keys;
    for (const auto& row : list.rows()) keys.emplace_back(cellText(row, iBranch), cellText(row, iNr));
    const auto stored = loadEntries(c.db, conn, keys, false);
    qint64 changed = 0;
    for (size_t r = 0; r < keys.size(); ++r) {
        const auto& row = list.rows()[r];
        auto s = stored.find(keys[r]);
        if (s == stored.end()) { ++changed; continue; }
        bool differs = false;
        if (iVersion >= 0 && !row[size_t(iVersion)].isNull())
            differs = row[size_t(iVersion)].toInt() != s->second.version;
        if (iStatus >= 0 && cellText(row, iStatus) != s->second.status) differs = true;
        if (iNfe >= 0 && cellText(row, iNfe) != s->second.statusNfe) differs = true;
        if (differs) ++changed;
    }
    return Variant(changed);
}

Variant cancelaNota(CallContext& c)
{
    const QString branch = c.str(0);
    const core::DataPacket& list = *c.packet(1);
    const QString branchInUse = c.str(2), operatorCode = c.str(3), grade = c.str(4);
    checkListSize(list);
    const int iCheck = requiredField(list, "IDCHECK", kEntries);
    const int iBranch = requiredField(list, "CDFILIAL", kEntries);
    const int iNr = requiredField(list, "NRLANCTONF", kEntries);

    std::vector<EntryKey> ticked;
    std::set<EntryKey> seen;
    for (const auto& row : list.rows()) {
        if (cellText(row, iCheck) != "S") continue;
        EntryKey k{cellText(row, iBranch), cellText(row, iNr)};
        if (k.first != branch)
            throw BadRequest(QString("O lançamento %1 marcado é da filial %2, não da filial %3.").arg(k.second, k.first, branch));
        if (seen.insert(k).second) ticked.push_back(k);
    }
    if (ticked.empty())
        return Variant();  // item flow: CancelaItemNf already did the work

    QSqlDatabase conn = c.db.connection();
    Transaction tx(c.db, conn);
    const auto stored = loadEntries(c.db, conn, ticked, true);
    // Every ticked entry is checked before the answer is chosen: entries
    // someone else took meanwhile outrank any other refusal, so the caller
    // learns of them whatever else was refused.
    bool takenByOthers = false;
    QString firstRefusal;
    std::vector<std::pair<EntryKey, StoredEntry>> toCancel;
    for (const EntryKey& k : ticked) {
        auto s = stored.find(k);
        QString refusal;
        if (s == stored.end() || s->second.status != "P" || isBlockedEntry(s->second.status, s->second.statusNfe)) {
            refusal = "NOTAS_N_CANC";  // emitted, approved or cancelled by someone else meanwhile
        } else {
            QSqlQuery q = prepare(conn, "SELECT IDQUITADA, IDMAPAAPURADO FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?");
            q.addBindValue(k.first);
            q.addBindValue(k.second);
            exec(q);
            bool paid = false, map = false;
            while (q.next()) {
                paid = paid || q.value(0).toString() == "S";
                map = map || q.value(1).toString() == "S";
            }
            if (map) refusal = "ERRO_EXC_COMISMAPA";
            else if (paid) refusal = "ERRO_EXC_COMIS";
        }
        if (refusal == "NOTAS_N_CANC") {
            takenByOthers = true;
            continue;
        }
        if (!refusal.isEmpty()) {
            if (firstRefusal.isEmpty()) firstRefusal = refusal;
            continue;
        }
        toCancel.emplace_back(k, s->second);
    }
    if (takenByOthers) firstRefusal = "NOTAS_N_CANC";
    StockDeltas deltas;
    for (const auto& [k, e] : toCancel) addEntryStock(c.db, conn, k.first, k.second, e.nrLancEstq, nullptr, deltas);
    try {
        lockAndCheckStock(c.db, conn, deltas, "REPLIC_N_CANC");  // blocks the whole call: the transaction rolls back
    } catch (const core::ServerError&) {
        if (takenByOthers) throw core::ServerError("NOTAS_N_CANC");
        throw;
    }
    for (const auto& [k, e] : toCancel) {
        setEntryCancelled(conn, k.first, k.second, e.version, true);
        cancelEntryParts(conn, k.first, k.second, e.nrLancEstq);
        writeAudit(conn, c, operatorCode, branchInUse, k.first, k.second, QString(), "CANCELA_NOTA",
                   grade.isEmpty() || grade == "T" ? QString() : "Grade " + grade);
    }
    applyStock(c.db, conn, deltas);
    tx.commit();
    if (!firstRefusal.isEmpty())
        throw core::ServerError(firstRefusal);
    return Variant();
}

// True when a quantity sent back by a client is the very value this server
// sends for the stored quantity (the double nearest to it, as the packets
// carry it): an unchanged item returns it unchanged and no tolerance applies.
bool sameQuantity(Quantity stored, const Variant& sent)
{
    if (sent.type() != Variant::Type::Double && sent.type() != Variant::Type::Integer) return false;
    return sent.toDouble() == stored.toDouble();
}

// Every ticked item of the packet must be the stored item of its number:
// same product, same quantity. A packet holding another entry's items (a
// client that kept the previous entry's list under a new current entry)
// would otherwise cancel this entry's items that happen to share numbers.
void checkTickedItemsAreStored(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry,
                               const core::DataPacket& items, const QStringList& seqs)
{
    const int iCheck = requiredField(items, "IDCHECK", "itens");
    const int iSeq = requiredField(items, "NRSEQITPROD", "itens");
    const int iProd = requiredField(items, "CDPRODUTO", "itens");
    const int iQty = requiredField(items, "QTITEMPROD", "itens");
    QSqlQuery q = prepare(conn, QString("SELECT NRSEQITPROD, CDPRODUTO, %1 FROM ITLANCTONF WHERE CDFILIAL = ? "
                                        "AND NRLANCTONF = ? AND NRSEQITPROD IN (%2)")
                                    .arg(qtyUnitsSql(db, "QTITEMPROD"), marks(seqs.size())));
    q.addBindValue(branch);
    q.addBindValue(entry);
    for (const QString& sq : seqs) q.addBindValue(sq);
    exec(q);
    std::map<QString, std::pair<QString, Quantity>> stored;
    while (q.next()) stored[q.value(0).toString()] = {q.value(1).toString(), quantityAt(q, 2)};
    for (const auto& row : items.rows()) {
        if (cellText(row, iCheck) != "S") continue;
        const auto s = stored.find(cellText(row, iSeq));
        if (s == stored.end() || s->second.first != cellText(row, iProd) ||
            !sameQuantity(s->second.second, row.at(size_t(iQty))))
            throw core::ServerError("NOTA_ALT");
    }
}

Variant cancelaItemNf(CallContext& c)
{
    const QString branch = c.str(0);
    const core::DataPacket& items = *c.packet(1);
    const QString entry = c.str(2), nrExp = c.str(3), nrLancEstq = c.str(4);
    const core::Date day = c.date(5);
    const QString cdFiliEmit = c.str(6), operatorCode = c.str(7);
    const int iCheck = requiredField(items, "IDCHECK", "itens");
    const int iSeq = requiredField(items, "NRSEQITPROD", "itens");
    if (items.rowCount() > kMaxItemRows)
        throw BadRequest(QString("Lista de itens longa demais (%1 linhas; no máximo %2).").arg(items.rowCount()).arg(kMaxItemRows));
    QStringList seqs;
    QSet<QString> seenSeqs;
    for (const auto& row : items.rows()) {
        if (cellText(row, iCheck) != "S") continue;
        const QString seq = cellText(row, iSeq);
        if (seenSeqs.contains(seq)) continue;
        seenSeqs.insert(seq);
        seqs << seq;
    }
    if (seqs.isEmpty())
        throw core::ServerError("Nenhum item da nota fiscal está marcado para cancelamento.");
    if (seqs.size() > kMaxPickedKeys)
        throw BadRequest(QString("Itens marcados demais em uma chamada (%1; no máximo %2).").arg(seqs.size()).arg(kMaxPickedKeys));

    QSqlDatabase conn = c.db.connection();
    core::DataPacket followUp(fieldDefs(kFollowUpCols));
    {
        Transaction tx(c.db, conn);
        const auto stored = loadEntries(c.db, conn, {{branch, entry}}, true);
        auto s = stored.find({branch, entry});
        if (s == stored.end() || s->second.status != "P" || isBlockedEntry(s->second.status, s->second.statusNfe) ||
            s->second.nrExp != nrExp || s->second.nrLancEstq != nrLancEstq || s->second.cdFiliEmit != cdFiliEmit ||
            s->second.day != qint64(day.days))
            throw core::ServerError("NOTA_ALT");
        checkTickedItemsAreStored(c.db, conn, branch, entry, items, seqs);
        {
            QSqlQuery p = prepare(conn, "SELECT IDGERPRODEST FROM PARAMEXPED WHERE CDFILIAL = ?");
            p.addBindValue(branch);
            exec(p);
            if (p.next() && p.value(0).toString() == "3") throw core::ServerError("CANCEL_EXP");
        }
        {
            QSqlQuery a = prepare(conn, "SELECT COUNT(*) FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?");
            a.addBindValue(branch);
            a.addBindValue(entry);
            exec(a);
            if (a.next() && a.value(0).toLongLong() > 0) throw core::ServerError("CNTCOMIS");
        }
        QSqlQuery it = prepare(conn, QString("SELECT NRSEQITPROD, CDPRODUTO, NMPRODUTO, %1, CDFILIALPED, NRPEDIDO, "
                                             "NRITEMPED FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                             "IDCANCELADO = 'N' AND NRSEQITPROD IN (%2) ORDER BY NRSEQITPROD")
                                         .arg(qtyFloatSql(c.db, "QTITEMPROD"), marks(seqs.size())));
        it.addBindValue(branch);
        it.addBindValue(entry);
        for (const QString& sq : seqs) it.addBindValue(sq);
        exec(it);
        while (it.next())
            followUp.appendRow({branch, entry, nrExp, nrLancEstq, day, cdFiliEmit, it.value(0).toString(),
                                it.value(1).toString(), it.value(2).toString(), it.value(3).toDouble(),
                                it.value(4).toString(), it.value(5).toString(), it.value(6).toString()});
        if (followUp.rowCount() != seqs.size())
            throw core::ServerError("NOTA_ALT");  // an item is gone or already cancelled
        StockDeltas deltas;
        addEntryStock(c.db, conn, branch, entry, nrLancEstq, &seqs, deltas);
        lockAndCheckStock(c.db, conn, deltas, "ITEM_N_CANC");
        QStringList binds{branch, entry};
        binds += seqs;
        execKeyed(conn, QString("UPDATE ITLANCTONF SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                "NRSEQITPROD IN (%1)").arg(marks(seqs.size())), binds);
        binds[1] = nrLancEstq;
        execKeyed(conn, QString("UPDATE ITLANCTOEST SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND "
                                "NRSEQITPROD IN (%1)").arg(marks(seqs.size())), binds);
        applyStock(c.db, conn, deltas);
        QSqlQuery left = prepare(conn, "SELECT COUNT(*) FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'");
        left.addBindValue(branch);
        left.addBindValue(entry);
        exec(left);
        const bool none = left.next() && left.value(0).toLongLong() == 0;
        setEntryCancelled(conn, branch, entry, s->second.version, none);
        if (none) cancelEntryParts(conn, branch, entry, nrLancEstq);
        for (const QString& sq : seqs) writeAudit(conn, c, operatorCode, QString(), branch, entry, sq, "CANCELA_ITEM", QString());
        if (none)
            writeAudit(conn, c, operatorCode, QString(), branch, entry, QString(), "CANCELA_NOTA", "Todos os itens cancelados");
        tx.commit();
    }
    return Variant(core::VariantArray{Variant(std::move(followUp)), itemsOf(c.db, conn, branch, entry), accountsOf(c.db, conn, branch, entry)});
}

Variant getParExpedicao(CallContext& c)
{
    static const std::vector<Column> cols = {
        {"IDGERPRODEST", FieldType::String, 1}, {"IDREPLITRANS", FieldType::String, 1}, {"IDTPEXPPEDIDO", FieldType::String, 3}};
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn, "SELECT IDGERPRODEST, IDREPLITRANS, IDTPEXPPEDIDO FROM PARAMEXPED WHERE CDFILIAL = ?");
    q.addBindValue(c.str(0));
    exec(q);
    return packetFromQuery(q, cols);
}

Variant getExp(CallContext& c)
{
    static const std::vector<Column> cols = {
        {"IDMARCADO", FieldType::String, 1, true}, {"CDFILIAL", FieldType::String, 4},
        {"NREXPEDICAO", FieldType::String, 10},    {"CDVIATURA", FieldType::String, 4},
        {"NRPLACA", FieldType::String, 8}};
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn, "SELECT 'N', CDFILIAL, NREXPEDICAO, CDVIATURA, NRPLACA FROM EXPEDICAO WHERE CDFILIAL = ? "
                                "ORDER BY NREXPEDICAO");
    q.addBindValue(c.str(0));
    exec(q);
    return packetFromQuery(q, cols);
}

Variant getGradePesq(CallContext& c)
{
    static const std::vector<Column> cols = {{"NRGRADEPED", FieldType::String, 40}};
    const core::Date first = checkedDate(c.arg(1), "Data inicial");
    const core::Date last = checkedDate(c.arg(2), "Data final");
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn, "SELECT NRGRADEPED FROM GRADEPED WHERE CDFILIAL = ? AND DTGRADE BETWEEN ? AND ? "
                                "ORDER BY NRGRADEPED");
    q.addBindValue(c.str(0));
    q.addBindValue(qint64(first.days));
    q.addBindValue(qint64(last.days));
    exec(q);
    return packetFromQuery(q, cols);
}

} // namespace

bool isBlockedEntry(const QString& status, const QString& statusNfe)
{
    return oneOf(status, {"A", "C", "E", "L"}) || oneOf(statusNfe, {"A", "D", "T"});
}

void writeAudit(QSqlDatabase& conn, const CallContext& c, const QString& operatorArg, const QString& branchInUse,
                const QString& branch, const QString& entry, const QString& item, const QString& operation,
                const QString& detail)
{
    QSqlQuery q = prepare(conn, "INSERT INTO AUDITCANC (DTHRREGISTRO, CDOPERADOR, CDFILIPROC, CDFILIAL, NRLANCTONF, "
                                "NRSEQITPROD, IDOPERACAO, DSDETALHE, DSENDERECO) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    q.addBindValue(c.auditOperator(operatorArg).left(20));
    q.addBindValue(branchInUse);
    q.addBindValue(branch);
    q.addBindValue(entry);
    q.addBindValue(item.isEmpty() ? QVariant() : QVariant(item));
    q.addBindValue(operation);
    q.addBindValue(detail.left(200));
    q.addBindValue(c.address().isEmpty() ? QVariant() : QVariant(c.address().left(64)));
    exec(q);
}

void registerCancelNota(Registry& r)
{
    using K = ArgKind;
    const QString s = kCancelNotaServer;
    r.addStreamed(s, "GetLanctoNF", {K::Branch, K::Date, K::Date, K::String, K::String, K::String, K::String, K::String,
                             K::String, K::String, K::String}, getLanctoNF);
    r.add(s, "GetItem", {K::Branch, K::String}, getItem);
    r.add(s, "GetItLanctoEst", {K::Branch, K::String}, getItLanctoEst);
    r.add(s, "GetReplicAprov", {K::Branch, K::String}, getReplicAprov);
    // Its branch is checked by the handler: the whole-list form sends it empty.
    r.add(s, "VerReplic", {K::PacketOrNull, K::String, K::String}, verReplic);
    r.add(s, "GetVdCancela", {K::Packet, K::Branch}, getVdCancela);
    r.add(s, "CancelaNota", {K::Branch, K::Packet, K::Branch, K::Operator, K::String}, cancelaNota);
    r.add(s, "CancelaItemNf", {K::Branch, K::Packet, K::String, K::String, K::String, K::Date, K::String, K::Operator},
          cancelaItemNf);
    r.add(s, "GetParExpedicao", {K::Branch}, getParExpedicao);
    r.add(s, "GetExp", {K::Branch}, getExp);
    r.add(s, "GetGradePesq", {K::Branch, K::Date, K::Date}, getGradePesq);
}

} // namespace server
