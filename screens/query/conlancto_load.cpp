// Loading the entry list, the current entry's items and stock items, and the
// screen's search and print commands.

#include "conlancto.h"

#include <host/routines.h>
#include "conlancto_guards.h"

#include <screens/filter/filtrocanc.h>

#include <contracts/servers.h>

#include <client/hostapi.h>
#include <client/hostservices.h>
#include <client/interruption.h>

#include <QApplication>
#include <QTabBar>

#include <optional>

using namespace core;
using namespace cli_exp01800;
using conlancto::Animacao;
namespace cancelnota = contracts::cancelnota;

namespace {

/// Loads two datasets from one answer as a unit: when the second packet is
/// refused, the first goes back to what it held, so the pair never mixes
/// two entries.
void loadPair(ClientDataset& a, const Variant& va, ClientDataset& b, const Variant& vb)
{
    const bool hadA = a.active();
    std::optional<DataPacket> previousA;
    if (hadA)
        previousA = a.toPacket();
    const int previousRow = a.recNo();

    a.setData(va);
    try {
        b.setData(vb);
    } catch (...) {
        if (previousA) {
            a.loadFromPacket(*previousA);
            if (previousRow >= 0)
                a.moveTo(previousRow);
        } else {
            a.close();
        }
        throw;
    }
}

} // namespace

// --- the load command ------------------------------------------------------------

void TfrmConLancto::sbtVerificarClick()
{
    loadNotice.clear();
    try {
        // The operator may stop the load from the animation: the call ends
        // unanswered, and nothing below it runs, so the list, its ticks,
        // the counters and the current row stay as they were.
        InterruptibleCalls interruptible;
        Animacao avi(this);
        host::TabSheet* page = pgcPadrao->activePage();
        if (page == tshFolhaDados) {
            ServerResult r;
            if (boFiltroAplicado && frmFiltroCanc) {
                // The filter dialog's last query, with its stored values.
                r = cancelnota::GetLanctoNFRef(*netCancelExp, frmFiltroCanc->consulta);
            } else {
                // Before any filter: the branch's last two days, nothing else restricted.
                const Date hoje = Date::today();
                cancelnota::LanctoNFArgs a;
                a.stFilial = medFilial->text();
                a.dtInicial = Variant(double(hoje.wholeDays() - 2));
                a.dtFinal = Variant(Date{double(hoje.wholeDays())});
                a.stRotas = QString();
                a.stTodasRotas = QStringLiteral("T");
                a.stExpedicoes = QString();
                a.stTodasExpedicoes = QStringLiteral("T");
                a.stExpDe = QString();
                a.stExpAte = QString();
                a.stSemIntervalo = QStringLiteral("T");
                a.stGrade = QStringLiteral("T");
                r = cancelnota::GetLanctoNF(*netCancelExp, a);
            }
            cdsLanctoNF->setData(CheckResultServ(r, true, 0));
            // The items held belong to the list that was replaced: whatever
            // they show ticked, no entry of this list has ticked items.
            itemsEntry_.clear();
        } else if (page == tshFormulario) {
            loadItems();
        } else if (page == tshItemEst) {
            loadStockItems();
        }
    } catch (const Interrupted&) {
        loadNotice = QStringLiteral("Carga interrompida.");
        updateCounts();
        throw;
    }
    inNotasMarcadas = 0;
    inItensMarcados = 0;
    Habilita();
}

// --- item and stock loads ---------------------------------------------------------

void TfrmConLancto::loadItems()
{
    if (cdsLanctoNF->isEmpty()) {
        // No current entry: nothing to ask the server for.
        closeItems();
        return;
    }
    const QString filial = cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString();
    const QString lancto = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();
    const QString entry = currentEntry();
    try {
        const Variant payload = CheckResultServ(cancelnota::GetItem(*netCancelExp, filial, lancto), true, 0);
        if (!payload.isArray() || payload.count() < 2)
            throw Error(QStringLiteral("GetItem: resposta inesperada do servidor (esperados itens e contas geradas)."));
        loadPair(*cdsItensLanctoNF, payload[0], *cdsContaGerada, payload[1]);
    } catch (...) {
        // The item page never shows another entry's items under the current
        // one: a cancellation would send this entry's keys with those items.
        // Reloading the same entry keeps what it showed.
        if (itemsEntry_ != entry)
            closeItems();
        throw;
    }
    itemsEntry_ = entry;
    boContaComissao = cdsContaGerada->active() && !cdsContaGerada->isEmpty();
    // The items come as the server has them: the navigator follows them.
    refreshItemTickControl();
}

void TfrmConLancto::closeItems()
{
    cdsItensLanctoNF->close();
    cdsContaGerada->close();
    itemsEntry_.clear();
    boContaComissao = false;
    // Ticks of the items closed went with them.
    if (inItensMarcados != 0) {
        inItensMarcados = 0;
        Habilita();
    }
    syncItemTickControl();
}

void TfrmConLancto::loadStockItems()
{
    if (cdsLanctoNF->isEmpty()) {
        cdsItLanctoEst->close();
        return;
    }
    const QString filial = cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString();
    const QString lancEstq = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCESTQ")).asString();
    cdsItLanctoEst->setData(CheckResultServ(cancelnota::GetItLanctoEst(*netCancelExp, filial, lancEstq), true, 0));
}

// --- moving through the entries ---------------------------------------------------

void TfrmConLancto::cdsLanctoNFAfterScroll(ClientDataset& /*ds*/)
{
    host::TabSheet* page = pgcPadrao->activePage();
    if (page == tshFormulario) {
        Animacao avi(this);
        loadItems();
    } else if (page == tshItemEst) {
        Animacao avi(this);
        loadStockItems();
    }
    // Another current entry: the navigator follows its items (a load above
    // has set it already).
    syncItemTickControl();
    // The entry page needs no call and shows no animation. Each handler
    // removes only the animation it showed, so a load that moves the cursor
    // keeps its own animation until it ends.
}

void TfrmConLancto::attachAfterScroll()
{
    cdsLanctoNF->setAfterScroll([this](ClientDataset& ds) { cdsLanctoNFAfterScroll(ds); });
}

void TfrmConLancto::detachAfterScroll()
{
    cdsLanctoNF->setAfterScroll({});
}

void TfrmConLancto::pgcPadraoChange()
{
    host::TfrmPadrao::pgcPadraoChange();
    mnuRetiEst->setCheckable(true);
    mnuRetiEst->setChecked(pgcPadrao->activePage() == tshItemEst);
    cdsLanctoNFAfterScroll(*cdsLanctoNF);
}

void TfrmConLancto::mnuRetiEstClick()
{
    // The entry follows the page: while the page is locked by ticks there is
    // nothing to switch to.
    if (!tshItemEst->pageEnabled())
        return;
    pgcPadrao->setActivePage(tshItemEst);
    pgcPadraoChange();
}

// --- search and print ---------------------------------------------------------------

void TfrmConLancto::sbtProcurarClick()
{
    host::Procura(searchGrid());
}

host::DBGrid* TfrmConLancto::searchGrid() const
{
    host::TabSheet* page = pgcPadrao->activePage();
    if (page == tshFormulario)
        return dbgItensNf;
    if (page == tshItemEst)
        return dbgItemEst;
    return dbgPadrao;
}

void TfrmConLancto::sbtImprimirClick()
{
    LoadBPL(QStringLiteral("EXP03600"), Variant(QStringLiteral("M")));
}
