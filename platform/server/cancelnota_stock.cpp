// Stock changes of a cancellation: collected from the entry's movements and
// replicas, locked and checked, then written.
#include "cancelnota_shared.h"

#include <QSqlQuery>

namespace server::cancelnota {

namespace {

QString stockBranch(const QString& moveBranch, const QString& entryBranch)
{
    return moveBranch.isEmpty() ? entryBranch : moveBranch;
}

} // namespace

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
        if (delta.isZero())
            continue;
        QSqlQuery u = prepare(
            conn,
            delta.isNegative()
                ? "UPDATE SALDOESTQ SET QTSALDO = QTSALDO - ? WHERE CDFILIAL = ? AND CDPRODUTO = ?"
                : "INSERT INTO SALDOESTQ (QTSALDO, CDFILIAL, CDPRODUTO) VALUES (?, ?, ?) "
                  "ON CONFLICT (CDFILIAL, CDPRODUTO) DO UPDATE SET QTSALDO = SALDOESTQ.QTSALDO + EXCLUDED.QTSALDO");
        u.addBindValue(qtyBind(db, delta.isNegative() ? -delta : delta));
        u.addBindValue(k.first);
        u.addBindValue(k.second);
        exec(u);
        if (u.numRowsAffected() != 1) // checked under lock: only a broken invariant gets here
            throw InternalError(QString("O saldo %1/%2 mudou durante o cancelamento.").arg(k.first, k.second));
    }
}

// Stock returned to the issuing side by the withdrawal movements of an entry
// (all of them, or those of the listed items), and taken back from the
// destination of every replica that already brought the goods in (approved or
// emitted).
void addEntryStock(Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry,
                   const QString& nrLancEstq, const QStringList* onlyItems, StockDeltas& deltas)
{
    QString itemFilter;
    if (onlyItems)
        itemFilter = QString(" AND NRSEQITPROD IN (%1)").arg(marks(onlyItems->size()));
    {
        QSqlQuery q = prepare(conn,
                              QString("SELECT CDFILIMOVI, CDPRODMOVI, CDPRODUTO, %1 FROM ITLANCTOEST "
                                      "WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND IDCANCELADO = 'N'")
                                      .arg(qtyUnitsSql(db, "QTLANCTOEST"))
                                  + itemFilter);
        q.addBindValue(branch);
        q.addBindValue(nrLancEstq);
        if (onlyItems)
            for (const QString& s : *onlyItems)
                q.addBindValue(s);
        exec(q);
        while (q.next()) {
            const QString prod = q.value(1).toString().isEmpty() ? q.value(2).toString() : q.value(1).toString();
            deltas[{stockBranch(q.value(0).toString(), branch), prod}] += quantityAt(q, 3);
        }
    }
    QSqlQuery r = prepare(conn,
                          "SELECT CDFILIALREPLIC FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                          "AND IDCANCELADO = 'N' AND IDSTATUS IN ('A', 'E')");
    r.addBindValue(branch);
    r.addBindValue(entry);
    exec(r);
    QStringList destinations;
    while (r.next())
        destinations << r.value(0).toString();
    if (destinations.isEmpty())
        return;
    QSqlQuery it = prepare(conn,
                           QString("SELECT CDPRODUTO, %1 FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                   "AND IDCANCELADO = 'N'")
                                   .arg(qtyUnitsSql(db, "QTITEMPROD"))
                               + itemFilter);
    it.addBindValue(branch);
    it.addBindValue(entry);
    if (onlyItems)
        for (const QString& s : *onlyItems)
            it.addBindValue(s);
    exec(it);
    while (it.next())
        for (const QString& dest : destinations)
            deltas[{dest, it.value(0).toString()}] -= quantityAt(it, 1);
}

} // namespace server::cancelnota
