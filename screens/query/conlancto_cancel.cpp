// Cancelling what the user ticked: whole entries of the list, or items of the
// current entry. The selection travels as the whole dataset, each row with
// its tick; the server cancels the ticked rows or refuses with a catalogue
// key, which the screen turns into its text.

#include "conlancto.h"
#include "conlancto_guards.h"

#include <screens/filter/filtrocanc.h>

#include <contracts/servers.h>

#include <client/hostapi.h>

#include <memory>

using namespace core;
using namespace cli_exp01800;
namespace cancelnota = contracts::cancelnota;
using conlancto::Animacao;

namespace {

/// The text shown for a failure: a refusal whose text is a key of the
/// screen's catalogue (letter case ignored) shows the catalogue's text,
/// whichever cancellation raised it; any other text is shown as it came.
QString refusalText(const TMessages& msg, const QString& error)
{
    return msg.contains(error) ? msg.Msg(error) : error;
}

/// The text of any failure that is not a silent abort, as people are told
/// it (a refusal key comes through as it is; technical detail is logged).
QString failureText(const std::exception& e)
{
    return shownText(e);
}

/// The order grade last picked in the filter dialog; empty when none.
QString gradeEscolhida()
{
    return frmFiltroCanc ? frmFiltroCanc->edtNumeroG->text() : QString();
}

/// A whole-number payload (GetVdCancela's count of changed entries).
qint64 wholeNumber(const Variant& v)
{
    if (v.type() == Variant::Type::Double) {
        const double d = v.toDouble();
        if (d != double(qint64(d)))
            throw Error(QStringLiteral("GetVdCancela: resposta inesperada do servidor (%1).").arg(d));
    }
    return v.toInt();
}

/// A dataset for a packet of any layout: its fields come from the packet.
/// Owned by `owner` so the follow-up module finds it among the live datasets.
std::unique_ptr<ClientDataset> transientDataset(const Variant& packet, QObject* owner)
{
    auto ds = std::make_unique<ClientDataset>(QStringLiteral("cdsTransitorio"), owner);
    for (const FieldDef& f : packet.packet().fields())
        ds->addField(f);
    if (ds->fieldCount() > 0)
        ds->setData(packet);
    return ds;
}

} // namespace

void TfrmConLancto::sbtCancelNotaClick()
{
    // Ticked entries decide, not the page shown.
    if (inNotasMarcadas >= 1)
        cancelEntries();
    else
        cancelItems();
    afterCancel();
}

void TfrmConLancto::mnuCancelaNotaClick()
{
    sbtCancelNotaClick();
}

// --- whole entries ------------------------------------------------------------------

void TfrmConLancto::cancelEntries()
{
    try {
        conlancto::ControlesDesligados desligados(*cdsLanctoNF);
        if (!MensPergunta(msgPadrao.Msg(QStringLiteral("CONFIRMA"))))
            return;
        qint64 alterados = 0;
        {
            Animacao avi(this);
            alterados = wholeNumber(CheckResultServ(
                cancelnota::GetVdCancela(*netCancelExp, cdsLanctoNF->data(), medFilial->text()), true, 0));
        }
        if (alterados > 0) {
            // Another user changed entries of the list since it was loaded.
            sbtVerificarClick();
            MensAviso(msgPadrao.Msg(QStringLiteral("VdAtualiza")));
            return;
        }
        AtualizaStatusNF();
        UninterruptibleCalls umaTransacao(conlancto::kCancelamentoInteiro);
        Animacao avi(this, conlancto::kAviCancela, msgPadrao.Msg(QStringLiteral("EXC_NOTA")));
        CheckResultServ(cancelnota::CancelaNota(*netCancelExp, medFilial->text(), cdsLanctoNF->data(), FiliProc(),
                                                Operador(), gradeEscolhida()),
                        true, 0);
    } catch (const Abort&) {
        // Its message, if any, was shown already: passed on, not shown twice.
        throw;
    } catch (const std::exception& e) {
        MensErro(refusalText(msgPadrao, failureText(e)), true);
    }
}

// --- items of the current entry -----------------------------------------------------

void TfrmConLancto::cancelItems()
{
    cdsParamExpedicao->setData(CheckResultServ(cancelnota::GetParExpedicao(*netCancelExp, medFilial->text()), true, 0));
    AtualizaStatusNF();
    if (!cdsParamExpedicao->isEmpty()
        && cdsParamExpedicao->fieldByName(QStringLiteral("IDGERPRODEST")).asString() == QLatin1String("3"))
        MensErro(msgPadrao.Msg(QStringLiteral("CANCEL_EXP")), true);
    if (!MensPergunta(msgPadrao.Msg(QStringLiteral("CONF_ITEM"))))
        return;

    auto campo = [this](const char* nome) { return cdsLanctoNF->fieldByName(QLatin1String(nome)); };
    std::unique_ptr<ClientDataset> transitorio;
    try {
        UninterruptibleCalls umaTransacao(conlancto::kCancelamentoInteiro);
        Animacao avi(this, conlancto::kAviCancela);
        const Variant r = CheckResultServ(
            cancelnota::CancelaItemNf(*netCancelExp, campo("CDFILIAL").asString(), cdsItensLanctoNF->data(),
                                      campo("NRLANCTONF").asString(), campo("NREXPEDICAO").asString(),
                                      campo("NRLANCESTQ").asString(), campo("DTENTRSAID").value().toDate(),
                                      campo("CDFILIEMIT").asString(), Operador()),
            true, 0);
        if (!r.isArray() || r.count() < 3)
            throw Error(QStringLiteral("CancelaItemNf: resposta inesperada do servidor (esperados três elementos)."));
        {
            Animacao exclusao(this, conlancto::kAviCancela, msgPadrao.Msg(QStringLiteral("EXC_NOTA")));
            CheckResultServ(cancelnota::CancelaNota(*netCancelExp, medFilial->text(), cdsLanctoNF->data(), FiliProc(),
                                                    Operador(), gradeEscolhida()),
                            true, 0);
        }
        if (!r[0].isNull()) {
            transitorio = transientDataset(r[0], this);
            if (!transitorio->isEmpty()) {
                // The module copies what it shows before it returns; the
                // dataset is freed right after.
                LoadBPL(QStringLiteral("EXP00106"),
                        Variant::array({Variant(qint64(reinterpret_cast<quintptr>(transitorio.get())))}));
            }
        }
        if (!r[1].isNull())
            cdsItensLanctoNF->setData(r[1]);
        if (!r[2].isNull()) {
            cdsContaGerada->setData(r[2]);
            boContaComissao = !cdsContaGerada->isEmpty();
        }
        transitorio.reset();
        // This cancellation changed the entry, so its listed version no
        // longer tells whether anyone else changed it since: without one the
        // staleness check of a later whole-entry cancellation compares its
        // statuses, instead of calling the operator's own change another's.
        if (!cdsLanctoNF->isEmpty()) {
            cdsLanctoNF->edit();
            cdsLanctoNF->fieldByName(QStringLiteral("NRVERSAO")).setValue(Variant());
            cdsLanctoNF->post();
        }
        inNotasMarcadas = 0;
        inItensMarcados = 0;
        Habilita();
    } catch (const Abort&) {
        // The transient dataset and the animation went with the scope.
        throw;
    } catch (const std::exception& e) {
        transitorio.reset();
        MensErro(refusalText(msgPadrao, failureText(e)), true);
    }
}

// --- after either flow ----------------------------------------------------------------

void TfrmConLancto::afterCancel()
{
    // No item left: back to the entries, which are reloaded; otherwise the
    // screen stays on the refreshed items.
    if (cdsItensLanctoNF->isEmpty())
        pgcPadrao->setActivePage(tshFolhaDados);
    if (pgcPadrao->activePage() == tshFolhaDados)
        sbtVerificarClick();
}
