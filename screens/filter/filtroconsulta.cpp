#include "filtroconsulta.h"

namespace filtrocanc {

contracts::cancelnota::LanctoNFArgs argumentosConsulta(const EscolhasFiltro& e, const QString& filial)
{
    const QString t = QStringLiteral("T");
    const QString vazio;
    using Expedicao = EscolhasFiltro::Expedicao;
    const bool lista = e.expedicao == Expedicao::Lista;
    const bool intervalo = e.expedicao == Expedicao::Intervalo;

    contracts::cancelnota::LanctoNFArgs a;
    a.stFilial = filial;
    a.dtInicial = core::Variant(e.dataIni);
    a.dtFinal = core::Variant(e.dataFin);
    a.stRotas = e.todasRotas ? vazio : e.listaRotas;
    a.stTodasRotas = e.todasRotas ? t : vazio;
    a.stExpedicoes = lista ? e.listaExpedicoes : vazio;
    a.stTodasExpedicoes = lista ? vazio : t;
    a.stExpDe = intervalo ? e.expDe : vazio;
    a.stExpAte = intervalo ? e.expAte : vazio;
    a.stSemIntervalo = intervalo ? vazio : t;
    a.stGrade = e.todasGrades ? t : e.grade;
    return a;
}

} // namespace filtrocanc
