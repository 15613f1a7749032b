// The client side against the real application server on loopback, with the
// demo database: both ends of the wire format agree, and the host lookups run
// on the same SQLite file the server uses as host database.
#include <contracts/hostsql.h>
#include <contracts/servers.h>
#include <client/adoibquery.h>
#include <core/datapacket.h>
#include <core/errors.h>
#include <client/httptransport.h>
#include "doubles/scriptedhost.h"
#include <client/session.h>

#include <support/testsession.h>
#include <server/appserver.h>
#include <server/database.h>
#include <server/demodata.h>
#include <server/schema.h>

#include <QSqlDatabase>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using core::Variant;
namespace cn = contracts::cancelnota;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        dbFile = dir.filePath(QStringLiteral("host.db"));
        db = std::make_unique<server::Database>(server::DbConfig::parse("sqlite:" + dbFile));
        server::migrateSchema(*db);
        server::DemoOptions demo;
        demo.entries = 200;
        server::generateDemo(*db, demo);

        server::ServerOptions o;
        o.port = 0;
        o.threads = 8;
        o.log = false;
        srv = std::make_unique<server::AppServer>(*db, o);
        srv->bind();
        runner = std::thread([this] { srv->run(); });
        testsupport::logIn(*db, srv->port());

        for (core::TNetConnection* c : {&cancel, &situ}) {
            c->setTransport(&transport);
            c->BeforeConnect = [this](core::TNetConnection& n) {
                n.Host = QStringLiteral("127.0.0.1");
                n.Port = srv->port();
            };
        }
        cancel.ServerName = QString::fromLatin1(contracts::kRdmCancelNota);
        situ.ServerName = QString::fromLatin1(contracts::kRdmSituacao);
        cancel.Connect();
        situ.Connect();
    }

    void TearDown() override
    {
        if (srv) {
            srv->stop();
            runner.join();
        }
    }

    QTemporaryDir dir;
    QString dbFile;
    std::unique_ptr<server::Database> db;
    std::unique_ptr<server::AppServer> srv;
    std::thread runner;
    core::HttpTransport transport;
    core::TNetConnection cancel{QStringLiteral("netCancelExp")};
    core::TNetConnection situ{QStringLiteral("netSituacao")};
};

TEST_F(EndToEnd, DefaultLoadAndFilteredReloadReturnTheSameEntries)
{
    const core::Date today = core::Date::today();
    cn::LanctoNFArgs byValue{QStringLiteral("0001"),
                             Variant(today.days - 2),
                             Variant(today),
                             QString(),
                             QStringLiteral("T"),
                             QString(),
                             QStringLiteral("T"),
                             QString(),
                             QString(),
                             QStringLiteral("T"),
                             QStringLiteral("T")};
    const core::ServerResult first = cn::GetLanctoNF(cancel, byValue);
    ASSERT_TRUE(first.ok) << first.message.toStdString();
    const core::DataPacket& p = first.payload.packet();
    ASSERT_GT(p.rowCount(), 0) << "the demo data has entries in the default period";
    EXPECT_GE(p.fieldIndex(QStringLiteral("NRLANCTONF")), 0);

    cn::LanctoNFArgs byRef = byValue;
    byRef.dtInicial = Variant(core::Date{today.days - 2});
    const core::ServerResult second = cn::GetLanctoNFRef(cancel, byRef);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.payload.packet().rowCount(), p.rowCount());
    EXPECT_EQ(byRef.stFilial, Variant(QStringLiteral("0001"))) << "the by-reference values come back";

    // Items of the first entry: an array of two packets.
    const QString nr = p.value(0, QStringLiteral("NRLANCTONF")).toString();
    const core::ServerResult items = cn::GetItem(cancel, QStringLiteral("0001"), nr);
    ASSERT_TRUE(items.ok);
    ASSERT_EQ(items.payload.count(), 2);
    EXPECT_TRUE(items.payload[0].isPacket());
}

TEST_F(EndToEnd, RefusalsAndBadArgumentsArriveAsServerErrors)
{
    // A hostile picked list is refused by the server with a clear text.
    cn::LanctoNFArgs bad{QStringLiteral("0001"),
                         Variant(core::Date::today()),
                         Variant(core::Date::today()),
                         QStringLiteral("'1'); DROP TABLE FILIAL; --"),
                         QString(),
                         QString(),
                         QStringLiteral("T"),
                         QString(),
                         QString(),
                         QStringLiteral("T"),
                         QStringLiteral("T")};
    EXPECT_THROW(cn::GetLanctoNF(cancel, bad), core::ServerError);

    try {
        cancel.call(QStringLiteral("MetodoInexistente"), {"0001"});
        FAIL();
    } catch (const core::ServerError& e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    // The connection is still good afterwards.
    EXPECT_TRUE(cn::GetExp(cancel, QStringLiteral("0001")).ok);
}

TEST_F(EndToEnd, HostLookupsRunOnTheServersHostTables)
{
    const QString conn = QStringLiteral("net_e2e_host");
    {
        QSqlDatabase h = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn);
        h.setDatabaseName(dbFile);
        ASSERT_TRUE(h.open());
        core::TADOIBQuery filial(QStringLiteral("qryFilial"));
        contracts::sql::applyFilial(filial);
        filial.setConnectionName(conn);
        filial.ParamByName(QStringLiteral("P_CDFILIAL"), QStringLiteral("0001"));
        filial.Open();
        ASSERT_EQ(filial.recordCount(), 1);
        EXPECT_EQ(filial.fieldByName(QStringLiteral("NMFILIAL")).asString(), QStringLiteral("Matriz São Paulo"));

        core::TADOIBQuery insc(QStringLiteral("qryInscrEstad"));
        contracts::sql::applyInscrEstad(insc);
        insc.setConnectionName(conn);
        insc.ParamByName(QStringLiteral("P_CDEMPRESA"), filial.fieldByName(QStringLiteral("CDEMPRESA")).asString());
        insc.ParamByName(QStringLiteral("P_CDINSCESTA"), filial.fieldByName(QStringLiteral("CDINSCESTA")).asString());
        insc.Open();
        EXPECT_EQ(insc.recordCount(), 1);

        core::TADOIBQuery rota(QStringLiteral("qryRota"));
        contracts::sql::applyRota(rota);
        rota.setConnectionName(conn);
        rota.Open();
        EXPECT_FALSE(rota.IsEmpty());
    }
    QSqlDatabase::database(conn, false).close();
    QSqlDatabase::removeDatabase(conn);
}

} // namespace

TEST_F(EndToEnd, EndedSessionIsToldAndALoginAgainRepeatsTheCall)
{
    core::ScriptedHost host;
    host.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };
    EXPECT_EQ(core::Operador(), testsupport::kOperator); // Operador() is the logged-in operator

    // The server ends the session (logout elsewhere); the user declines to log in again.
    core::HttpTransport::shared().logout(QStringLiteral("127.0.0.1"), srv->port(), core::context().sessionToken);
    host.answer(core::MsgButton::No);
    EXPECT_THROW(cn::GetExp(cancel, QStringLiteral("0001")), core::SessionError);
    ASSERT_EQ(host.messageTexts().size(), 1);
    EXPECT_TRUE(host.messageTexts().first().contains(QStringLiteral("Sessão inválida ou expirada")));
    EXPECT_TRUE(host.messageTexts().first().contains(QStringLiteral("Deseja entrar novamente?")));

    // Yes, a wrong password, then the right one: the call is repeated and answers.
    host.clearShown();
    host.answer(core::MsgButton::Yes)
        .login(testsupport::kOperator, QStringLiteral("errada-errada"))
        .login(testsupport::kOperator, testsupport::kPassword);
    EXPECT_TRUE(cn::GetExp(cancel, QStringLiteral("0001")).ok);
    ASSERT_EQ(host.shown().size(), 3);
    EXPECT_EQ(host.shown().at(1).kind, QStringLiteral("login"));
    EXPECT_TRUE(host.shown().at(2).text.contains(QStringLiteral("inválidos")))
        << "the refusal is shown at the next try";

    // Three refused tries end the offer with the call refused.
    core::HttpTransport::shared().logout(QStringLiteral("127.0.0.1"), srv->port(), core::context().sessionToken);
    host.answer(core::MsgButton::Yes);
    for (int i = 0; i < 3; ++i)
        host.login(testsupport::kOperator, QStringLiteral("errada-errada"));
    EXPECT_THROW(cn::GetExp(cancel, QStringLiteral("0001")), core::SessionError);
    EXPECT_TRUE(host.messageTexts().last().contains(QStringLiteral("Tentativas esgotadas")));
}

TEST(Credentials, FileMustBeTheOwnersAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cred"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Operador=demo\nSenha=uma senha longa\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_THROW(core::readCredentialsFile(path), core::Error);
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const core::Credentials c = core::readCredentialsFile(path);
    EXPECT_EQ(c.operador, QStringLiteral("demo"));
    EXPECT_EQ(c.senha, QStringLiteral("uma senha longa"));
    EXPECT_THROW(core::readCredentialsFile(dir.filePath(QStringLiteral("nada"))), core::Error);
}
