// Ticking entries and items, driven with real clicks, title clicks and keys
// on the grids against the in-process server fake.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>
#include <screens/replic_error/erroreplic.h>

#include <client/hostapi.h>

#include <QApplication>
#include <QTabBar>
#include <QTest>

using namespace core;
using namespace testing_module;
using cli_exp01800::boContaComissao;
using cli_exp01800::inItensMarcados;
using cli_exp01800::inNotasMarcadas;

namespace {

/// VerReplic's one-entry answer: [Null, documents or Null, Null].
FakeTransport::Answer oneEntryAnswer(const QStringList& docsFor = {})
{
    return FakeTransport::payload(
        Variant::array({Variant(), docsFor.isEmpty() ? Variant() : Variant(docReplicPacket(docsFor)), Variant()}));
}

FakeTransport::Answer aprov(const QString& idstatus, const QString& nr = "0000000099", const QString& filial = "0003")
{
    return FakeTransport::payload(replicAprovPacket(nr, filial, idstatus));
}

const QString kBtnOk = QStringLiteral("btnSim");
const QString kBtnCancela = QStringLiteral("btnCancela");

class TickTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        frm = open();
        ASSERT_NE(frm, nullptr);
        frm->dbgPadrao->setFocus();
        settle();
        boContaComissao = false;
        CriaFiltroCancela(QString());
        frmFiltroCanc->edtNumeroG->clear();
    }
    void TearDown() override
    {
        if (frmFiltroCanc)
            frmFiltroCanc->edtNumeroG->clear();
        ScreenFixture::TearDown();
    }

    /// Loads entries through the load command on the entry page.
    void load(const std::vector<Entry>& entries)
    {
        fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket(entries)));
        frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
        frm->sbtVerificarClick();
        settle();
        fake.reset();
        host.clearShown();
    }
    void loadFour() { load({{"0000000001"}, {"0000000002"}, {"0000000003", "C"}, {"0000000004"}}); }

    /// The server's whole-list VerReplic: ticks the entries named, reports
    /// replicated documents for `docs`.
    void serverTicks(const QStringList& tick, const QStringList& docs = {})
    {
        fake.on(kCancel, "VerReplic", [tick, docs](const CallRequest& req) {
            DataPacket p = req.args.at(0).packet();
            const int chk = p.fieldIndex("IDCHECK");
            const int nr = p.fieldIndex("NRLANCTONF");
            int n = 0;
            for (PacketRow& row : p.rows()) {
                const bool on = tick.contains(row[size_t(nr)].toString());
                row[size_t(chk)] = Variant(on ? "S" : "N");
                n += on ? 1 : 0;
            }
            return FakeTransport::respond(
                FakeTransport::payload(Variant::array(
                    {Variant(p), docs.isEmpty() ? Variant() : Variant(docReplicPacket(docs)), Variant(n)})),
                req);
        });
    }

    /// Nothing a handler set up is left behind.
    void expectRestored(ClientDataset& ds)
    {
        EXPECT_EQ(ds.state(), DatasetState::Browse) << ds.objectName().toStdString();
        EXPECT_FALSE(ds.controlsDisabled()) << ds.objectName().toStdString();
        EXPECT_TRUE(bool(frm->cdsLanctoNF->afterScroll()));
        EXPECT_EQ(host.frozenDepth(), 0);
        EXPECT_EQ(host.busyDepth(), 0);
        EXPECT_EQ(host.animationDepth(), 0);
        EXPECT_EQ(host.unbalanced(), 0);
        EXPECT_TRUE(frm->cdsErroReplic->isEmpty());
    }

    QStringList checks() const { return columnValues(*frm->cdsLanctoNF, "IDCHECK"); }

    TfrmConLancto* frm = nullptr;
};

// --- one entry ----------------------------------------------------------------------

TEST_F(TickTest, AClickTicksAfterBothServerChecksAndASecondClickUnticksWithoutAsking)
{
    loadFour();
    frm->cdsLanctoNF->moveTo(1);
    fake.enqueue(kCancel, "GetReplicAprov", aprov(""));
    fake.enqueue(kCancel, "VerReplic", oneEntryAnswer());
    const int animacoes = host.animationStarts();
    clickCell(frm->dbgPadrao, 1);
    EXPECT_EQ(host.animationStarts() - animacoes, 2) << "each server call runs under the animation";

    ASSERT_EQ(fake.count("GetReplicAprov"), 1);
    EXPECT_EQ(fake.callsTo("GetReplicAprov")[0].arg(0), Variant("0001"));
    EXPECT_EQ(fake.callsTo("GetReplicAprov")[0].arg(1), Variant("0000000002"));
    ASSERT_EQ(fake.count("VerReplic"), 1);
    EXPECT_TRUE(fake.callsTo("VerReplic")[0].arg(0).isNull());
    EXPECT_EQ(fake.callsTo("VerReplic")[0].arg(2), Variant("0000000002"));
    EXPECT_EQ(checks(), QStringList({"N", "S", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 1);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 1);
    EXPECT_TRUE(frm->sbtCancelNota->isEnabled());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_FALSE(frm->medFilial->isEnabled());
    EXPECT_FALSE(frm->tshFormulario->pageEnabled());
    EXPECT_TRUE(host.shown().isEmpty());
    expectRestored(*frm->cdsLanctoNF);

    fake.reset();
    clickCell(frm->dbgPadrao, 1);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_FALSE(frm->sbtCancelNota->isEnabled());
    EXPECT_TRUE(frm->medFilial->isEnabled());
}

TEST_F(TickTest, AnEmittedReplicaRefusesTheClickWithTheBuiltMessageButTickAllsSecondPassTicksIt)
{
    loadFour();
    fake.enqueue(kCancel, "GetReplicAprov", aprov("E", "0000000099", "0003"));
    clickCell(frm->dbgPadrao, 0);
    EXPECT_EQ(fake.count("VerReplic"), 0);
    EXPECT_EQ(host.messageTexts(),
              QStringList({"Operação Bloqueada. A nota de entrada 0000000099 para a filial 0003 já está aprovada."}));
    EXPECT_EQ(checks().at(0), "N");
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored(*frm->cdsLanctoNF);

    // Tick-all: the server leaves entry 1 unticked and reports replicas; on
    // "&OK" the second pass asks again and only "A" excludes.
    fake.reset();
    host.clearShown();
    serverTicks({"0000000002", "0000000004"}, {"0000000002"});
    fake.enqueue(kCancel, "GetReplicAprov", aprov("E"));
    host.formClick(kBtnOk);
    clickTitle(frm->dbgPadrao);
    EXPECT_EQ(fake.count("VerReplic"), 1);
    ASSERT_EQ(fake.count("GetReplicAprov"), 1); // entry 3 is blocked, 2 and 4 are ticked
    EXPECT_EQ(fake.callsTo("GetReplicAprov")[0].arg(1), Variant("0000000001"));
    EXPECT_EQ(checks(), QStringList({"S", "S", "N", "S"}));
    EXPECT_EQ(inNotasMarcadas, 3);
    EXPECT_TRUE(host.messageTexts().isEmpty());
    expectRestored(*frm->cdsLanctoNF);
}

TEST_F(TickTest, SecondPassSkipsAnApprovedReplica)
{
    loadFour();
    serverTicks({"0000000004"}, {"0000000004"});
    fake.enqueue(kCancel, "GetReplicAprov", aprov("A"));
    fake.enqueue(kCancel, "GetReplicAprov", aprov(""));
    host.formClick(kBtnOk);
    clickTitle(frm->dbgPadrao);
    EXPECT_EQ(checks(), QStringList({"N", "S", "N", "S"}));
    EXPECT_EQ(inNotasMarcadas, 2);
}

TEST_F(TickTest, BlockedEntriesRefuseSilentlyAndATickedOneUnticksWithoutAServerCall)
{
    load({{"0000000001", "C"}, {"0000000002", "P", "T"}, {"0000000003", "E", "R", "S"}});
    fake.setDefault(kCancel, "GetReplicAprov", aprov(""));
    clickCell(frm->dbgPadrao, 0);
    clickCell(frm->dbgPadrao, 1);
    EXPECT_EQ(fake.count("GetReplicAprov"), 2); // the server check comes first
    EXPECT_EQ(fake.count("VerReplic"), 0);
    EXPECT_EQ(checks(), QStringList({"N", "N", "S"}));
    EXPECT_TRUE(host.shown().isEmpty());

    fake.reset();
    inNotasMarcadas = 1; // as if ticked before its status changed
    clickCell(frm->dbgPadrao, 2);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(checks().at(2), "N");
    EXPECT_EQ(inNotasMarcadas, 0);
}

TEST_F(TickTest, TheDialogDecidesTheTickAndItsCloseBoxRefuses)
{
    loadFour();
    fake.setDefault(kCancel, "GetReplicAprov", aprov(""));
    fake.setDefault(kCancel, "VerReplic", oneEntryAnswer({"0000000001"}));
    bool wide = true;
    host.inspectForm = [&](QObject& f) {
        auto& d = static_cast<TfrmErroReplic&>(f);
        wide = !d.dbgMensagem->isColumnHidden(1);
        EXPECT_EQ(d.cdsErroReplic->recordCount(), 1);
    };

    host.formClick(kBtnCancela);
    clickCell(frm->dbgPadrao, 0);
    EXPECT_EQ(checks().at(0), "N");
    EXPECT_FALSE(wide);

    // A previous run answered OK: the close box must still refuse.
    host.formClick(kBtnOk);
    clickCell(frm->dbgPadrao, 3);
    EXPECT_EQ(checks().at(3), "S");
    ASSERT_FALSE(boReplic);
    host.formCloseBox();
    clickCell(frm->dbgPadrao, 1);
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "S"}));
    host.formEscape();
    clickCell(frm->dbgPadrao, 0);
    EXPECT_EQ(checks().at(0), "N");
    EXPECT_EQ(inNotasMarcadas, 1);
    int forms = 0;
    for (const auto& s : host.shown())
        forms += s.kind == "form" ? 1 : 0;
    EXPECT_EQ(forms, 4);
    expectRestored(*frm->cdsLanctoNF);
}

// --- all entries ---------------------------------------------------------------------

TEST_F(TickTest, TitleClickTicksAllInOneCallAndCancelKeepsTheServersTicking)
{
    loadFour();
    frm->cdsLanctoNF->moveTo(2);
    serverTicks({"0000000001", "0000000002"}, {"0000000001"});
    bool wide = false;
    host.inspectForm = [&](QObject& f) { wide = !static_cast<TfrmErroReplic&>(f).dbgMensagem->isColumnHidden(1); };
    host.formClick(kBtnCancela);
    clickTitle(frm->dbgPadrao);

    ASSERT_EQ(fake.count("VerReplic"), 1);
    const auto call = fake.callsTo("VerReplic")[0];
    EXPECT_EQ(call.arg(0).packet().rowCount(), 4);
    EXPECT_EQ(call.arg(1), Variant(""));
    EXPECT_EQ(call.arg(2), Variant(""));
    EXPECT_EQ(fake.count("GetReplicAprov"), 0);
    EXPECT_TRUE(wide);
    EXPECT_EQ(checks(), QStringList({"S", "S", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 2);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 2); // the entry current before
    expectRestored(*frm->cdsLanctoNF);

    // Untick all: every row, the grid rests on the first ticked entry.
    fake.reset();
    frm->cdsLanctoNF->moveTo(3);
    clickTitle(frm->dbgPadrao);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 0);
    expectRestored(*frm->cdsLanctoNF);
}

TEST_F(TickTest, TheGridRepaintsOnceAfterATickAll)
{
    loadFour();
    frm->dbgPadrao->viewport()->repaint();
    const qint64 before = frm->dbgPadrao->cellPaintCount();
    ASSERT_GT(before, 0);
    serverTicks({"0000000001"});
    clickTitle(frm->dbgPadrao);
    QTest::qWait(50);
    EXPECT_GT(frm->dbgPadrao->cellPaintCount(), before);
    EXPECT_EQ(inNotasMarcadas, 1);
}

TEST_F(TickTest, WithoutReplicasNoDialogAndTheCountIsTheServers)
{
    loadFour();
    serverTicks({"0000000001", "0000000002", "0000000004"});
    clickTitle(frm->dbgPadrao);
    EXPECT_TRUE(host.shown().isEmpty());
    EXPECT_EQ(inNotasMarcadas, 3);
    // Another column's title, or a cell of another column, changes nothing.
    fake.reset();
    clickTitle(frm->dbgPadrao, 3);
    clickCell(frm->dbgPadrao, 0, 3);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(inNotasMarcadas, 3);
}

TEST_F(TickTest, WithAGradeChosenAClickOnAnyEntryTicksOrUnticksAll)
{
    loadFour();
    frmFiltroCanc->edtNumeroG->setText("G0001");
    serverTicks({"0000000001", "0000000004"});
    clickCell(frm->dbgPadrao, 1);
    EXPECT_EQ(fake.count("GetReplicAprov"), 0);
    EXPECT_EQ(checks(), QStringList({"S", "N", "N", "S"}));
    clickCell(frm->dbgPadrao, 2);
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 0);
}

TEST_F(TickTest, AnEmptyListTicksNothing)
{
    load({});
    clickTitle(frm->dbgPadrao);
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    settle();
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored(*frm->cdsLanctoNF);
}

// --- keys ---------------------------------------------------------------------------

TEST_F(TickTest, SpaceTogglesTheCurrentEntryAndCtrlSpaceTicksAll)
{
    loadFour();
    frm->cdsLanctoNF->moveTo(3);
    fake.enqueue(kCancel, "GetReplicAprov", aprov(""));
    fake.enqueue(kCancel, "VerReplic", oneEntryAnswer());
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    settle();
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "S"}));
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    settle();
    EXPECT_EQ(inNotasMarcadas, 0);

    serverTicks({"0000000001", "0000000002", "0000000004"});
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space, Qt::ControlModifier);
    settle();
    EXPECT_EQ(inNotasMarcadas, 3);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 3);
    // The grid keeps its one selected row.
    EXPECT_TRUE(frm->dbgPadrao->selectionModel()->isRowSelected(3, {}));
}

TEST_F(TickTest, CtrlTypedAloneThenCtrlSpaceStaysWithTheGrid)
{
    loadFour();
    serverTicks({"0000000001", "0000000002"});
    frm->dbgPadrao->setFocus();
    settle();
    ASSERT_EQ(QApplication::focusWidget(), frm->dbgPadrao);

    // Ctrl pressed and released alone, then Ctrl held with Space, each key
    // sent to whatever has the focus, as a keyboard does.
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control, Qt::ControlModifier);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(QApplication::focusWidget(), frm->dbgPadrao);
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control, Qt::ControlModifier);
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Space, Qt::ControlModifier);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Space, Qt::ControlModifier);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control, Qt::NoModifier);
    settle();
    EXPECT_EQ(QApplication::focusWidget(), frm->dbgPadrao);
    EXPECT_EQ(fake.count("VerReplic"), 1);
    EXPECT_EQ(inNotasMarcadas, 2);

    // Ctrl+Tab still switches pages from inside one (only then the focus leaves).
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    settle();
    EXPECT_NE(QApplication::focusWidget(), frm->dbgPadrao);
}

// --- failures midway ---------------------------------------------------------------------

TEST_F(TickTest, AFailedCallInATickLeavesNothingSetUp)
{
    loadFour();
    fake.enqueue(kCancel, "GetReplicAprov", aprov(""));
    fake.enqueue(kCancel, "VerReplic", FakeTransport::failed("servidor indisponível"));
    clickCell(frm->dbgPadrao, 0);
    EXPECT_EQ(host.messageTexts(), QStringList({"servidor indisponível"}));
    EXPECT_EQ(checks().at(0), "N");
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored(*frm->cdsLanctoNF);

    fake.enqueue(kCancel, "GetReplicAprov", FakeTransport::raised("queda da conexão"));
    clickCell(frm->dbgPadrao, 1);
    EXPECT_EQ(checks().at(1), "N");
    expectRestored(*frm->cdsLanctoNF);
}

TEST_F(TickTest, AFailedCallInATickAllLeavesNothingSetUp)
{
    loadFour();
    fake.enqueue(kCancel, "VerReplic", FakeTransport::failed("servidor indisponível"));
    clickTitle(frm->dbgPadrao);
    EXPECT_EQ(checks(), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 0);
    expectRestored(*frm->cdsLanctoNF);

    // Failing in the second pass: what was ticked stays counted.
    fake.reset();
    serverTicks({"0000000004"}, {"0000000004"});
    fake.enqueue(kCancel, "GetReplicAprov", aprov(""));
    fake.enqueue(kCancel, "GetReplicAprov", FakeTransport::failed("servidor indisponível"));
    host.formClick(kBtnOk);
    clickTitle(frm->dbgPadrao);
    EXPECT_EQ(checks(), QStringList({"S", "N", "N", "S"}));
    EXPECT_EQ(inNotasMarcadas, 2);
    EXPECT_TRUE(frm->sbtCancelNota->isEnabled());
    expectRestored(*frm->cdsLanctoNF);

    // A replication packet that does not load, after the server's list and
    // count replaced the screen's: the controls follow what is ticked.
    clickTitle(frm->dbgPadrao);
    ASSERT_EQ(inNotasMarcadas, 0);
    host.clearShown();
    DataPacket ticked =
        lanctoPacket({{"0000000001"}, {"0000000002", "P", "R", "S"}, {"0000000003", "C"}, {"0000000004"}});
    fake.enqueue(kCancel, "VerReplic",
                 FakeTransport::payload(Variant::array({Variant(ticked), Variant("sem pacote"), Variant(1)})));
    clickTitle(frm->dbgPadrao);
    EXPECT_EQ(host.messageTexts().size(), 1);
    EXPECT_EQ(checks(), QStringList({"N", "S", "N", "N"}));
    EXPECT_EQ(inNotasMarcadas, 1);
    EXPECT_TRUE(frm->sbtCancelNota->isEnabled());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    expectRestored(*frm->cdsLanctoNF);
}

// --- items -----------------------------------------------------------------------------

class ItemTickTest : public TickTest {
protected:
    /// Entries loaded, the items page shown with `n` items of the first entry.
    void showItems(const std::vector<Entry>& entries, int n, int contas = 0)
    {
        load(entries);
        fake.setDefault(kCancel, "GetItem",
                        FakeTransport::payload(Variant::array(
                            {Variant(itemsPacket(entries.front().nr, n)), Variant(contasPacket(contas))})));
        QTabBar* bar = frm->pgcPadrao->tabBar();
        bar->setFocus();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(frm->tshFormulario->pageIndex()).center());
        settle();
        ASSERT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
        fake.reset();
        host.clearShown();
    }
    QStringList items() const { return columnValues(*frm->cdsItensLanctoNF, "IDCHECK"); }
};

TEST_F(ItemTickTest, OnlyTheFirstItemTickAsksTheServerWithTheEntrysKeys)
{
    showItems({{"0000000001"}}, 3);
    fake.setDefault(kCancel, "VerReplic", oneEntryAnswer());
    clickCell(frm->dbgItensNf, 1);
    ASSERT_EQ(fake.count("VerReplic"), 1);
    EXPECT_TRUE(fake.callsTo("VerReplic")[0].arg(0).isNull());
    EXPECT_EQ(fake.callsTo("VerReplic")[0].arg(1), Variant("0001"));
    EXPECT_EQ(fake.callsTo("VerReplic")[0].arg(2), Variant("0000000001"));
    EXPECT_EQ(fake.count("GetReplicAprov"), 0);
    clickCell(frm->dbgItensNf, 2);
    EXPECT_EQ(fake.count("VerReplic"), 1); // the second tick asks nothing
    EXPECT_EQ(items(), QStringList({"N", "S", "S"}));
    EXPECT_EQ(inItensMarcados, 2);
    EXPECT_EQ(frm->cdsItensLanctoNF->recNo(), 2);
    EXPECT_FALSE(frm->itemTickControl()->isEnabled());
    EXPECT_FALSE(frm->tshFolhaDados->pageEnabled());
    EXPECT_TRUE(frm->sbtCancelNota->isEnabled());

    // Unticking both brings the counter to zero: the next tick asks again.
    clickCell(frm->dbgItensNf, 1);
    clickCell(frm->dbgItensNf, 2);
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
    EXPECT_TRUE(frm->tshFolhaDados->pageEnabled());
    clickCell(frm->dbgItensNf, 0);
    EXPECT_EQ(fake.count("VerReplic"), 2);
    expectRestored(*frm->cdsItensLanctoNF);
}

TEST_F(ItemTickTest, ItemsOfABlockedEntryNeverTick)
{
    showItems({{"0000000001", "P", "A"}}, 2);
    clickCell(frm->dbgItensNf, 0);
    QTest::keyClick(frm->dbgItensNf, Qt::Key_Space);
    clickTitle(frm->dbgItensNf);
    settle();
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(items(), QStringList({"N", "N"}));
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
}

TEST_F(ItemTickTest, CommissionAccountsRefuseEveryItemClick)
{
    showItems({{"0000000001"}}, 2, 1);
    ASSERT_TRUE(boContaComissao);
    clickCell(frm->dbgItensNf, 0);
    clickTitle(frm->dbgItensNf);
    const QString text = "Itens da nota fiscal não podem ser cancelados. Nota fiscal possui conta a pagar de comissão.";
    EXPECT_EQ(host.messageTexts(), QStringList({text, text}));
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(items(), QStringList({"N", "N"}));
    expectRestored(*frm->cdsItensLanctoNF);
}

TEST_F(ItemTickTest, TickAllAsksAgainAfterEachCancelaUntilAnOk)
{
    showItems({{"0000000001"}}, 4);
    frm->cdsItensLanctoNF->moveTo(2);
    fake.setDefault(kCancel, "VerReplic", oneEntryAnswer({"0000000001"}));
    host.formClick(kBtnCancela).formClick(kBtnCancela).formClick(kBtnOk);
    clickTitle(frm->dbgItensNf);
    EXPECT_EQ(fake.count("VerReplic"), 3);
    EXPECT_EQ(items(), QStringList({"N", "N", "S", "S"}));
    EXPECT_EQ(inItensMarcados, 2);
    EXPECT_EQ(frm->cdsItensLanctoNF->recNo(), 2);
    EXPECT_FALSE(frm->itemTickControl()->isEnabled());

    // Ctrl+Space unticks all.
    QTest::keyClick(frm->dbgItensNf, Qt::Key_Space, Qt::ControlModifier);
    settle();
    EXPECT_EQ(items(), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
    expectRestored(*frm->cdsItensLanctoNF);
}

TEST_F(ItemTickTest, AFailedCallInAnItemTickAllLeavesNothingSetUp)
{
    showItems({{"0000000001"}}, 3);
    fake.enqueue(kCancel, "VerReplic", oneEntryAnswer({"0000000001"}));
    fake.enqueue(kCancel, "VerReplic", FakeTransport::failed("servidor indisponível"));
    host.formClick(kBtnCancela);
    clickTitle(frm->dbgItensNf);
    EXPECT_EQ(items(), QStringList({"N", "N", "N"}));
    EXPECT_EQ(inItensMarcados, 0);
    expectRestored(*frm->cdsItensLanctoNF);

    fake.enqueue(kCancel, "VerReplic", FakeTransport::failed("servidor indisponível"));
    clickCell(frm->dbgItensNf, 0);
    EXPECT_EQ(items(), QStringList({"N", "N", "N"}));
    expectRestored(*frm->cdsItensLanctoNF);
}

TEST_F(ItemTickTest, DeleteIsSwallowedInBothItemGrids)
{
    showItems({{"0000000001"}}, 1);
    int key = 46;
    frm->dbgItensNfKeyDown(key, Qt::ShiftModifier);
    EXPECT_EQ(key, 0);
    key = 46;
    frm->dbgItemEstKeyDown(key, Qt::ControlModifier);
    EXPECT_EQ(key, 0);
    key = 40; // other keys go on
    frm->dbgItemEstKeyDown(key, {});
    EXPECT_EQ(key, 40);
}

// --- the navigator follows the current item from the entry grid's keys -----------------

TEST_F(ItemTickTest, EntryGridKeysSetTheNavigatorFromTheCurrentItem)
{
    showItems({{"0000000001"}}, 2);
    fake.setDefault(kCancel, "VerReplic", oneEntryAnswer());
    clickCell(frm->dbgItensNf, 0);
    frm->cdsItensLanctoNF->moveTo(1);
    int key = 40;
    frm->dbgPadraoKeyDown(key, {});
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
    frm->cdsItensLanctoNF->moveTo(0);
    frm->dbgPadraoKeyDown(key, {});
    EXPECT_FALSE(frm->itemTickControl()->isEnabled());
    // The load command on the item page brings the server's items back
    // unticked (and zeroes the counters): the navigator follows them.
    fake.enqueue(
        kCancel, "GetItem",
        FakeTransport::payload(Variant::array({Variant(itemsPacket("0000000001", 2)), Variant(contasPacket(0))})));
    frm->sbtVerificarClick();
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_TRUE(frm->itemTickControl()->isEnabled());
}

} // namespace
