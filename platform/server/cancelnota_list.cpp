// GetLanctoNF: the entry list of a branch and period, filtered by routes,
// shipments, a shipment interval and an order grade, streamed to the caller.
#include "cancelnota_shared.h"

#include "picklist.h"

#include <QLocale>
#include <QSqlQuery>

namespace server::cancelnota {

namespace {

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

} // namespace

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

} // namespace server::cancelnota
