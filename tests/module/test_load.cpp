// Loading entries, items and stock items; search and print.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <client/hostapi.h>
#include <client/httptransport.h>
#include <host/widgethost.h>

#include <qpa/qwindowsysteminterface.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace core;
using namespace testing_module;
using cli_exp01800::boContaComissao;
using cli_exp01800::inItensMarcados;
using cli_exp01800::inNotasMarcadas;

namespace {

DataPacket lackingField(const DataPacket& p, const QString& field)
{
    QList<FieldDef> defs = p.fields();
    const int drop = p.fieldIndex(field);
    defs.removeAt(drop);
    DataPacket out(defs);
    for (PacketRow row : p.rows()) {
        row.erase(row.begin() + drop);
        out.appendRow(row);
    }
    return out;
}

Variant itemAnswer(const QString& nr, int items, int contas)
{
    return Variant::array({Variant(itemsPacket(nr, items)), Variant(contasPacket(contas))});
}

/// An application server that answers a list call with its first bytes and
/// then nothing more: the call can end only by the client's hand. It keeps
/// the request and sees the client close the connection.
class StalledServer {
public:
    StalledServer()
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                request += s->readAll();
                if (answering || !request.contains("GetLanctoNF"))
                    return;
                const QByteArray part = R"({"payload":{"packet":{"fields":[)";
                s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
                         + QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n");
                answering = true;
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, [this] { closedByClient = true; });
            sockets_.push_back(s);
        });
    }
    int port() const { return server_.serverPort(); }
    /// Gives up on the client (a test that went wrong ends instead of hanging).
    void drop()
    {
        for (QTcpSocket* s : sockets_)
            s->abort();
    }
    QByteArray request;
    bool answering = false;
    bool closedByClient = false;

private:
    QTcpServer server_;
    QList<QTcpSocket*> sockets_;
};

/// The real progress animation over the scripted host: every box and
/// dialog stays scripted.
class RealAnimation : public HostServices {
public:
    explicit RealAnimation(ScriptedHost& scripted) : scripted_(scripted) { setHost(this); }
    ~RealAnimation() override { setHost(&scripted_); }
    MsgButton message(MsgKind k, const QString& t, const QList<MsgButton>& b) override
    {
        return scripted_.message(k, t, b);
    }
    bool pickRow(ClientDataset& ds, const QString& t, const QString& e) override { return scripted_.pickRow(ds, t, e); }
    bool pickRows(ClientDataset& ds, const QString& k, const QString& t, QString& r) override
    {
        return scripted_.pickRows(ds, k, t, r);
    }
    void find(ClientDataset& ds) override { scripted_.find(ds); }
    void runModal(QObject& f) override { scripted_.runModal(f); }
    void startAnimation(QObject* o, int kind, const QString& caption) override
    {
        widgets_.startAnimation(o, kind, caption);
    }
    void stopAnimation(QObject* o) override { widgets_.stopAnimation(o); }
    void pushBusyCursor() override { scripted_.pushBusyCursor(); }
    void popBusyCursor() override { scripted_.popBusyCursor(); }
    void freezePainting(QWidget* w) override { scripted_.freezePainting(w); }
    void unfreezePainting(QWidget* w) override { scripted_.unfreezePainting(w); }

private:
    ScriptedHost& scripted_;
    host::WidgetHost widgets_;
};

/// A left click as the window system delivers it: queued, and taken by the
/// event loop only when that loop takes input.
void windowSystemClick(QWidget* w, QPoint at)
{
    QWidget* top = w->window();
    const QPointF local = w->mapTo(top, at), global = w->mapToGlobal(at);
    QWindowSystemInterface::handleMouseEvent(top->windowHandle(), local, global, Qt::LeftButton, Qt::LeftButton,
                                             QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent(top->windowHandle(), local, global, Qt::NoButton, Qt::LeftButton,
                                             QEvent::MouseButtonRelease);
}

class LoadTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        frm = open();
        ASSERT_NE(frm, nullptr);
        // The user works in the grids: the focus has left the branch panel
        // (whose exit handling loads the list once) before anything else.
        frm->dbgPadrao->setFocus();
        settle();
        ASSERT_FALSE(frm->panFiltro->isAncestorOf(QApplication::focusWidget()));
        fake.reset();
        host.clearShown();
        animStarts0 = host.animationStarts();
        boContaComissao = false;
    }
    int animationStarts() const { return host.animationStarts() - animStarts0; }

    /// Three entries loaded through the load command on the entry page.
    void loadThree()
    {
        fake.enqueue(
            kCancel, "GetLanctoNF",
            FakeTransport::payload(lanctoPacket({{"0000000001", "P", "R", "N", -2, "0001", "0000000007", "E1"},
                                                 {"0000000002", "P", "R", "N", -1, "0001", "0000000007", "E2"},
                                                 {"0000000003", "P", "R", "N", 0, "0001", "0000000007", "E3"}})));
        frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
        frm->sbtVerificarClick();
        fake.reset();
        host.clearShown();
        animStarts0 = host.animationStarts();
    }

    /// Switches pages as the user does: a click on the page's tab, the
    /// focus on the tab bar (so it does not wander while the old page hides).
    void showPage(host::TabSheet* page)
    {
        QTabBar* bar = frm->pgcPadrao->tabBar();
        bar->setFocus();
        const int i = frm->pgcPadrao->indexOf(page);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        settle();
        ASSERT_EQ(frm->pgcPadrao->activePage(), page);
    }

    TfrmConLancto* frm = nullptr;
    int animStarts0 = 0;
};

// --- the entry list ------------------------------------------------------------------

TEST_F(LoadTest, BeforeAnyFilterTheReloadAsksForTheLastTwoDaysByValue)
{
    frm->boFiltroAplicado = false; // as on a screen the filter has not loaded yet
    frm->medFilial->setText("0001");
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({})));
    frm->sbtVerificarClick();

    ASSERT_EQ(fake.count("GetLanctoNF"), 1);
    const auto call = fake.callsTo("GetLanctoNF").at(0);
    const qint64 today = Date::today().wholeDays();
    ASSERT_EQ(call.request.args.size(), 11u);
    EXPECT_EQ(call.arg(0), Variant("0001"));
    // The first day travels as a plain number, the last as a date.
    EXPECT_EQ(call.arg(1).type(), Variant::Type::Double);
    EXPECT_EQ(call.arg(1).toDouble(), double(today - 2));
    EXPECT_EQ(call.arg(2).type(), Variant::Type::Date);
    EXPECT_EQ(call.arg(2).toDate().wholeDays(), today);
    EXPECT_EQ(call.arg(2).toDate().days, double(today)); // no time of day
    const QStringList rest = {"", "T", "", "T", "", "", "T", "T"};
    for (int i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(call.arg(3 + i).type(), Variant::Type::String) << "argument " << 4 + i;
        EXPECT_EQ(call.arg(3 + i).toString(), rest[i]) << "argument " << 4 + i;
    }
    for (bool byRef : call.request.byRef)
        EXPECT_FALSE(byRef);
    EXPECT_TRUE(frm->cdsLanctoNF->active());
}

TEST_F(LoadTest, AfterTheFilterTheReloadRepeatsItsStoredQueryByReference)
{
    CriaFiltroCancela(QString()); // only makes sure the dialog exists
    ASSERT_NE(frmFiltroCanc, nullptr);
    TfrmFiltroCanc& f = *frmFiltroCanc;
    const contracts::cancelnota::LanctoNFArgs stored{.stFilial = "0003",
                                                     .dtInicial = Variant(Date{46000}),
                                                     .dtFinal = Variant(Date{46010}),
                                                     .stRotas = "'01','02'",
                                                     .stTodasRotas = "N",
                                                     .stExpedicoes = "",
                                                     .stTodasExpedicoes = "T",
                                                     .stExpDe = "0000000010",
                                                     .stExpAte = "0000000020",
                                                     .stSemIntervalo = "N",
                                                     .stGrade = "0000000005"};
    f.consulta = stored;
    frm->boFiltroAplicado = true;
    frm->medFilial->setText("0001"); // the stored branch wins
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({})));

    frm->sbtVerificarClick();
    ASSERT_EQ(fake.count("GetLanctoNF"), 1);
    const auto call = fake.callsTo("GetLanctoNF").at(0);
    EXPECT_EQ(lanctoNFArgsOf(call.request.args), stored);
    EXPECT_EQ(call.request.byRef, std::vector<bool>(11, true));
}

TEST_F(LoadTest, TheReloadClearsTheTickCountersAndRederivesTheEnabling)
{
    loadThree();
    inNotasMarcadas = 2;
    frm->Habilita();
    ASSERT_TRUE(frm->sbtCancelNota->isEnabled());
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({{"0000000009"}})));
    frm->sbtVerificarClick();
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_FALSE(frm->sbtCancelNota->isEnabled());
    EXPECT_TRUE(frm->sbtFiltro->isEnabled());
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), QStringList{"0000000009"});
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_GE(animationStarts(), 1);
}

TEST_F(LoadTest, AFailedReloadKeepsTheRowsTheCountersAndTheEnabling)
{
    loadThree();
    inNotasMarcadas = 1;
    frm->Habilita();
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::failed("Banco de dados indisponível."));

    EXPECT_FALSE(dispatch([this] { frm->sbtVerificarClick(); }));
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), (QStringList{"0000000001", "0000000002", "0000000003"}));
    EXPECT_EQ(inNotasMarcadas, 1);
    EXPECT_TRUE(frm->sbtCancelNota->isEnabled());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_EQ(host.messageTexts(), QStringList{"Banco de dados indisponível."});
}

TEST_F(LoadTest, AMalformedOrRaisedAnswerKeepsTheRowsToo)
{
    loadThree();
    fake.enqueue(kCancel, "GetLanctoNF",
                 FakeTransport::payload(lackingField(lanctoPacket({{"0000000008"}}), "NRLANCTONF")));
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::raised("erro interno"));
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(Variant("não é um pacote")));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(dispatch([this] { frm->sbtVerificarClick(); }));
        EXPECT_EQ(frm->cdsLanctoNF->recordCount(), 3);
        EXPECT_EQ(host.animationDepth(), 0);
    }
    EXPECT_EQ(host.messageTexts().size(), 3);
}

// A load that does not end: the operator clicks "Interromper" on the
// animation while everything else ignores input (a click on a check cell
// meanwhile is lost). The connection is closed, no box is shown, the status
// line says so, and the list, its ticks, the counter and the current row
// are as they were. With EXP_DOC_SHOTS set to a folder it writes the guide's
// picture of the animation with its button there (carga-interromper.png).
TEST_F(LoadTest, InterruptingALoadClosesTheConnectionAndKeepsTheListAsItWas)
{
    loadThree();
    ASSERT_EQ(tickRows(*frm->cdsLanctoNF, "NRLANCTONF", {"0000000002"}), 1);
    inNotasMarcadas = 1;
    frm->cdsLanctoNF->moveTo(2);
    const QStringList ticks = columnValues(*frm->cdsLanctoNF, "IDCHECK");
    frm->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm->window()));

    StalledServer stalled;
    RealAnimation animation(host);
    frm->netCancelExp->Host = "127.0.0.1";
    frm->netCancelExp->Port = stalled.port();
    frm->netCancelExp->setTransport(&HttpTransport::shared());
    bool clicked = false;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        auto* stop = frm->window()->findChild<QPushButton*>("btnInterromper");
        if (clicked || !stalled.answering || !stop)
            return;
        // With EXP_DOC_SHOTS set to a folder, the operator's guide's picture.
        if (const QString shots = qEnvironmentVariable("EXP_DOC_SHOTS"); !shots.isEmpty())
            frm->window()->grab().save(QDir(shots).filePath("carga-interromper.png"));
        const QModelIndex cell = frm->dbgPadrao->model()->index(0, 0);
        windowSystemClick(frm->dbgPadrao->viewport(), frm->dbgPadrao->visualRect(cell).center());
        windowSystemClick(stop, stop->rect().center());
        clicked = true;
    });
    operatorHand.start(20);
    QTimer::singleShot(8000, [&] { stalled.drop(); });

    QTest::mouseClick(frm->sbtVerificar, Qt::LeftButton);
    frm->netCancelExp->setTransport(nullptr);

    EXPECT_TRUE(clicked);
    EXPECT_TRUE(stalled.request.contains("GetLanctoNF"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stalled.closedByClient; }, 3000)) << "the connection was left open";
    EXPECT_TRUE(host.messageTexts().isEmpty()) << host.messageTexts().join(" | ").toStdString();
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), (QStringList{"0000000001", "0000000002", "0000000003"}));
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), ticks);
    EXPECT_EQ(inNotasMarcadas, 1);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 2);
    EXPECT_EQ(frm->window()->findChild<QPushButton*>("btnInterromper"), nullptr);
    EXPECT_TRUE(frm->lblContagem->text().endsWith("Carga interrompida.")) << frm->lblContagem->text().toStdString();
}

// --- items and stock items follow the current entry ---------------------------------

TEST_F(LoadTest, OnTheEntryPageMovingMakesNoCall)
{
    loadThree();
    frm->cdsLanctoNF->next();
    frm->cdsLanctoNF->last();
    frm->cdsLanctoNF->first();
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(animationStarts(), 0);
}

TEST_F(LoadTest, ShowingTheItemPageLoadsTheCurrentEntrysItemsAndAccounts)
{
    loadThree();
    frm->cdsLanctoNF->moveTo(1);
    fake.enqueue(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000002", 3, 1)));
    showPage(frm->tshFormulario);

    ASSERT_EQ(fake.count("GetItem"), 1);
    const auto call = fake.callsTo("GetItem").at(0);
    EXPECT_EQ(call.arg(0), Variant("0001"));
    EXPECT_EQ(call.arg(1), Variant("0000000002"));
    EXPECT_EQ(frm->cdsItensLanctoNF->recordCount(), 3);
    EXPECT_EQ(frm->cdsContaGerada->recordCount(), 1);
    EXPECT_TRUE(boContaComissao);
    EXPECT_FALSE(frm->mnuRetiEst->isChecked());
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_EQ(animationStarts(), 1);
}

TEST_F(LoadTest, OnTheItemPageEachMoveMakesExactlyOneCallForTheNewEntry)
{
    loadThree();
    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("x", 1, 0)));
    showPage(frm->tshFormulario);
    fake.reset();
    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("x", 1, 0)));

    frm->cdsLanctoNF->next();
    ASSERT_EQ(fake.count("GetItem"), 1);
    EXPECT_EQ(fake.callsTo("GetItem").at(0).arg(1), Variant("0000000002"));
    frm->cdsLanctoNF->next();
    ASSERT_EQ(fake.count("GetItem"), 2);
    EXPECT_EQ(fake.callsTo("GetItem").at(1).arg(1), Variant("0000000003"));
    EXPECT_EQ(fake.calls().size(), 2u);
    EXPECT_FALSE(boContaComissao);
}

TEST_F(LoadTest, TheCommissionFlagFollowsTheGeneratedAccounts)
{
    loadThree();
    fake.enqueue(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000001", 2, 2)));
    fake.enqueue(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000002", 2, 0)));
    showPage(frm->tshFormulario);
    EXPECT_TRUE(boContaComissao);
    frm->cdsLanctoNF->next();
    EXPECT_FALSE(boContaComissao);
    EXPECT_TRUE(frm->cdsContaGerada->active());
}

TEST_F(LoadTest, AFailedItemLoadNeverLeavesAnotherEntrysItemsAndAReloadKeepsItsOwn)
{
    loadThree();
    fake.enqueue(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000001", 2, 1)));
    showPage(frm->tshFormulario);
    inItensMarcados = 1;

    // A refused second packet on the move to the next entry: the first
    // entry's items and accounts must not stay under the new current entry
    // (an item cancellation would send them with its keys), nor may the
    // new items sit beside the old accounts. Both are closed, and the ticks
    // went with them.
    fake.enqueue(kCancel, "GetItem",
                 FakeTransport::payload(Variant::array(
                     {Variant(itemsPacket("0000000002", 5)), Variant(lackingField(contasPacket(1), "NRLANCTOPAG"))})));
    EXPECT_FALSE(dispatch([this] { frm->cdsLanctoNF->next(); }));
    EXPECT_EQ(frm->cdsLanctoNF->fieldByName("NRLANCTONF").asString(), "0000000002");
    EXPECT_FALSE(frm->cdsItensLanctoNF->active());
    EXPECT_FALSE(frm->cdsContaGerada->active());
    EXPECT_FALSE(boContaComissao);
    EXPECT_EQ(inItensMarcados, 0);

    // A failed reload of the entry whose items are shown keeps them.
    fake.enqueue(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000002", 2, 1)));
    frm->sbtVerificarClick();
    inItensMarcados = 1;
    fake.enqueue(kCancel, "GetItem", FakeTransport::failed("sem conexão"));
    EXPECT_FALSE(dispatch([this] { frm->sbtVerificarClick(); }));
    EXPECT_EQ(columnValues(*frm->cdsItensLanctoNF, "NRLANCTONF"), (QStringList{"0000000002", "0000000002"}));
    EXPECT_EQ(frm->cdsContaGerada->recordCount(), 1);
    EXPECT_TRUE(boContaComissao);
    EXPECT_EQ(inItensMarcados, 1);
    EXPECT_EQ(host.animationDepth(), 0);
}

TEST_F(LoadTest, TheLoadCommandOnTheItemPageReloadsItemsOnlyAndClearsTheTicks)
{
    loadThree();
    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000001", 2, 0)));
    showPage(frm->tshFormulario);
    fake.reset();
    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000001", 4, 0)));
    inItensMarcados = 2;
    frm->Habilita();

    frm->sbtVerificarClick();
    EXPECT_EQ(fake.count("GetItem"), 1);
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
    EXPECT_EQ(frm->cdsItensLanctoNF->recordCount(), 4);
    EXPECT_EQ(frm->cdsLanctoNF->recordCount(), 3);
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_TRUE(frm->tshFolhaDados->pageEnabled());
    EXPECT_TRUE(frm->panFiltro->findChild<QWidget*>("medFilial")->isEnabled());
}

TEST_F(LoadTest, TheStockPageLoadsByTheStockEntryNumberAndChecksItsMenuEntry)
{
    loadThree();
    frm->cdsLanctoNF->moveTo(2);
    fake.enqueue(kCancel, "GetItLanctoEst", FakeTransport::payload(stockPacket(4)));
    showPage(frm->tshItemEst);

    ASSERT_EQ(fake.count("GetItLanctoEst"), 1);
    EXPECT_EQ(fake.callsTo("GetItLanctoEst").at(0).arg(0), Variant("0001"));
    EXPECT_EQ(fake.callsTo("GetItLanctoEst").at(0).arg(1), Variant("E3"));
    EXPECT_EQ(fake.count("GetItem"), 0);
    EXPECT_EQ(frm->cdsItLanctoEst->recordCount(), 4);
    EXPECT_TRUE(frm->mnuRetiEst->isChecked());

    showPage(frm->tshFolhaDados);
    EXPECT_FALSE(frm->mnuRetiEst->isChecked());
    EXPECT_EQ(fake.calls().size(), 1u);
}

TEST_F(LoadTest, TheStockMenuEntrySwitchesToItsPageAndLoads)
{
    loadThree();
    fake.enqueue(kCancel, "GetItLanctoEst", FakeTransport::payload(stockPacket(1)));
    ASSERT_EQ(QApplication::focusWidget(), frm->dbgPadrao);
    frm->mnuRetiEst->trigger();
    settle();
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshItemEst);
    EXPECT_TRUE(frm->cdsLanctoNF->active()); // the focus did not wander into the branch panel
    EXPECT_FALSE(frm->panFiltro->isAncestorOf(QApplication::focusWidget()));
    EXPECT_TRUE(frm->mnuRetiEst->isChecked());
    EXPECT_EQ(fake.count("GetItLanctoEst"), 1);
}

TEST_F(LoadTest, LoadingTheItemPageDoesNotTouchTheEntryList)
{
    loadThree();
    frm->cdsLanctoNF->moveTo(1);
    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("0000000002", 1, 0)));
    showPage(frm->tshFormulario);
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 1);
    EXPECT_EQ(frm->cdsLanctoNF->recordCount(), 3);
}

// --- search and print -----------------------------------------------------------------

TEST_F(LoadTest, SearchOpensTheFindDialogOnTheActivePagesList)
{
    frm->cdsLanctoNF->close();
    frm->sbtProcurarClick(); // closed entry list: no dialog
    EXPECT_TRUE(host.shown().isEmpty());

    loadThree();
    host.findRow(2);
    frm->sbtProcurarClick();
    ASSERT_EQ(host.shown().size(), 1);
    EXPECT_EQ(host.shown().at(0).title, "cdsLanctoNF");
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 2);

    fake.setDefault(kCancel, "GetItem", FakeTransport::payload(itemAnswer("x", 2, 0)));
    showPage(frm->tshFormulario);
    host.findRow(1);
    frm->sbtProcurarClick();
    EXPECT_EQ(host.shown().last().title, "cdsItensLanctoNF");

    fake.setDefault(kCancel, "GetItLanctoEst", FakeTransport::payload(stockPacket(0)));
    showPage(frm->tshItemEst);
    host.findRow(-1);
    frm->sbtProcurarClick(); // empty list: the find dialog still opens
    EXPECT_EQ(host.shown().last().title, "cdsItLanctoEst");
}

TEST_F(LoadTest, PrintOpensThePrintModuleWithM)
{
    QStringList opened;
    auto saved = context().loadModule;
    context().loadModule = [&](const QString& code, const Variant& p) { opened << code + ":" + p.toString(); };
    frm->sbtImprimirClick();
    loadThree();
    fake.setDefault(kCancel, "GetItLanctoEst", FakeTransport::payload(stockPacket(0)));
    showPage(frm->tshItemEst);
    frm->sbtImprimirClick();
    context().loadModule = saved;
    EXPECT_EQ(opened, (QStringList{"EXP03600:M", "EXP03600:M"}));
}

} // namespace
