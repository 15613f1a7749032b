// The module's entries and the screen's lifecycle: one instance, reopening,
// connections set up from the host's context, failures at creation.

#include "screenfixture.h"

#include <module/exp01800.h>

#include <client/hostapi.h>

#include <QMdiSubWindow>

using namespace core;
using namespace testing_module;

class Lifecycle : public ScreenFixture { };

TEST_F(Lifecycle, TwoEntryCallsMakeOneInstanceAndTheSecondRestoresIt)
{
    TfrmConLancto* first = open();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(boIdCriado);

    first->frameWindow()->showMinimized();
    criaConsultaLancto();
    settle();
    EXPECT_EQ(frmConLancto, first);
    EXPECT_FALSE(first->frameWindow()->isMinimized());
    // Only one creation: each connection connected once.
    EXPECT_EQ(fake.connects().size(), 2u);
    EXPECT_EQ(host.busyDepth(), 0);
}

TEST_F(Lifecycle, CreationConnectsBothServersWithTheHostAddress)
{
    context().webUrl = "10.1.2.3";
    context().webPort = 9123;
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    const auto c = fake.connects();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].request.server, kCancel);
    EXPECT_EQ(c[1].request.server, kSituacao);
    for (const auto& r : c) {
        EXPECT_EQ(r.host, "10.1.2.3");
        EXPECT_EQ(r.port, 9123);
    }
    EXPECT_TRUE(f->netCancelExp->Connected());
    EXPECT_TRUE(f->netSituacao->Connected());
    EXPECT_TRUE(f->cdsErroReplic->active());
    EXPECT_TRUE(f->cdsErroReplic->isEmpty());
    EXPECT_FALSE(f->cdsLanctoNF->active());
}

TEST_F(Lifecycle, FirstActivationWithoutBoundBranchLoadsNothing)
{
    context().moduFili = false;
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(boPrimVez);
    EXPECT_EQ(f->medFilial->text(), "0001");
    EXPECT_EQ(f->edtFilial->text(), "Matriz");
    EXPECT_TRUE(f->medFilial->isEnabled());
    EXPECT_TRUE(f->btpPesqFilial->isEnabled());
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
    EXPECT_TRUE(f->cdsLanctoNF->isEmpty());
    EXPECT_EQ(cli_exp01800::inNotasMarcadas, 0);
    EXPECT_EQ(cli_exp01800::inItensMarcados, 0);
    // Product codes take the host's picture.
    EXPECT_EQ(f->cdsItensLanctoNF->fieldByName("CDARVPROD").editMask(), DBPict(0));
    EXPECT_EQ(f->cdsItLanctoEst->fieldByName("PRODMOVI").editMask(), DBPict(0));
}

TEST_F(Lifecycle, ReactivationDoesNotReloadNorChangeTheBranch)
{
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    f->medFilial->setText("0002");
    const int connects = int(fake.connects().size());
    f->activate();
    settle();
    EXPECT_EQ(f->medFilial->text(), "0002");
    EXPECT_EQ(int(fake.connects().size()), connects);
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
}

TEST_F(Lifecycle, CloseAndReopenMakesANewInstanceThatStartsOver)
{
    TfrmConLancto* first = open();
    ASSERT_NE(first, nullptr);
    QPointer<TfrmConLancto> watch(first);
    first->boFiltroAplicado = true;

    closeScreen();
    EXPECT_TRUE(watch.isNull()) << "a closed screen is released";
    EXPECT_EQ(frmConLancto, nullptr);
    EXPECT_FALSE(boIdCriado);
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);

    TfrmConLancto* second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->boFiltroAplicado);
    EXPECT_FALSE(boPrimVez) << "the first activation ran again";
    EXPECT_EQ(second->medFilial->text(), "0001");
    EXPECT_EQ(fake.connects().size(), 4u);
}

TEST_F(Lifecycle, ClosingDisconnectsBothServers)
{
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    QPointer<core::TNetConnection> a(f->netCancelExp), b(f->netSituacao);
    bool sawDisconnected = false;
    QObject::connect(f, &host::TfrmPadrao::formClosed,
                     [&] { sawDisconnected = a && b && !a->Connected() && !b->Connected(); });
    closeScreen();
    EXPECT_TRUE(sawDisconnected);
}

TEST_F(Lifecycle, AServerThatDoesNotAnswerLeavesEverythingForTheNextTry)
{
    fake.refuseConnect(true, "Servidor de aplicação não respondeu em 127.0.0.1:8211");
    EXPECT_THROW(IniProc(), core::ConnectionError);
    settle();
    EXPECT_EQ(frmConLancto, nullptr);
    EXPECT_FALSE(boIdCriado);
    EXPECT_EQ(host.busyDepth(), 0) << "the hourglass is always removed";

    fake.refuseConnect(false);
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(boIdCriado);
}

TEST_F(Lifecycle, TheHostShowsWhyCreationFailed)
{
    fake.refuseConnect(true, "Servidor de aplicação não respondeu");
    EXPECT_FALSE(dispatch([] { IniProc(); }));
    ASSERT_EQ(host.shown().size(), 1);
    EXPECT_EQ(host.shown().at(0).msgKind, MsgKind::Error);
    EXPECT_TRUE(host.shown().at(0).text.contains("não respondeu"));
    EXPECT_EQ(frmConLancto, nullptr);
}

TEST_F(Lifecycle, BoundToTheBranchTheFirstActivationLoadsItsEntries)
{
    context().moduFili = true;
    fake.setDefault(kCancel, "GetLanctoNF",
                    FakeTransport::payload(lanctoPacket({{"0000000001"}, {"0000000002", "A", "A"}})));
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fake.count("GetLanctoNF"), 1);
    EXPECT_EQ(fake.callsTo("GetLanctoNF").at(0).arg(0).toString(), "0001");
    EXPECT_EQ(f->cdsLanctoNF->recordCount(), 2);
    EXPECT_EQ(f->edtFilial->text(), "Matriz São Paulo") << "the name comes from the branch table";
    // The load ends with the enabling, which turns the panel on again while nothing is ticked.
    EXPECT_TRUE(f->medFilial->isEnabled());
    EXPECT_TRUE(f->sbtFiltro->isEnabled());
    EXPECT_EQ(f->pgcPadrao->activePage(), f->tshFolhaDados);
    EXPECT_FALSE(boPrimVez);
}

TEST_F(Lifecycle, AFailedFirstLoadRepeatsTheFirstActivationNextTime)
{
    context().moduFili = true;
    fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::failed("Banco de dados indisponível"));
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(boPrimVez) << "the first activation did not finish";
    EXPECT_TRUE(host.messageTexts().join('\n').contains("Banco de dados indisponível"));

    fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({{"0000000007"}})));
    f->activate();
    settle();
    EXPECT_FALSE(boPrimVez);
    EXPECT_EQ(f->cdsLanctoNF->recordCount(), 1);
}

class LifecycleEndToEnd : public ScreenFixture { };

TEST_F(LifecycleEndToEnd, TheScreenOpensAgainstTheRealServerAndLoadsTheBranch)
{
    RealServerScope server(dir.filePath("host.db"));
    context().moduFili = true;
    TfrmConLancto* f = open();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->netCancelExp->Connected());
    EXPECT_TRUE(f->netSituacao->Connected());
    EXPECT_TRUE(f->cdsLanctoNF->active());
    EXPECT_FALSE(f->cdsLanctoNF->isEmpty()) << "the demo data has entries of branch 0001 in the default period";
    for (int i = 0; i < f->cdsLanctoNF->recordCount(); ++i)
        EXPECT_EQ(f->cdsLanctoNF->rawValue(i, f->cdsLanctoNF->fieldByName("CDFILIAL").index()).toString(), "0001");
    EXPECT_TRUE(f->boFiltroAplicado);
    closeScreen();
    EXPECT_EQ(frmConLancto, nullptr);
}
