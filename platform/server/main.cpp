// exp_appserver: serves "Exp01800.rdmCancelNota" and "DFS52000.rdmSituacao"
// over HTTP/JSON, or fills a database with demo data.

#include "appserver.h"
#include "demodata.h"
#include "schema.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

namespace {

int usage(const char* why = nullptr)
{
    if (why) std::fprintf(stderr, "exp_appserver: %s\n\n", why);
    std::fprintf(stderr,
                 "Uso:\n"
                 "  exp_appserver serve [--listen 127.0.0.1] [--port 8211] [--db sqlite:/caminho/arquivo.db |\n"
                 "                      --db \"postgres:host=... port=... user=... dbname=... [schema=...]\"] [--threads N]\n"
                 "                      [--db-connections N]\n"
                 "  exp_appserver demo --db ... [--entries N] [--seed S]\n");
    return 2;
}

bool toInt(const QString& s, int lo, int hi, int& out)
{
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    if (!ok || v < lo || v > hi) return false;
    out = int(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // SIGTERM and SIGINT are taken by one waiting thread, not by whatever thread they hit.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGINT);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return usage();
    const QString cmd = args.takeFirst();
    if (cmd != "serve" && cmd != "demo") return usage("comando desconhecido");

    server::ServerOptions opt;
    QString dbText = "sqlite:exp01800.db";
    bool dbGiven = false;
    server::DemoOptions demo;
    int seed = 1;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == "--db" && value(v)) { dbText = v; dbGiven = true; }
        else if (cmd == "serve" && a == "--listen" && value(v)) opt.listen = v;
        else if (cmd == "serve" && a == "--port" && value(v)) { if (!toInt(v, 0, 65535, opt.port)) return usage("porta inválida"); }
        else if (cmd == "serve" && a == "--threads" && value(v)) { if (!toInt(v, 1, 1024, opt.threads)) return usage("--threads inválido"); }
        else if (cmd == "serve" && a == "--db-connections" && value(v)) { if (!toInt(v, 1, 256, opt.dbConnections)) return usage("--db-connections inválido"); }
        else if (cmd == "demo" && a == "--entries" && value(v)) { if (!toInt(v, 0, 10000000, demo.entries)) return usage("--entries inválido"); }
        else if (cmd == "demo" && a == "--seed" && value(v)) { if (!toInt(v, 0, 2147483647, seed)) return usage("--seed inválido"); }
        else return usage(qPrintable("opção inválida: " + a));
    }
    if (cmd == "demo" && !dbGiven) return usage("demo precisa de --db");
    demo.seed = quint64(seed);

    try {
        server::Database db(server::DbConfig::parse(dbText));
        const int before = server::migrateSchema(db);
        if (before < server::kSchemaVersion)
            std::fprintf(stderr, "schema %s: versão %d -> %d\n", qPrintable(db.config().describe()), before, server::kSchemaVersion);
        if (cmd == "demo") {
            server::generateDemo(db, demo);
            std::fprintf(stderr, "dados de demonstração gravados: %d lançamentos (semente %d)\n", demo.entries, seed);
            return 0;
        }
        db.closeThreadConnection();  // from here on only the server's database workers hold connections
        server::AppServer srv(db, opt);
        srv.bind();
        std::fprintf(stderr, "exp_appserver escutando em %s:%d (%s, %d threads, %d conexões ao banco)\n",
                     qPrintable(opt.listen), srv.port(), qPrintable(db.config().describe()), opt.threads, opt.dbConnections);
        std::thread waiter([&srv, sigs] {
            int sig = 0;
            sigwait(&sigs, &sig);
            std::fprintf(stderr, "sinal %d: encerrando após as chamadas em andamento\n", sig);
            srv.stop();
        });
        srv.run();
        // run() returned: either a signal stopped it, or listening failed. Wake the waiter either way.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        std::fprintf(stderr, "exp_appserver encerrado\n");
        return 0;
    } catch (const server::InternalError& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        if (!e.detail().isEmpty()) std::fprintf(stderr, "  %s\n", qPrintable(e.detail()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        return 1;
    }
}
