// Branch panel and control enabling of the entry query screen.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <client/hostapi.h>

#include <QApplication>
#include <QDialog>
#include <QTabBar>
#include <QTimer>
#include <QSqlQuery>

using namespace core;
using namespace testing_module;
using cli_exp01800::inItensMarcados;
using cli_exp01800::inNotasMarcadas;

namespace {

/// Enabled state of every control Habilita decides, as one line a test
/// compares whole: panel, procurar, verificar, filtro, cancelNota, then the
/// three pages; '1' enabled, '0' disabled.
QString controls(const TfrmConLancto* f)
{
    auto b = [](bool on) { return on ? QChar('1') : QChar('0'); };
    auto own = [](const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); };
    QString s;
    s += b(own(f->medFilial) && own(f->btpPesqFilial));
    s += b(own(f->sbtProcurar));
    s += b(own(f->sbtVerificar));
    s += b(own(f->sbtFiltro));
    s += b(own(f->sbtCancelNota));
    s += ' ';
    s += b(f->tshFolhaDados->pageEnabled());
    s += b(f->tshFormulario->pageEnabled());
    s += b(f->tshItemEst->pageEnabled());
    return s;
}

/// The same line read from the menu entries that follow those controls
/// (the panel has no menu twin: its place shows '-').
QString menus(const TfrmConLancto* f)
{
    auto b = [](const QAction* a) { return a->isEnabled() ? QChar('1') : QChar('0'); };
    QString s("-");
    s += b(f->mnuProcurar);
    s += b(f->mnuVerificar);
    s += b(f->mnuFiltrar);
    s += b(f->mnuCancelaNota);
    s += ' ';
    s += b(f->mnuFolhaDados);
    s += b(f->mnuFormulario);
    s += b(f->mnuRetiEst);
    return s;
}

QString branchName(const QString& connection, const QString& code)
{
    QSqlQuery q(QSqlDatabase::database(connection));
    q.prepare("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?");
    q.addBindValue(code);
    if (!q.exec() || !q.next())
        return QString();
    return q.value(0).toString();
}

class PanelTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        frm = open();
        ASSERT_NE(frm, nullptr);
    }
    void loadEntries(const std::vector<Entry>& entries) { frm->cdsLanctoNF->loadFromPacket(lanctoPacket(entries)); }
    /// Ticks are made in the grids, so the focus has left the branch panel
    /// (and its exit handling has run) before any counter changes.
    void focusTheGrid()
    {
        frm->dbgPadrao->setFocus();
        settle();
        ASSERT_FALSE(frm->panFiltro->isAncestorOf(QApplication::focusWidget()));
    }

    TfrmConLancto* frm = nullptr;
};

// --- branch validation ---------------------------------------------------------

TEST_F(PanelTest, ValidatingAdjustsTheCodeToFourDigitsAndShowsTheName)
{
    const QString name = branchName(hostDbConnection, "0001");
    ASSERT_FALSE(name.isEmpty());
    frm->medFilial->setText("1");
    frm->Vd_CDFilial();
    EXPECT_EQ(frm->medFilial->text(), "0001");
    EXPECT_EQ(frm->edtFilial->text(), name);
    EXPECT_TRUE(host.messageTexts().isEmpty());
}

TEST_F(PanelTest, EmptyBranchIsRefusedWithItsMessageAndTheFocusBackInTheEdit)
{
    frm->sbtVerificar->setFocus();
    frm->medFilial->setText("   ");
    EXPECT_THROW(frm->Vd_CDFilial(), Abort);
    EXPECT_EQ(host.messageTexts(), QStringList{"Filial deve ser informada."});
    EXPECT_EQ(frm->medFilial->text(), "");
    EXPECT_EQ(frm->window()->focusWidget(), frm->medFilial);
}

TEST_F(PanelTest, UnknownBranchIsRefusedAndItsNameStaysEmpty)
{
    frm->medFilial->setText("9999");
    EXPECT_THROW(frm->Vd_CDFilial(), Abort);
    EXPECT_EQ(host.messageTexts(), QStringList{"Filial não cadastrada."});
    EXPECT_EQ(frm->medFilial->text(), "9999");
    EXPECT_EQ(frm->edtFilial->text(), "");
    EXPECT_EQ(frm->window()->focusWidget(), frm->medFilial);
}

TEST_F(PanelTest, LeavingWithAnInvalidBranchLoadsNothingAndLeavesTheControlsAsEntering)
{
    frm->panFiltroEnter();
    frm->medFilial->setText("");
    EXPECT_FALSE(dispatch([this] { frm->panFiltroExit(); }));
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
    EXPECT_FALSE(frm->cdsLanctoNF->active());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_FALSE(frm->mnuFiltrar->isEnabled());
    EXPECT_EQ(host.messageTexts(), QStringList{"Filial deve ser informada."});
}

TEST_F(PanelTest, ChangingTheCodeClearsTheNameAtOnce)
{
    frm->medFilial->setText("1");
    frm->Vd_CDFilial();
    ASSERT_FALSE(frm->edtFilial->text().isEmpty());
    frm->medFilial->setText("0002");
    EXPECT_EQ(frm->edtFilial->text(), "");
}

TEST_F(PanelTest, LookupListsEveryBranchAndFillsCodeAndName)
{
    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    host.pickRow(1);
    ASSERT_TRUE(frm->btpPesqFilial->Pesquisa());
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    ASSERT_GE(frm->qryFilial->recordCount(), 2); // no branch filter: every one
    const QString code = frm->qryFilial->fieldByName("CDFILIAL").asString();
    EXPECT_EQ(frm->medFilial->text(), code);
    EXPECT_EQ(frm->edtFilial->text(), branchName(hostDbConnection, code));
    ASSERT_EQ(host.shown().size(), 1);
    EXPECT_EQ(host.shown().at(0).title, "Filial");
}

// --- entering and leaving the panel --------------------------------------------------

TEST_F(PanelTest, LeavingTheBranchPanelLoadsTheBranchWithTheRememberedFilter)
{
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({{"0000000001"}, {"0000000002"}})));
    frm->medFilial->setText("1");
    frm->panFiltroExit();
    ASSERT_EQ(fake.count("GetLanctoNF"), 1);
    EXPECT_EQ(fake.callsTo("GetLanctoNF").at(0).arg(0), Variant("0001"));
    EXPECT_EQ(frm->cdsLanctoNF->recordCount(), 2);
    EXPECT_TRUE(frm->boFiltroAplicado);
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    EXPECT_EQ(controls(frm), "11110 111");
}

TEST_F(PanelTest, EnteringThePanelClosesEveryListAndReturnsToTheEntryPage)
{
    loadEntries({{"0000000001"}});
    frm->cdsItensLanctoNF->loadFromPacket(itemsPacket("0000000001", 2));
    frm->cdsItLanctoEst->loadFromPacket(stockPacket(1));
    frm->Habilita();
    frm->pgcPadrao->setActivePage(frm->tshItemEst);

    frm->panFiltroEnter();
    EXPECT_FALSE(frm->cdsLanctoNF->active());
    EXPECT_FALSE(frm->cdsItensLanctoNF->active());
    EXPECT_FALSE(frm->cdsItLanctoEst->active());
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    // Closing the list re-derived the enabling: nothing to search, filter or cancel.
    EXPECT_EQ(controls(frm), "10000 100");
    EXPECT_EQ(menus(frm), "-0000 100");
}

// --- the enabling table ---------------------------------------------------------------

TEST_F(PanelTest, EnablingWithAClosedList)
{
    frm->cdsLanctoNF->close();
    frm->Habilita();
    EXPECT_EQ(controls(frm), "10000 100");
    EXPECT_EQ(menus(frm), "-0000 100");
}

TEST_F(PanelTest, EnablingAfterAnEmptyLoadOffersOnlyTheFilter)
{
    loadEntries({});
    frm->Habilita();
    EXPECT_EQ(controls(frm), "10010 100");
    EXPECT_EQ(menus(frm), "-0010 100");
}

TEST_F(PanelTest, EnablingWithEntriesAndNothingTicked)
{
    loadEntries({{"0000000001"}, {"0000000002"}});
    frm->Habilita();
    EXPECT_EQ(controls(frm), "11110 111");
    EXPECT_EQ(menus(frm), "-1110 111");
}

TEST_F(PanelTest, EnablingWithOneEntryTickedOffersOnlyCancelling)
{
    focusTheGrid();
    loadEntries({{"0000000001"}, {"0000000002"}});
    inNotasMarcadas = 1;
    frm->Habilita();
    EXPECT_EQ(controls(frm), "00001 100");
    EXPECT_EQ(menus(frm), "-0001 100");
}

TEST_F(PanelTest, EnablingWithOneItemTickedLocksTheEntryAndStockPages)
{
    focusTheGrid();
    loadEntries({{"0000000001"}});
    inItensMarcados = 1;
    frm->Habilita();
    EXPECT_EQ(controls(frm), "00001 010");
    EXPECT_EQ(menus(frm), "-0001 010");
}

TEST_F(PanelTest, EnablingFollowsTheCountersBackWhenTheTicksGo)
{
    focusTheGrid();
    loadEntries({{"0000000001"}});
    inNotasMarcadas = 2;
    inItensMarcados = 3;
    frm->Habilita();
    EXPECT_EQ(controls(frm), "00001 000");
    inNotasMarcadas = 0;
    inItensMarcados = 0;
    frm->Habilita();
    EXPECT_EQ(controls(frm), "11110 111");
}

TEST_F(PanelTest, StateChangesOfTheEntryListRunTheEnabling)
{
    loadEntries({{"0000000001"}}); // opening runs it
    EXPECT_EQ(controls(frm), "11110 111");
    frm->cdsLanctoNF->close(); // so does closing
    EXPECT_EQ(controls(frm), "10000 100");
}

TEST_F(PanelTest, PrintMenuEntryFollowsThePrintButton)
{
    frm->sbtImprimir->setEnabled(false);
    frm->Habilita();
    EXPECT_FALSE(frm->mnuListagem->isEnabled());
    frm->sbtImprimir->setEnabled(true);
    frm->Habilita();
    EXPECT_TRUE(frm->mnuListagem->isEnabled());
}

TEST_F(PanelTest, TheFilterCommandIsOfferedOnlyWithAnOpenListAndNothingTicked)
{
    // Ctrl+L reaches the same command as the tool button.
    EXPECT_EQ(frm->mnuFiltrar->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    frm->Habilita();
    EXPECT_FALSE(frm->mnuFiltrar->isEnabled());
    loadEntries({});
    frm->Habilita();
    EXPECT_TRUE(frm->mnuFiltrar->isEnabled());
    inItensMarcados = 1;
    frm->Habilita();
    EXPECT_FALSE(frm->mnuFiltrar->isEnabled());
}

// --- the filter command ----------------------------------------------------------------

TEST_F(PanelTest, TheFilterCommandShowsTheDialogOverTheEntryPageAndThenRederivesTheEnabling)
{
    focusTheGrid();
    loadEntries({{"0000000001"}});
    frm->pgcPadrao->tabBar()->setFocus(); // the user clicked the item tab
    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    frm->sbtCancelNota->setEnabled(true); // stale: nothing is ticked

    QWidget* shown = nullptr;
    host::TabSheet* pageBehind = nullptr;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            shown = w;
            pageBehind = frm->pgcPadrao->activePage();
            static_cast<QDialog*>(w)->reject(); // the user cancels
        }
    });
    closer.start();
    frm->mnuFiltrar->trigger(); // Ctrl+L
    closer.stop();

    ASSERT_NE(frmFiltroCanc, nullptr);
    EXPECT_EQ(shown, frmFiltroCanc);
    EXPECT_EQ(pageBehind, frm->tshFolhaDados);
    EXPECT_FALSE(frm->sbtCancelNota->isEnabled());
    EXPECT_EQ(controls(frm), "11110 111");
}

} // namespace
