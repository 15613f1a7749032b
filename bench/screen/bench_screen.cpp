// Screen benchmark (run by hand; figures go to docs/performance.md, section
// "Screen"). On a demo database whose branch "0001" has N entries in the
// default period, it opens the query screen against a real application
// server on a loopback port and measures:
//  1. the time from leaving the branch panel (validation, the hidden filter,
//     GetParExpedicao, GetLanctoNF, loading and indexing the list) until the
//     entry grid has painted its first rows;
//  2. the memory the process gained by that load (resident set), and the
//     list's share as counted from its rows;
//  3. the server's own time for the same GetLanctoNF (no socket, no client).
// The server runs in a child process, so the memory figures are the screen's.
// With --tick, on the loaded list it then measures the tick-all of the check
// column's title: from the title click to the repainted grid (the whole-list
// VerReplic, the list reloaded ticked, the replication dialog answered
// "&Cancela"), beside a raw read of the same rows from the database file in
// the same process, and the untick-all that follows.
// Usage: bench_screen [--tick] [entries=50000] [repeats=3]
//        bench_screen --pictures DIR [entries=2000]   pictures of the three pages
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <module/exp01800.h>
#include <screens/query/conlancto.h>

#include <contracts/servers.h>

#include <server/allocator.h>
#include <server/appserver.h>
#include <server/cancelnota.h>
#include <server/demodata.h>
#include <server/schema.h>

#include <client/adoibquery.h>
#include <client/hostapi.h>
#include <client/httptransport.h>

#include <host/moduleloader.h>
#include <host/widgethost.h>

#include "doubles/scriptedhost.h"
#include <tests/support/testsession.h>

#include <QApplication>
#include <QDir>
#include <QTabBar>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

static double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

/// Resident set size in MB (Linux), after handing freed heap back to the
/// system so that what is left is what the process holds.
static double rssMb()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    if (parts.size() < 2)
        return 0;
    return parts[1].toDouble() * 4096.0 / (1024.0 * 1024.0);
}

/// Heap bytes in use in MB (allocated and not freed, whatever the
/// fragmentation), glibc only; 0 elsewhere.
static double heapMb()
{
#if defined(__GLIBC__)
    const struct mallinfo2 mi = mallinfo2();
    return double(mi.uordblks + mi.hblkhd) / (1024.0 * 1024.0);
#else
    return 0;
#endif
}

/// Bytes the rows of a dataset would take held one variant per value
/// (strings by their characters, every value by the variant's own size): the
/// yardstick the dataset's typed storage is set against.
static double datasetMb(const core::ClientDataset& ds)
{
    double bytes = 0;
    for (int r = 0; r < ds.recordCount(); ++r)
        for (int f = 0; f < ds.fieldCount(); ++f) {
            const core::Variant& v = ds.rawValue(r, f);
            bytes += sizeof(core::Variant);
            if (v.type() == core::Variant::Type::String)
                bytes += 24 + 2.0 * v.toString().size(); // QString header and UTF-16 text
        }
    return bytes / (1024.0 * 1024.0);
}

namespace {

/// What the server process reports once it listens.
struct ServerReady {
    int port = 0;
    double serverOnly = 0; ///< best GetLanctoNF inside the server, seconds
    int entries = 0;
    double demoSeconds = 0;
};

/// The server process: demo data, the server's own time for the list query,
/// then serving on a loopback port until killed. It runs apart so that the
/// screen's memory is measured without the server's.
[[noreturn]] void serverProcess(int wanted, int repeats, const QString& file, int fd, bool pictures)
{
    int argc = 1;
    char name[] = "bench_screen_server";
    char* argv[] = {name, nullptr};
    server::tuneAllocator(); // as the server's entry point does
    QCoreApplication app(argc, argv);
    server::Database db(server::DbConfig::parse("sqlite:" + file));
    server::DemoOptions demo;
    demo.entries = wanted * 10 / 7 + 10; // seven entries in ten belong to branch 0001
    if (!pictures)
        demo.spreadDays = 1; // all of them today: inside the default period
    auto t0 = Clock::now();
    server::migrateSchema(db);
    server::generateDemo(db, demo);
    testsupport::ensureOperator(db);
    ServerReady ready;
    ready.entries = demo.entries;
    ready.demoSeconds = since(t0);

    server::ServerOptions opt;
    opt.port = 0;
    opt.threads = 8;
    opt.log = false;
    server::AppServer srv(db, opt);
    srv.bind();

    const double today = double(core::Date::today().wholeDays());
    core::CallRequest req{server::kCancelNotaServer,
                          "GetLanctoNF",
                          {core::Variant("0001"), core::Variant(core::Date{today - 2}),
                           core::Variant(core::Date{today}), "", "T", "", "T", "", "", "T", "T"},
                          {}};
    const std::string body = core::HttpTransport::encodeRequest(req).toStdString();
    ready.serverOnly = 1e9;
    for (int rep = 0; rep < repeats; ++rep) {
        t0 = Clock::now();
        srv.handleCall(body);
        ready.serverOnly = std::min(ready.serverOnly, since(t0));
    }
    ready.port = srv.port();
    if (::write(fd, &ready, sizeof ready) != ssize_t(sizeof ready))
        std::_Exit(1);
    ::close(fd);
    srv.run();
    std::_Exit(0);
}

} // namespace

namespace {

/// The real widget host, with the replication dialog answered "&Cancela" at
/// once (the first pass of a tick-all is what is measured).
class CancelingHost : public host::WidgetHost {
public:
    void runModal(QObject& form) override
    {
        ++dialogs;
        if (QObject* b = form.findChild<QObject*>(QStringLiteral("btnCancela")))
            QMetaObject::invokeMethod(b, "click", Qt::DirectConnection);
    }
    int dialogs = 0;
};

/// Reads the branch's entries of the default period from the database file
/// into memory, every column: the floor a tick-all of the same rows is set
/// against.
double rawRead(const QString& connection, int& rows)
{
    auto t0 = Clock::now();
    QSqlQuery q(QSqlDatabase::database(connection));
    q.setForwardOnly(true);
    const qint64 today = core::Date::today().wholeDays();
    q.exec(QStringLiteral("SELECT * FROM LANCTONF WHERE CDFILIAL = '0001' AND DTENTRSAID BETWEEN %1 AND %2")
               .arg(today - 2)
               .arg(today));
    std::vector<std::vector<QVariant>> data;
    const int cols = q.record().count();
    while (q.next()) {
        std::vector<QVariant> row(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c)
            row[size_t(c)] = q.value(c);
        data.push_back(std::move(row));
    }
    rows = int(data.size());
    return since(t0);
}

/// Clicks the check column's title; the time runs until the grid has
/// painted its rows again (the handler, then one synchronous repaint of the
/// grid). `during` counts the cells painted while the handler ran (none are
/// expected: the window is frozen and the controls disabled), `after` those
/// of the repaint.
double titleClickToPaint(TfrmConLancto* frm, qint64& during, qint64& after)
{
    const qint64 before = frm->dbgPadrao->cellPaintCount();
    auto t0 = Clock::now();
    emit frm->dbgPadrao->horizontalHeader()->sectionClicked(0);
    during = frm->dbgPadrao->cellPaintCount() - before;
    frm->dbgPadrao->viewport()->repaint();
    const double t = since(t0);
    after = frm->dbgPadrao->cellPaintCount() - before - during;
    QApplication::processEvents();
    return t;
}

int measureTicks(TfrmConLancto* frm, int repeats)
{
    CancelingHost widgets;
    core::setHost(&widgets);
    frm->dbgPadrao->setFocus();
    double bestTick = 1e9, bestUntick = 1e9, bestRaw = 1e9, bestCall = 1e9;
    int rows = 0, rawRows = 0;
    for (int rep = 0; rep < repeats; ++rep) {
        bestRaw = std::min(bestRaw, rawRead("bench_hostdb", rawRows));
        // The whole-list VerReplic alone, as the tick-all sends it (packet
        // encoded, HTTP, the server's check, the answer decoded).
        auto c0 = Clock::now();
        const core::ServerResult r =
            contracts::cancelnota::VerReplic(*frm->netCancelExp, frm->cdsLanctoNF->data(), QString(), QString());
        bestCall = std::min(bestCall, since(c0));
        if (!r.ok)
            std::printf("VerReplic failed: %s\n", qPrintable(r.message));
        qint64 during = 0, after = 0, unDuring = 0, unAfter = 0;
        const double tick = titleClickToPaint(frm, during, after);
        const int ticked = cli_exp01800::inNotasMarcadas;
        rows = frm->cdsLanctoNF->recordCount();
        const double untick = titleClickToPaint(frm, unDuring, unAfter);
        std::printf("  run %d: raw read %d rows %.3f s; tick-all %.3f s (%d ticked; cells painted during the "
                    "handler %lld, by the repaint %lld); untick-all %.3f s (%lld, %lld)\n",
                    rep + 1, rawRows, bestRaw, tick, ticked, (long long)during, (long long)after, untick,
                    (long long)unDuring, (long long)unAfter);
        bestTick = std::min(bestTick, tick);
        bestUntick = std::min(bestUntick, untick);
    }
    std::printf("tick-all over %d entries, title click to repainted grid: best %.3f s; raw read of the same %d rows: "
                "best %.3f s; ratio %.2f; untick-all best %.3f s; dialogs answered %d\n"
                "of the tick-all, the whole-list VerReplic call alone (encode, HTTP, server, decode): best %.3f s\n",
                rows, bestTick, rawRows, bestRaw, bestTick / bestRaw, bestUntick, widgets.dialogs, bestCall);
    core::setHost(nullptr);
    return 0;
}

} // namespace

namespace {

/// The widget host for pictures: message boxes are answered with their first
/// button without showing, the replication dialog is shown, pictured when a
/// file name waits for it, and answered "&OK".
class PictureHost : public host::WidgetHost {
public:
    core::MsgButton message(core::MsgKind, const QString& text, const QList<core::MsgButton>& buttons) override
    {
        std::printf("message: %s\n", qPrintable(text));
        return buttons.isEmpty() ? core::MsgButton::OK : buttons.first();
    }
    void runModal(QObject& form) override
    {
        auto* w = qobject_cast<QWidget*>(&form);
        ++dialogs;
        if (w && !nextPicture.isEmpty()) {
            w->show();
            for (int i = 0; i < 20; ++i)
                QApplication::processEvents(QEventLoop::AllEvents, 10);
            const bool ok = w->grab().save(nextPicture);
            std::printf("%s %s\n", ok ? "picture saved:" : "picture NOT saved:", qPrintable(nextPicture));
            saved = saved && ok;
            nextPicture.clear();
        }
        if (QObject* b = form.findChild<QObject*>(QStringLiteral("btnSim")))
            QMetaObject::invokeMethod(b, "click", Qt::DirectConnection);
    }
    QString nextPicture;
    int dialogs = 0;
    bool saved = true;
};

/// Ticked entries, ticked items and the replication dialog at both widths.
bool tickPictures(TfrmConLancto* frm, const QString& folder, const std::function<bool(const QString&)>& save,
                  const std::function<void(host::TabSheet*)>& show)
{
    PictureHost pictures;
    core::HostServices* before = core::installedHost();
    core::setHost(&pictures);
    const host::Column check = frm->dbgPadrao->column(0);
    show(frm->tshFolhaDados);
    frm->dbgPadrao->setFocus();
    frm->cdsLanctoNF->first();

    // Tick-all: the dialog lists the replicas of every ticked entry (wide).
    pictures.nextPicture = QDir(folder).filePath("replic-dialog-wide.png");
    core::dispatch([&] { frm->dbgPadraoTitleClick(check); });
    bool ok = save("screen-ticked-entries.png");
    core::dispatch([&] { frm->dbgPadraoTitleClick(check); }); // untick all

    // One entry with replicas: the narrow dialog.
    pictures.nextPicture = QDir(folder).filePath("replic-dialog-narrow.png");
    for (int row = 0; row < std::min(400, frm->cdsLanctoNF->recordCount()) && !pictures.nextPicture.isEmpty(); ++row) {
        frm->cdsLanctoNF->moveTo(row);
        if (frm->entryBlocked())
            continue;
        core::dispatch([&] { frm->dbgPadraoCellClick(check); });
        if (frm->cdsLanctoNF->fieldByName("IDCHECK").asString() == "S")
            core::dispatch([&] { frm->dbgPadraoCellClick(check); });
    }
    ok = ok && pictures.nextPicture.isEmpty();

    // Items: a pending entry without commission accounts, two items ticked.
    frm->cdsLanctoNF->first();
    show(frm->tshFormulario);
    for (int row = 0; row < std::min(400, frm->cdsLanctoNF->recordCount()); ++row) {
        core::dispatch([&] { frm->cdsLanctoNF->moveTo(row); });
        if (frm->entryBlocked() || cli_exp01800::boContaComissao || frm->cdsItensLanctoNF->recordCount() < 3)
            continue;
        const host::Column itemCheck = frm->dbgItensNf->column(0);
        frm->cdsItensLanctoNF->moveTo(0);
        core::dispatch([&] { frm->dbgItensNfCellClick(itemCheck); });
        frm->cdsItensLanctoNF->moveTo(2);
        core::dispatch([&] { frm->dbgItensNfCellClick(itemCheck); });
        break;
    }
    frm->dbgItensNf->setFocus();
    ok = save("screen-ticked-items.png") && ok;
    core::dispatch([&] { frm->dbgItensNfTitleClick(frm->dbgItensNf->column(0)); }); // untick all
    core::setHost(before);
    return ok && pictures.saved;
}

} // namespace

/// Pictures of the screen for the documentation: the entry page, then the
/// item and stock pages of the first pending entry that has items.
static int takePictures(TfrmConLancto* frm, const QString& folder)
{
    QDir().mkpath(folder);
    auto save = [&](const QString& name) {
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString file = QDir(folder).filePath(name);
        const bool ok = frm->frameWindow()->grab().save(file);
        std::printf("%s %s\n", ok ? "picture saved:" : "picture NOT saved:", qPrintable(file));
        return ok;
    };
    // The user switches pages with a click on the tab, which takes the focus.
    auto show = [&](host::TabSheet* page) {
        frm->pgcPadrao->tabBar()->setFocus();
        frm->pgcPadrao->setCurrentWidget(page);
    };
    bool ok = save("screen-entries.png");
    // The user works in the grid: the focus leaves the branch panel first
    // (its exit handling, which loads the list, has already run by then).
    frm->dbgPadrao->setFocus();
    QApplication::processEvents();
    frm->cdsLanctoNF->locate("IDSTATUS", core::Variant("P"));
    show(frm->tshFormulario);
    ok = save("screen-items.png") && ok;
    show(frm->tshItemEst);
    ok = save("screen-stock.png") && ok;
    ok = tickPictures(frm, folder, save, show) && ok;

    // The print module's report of the same list, into the same folder.
    host::ModuleLoader loader(QCoreApplication::applicationDirPath());
    loader.install();
    qputenv("EXP_REPORT_DIR", QFile::encodeName(QDir(folder).absolutePath()));
    core::ScriptedHost quiet; // answers the "written to" box
    ok = core::dispatch([frm] { frm->sbtImprimirClick(); }) && ok;
    for (const QString& m : quiet.messageTexts())
        std::printf("%s\n", qPrintable(m));
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    // --pictures DIR [entries]: a demo-sized database and pictures instead of timings.
    QString pictures;
    bool ticks = false;
    if (argc > 1 && std::strcmp(argv[1], "--tick") == 0) {
        ticks = true;
        ++argv;
        --argc;
    }
    if (argc > 2 && std::strcmp(argv[1], "--pictures") == 0) {
        pictures = QString::fromLocal8Bit(argv[2]);
        argv += 2;
        argc -= 2;
    }
    const int wanted = argc > 1 ? std::atoi(argv[1]) : (pictures.isEmpty() ? 50000 : 2000);
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    QTemporaryDir dir;
    const QString file = dir.filePath("bench.db");
    int fds[2];
    if (::pipe(fds) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        serverProcess(wanted, repeats, file, fds[1], !pictures.isEmpty());
    }
    ::close(fds[1]);
    ServerReady ready;
    if (::read(fds[0], &ready, sizeof ready) != ssize_t(sizeof ready)) {
        std::fprintf(stderr, "the server process did not start\n");
        return 1;
    }
    ::close(fds[0]);
    std::printf("demo data: %d entries in %.2f s; server on port %d\n", ready.entries, ready.demoSeconds, ready.port);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The host: its database is the same file, the servers on the loopback port.
    {
        QSqlDatabase hostDb = QSqlDatabase::addDatabase("QSQLITE", "bench_hostdb");
        hostDb.setDatabaseName(file);
        hostDb.open();
    }
    core::TDtmDBGeral::setConnectionName("bench_hostdb");
    host::WidgetHost widgets;
    core::setHost(&widgets);
    core::HostContext& ctx = core::context();
    ctx.filial = "0001";
    ctx.nomeFilial = "Matriz";
    ctx.moduFili = false;
    ctx.webUrl = "127.0.0.1";
    ctx.webPort = ready.port;
    testsupport::logInAt(ready.port);

    const double rssStart = rssMb();
    IniProc();
    QApplication::processEvents();
    TfrmConLancto* frm = frmConLancto;
    if (!frm) {
        std::fprintf(stderr, "the screen did not open\n");
        ::kill(child, SIGTERM);
        return 1;
    }
    frm->frameWindow()->resize(1280, 720);
    QApplication::processEvents();
    const double rssOpen = rssMb();

    if (!pictures.isEmpty()) {
        frm->medFilial->setText("0001");
        core::dispatch([frm] { frm->panFiltroExit(); });
        const int rc = takePictures(frm, pictures);
        frm->close();
        QApplication::processEvents();
        core::setHost(nullptr);
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        return rc;
    }

    double best = 1e9, first = 0, loadOnly = 1e9;
    int rows = 0;
    double rssLoaded = 0, rssEmpty = 0, heapEmpty = 0, heapLoaded = 0;
    for (int rep = 0; rep < repeats; ++rep) {
        frm->panFiltroEnter(); // closes the lists, as the user entering the panel
        QApplication::processEvents();
        frm->medFilial->setText("0001");
        if (rep == 0) {
            rssEmpty = rssMb();
            heapEmpty = heapMb();
        }
        const qint64 painted = frm->dbgPadrao->cellPaintCount();

        auto t0 = Clock::now();
        core::dispatch([frm] { frm->panFiltroExit(); });
        const double loaded = since(t0);
        // Until the grid has painted rows of the new list.
        QElapsedTimer guard;
        guard.start();
        while (frm->dbgPadrao->cellPaintCount() == painted && guard.elapsed() < 10000) {
            frm->dbgPadrao->viewport()->update();
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const double shown = since(t0);
        rows = frm->cdsLanctoNF->recordCount();
        if (rep == 0)
            first = shown;
        best = std::min(best, shown);
        loadOnly = std::min(loadOnly, loaded);
        const double rssNow = rssMb();
        rssLoaded = std::max(rssLoaded, rssNow);
        heapLoaded = std::max(heapLoaded, heapMb());
        std::printf(
            "  run %d: %d rows, handler %.3f s, first rows painted %.3f s, resident %.0f MB, heap in use %.0f MB\n",
            rep + 1, rows, loaded, shown, rssNow, heapMb());
    }
    const double listMb = datasetMb(*frm->cdsLanctoNF);

    std::printf("screen: %d entries; leaving the branch panel to first rows painted: best %.3f s, first run %.3f s "
                "(handler alone best %.3f s)\n",
                rows, best, first, loadOnly);
    std::printf("server alone (query, packet, JSON), same query: best %.3f s\n", ready.serverOnly);
    std::printf(
        "memory of the screen's process: resident %.0f MB at start, %.0f MB with the screen open and its "
        "lists closed, %.0f MB at most with the list loaded (+%.0f MB); the list's rows held one variant per value would count about %.0f MB\n",
        rssStart, std::max(rssOpen, rssEmpty), rssLoaded, rssLoaded - std::max(rssOpen, rssEmpty), listMb);
    std::printf("heap in use: %.0f MB with the lists closed, %.0f MB with the list loaded (+%.0f MB)\n", heapEmpty,
                heapLoaded, heapLoaded - heapEmpty);
    // The same figures against the list's size on the wire, and per entry,
    // for comparing list lengths (10,000 to 200,000 entries).
    const double wireMb = double(core::codec::encodePacket(frm->cdsLanctoNF->toPacket()).size()) / (1024.0 * 1024.0);
    const double growth = rssLoaded - std::max(rssOpen, rssEmpty), heapGrowth = heapLoaded - heapEmpty;
    std::printf("growth: %d entries, %.1f MB on the wire; heap %.2f times the wire, resident %.2f times; per entry "
                "%.2f us to first rows painted, %.0f bytes of heap, %.0f bytes resident\n",
                rows, wireMb, heapGrowth / wireMb, growth / wireMb, rows ? best * 1e6 / rows : 0.0,
                rows ? heapGrowth * 1024 * 1024 / rows : 0.0, rows ? growth * 1024 * 1024 / rows : 0.0);

    if (ticks) {
        core::setHost(nullptr);
        measureTicks(frm, repeats);
        core::setHost(&widgets);
    }

    frm->close();
    QApplication::processEvents();
    core::setHost(nullptr);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    return 0;
}
