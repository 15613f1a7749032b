// bench_sefaz [queries] [delay-ms]: status queries one after another through
// the national port (mutual TLS, kept connections) against the loopback test
// authority answering after `delay` ms; total time against queries x delay.
// Then the same with no delay: the port's own cost per query.

#include <server/database.h>
#include <server/sefaznacional.h>
#include <tests/support/testsefaz.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int queries = argc > 1 ? std::atoi(argv[1]) : 200;
    const int delay = argc > 2 ? std::atoi(argv[2]) : 50;
    QTemporaryDir dir;
    testsupport::SefazRig rig;
    if (!rig.make(dir.path())) {
        std::fprintf(stderr, "bench_sefaz: %s\n", qPrintable(rig.error));
        return 1;
    }
    server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("bench.db")));
    const auto port = server::makeSefazPort("nacional", rig.configFile);
    const QString key = testsupport::nfeKey("35", int(testsupport::AuthorityCase::Authorised));
    const server::SefazQuery q{"2", testsupport::SefazRig::kSerial, key, "SP", "01", "35", "1", "110042490114"};

    auto run = [&](int delayMs) {
        rig.authority->delayMs = delayMs;
        const int handshakes = rig.authority->handshakes;
        const auto t0 = std::chrono::steady_clock::now();
        int good = 0;
        for (int i = 0; i < queries; ++i) {
            const server::SefazAnswer a = port->query(db, q);
            good += a.answered && a.code == 100;
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf(
            "%d queries, authority delay %d ms: %.3f s total, %.2f ms per query, %d answered 100, %d handshakes",
            queries, delayMs, secs, secs * 1000 / queries, good, rig.authority->handshakes - handshakes);
        if (delayMs > 0)
            std::printf(", %.3f x of %d x %d ms", secs / (queries * delayMs / 1000.0), queries, delayMs);
        std::printf("\n");
    };
    run(delay); // from a cold start: the first query pays the one handshake
    run(0);     // the port's own cost per query on the kept connection
    return 0;
}
