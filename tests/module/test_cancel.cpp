// Cancelling ticked entries and items, and the NF-e status refresh that runs
// before, against the in-process fake of the application servers.

#include "screenfixture.h"

#include <client/hostapi.h>
#include <client/interruption.h>

#include <QTest>

#include <map>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace core;
using namespace testing_module;
using cli_exp01800::boContaComissao;
using cli_exp01800::inItensMarcados;
using cli_exp01800::inNotasMarcadas;

namespace {

/// The state registration of branch 0001's company in the fixture's host database.
const QString kInscricao = QStringLiteral("110042490114");

const QString kConfirma = QStringLiteral("Confirma cancelamento das notas fiscais expedidas?");
const QString kConfItem = QStringLiteral("Confirma o cancelamento dos itens da nota fiscal expedida?");
const QString kOpBloq =
    QStringLiteral("Operação Bloqueada! Nota Fiscal transmitida, aceita ou denegada eletronicamente.");

QString aviso(const QString& nf)
{
    return "Não foi possível excluir a NF " + nf
        + " pois seu status foi atualizado. Gentileza conferir coluna Status Sefaz.";
}

/// An entry list whose rows name the registration that the host database holds.
DataPacket entries(const std::vector<Entry>& e)
{
    DataPacket p = lanctoPacket(e);
    for (PacketRow& row : p.rows())
        row[size_t(p.fieldIndex("CDINSCESTA"))] = Variant(kInscricao);
    return p;
}

Variant pair(const char* flag, const QString& text)
{
    return Variant::array({Variant(flag), Variant(text)});
}

class CancelTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        frm = open();
        ASSERT_NE(frm, nullptr);
        frm->dbgPadrao->setFocus();
        settle();
        context().loadModule = [this](const QString& code, const Variant& params) {
            opened << code;
            if (failModule)
                throw Error(QStringLiteral("módulo indisponível"));
            // The dataset must be alive and filled while the module runs.
            const quintptr address = quintptr(params[0].toInt());
            for (ClientDataset* ds : frm->findChildren<ClientDataset*>())
                if (quintptr(ds) == address)
                    documentRows = ds->recordCount();
        };
        fake.reset();
        host.clearShown();
        boContaComissao = false;
        fake.setDefault(kSituacao, "GetAtual_Situ", FakeTransport::payload(pair("S", "Situação da NF-e atualizada.")));
        fake.on(kSituacao, "GetSituacao", [this](const CallRequest& req) {
            const auto a = authority.find(req.args.at(2).toString());
            if (a == authority.end())
                return FakeTransport::respond(FakeTransport::payload(pair("N", "217 - Rejeição: NF-e não consta")),
                                              req);
            return FakeTransport::respond(FakeTransport::payload(a->second), req);
        });
        fake.setDefault(kCancel, "CancelaNota", FakeTransport::payload(Variant()));
        fake.setDefault(kCancel, "GetVdCancela", FakeTransport::payload(Variant(0)));
        fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket()));
        fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(entries({})));
    }
    void TearDown() override
    {
        context().loadModule = {};
        ScreenFixture::TearDown();
    }

    /// Loads the list through the load command on the entry page.
    void load(const std::vector<Entry>& list)
    {
        fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(entries(list)));
        frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
        frm->sbtVerificarClick();
        host.clearShown();
        calls0 = int(fake.calls().size());
    }
    /// Ticks entries as the grid leaves them: IDCHECK "S" and the counter.
    void tick(const QStringList& nrs)
    {
        ASSERT_EQ(tickRows(*frm->cdsLanctoNF, "NRLANCTONF", nrs), nrs.size());
        inNotasMarcadas += int(nrs.size());
        frm->Habilita();
    }
    /// Shows the items of entry `nr` and ticks those at the given positions.
    void tickItems(const QString& nr, int count, const QList<int>& rows)
    {
        frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
        ASSERT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nr)));
        fake.enqueue(
            kCancel, "GetItem",
            FakeTransport::payload(Variant::array({Variant(itemsPacket(nr, count)), Variant(contasPacket(0))})));
        frm->pgcPadrao->setActivePage(frm->tshFormulario);
        frm->pgcPadraoChange();
        ClientDataset& it = *frm->cdsItensLanctoNF;
        for (int r : rows) {
            it.moveTo(r);
            it.edit();
            it.fieldByName("IDCHECK").setAsString("S");
            it.post();
        }
        inItensMarcados = int(rows.size());
        frm->Habilita();
        host.clearShown();
        calls0 = int(fake.calls().size());
    }
    /// The cancel button, as the user clicks it.
    void cancel()
    {
        ASSERT_TRUE(frm->sbtCancelNota->isEnabled());
        frm->sbtCancelNota->click();
        settle();
    }
    /// Methods called since the list was loaded, in order.
    QStringList methods() const
    {
        QStringList out;
        const auto all = fake.calls();
        for (size_t i = size_t(calls0); i < all.size(); ++i)
            out << all[i].method();
        return out;
    }
    /// Everything a failed or finished handler must have undone.
    void expectRestored()
    {
        EXPECT_EQ(host.animationDepth(), 0);
        EXPECT_FALSE(frm->cdsLanctoNF->controlsDisabled());
        EXPECT_TRUE(frm->findChildren<ClientDataset*>("cdsTransitorio").isEmpty());
        EXPECT_TRUE(host.unanswered().isEmpty());
    }

    TfrmConLancto* frm = nullptr;
    std::map<QString, Variant> authority; ///< GetSituacao's answer per access key
    QStringList opened;
    int documentRows = -1;
    bool failModule = false;
    int calls0 = 0;
};

// --- whole entries -------------------------------------------------------------------

TEST_F(CancelTest, TickedEntriesAreCancelledWithTheWholeListAndTheListIsReloaded)
{
    load({{"0000000001", "P", "P"}, {"0000000002", "P", ""}, {"0000000003", "P", "C"}});
    tick({"0000000001", "0000000003"});
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(entries({{"0000000002", "P", ""}})));
    // What shows while the server cancels.
    QString caption;
    int depth = 0;
    interruption::Offer offer;
    fake.on(kCancel, "CancelaNota", [&](const CallRequest& req) {
        caption = host.lastAnimationCaption();
        depth = host.animationDepth();
        offer = interruption::offer();
        return FakeTransport::respond(FakeTransport::payload(Variant()), req);
    });
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(), QStringList{kConfirma});
    EXPECT_EQ(host.shown().at(0).msgKind, MsgKind::Question);
    // No rejected NF-e among the ticked: the authority is not asked.
    EXPECT_EQ(methods(), (QStringList{"GetVdCancela", "CancelaNota", "GetLanctoNF"}));
    const auto vd = fake.callsTo("GetVdCancela").at(0);
    EXPECT_EQ(vd.arg(0).packet().rowCount(), 3);
    EXPECT_EQ(vd.arg(1).toString(), "0001");
    const auto cn = fake.callsTo("CancelaNota").at(0);
    ASSERT_EQ(cn.request.args.size(), 5u);
    EXPECT_EQ(cn.arg(0).toString(), "0001");
    const DataPacket sent = cn.arg(1).packet();
    QStringList sentTicks;
    for (const PacketRow& r : sent.rows())
        sentTicks << r[size_t(sent.fieldIndex("IDCHECK"))].toString();
    EXPECT_EQ(sentTicks, (QStringList{"S", "N", "S"})); // every row, each with its tick
    EXPECT_EQ(cn.arg(2).toString(), "0001");            // branch in use
    EXPECT_EQ(cn.arg(3).toString(), "TESTE");           // operator
    EXPECT_EQ(cn.arg(4).toString(), "");                // no grade picked
    EXPECT_EQ(caption, "Cancelando notas fiscais expedidas...");
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(offer.kind, interruption::Offer::Kind::Refused) << "one transaction: not to be stopped";
    EXPECT_EQ(offer.why, "O cancelamento não pode ser interrompido: é uma única transação no servidor.");

    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), QStringList{"0000000002"});
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_FALSE(frm->sbtCancelNota->isEnabled());
    expectRestored();
}

TEST_F(CancelTest, AnsweringNoCancelsNothingAndStillReloadsTheList)
{
    load({{"0000000001", "P", "P"}, {"0000000002", "P", ""}});
    tick({"0000000001"});
    fake.enqueue(kCancel, "GetLanctoNF",
                 FakeTransport::payload(entries({{"0000000001", "P", "P"}, {"0000000002", "P", ""}})));
    host.answer(MsgButton::No);
    frm->mnuCancelaNota->trigger(); // Ctrl+A runs the same handler
    settle();

    EXPECT_EQ(host.messageTexts(), QStringList{kConfirma});
    EXPECT_EQ(methods(), QStringList{"GetLanctoNF"});
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), (QStringList{"N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored();
}

TEST_F(CancelTest, AStaleListIsReloadedWithAWarningAndNothingIsCancelled)
{
    load({{"0000000001", "P", "R"}, {"0000000002", "P", ""}});
    tick({"0000000001", "0000000002"});
    authority["350000000001"] = pair("S", "100");
    fake.enqueue(kCancel, "GetVdCancela", FakeTransport::payload(Variant(2)));
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(),
              (QStringList{kConfirma,
                           "Operação Bloqueada! A tela foi atualizada pois a nota fiscal foi alterada por outro "
                           "usuário. O processo deve ser repetido."}));
    EXPECT_EQ(host.shown().at(1).msgKind, MsgKind::Warning);
    // Reloaded once by the check and once more by the closing step; no refresh, no cancellation.
    EXPECT_EQ(methods(), (QStringList{"GetVdCancela", "GetLanctoNF", "GetLanctoNF"}));
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored();
}

TEST_F(CancelTest, EachRefusalOfAWholeEntryCancellationShowsItsTextAndKeepsTheTicks)
{
    const std::pair<const char*, const char*> table[] = {
        {"ERRO_EXC_COMIS",
         "Algumas notas fiscais não foram canceladas. Não foi possível excluir a conta a pagar de "
         "comissão das notas."},
        {"ERRO_EXC_COMISMAPA",
         "Algumas notas fiscais não foram canceladas. As notas pertecem a mapas de comissão "
         "apurados. "},
        {"NOTAS_N_CANC",
         "Algumas das notas selecionadas não foram canceladas porque foram emitidas por outro usuário."},
        {"REPLIC_N_CANC",
         "Operação Bloqueada!A exclusão das notas replicadas faria com que o estoque ficasse irregular."},
        {"NOTA_ALT", "Operação Bloqueada. A nota fiscal foi emitida por outro usuário."}, // any catalogue key
        {"Falha de disco no servidor", "Falha de disco no servidor"},
    };
    for (const auto& [key, text] : table) {
        load({{"0000000001", "P", "P"}, {"0000000002", "P", ""}});
        tick({"0000000002"});
        fake.enqueue(kCancel, "CancelaNota", FakeTransport::raised(QString::fromUtf8(key)));
        host.answer(MsgButton::Yes);
        cancel();

        EXPECT_EQ(host.messageTexts(), (QStringList{kConfirma, QString::fromUtf8(text)})) << key;
        EXPECT_EQ(host.shown().at(1).msgKind, MsgKind::Error) << key;
        // The handler ends at the box: no reload, the ticks stay.
        EXPECT_EQ(methods(), (QStringList{"GetVdCancela", "CancelaNota"})) << key;
        EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), (QStringList{"N", "S"})) << key;
        EXPECT_EQ(inNotasMarcadas, 1) << key;
        EXPECT_TRUE(frm->sbtCancelNota->isEnabled()) << key;
        expectRestored();
        inNotasMarcadas = 0;
    }
}

TEST_F(CancelTest, AFailedResultIsShownOnceAndTheScreenIsRestored)
{
    load({{"0000000001", "P", "P"}});
    tick({"0000000001"});
    fake.enqueue(kCancel, "GetVdCancela", FakeTransport::failed("Banco de dados indisponível"));
    host.answer(MsgButton::Yes);
    cancel();

    // The result checker showed it; the flow passes its silent abort on.
    EXPECT_EQ(host.messageTexts(), (QStringList{kConfirma, "Banco de dados indisponível"}));
    EXPECT_EQ(methods(), QStringList{"GetVdCancela"});
    EXPECT_EQ(inNotasMarcadas, 1);
    expectRestored();
}

TEST_F(CancelTest, ARefreshFailingMidwayKeepsTheEntriesItAlreadyUnticked)
{
    load({{"0000000001", "P", "R"}, {"0000000002", "P", "R"}, {"0000000003", "P", ""}});
    tick({"0000000001", "0000000002", "0000000003"});
    authority["350000000001"] = pair("S", "150");
    authority["350000000002"] = pair("S", "1O0"); // not a whole number
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(),
              (QStringList{kConfirma, aviso("NF0000000001"), "'1O0' não é um valor inteiro válido."}));
    EXPECT_EQ(methods(), (QStringList{"GetVdCancela", "GetSituacao", "GetAtual_Situ", "GetSituacao"}));
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), (QStringList{"N", "S", "S"}));
    EXPECT_EQ(inNotasMarcadas, 3); // set right only by the next reload
    expectRestored();
}

TEST_F(CancelTest, ARejectedInvoiceNowAuthorisedLeavesTheCancellationAndTheOthersGoOn)
{
    load({{"0000000001", "P", "R"}, {"0000000002", "P", ""}});
    tick({"0000000001", "0000000002"});
    authority["350000000001"] = pair("S", "100");
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(), (QStringList{kConfirma, aviso("NF0000000001")}));
    EXPECT_EQ(methods(), (QStringList{"GetVdCancela", "GetSituacao", "GetAtual_Situ", "CancelaNota", "GetLanctoNF"}));
    const DataPacket sent = fake.callsTo("CancelaNota").at(0).arg(1).packet();
    EXPECT_EQ(sent.rows()[0][size_t(sent.fieldIndex("IDCHECK"))].toString(), "N");
    EXPECT_EQ(sent.rows()[1][size_t(sent.fieldIndex("IDCHECK"))].toString(), "S");
    expectRestored();
}

// --- items of the current entry ---------------------------------------------------------

class ItemCancelTest : public CancelTest {
protected:
    void SetUp() override
    {
        CancelTest::SetUp();
        load({{"0000000001", "P", "P", "N", -1, "0001", "0000000007", "0000000091"},
              {"0000000002", "P", "", "N", 0, "0001", "0000000008", "0000000092"}});
    }
    Variant answer(const Variant& doc, const Variant& items, const Variant& contas = Variant(contasPacket(0)))
    {
        return Variant::array({doc, items, contas});
    }
};

TEST_F(ItemCancelTest, TickedItemsAreCancelledAndTheScreenStaysOnTheRefreshedItems)
{
    tickItems("0000000002", 3, {1});
    fake.enqueue(kCancel, "CancelaItemNf",
                 FakeTransport::payload(answer(itemsPacket("0000000002", 1), itemsPacket("0000000002", 2))));
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(), QStringList{kConfItem});
    EXPECT_EQ(methods(), (QStringList{"GetParExpedicao", "CancelaItemNf", "CancelaNota"}));
    const auto call = fake.callsTo("CancelaItemNf").at(0);
    ASSERT_EQ(call.request.args.size(), 8u);
    EXPECT_EQ(call.arg(0).toString(), "0001");
    const DataPacket items = call.arg(1).packet();
    QStringList ticks;
    for (const PacketRow& r : items.rows())
        ticks << r[size_t(items.fieldIndex("IDCHECK"))].toString();
    EXPECT_EQ(ticks, (QStringList{"N", "S", "N"}));
    EXPECT_EQ(call.arg(2).toString(), "0000000002");
    EXPECT_EQ(call.arg(3).toString(), "0000000008");
    EXPECT_EQ(call.arg(4).toString(), "0000000092");
    EXPECT_EQ(call.arg(5).type(), Variant::Type::Date);
    EXPECT_EQ(call.arg(5).toDate().wholeDays(), Date::today().wholeDays());
    EXPECT_EQ(call.arg(6).toString(), "0001");
    EXPECT_EQ(call.arg(7).toString(), "TESTE");
    // The entry flow's call follows, with no entry ticked.
    const DataPacket list = fake.callsTo("CancelaNota").at(0).arg(1).packet();
    EXPECT_EQ(list.rowCount(), 2);

    EXPECT_EQ(opened, QStringList{"EXP00106"});
    EXPECT_EQ(documentRows, 1);
    EXPECT_EQ(columnValues(*frm->cdsItensLanctoNF, "NRSEQITPROD"), (QStringList{"0001", "0002"}));
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_FALSE(frm->sbtCancelNota->isEnabled());
    expectRestored();
}

TEST_F(ItemCancelTest, TheLastItemGoneTakesTheScreenBackToTheReloadedEntries)
{
    tickItems("0000000002", 1, {0});
    fake.enqueue(kCancel, "CancelaItemNf",
                 FakeTransport::payload(answer(itemsPacket("0000000002", 1), itemsPacket("0000000002", 0))));
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(methods(), (QStringList{"GetParExpedicao", "CancelaItemNf", "CancelaNota", "GetLanctoNF"}));
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    expectRestored();
}

TEST_F(ItemCancelTest, NoFollowUpDocumentOpensNoModuleAndANullItemListKeepsTheOldRows)
{
    for (const Variant& doc : {Variant(), Variant(itemsPacket("0000000002", 0))}) {
        opened.clear();
        tickItems("0000000002", 2, {0});
        fake.enqueue(kCancel, "CancelaItemNf", FakeTransport::payload(answer(doc, Variant(), Variant())));
        host.answer(MsgButton::Yes);
        cancel();
        EXPECT_TRUE(opened.isEmpty());
        EXPECT_EQ(columnValues(*frm->cdsItensLanctoNF, "IDCHECK"), (QStringList{"S", "N"})); // the old rows
        EXPECT_EQ(inItensMarcados, 0);
        EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
        expectRestored();
    }
}

TEST_F(ItemCancelTest, SubProductBranchesRefuseBeforeAnyQuestion)
{
    tickItems("0000000002", 2, {0});
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("3")));
    cancel();
    EXPECT_EQ(
        host.messageTexts(),
        QStringList{"Não é possível cancelar itens da nota fiscal quando o sistema está parâmetrizado para gravar o "
                    "sub-produtos do produto principal na nota. Neste caso a nota inteira deve ser cancelada."});
    EXPECT_EQ(methods(), QStringList{"GetParExpedicao"});
    EXPECT_EQ(inItensMarcados, 1);

    // Any other value, empty included, goes on to the question.
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("")));
    host.clearShown();
    host.answer(MsgButton::No);
    cancel();
    EXPECT_EQ(host.messageTexts(), QStringList{kConfItem});
    EXPECT_EQ(fake.count("CancelaItemNf"), 0);
    // No: nothing reloaded, the items and their ticks stay.
    EXPECT_EQ(methods(), (QStringList{"GetParExpedicao", "GetParExpedicao"}));
    EXPECT_EQ(columnValues(*frm->cdsItensLanctoNF, "IDCHECK"), (QStringList{"S", "N"}));
    expectRestored();
}

TEST_F(ItemCancelTest, EachRefusalOfAnItemCancellationShowsItsTextAndChangesNothing)
{
    const std::pair<const char*, const char*> table[] = {
        {"NOTA_ALT", "Operação Bloqueada. A nota fiscal foi emitida por outro usuário."},
        {"REPLIC_N_CANC",
         "Operação Bloqueada!A exclusão das notas replicadas faria com que o estoque ficasse irregular."},
        {"ITEM_N_CANC",
         "Operação Bloqueada! A exclusão do item selecionado faria com que o estoque ficasse irregular."},
        // Any key of the catalogue shows its text, whichever flow it belongs to.
        {"NOTAS_N_CANC",
         "Algumas das notas selecionadas não foram canceladas porque foram emitidas por outro usuário."},
        {"CNTCOMIS", "Itens da nota fiscal não podem ser cancelados. Nota fiscal possui conta a pagar de comissão."},
        {"CANCEL_EXP",
         "Não é possível cancelar itens da nota fiscal quando o sistema está parâmetrizado para gravar o "
         "sub-produtos do produto principal na nota. Neste caso a nota inteira deve ser cancelada."},
        {"Falha de disco no servidor", "Falha de disco no servidor"},
    };
    tickItems("0000000002", 2, {1});
    for (const auto& [key, text] : table) {
        host.clearShown();
        calls0 = int(fake.calls().size());
        fake.enqueue(kCancel, "CancelaItemNf", FakeTransport::raised(QString::fromUtf8(key)));
        host.answer(MsgButton::Yes);
        cancel();
        EXPECT_EQ(host.messageTexts(), (QStringList{kConfItem, QString::fromUtf8(text)})) << key;
        EXPECT_EQ(methods(), (QStringList{"GetParExpedicao", "CancelaItemNf"})) << key;
        EXPECT_EQ(inItensMarcados, 1) << key;
        EXPECT_EQ(columnValues(*frm->cdsItensLanctoNF, "IDCHECK"), (QStringList{"N", "S"})) << key;
        expectRestored();
    }
}

TEST_F(ItemCancelTest, TheNavigatorIsFreedWhenTheItemTicksGoByACancellationOrABlockedEntry)
{
    // Items ticked by a click hold the navigator; the cancellation leaves the
    // refreshed items unticked.
    fake.setDefault(kCancel, "VerReplic", FakeTransport::payload(Variant::array({Variant(), Variant(), Variant()})));
    tickItems("0000000002", 3, {});
    clickCell(frm->dbgItensNf, 1);
    ASSERT_FALSE(frm->itemTickControl()->isEnabled());
    fake.enqueue(kCancel, "CancelaItemNf",
                 FakeTransport::payload(answer(itemsPacket("0000000002", 1), itemsPacket("0000000002", 2))));
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());

    // The entry's NF-e was denied meanwhile: the list comes back with it and
    // nothing is ticked, though the old items still hold their ticks.
    load({{"0000000001", "P", "R", "N", 0, "0001", "0000000007", "0000000091"}});
    tickItems("0000000001", 2, {});
    clickCell(frm->dbgItensNf, 0);
    ASSERT_FALSE(frm->itemTickControl()->isEnabled());
    authority["350000000001"] = pair("S", "302");
    fake.enqueue(
        kCancel, "GetLanctoNF",
        FakeTransport::payload(entries({{"0000000001", "P", "D", "N", 0, "0001", "0000000007", "0000000091"}})));
    host.clearShown();
    cancel();
    EXPECT_EQ(host.messageTexts(), QStringList{kOpBloq});
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    EXPECT_EQ(frm->cdsLanctoNF->fieldByName("NRLANCTONF").asString(), "0000000001");
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
    expectRestored();
}

TEST_F(ItemCancelTest, AFollowUpModuleThatFailsIsShownAndItsDatasetFreed)
{
    tickItems("0000000002", 2, {1});
    failModule = true;
    fake.enqueue(kCancel, "CancelaItemNf",
                 FakeTransport::payload(answer(itemsPacket("0000000002", 1), itemsPacket("0000000002", 1))));
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(host.messageTexts(), (QStringList{kConfItem, "módulo indisponível"}));
    EXPECT_EQ(opened, QStringList{"EXP00106"});
    EXPECT_EQ(inItensMarcados, 1); // counters left as they were
    expectRestored();
}

TEST_F(ItemCancelTest, ACurrentEntryWhoseNfeMovedOnIsBlockedAfterTheEntriesAreReloaded)
{
    load({{"0000000001", "P", "R", "N", 0, "0001", "0000000007", "0000000091"}});
    tickItems("0000000001", 2, {0});
    authority["350000000001"] = pair("S", "302");
    cancel();

    EXPECT_EQ(host.messageTexts(), QStringList{kOpBloq});
    EXPECT_EQ(host.shown().at(0).msgKind, MsgKind::Error);
    EXPECT_EQ(methods(), (QStringList{"GetParExpedicao", "GetSituacao", "GetAtual_Situ", "GetLanctoNF"}));
    EXPECT_EQ(fake.callsTo("GetAtual_Situ").at(0).arg(4).toString(), "D");
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    EXPECT_EQ(inItensMarcados, 0);
    expectRestored();
}

// --- the NF-e status refresh on its own -------------------------------------------------

class RefreshTest : public CancelTest { };

TEST_F(RefreshTest, TickedModeAsksOnlyForTickedRejectedEntriesAndUntickesThoseThatMovedOn)
{
    load({{"0000000001", "P", "R"},
          {"0000000002", "P", "R"},
          {"0000000003", "P", "P"},
          {"0000000004", "P", "R"},
          {"0000000005", "P", "R"},
          {"0000000006", "P", "R"}});
    tick({"0000000001", "0000000003", "0000000004", "0000000005", "0000000006"}); // 2 is left unticked
    authority["350000000001"] = pair("S", "100");
    authority["350000000004"] = pair("S", "301");
    authority["350000000005"] = pair("S", "204");                      // outside the table: "X", skipped
    authority["350000000006"] = pair("N", "108 - Serviço Paralisado"); // no answer: skipped, nothing shown
    frm->AtualizaStatusNF();

    EXPECT_EQ(host.messageTexts(), (QStringList{aviso("NF0000000001"), aviso("NF0000000004")}));
    EXPECT_EQ(host.shown().at(0).msgKind, MsgKind::Warning);
    QStringList asked;
    for (const auto& c : fake.callsTo("GetSituacao"))
        asked << c.arg(2).toString();
    EXPECT_EQ(asked, (QStringList{"350000000001", "350000000004", "350000000005", "350000000006"}));
    const auto stored = fake.callsTo("GetAtual_Situ");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].arg(4).toString(), "A");
    EXPECT_TRUE(stored[0].request.byRef.at(4));
    EXPECT_EQ(stored[1].arg(4).toString(), "D");
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), (QStringList{"N", "N", "S", "N", "S", "S"}));
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 5); // the walk ends on the last row
    EXPECT_EQ(inNotasMarcadas, 5);

    // The registration of the entry's company went with the first call.
    const auto first = fake.callsTo("GetSituacao").at(0);
    EXPECT_EQ(first.arg(0).toString(), "2");
    EXPECT_EQ(first.arg(1).toString(), "5A1F0C0001");
    EXPECT_EQ(first.arg(3).toString(), "SP");
    EXPECT_EQ(first.arg(4).toString(), "01");
    EXPECT_FALSE(first.arg(5).toString().isEmpty());
    EXPECT_EQ(first.arg(7).toString(), kInscricao);
    EXPECT_EQ(stored[0].arg(0).toString(), "TESTE");
    EXPECT_EQ(stored[0].arg(3).toString(), "R");
}

TEST_F(RefreshTest, TickedModeStopsAtTheServersRefusalToStore)
{
    load({{"0000000001", "P", "R"}, {"0000000002", "P", "R"}});
    tick({"0000000001", "0000000002"});
    authority["350000000001"] = pair("S", "110");
    authority["350000000002"] = pair("S", "100");
    fake.enqueue(kSituacao, "GetAtual_Situ", FakeTransport::payload(pair("N", "Situação alterada por outro usuário.")));
    EXPECT_THROW(frm->AtualizaStatusNF(), Abort);
    EXPECT_EQ(host.messageTexts(), QStringList{"Situação alterada por outro usuário."});
    EXPECT_EQ(fake.count("GetSituacao"), 1);
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), (QStringList{"S", "S"}));
}

TEST_F(RefreshTest, CurrentEntryModeLooksAtTheCurrentEntryTickedOrNot)
{
    load({{"0000000001", "P", "R"}, {"0000000002", "P", "P"}});
    // 217: the authority has no record of the key; nothing shown, the cancellation goes on.
    frm->cdsLanctoNF->first();
    EXPECT_NO_THROW(frm->AtualizaStatusNF());
    EXPECT_TRUE(host.messageTexts().isEmpty());
    EXPECT_EQ(fake.count("GetSituacao"), 1);
    EXPECT_EQ(fake.count("GetAtual_Situ"), 0);

    // Not rejected: no query, no call.
    frm->cdsLanctoNF->next();
    EXPECT_NO_THROW(frm->AtualizaStatusNF());
    EXPECT_EQ(fake.count("GetSituacao"), 1);

    // Another answer without a code is shown and ends the refresh.
    frm->cdsLanctoNF->first();
    authority["350000000001"] = pair("N", "108 - Serviço Paralisado");
    EXPECT_THROW(frm->AtualizaStatusNF(), Abort);
    EXPECT_EQ(host.messageTexts(), QStringList{"108 - Serviço Paralisado"});
    EXPECT_EQ(fake.count("GetAtual_Situ"), 0);
}

TEST_F(RefreshTest, CurrentEntryModeSendsAnXAnswerOnAndBlocks)
{
    load({{"0000000001", "P", "R"}});
    fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(entries({{"0000000001", "P", "R"}})));
    authority["350000000001"] = pair("S", "204");
    EXPECT_THROW(frm->AtualizaStatusNF(), Abort);
    ASSERT_EQ(fake.count("GetAtual_Situ"), 1);
    EXPECT_EQ(fake.callsTo("GetAtual_Situ").at(0).arg(4).toString(), "X");
    EXPECT_EQ(methods(), (QStringList{"GetSituacao", "GetAtual_Situ", "GetLanctoNF"}));
    EXPECT_EQ(host.messageTexts(), QStringList{kOpBloq});

    // A code that is not a whole number ends the refresh with the conversion's error.
    authority["350000000001"] = pair("S", "cem");
    host.clearShown();
    try {
        frm->AtualizaStatusNF();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), "'cem' não é um valor inteiro válido.");
    }
    EXPECT_EQ(fake.count("GetAtual_Situ"), 1);
}

// --- the item page follows the current entry --------------------------------------------

TEST_F(CancelTest, ItemsOfThePreviousEntryNeverStayUnderANewCurrentEntry)
{
    load({{"0000000001", "P", "P"}, {"0000000002", "P", "P"}});
    tickItems("0000000001", 3, {2});
    ASSERT_EQ(frm->cdsItensLanctoNF->recordCount(), 3);

    // Moving on while the server fails: the old entry's items are closed.
    fake.enqueue(kCancel, "GetItem", FakeTransport::failed("Servidor ocupado"));
    dispatch([&] { frm->cdsLanctoNF->next(); });
    settle();
    EXPECT_EQ(host.messageTexts(), QStringList{"Servidor ocupado"});
    EXPECT_FALSE(frm->cdsItensLanctoNF->active());
    EXPECT_FALSE(frm->cdsContaGerada->active());
    EXPECT_EQ(inItensMarcados, 0);

    // Reloading the same entry that fails keeps what it showed.
    fake.enqueue(
        kCancel, "GetItem",
        FakeTransport::payload(Variant::array({Variant(itemsPacket("0000000002", 2)), Variant(contasPacket(0))})));
    frm->sbtVerificarClick();
    ASSERT_EQ(frm->cdsItensLanctoNF->recordCount(), 2);
    fake.enqueue(kCancel, "GetItem", FakeTransport::failed("Servidor ocupado"));
    EXPECT_THROW(frm->sbtVerificarClick(), Abort);
    EXPECT_EQ(frm->cdsItensLanctoNF->recordCount(), 2);
}

} // namespace
