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
    atual[0] = K::Operator;
    atual[1] = K::Branch;
    atual[4] = K::Any; // the new status, by reference
    r.add(kSituacaoServer, "GetAtual_Situ", atual, [port](CallContext& c) {
        const QString operatorCode = c.str(0), branch = c.str(1), entry = c.str(2), current = c.str(3);
        const Variant& nv = c.arg(4);
        const QString newStatus = nv.type() == Variant::Type::String ? nv.toString() : QString();
        const QString accessKey = c.str(7);
        if (newStatus != "A" && newStatus != "D" && newStatus != "X")
            return answer("N",
                          QString("Situação de NF-e inválida: \"%1\" (esperado A, D ou X).").arg(quoted(newStatus)));
        QSqlDatabase conn = c.db.connection();
        QString storedKey;
        {
            QSqlQuery k = prepare(conn, "SELECT NRACESSONFE FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ?");
            k.addBindValue(branch);
            k.addBindValue(entry);
            exec(k);
            if (!k.next())
                return answer("N",
                              QString("Lançamento %1 da filial %2 não encontrado.").arg(quoted(entry), quoted(branch)));
            storedKey = k.value(0).toString();
        }
        if (!accessKey.isEmpty() && storedKey != accessKey)
            return answer("N", QString("A chave de acesso não confere com a do lançamento %1.").arg(quoted(entry)));
        if (storedKey.trimmed().isEmpty())
            return answer("N", QString("O lançamento %1 não tem chave de acesso de NF-e.").arg(quoted(entry)));
        // The authority is asked here, with the entry's own key and outside the
        // transaction; the status is stored only when its answer gives the one
        // the client sent.
        const SefazQuery q{c.str(5), c.str(6), storedKey, c.str(8), c.str(11), c.str(9), c.str(10), c.str(12)};
        const SefazAnswer a = port->query(c.db, q);
        if (!a.answered)
            return answer(
                "N",
                QString("A SEFAZ não confirmou a situação da NF-e do lançamento %1: %2").arg(quoted(entry), a.message));
        const QString given = statusForCode(a.code);
        if (given != newStatus)
            return answer("N",
                          QString("A situação %1 não confere com a resposta da SEFAZ para o lançamento %2 "
                                  "(código %3, situação %4). Nada foi alterado.")
                              .arg(quoted(newStatus), quoted(entry))
                              .arg(a.code)
                              .arg(quoted(given)));
        Transaction tx(c.db, conn);
        QSqlQuery s =
            prepare(conn,
                    QString("SELECT IDSTATUSNFE, NRACESSONFE FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ?%1")
                        .arg(c.db.isSqlite() ? "" : " FOR UPDATE"));
        s.addBindValue(branch);
        s.addBindValue(entry);
        exec(s);
        if (!s.next())
            return answer("N",
                          QString("Lançamento %1 da filial %2 não encontrado.").arg(quoted(entry), quoted(branch)));
        if (s.value(0).toString() != current)
            return answer("N",
                          QString("A situação da NF-e do lançamento %1 foi alterada por outro usuário.").arg(entry));
        if (s.value(1).toString() != storedKey)
            return answer("N",
                          QString("A chave de acesso do lançamento %1 foi alterada por outro usuário.").arg(entry));
        QSqlQuery u = prepare(conn,
                              "UPDATE LANCTONF SET IDSTATUSNFE = ?, NRVERSAO = NRVERSAO + 1 "
                              "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDSTATUSNFE = ?");
        u.addBindValue(newStatus);
        u.addBindValue(branch);
        u.addBindValue(entry);
        u.addBindValue(current);
        exec(u);
        writeAudit(conn, c, operatorCode, QString(), branch, entry, QString(), "ATUALIZA_SITUACAO",
                   QString("Situação NF-e %1 -> %2 (SEFAZ %3)").arg(current, newStatus).arg(a.code));
        tx.commit();
        c.setRef(4, newStatus);
        return answer("S", "Situação da NF-e atualizada.");
    });
}

QString statusForCode(int code)
{
    switch (code) {
    case 100:
    case 150: return "A";
    case 110:
    case 301:
    case 302: return "D";
    default: return "X";
    }
}

} // namespace server
