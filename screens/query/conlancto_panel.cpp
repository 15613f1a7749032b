// Branch panel, filter command and control enabling of the entry query screen.

#include "conlancto.h"

#include <screens/filter/filtrocanc.h>

#include <client/hostapi.h>

using namespace core;
using namespace cli_exp01800;

namespace {

/// The widget's own enabled flag, independent of its parents (the whole form
/// may be disabled while a modal box runs; the menu must not copy that).
bool ownEnabled(const QWidget* w)
{
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

} // namespace

// --- branch panel ----------------------------------------------------------------

void TfrmConLancto::panFiltroEnter()
{
    for (QWidget* w : {static_cast<QWidget*>(sbtProcurar), static_cast<QWidget*>(sbtVerificar),
                       static_cast<QWidget*>(sbtCancelNota), static_cast<QWidget*>(sbtFiltro)})
        w->setEnabled(false);
    for (QAction* a : {mnuCancelaNota, mnuProcurar, mnuVerificar, mnuFiltrar})
        a->setEnabled(false);

    // Closing an open entry list runs Habilita through dtsPadraoStateChange.
    cdsLanctoNF->close();
    cdsItensLanctoNF->close();
    cdsItLanctoEst->close();

    pgcPadrao->setActivePage(tshFolhaDados);
}

void TfrmConLancto::panFiltroExit()
{
    pgcPadrao->setActivePage(tshFolhaDados);
    Vd_CDFilial();
    // The filter dialog, run hidden, re-applies its remembered filter to the
    // branch now in medFilial and loads the entries into this screen.
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    Habilita();
}

void TfrmConLancto::Vd_CDFilial()
{
    const bool vazio = EmptyString(medFilial->text());
    medFilial->setText(Ajusta(medFilial->text(), 4));
    try {
        if (vazio)
            MensErro(msgPadrao.Msg(QStringLiteral("INFO_COD_FILIAL")), true);

        qryFilial->Close();
        qryFilial->ParamByName(QStringLiteral("P_CDFILIAL"), Variant(medFilial->text()));
        qryFilial->Open();
        if (qryFilial->IsEmpty())
            MensErro(msgPadrao.Msg(QStringLiteral("COD_NAO_CAD_FILIAL")), true);

        edtFilial->setText(qryFilial->fieldByName(QStringLiteral("NMFILIAL")).asString());
    } catch (...) {
        medFilial->setFocus();
        throw;
    }
}

void TfrmConLancto::medFilialChange()
{
    edtFilial->clear();
}

void TfrmConLancto::btpPesqFilialBeforePesq(bool& /*continuePesq*/)
{
    pgcPadrao->setActivePage(tshFolhaDados);
    qryFilial->Close();
    qryFilial->ParamByName(QStringLiteral("P_CDFILIAL"), Variant()); // every branch
    qryFilial->Open();
}

void TfrmConLancto::btpPesqFilialAfterPesq()
{
    // The code first: its change handler clears the name, which follows.
    medFilial->setText(qryFilial->fieldByName(QStringLiteral("CDFILIAL")).asString());
    edtFilial->setText(qryFilial->fieldByName(QStringLiteral("NMFILIAL")).asString());
}

// --- filter command --------------------------------------------------------------

void TfrmConLancto::sbtFiltroClick()
{
    pgcPadrao->setActivePage(tshFolhaDados);
    CriaFiltroCancela(QStringLiteral("MOSTRA_FILTRO"));
    Habilita();
}

void TfrmConLancto::mnuFiltrarClick()
{
    sbtFiltroClick();
}

void TfrmConLancto::dtsPadraoStateChange()
{
    Habilita();
}

// --- enabling --------------------------------------------------------------------

void TfrmConLancto::Habilita()
{
    const int e = inNotasMarcadas;
    const int i = inItensMarcados;
    const bool vazio = cdsLanctoNF->isEmpty(); // a closed list counts as empty
    const bool aberto = cdsLanctoNF->active();
    const bool nadaMarcado = e == 0 && i == 0;

    host::SetChildEnabled(panFiltro, nadaMarcado);
    sbtProcurar->setEnabled(!vazio && nadaMarcado);
    sbtVerificar->setEnabled(!vazio && nadaMarcado);
    sbtFiltro->setEnabled(nadaMarcado && aberto);
    sbtCancelNota->setEnabled(e > 0 || i > 0);
    tshFolhaDados->setEnabled(i == 0);
    tshFormulario->setEnabled(!vazio && e == 0);
    tshItemEst->setEnabled(!vazio && nadaMarcado);

    // Menu entries follow their controls. The print entry of the operation
    // menu follows the base screen's print button.
    mnuListagem->setEnabled(ownEnabled(sbtImprimir));
    mnuProcurar->setEnabled(ownEnabled(sbtProcurar));
    mnuVerificar->setEnabled(ownEnabled(sbtVerificar));
    mnuFiltrar->setEnabled(ownEnabled(sbtFiltro));
    mnuCancelaNota->setEnabled(ownEnabled(sbtCancelNota));
    mnuFolhaDados->setEnabled(tshFolhaDados->pageEnabled());
    mnuFormulario->setEnabled(tshFormulario->pageEnabled());
    mnuRetiEst->setEnabled(tshItemEst->pageEnabled());

    // The navigator follows the current entry's item ticks.
    syncItemTickControl();
}
