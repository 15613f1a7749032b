#pragma once
// Export of a grid's rows as the user sees them: the shown columns with their
// titles, in the grid's row order (its sort included), the texts of the
// cells as drawn (statuses as words, dates dd/mm/aaaa, decimal commas).
//
//  - CSV: UTF-8 with a byte-order mark, ';' between fields, CRLF between
//    rows, a field quoted when it holds ';', '"' or a line break; what
//    spreadsheets set up for Brazil open without an import dialog.
//  - XLSX (libxlsxwriter, written row by row in constant memory): dates as
//    date cells (dd/mm/aaaa), numbers as number cells with the field's
//    display format, everything else, and every field with a text handler or
//    an edit mask, as the text shown.
//
// Both throw core::Error with the reason when the file cannot be written; a
// failed export leaves no partial file under the chosen name.

#include <QString>
#include <QStringList>

namespace host {

class DBGrid;

enum class ExportFormat { Csv, Xlsx };

/// The format a file name asks for (".xlsx" or else CSV).
ExportFormat exportFormatFor(const QString& path);

/// Writes the grid's rows to `path`; columns bound to a field listed in
/// `skipFields` (letter case ignored) are left out. Returns the rows written.
int exportGrid(const DBGrid& grid, const QString& path, ExportFormat format, const QStringList& skipFields = {});

} // namespace host
