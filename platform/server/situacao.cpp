#include "situacao.h"

#include "cancelnota.h"

#include <QSqlQuery>

namespace server {

using core::Variant;

SefazAnswer StoredAnswerSimulator::query(Database& db, const SefazQuery& q)
{
    QSqlDatabase conn = db.connection();
    QSqlQuery s = prepare(conn, "SELECT CDRETORNO, DSMENSAGEM FROM SITUACAONFE WHERE NRACESSONFE = ?");
    s.addBindValue(q.accessKey);
    exec(s);
    SefazAnswer a;
    if (!s.next()) {
        a.message = "217 - Rejeição: NF-e não consta na base de dados da SEFAZ";
        return a;
    }
    if (!s.value(0).isNull()) {
        a.answered = true;
        a.code = s.value(0).toInt();
    } else {
        a.message = s.value(1).toString();
    }
    return a;
}

namespace {

Variant answer(const QString& flag, const QString& text)
{
    return Variant(core::VariantArray{flag, text});
}

} // namespace

void registerSituacao(Registry& r, std::shared_ptr<SefazPort> port)
{
    using K = ArgKind;
    r.add(kSituacaoServer, "GetSituacao", std::vector<K>(8, K::String), [port](CallContext& c) {
        SefazQuery q{c.str(0), c.str(1), c.str(2), c.str(3), c.str(4), c.str(5), c.str(6), c.str(7)};
        if (q.accessKey.trimmed().isEmpty())
            return answer("N", "Chave de acesso da NF-e não informada.");
        const SefazAnswer a = port->query(c.db, q);
        return a.answered ? answer("S", QString::number(a.code)) : answer("N", a.message);
    });

    std::vector<K> atual(13, K::String);
    atual[4] = K::Any;  // the new status, by reference
    r.add(kSituacaoServer, "GetAtual_Situ", atual, [](CallContext& c) {
        const QString operatorCode = c.str(0), branch = c.str(1), entry = c.str(2), current = c.str(3);
        const Variant& nv = c.arg(4);
        const QString newStatus = nv.type() == Variant::Type::String ? nv.toString() : QString();
        const QString accessKey = c.str(7);
        if (newStatus != "A" && newStatus != "D" && newStatus != "X")
            return answer("N", QString("Situação de NF-e inválida: \"%1\" (esperado A, D ou X).").arg(newStatus));
        QSqlDatabase conn = c.db.connection();
        Transaction tx(c.db, conn);
        QSqlQuery s = prepare(conn, QString("SELECT IDSTATUSNFE, NRACESSONFE FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ?%1")
                                        .arg(c.db.isSqlite() ? "" : " FOR UPDATE"));
        s.addBindValue(branch);
        s.addBindValue(entry);
        exec(s);
        if (!s.next())
            return answer("N", QString("Lançamento %1 da filial %2 não encontrado.").arg(entry, branch));
        if (s.value(0).toString() != current)
            return answer("N", QString("A situação da NF-e do lançamento %1 foi alterada por outro usuário.").arg(entry));
        if (!accessKey.isEmpty() && s.value(1).toString() != accessKey)
            return answer("N", QString("A chave de acesso não confere com a do lançamento %1.").arg(entry));
        QSqlQuery u = prepare(conn, "UPDATE LANCTONF SET IDSTATUSNFE = ?, NRVERSAO = NRVERSAO + 1 "
                                    "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDSTATUSNFE = ?");
        u.addBindValue(newStatus);
        u.addBindValue(branch);
        u.addBindValue(entry);
        u.addBindValue(current);
        exec(u);
        writeAudit(conn, operatorCode, QString(), branch, entry, QString(), "ATUALIZA_SITUACAO",
                   QString("Situação NF-e %1 -> %2").arg(current, newStatus));
        tx.commit();
        c.setRef(4, newStatus);
        return answer("S", "Situação da NF-e atualizada.");
    });
}

} // namespace server
