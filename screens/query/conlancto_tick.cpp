// Ticking and unticking entries and items: single clicks, the check
// column's title (tick all / untick all), Space and Ctrl+Space, with the
// server's replication checks and the replication-error dialog.
//
// Each handler sets up its state through a scope guard (after-scroll handler
// detached, controls disabled, the row in edit state, painting frozen, busy
// cursor), so a server call that fails midway (CheckResultServ abandons the
// handler with an exception) leaves the screen as it was before the handler;
// and each ends with Habilita however it ends, so the controls always match
// the ticks it leaves.

#include "conlancto.h"
#include "conlancto_guards.h"

#include <screens/filter/filtrocanc.h>
#include <screens/replic_error/erroreplic.h>

#include <contracts/servers.h>

#include <core/dispose.h>
#include <client/hostapi.h>
#include <client/hostservices.h>

using namespace core;
using namespace cli_exp01800;
namespace cancelnota = contracts::cancelnota;
using conlancto::Animacao;
using conlancto::ControlesDesligados;

namespace {

const QString kIdCheck = QStringLiteral("IDCHECK");
const QString kS = QStringLiteral("S");
const QString kN = QStringLiteral("N");

/// The entry list's after-scroll handler is detached for the scope.
class SemAfterScroll {
public:
    explicit SemAfterScroll(TfrmConLancto& f) : f_(f) { f_.detachAfterScroll(); }
    ~SemAfterScroll() { f_.attachAfterScroll(); }
    SemAfterScroll(const SemAfterScroll&) = delete;
    SemAfterScroll& operator=(const SemAfterScroll&) = delete;

private:
    TfrmConLancto& f_;
};

/// A row left in edit state when the scope ends (an abandoned handler) is
/// cancelled; the normal path posts before.
class EdicaoPendente {
public:
    explicit EdicaoPendente(ClientDataset& ds) : ds_(ds) { }
    ~EdicaoPendente()
    {
        if (ds_.state() == DatasetState::Edit)
            ds_.cancel();
    }
    EdicaoPendente(const EdicaoPendente&) = delete;
    EdicaoPendente& operator=(const EdicaoPendente&) = delete;

private:
    ClientDataset& ds_;
};

/// The hourglass cursor for the scope.
class Ampulheta {
public:
    Ampulheta() { core::host().pushBusyCursor(); }
    ~Ampulheta() { core::host().popBusyCursor(); }
    Ampulheta(const Ampulheta&) = delete;
    Ampulheta& operator=(const Ampulheta&) = delete;
};

/// The window's painting frozen for the scope (LockWindowUpdate).
class PinturaCongelada {
public:
    explicit PinturaCongelada(QWidget* w) : w_(w) { core::host().freezePainting(w_); }
    ~PinturaCongelada() { core::host().unfreezePainting(w_); }
    PinturaCongelada(const PinturaCongelada&) = delete;
    PinturaCongelada& operator=(const PinturaCongelada&) = delete;

private:
    QWidget* w_;
};

/// Habilita when the scope ends, however it ends: a handler that a failure
/// abandons midway may already have changed ticks or counters (a tick-all
/// whose list was replaced before its replication packet failed to load).
/// Declared first in a handler, so it runs after the other guards.
class HabilitaNoFim {
public:
    explicit HabilitaNoFim(TfrmConLancto& f) : f_(f) { }
    ~HabilitaNoFim()
    {
        try {
            f_.Habilita();
        } catch (...) {
            // Only enabled states are set: nothing there fails, and a
            // destructor must not throw while a failure unwinds.
        }
    }
    HabilitaNoFim(const HabilitaNoFim&) = delete;
    HabilitaNoFim& operator=(const HabilitaNoFim&) = delete;

private:
    TfrmConLancto& f_;
};

/// One server call under the progress animation, removed however it ends.
template <class Call>
Variant sobAnimacao(QObject* owner, Call call)
{
    Animacao avi(owner);
    return call();
}

bool isCheckColumn(const host::Column& column)
{
    return column.fieldName.compare(kIdCheck, Qt::CaseInsensitive) == 0;
}

/// An order grade is in force: the filter dialog's grade edit holds text.
bool gradeEscolhida()
{
    return frmFiltroCanc && !frmFiltroCanc->edtNumeroG->text().isEmpty();
}

/// Element `i` of a server's array answer; a shorter answer is an error
/// rather than a silent default.
Variant elemento(const Variant& payload, int i, const char* metodo)
{
    if (!payload.isArray() || payload.count() <= i)
        throw Error(QStringLiteral("%1: resposta inesperada do servidor.").arg(QString::fromLatin1(metodo)));
    return payload[i];
}

} // namespace

// --- shared steps -------------------------------------------------------------------

bool TfrmConLancto::confirmReplicated(bool showOrigin, const QString& kind)
{
    // The dialog answers "&Cancela" unless the user confirms; the list is
    // emptied however the dialog ends.
    bool cancela = true;
    ScopeExit esvazia([this] { cdsErroReplic->emptyDataSet(); });
    ErroReplic(enderecoResultado(&cancela), cdsErroReplic->data(), showOrigin, kind);
    return !cancela;
}

QWidget* TfrmConLancto::itemTickControl() const
{
    return dbnPadrao;
}

// --- the entry grid -----------------------------------------------------------------

void TfrmConLancto::dbgPadraoCellClick(const host::Column& column)
{
    if (gradeEscolhida()) {
        // Entries of one order grade are ticked and unticked together.
        dbgPadraoTitleClick(column);
        return;
    }
    if (cdsLanctoNF->isEmpty() || !isCheckColumn(column))
        return;
    HabilitaNoFim habilita(*this);
    {
        SemAfterScroll semScroll(*this);
        ControlesDesligados desligados(*cdsLanctoNF);
        EdicaoPendente edicao(*cdsLanctoNF);
        cdsLanctoNF->edit();
        Field& check = cdsLanctoNF->fieldByName(kIdCheck);
        if (check.asString() == kS) {
            // Unticking asks nothing of the server.
            check.setAsString(kN);
            --inNotasMarcadas;
        } else {
            tickEntry();
        }
        cdsLanctoNF->post();
    }
}

void TfrmConLancto::tickEntry()
{
    Field& check = cdsLanctoNF->fieldByName(kIdCheck);
    const QString filial = cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString();
    const QString lancto = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();

    // The incoming entry that replication created must not be approved or emitted.
    cdsReplicAprov->setData(sobAnimacao(
        this, [&] { return CheckResultServ(cancelnota::GetReplicAprov(*netCancelExp, filial, lancto), true, 0); }));
    const QString stReplic = cdsReplicAprov->fieldByName(QStringLiteral("IDSTATUS")).asString();
    if (stReplic == QLatin1String("A") || stReplic == QLatin1String("E")) {
        MensErro(msgPadrao.Msg(QStringLiteral("REPLIC_APROV1"))
                     + cdsReplicAprov->fieldByName(QStringLiteral("NRLANCTONF")).asString()
                     + msgPadrao.Msg(QStringLiteral("REPLIC_APROV2"))
                     + cdsReplicAprov->fieldByName(QStringLiteral("CDFILIAL")).asString()
                     + msgPadrao.Msg(QStringLiteral("REPLIC_APROV3")),
                 false);
        check.setAsString(kN);
        return;
    }
    if (entryBlocked())
        return;

    const Variant payload = sobAnimacao(this, [&] {
        return CheckResultServ(cancelnota::VerReplic(*netCancelExp, Variant(), filial, lancto), true, 0);
    });
    const Variant docs = elemento(payload, 1, "VerReplic");
    if (!docs.isNull())
        cdsErroReplic->setData(docs);
    if (!cdsErroReplic->isEmpty() && !confirmReplicated(false, QStringLiteral("P")))
        return;
    check.setAsString(kS);
    ++inNotasMarcadas;
}

void TfrmConLancto::dbgPadraoTitleClick(const host::Column& column)
{
    HabilitaNoFim habilita(*this);
    {
        PinturaCongelada congelada(this);
        SemAfterScroll semScroll(*this);
        Ampulheta ampulheta;
        if (!cdsLanctoNF->isEmpty() && isCheckColumn(column)) {
            ControlesDesligados desligados(*cdsLanctoNF);
            const bool haMarcada = cdsLanctoNF->locate(kIdCheck, Variant(kS), true);
            const QString lembrado = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();
            if (haMarcada) {
                EdicaoPendente edicao(*cdsLanctoNF);
                Field& check = cdsLanctoNF->fieldByName(kIdCheck);
                for (cdsLanctoNF->first(); !cdsLanctoNF->eof(); cdsLanctoNF->next()) {
                    cdsLanctoNF->edit();
                    check.setAsString(kN);
                    cdsLanctoNF->post();
                }
                inNotasMarcadas = 0;
            } else {
                tickAllEntries();
            }
            cdsLanctoNF->locate(QStringLiteral("NRLANCTONF"), Variant(lembrado), true);
        }
    }
}

void TfrmConLancto::tickAllEntries()
{
    // First pass: the server ticks the whole list in one call.
    Variant payload = sobAnimacao(this, [&] {
        return CheckResultServ(cancelnota::VerReplic(*netCancelExp, cdsLanctoNF->data(), QString(), QString()), true,
                               0);
    });
    Variant lista = elemento(payload, 0, "VerReplic");
    const Variant docs = elemento(payload, 1, "VerReplic");
    const Variant marcadas = elemento(payload, 2, "VerReplic");
    cdsLanctoNF->setData(lista);
    core::disposeLater(VariantArray{std::move(payload), std::move(lista)}); // the list as it came, 50,000 rows perhaps
    inNotasMarcadas = int(marcadas.toInt());
    if (!docs.isNull())
        cdsErroReplic->setData(docs);

    if (cdsErroReplic->isEmpty() || !confirmReplicated(true, QStringLiteral("P")))
        return; // the list stays as the server ticked it

    // Second pass, after "&OK": the entries the server left unticked, unless
    // their replicated incoming entry is approved.
    EdicaoPendente edicao(*cdsLanctoNF);
    Animacao avi(this); // one animation over the pass's calls
    Field& check = cdsLanctoNF->fieldByName(kIdCheck);
    for (cdsLanctoNF->first(); !cdsLanctoNF->eof(); cdsLanctoNF->next()) {
        if (entryBlocked() || check.asString() == kS)
            continue;
        const QString filial = cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString();
        const QString lancto = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();
        cdsReplicAprov->setData(CheckResultServ(cancelnota::GetReplicAprov(*netCancelExp, filial, lancto), true, 0));
        if (cdsReplicAprov->fieldByName(QStringLiteral("IDSTATUS")).asString() == QLatin1String("A"))
            continue;
        cdsLanctoNF->edit();
        check.setAsString(kS);
        cdsLanctoNF->post();
        ++inNotasMarcadas;
    }
}

void TfrmConLancto::dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers shift)
{
    host::TfrmPadrao::dbgPadraoKeyDown(key, shift);
    if (key == 32) {
        const int i = host::IndiceCol(dbgPadrao, kIdCheck);
        if (i >= 0) {
            const host::Column column = dbgPadrao->column(i);
            if (shift & Qt::ControlModifier)
                dbgPadraoTitleClick(column);
            else
                dbgPadraoCellClick(column);
        }
    }
    // The navigator follows the current item's tick, when the items shown
    // are the current entry's.
    const bool itemMarcado = itemsOfCurrentEntry() && cdsItensLanctoNF->fieldByName(kIdCheck).asString() == kS;
    itemTickControl()->setEnabled(!itemMarcado);
}

// --- the item grid -----------------------------------------------------------------

void TfrmConLancto::checkCommission()
{
    if (boContaComissao && cdsLanctoNF->fieldByName(QStringLiteral("IDSTATUS")).asString() != QLatin1String("E"))
        MensErro(msgPadrao.Msg(QStringLiteral("CNTCOMIS")), true);
}

bool TfrmConLancto::firstItemTickConfirmed()
{
    // The entry's keys, never the item's: the replicas belong to the entry.
    const QString filial = cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString();
    const QString lancto = cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();
    const Variant payload = sobAnimacao(this, [&] {
        return CheckResultServ(cancelnota::VerReplic(*netCancelExp, Variant(), filial, lancto), true, 0);
    });
    const Variant docs = elemento(payload, 1, "VerReplic");
    if (!docs.isNull())
        cdsErroReplic->setData(docs);
    return cdsErroReplic->isEmpty() || confirmReplicated(false, QStringLiteral("I"));
}

QString TfrmConLancto::currentEntry() const
{
    if (cdsLanctoNF->isEmpty())
        return QString();
    return cdsLanctoNF->fieldByName(QStringLiteral("CDFILIAL")).asString() + u'/'
        + cdsLanctoNF->fieldByName(QStringLiteral("NRLANCTONF")).asString();
}

bool TfrmConLancto::itemsOfCurrentEntry() const
{
    return cdsItensLanctoNF->active() && !itemsEntry_.isEmpty() && itemsEntry_ == currentEntry();
}

void TfrmConLancto::syncItemTickControl()
{
    // Reads the marks in place, so the current item never moves. Items left
    // from another entry (or from before the list was reloaded) tick nothing.
    bool algumMarcado = false;
    if (itemsOfCurrentEntry()) {
        const int f = cdsItensLanctoNF->fieldByName(kIdCheck).index();
        for (int r = 0; r < cdsItensLanctoNF->recordCount() && !algumMarcado; ++r)
            algumMarcado = cdsItensLanctoNF->rawValue(r, f).toString() == kS;
    }
    itemTickControl()->setEnabled(!algumMarcado);
}

void TfrmConLancto::refreshItemTickControl()
{
    PinturaCongelada congelada(this);
    syncItemTickControl();
}

void TfrmConLancto::dbgItensNfCellClick(const host::Column& column)
{
    if (gradeEscolhida()) {
        dbgItensNfTitleClick(column);
        return;
    }
    if (!cdsItensLanctoNF->isEmpty() && isCheckColumn(column)) {
        checkCommission();
        HabilitaNoFim habilita(*this);
        {
            ControlesDesligados desligados(*cdsItensLanctoNF);
            const bool primeiro = inItensMarcados == 0;
            EdicaoPendente edicao(*cdsItensLanctoNF);
            cdsItensLanctoNF->edit();
            Field& check = cdsItensLanctoNF->fieldByName(kIdCheck);
            if (check.asString() == kS) {
                check.setAsString(kN);
                --inItensMarcados;
            } else if (entryBlocked()) {
                // Items of a blocked entry refuse the tick silently.
            } else if (!primeiro || firstItemTickConfirmed()) {
                check.setAsString(kS);
                ++inItensMarcados;
            }
            cdsItensLanctoNF->post();
        }
    }
    refreshItemTickControl();
}

void TfrmConLancto::dbgItensNfTitleClick(const host::Column& column)
{
    const bool colunaCheck = isCheckColumn(column);
    if (colunaCheck)
        checkCommission();
    Ampulheta ampulheta;
    if (!cdsLanctoNF->isEmpty()) {
        HabilitaNoFim habilita(*this);
        {
            PinturaCongelada congelada(this);
            if (colunaCheck && cdsItensLanctoNF->active()) {
                ControlesDesligados desligados(*cdsItensLanctoNF);
                const QString lembrado = cdsItensLanctoNF->fieldByName(QStringLiteral("NRSEQITPROD")).asString();
                EdicaoPendente edicao(*cdsItensLanctoNF);
                Field& check = cdsItensLanctoNF->fieldByName(kIdCheck);
                if (cdsItensLanctoNF->locate(kIdCheck, Variant(kS), true)) {
                    for (cdsItensLanctoNF->first(); !cdsItensLanctoNF->eof(); cdsItensLanctoNF->next()) {
                        cdsItensLanctoNF->edit();
                        check.setAsString(kN);
                        cdsItensLanctoNF->post();
                    }
                    inItensMarcados = 0;
                } else {
                    // Until one "&OK", every item asks again; after it the
                    // remaining items tick without asking.
                    for (cdsItensLanctoNF->first(); !cdsItensLanctoNF->eof(); cdsItensLanctoNF->next()) {
                        if (entryBlocked())
                            continue;
                        cdsItensLanctoNF->edit();
                        if (inItensMarcados != 0 || firstItemTickConfirmed()) {
                            check.setAsString(kS);
                            ++inItensMarcados;
                        }
                        cdsItensLanctoNF->post();
                    }
                }
                cdsItensLanctoNF->locate(QStringLiteral("NRSEQITPROD"), Variant(lembrado), true);
            }
        }
    }
    if (colunaCheck)
        refreshItemTickControl();
}

void TfrmConLancto::dbgItensNfKeyDown(int& key, Qt::KeyboardModifiers shift)
{
    if (key == 32) {
        const int i = host::IndiceCol(dbgItensNf, kIdCheck);
        if (i >= 0) {
            const host::Column column = dbgItensNf->column(i);
            if (shift & Qt::ControlModifier)
                dbgItensNfTitleClick(column);
            else
                dbgItensNfCellClick(column);
        }
    }
    if (key == 46)
        key = 0; // Delete never reaches the grid
}

void TfrmConLancto::dbgItemEstKeyDown(int& key, Qt::KeyboardModifiers /*shift*/)
{
    if (key == 46)
        key = 0;
}
