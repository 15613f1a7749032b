// Shipment, route, period and grade selection of the cancellation filter
// dialog: the radio handlers with their enabling, the three pickers, the
// interval checks and the date checks.

#include "filtrocanc.h"
#include "filtrocancdefs.h"

#include "screens/query/conlancto.h"

#include <contracts/servers.h>

#include <host/routines.h>

#include <client/hostapi.h>

using namespace cli_exp01801;

namespace {

void habilita(std::initializer_list<QWidget*> widgets, bool on)
{
    for (QWidget* w : widgets)
        w->setEnabled(on);
}

} // namespace

// --- shipments and routes: enabling ----------------------------------------------------

void TfrmFiltroCanc::rbtTodosNrExpClick()
{
    btpListaNrExp->setEnabled(false);
    habilita({lblDe, lblAte, medDENrExp, medAteNrExp}, false);
}

void TfrmFiltroCanc::rbtLstNrExpClick()
{
    btpListaNrExp->setEnabled(true);
    habilita({lblDe, lblAte, medDENrExp, medAteNrExp}, false);
}

void TfrmFiltroCanc::rbtIntervaloClick()
{
    btpListaNrExp->setEnabled(false);
    habilita({lblDe, lblAte, medDENrExp, medAteNrExp}, true);
}

void TfrmFiltroCanc::rbtTodosRotaClick()
{
    btpListaRota->setEnabled(false);
}

void TfrmFiltroCanc::rbtLstRotaClick()
{
    btpListaRota->setEnabled(true);
}

// --- pickers -------------------------------------------------------------------------

void TfrmFiltroCanc::btpListaNrExpClick()
{
    try {
        {
            core::ActiveShowAvi(this, 6);
            core::ScopeExit parar([this] { core::DeactiveShowAvi(this); });
            // The shipments of the branch typed on the screen, asked afresh each time.
            TfrmConLancto& t = filtrocanc::telaConsulta();
            const core::ServerResult r = contracts::cancelnota::GetExp(*t.netCancelExp, t.medFilial->text());
            cdsExpedicao->setData(core::CheckResultServ(r, true, 0));
        }
        if (cdsExpedicao->isEmpty())
            core::MensErro(msgPadrao.Msg(QStringLiteral("NR_EXP")), true);
    } catch (...) {
        focar(rbtLstNrExp);
        throw;
    }
    host::PesquisaLista(dtsExpedicao, QStringLiteral("NREXPEDICAO"), msgPadrao.Msg(QStringLiteral("EXPEDICAO")), false,
                        stNrExp);
}

void TfrmFiltroCanc::btpListaRotaClick()
{
    qryRota->Open(); // a database failure propagates as it is
    try {
        if (qryRota->IsEmpty())
            core::MensErro(msgPadrao.Msg(QStringLiteral("N_ROTA")), true);
        qryRota->Close();
    } catch (...) {
        qryRota->Close();
        focar(rbtLstRota);
        throw;
    }
    // The picker opens the closed query again to list the routes.
    host::PesquisaLista(dtsRota, QStringLiteral("CDROTATRANS"), msgPadrao.Msg(QStringLiteral("ROTA")), false, stRota);
}

// --- shipment validations ------------------------------------------------------------

void TfrmFiltroCanc::Vd_LstNrExp()
{
    if (rbtLstNrExp->isChecked() && core::EmptyString(stNrExp))
        falha(rbtLstNrExp, QStringLiteral("EXP_VAZIA"));
}

void TfrmFiltroCanc::Vd_LstRota()
{
    if (rbtLstRota->isChecked() && core::EmptyString(stRota))
        falha(rbtLstRota, QStringLiteral("ROTA_VAZIA"));
}

void TfrmFiltroCanc::Vd_NrExpDE(bool required)
{
    const QString texto = medDENrExp->text();
    if (required && core::EmptyString(texto))
        falha(medDENrExp, QStringLiteral("DE_VAZIA"));
    medDENrExp->setText(core::Ajusta(texto, 10));
}

void TfrmFiltroCanc::Vd_NrExpATE(bool required)
{
    const QString texto = medAteNrExp->text();
    const bool vazio = core::EmptyString(texto);
    if (required && vazio)
        falha(medAteNrExp, QStringLiteral("ATE_VAZIA"));
    medAteNrExp->setText(core::Ajusta(texto, 10));
    // Both texts are ten digits by now, so string order is numeric order.
    if (!vazio && QString::compare(medAteNrExp->text(), medDENrExp->text(), Qt::CaseSensitive) < 0)
        falha(medAteNrExp, QStringLiteral("ATE_DE"));
}

void TfrmFiltroCanc::medDENrExpExit()
{
    Vd_NrExpDE(false);
}

void TfrmFiltroCanc::medAteNrExpExit()
{
    Vd_NrExpATE(false);
}

// --- period --------------------------------------------------------------------------

void TfrmFiltroCanc::verificaData(host::TDateEditPlus* dep)
{
    if (!core::EmptyString(dep->text())) {
        // Text that is no date at all is reported by the host's own check
        // (focus on the edit, its message, abort) before the date is read.
        if (!dep->isValidText())
            dep->CheckValidDate();
        const core::Date data = dep->GetDate();
        if (data.days <= 0) {
            focar(dep);
            const QString texto = QLatin1Char('"') + data.toQDate().toString(QStringLiteral("dd/MM/yyyy"))
                + QLatin1Char('"') + msgPadrao.Msg(QStringLiteral("data"));
            core::MensErro(texto, true);
        }
    }
    dep->CheckValidDate();
}

void TfrmFiltroCanc::depInicialExit()
{
    verificaData(depInicial);
}

void TfrmFiltroCanc::depFinalExit()
{
    verificaData(depFinal);
}

// --- grade ---------------------------------------------------------------------------

void TfrmFiltroCanc::rbtGradeClick()
{
    habilita({lblGrade, edtNumeroG, btnGrade}, true);
}

void TfrmFiltroCanc::rbtTGradeClick()
{
    edtNumeroG->clear();
    habilita({lblGrade, edtNumeroG, btnGrade}, false);
}

void TfrmFiltroCanc::btnGradeClick()
{
    {
        core::ActiveShowAvi(this, 6);
        core::ScopeExit parar([this] { core::DeactiveShowAvi(this); });
        // The grades of the period in the edits right now, for the branch in use.
        const core::Date fim = depFinal->GetDate();
        const core::Date inicio = depInicial->GetDate();
        const core::ServerResult r = contracts::cancelnota::GetGradePesq(*filtrocanc::telaConsulta().netCancelExp,
                                                                         core::FiliProc(), inicio, fim);
        cdsGrade->setData(core::CheckResultServ(r, true, 0));
    }
    const QString titulo = tituloGrade() + QLatin1Char('|') + msgPadrao.Msg(QStringLiteral("Grade_Empty"));
    if (host::Pesquisar(dtsGrade__, titulo, false, true))
        edtNumeroG->setText(cdsGrade->fieldByName(QStringLiteral("NRGRADEPED")).asString());
}
