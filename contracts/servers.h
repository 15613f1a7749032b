#pragma once
// Typed calls of the two application servers the module talks to. Each
// wrapper passes its arguments in the server's order and types and returns
// the ServerResult for CheckResultServ; an error raised by the method arrives
// as core::ServerError with its text unchanged (often a catalogue key).
// Every wrapper refuses a connection bound to another server.

#include <client/hostapi.h>
#include <client/netconnection.h>
#include <core/variant.h>

#include <QString>

namespace contracts {

inline constexpr char kRdmCancelNota[] = "Exp01800.rdmCancelNota";
inline constexpr char kRdmSituacao[] = "DFS52000.rdmSituacao";

// --- Exp01800.rdmCancelNota ------------------------------------------------------

namespace cancelnota {

/// The eleven arguments of GetLanctoNF, in the server's order. The dates are
/// normally core::Date; the default load sends its first day as a plain
/// double day count, which the server accepts too.
struct LanctoNFArgs {
    core::Variant stFilial;
    core::Variant dtInicial;
    core::Variant dtFinal;
    core::Variant stRotas;
    core::Variant stTodasRotas; ///< "T": every route
    core::Variant stExpedicoes;
    core::Variant stTodasExpedicoes; ///< "T": no shipment list applies
    core::Variant stExpDe;
    core::Variant stExpAte;
    core::Variant stSemIntervalo; ///< "T": no interval applies
    core::Variant stGrade;        ///< "T": every order grade

    bool operator==(const LanctoNFArgs&) const = default;
};

/// Packet of invoice entries; all eleven by value.
core::ServerResult GetLanctoNF(core::TNetConnection& net, const LanctoNFArgs& a);
core::ServerResult GetLanctoNF(core::TNetConnection& net, const QString& filial, core::Date dtInicial,
                               core::Date dtFinal, const QString& rotas, const QString& todasRotas,
                               const QString& expedicoes, const QString& todasExpedicoes, const QString& expDe,
                               const QString& expAte, const QString& semIntervalo, const QString& grade);
/// The same with all eleven by reference: the server's values are written back.
core::ServerResult GetLanctoNFRef(core::TNetConnection& net, LanctoNFArgs& a);
core::ServerResult GetLanctoNFRef(core::TNetConnection& net, core::Variant& filial, core::Variant& dtInicial,
                                  core::Variant& dtFinal, core::Variant& rotas, core::Variant& todasRotas,
                                  core::Variant& expedicoes, core::Variant& todasExpedicoes, core::Variant& expDe,
                                  core::Variant& expAte, core::Variant& semIntervalo, core::Variant& grade);

/// Array: [0] items packet, [1] generated-accounts packet.
core::ServerResult GetItem(core::TNetConnection& net, const QString& filial, const QString& nrLanctoNF);
/// Packet of stock movements.
core::ServerResult GetItLanctoEst(core::TNetConnection& net, const QString& filial, const QString& nrLancEstq);
/// Packet of the entries that replication created from this one.
core::ServerResult GetReplicAprov(core::TNetConnection& net, const QString& filial, const QString& nrLanctoNF);
/// Array: [0] the entry list back (only when `dados` carries it), [1] Null or
/// a packet of replicated documents, [2] the number of ticked entries.
core::ServerResult VerReplic(core::TNetConnection& net, const core::Variant& dados, const QString& filial,
                             const QString& nrLanctoNF);
/// Integer, greater than 0 when entries changed since loading.
core::ServerResult GetVdCancela(core::TNetConnection& net, const core::Variant& lista, const QString& filial);
/// No payload.
core::ServerResult CancelaNota(core::TNetConnection& net, const QString& filial, const core::Variant& lista,
                               const QString& filialUso, const QString& operador, const QString& grade);
/// Array of three, each Null or a packet: [0] document for module EXP00106,
/// [1] the entry's refreshed items, [2] generated accounts.
core::ServerResult CancelaItemNf(core::TNetConnection& net, const QString& filial, const core::Variant& itens,
                                 const QString& nrLanctoNF, const QString& nrExpedicao, const QString& nrLancEstq,
                                 core::Date dtLancto, const QString& filialEmit, const QString& operador);
/// Packet of shipping parameters.
core::ServerResult GetParExpedicao(core::TNetConnection& net, const QString& filial);
/// Packet of shipments.
core::ServerResult GetExp(core::TNetConnection& net, const QString& filial);
/// Packet of order grades.
core::ServerResult GetGradePesq(core::TNetConnection& net, const QString& filial, core::Date dtInicial,
                                core::Date dtFinal);

} // namespace cancelnota

// --- DFS52000.rdmSituacao -------------------------------------------------------------

namespace situacao {

/// Array: [0] "S" when the tax authority answered, [1] the status code, else a message.
core::ServerResult GetSituacao(core::TNetConnection& net, const QString& ambiente, const QString& serieCertific,
                               const QString& chaveAcesso, const QString& uf, const QString& empresa,
                               const QString& cdEstadoIbge, const QString& tipoEmissao, const QString& inscEstadual);
/// Array: [0] "N" on failure, [1] the message. The new status goes by reference.
core::ServerResult GetAtual_Situ(core::TNetConnection& net, const QString& operador, const QString& filial,
                                 const QString& nrLanctoNF, const QString& statusAtual, core::Variant& statusNovo,
                                 const QString& ambiente, const QString& serieCertific, const QString& chaveAcesso,
                                 const QString& uf, const QString& cdEstadoIbge, const QString& tipoEmissao,
                                 const QString& empresa, const QString& inscEstadual);

} // namespace situacao

} // namespace contracts
