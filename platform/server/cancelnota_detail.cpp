// One entry's parts: its items and accounts, its stock movements, and the
// entries replication created from it.
#include "cancelnota_shared.h"

#include <QSqlQuery>

namespace server::cancelnota {

using core::FieldType;
using core::Variant;

Variant getItem(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    return Variant(
        core::VariantArray{itemsOf(c.db, conn, c.str(0), c.str(1)), accountsOf(c.db, conn, c.str(0), c.str(1))});
}

Variant getItLanctoEst(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn,
                          QString("SELECT %1 FROM ITLANCTOEST WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND "
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
    QSqlQuery q = prepare(conn,
                          "SELECT CDSERIE, CDFILIALREPLIC, NRLANCTONFDEST, IDENTRSAIDOP, TIPO, IDSTATUS "
                          "FROM DOCREPLIC WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N' "
                          "ORDER BY CASE IDSTATUS WHEN 'A' THEN 0 WHEN 'E' THEN 1 ELSE 2 END, "
                          "CDFILIALREPLIC, NRLANCTONFDEST");
    q.addBindValue(c.str(0));
    q.addBindValue(c.str(1));
    exec(q);
    return packetFromQuery(q, cols);
}

} // namespace server::cancelnota
