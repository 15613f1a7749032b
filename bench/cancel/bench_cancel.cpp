// Cancellation benchmark (run by hand; figures go to docs/performance.md,
// section "Cancelling entries"). On a demo database whose branch "0001" lists
// more than N cancellable entries today, it opens the query screen against
// the real application server on a loopback port, ticks the first N
// cancellable entries of the list and measures the whole-entry cancellation
// from the click on the cancel button (the answers scripted: Yes to the
// question, OK to every warning) to the reloaded list: the stale-list check,
// the NF-e refresh of every ticked rejected entry (the host's state
// registration query, GetSituacao and, for the invoices that moved on,
// GetAtual_Situ with its warning), CancelaNota and the reload.
// The server's share is the sum of its own handling time per call, read from
// its call log.
// The screen logs in as the test operator, as the shell's operator would.
// Usage: bench_cancel [ticked=5000] [repeats=3]
//        bench_cancel --pictures DIR   pictures of the confirmation and of a refusal
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <module/exp01800.h>
#include <screens/query/conlancto.h>

#include <server/appserver.h>
#include <server/demodata.h>
#include <server/schema.h>

#include <client/adoibquery.h>
#include "doubles/fakeserver.h"
#include <client/hostapi.h>
#include <client/httptransport.h>
#include "doubles/scriptedhost.h"

#include <host/widgethost.h>
#include <tests/support/testsession.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

/// Lets stderr go to a file for the scope (the in-process server's call log).
class StderrToFile {
public:
    explicit StderrToFile(const QString& file)
    {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrToFile()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }

private:
    int saved_ = -1;
};

struct MethodTime {
    int calls = 0;
    double ms = 0;
};

/// Per method: calls and the server's own milliseconds, from its log lines
/// "time server.method [fields] 12.3 ms outcome".
std::map<QString, MethodTime> readLog(const QString& file)
{
    std::map<QString, MethodTime> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    // Fields the log may carry between the method and its time (operator,
    // address) are skipped.
    static const QRegularExpression line(QStringLiteral("^\\S+ \\S+\\.(\\w+) (?:\\S+ )*?([0-9.]+) ms "));
    while (!f.atEnd()) {
        const auto m = line.match(QString::fromUtf8(f.readLine()));
        if (!m.hasMatch())
            continue;
        MethodTime& t = out[m.captured(1)];
        ++t.calls;
        t.ms += m.captured(2).toDouble();
    }
    return out;
}

void exec(QSqlDatabase db, const QString& text)
{
    QSqlQuery q(db);
    if (!q.exec(text))
        std::fprintf(stderr, "%s: %s\n", qPrintable(text), qPrintable(q.lastError().text()));
}

/// The demo database, made so that what is ticked can be cancelled: no
/// settled or mapped commission account and stock enough everywhere (those
/// refusals are measured by the tests, not here). Rejected NF-e keep their
/// stored authority answers, so the refresh has its real share of work.
void makeDatabase(const QString& file, int ticked)
{
    server::Database db(server::DbConfig::parse("sqlite:" + file));
    server::migrateSchema(db);
    server::DemoOptions demo;
    demo.entries = ticked * 3 + 100; // branch 0001 holds 7 in 10, about half of them pending
    demo.spreadDays = 1;             // all today: inside the default period
    server::generateDemo(db, demo);
    QSqlDatabase c = db.connection();
    exec(c, "DELETE FROM CONTAGERADA WHERE IDQUITADA = 'S' OR IDMAPAAPURADO = 'S'");
    exec(c, "UPDATE SALDOESTQ SET QTSALDO = QTSALDO + 1000000");
    exec(c, "PRAGMA wal_checkpoint(TRUNCATE)");
}

struct Run {
    double seconds = 0;
    int ticked = 0, rejected = 0, warnings = 0, cancelled = 0, listed = 0;
    std::map<QString, MethodTime> server;
};

Run runOnce(const QString& pristine, const QString& work, int wanted)
{
    QFile::remove(work);
    QFile::copy(pristine, work);
    Run run;

    server::Database db(server::DbConfig::parse("sqlite:" + work));
    server::ServerOptions opt;
    opt.port = 0;
    opt.threads = 8;
    opt.log = true;
    auto srv = std::make_unique<server::AppServer>(db, opt);
    srv->bind();
    std::thread serving([&] { srv->run(); });
    {
        core::TransportInstall http(core::HttpTransport::shared());
        core::context().webPort = srv->port();
        testsupport::logIn(db, srv->port());
        {
            QSqlDatabase hostDb = QSqlDatabase::addDatabase("QSQLITE", "bench_hostdb");
            hostDb.setDatabaseName(work);
            hostDb.open();
        }
        core::TDtmDBGeral::setConnectionName("bench_hostdb");

        // Entries the grid would let the user tick: not blocked, no approved replica.
        QSet<QString> approvedReplica;
        {
            QSqlQuery q(QSqlDatabase::database("bench_hostdb"));
            q.exec("SELECT NRLANCTONF FROM DOCREPLIC WHERE CDFILIAL = '0001' AND IDSTATUS = 'A' AND IDCANCELADO = 'N'");
            while (q.next())
                approvedReplica.insert(q.value(0).toString());
        }

        core::ScriptedHost host;
        IniProc();
        QApplication::processEvents();
        TfrmConLancto* frm = frmConLancto;
        frm->medFilial->setText("0001");
        // The user leaves the branch panel for the grid: the list loads.
        frm->dbgPadrao->setFocus();
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();

        core::ClientDataset& ds = *frm->cdsLanctoNF;
        for (ds.first(); !ds.eof() && run.ticked < wanted; ds.next()) {
            const QString st = ds.fieldByName("IDSTATUS").asString(), nfe = ds.fieldByName("IDSTATUSNFE").asString();
            if (st != "P" || approvedReplica.contains(ds.fieldByName("NRLANCTONF").asString()))
                continue;
            ds.edit();
            ds.fieldByName("IDCHECK").setAsString("S");
            ds.post();
            ++run.ticked;
            run.rejected += nfe == "R";
        }
        cli_exp01800::inNotasMarcadas = run.ticked;
        frm->Habilita();
        host.clearShown();
        host.answer(core::MsgButton::Yes);

        const QString log = work + ".log";
        {
            StderrToFile capture(log);
            const auto t0 = Clock::now();
            frm->sbtCancelNota->click();
            run.seconds = since(t0);
        }
        run.server = readLog(log);
        for (const auto& s : host.shown())
            run.warnings += s.msgKind == core::MsgKind::Warning;
        run.listed = ds.recordCount();
        const int st = ds.fieldByName("IDSTATUS").index();
        for (int r = 0; r < ds.recordCount(); ++r)
            run.cancelled += ds.rawValue(r, st).toString() == "C";
        if (host.messageTexts().size() != 1 + run.warnings)
            std::fprintf(stderr, "unexpected messages: %s\n", qPrintable(host.messageTexts().join(" | ")));

        frm->close();
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QApplication::processEvents();
        }
        core::TDtmDBGeral::setConnectionName(QString());
    }
    QSqlDatabase::removeDatabase("bench_hostdb");
    srv->stop();
    serving.join();
    return run;
}

/// The screen with the box shown over it, as the user sees them (the
/// offscreen platform draws no window frames, so the box gets a border).
QPixmap composite(QWidget* screen, QWidget* box)
{
    QPixmap base = screen->grab();
    const QPixmap over = box->grab();
    QPainter p(&base);
    const QPoint at((base.width() - over.width()) / 2, (base.height() - over.height()) / 2);
    p.drawPixmap(at, over);
    p.setPen(QColor(60, 60, 60));
    p.drawRect(QRect(at, over.size()).adjusted(-1, -1, 0, 0));
    return base;
}

/// Pictures for the documentation: three pending entries ticked, one of
/// them with a settled commission account, cancelled through the real
/// widgets: the confirmation, then the server's refusal ERRO_EXC_COMIS.
int takePictures(const QString& folder)
{
    QDir().mkpath(folder);
    QTemporaryDir tmp;
    const QString file = tmp.filePath("pictures.db");
    makeDatabase(file, 200);

    server::Database db(server::DbConfig::parse("sqlite:" + file));
    server::ServerOptions opt;
    opt.port = 0;
    opt.threads = 4;
    opt.log = false;
    server::AppServer srv(db, opt);
    srv.bind();
    std::thread serving([&] { srv.run(); });
    int saved = 0;
    {
        core::TransportInstall http(core::HttpTransport::shared());
        core::context().webPort = srv.port();
        testsupport::logIn(db, srv.port());
        {
            QSqlDatabase hostDb = QSqlDatabase::addDatabase("QSQLITE", "bench_hostdb");
            hostDb.setDatabaseName(file);
            hostDb.open();
        }
        core::TDtmDBGeral::setConnectionName("bench_hostdb");
        host::WidgetHost widgets;
        core::setHost(&widgets);

        IniProc();
        QApplication::processEvents();
        TfrmConLancto* frm = frmConLancto;
        frm->frameWindow()->resize(1100, 560);
        frm->medFilial->setText("0001");
        frm->dbgPadrao->setFocus();
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();

        core::ClientDataset& ds = *frm->cdsLanctoNF;
        QStringList ticked;
        for (ds.first(); !ds.eof() && ticked.size() < 3; ds.next()) {
            if (ds.fieldByName("IDSTATUS").asString() != "P" || ds.fieldByName("IDSTATUSNFE").asString() == "R")
                continue;
            ds.edit();
            ds.fieldByName("IDCHECK").setAsString("S");
            ds.post();
            ticked << ds.fieldByName("NRLANCTONF").asString();
        }
        {
            QSqlDatabase c = QSqlDatabase::database("bench_hostdb");
            QSqlQuery q(c);
            q.prepare("INSERT INTO CONTAGERADA (CDFILIAL, NRLANCTONF, NRLANCTOPAG, IDQUITADA, IDMAPAAPURADO) "
                      "VALUES ('0001', ?, ?, 'S', 'N')");
            q.addBindValue(ticked.value(1));
            q.addBindValue(ticked.value(1));
            q.exec();
        }
        ds.first();
        cli_exp01800::inNotasMarcadas = int(ticked.size());
        frm->Habilita();
        // The grid paints the ticked rows, and keeps their image, before the user clicks.
        frm->frameWindow()->grab();
        {
            QEventLoop settle;
            QTimer::singleShot(400, &settle, &QEventLoop::quit);
            settle.exec();
        }

        const QStringList names{"cancel-confirm.png", "cancel-refusal.png"};
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (saved < names.size()) {
                const QString path = QDir(folder).filePath(names[saved]);
                const bool ok = composite(frm->frameWindow(), box).save(path);
                std::printf("%s %s: %s\n", ok ? "picture saved:" : "picture NOT saved:", qPrintable(path),
                            qPrintable(box->text()));
                saved += ok;
            }
            box->defaultButton()->click();
        });
        answer.start(100);
        frm->sbtCancelNota->click();
        answer.stop();
        frm->close();
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QApplication::processEvents();
        }
        core::setHost(nullptr);
        core::TDtmDBGeral::setConnectionName(QString());
    }
    QSqlDatabase::removeDatabase("bench_hostdb");
    srv.stop();
    serving.join();
    return saved == 2 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--pictures") == 0) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        core::context().webUrl = "127.0.0.1";
        core::context().filial = "0001";
        core::context().nomeFilial = "Matriz São Paulo";
        return takePictures(QString::fromLocal8Bit(argv[2]));
    }
    const int wanted = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir tmp;
    const QString pristine = tmp.filePath("pristine.db");
    auto t0 = Clock::now();
    makeDatabase(pristine, wanted);
    std::printf("demo data in %.2f s\n", since(t0));
    std::fflush(stdout);

    core::HostContext& ctx = core::context();
    ctx.filial = "0001";
    ctx.nomeFilial = "Matriz";
    ctx.moduFili = false;
    ctx.webUrl = "127.0.0.1";

    double best = 1e9, bestServer = 0;
    for (int rep = 0; rep < repeats; ++rep) {
        const Run r = runOnce(pristine, tmp.filePath("run.db"), wanted);
        double serverMs = 0;
        for (const auto& [m, t] : r.server)
            serverMs += t.ms;
        std::printf("run %d: %d ticked (%d rejected NF-e), click to reloaded list %.3f s, server %.3f s; "
                    "%d warnings; %d of %d listed entries cancelled\n",
                    rep + 1, r.ticked, r.rejected, r.seconds, serverMs / 1000, r.warnings, r.cancelled, r.listed);
        for (const auto& [m, t] : r.server)
            std::printf("    %-16s %6d calls %9.1f ms\n", qPrintable(m), t.calls, t.ms);
        std::fflush(stdout);
        if (r.seconds < best) {
            best = r.seconds;
            bestServer = serverMs / 1000;
        }
    }
    std::printf("best: %.3f s from the click to the reloaded list, of which server %.3f s\n", best, bestServer);
    return 0;
}
