// bench_listtools [rows]: a grid over `rows` entries shaped like the entry
// list (distinct client names, 30 dates, a status shown as a word through a
// text handler, a value with a display format), offscreen. Reports the time
// of sorting by each kind of column (both directions) and of exporting the
// sorted grid to CSV and to XLSX, with the files' sizes. Sorts report the
// wall time and the main thread's CPU time.

#include "host/dbgrid.h"
#include "host/gridexport.h"

#include "client/clientdataset.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {
// The CPU time of this thread: on a machine shared with other work the wall
// time swells with the load, this does not.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;

    core::ClientDataset ds("cdsLanctoNF");
    ds.addString("IDCHECK", 1, "4", true, true);
    ds.addDateTime("DTENTRSAID", "Data Lancto.");
    ds.addString("NRLANCTONF", 10, "Lancto. NF");
    ds.addString("NMRAZSOCCLIE", 50, "Cliente/Filial Destino");
    ds.addString("NRNOTAFISC", 20, "Nr. NF");
    ds.addFloat("VRTOTAL", "Vr. Total", true, "#,##0.00");
    ds.addString("IDSTATUS", 1, "Status");
    ds.fieldByName("IDSTATUS").setOnGetText([](core::Field& f, QString& t, bool) {
        const QString c = f.asString();
        t = c == "P" ? QStringLiteral("Pendente") : c == "E" ? QStringLiteral("Emitida") : QStringLiteral("Cancelada");
    });
    core::DataPacket p(QList<core::FieldDef>{{"IDCHECK", core::FieldType::String, 1, true},
                                             {"DTENTRSAID", core::FieldType::DateTime},
                                             {"NRLANCTONF", core::FieldType::String, 10},
                                             {"NMRAZSOCCLIE", core::FieldType::String, 50},
                                             {"NRNOTAFISC", core::FieldType::String, 20},
                                             {"VRTOTAL", core::FieldType::Float},
                                             {"IDSTATUS", core::FieldType::String, 1}});
    p.rows().reserve(size_t(rows));
    const double today = core::Date::today().days;
    static const char* const names[] = {"Álvaro", "Zé", "Bruna", "Érica", "carlos", "Ângela", "Otávio", "Ícaro"};
    for (int i = 0; i < rows; ++i) {
        // Scrambled so no column arrives in order.
        const int k = int((quint64(i) * 2654435761u) % quint64(rows));
        p.rows().push_back({core::Variant(QString(i % 3 ? "N" : "S")), core::Variant(core::Date{today - k % 30}),
                            core::Variant(QString::number(1000000 + i)),
                            core::Variant(QStringLiteral("%1 Comércio de Alimentos %2").arg(names[k % 8]).arg(k)),
                            core::Variant(QString::number(300000 + k)), core::Variant(k * 3.25),
                            core::Variant(QString(k % 4       ? "P"
                                                      : k % 8 ? "E"
                                                              : "C"))});
    }
    ds.loadFromPacket(p);
    core::DataSource dts("dtsLanctoNF");
    dts.setDataSet(&ds);
    host::DBGrid grid("dbgPadrao");
    grid.resize(900, 500);
    grid.setDataSource(&dts);
    grid.setSortable(true, {"IDCHECK"});

    std::printf("rows %d\n", rows);
    QElapsedTimer t;
    const struct {
        const char* what;
        int col;
    } sorts[] = {{"client name (text, collated)", 3},
                 {"invoice number (digits as text)", 4},
                 {"entry date", 1},
                 {"value (float)", 5},
                 {"status (word through a text handler)", 6}};
    for (const auto& s : sorts) {
        for (Qt::SortOrder o : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            t.start();
            const double cpu0 = threadCpuMs();
            grid.sortByColumn(s.col, o);
            std::printf("sort by %-38s %s: %7.1f ms (CPU %7.1f ms)\n", s.what,
                        o == Qt::AscendingOrder ? "asc " : "desc", t.nsecsElapsed() / 1e6, threadCpuMs() - cpu0);
        }
    }
    grid.sortByColumn(3, Qt::AscendingOrder);

    QTemporaryDir dir;
    for (host::ExportFormat f : {host::ExportFormat::Csv, host::ExportFormat::Xlsx}) {
        const QString path = dir.filePath(f == host::ExportFormat::Csv ? "lista.csv" : "lista.xlsx");
        t.start();
        const int n = host::exportGrid(grid, path, f, {"IDCHECK"});
        std::printf("export %s: %d rows in %.2f s, %.1f MB\n", f == host::ExportFormat::Csv ? "CSV " : "XLSX", n,
                    t.nsecsElapsed() / 1e9, QFileInfo(path).size() / 1e6);
    }
    return 0;
}
