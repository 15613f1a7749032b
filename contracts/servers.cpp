#include "servers.h"

#include <core/errors.h>

namespace contracts {

namespace {

/// A wrapper called on a connection bound to another server would send the
/// call where the method does not exist; say so before anything travels.
void requireServer(const core::TNetConnection& net, const char* server, const char* method)
{
    if (net.ServerName.compare(QLatin1String(server), Qt::CaseInsensitive) != 0)
        throw core::Error(QStringLiteral("%1 pertence ao servidor %2, mas a conexão %3 é do servidor \"%4\"")
                              .arg(QLatin1String(method), QLatin1String(server), net.objectName(), net.ServerName));
}

core::ServerResult callCancel(core::TNetConnection& net, const char* method, std::vector<core::Arg> args)
{
    requireServer(net, kRdmCancelNota, method);
    return net.call(QLatin1String(method), std::move(args));
}

core::ServerResult callSituacao(core::TNetConnection& net, const char* method, std::vector<core::Arg> args)
{
    requireServer(net, kRdmSituacao, method);
    return net.call(QLatin1String(method), std::move(args));
}

} // namespace

namespace cancelnota {

core::ServerResult GetLanctoNF(core::TNetConnection& net, const LanctoNFArgs& a)
{
    return callCancel(net, "GetLanctoNF",
                      {a.stFilial, a.dtInicial, a.dtFinal, a.stRotas, a.stTodasRotas, a.stExpedicoes,
                       a.stTodasExpedicoes, a.stExpDe, a.stExpAte, a.stSemIntervalo, a.stGrade});
}

core::ServerResult GetLanctoNF(core::TNetConnection& net, const QString& filial, core::Date dtInicial,
                               core::Date dtFinal, const QString& rotas, const QString& todasRotas,
                               const QString& expedicoes, const QString& todasExpedicoes, const QString& expDe,
                               const QString& expAte, const QString& semIntervalo, const QString& grade)
{
    return callCancel(net, "GetLanctoNF",
                      {filial, core::Variant(dtInicial), core::Variant(dtFinal), rotas, todasRotas, expedicoes,
                       todasExpedicoes, expDe, expAte, semIntervalo, grade});
}

core::ServerResult GetLanctoNFRef(core::TNetConnection& net, LanctoNFArgs& a)
{
    return GetLanctoNFRef(net, a.stFilial, a.dtInicial, a.dtFinal, a.stRotas, a.stTodasRotas, a.stExpedicoes,
                          a.stTodasExpedicoes, a.stExpDe, a.stExpAte, a.stSemIntervalo, a.stGrade);
}

core::ServerResult GetLanctoNFRef(core::TNetConnection& net, core::Variant& filial, core::Variant& dtInicial,
                                  core::Variant& dtFinal, core::Variant& rotas, core::Variant& todasRotas,
                                  core::Variant& expedicoes, core::Variant& todasExpedicoes, core::Variant& expDe,
                                  core::Variant& expAte, core::Variant& semIntervalo, core::Variant& grade)
{
    using core::Arg;
    return callCancel(net, "GetLanctoNF",
                      {Arg::ref(filial), Arg::ref(dtInicial), Arg::ref(dtFinal), Arg::ref(rotas), Arg::ref(todasRotas),
                       Arg::ref(expedicoes), Arg::ref(todasExpedicoes), Arg::ref(expDe), Arg::ref(expAte),
                       Arg::ref(semIntervalo), Arg::ref(grade)});
}

core::ServerResult GetItem(core::TNetConnection& net, const QString& filial, const QString& nrLanctoNF)
{
    return callCancel(net, "GetItem", {filial, nrLanctoNF});
}

core::ServerResult GetItLanctoEst(core::TNetConnection& net, const QString& filial, const QString& nrLancEstq)
{
    return callCancel(net, "GetItLanctoEst", {filial, nrLancEstq});
}

core::ServerResult GetReplicAprov(core::TNetConnection& net, const QString& filial, const QString& nrLanctoNF)
{
    return callCancel(net, "GetReplicAprov", {filial, nrLanctoNF});
}

core::ServerResult VerReplic(core::TNetConnection& net, const core::Variant& dados, const QString& filial,
                             const QString& nrLanctoNF)
{
    return callCancel(net, "VerReplic", {dados, filial, nrLanctoNF});
}

core::ServerResult GetVdCancela(core::TNetConnection& net, const core::Variant& lista, const QString& filial)
{
    return callCancel(net, "GetVdCancela", {lista, filial});
}

core::ServerResult CancelaNota(core::TNetConnection& net, const QString& filial, const core::Variant& lista,
                               const QString& filialUso, const QString& operador, const QString& grade)
{
    return callCancel(net, "CancelaNota", {filial, lista, filialUso, operador, grade});
}

core::ServerResult CancelaItemNf(core::TNetConnection& net, const QString& filial, const core::Variant& itens,
                                 const QString& nrLanctoNF, const QString& nrExpedicao, const QString& nrLancEstq,
                                 core::Date dtLancto, const QString& filialEmit, const QString& operador)
{
    return callCancel(
        net, "CancelaItemNf",
        {filial, itens, nrLanctoNF, nrExpedicao, nrLancEstq, core::Variant(dtLancto), filialEmit, operador});
}

core::ServerResult GetParExpedicao(core::TNetConnection& net, const QString& filial)
{
    return callCancel(net, "GetParExpedicao", {filial});
}

core::ServerResult GetExp(core::TNetConnection& net, const QString& filial)
{
    return callCancel(net, "GetExp", {filial});
}

core::ServerResult GetGradePesq(core::TNetConnection& net, const QString& filial, core::Date dtInicial,
                                core::Date dtFinal)
{
    return callCancel(net, "GetGradePesq", {filial, core::Variant(dtInicial), core::Variant(dtFinal)});
}

} // namespace cancelnota

namespace situacao {

core::ServerResult GetSituacao(core::TNetConnection& net, const QString& ambiente, const QString& serieCertific,
                               const QString& chaveAcesso, const QString& uf, const QString& empresa,
                               const QString& cdEstadoIbge, const QString& tipoEmissao, const QString& inscEstadual)
{
    return callSituacao(net, "GetSituacao",
                        {ambiente, serieCertific, chaveAcesso, uf, empresa, cdEstadoIbge, tipoEmissao, inscEstadual});
}

core::ServerResult GetAtual_Situ(core::TNetConnection& net, const QString& operador, const QString& filial,
                                 const QString& nrLanctoNF, const QString& statusAtual, core::Variant& statusNovo,
                                 const QString& ambiente, const QString& serieCertific, const QString& chaveAcesso,
                                 const QString& uf, const QString& cdEstadoIbge, const QString& tipoEmissao,
                                 const QString& empresa, const QString& inscEstadual)
{
    return callSituacao(net, "GetAtual_Situ",
                        {operador, filial, nrLanctoNF, statusAtual, core::Arg::ref(statusNovo), ambiente, serieCertific,
                         chaveAcesso, uf, cdEstadoIbge, tipoEmissao, empresa, inscEstadual});
}

} // namespace situacao

} // namespace contracts
