#include "cancelnota.h"
#include "cancelnota_shared.h"

#include <QDateTime>
#include <QSqlQuery>

namespace server {

namespace {

bool oneOf(const QString& v, std::initializer_list<const char*> codes)
{
    for (const char* c : codes)
        if (v == QLatin1String(c))
            return true;
    return false;
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
    QSqlQuery q = prepare(conn,
                          "INSERT INTO AUDITCANC (DTHRREGISTRO, CDOPERADOR, CDFILIPROC, CDFILIAL, NRLANCTONF, "
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
    using namespace cancelnota;
    const QString s = kCancelNotaServer;
    r.addStreamed(s, "GetLanctoNF",
                  {K::Branch, K::Date, K::Date, K::String, K::String, K::String, K::String, K::String, K::String,
                   K::String, K::String},
                  getLanctoNF);
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
