#include "gridexport.h"

#include "dbgrid.h"

#include "client/clientdataset.h"
#include "core/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <xlsxwriter.h>

#include <vector>

namespace host {

namespace {

struct ExportColumn {
    QString title;
    core::Field* field = nullptr;
    enum Kind { Text, Number, Date } kind = Text;
    double width = 10; ///< characters
};

std::vector<ExportColumn> exportColumns(const DBGrid& grid, const QStringList& skip)
{
    std::vector<ExportColumn> out;
    const auto* model = grid.model();
    for (const Column& c : grid.columns()) {
        if (skip.contains(c.fieldName, Qt::CaseInsensitive))
            continue;
        ExportColumn e;
        e.field = c.field(grid);
        e.title = model->headerData(c.index, Qt::Horizontal, Qt::DisplayRole).toString();
        if (e.title.isEmpty())
            e.title = c.fieldName;
        if (e.field && !e.field->hasOnGetText() && e.field->editMask().isEmpty()) {
            switch (e.field->dataType()) {
            case core::FieldType::Integer:
            case core::FieldType::Float: e.kind = ExportColumn::Number; break;
            case core::FieldType::DateTime: e.kind = ExportColumn::Date; break;
            default: break;
            }
        }
        const int px = grid.columnWidth(c.index);
        e.width = std::max(6.0, px / 7.0);
        out.push_back(e);
    }
    return out;
}

QByteArray csvField(const QString& text)
{
    QByteArray b = text.toUtf8();
    if (b.contains(';') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

int writeCsv(const DBGrid& grid, const core::ClientDataset& ds, const std::vector<ExportColumn>& cols,
             const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw core::Error(QStringLiteral("Não foi possível criar o arquivo %1: %2").arg(path, file.errorString()));
    QByteArray buf;
    buf.reserve(1 << 20);
    buf.append("\xEF\xBB\xBF");
    for (size_t i = 0; i < cols.size(); ++i) {
        if (i)
            buf.append(';');
        buf.append(csvField(cols[i].title));
    }
    buf.append("\r\n");
    const int rows = ds.active() ? ds.recordCount() : 0;
    for (int v = 0; v < rows; ++v) {
        core::ClientDataset::DisplayRow shown(ds, grid.dataRow(v));
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i)
                buf.append(';');
            if (cols[i].field)
                buf.append(csvField(cols[i].field->displayText()));
        }
        buf.append("\r\n");
        if (buf.size() > (1 << 20) - 4096) {
            file.write(buf);
            buf.clear();
        }
    }
    file.write(buf);
    if (!file.commit())
        throw core::Error(QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(path, file.errorString()));
    return rows;
}

/// Excel number format of a "#,##0.00" display format (the same picture:
/// Excel shows it with the reader's own separators).
QByteArray excelNumberFormat(const core::Field& f)
{
    if (!f.displayFormat().isEmpty())
        return f.displayFormat().toUtf8();
    return f.dataType() == core::FieldType::Integer ? QByteArray("0") : QByteArray("General");
}

int writeXlsx(const DBGrid& grid, const core::ClientDataset& ds, const std::vector<ExportColumn>& cols,
              const QString& path)
{
    // Written beside the target and renamed at the end, so a failure never
    // leaves a half-written workbook under the chosen name.
    const int rows = ds.active() ? ds.recordCount() : 0;
    const int dataRowLimit = 1048575; // the sheet's last row after the titles
    if (rows > dataRowLimit)
        throw core::Error(QStringLiteral("Uma planilha comporta %1 linhas; a lista tem %2. Exporte em CSV.")
                              .arg(dataRowLimit)
                              .arg(rows));
    const QString tmp = path + QStringLiteral(".parcial");
    const QByteArray tmpName = QFile::encodeName(tmp);
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    const QByteArray tmpDir = QFile::encodeName(QFileInfo(path).absolutePath());
    options.tmpdir = const_cast<char*>(tmpDir.constData());
    lxw_workbook* wb = workbook_new_opt(tmpName.constData(), &options);
    if (!wb)
        throw core::Error(QStringLiteral("Não foi possível criar o arquivo %1.").arg(path));
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "dd/mm/yyyy");
    std::vector<lxw_format*> numFormats(cols.size(), nullptr);
    std::vector<QByteArray> utf8Titles;
    for (size_t i = 0; i < cols.size(); ++i) {
        if (cols[i].kind == ExportColumn::Number) {
            numFormats[i] = workbook_add_format(wb);
            format_set_num_format(numFormats[i], excelNumberFormat(*cols[i].field).constData());
        }
        worksheet_set_column(ws, lxw_col_t(i), lxw_col_t(i), cols[i].width, nullptr);
    }
    for (size_t i = 0; i < cols.size(); ++i)
        worksheet_write_string(ws, 0, lxw_col_t(i), cols[i].title.toUtf8().constData(), bold);
    for (int v = 0; v < rows; ++v) {
        const int row = grid.dataRow(v);
        core::ClientDataset::DisplayRow shown(ds, row);
        for (size_t i = 0; i < cols.size(); ++i) {
            const ExportColumn& c = cols[i];
            if (!c.field)
                continue;
            const lxw_row_t r = lxw_row_t(v + 1);
            const lxw_col_t k = lxw_col_t(i);
            if (c.kind != ExportColumn::Text) {
                const core::Variant val = c.field->value();
                if (val.isNull())
                    continue;
                if (c.kind == ExportColumn::Date)
                    worksheet_write_number(ws, r, k, double(val.toDate().wholeDays()), date);
                else
                    worksheet_write_number(ws, r, k, val.toDouble(), numFormats[i]);
            } else {
                const QString t = c.field->displayText();
                if (!t.isEmpty())
                    worksheet_write_string(ws, r, k, t.toUtf8().constData(), nullptr);
            }
        }
    }
    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
        QFile::remove(tmp);
        throw core::Error(
            QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(path, QString::fromUtf8(lxw_strerror(err))));
    }
    QFile::remove(path);
    if (!QFile::rename(tmp, path)) {
        QFile::remove(tmp);
        throw core::Error(QStringLiteral("Não foi possível gravar o arquivo %1.").arg(path));
    }
    return rows;
}

} // namespace

ExportFormat exportFormatFor(const QString& path)
{
    return path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ? ExportFormat::Xlsx : ExportFormat::Csv;
}

int exportGrid(const DBGrid& grid, const QString& path, ExportFormat format, const QStringList& skipFields)
{
    core::ClientDataset* ds = grid.dataSet();
    if (!ds)
        throw core::Error(QStringLiteral("A grade %1 não está ligada a dados.").arg(grid.objectName()));
    const std::vector<ExportColumn> cols = exportColumns(grid, skipFields);
    return format == ExportFormat::Xlsx ? writeXlsx(grid, *ds, cols, path) : writeCsv(grid, *ds, cols, path);
}

} // namespace host
