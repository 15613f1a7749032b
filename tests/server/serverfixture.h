#pragma once
// A fresh database per test (an SQLite file, or a PostgreSQL schema of its own
// when EXP_TEST_PG is set) with helpers to put rows in and call methods.

#include <server/appserver.h>
#include <server/cancelnota.h>
#include <server/database.h>
#include <server/quantity.h>
#include <server/registry.h>
#include <server/schema.h>
#include <server/situacao.h>

#include <core/datapacket.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include <ostream>

// Readable QString values in gtest messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
namespace server {
inline void PrintTo(const Quantity& q, std::ostream* os)
{
    *os << q.toString().toStdString();
}
} // namespace server

namespace servertest {

using core::Variant;

inline std::unique_ptr<server::Database> openTestDatabase(const std::string& backend, QTemporaryDir& dir,
                                                          QString& schemaOut)
{
    if (backend == "sqlite")
        return std::make_unique<server::Database>(server::DbConfig::parse("sqlite:" + dir.filePath("test.db")));
    static std::atomic<int> counter{0};
    schemaOut = QString("t_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter++);
    return std::make_unique<server::Database>(
        server::DbConfig::parse("postgres:" + qEnvironmentVariable("EXP_TEST_PG") + " schema=" + schemaOut));
}

/// The JSON body of one call.
inline std::string callBody(const QString& server, const QString& method, const core::VariantArray& args)
{
    QJsonArray a;
    for (const Variant& v : args)
        a << core::codec::variantToJson(v);
    return QJsonDocument(QJsonObject{{"server", server}, {"method", method}, {"args", a}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

/// The server on a free loopback port, served by its own thread for the
/// object's life (no log); stopping waits for running calls.
class Served {
public:
    Served(server::Database& db, server::ServerOptions o, std::shared_ptr<server::SefazPort> port = nullptr)
    {
        o.port = 0;
        o.log = false;
        srv = std::make_unique<server::AppServer>(db, o, std::move(port));
        srv->bind();
        runner = std::thread([this] { srv->run(); });
    }
    ~Served() { stop(); }
    void stop()
    {
        if (runner.joinable()) {
            srv->stop();
            runner.join();
        }
    }
    int port() const { return srv->port(); }
    server::AppServer* operator->() { return srv.get(); }

    std::unique_ptr<server::AppServer> srv;
    std::thread runner;
};

class ServerDb : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        if (GetParam() == "postgres" && qEnvironmentVariable("EXP_TEST_PG").isEmpty())
            GTEST_SKIP() << "EXP_TEST_PG not set";
        ASSERT_TRUE(dir.isValid());
        db = openTestDatabase(GetParam(), dir, schema);
        server::migrateSchema(*db);
        server::registerCancelNota(reg);
        server::registerSituacao(reg, std::make_shared<server::StoredAnswerSimulator>());
    }
    void TearDown() override
    {
        if (db && !schema.isEmpty()) {
            QSqlDatabase c = db->connection();
            QSqlQuery q(c);
            q.exec("SET search_path TO public");
            q.exec(QString("DROP SCHEMA %1 CASCADE").arg(schema));
        }
        db.reset();
    }

    void sql(const QString& text, const QVariantList& binds = {})
    {
        QSqlDatabase c = db->connection();
        QSqlQuery q = server::prepare(c, text);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        server::exec(q);
    }
    QVariant scalar(const QString& text, const QVariantList& binds = {})
    {
        QSqlDatabase c = db->connection();
        QSqlQuery q = server::prepare(c, text);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        server::exec(q);
        return q.next() ? q.value(0) : QVariant();
    }

    static constexpr qint64 kDay = 46000;

    void addEntry(const QString& br, const QString& nr, const QString& status = "P", const QString& nfe = "",
                  qint64 day = kDay, const QString& ship = "0000000001", const QString& route = "R00001",
                  const QString& grade = QString(), const QString& key = QString())
    {
        sql("INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTENTRSAID, NREXPEDICAO, NRLANCESTQ, NMRAZSOCCLIE, NRNOTAFISC, "
            "DTEMISSAO, IDSTATUS, IDSTATUSNFE, CDFILIEMIT, NRACESSONFE, CDEMPRESA, CDROTATRANS, NRGRADEPED) "
            "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
            {br, nr, day, ship, stockNr(nr), "Cliente " + nr, nr.right(6), day, status,
             nfe.isEmpty() ? QVariant() : nfe, br, key.isEmpty() ? QVariant() : key, "01", route,
             grade.isEmpty() ? QVariant() : grade});
    }
    static QString stockNr(const QString& nr) { return "9" + nr.mid(1); }
    void addItem(const QString& br, const QString& nr, const QString& seq, const QString& prod, double qty)
    {
        sql("INSERT INTO ITLANCTONF (CDFILIAL, NRLANCTONF, NRSEQITPROD, CDPRODUTO, NMPRODUTO, QTITEMPROD, VRUNITITEM) "
            "VALUES (?,?,?,?,?,?,?)",
            {br, nr, seq, prod, "Produto " + prod, q(qty), 10.0});
        sql("INSERT INTO ITLANCTOEST (CDFILIAL, NRLANCESTQ, NRSEQUITEM, NRSEQITPROD, CDPRODUTO, QTLANCTOEST, DTLANCMOVI, "
            "CDFILIMOVI, CDPRODMOVI) VALUES (?,?,?,?,?,?,?,?,?)",
            {br, stockNr(nr), seq, seq, prod, q(qty), kDay, br, prod});
    }
    void addReplica(const QString& br, const QString& nr, const QString& dest, const QString& destNr,
                    const QString& status)
    {
        sql("INSERT INTO DOCREPLIC (CDFILIAL, NRLANCTONF, CDFILIALREPLIC, NRLANCTONFDEST, CDSERIE, IDENTRSAIDOP, DESCOPER, "
            "TIPO, IDSTATUS) VALUES (?,?,?,?,?,?,?,?,?)",
            {br, nr, dest, destNr, "1", "E", "Transferência", "Entrada", status});
    }
    void addAccount(const QString& br, const QString& nr, bool paid = false, bool map = false)
    {
        sql("INSERT INTO CONTAGERADA (CDFILIAL, NRLANCTONF, NRLANCTOPAG, IDQUITADA, IDMAPAAPURADO) VALUES (?,?,?,?,?)",
            {br, nr, nr, paid ? "S" : "N", map ? "S" : "N"});
    }
    void setStock(const QString& br, const QString& prod, double qty)
    {
        sql("DELETE FROM SALDOESTQ WHERE CDFILIAL = ? AND CDPRODUTO = ?", {br, prod});
        sql("INSERT INTO SALDOESTQ (CDFILIAL, CDPRODUTO, QTSALDO) VALUES (?,?,?)", {br, prod, q(qty)});
    }
    /// A quantity as the schema stores it.
    QVariant q(double qty) { return server::qtyBind(*db, server::Quantity::fromDouble(qty)); }
    /// The stored balance, exactly.
    server::Quantity exactStock(const QString& br, const QString& prod)
    {
        const QVariant v = scalar(QString("SELECT %1 FROM SALDOESTQ WHERE CDFILIAL = ? AND CDPRODUTO = ?")
                                      .arg(server::qtyUnitsSql(*db, "QTSALDO")),
                                  {br, prod});
        return server::Quantity::fromUnits(v.toLongLong());
    }
    double stock(const QString& br, const QString& prod) { return exactStock(br, prod).toDouble(); }
    QString status(const QString& br, const QString& nr)
    {
        return scalar("SELECT IDSTATUS FROM LANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ?", {br, nr}).toString();
    }
    qint64 count(const QString& text, const QVariantList& binds = {}) { return scalar(text, binds).toLongLong(); }

    Variant call(const QString& server, const QString& method, core::VariantArray args, QList<bool> byRef = {})
    {
        server::CallRequest r{server, method, std::move(args), std::move(byRef)};
        last = reg.call(*db, r);
        return last.payload;
    }
    Variant cancel(const QString& method, core::VariantArray args)
    {
        return call(server::kCancelNotaServer, method, std::move(args));
    }
    /// The message of the error a call raises; empty when it raised none.
    QString raised(const QString& method, core::VariantArray args, const QString& server = server::kCancelNotaServer)
    {
        try {
            call(server, method, std::move(args));
        } catch (const core::Error& e) {
            return e.message();
        }
        return QString();
    }

    core::DataPacket listEntries(const QString& br, qint64 from = kDay - 5, qint64 to = kDay + 5)
    {
        return cancel("GetLanctoNF",
                      {br, core::Date{double(from)}, core::Date{double(to)}, "", "T", "", "T", "", "", "T", "T"})
            .packet();
    }
    static core::DataPacket tick(core::DataPacket p, const QStringList& numbers)
    {
        const int c = p.fieldIndex("IDCHECK"), n = p.fieldIndex("NRLANCTONF");
        for (auto& row : p.rows())
            if (numbers.contains(row[size_t(n)].toString()))
                row[size_t(c)] = Variant("S");
        return p;
    }
    static QStringList column(const core::DataPacket& p, const QString& field)
    {
        QStringList out;
        const int i = p.fieldIndex(field);
        for (const auto& row : p.rows())
            out << (row[size_t(i)].isNull() ? QString() : row[size_t(i)].toString());
        return out;
    }

    QTemporaryDir dir;
    QString schema;
    std::unique_ptr<server::Database> db;
    server::Registry reg;
    server::CallResult last;
};

inline std::string backendName(const ::testing::TestParamInfo<std::string>& i)
{
    return i.param;
}

#define SERVER_BACKENDS(Suite)                                                                                         \
    INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::Values("sqlite", "postgres"), servertest::backendName)

} // namespace servertest
