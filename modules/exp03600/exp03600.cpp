#include "exp03600.h"

#include "entryreport.h"

#include <screens/query/conlancto.h>

#include <core/hostapi.h>
#include <core/hostservices.h>

#include <QCoreApplication>
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

void printEntryList()
{
    TfrmConLancto* form = openScreen();
    if (!form)
        MensErro(QStringLiteral("Não há tela de lançamentos aberta para imprimir."), true);
    if (form->cdsLanctoNF->isEmpty())
        MensErro(QStringLiteral("Não há lançamentos para imprimir."), true);

    exp03600::ReportHeader header;
    header.title = QStringLiteral("Lançamentos de Expedição");
    const QString nome = form->edtFilial->text().trimmed();
    header.subtitle = QStringLiteral("Filial %1").arg(form->medFilial->text()) +
                      (nome.isEmpty() ? QString() : QStringLiteral(" - ") + nome);

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
        pages = exp03600::writeEntryReport(*form->cdsLanctoNF, entryColumns(*form), header, path);
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

} // namespace

void IniProc()
{
    printEntryList();
}

void LoadProc(const Variant* params)
{
    const QString mode = params && !params->isNull() && !params->isArray() && !params->isPacket()
                             ? params->toString()
                             : QString();
    if (mode != QLatin1String("M"))
        MensErro(QStringLiteral("Impressão: parâmetro \"%1\" não reconhecido; o módulo EXP03600 imprime a lista de "
                                "lançamentos (\"M\").")
                     .arg(mode),
                 true);
    printEntryList();
}
