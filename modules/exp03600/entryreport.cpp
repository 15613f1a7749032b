#include "entryreport.h"

#include <core/errors.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace exp03600 {

namespace {

constexpr int kDpi = 72; // one device unit is one point

struct Layout {
    QRect page; ///< printable area
    int lineHeight = 0;
    int headerHeight = 0; ///< title block and column headings
    int footerHeight = 0;
    int rowsPerPage = 1;
    std::vector<int> x; ///< left edge of each column
    std::vector<int> widths;
};

Layout computeLayout(const QRect& page, const QFontMetrics& fm, const QFontMetrics& bm, const QFontMetrics& tm,
                     const std::vector<ReportColumn>& columns, int details)
{
    Layout l;
    l.page = page;
    l.lineHeight = int(std::ceil(fm.height() * 1.3));
    // Title, subtitle, detail lines, a gap, then the column headings.
    l.headerHeight = tm.height() + l.lineHeight * (1 + details) + l.lineHeight / 2 + l.lineHeight;
    l.footerHeight = 2 * l.lineHeight;
    const int bodyHeight = page.height() - l.headerHeight - l.footerHeight;
    // One line more than the rows: the closing total shares the body.
    l.rowsPerPage = std::max(1, bodyHeight / l.lineHeight);

    // Each column as wide as its title and its typical text; the widest
    // column takes what is left of the page, or all shrink to fit it.
    const int pad = 8;
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    std::vector<int> natural;
    int total = 0;
    for (const ReportColumn& c : columns) {
        const int w = std::max(bm.horizontalAdvance(c.title), digit * std::max(1, c.chars)) + pad;
        natural.push_back(w);
        total += w;
    }
    if (total < page.width() && !natural.empty()) {
        const auto widest = std::max_element(natural.begin(), natural.end()) - natural.begin();
        natural[size_t(widest)] += page.width() - total;
        total = page.width();
    }
    int x = page.left();
    for (int w : natural) {
        const int scaled = total > page.width() ? int(double(w) * page.width() / total) : w;
        l.x.push_back(x);
        l.widths.push_back(scaled);
        x += scaled;
    }
    return l;
}

void drawCell(QPainter& p, const QFontMetrics& fm, int x, int y, int w, int h, const QString& text, Qt::Alignment align)
{
    const int pad = 3;
    const QRect r(x + pad, y, std::max(1, w - 2 * pad), h);
    p.drawText(r, int(align | Qt::AlignVCenter), fm.elidedText(text, Qt::ElideRight, r.width()));
}

} // namespace

void setReportPage(QPagedPaintDevice& device)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(12, 12, 12, 12),
                                     QPageLayout::Millimeter));
}

int writeEntryReport(const core::ClientDataset& ds, const std::vector<ReportColumn>& columns,
                     const ReportHeader& header, const QString& path, const RowOrder& order)
{
    for (const ReportColumn& c : columns)
        if (!ds.findField(c.fieldName))
            throw core::Error(QStringLiteral("Relatório: o conjunto de dados %1 não tem o campo %2.")
                                  .arg(ds.objectName(), c.fieldName));
    // Created readable by its owner alone before anything is written into it.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw core::Error(QStringLiteral("Não foi possível gravar o relatório em %1: %2. Verifique se a pasta existe e "
                                         "se há espaço em disco.")
                              .arg(path, file.errorString()));
    QPdfWriter writer(&file);
    writer.setResolution(kDpi);
    writer.setTitle(header.title);
    writer.setCreator(QStringLiteral("EXP03600"));
    setReportPage(writer);
    try {
        return paintEntryReport(writer, kDpi, ds, columns, header, order);
    } catch (const core::Error&) {
        throw core::Error(QStringLiteral("Não foi possível gravar o relatório em %1.").arg(path));
    }
}

int paintEntryReport(QPagedPaintDevice& device, int dpi, const core::ClientDataset& ds,
                     const std::vector<ReportColumn>& columns, const ReportHeader& header, const RowOrder& order)
{
    std::vector<const core::Field*> fields;
    for (const ReportColumn& c : columns) {
        const core::Field* f = ds.findField(c.fieldName);
        if (!f)
            throw core::Error(QStringLiteral("Relatório: o conjunto de dados %1 não tem o campo %2.")
                                  .arg(ds.objectName(), c.fieldName));
        fields.push_back(f);
    }
    QPainter p;
    if (!p.begin(&device))
        throw core::Error(QStringLiteral("Não foi possível iniciar a impressão do relatório."));

    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPointSize(8);
    QFont bold = body;
    bold.setBold(true);
    QFont title = body;
    title.setPointSize(13);
    title.setBold(true);

    // The painter's origin is the top left corner inside the margins; fonts
    // are measured on the device, not on the screen.
    const QRect area(QPoint(0, 0), device.pageLayout().paintRectPixels(dpi).size());
    const QFontMetrics fm(body, &device);
    const QFontMetrics bm(bold, &device);
    const QFontMetrics tm(title, &device);
    const Layout l = computeLayout(area, fm, bm, tm, columns, int(header.details.size()));
    const int rows = ds.active() ? ds.recordCount() : 0;
    // The closing line "Total de lançamentos" needs one more line after the rows.
    const int pages = std::max(1, int(std::ceil(double(rows + 1) / l.rowsPerPage)));
    QString issued =
        QStringLiteral("Emitido em %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
    if (!header.issuedBy.isEmpty())
        issued += QStringLiteral(" por %1").arg(header.issuedBy);
    const int pen = std::max(1, dpi / 72);
    p.setPen(QPen(Qt::black, pen));

    int row = 0;
    for (int page = 1; page <= pages; ++page) {
        if (page > 1 && !device.newPage())
            throw core::Error(QStringLiteral("Não foi possível gravar a página %1 do relatório.").arg(page));

        // Title block.
        int y = l.page.top();
        p.setFont(title);
        p.drawText(QRect(l.page.left(), y, l.page.width(), tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   header.title);
        y += tm.height();
        p.setFont(body);
        p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   header.subtitle);
        p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignRight | Qt::AlignVCenter, issued);
        y += l.lineHeight;
        for (const QString& d : header.details) {
            p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       fm.elidedText(d, Qt::ElideRight, l.page.width()));
            y += l.lineHeight;
        }
        y += l.lineHeight / 2;

        // Column headings.
        p.setFont(bold);
        for (size_t c = 0; c < columns.size(); ++c)
            drawCell(p, bm, l.x[c], y, l.widths[c], l.lineHeight, columns[c].title, columns[c].alignment);
        y += l.lineHeight;
        p.drawLine(l.page.left(), y, l.page.right(), y);

        // Rows.
        p.setFont(body);
        int onPage = 0;
        for (; row < rows && onPage < l.rowsPerPage; ++row, ++onPage) {
            const core::ClientDataset::DisplayRow at(ds, order ? order(row) : row);
            for (size_t c = 0; c < columns.size(); ++c)
                drawCell(p, fm, l.x[c], y, l.widths[c], l.lineHeight, fields[c]->displayText(), columns[c].alignment);
            y += l.lineHeight;
        }
        if (row == rows && onPage < l.rowsPerPage) {
            p.drawLine(l.page.left(), y, l.page.right(), y);
            p.setFont(bold);
            p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("Total de lançamentos: %1").arg(rows));
            p.setFont(body);
        }

        // Foot.
        const int footY = l.page.bottom() - l.lineHeight;
        p.drawText(QRect(l.page.left(), footY, l.page.width(), l.lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("Página %1 de %2").arg(page).arg(pages));
    }
    if (!p.end())
        throw core::Error(QStringLiteral("Não foi possível concluir a impressão do relatório."));
    return pages;
}

QString reportFolder()
{
    const QString env = qEnvironmentVariable("EXP_REPORT_DIR");
    if (!env.isEmpty())
        return env;
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!docs.isEmpty() && QFileInfo(docs).isDir())
        return docs;
    // Never a shared temporary folder: the list names customers.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("relatorios"));
}

QString newReportPath(const QString& folder)
{
    const QDir dir(folder);
    const QString stem = QStringLiteral("EXP03600_") + QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss");
    QString path = dir.filePath(stem + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir.filePath(QStringLiteral("%1_%2.pdf").arg(stem).arg(n));
    return path;
}

} // namespace exp03600
