// Confirming the cancellation filter: the checks in their order, the
// branch's shipping parameters, the eleven query arguments, the entry query
// into the query screen and, only once it succeeded, the remembered filter.

#include "filtrocanc.h"
#include "filtrocancdefs.h"

#include "screens/query/conlancto.h"

#include <contracts/servers.h>

#include <client/hostapi.h>
#include <client/netconnection.h>

using namespace cli_exp01801;

void TfrmFiltroCanc::sbtConfirmaClick()
{
    // Period.
    depInicial->CheckValidDate();
    depFinal->CheckValidDate();
    depInicialExit();
    depFinalExit();
    if (core::EmptyString(depInicial->text()))
        falha(depInicial, QStringLiteral("DataIni_Deve"));
    if (core::EmptyString(depFinal->text()))
        falha(depFinal, QStringLiteral("DataFinal_Deve"));
    if (depFinal->GetDate().wholeDays() < depInicial->GetDate().wholeDays())
        falha(depInicial, QStringLiteral("DataIni>DataFin"));

    // Lists and interval.
    if (rbtLstNrExp->isChecked())
        Vd_LstNrExp();
    if (rbtLstRota->isChecked())
        Vd_LstRota();
    if (rbtIntervalo->isChecked()) {
        Vd_NrExpDE(true);
        Vd_NrExpATE(true);
    }

    // Shipping parameters of the branch in use; they stay loaded even when a
    // later step fails.
    TfrmConLancto& t = filtrocanc::telaConsulta();
    const core::ServerResult par = contracts::cancelnota::GetParExpedicao(*t.netCancelExp, core::FiliProc());
    t.cdsParamExpedicao->setData(core::CheckResultServ(par, true, 0));

    if (filtrocanc::tipoExpedicao(t.cdsParamExpedicao) == QLatin1String("GRA") && rbtGrade->isChecked()
        && core::EmptyString(edtNumeroG->text()))
        falha(edtNumeroG, QStringLiteral("Grade_Deve"));

    // The eleven arguments. A failed query puts the previous ones back, so
    // that the screen's reload keeps repeating the query whose entries it
    // shows.
    const contracts::cancelnota::LanctoNFArgs anterior = consulta;
    core::ScopeExit desfaz([&] { consulta = anterior; });
    consulta = filtrocanc::argumentosConsulta(escolhas(), t.medFilial->text());

    {
        core::ActiveShowAvi(this, 6);
        core::ScopeExit parar([this] { core::DeactiveShowAvi(this); });
        const core::ServerResult r = contracts::cancelnota::GetLanctoNFRef(*t.netCancelExp, consulta);
        t.cdsLanctoNF->setData(core::CheckResultServ(r, true, 0));
    }
    desfaz.release();
    guardaConsulta();

    t.boFiltroAplicado = true;

    Filtro.DataIni = depInicial->GetDate();
    Filtro.DataFin = depFinal->GetDate();
    Filtro.Rota = TROTA{rbtTodosRota->isChecked(), stRota};
    Filtro.Expedicao = TEXPEDICAO{rbtTodosNrExp->isChecked(), stNrExp};
    Filtro.Intervalo = TINTERVALO{rbtIntervalo->isChecked(), medDENrExp->text(), medAteNrExp->text()};
    Filtro.Grade = TGRADE{rbtTGrade->isChecked(), consulta.stGrade.toString()};

    close();
}

filtrocanc::EscolhasFiltro TfrmFiltroCanc::escolhas() const
{
    using Expedicao = filtrocanc::EscolhasFiltro::Expedicao;
    filtrocanc::EscolhasFiltro e;
    e.dataIni = depInicial->GetDate();
    e.dataFin = depFinal->GetDate();
    e.todasRotas = rbtTodosRota->isChecked();
    e.listaRotas = stRota;
    // Tested in this order; the three are exclusive and one is always checked.
    e.expedicao = rbtTodosNrExp->isChecked() ? Expedicao::Todas
        : rbtLstNrExp->isChecked()           ? Expedicao::Lista
                                             : Expedicao::Intervalo;
    e.listaExpedicoes = stNrExp;
    e.expDe = medDENrExp->text();
    e.expAte = medAteNrExp->text();
    e.todasGrades = rbtTGrade->isChecked();
    e.grade = edtNumeroG->text();
    return e;
}
