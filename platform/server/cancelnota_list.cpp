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

// The restriction of an entry list: one WHERE clause and its binds, in
// order. The count that guards the cap and the list itself both use it, so
// they always select the same rows.
struct EntryFilter {
    QString where; ///< "WHERE ..."
    QVariantList binds;
};

// The filter of GetLanctoNF's eleven arguments; a malformed argument is a
// bad request, refused before any database work.
EntryFilter entryFilter(CallContext& c)
{
    const QString branch = c.str(0);
    const core::Date first = checkedDate(c.arg(1), "Data inicial");
    const core::Date last = checkedDate(c.arg(2), "Data final");
    const QString routes = c.str(3), allRoutes = c.str(4);
    const QString shipments = c.str(5), allShipments = c.str(6);
    const QString expFrom = c.str(7), expTo = c.str(8), noInterval = c.str(9);
    const QString grade = c.str(10);

    EntryFilter f{QStringLiteral("WHERE CDFILIAL = ? AND DTENTRSAID BETWEEN ? AND ?"),
                  {branch, qint64(first.days), qint64(last.days)}};
    if (allRoutes != "T") {
        const QStringList keys = pickedKeys(routes, "rotas");
        f.where += QString(" AND CDROTATRANS IN (%1)").arg(marks(keys.size()));
        for (const QString& k : keys)
            f.binds << k;
    }
    if (allShipments != "T") {
        const QStringList keys = pickedKeys(shipments, "expedições");
        f.where += QString(" AND NREXPEDICAO IN (%1)").arg(marks(keys.size()));
        for (const QString& k : keys)
            f.binds << k;
    }
    if (noInterval != "T") {
        if (expFrom.trimmed().isEmpty() || expTo.trimmed().isEmpty())
            throw BadRequest("Intervalo de expedições incompleto: informe a expedição inicial e a final.");
        f.where += " AND NREXPEDICAO BETWEEN ? AND ?";
        f.binds << expFrom << expTo;
    }
    if (grade != "T" && !grade.isEmpty()) {
        f.where += " AND NRGRADEPED = ?";
        f.binds << grade;
    }
    return f;
}

} // namespace

// The list is written to the caller while it is read.
std::shared_ptr<RowSource> getLanctoNF(CallContext& c)
{
    const EntryFilter f = entryFilter(c);
    // Counting at most one row past the cap tells a list that is too long
    // before any row of it is read into a packet.
    QSqlDatabase conn = c.db.connection();
    {
        QSqlQuery n = prepare(conn,
                              QString("SELECT COUNT(*) FROM (SELECT 1 FROM LANCTONF %1 LIMIT %2) X")
                                  .arg(f.where, QString::number(kMaxListEntries + 1)));
        for (const QVariant& b : f.binds)
            n.addBindValue(b);
        exec(n);
        if (n.next() && n.value(0).toLongLong() > kMaxListEntries)
            throw core::ServerError(QString("A consulta encontrou mais de %1 lançamentos, o máximo que a tela carrega. "
                                            "Restrinja o filtro (período, rotas ou expedições) e consulte de novo.")
                                        .arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(kMaxListEntries)));
    }
    QSqlQuery q = prepare(conn,
                          QString("SELECT %1 FROM LANCTONF %2 ORDER BY DTENTRSAID, NRLANCTONF, NREXPEDICAO")
                              .arg(selectList(c.db, kLanctoCols), f.where));
    for (const QVariant& b : f.binds)
        q.addBindValue(b);
    exec(q);
    return rowsFromQuery(std::move(q), kLanctoCols);
}

} // namespace server::cancelnota
