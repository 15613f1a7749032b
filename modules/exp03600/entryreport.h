#pragma once
// The printed entry list: a PDF with a title block, column headings and one
// line per row of a dataset, paged, with "Página n de m" at the foot of every
// page and the row count at the end. Texts are the fields' display texts (the
// screen's status words included), read row by row without moving the
// dataset's cursor.

#include <client/clientdataset.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPagedPaintDevice;

namespace exp03600 {

struct ReportColumn {
    QString fieldName;
    QString title;
    int chars = 10; ///< characters the column should show whole
    Qt::Alignment alignment = Qt::AlignLeft;
};

struct ReportHeader {
    QString title;       ///< first line, bold
    QString subtitle;    ///< second line (branch)
    QStringList details; ///< further lines under it (period and filter in force)
    QString issuedBy;    ///< operator named after the time of printing; empty names nobody
};

/// Which dataset position is printed as the n-th line (the order the grid
/// shows); empty prints the dataset's order.
using RowOrder = std::function<int(int line)>;

/// Paints the report on a paged device (a printer, a preview, a PDF writer)
/// whose page layout is already set, and returns the number of pages.
/// Throws core::Error as writeEntryReport does.
int paintEntryReport(QPagedPaintDevice& device, int dpi, const core::ClientDataset& ds,
                     const std::vector<ReportColumn>& columns, const ReportHeader& header, const RowOrder& order = {});

/// A4 landscape with 12 mm margins, the report's page.
void setReportPage(QPagedPaintDevice& device);

/// Writes the report of `ds` to `path` (A4 landscape) and returns the number
/// of pages. A closed dataset prints no rows. Throws core::Error when the
/// file cannot be written or a column names a field the dataset lacks.
int writeEntryReport(const core::ClientDataset& ds, const std::vector<ReportColumn>& columns,
                     const ReportHeader& header, const QString& path, const RowOrder& order = {});

/// Folder the module writes to: $EXP_REPORT_DIR when set, else the user's
/// documents folder when it exists, else "relatorios" in the user's own
/// application data folder (never a shared temporary folder).
QString reportFolder();

/// A new file name in `folder`: EXP03600_<yyyyMMdd_HHmmss>.pdf, with a
/// counter added when that name is taken.
QString newReportPath(const QString& folder);

} // namespace exp03600
