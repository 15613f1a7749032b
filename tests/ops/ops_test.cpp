// The operations side of a site, each part against the real thing: the
// desktops' lookup role on the throw-away PostgreSQL and the demo's
// separate lookup file; /metrics before and after calls; the call log in a
// file rotated by the shipped logrotate snippet; the bulk import of
// operators with first passwords that must be changed.
#include "../server/serverfixture.h"

#include <contracts/hostsql.h>
#include <client/adoibquery.h>
#include <screens/filter/filtrocancdefs.h>
#include <screens/query/conlanctodefs.h>

#include <server/demodata.h>
#include <server/lookupdb.h>
#include <server/operators.h>

#include <support/rawsocket.h>
#include <support/scalerig.h>
#include <support/testsession.h>

#include <httplib.h>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QStandardPaths>

#include <sys/stat.h>

#include <chrono>
#include <map>
#include <thread>

namespace {

using servertest::callBody;
const QString kCancel = QStringLiteral("Exp01800.rdmCancelNota");

/// Runs exp_appserver with `args` to its end; exit code and everything it printed.
std::pair<int, QString> runServer(const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(EXP_APPSERVER_BIN, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

/// The screen's three lookups, declared and worded as the screens do, run on
/// the host connection `conn`: rows of each (branches, the first branch's
/// state registration, routes).
std::map<QString, int> runLookups(const QString& conn)
{
    const QString saved = core::TDtmDBGeral::connectionName();
    core::TDtmDBGeral::setConnectionName(conn);
    std::map<QString, int> rows;
    core::TADOIBQuery filial("qryFilial");
    conlancto::declareFilial(filial);
    contracts::sql::applyFilial(filial);
    filial.ParamByName("P_CDFILIAL", core::Variant());
    filial.Open();
    rows["filial"] = filial.recordCount();
    core::TADOIBQuery inscr("qryInscrEstad");
    conlancto::declareInscrEstad(inscr);
    contracts::sql::applyInscrEstad(inscr);
    filial.first();
    inscr.ParamByName("P_CDEMPRESA", filial.fieldByName("CDEMPRESA").asString());
    inscr.ParamByName("P_CDINSCESTA", filial.fieldByName("CDINSCESTA").asString());
    inscr.Open();
    rows["inscrestad"] = inscr.recordCount();
    core::TADOIBQuery rota("qryRota");
    contracts::sql::applyRota(rota);
    filtrocanc::declareRota(rota);
    rota.Open();
    rows["rota"] = rota.recordCount();
    core::TDtmDBGeral::setConnectionName(saved);
    return rows;
}

QString pgValue(const QString& conninfo, const QString& key)
{
    for (const QString& part : conninfo.split(' ', Qt::SkipEmptyParts))
        if (part.section('=', 0, 0) == key)
            return part.section('=', 1);
    return {};
}

// --- 1. the desktops' lookup role --------------------------------------------

TEST(LookupRole, OnPostgresTheRoleLoadsTheLookupsAndReadsNothingOfTheServer)
{
    const QString pg = qEnvironmentVariable("EXP_TEST_PG");
    if (pg.isEmpty())
        GTEST_SKIP() << "EXP_TEST_PG not set";
    const QString psql = QStandardPaths::findExecutable("psql", {"/usr/lib/postgresql/15/bin", "/usr/bin"});
    ASSERT_FALSE(psql.isEmpty());
    const QString schema = QString("lk_%1").arg(QCoreApplication::applicationPid());
    const QString role = QString("exp_consulta_%1").arg(QCoreApplication::applicationPid());
    server::Database db(server::DbConfig::parse("postgres:" + pg + " schema=" + schema));
    server::migrateSchema(db);
    server::DemoOptions demo;
    demo.entries = 30;
    server::generateDemo(db, demo);
    testsupport::ensureOperator(db);

    // The shipped script, as the administrator runs it (twice: it can be run again).
    for (int i = 0; i < 2; ++i) {
        QProcess p;
        p.start(psql, {"-X", "-q",
                       "-v", "ON_ERROR_STOP=1",
                       "-v", "role=" + role,
                       "-v", "password=consulta-123",
                       "-v", "schema=" + schema,
                       "-h", pgValue(pg, "host"),
                       "-p", pgValue(pg, "port"),
                       "-U", pgValue(pg, "user"),
                       "-d", pgValue(pg, "dbname"),
                       "-f", QString(EXP_SOURCE_DIR) + "/deploy/postgres/lookup-role.sql"});
        ASSERT_TRUE(p.waitForFinished(30000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }

    const QString conn = "ops_lookup_role";
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QPSQL", conn);
        c.setHostName(pgValue(pg, "host"));
        c.setPort(pgValue(pg, "port").toInt());
        c.setDatabaseName(pgValue(pg, "dbname"));
        c.setUserName(role);
        c.setPassword("consulta-123");
        ASSERT_TRUE(c.open()) << c.lastError().text().toStdString();
        const auto rows = runLookups(conn);
        EXPECT_GT(rows.at("filial"), 1);
        EXPECT_EQ(rows.at("inscrestad"), 1);
        EXPECT_GT(rows.at("rota"), 0);

        // Every other table of the server's schema is refused, reading and writing.
        QSqlDatabase admin = db.connection();
        QSqlQuery t(admin);
        ASSERT_TRUE(t.exec(QString("SELECT upper(tablename) FROM pg_tables WHERE schemaname = '%1'").arg(schema)));
        QStringList others;
        while (t.next())
            if (!server::lookupTables().contains(t.value(0).toString()))
                others << t.value(0).toString();
        for (const char* must : {"LANCTONF", "ITLANCTONF", "SALDOESTQ", "OPERADOR", "SESSAO", "AUDITCANC"})
            EXPECT_TRUE(others.contains(must)) << must;
        for (const QString& table : others) {
            QSqlQuery q(c);
            EXPECT_FALSE(q.exec("SELECT COUNT(*) FROM " + table)) << table.toStdString();
            EXPECT_TRUE(q.lastError().text().contains("permission denied")) << q.lastError().text().toStdString();
        }
        QSqlQuery w(c);
        EXPECT_FALSE(w.exec("UPDATE FILIAL SET NMFILIAL = 'x'"));
        EXPECT_FALSE(w.exec("CREATE TABLE INTRUSO (X INTEGER)"));
        c.close();
    }
    QSqlDatabase::removeDatabase(conn);
    QSqlDatabase admin = db.connection();
    QSqlQuery q(admin);
    q.exec("SET search_path TO public");
    q.exec(QString("DROP SCHEMA %1 CASCADE").arg(schema));
    q.exec(QString("DROP OWNED BY %1").arg(role));
    q.exec(QString("DROP ROLE %1").arg(role));
}

TEST(LookupRole, TheSqliteDemoGivesTheDesktopsAFileWithTheLookupTablesOnly)
{
    QTemporaryDir dir;
    const QString lookup = dir.filePath("consulta.db");
    const auto made =
        runServer({"demo", "--db", "sqlite:" + dir.filePath("demo.db"), "--entries", "30", "--lookup-db", lookup});
    ASSERT_EQ(made.first, 0) << made.second.toStdString();
    const QString conn = "ops_lookup_sqlite";
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", conn);
        c.setDatabaseName(lookup);
        c.setConnectOptions("QSQLITE_OPEN_READONLY");
        ASSERT_TRUE(c.open());
        QStringList tables;
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
        while (q.next())
            tables << q.value(0).toString();
        QStringList expected = server::lookupTables();
        expected.sort();
        EXPECT_EQ(tables, expected);
        const auto rows = runLookups(conn);
        EXPECT_GT(rows.at("filial"), 1);
        EXPECT_EQ(rows.at("inscrestad"), 1);
        EXPECT_GT(rows.at("rota"), 0);
        c.close();
    }
    QSqlDatabase::removeDatabase(conn);
    EXPECT_FALSE(QFile::exists(lookup + "-wal"));
}

// --- 3. metrics -----------------------------------------------------------------

/// Values of a scrape by series ("name{labels}"), parsed from the text format.
std::map<std::string, double> parseScrape(const std::string& text)
{
    std::map<std::string, double> out;
    for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('#'))
            continue;
        const qsizetype sp = line.lastIndexOf(' ');
        out[line.left(sp).toStdString()] = line.mid(sp + 1).toDouble();
    }
    return out;
}

TEST(Metrics, CountersMoveWithCallsAndOnlyAllowedAddressesRead)
{
    QTemporaryDir dir;
    server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("m.db")));
    server::migrateSchema(db);
    server::DemoOptions demo;
    demo.entries = 200;
    server::generateDemo(db, demo);
    server::ServerOptions o;
    o.dbConnections = 3;
    o.metricsAllow = {"127.0.0.3"};
    servertest::Served srv(db, o);
    const QString token = testsupport::tokenFor(db, srv.port());
    httplib::Client c("127.0.0.1", srv.port());
    auto scrape = [&] {
        auto r = c.Get("/metrics");
        EXPECT_TRUE(r && r->status == 200);
        EXPECT_TRUE(r && r->get_header_value("Content-Type").starts_with("text/plain; version=0.0.4"));
        return parseScrape(r ? r->body : std::string());
    };
    const auto before = scrape();
    const QString list = "exp_appserver_calls_total{method=\"Exp01800.rdmCancelNota.GetLanctoNF\",outcome=\"ok\"}";
    const QString item = "exp_appserver_calls_total{method=\"Exp01800.rdmCancelNota.GetItem\",outcome=\"ok\"}";

    const qint64 today = QDate(1899, 12, 30).daysTo(QDate::currentDate());
    const std::string listBody = callBody(
        kCancel, "GetLanctoNF",
        {"0001", core::Date{double(today - 10)}, core::Date{double(today)}, "", "T", "", "T", "", "", "T", "T"});
    auto l = c.Post("/call", testsupport::bearer(token), listBody, "application/json");
    ASSERT_TRUE(l && l->status == 200);
    const int rows =
        int(QJsonDocument::fromJson(QByteArray::fromStdString(l->body))["payload"]["packet"]["rows"].toArray().size());
    ASSERT_GT(rows, 0);
    for (int i = 0; i < 3; ++i) {
        auto r = c.Post("/call", testsupport::bearer(token), callBody(kCancel, "GetItem", {"0001", "0000000001"}),
                        "application/json");
        ASSERT_TRUE(r && r->status == 200);
    }
    auto unknown = c.Post("/call", testsupport::bearer(token), callBody(kCancel, "Nada", {}), "application/json");
    ASSERT_TRUE(unknown && unknown->status == 404);
    auto bad = c.Post("/login", R"({"operador":"TESTE","senha":"errada-errada"})", "application/json");
    ASSERT_TRUE(bad && bad->status == 401);

    // The worker that sent the last answer marks itself free just after its
    // last byte went out: give the gauges a moment to come back to rest.
    auto after = scrape();
    for (int i = 0; i < 100
         && (after["exp_appserver_db_workers_busy"] != 0 || after["exp_appserver_request_bytes_in_flight"] != 0);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        after = scrape();
    }
    auto delta = [&](const QString& series) {
        const std::string k = series.toStdString();
        const auto b = before.find(k);
        return after[k] - (b == before.end() ? 0.0 : b->second);
    };
    EXPECT_EQ(delta(list), 1);
    EXPECT_EQ(delta(item), 3);
    EXPECT_EQ(delta("exp_appserver_calls_total{method=\"outro\",outcome=\"not_found\"}"), 1);
    EXPECT_EQ(delta("exp_appserver_failed_logins_total"), 1);
    EXPECT_EQ(delta("exp_appserver_list_rows_sent_total"), rows);
    EXPECT_EQ(delta("exp_appserver_call_duration_seconds_count{method=\"Exp01800.rdmCancelNota.GetItem\"}"), 3);
    EXPECT_EQ(
        after["exp_appserver_call_duration_seconds_bucket{method=\"Exp01800.rdmCancelNota.GetItem\",le=\"+Inf\"}"],
        after["exp_appserver_call_duration_seconds_count{method=\"Exp01800.rdmCancelNota.GetItem\"}"]);
    EXPECT_EQ(after["exp_appserver_db_workers"], 3);
    EXPECT_EQ(after["exp_appserver_db_workers_busy"], 0);
    EXPECT_EQ(after["exp_appserver_db_calls_waiting"], 0);
    EXPECT_EQ(after["exp_appserver_sessions_live"], 1);
    EXPECT_EQ(after["exp_appserver_request_bytes_in_flight"], 0);

    // Another address gets 403 unless --metrics-allow names it.
    auto statusFrom = [&](const char* source) {
        testsupport::RawSocket s(srv.port(), source);
        EXPECT_TRUE(s.connected());
        s.send("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        return QString::fromStdString(s.readAll(std::chrono::seconds(5))).section(' ', 1, 1).toInt();
    };
    EXPECT_EQ(statusFrom("127.0.0.2"), 403);
    EXPECT_EQ(statusFrom("127.0.0.3"), 200);
}

// --- 4. the call log in a rotated file -------------------------------------------

TEST(CallLog, OneKeyValueLinePerCallInAFileThatLogrotateAndSighupRotate)
{
    const QString logrotate = QStandardPaths::findExecutable("logrotate", {"/usr/sbin", "/sbin", "/usr/bin"});
    if (logrotate.isEmpty())
        GTEST_SKIP() << "logrotate missing (scripts/deps.sh)";
    QTemporaryDir dir;
    const QString dbText = "sqlite:" + dir.filePath("log.db");
    {
        server::Database db(server::DbConfig::parse(dbText));
        server::migrateSchema(db);
        testsupport::ensureOperator(db);
    }
    const QString log = dir.filePath("exp-appserver.log");
    const int port = testsupport::freePort();
    QProcess srv;
    testsupport::endWithParent(srv);
    srv.setStandardErrorFile(dir.filePath("stderr"));
    srv.start(EXP_APPSERVER_BIN, {"serve", "--db", dbText, "--port", QString::number(port), "--log-file", log});
    QElapsedTimer t;
    t.start();
    while (!testsupport::fileText(log).contains("escutando em") && t.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_TRUE(testsupport::fileText(log).contains("escutando em"))
        << testsupport::fileText(dir.filePath("stderr")).toStdString();
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(log).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    httplib::Client c("127.0.0.1", port);
    auto token = c.Post("/login", R"({"operador":"TESTE","senha":"senha-de-teste"})", "application/json");
    ASSERT_TRUE(token && token->status == 200);
    const QString tk = QJsonDocument::fromJson(QByteArray::fromStdString(token->body))["token"].toString();
    auto call = [&](const QString& method) {
        auto r = c.Post("/call", testsupport::bearer(tk), callBody(kCancel, method, {"0001"}), "application/json");
        ASSERT_TRUE(r);
    };
    // Lines reach the file within the writer's interval.
    auto waitFor = [&](const QString& file, const QString& text) {
        QElapsedTimer w;
        w.start();
        while (!testsupport::fileText(file).contains(text) && w.elapsed() < 5000)
            QThread::msleep(20);
        return testsupport::fileText(file).contains(text);
    };
    call("GetExp");
    ASSERT_TRUE(waitFor(log, "call=Exp01800.rdmCancelNota.GetExp"));
    EXPECT_TRUE(
        QRegularExpression(
            R"(\nts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z call=login op=TESTE addr=127\.0\.0\.1 ms=\d+\.\d outcome=ok\n)")
            .match(testsupport::fileText(log))
            .hasMatch())
        << testsupport::fileText(log).toStdString();
    EXPECT_TRUE(
        QRegularExpression(
            R"(\nts=\S+ call=Exp01800\.rdmCancelNota\.GetExp op=TESTE addr=127\.0\.0\.1 ms=\d+\.\d outcome=ok\n)")
            .match(testsupport::fileText(log))
            .hasMatch())
        << testsupport::fileText(log).toStdString();

    // The shipped snippet, pointed at this folder.
    QString conf = testsupport::fileText(QString(EXP_SOURCE_DIR) + "/deploy/logrotate/exp-appserver");
    conf.replace("/var/log/exp-appserver/*.log", log);
    QFile cf(dir.filePath("logrotate.conf"));
    ASSERT_TRUE(cf.open(QIODevice::WriteOnly));
    cf.write(conf.toUtf8());
    cf.close();
    QProcess lr;
    lr.start(logrotate, {"-f", "-s", dir.filePath("state"), dir.filePath("logrotate.conf")});
    ASSERT_TRUE(lr.waitForFinished(30000));
    ASSERT_EQ(lr.exitCode(), 0) << lr.readAllStandardError().toStdString();
    call("GetParExpedicao");
    ASSERT_TRUE(waitFor(log, "GetParExpedicao"));
    EXPECT_FALSE(testsupport::fileText(log).contains("GetExp ")) << "the rotated lines stay in the old file";
    EXPECT_TRUE(testsupport::fileText(log + ".1").contains("call=Exp01800.rdmCancelNota.GetExp"));

    // Moved away and SIGHUP: the server writes to a new file of the same name.
    ASSERT_TRUE(QFile::rename(log, log + ".moved"));
    ::kill(pid_t(srv.processId()), SIGHUP);
    ASSERT_TRUE(waitFor(log, "log reaberto"));
    call("GetExp");
    ASSERT_TRUE(waitFor(log, "call=Exp01800.rdmCancelNota.GetExp"));
    ::kill(pid_t(srv.processId()), SIGTERM);
    ASSERT_TRUE(srv.waitForFinished(15000));
    EXPECT_EQ(srv.exitCode(), 0);
    EXPECT_TRUE(testsupport::fileText(log).contains("exp_appserver encerrado"));

    // Under systemd (standard error is the journal's stream) the file is not used.
    QProcess j;
    const QString journal = dir.filePath("journal");
    QFile(journal).open(QIODevice::WriteOnly);
    ASSERT_EQ(::stat(QFile::encodeName(journal).constData(), &st), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("JOURNAL_STREAM", QString("%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino)));
    j.setProcessEnvironment(env);
    j.setStandardErrorFile(journal);
    j.start(EXP_APPSERVER_BIN,
            {"serve", "--db", dbText, "--port", QString::number(port), "--log-file", dir.filePath("no.log")});
    ASSERT_TRUE(waitFor(journal, "escutando em"));
    ::kill(pid_t(j.processId()), SIGTERM);
    j.waitForFinished(15000);
    EXPECT_TRUE(testsupport::fileText(journal).contains("--log-file ignorado"));
    EXPECT_FALSE(QFile::exists(dir.filePath("no.log")));
}

// --- 5. operators in bulk --------------------------------------------------------

TEST(OperatorImport, AllOrNothingWithFirstPasswordsThatMustBeChanged)
{
    QTemporaryDir dir;
    const QString dbText = "sqlite:" + dir.filePath("ops.db");
    auto write = [&](const QString& name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return dir.filePath(name);
    };
    ASSERT_EQ(runServer({"operator", "add", "JA", "--db", dbText, "--branches", "1"}, "senha-existente\n").first, 0);
    const QString out = dir.filePath("senhas");
    struct Bad {
        QByteArray text;
        const char* says;
    };
    const Bad bad[] = {
        {"ana; Ana Souza; 1,2\n\nbia; Beatriz; 0003\ncai o; Caio; 1\n", "linha 4"},
        {"ana; Ana; 1\nbia; Beatriz\n", "linha 2"},
        {"ana; Ana; 1\n# comentário\nbia; Bia; x9\n", "linha 3"},
        {"ana; Ana; 1\nANA; Ana de novo; 2\n", "linha 2"},
        {"ana; Ana; 1\nja; Já existe; 2\n", "linha 2"},
        {"ana; Ana; 1\nbia; B\xff; 2\n", "linha 2"},
    };
    for (const Bad& b : bad) {
        const auto r = runServer({"operator", "import", write("bad.txt", b.text), "--db", dbText, "--passwords", out});
        EXPECT_EQ(r.first, 1) << b.text.toStdString();
        EXPECT_TRUE(r.second.contains(b.says) && r.second.contains("Nenhum operador foi importado"))
            << r.second.toStdString();
        EXPECT_FALSE(QFile::exists(out)) << "no passwords of operators that were not created";
        EXPECT_EQ(runServer({"operator", "show", "ANA", "--db", dbText}).first, 1)
            << "half imported: " << b.text.toStdString();
    }

    const QString good =
        write("ok.txt", "# código; nome; filiais\nana; Ana Conceição; 1, 2\r\n\nbia;Beatriz Araújo;*\n");
    const auto r = runServer({"operator", "import", good, "--db", dbText, "--passwords", out});
    ASSERT_EQ(r.first, 0) << r.second.toStdString();
    EXPECT_EQ(
        QFileInfo(out).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser), 0);
    QMap<QString, QString> passwords;
    for (const QString& line : testsupport::fileText(out).split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith('#'))
            passwords[line.section(';', 0, 0)] = line.section(';', 2);
    ASSERT_EQ(passwords.keys(), (QStringList{"ANA", "BIA"}));
    EXPECT_NE(passwords["ANA"], passwords["BIA"]);
    EXPECT_GE(passwords["ANA"].size(), 12);
    const auto shown = runServer({"operator", "show", "ANA", "--db", dbText});
    EXPECT_TRUE(shown.second.contains("ANA\tAna Conceição\tativo\t0001,0002\ttroca de senha pendente"))
        << shown.second.toStdString();
    // The passwords file is never overwritten: a second import is refused whole.
    const auto again =
        runServer({"operator", "import", write("c.txt", "cid; Cid; 1\n"), "--db", dbText, "--passwords", out});
    EXPECT_EQ(again.first, 1);
    EXPECT_EQ(runServer({"operator", "show", "CID", "--db", dbText}).first, 1);

    // The first log-in says the password must change; calls are refused until it is.
    server::Database db(server::DbConfig::parse(dbText));
    servertest::Served srv(db, server::ServerOptions{});
    httplib::Client c("127.0.0.1", srv.port());
    auto login = [&] {
        auto a =
            c.Post("/login",
                   QJsonDocument(QJsonObject{{"operador", "bia"}, {"senha", passwords["BIA"]}}).toJson().toStdString(),
                   "application/json");
        EXPECT_TRUE(a && a->status == 200);
        return QJsonDocument::fromJson(QByteArray::fromStdString(a ? a->body : std::string()));
    };
    const QJsonDocument first = login();
    EXPECT_EQ(first["trocarSenha"], QJsonValue(true));
    const auto bearer = testsupport::bearer(first["token"].toString());
    auto refused = c.Post("/call", bearer, callBody(kCancel, "GetExp", {"0001"}), "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(refused->body))["message"].toString(),
              server::kMustChangePassword);
    EXPECT_EQ(c.Post("/logout", bearer, "{}", "application/json")->status, 200);

    server::Operators(db).setPassword("BIA", passwords["BIA"] + "-nova");
    passwords["BIA"] += "-nova";
    const QJsonDocument second = login();
    EXPECT_FALSE(second.object().contains("trocarSenha"));
    auto ok = c.Post("/call", testsupport::bearer(second["token"].toString()), callBody(kCancel, "GetExp", {"0001"}),
                     "application/json");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200) << ok->body;
}

} // namespace
