// Confirming the cancellation filter: the checks in their order, the
// branch's shipping parameters, the eleven query arguments, the entry query
// into the query screen and, only once it succeeded, the remembered filter.

#include "filtrocanc.h"
#include "filtrocancdefs.h"

#include "screens/query/conlancto.h"

#include <contracts/servers.h>

#include <client/hostapi.h>
#include <client/netconnection.h>

#include <array>

using namespace cli_exp01801;

namespace {

const QString kT = QStringLiteral("T");


} // namespace

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
    const std::array<core::Variant*, 11> args = consulta();
    std::array<core::Variant, 11> anteriores;
    for (size_t i = 0; i < args.size(); ++i)
        anteriores[i] = *args[i];
    core::ScopeExit desfaz([&] {
        for (size_t i = 0; i < args.size(); ++i)
            *args[i] = anteriores[i];
    });

    stFilial = t.medFilial->text();
    dtInicial = core::Variant(depInicial->GetDate());
    dtFinal = core::Variant(depFinal->GetDate());
    if (rbtTodosNrExp->isChecked()) {
        stExpedicoes = QString();
        stTodasExpedicoes = kT;
        stExpDe = QString();
        stExpAte = QString();
        stSemIntervalo = kT;
    } else if (rbtLstNrExp->isChecked()) {
        stExpedicoes = stNrExp;
        stTodasExpedicoes = QString();
        stExpDe = QString();
        stExpAte = QString();
        stSemIntervalo = kT;
    } else if (rbtIntervalo->isChecked()) {
        stExpedicoes = QString();
        stTodasExpedicoes = kT;
        stExpDe = medDENrExp->text();
        stExpAte = medAteNrExp->text();
        stSemIntervalo = QString();
    }
    if (rbtTodosRota->isChecked()) {
        stRotas = QString();
        stTodasRotas = kT;
    } else {
        stRotas = stRota;
        stTodasRotas = QString();
    }
    stGrade = rbtTGrade->isChecked() ? kT : edtNumeroG->text();

    {
        core::ActiveShowAvi(this, 6);
        core::ScopeExit parar([this] { core::DeactiveShowAvi(this); });
        const core::ServerResult r = contracts::cancelnota::GetLanctoNFRef(
            *t.netCancelExp, stFilial, dtInicial, dtFinal, stRotas, stTodasRotas, stExpedicoes, stTodasExpedicoes,
            stExpDe, stExpAte, stSemIntervalo, stGrade);
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
    Filtro.Grade = TGRADE{rbtTGrade->isChecked(), stGrade.toString()};

    close();
}
