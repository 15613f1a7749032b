// What the filter picks from: the branch's shipping parameters, its
// shipments and its order grades of a period.
#include "cancelnota_shared.h"

#include <QSqlQuery>

namespace server::cancelnota {

using core::FieldType;
using core::Variant;

Variant getParExpedicao(CallContext& c)
{
    static const std::vector<Column> cols = {{"IDGERPRODEST", FieldType::String, 1},
                                             {"IDREPLITRANS", FieldType::String, 1},
                                             {"IDTPEXPPEDIDO", FieldType::String, 3}};
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn, "SELECT IDGERPRODEST, IDREPLITRANS, IDTPEXPPEDIDO FROM PARAMEXPED WHERE CDFILIAL = ?");
    q.addBindValue(c.str(0));
    exec(q);
    return packetFromQuery(q, cols);
}

Variant getExp(CallContext& c)
{
    static const std::vector<Column> cols = {{"IDMARCADO", FieldType::String, 1, true},
                                             {"CDFILIAL", FieldType::String, 4},
                                             {"NREXPEDICAO", FieldType::String, 10},
                                             {"CDVIATURA", FieldType::String, 4},
                                             {"NRPLACA", FieldType::String, 8}};
    QSqlDatabase conn = c.db.connection();
    QSqlQuery q = prepare(conn,
                          "SELECT 'N', CDFILIAL, NREXPEDICAO, CDVIATURA, NRPLACA FROM EXPEDICAO WHERE CDFILIAL = ? "
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
    QSqlQuery q = prepare(conn,
                          "SELECT NRGRADEPED FROM GRADEPED WHERE CDFILIAL = ? AND DTGRADE BETWEEN ? AND ? "
                          "ORDER BY NRGRADEPED");
    q.addBindValue(c.str(0));
    q.addBindValue(qint64(first.days));
    q.addBindValue(qint64(last.days));
    exec(q);
    return packetFromQuery(q, cols);
}

} // namespace server::cancelnota
