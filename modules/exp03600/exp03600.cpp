#include "exp03600.h"

#include "entryreport.h"

#include <screens/query/conlancto.h>

#include <client/hostapi.h>
#include <client/hostservices.h>

#include <screens/filter/filtrocanc.h>

#include <host/hostglobals.h>

#include <QCoreApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#if defined(Q_OS_UNIX)
#include <dlfcn.h>
#endif

using namespace core;

namespace {

/// Folder this module was loaded from: the query module lies beside it.
QString ownFolder()
{
#if defined(Q_OS_UNIX)
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadProc), &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
#endif
    return QCoreApplication::applicationDirPath();
}

/// The open entry query screen, through the variable its module exports;
/// null when the module is not loaded or no screen is open. The module stays
/// loaded: the library handle is shared with whoever loaded it first.
TfrmConLancto* openScreen()
{
    QLibrary lib(QDir(ownFolder()).filePath(QStringLiteral("PKG_EXP01800")));
    auto** var = reinterpret_cast<TfrmConLancto**>(lib.resolve("frmConLancto"));
    return var ? *var : nullptr;
}

/// The filter dialog of that module, the same way; null before its first use.
TfrmFiltroCanc* filterDialog()
{
    QLibrary lib(QDir(ownFolder()).filePath(QStringLiteral("PKG_EXP01800")));
    auto** var = reinterpret_cast<TfrmFiltroCanc**>(lib.resolve("frmFiltroCanc"));
    return var ? *var : nullptr;
}

/// Columns of the printed list: the entry grid's, in its order, without the check mark.
std::vector<exp03600::ReportColumn> entryColumns(const TfrmConLancto& form)
{
    std::vector<exp03600::ReportColumn> cols;
    for (const host::Column& c : form.dbgPadrao->columns()) {
        if (c.fieldName.compare(QLatin1String("IDCHECK"), Qt::CaseInsensitive) == 0)
            continue;
        const Field* f = form.cdsLanctoNF->findField(c.fieldName);
        if (!f)
            continue;
        exp03600::ReportColumn rc;
        rc.fieldName = c.fieldName;
        rc.title = c.title.isEmpty() ? f->displayLabel() : c.title;
        // Codes and numbers show whole; status words are up to 11 letters;
        // long names get what the page has left.
        if (f->hasOnGetText())
            rc.chars = 11;
        else if (f->dataType() == FieldType::DateTime)
            rc.chars = 10;
        else if (f->dataType() == FieldType::String)
            rc.chars = std::min(f->size() > 0 ? f->size() : 10, 30);
        else
            rc.chars = 12;
        rc.alignment = (c.alignment & Qt::AlignRight) ? Qt::AlignRight : Qt::AlignLeft;
        cols.push_back(rc);
    }
    return cols;
}

QString dateText(const Variant& v)
{
    return v.isNull() ? QString() : v.toDate().toQDate().toString(QStringLiteral("dd/MM/yyyy"));
}

/// The filter in force, as the screen's last query used it: the period,
/// then routes, shipments and grade ("T" means no restriction of that kind).
QStringList filterLines(const TfrmConLancto& form)
{
    const TfrmFiltroCanc* dialog = filterDialog();
    if (!form.boFiltroAplicado || !dialog)
        return {QStringLiteral("Filtro: últimos dois dias, sem outras restrições")};
    const contracts::cancelnota::LanctoNFArgs& f = dialog->consulta;
    const auto text = [](const Variant& v) { return v.isNull() ? QString() : v.toString().trimmed(); };
    QStringList parts;
    parts << QStringLiteral("Período: %1 a %2").arg(dateText(f.dtInicial), dateText(f.dtFinal));
    parts << (text(f.stTodasRotas) == QLatin1String("T") ? QStringLiteral("Rotas: todas")
                                                         : QStringLiteral("Rotas: %1").arg(text(f.stRotas)));
    if (text(f.stSemIntervalo) != QLatin1String("T"))
        parts << QStringLiteral("Expedições: de %1 até %2").arg(text(f.stExpDe), text(f.stExpAte));
    else if (text(f.stTodasExpedicoes) != QLatin1String("T"))
        parts << QStringLiteral("Expedições: %1").arg(text(f.stExpedicoes));
    else
        parts << QStringLiteral("Expedições: todas");
    parts << (text(f.stGrade) == QLatin1String("T") || text(f.stGrade).isEmpty()
                  ? QStringLiteral("Grade: todas")
                  : QStringLiteral("Grade: %1").arg(text(f.stGrade)));
    return {parts.join(QStringLiteral("   "))};
}

struct Report {
    const TfrmConLancto* form = nullptr;
    std::vector<exp03600::ReportColumn> columns;
    exp03600::ReportHeader header;
    exp03600::RowOrder order;
};

Report buildReport(const TfrmConLancto& form)
{
    Report r;
    r.form = &form;
    r.columns = entryColumns(form);
    r.header.title = QStringLiteral("Lançamentos de Expedição");
    const QString nome = form.edtFilial->text().trimmed();
    r.header.subtitle = QStringLiteral("Filial %1").arg(form.medFilial->text())
        + (nome.isEmpty() ? QString() : QStringLiteral(" - ") + nome);
    r.header.details = filterLines(form);
    r.header.issuedBy = Operador().trimmed();
    // The lines in the order the grid shows them (its sort included).
    const host::DBGrid* grid = form.dbgPadrao;
    r.order = [grid](int line) { return grid->dataRow(line); };
    return r;
}

/// Writes the report as a PDF in the report folder and says where.
void savePdf(const Report& r)
{
    const QString folder = exp03600::reportFolder();
    const bool existed = QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder))
        MensErro(QStringLiteral("Não foi possível criar a pasta do relatório %1. Verifique se a sua pasta pessoal "
                                "pode ser gravada.")
                     .arg(folder),
                 true);
    if (!existed) // a folder made here is the user's alone
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString path = exp03600::newReportPath(folder);

    int pages = 0;
    {
        core::host().pushBusyCursor();
        ScopeExit cursor([] { core::host().popBusyCursor(); });
        pages = exp03600::writeEntryReport(*r.form->cdsLanctoNF, r.columns, r.header, path, r.order);
    }

    const bool shown = core::host().openDocument(path);
    MensInfo(QStringLiteral("Relatório gravado em %1 (%2 %3).%4")
                 .arg(QDir::toNativeSeparators(path))
                 .arg(pages)
                 .arg(pages == 1 ? QStringLiteral("página") : QStringLiteral("páginas"))
                 .arg(shown ? QString()
                            : QStringLiteral(" Não há visualizador de PDF configurado nesta área de trabalho; "
                                             "abra o arquivo com um leitor de PDF.")));
}

void printEntryList()
{
    TfrmConLancto* form = openScreen();
    if (!form)
        MensErro(QStringLiteral("Não há tela de lançamentos aberta para imprimir."), true);
    if (form->cdsLanctoNF->isEmpty())
        MensErro(QStringLiteral("Não há lançamentos para imprimir."), true);
    const Report report = buildReport(*form);

    // Qt's print preview: the pages as they will print, the system's
    // printers (and printing to a PDF file) behind its print button, plus
    // saving a PDF in the report folder in one click.
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("EXP03600 - Lançamentos de Expedição"));
    exp03600::setReportPage(printer);
    QPrintPreviewDialog dlg(&printer, form);
    dlg.setObjectName(QStringLiteral("frmVisualizaEXP03600"));
    dlg.setWindowTitle(QStringLiteral("Visualizar impressão - Lançamentos de Expedição"));
    QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&](QPrinter* p) {
        core::dispatch([&] {
            exp03600::paintEntryReport(*p, p->resolution(), *form->cdsLanctoNF, report.columns, report.header,
                                       report.order);
        });
    });
    if (auto* bar = dlg.findChild<QToolBar*>()) {
        bar->addSeparator();
        QAction* save = bar->addAction(QStringLiteral("Salvar PDF"));
        save->setObjectName(QStringLiteral("actSalvarPdf"));
        save->setToolTip(QStringLiteral("Salvar o relatório em PDF na pasta de relatórios"));
        if (QWidget* b = bar->widgetForAction(save))
            b->setObjectName(QStringLiteral("btnSalvarPdf"));
        QObject::connect(save, &QAction::triggered, &dlg, [&] { core::dispatch([&] { savePdf(report); }); });
    }
    dlg.resize(host::Px(900), host::Px(640));
    core::host().runModal(dlg);
}

} // namespace

void IniProc()
{
    printEntryList();
}

void LoadProc(const Variant* params)
{
    const QString mode =
        params && !params->isNull() && !params->isArray() && !params->isPacket() ? params->toString() : QString();
    if (mode != QLatin1String("M"))
        MensErro(QStringLiteral("Impressão: parâmetro \"%1\" não reconhecido; o módulo EXP03600 imprime a lista de "
                                "lançamentos (\"M\").")
                     .arg(mode),
                 true);
    printEntryList();
}
