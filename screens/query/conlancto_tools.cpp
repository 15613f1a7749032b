// What every list screen offers around the screen's own behaviour: sorting
// by a title click, the counts in the status line, the reasons shown on
// blocked check cells, and exporting the visible grid. None of it changes
// the data, the ticks, the counters or what goes to the server.

#include "conlancto.h"

#include <host/gridexport.h>
#include <host/guideviewer.h>

#include <core/errors.h>
#include <client/hostapi.h>
#include <client/hostservices.h>

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLocale>
#include <QSettings>
#include <QTimer>

using namespace core;
using namespace cli_exp01800;

namespace {

const QString kIdCheck = QStringLiteral("IDCHECK");

QString brNumber(qint64 n)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(n);
}

} // namespace

void TfrmConLancto::buildListTools()
{
    // Sorting: every column but the check column, whose title ticks all.
    dbgPadrao->setSortable(true, {kIdCheck});
    dbgItensNf->setSortable(true, {kIdCheck});
    dbgItemEst->setSortable(true);

    // Counts, at the right of the status line; refreshed once the running
    // handler is done (its counters are final then).
    lblContagem = new QLabel(panNavigator);
    lblContagem->setObjectName(QStringLiteral("lblContagem"));
    lblContagem->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (auto* lay = qobject_cast<QHBoxLayout*>(panNavigator->layout()))
        lay->addWidget(lblContagem);
    countTimer_ = new QTimer(this);
    countTimer_->setSingleShot(true);
    countTimer_->setInterval(0);
    connect(countTimer_, &QTimer::timeout, this, &TfrmConLancto::updateCounts);
    for (ClientDataset* ds : {cdsLanctoNF, cdsItensLanctoNF, cdsItLanctoEst}) {
        connect(ds, &ClientDataset::dataChanged, countTimer_, qOverload<>(&QTimer::start));
        connect(ds, &ClientDataset::stateChanged, countTimer_, qOverload<>(&QTimer::start));
    }
    connect(pgcPadrao, &QTabWidget::currentChanged, countTimer_, qOverload<>(&QTimer::start));

    // Why a check cell refuses the tick.
    dbgPadrao->onCellHint = [this](const host::Column& c) {
        return c.fieldName.compare(kIdCheck, Qt::CaseInsensitive) == 0 ? blockedReason() : QString();
    };
    dbgItensNf->onCellHint = [this](const host::Column& c) {
        if (c.fieldName.compare(kIdCheck, Qt::CaseInsensitive) != 0)
            return QString();
        // Items follow their entry, the current row of the entry list.
        const QString why = blockedReason();
        return why.isEmpty() ? why : QStringLiteral("Itens de lançamento bloqueado. %1").arg(why);
    };

    // Export of the grid on the page shown.
    mnuExportar =
        addMenuAction(mnuOperacao, "mnuExportar", QStringLiteral("E&xportar..."), QKeySequence(Qt::CTRL | Qt::Key_E));
    mnuExportar->setToolTip(QStringLiteral("Exportar a lista para planilha (%1)")
                                .arg(mnuExportar->shortcut().toString(QKeySequence::NativeText)));
    connect(mnuExportar, &QAction::triggered, this, [this] { dispatch([this] { mnuExportarClick(); }); });
    updateCounts();
}

QString TfrmConLancto::blockedReason() const
{
    if (!entryBlocked())
        return {};
    const QString st = cdsLanctoNF->fieldByName("IDSTATUS").displayText();
    const QString nfe = cdsLanctoNF->fieldByName("IDSTATUSNFE").displayText();
    const QString code = cdsLanctoNF->fieldByName("IDSTATUS").asString();
    const bool byStatus = code == "A" || code == "C" || code == "E" || code == "L";
    if (byStatus)
        return QStringLiteral("Não pode ser marcado: lançamento com status %1.").arg(st);
    return QStringLiteral("Não pode ser marcado: NF-e com status Sefaz %1.").arg(nfe);
}

QString TfrmConLancto::countsText() const
{
    const int entries = cdsLanctoNF->active() ? cdsLanctoNF->recordCount() : 0;
    QString text = QStringLiteral("Lançamentos: %1 | marcados: %2").arg(brNumber(entries), brNumber(inNotasMarcadas));
    const host::TabSheet* page = pgcPadrao->activePage();
    if (page == tshFormulario) {
        const int items = cdsItensLanctoNF->active() ? cdsItensLanctoNF->recordCount() : 0;
        text += QStringLiteral("    Itens: %1 | marcados: %2").arg(brNumber(items), brNumber(inItensMarcados));
    } else if (page == tshItemEst) {
        const int items = cdsItLanctoEst->active() ? cdsItLanctoEst->recordCount() : 0;
        text += QStringLiteral("    Itens de estoque: %1").arg(brNumber(items));
    }
    if (!loadNotice.isEmpty())
        text += QStringLiteral("    ") + loadNotice;
    return text;
}

void TfrmConLancto::updateCounts()
{
    if (lblContagem)
        lblContagem->setText(countsText());
}

void TfrmConLancto::scheduleCounts()
{
    if (countTimer_)
        countTimer_->start();
}

host::DBGrid* TfrmConLancto::visibleGrid() const
{
    const host::TabSheet* page = pgcPadrao->activePage();
    if (page == tshFormulario)
        return dbgItensNf;
    if (page == tshItemEst)
        return dbgItemEst;
    return dbgPadrao;
}

void TfrmConLancto::mnuExportarClick()
{
    host::DBGrid* grid = visibleGrid();
    ClientDataset* ds = grid->dataSet();
    if (!ds || !ds->active()) {
        MensInfo(QStringLiteral("Não há lista para exportar."));
        return;
    }
    // Remembered per user, beside the filter dialog's options.
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Exp01800"),
                       QStringLiteral("exportar"));
    const QString folder = settings.value(QStringLiteral("exportar/pasta"), QDir::homePath()).toString();
    const QString base = grid == dbgItensNf ? QStringLiteral("itens-nota-fiscal")
        : grid == dbgItemEst                ? QStringLiteral("itens-retirada-estoque")
                                            : QStringLiteral("lancamentos-expedicao");
    QFileDialog dlg(this, QStringLiteral("Exportar lista"), folder);
    dlg.setObjectName(QStringLiteral("dlgExportar"));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    const QString xlsx = QStringLiteral("Planilha do Excel (*.xlsx)");
    const QString csv = QStringLiteral("CSV separado por ponto e vírgula (*.csv)");
    dlg.setNameFilters({xlsx, csv});
    dlg.selectFile(base + QStringLiteral(".xlsx"));
    connect(&dlg, &QFileDialog::filterSelected, &dlg, [&](const QString& filter) {
        dlg.setDefaultSuffix(filter == csv ? QStringLiteral("csv") : QStringLiteral("xlsx"));
    });
    dlg.setDefaultSuffix(QStringLiteral("xlsx"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    const QString path = dlg.selectedFiles().constFirst();
    settings.setValue(QStringLiteral("exportar/pasta"), QFileInfo(path).absolutePath());
    core::host().pushBusyCursor();
    try {
        host::exportGrid(*grid, path, host::exportFormatFor(path), {kIdCheck});
    } catch (...) {
        core::host().popBusyCursor();
        throw;
    }
    core::host().popBusyCursor();
}

void TfrmConLancto::sbtAjudaClick()
{
    host::showGuide(QStringLiteral("qrc:/guia/guia-do-operador.md"),
                    QStringLiteral("Guia do operador - Cancelamento / Consulta Lançamentos"));
}
