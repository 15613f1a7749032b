// bench_grid [rows] [pages]: a DBGrid of 900 x 500 pixels over `rows` rows of
// ten columns (strings, dates, floats with display formats, a text handler
// and a draw hook, as the entry grid has), offscreen. Reports the time to
// bind and paint the first screen, the mean and worst time of a page-down
// with its repaint, a jump to the last row, and how many cells a frame paints.

#include "host/dbgrid.h"

#include "client/clientdataset.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScrollBar>
#include <QWindow>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int pages = argc > 2 ? std::atoi(argv[2]) : 300;

    core::ClientDataset ds("cdsLanctoNF");
    ds.addString("IDCHECK", 1, "4", true, true);
    ds.addString("CDFILIEMIT", 4, "Filial");
    ds.addDateTime("DTENTRSAID", "Data Lancto.");
    ds.addString("NRLANCTONF", 10, "Lancto. NF");
    ds.addString("NREXPEDICAO", 10, "Nr. Expedição");
    ds.addString("NMRAZSOCCLIE", 50, "Cliente/Filial Destino");
    ds.addString("NRNOTAFISC", 20, "Nr. NF");
    ds.addDateTime("DTEMISSAO", "Dt. Emissão");
    ds.addFloat("VRTOTAL", "Vr. Total", true, "#,##0.00");
    ds.addString("IDSTATUS", 1, "Status");
    ds.fieldByName("IDSTATUS").setOnGetText([](core::Field& f, QString& t, bool) {
        t = f.asString() == "P" ? QStringLiteral("Pendente") : QStringLiteral("Emitida");
    });
    core::DataPacket p(QList<core::FieldDef>{{"IDCHECK", core::FieldType::String, 1, true},
                                             {"CDFILIEMIT", core::FieldType::String, 4},
                                             {"DTENTRSAID", core::FieldType::DateTime},
                                             {"NRLANCTONF", core::FieldType::String, 10},
                                             {"NREXPEDICAO", core::FieldType::String, 10},
                                             {"NMRAZSOCCLIE", core::FieldType::String, 50},
                                             {"NRNOTAFISC", core::FieldType::String, 20},
                                             {"DTEMISSAO", core::FieldType::DateTime},
                                             {"VRTOTAL", core::FieldType::Float},
                                             {"IDSTATUS", core::FieldType::String, 1}});
    p.rows().reserve(size_t(rows));
    const double today = core::Date::today().days;
    for (int i = 0; i < rows; ++i)
        p.rows().push_back({core::Variant(QString(i % 3 ? "N" : "S")), core::Variant(QStringLiteral("0001")),
                            core::Variant(core::Date{today - i % 30}), core::Variant(QString::number(1000000 + i)),
                            core::Variant(QString::number(5000 + i / 20)),
                            core::Variant(QStringLiteral("Cliente de demonstração número %1").arg(i)),
                            core::Variant(QString::number(300000 + i)), core::Variant(core::Date{today - i % 30}),
                            core::Variant(i * 3.25), core::Variant(QString(i % 4 ? "P" : "E"))});
    ds.loadFromPacket(p);
    core::DataSource dts("dtsLanctoNF");
    dts.setDataSet(&ds);

    host::DBGrid grid("dbgPadrao");
    grid.resize(900, 500);
    grid.onDrawColumnCell = [&](QPainter& c, const QRect& r, int, const host::Column& col, host::GridDrawStates) {
        if (col.fieldName == QLatin1String("IDCHECK")) {
            c.fillRect(r, c.brush());
            if (ds.fieldByName("IDCHECK").asString() == QLatin1String("S"))
                c.drawRect(r.adjusted(4, 3, -4, -3));
        }
    };
    QElapsedTimer t;
    t.start();
    grid.setDataSource(&dts);
    grid.show();
    while (!grid.windowHandle() || !grid.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    grid.viewport()->repaint();
    const double first = t.nsecsElapsed() / 1e6;
    const qint64 cellsFirst = grid.cellPaintCount();

    std::vector<double> frames;
    frames.reserve(size_t(pages));
    for (int i = 0; i < pages; ++i) {
        t.restart();
        QScrollBar* sb = grid.verticalScrollBar();
        sb->setValue(sb->value() + sb->pageStep());
        grid.viewport()->repaint();
        frames.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    double sum = 0;
    for (double f : frames)
        sum += f;

    t.restart();
    ds.last();
    QCoreApplication::processEvents();
    grid.viewport()->repaint();
    const double jump = t.nsecsElapsed() / 1e6;

    std::printf("rows %d, columns %d, viewport %dx%d\n", rows, grid.model()->columnCount(), grid.viewport()->width(),
                grid.viewport()->height());
    std::printf("bind + first paint: %.1f ms (%lld cells painted)\n", first, (long long)cellsFirst);
    std::printf("page down + repaint over %d pages: mean %.2f ms, median %.2f ms, worst %.2f ms\n", pages,
                sum / frames.size(), frames[frames.size() / 2], frames.back());
    std::printf("jump to the last row + repaint: %.1f ms\n", jump);
    std::printf("cells painted per frame: %.0f\n", double(grid.cellPaintCount() - cellsFirst) / double(pages + 1));
    return 0;
}
