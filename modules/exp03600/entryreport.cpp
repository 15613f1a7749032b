#include "entryreport.h"

#include <core/errors.h>

#include <QDateTime>
#include <QDir>
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

constexpr int kDpi = 72;  // one device unit is one point

struct Layout {
    QRect page;        ///< printable area
    int lineHeight = 0;
    int headerHeight = 0;  ///< title block and column headings
    int footerHeight = 0;
    int rowsPerPage = 1;
    std::vector<int> x;      ///< left edge of each column
    std::vector<int> widths;
};

Layout computeLayout(const QRect& page, const QFont& body, const QFont& title,
                     const std::vector<ReportColumn>& columns)
{
    Layout l;
    l.page = page;
    const QFontMetrics fm(body);
    const QFontMetrics tm(title);
    l.lineHeight = int(std::ceil(fm.height() * 1.35));
    // Title, subtitle, issue date, a gap, then the column headings.
    l.headerHeight = tm.height() + 3 * l.lineHeight + l.lineHeight / 2;
    l.footerHeight = 2 * l.lineHeight;
    const int body_h = page.height() - l.headerHeight - l.footerHeight;
    l.rowsPerPage = std::max(1, body_h / l.lineHeight);

    int total = 0;
    for (const ReportColumn& c : columns)
        total += std::max(1, c.width);
    int x = page.left();
    for (const ReportColumn& c : columns) {
        const int w = int(double(page.width()) * std::max(1, c.width) / std::max(1, total));
        l.x.push_back(x);
        l.widths.push_back(w);
        x += w;
    }
    return l;
}

void drawCell(QPainter& p, const QFontMetrics& fm, int x, int y, int w, int h, const QString& text,
              Qt::Alignment align)
{
    const int pad = 3;
    const QRect r(x + pad, y, std::max(1, w - 2 * pad), h);
    p.drawText(r, int(align | Qt::AlignVCenter), fm.elidedText(text, Qt::ElideRight, r.width()));
}

} // namespace

int writeEntryReport(const core::ClientDataset& ds, const std::vector<ReportColumn>& columns,
                     const ReportHeader& header, const QString& path)
{
    std::vector<const core::Field*> fields;
    for (const ReportColumn& c : columns) {
        const core::Field* f = ds.findField(c.fieldName);
        if (!f)
            throw core::Error(QStringLiteral("Relatório: o conjunto de dados %1 não tem o campo %2.")
                                  .arg(ds.objectName(), c.fieldName));
        fields.push_back(f);
    }

    QPdfWriter writer(path);
    writer.setResolution(kDpi);
    writer.setTitle(header.title);
    writer.setCreator(QStringLiteral("EXP03600"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(12, 12, 12, 12),
                                     QPageLayout::Millimeter));
    QPainter p;
    if (!p.begin(&writer))
        throw core::Error(QStringLiteral("Não foi possível gravar o relatório em %1.").arg(path));

    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPointSize(8);
    QFont bold = body;
    bold.setBold(true);
    QFont title = body;
    title.setPointSize(13);
    title.setBold(true);

    // The painter's origin is the top left corner inside the margins.
    const QRect area(QPoint(0, 0), writer.pageLayout().paintRectPixels(kDpi).size());
    const Layout l = computeLayout(area, body, title, columns);
    const int rows = ds.active() ? ds.recordCount() : 0;
    // The closing line "Total de lançamentos" needs one more line after the rows.
    const int pages = std::max(1, int(std::ceil(double(rows + 1) / l.rowsPerPage)));
    const QString issued = QStringLiteral("Emitido em %1")
                               .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));

    int row = 0;
    for (int page = 1; page <= pages; ++page) {
        if (page > 1 && !writer.newPage())
            throw core::Error(QStringLiteral("Não foi possível gravar o relatório em %1.").arg(path));

        // Title block.
        int y = l.page.top();
        p.setFont(title);
        const QFontMetrics tm(title);
        p.drawText(QRect(l.page.left(), y, l.page.width(), tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   header.title);
        y += tm.height();
        p.setFont(body);
        const QFontMetrics fm(body);
        p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   header.subtitle);
        p.drawText(QRect(l.page.left(), y, l.page.width(), l.lineHeight), Qt::AlignRight | Qt::AlignVCenter, issued);
        y += l.lineHeight + l.lineHeight / 2;

        // Column headings.
        p.setFont(bold);
        const QFontMetrics bm(bold);
        for (size_t c = 0; c < columns.size(); ++c)
            drawCell(p, bm, l.x[c], y, l.widths[c], l.lineHeight, columns[c].title, columns[c].alignment);
        y += l.lineHeight;
        p.drawLine(l.page.left(), y, l.page.right(), y);

        // Rows.
        p.setFont(body);
        int onPage = 0;
        for (; row < rows && onPage < l.rowsPerPage; ++row, ++onPage) {
            const core::ClientDataset::DisplayRow at(ds, row);
            for (size_t c = 0; c < columns.size(); ++c)
                drawCell(p, fm, l.x[c], y, l.widths[c], l.lineHeight, fields[c]->displayText(),
                         columns[c].alignment);
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
        throw core::Error(QStringLiteral("Não foi possível gravar o relatório em %1.").arg(path));
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
    return QDir::tempPath();
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
