// The exp_appserver executable: options, start-up on a free port, and a
// clean stop on SIGTERM.
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <support/testsession.h>

#include <httplib.h>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray readUntil(QProcess& p, const QRegularExpression& re, QRegularExpressionMatch& m, int ms = 15000)
{
    QByteArray all;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        p.waitForReadyRead(200);
        all += p.readAllStandardError();
        m = re.match(QString::fromUtf8(all));
        if (m.hasMatch())
            break;
    }
    return all;
}

} // namespace

TEST(AppServerProcess, BadOptionsPrintUsage)
{
    QProcess p;
    p.start(EXP_APPSERVER_BIN, {"serve", "--port", "banana"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("Uso:"));
    p.start(EXP_APPSERVER_BIN, {"demo"}); // demo needs --db
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
}

TEST(AppServerProcess, ServesDemoDataAndStopsCleanlyOnSigterm)
{
    QTemporaryDir dir;
    const QString db = "sqlite:" + dir.filePath("demo.db");
    QProcess demo;
    demo.start(EXP_APPSERVER_BIN, {"demo", "--db", db, "--entries", "300", "--seed", "5"});
    ASSERT_TRUE(demo.waitForFinished(60000));
    ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();
    QProcess op; // the password comes on standard input, never in the arguments
    op.start(EXP_APPSERVER_BIN, {"operator", "add", "teste", "--db", db, "--branches", "0001"});
    op.write((testsupport::kPassword + "\n").toUtf8());
    op.closeWriteChannel();
    ASSERT_TRUE(op.waitForFinished(60000));
    ASSERT_EQ(op.exitCode(), 0) << op.readAllStandardError().toStdString();

    QProcess srv;
    srv.start(EXP_APPSERVER_BIN, {"serve", "--db", db, "--port", "0", "--threads", "4"});
    QRegularExpressionMatch m;
    const QByteArray start = readUntil(srv, QRegularExpression("escutando em 127\\.0\\.0\\.1:(\\d+)"), m);
    ASSERT_TRUE(m.hasMatch()) << start.toStdString();
    const int port = m.captured(1).toInt();

    httplib::Client c("127.0.0.1", port);
    auto h = c.Get("/health");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->status, 200);
    const char* getExp = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})";
    auto refused = c.Post("/call", getExp, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401); // no session, loopback or not
    const QString token = core::HttpTransport::shared().login("127.0.0.1", port, "TESTE", testsupport::kPassword).token;
    auto r = c.Post("/call", testsupport::bearer(token), getExp, "application/json");
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("\"status\":\"ok\""), std::string::npos);

    // Calls with control characters in their names, answered just before the
    // stop: each gets its line, escaped, in order, before the closing line.
    constexpr int kNamed = 25;
    for (int i = 0; i < kNamed; ++i) {
        const std::string body = QString(R"({"server":"Exp01800.rdmCancelNota","method":"Nada\n\u001b%1","args":[]})")
                                     .arg(i, 2, 10, QChar('0'))
                                     .toStdString();
        auto n = c.Post("/call", testsupport::bearer(token), body, "application/json");
        ASSERT_TRUE(n);
        EXPECT_EQ(n->status, 404);
    }

    // A caller's text is logged as sent, never read as a format.
    auto percent = c.Post("/call", testsupport::bearer(token),
                          R"({"server":"Exp01800.rdmCancelNota","method":"Nada%5%6%1","args":[]})", "application/json");
    ASSERT_TRUE(percent);
    EXPECT_EQ(percent->status, 404);

    ::kill(pid_t(srv.processId()), SIGTERM);
    ASSERT_TRUE(srv.waitForFinished(15000));
    EXPECT_EQ(srv.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(srv.exitCode(), 0);
    const QByteArray log = start + srv.readAllStandardError();
    EXPECT_TRUE(log.contains("Exp01800.rdmCancelNota.GetExp")) << log.toStdString(); // one line per call
    EXPECT_TRUE(log.contains("encerrado")) << log.toStdString();
    qsizetype at = log.indexOf("Exp01800.rdmCancelNota.GetExp");
    for (int i = 0; i < kNamed; ++i) {
        const QByteArray line = QString("call=Exp01800.rdmCancelNota.Nada\\n\\u001b%1 op=TESTE addr=127.0.0.1 ")
                                    .arg(i, 2, 10, QChar('0'))
                                    .toUtf8();
        const qsizetype next = log.indexOf(line, at);
        EXPECT_GT(next, at) << "line " << i << " missing or out of order:\n" << log.toStdString();
        if (next > at)
            at = next;
    }
    EXPECT_GT(log.indexOf("exp_appserver encerrado", at), at) << "the log was not written out before the end";
    EXPECT_TRUE(log.contains("call=Exp01800.rdmCancelNota.Nada%5%6%1 op=TESTE addr=127.0.0.1 ")) << log.toStdString();
    // time, call, operator, address, duration, outcome (key=value)
    EXPECT_TRUE(QRegularExpression(
                    R"(\nts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z call=Exp01800\.rdmCancelNota\.GetExp op=TESTE )"
                    R"(addr=127\.0\.0\.1 ms=\d+\.\d outcome=ok\n)")
                    .match(QString::fromUtf8(log))
                    .hasMatch())
        << log.toStdString();
    httplib::Client after("127.0.0.1", port);
    after.set_connection_timeout(1);
    EXPECT_FALSE(after.Get("/health"));
}

TEST(AppServerProcess, OperatorCommandsTakePasswordsOnlyFromStdin)
{
    QTemporaryDir dir;
    const QString db = "sqlite:" + dir.filePath("ops.db");
    auto run = [&](const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.start(EXP_APPSERVER_BIN, args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
    };
    EXPECT_EQ(run({"operator", "add", "ana", "--db", db, "--name", "Ana", "--branches", "1,2"}, "curta\n").first, 1);
    EXPECT_EQ(
        run({"operator", "add", "ana", "--db", db, "--name", "Ana", "--branches", "1,2"}, "uma-senha-boa\n").first, 0);
    EXPECT_EQ(run({"operator", "add", "ana", "--db", db}, "uma-senha-boa\n").first, 1); // exists already
    EXPECT_EQ(run({"operator", "branches", "ANA", "0003", "--db", db}).first, 0);
    EXPECT_EQ(run({"operator", "disable", "ANA", "--db", db}).first, 0);
    EXPECT_EQ(run({"operator", "passwd", "ANA", "--db", db}, "outra-senha-boa\n").first, 0);
    const auto shown = run({"operator", "show", "ANA", "--db", db});
    EXPECT_EQ(shown.first, 0);
    EXPECT_TRUE(shown.second.contains("ANA\tAna\tinativo\t0003")) << qPrintable(shown.second);
    EXPECT_EQ(run({"operator", "disable", "NINGUEM", "--db", db}).first, 1);
    // A database password on the command line is refused before anything is opened.
    EXPECT_EQ(run({"serve", "--db", "postgres:host=127.0.0.1 dbname=x password=segredo"}).first, 2);
    EXPECT_EQ(run({"operator", "show", "ANA", "--db", "postgres:dbname=x password=segredo"}).first, 2);
}
