// The in-process fake server that screen tests use, and the typed contract
// calls recorded through it.
#include <contracts/servers.h>
#include <core/datapacket.h>
#include <core/errors.h>
#include "doubles/fakeserver.h"
#include <client/httptransport.h>

#include <gtest/gtest.h>

using core::Arg;
using core::FakeTransport;
using core::Variant;
namespace cn = contracts::cancelnota;

namespace {

class FakeCallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cancel.ServerName = QString::fromLatin1(contracts::kRdmCancelNota);
        situ.ServerName = QString::fromLatin1(contracts::kRdmSituacao);
        for (core::TNetConnection* c : {&cancel, &situ}) {
            c->Host = QStringLiteral("srv");
            c->Port = 8211;
            c->Connect();
        }
    }

    core::FakeServerScope fake;
    core::TNetConnection cancel{QStringLiteral("netCancelExp")};
    core::TNetConnection situ{QStringLiteral("netSituacao")};
};

TEST_F(FakeCallTest, QueuedAnswersComeInOrderThenTheHandlerThenTheDefault)
{
    const QString srv = cancel.ServerName;
    fake.enqueue(srv, QStringLiteral("GetExp"), FakeTransport::payload(QStringLiteral("primeira")));
    fake.enqueue(srv, QStringLiteral("GetExp"), FakeTransport::failed(QStringLiteral("segunda falhou")));
    fake.enqueue(srv, QStringLiteral("GetExp"), FakeTransport::raised(QStringLiteral("NOTA_ALT")));
    fake.setDefault(srv, QStringLiteral("GetExp"), FakeTransport::payload(QStringLiteral("padrão")));

    EXPECT_EQ(cn::GetExp(cancel, QStringLiteral("0001")).payload, Variant(QStringLiteral("primeira")));
    const core::ServerResult second = cn::GetExp(cancel, QStringLiteral("0001"));
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.message, QStringLiteral("segunda falhou"));
    try {
        cn::GetExp(cancel, QStringLiteral("0001"));
        FAIL();
    } catch (const core::ServerError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("NOTA_ALT"));
    }
    EXPECT_EQ(fake.pendingAnswers(), 0);
    EXPECT_EQ(cn::GetExp(cancel, QStringLiteral("0001")).payload, Variant(QStringLiteral("padrão")));
    EXPECT_EQ(cn::GetExp(cancel, QStringLiteral("0001")).payload, Variant(QStringLiteral("padrão")));

    int seen = 0;
    fake.on(srv, QStringLiteral("GetExp"), [&](const core::CallRequest& r) {
        ++seen;
        return core::CallResponse{core::ServerResult::success(r.args.at(0)), {}};
    });
    EXPECT_EQ(cn::GetExp(cancel, QStringLiteral("0009")).payload, Variant(QStringLiteral("0009")));
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(fake.count(QStringLiteral("GetExp")), 6);
}

TEST_F(FakeCallTest, UnexpectedCallThrowsAndIsRecorded)
{
    try {
        cn::GetParExpedicao(cancel, QStringLiteral("0001"));
        FAIL();
    } catch (const core::ServerError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("unexpected call GetParExpedicao"));
    }
    ASSERT_EQ(fake.calls().size(), 1u);
    EXPECT_EQ(fake.calls()[0].request.server, cancel.ServerName);
    EXPECT_EQ(fake.calls()[0].host, QStringLiteral("srv"));
    EXPECT_EQ(fake.calls()[0].port, 8211);

    // An answer registered for one server does not answer the other.
    fake.setDefault(situ.ServerName, QStringLiteral("GetExp"), FakeTransport::payload(1));
    EXPECT_THROW(cn::GetExp(cancel, QStringLiteral("0001")), core::ServerError);
    // An empty server name answers on any server.
    fake.setDefault({}, QStringLiteral("GetExp"), FakeTransport::payload(2));
    EXPECT_EQ(cn::GetExp(cancel, QStringLiteral("0001")).payload, Variant(2));
}

TEST_F(FakeCallTest, RefusedConnectLeavesTheConnectionClosed)
{
    core::TNetConnection net{QStringLiteral("netCancelExp")};
    net.ServerName = cancel.ServerName;
    net.BeforeConnect = [](core::TNetConnection& c) {
        c.Host = QStringLiteral("10.0.0.9");
        c.Port = 9000;
    };
    fake.refuseConnect(true);
    try {
        net.Connect();
        FAIL();
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("10.0.0.9:9000"))) << e.what();
    }
    EXPECT_FALSE(net.Connected());
    EXPECT_EQ(fake.connects().back().host, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(fake.connects().back().request.server, cancel.ServerName);
    EXPECT_THROW(cn::GetExp(net, QStringLiteral("0001")), core::ConnectionError);
    EXPECT_EQ(fake.count(QStringLiteral("GetExp")), 0) << "nothing travels on a closed connection";

    fake.refuseConnect(false);
    net.Connect();
    EXPECT_TRUE(net.Connected());
}

TEST_F(FakeCallTest, GetLanctoNFByValueAndByReference)
{
    const QString srv = cancel.ServerName;
    fake.setDefault(srv, QStringLiteral("GetLanctoNF"), FakeTransport::payload(Variant()));

    // The default load: first day as a plain day count, the rest by value.
    cn::LanctoNFArgs byValue{QStringLiteral("0001"),
                             Variant(45998.0),
                             Variant(core::Date{46000}),
                             QString(),
                             QStringLiteral("T"),
                             QString(),
                             QStringLiteral("T"),
                             QString(),
                             QString(),
                             QStringLiteral("T"),
                             QStringLiteral("T")};
    cn::GetLanctoNF(cancel, byValue);
    core::CallRequest r = fake.callsTo(QStringLiteral("GetLanctoNF")).back().request;
    ASSERT_EQ(r.args.size(), 11u);
    EXPECT_EQ(r.args[1].type(), Variant::Type::Double);
    EXPECT_EQ(r.args[2].type(), Variant::Type::Date);
    EXPECT_EQ(r.args[10], Variant(QStringLiteral("T")));
    EXPECT_EQ(r.byRef, std::vector<bool>(11, false));

    // The filtered reload: all eleven by reference; the server's values come back.
    fake.enqueue(
        srv, QStringLiteral("GetLanctoNF"),
        FakeTransport::payload(QStringLiteral("pacote"),
                               {{0, Variant(QStringLiteral("0002"))}, {10, Variant(QStringLiteral("GRADE 7"))}}));
    cn::LanctoNFArgs f = byValue;
    f.dtInicial = Variant(core::Date{45990});
    f.stRotas = QStringLiteral("'000001','000002'");
    EXPECT_EQ(cn::GetLanctoNFRef(cancel, f).payload, Variant(QStringLiteral("pacote")));
    r = fake.callsTo(QStringLiteral("GetLanctoNF")).back().request;
    EXPECT_EQ(r.byRef, std::vector<bool>(11, true));
    EXPECT_EQ(r.args[0], Variant(QStringLiteral("0001"))) << "the value sent is the one before the call";
    EXPECT_EQ(r.args[3], Variant(QStringLiteral("'000001','000002'")));
    EXPECT_EQ(f.stFilial, Variant(QStringLiteral("0002")));
    EXPECT_EQ(f.stGrade, Variant(QStringLiteral("GRADE 7")));
    EXPECT_EQ(f.dtInicial, Variant(core::Date{45990})) << "values the server leaves alone stay";
}

TEST_F(FakeCallTest, EveryWrapperSendsItsArgumentsInTheServersOrder)
{
    for (const char* m : {"GetItem", "GetItLanctoEst", "GetReplicAprov", "VerReplic", "GetVdCancela", "CancelaNota",
                          "CancelaItemNf", "GetParExpedicao", "GetExp", "GetGradePesq", "GetSituacao", "GetAtual_Situ"})
        fake.setDefault({}, QString::fromLatin1(m), FakeTransport::payload(Variant()));

    const Variant lista =
        Variant(core::DataPacket({core::FieldDef{QStringLiteral("IDCHECK"), core::FieldType::String, 1, true}}));
    const core::Date d{46001};
    cn::GetItem(cancel, "0001", "0000000042");
    cn::GetItLanctoEst(cancel, "0001", "0000000077");
    cn::GetReplicAprov(cancel, "0001", "0000000042");
    cn::VerReplic(cancel, lista, "0001", "0000000042");
    cn::GetVdCancela(cancel, lista, "0001");
    cn::CancelaNota(cancel, "0001", lista, "0003", "OPER", "T");
    cn::CancelaItemNf(cancel, "0001", lista, "0000000042", "0000000012", "0000000077", d, "0004", "OPER");
    cn::GetParExpedicao(cancel, "0003");
    cn::GetExp(cancel, "0001");
    cn::GetGradePesq(cancel, "0001", core::Date{45990}, d);
    contracts::situacao::GetSituacao(situ, "1", "SER", "CHAVE", "SP", "01", "35", "1", "IE");
    Variant novo = QStringLiteral("X");
    fake.enqueue({}, QStringLiteral("GetAtual_Situ"),
                 FakeTransport::payload(Variant(), {{4, Variant(QStringLiteral("A"))}}));
    contracts::situacao::GetAtual_Situ(situ, "OPER", "0001", "0000000042", "R", novo, "1", "SER", "CHAVE", "SP", "35",
                                       "1", "01", "IE");

    auto args = [&](const char* m) { return fake.callsTo(QString::fromLatin1(m)).back().request.args; };
    auto S = [](const char* s) { return Variant(QString::fromUtf8(s)); };
    EXPECT_EQ(args("GetItem"), (std::vector<Variant>{S("0001"), S("0000000042")}));
    EXPECT_EQ(args("GetItLanctoEst"), (std::vector<Variant>{S("0001"), S("0000000077")}));
    EXPECT_EQ(args("VerReplic"), (std::vector<Variant>{lista, S("0001"), S("0000000042")}));
    EXPECT_EQ(args("GetVdCancela"), (std::vector<Variant>{lista, S("0001")}));
    EXPECT_EQ(args("CancelaNota"), (std::vector<Variant>{S("0001"), lista, S("0003"), S("OPER"), S("T")}));
    EXPECT_EQ(args("CancelaItemNf"),
              (std::vector<Variant>{S("0001"), lista, S("0000000042"), S("0000000012"), S("0000000077"), Variant(d),
                                    S("0004"), S("OPER")}));
    EXPECT_EQ(args("GetParExpedicao"), (std::vector<Variant>{S("0003")}));
    EXPECT_EQ(args("GetGradePesq"), (std::vector<Variant>{S("0001"), Variant(core::Date{45990}), Variant(d)}));
    EXPECT_EQ(args("GetSituacao"),
              (std::vector<Variant>{S("1"), S("SER"), S("CHAVE"), S("SP"), S("01"), S("35"), S("1"), S("IE")}));
    const core::CallRequest situReq = fake.callsTo(QStringLiteral("GetAtual_Situ")).back().request;
    ASSERT_EQ(situReq.args.size(), 13u);
    EXPECT_EQ(situReq.args[4], S("X"));
    EXPECT_EQ(situReq.args[12], S("IE"));
    std::vector<bool> refs(13, false);
    refs[4] = true;
    EXPECT_EQ(situReq.byRef, refs);
    EXPECT_EQ(novo, S("A"));
    EXPECT_EQ(fake.calls().front().request.server, cancel.ServerName);
    EXPECT_EQ(fake.callsTo(QStringLiteral("GetSituacao")).back().request.server, situ.ServerName);
}

TEST_F(FakeCallTest, WrapperRefusesAConnectionOfAnotherServer)
{
    EXPECT_THROW(cn::GetExp(situ, QStringLiteral("0001")), core::Error);
    EXPECT_TRUE(fake.calls().empty());
}

TEST(FakeInstall, ScopeRestoresThePreviousTransport)
{
    core::Transport* before = &core::defaultTransport();
    {
        core::FakeServerScope outer;
        EXPECT_EQ(&core::defaultTransport(), &outer);
        {
            FakeTransport inner;
            core::TransportInstall install(inner);
            EXPECT_EQ(&core::defaultTransport(), &inner);
        }
        EXPECT_EQ(&core::defaultTransport(), &outer);
    }
    EXPECT_EQ(&core::defaultTransport(), before);
    EXPECT_EQ(before, &core::HttpTransport::shared());
}

} // namespace
