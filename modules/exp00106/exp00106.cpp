#include "exp00106.h"

#include <client/clientdataset.h>
#include <core/datapacket.h>
#include <client/hostapi.h>

#include <host/hostglobals.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace core;

namespace {

const QString kTitle = QStringLiteral("Acompanhamento do Cancelamento de Itens");

/// True when `candidate` is a client dataset alive in the application: one
/// owned by a window (a form's dataset) or by the application object. The
/// address arrives as a bare number, so it is never dereferenced before it
/// is found among the live objects.
bool isLiveDataset(quintptr candidate)
{
    auto matches = [candidate](QObject* root) {
        if (quintptr(root) == candidate && qobject_cast<ClientDataset*>(root))
            return true;
        for (ClientDataset* ds : root->findChildren<ClientDataset*>())
            if (quintptr(ds) == candidate)
                return true;
        return false;
    };
    for (QWidget* w : QApplication::topLevelWidgets())
        if (matches(w))
            return true;
    return qApp && matches(qApp);
}

/// One table cell per visible field and row, as the user would see them.
void fillTable(QTableWidget* table, const ClientDataset& ds)
{
    std::vector<const Field*> fields;
    QStringList titles;
    for (int i = 0; i < ds.fieldCount(); ++i) {
        const Field& f = ds.field(i);
        if (!f.visible())
            continue;
        fields.push_back(&f);
        titles << f.displayLabel();
    }
    const int rows = ds.active() ? ds.recordCount() : 0;
    table->setColumnCount(int(fields.size()));
    table->setHorizontalHeaderLabels(titles);
    table->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const ClientDataset::DisplayRow at(ds, r);
        for (size_t c = 0; c < fields.size(); ++c) {
            auto* item = new QTableWidgetItem(fields[c]->displayText());
            if (fields[c]->dataType() == FieldType::Float || fields[c]->dataType() == FieldType::Integer)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(r, int(c), item);
        }
    }
    table->resizeColumnsToContents();
}

/// The window showing the document. It holds a copy of the rows, so the
/// caller may free its dataset as soon as LoadProc returns.
void showDocument(const ClientDataset& ds)
{
    auto* dlg = new QDialog(host::mainWindow());
    dlg->setObjectName(QStringLiteral("frmDocumentoEXP00106"));
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(kTitle);

    const int rows = ds.active() ? ds.recordCount() : 0;
    auto* label = new QLabel(rows == 0 ? QStringLiteral("O documento não tem itens.")
                                       : QStringLiteral("Itens do documento: %1").arg(rows),
                             dlg);
    label->setObjectName(QStringLiteral("lblResumo"));

    auto* table = new QTableWidget(dlg);
    table->setObjectName(QStringLiteral("tblDocumento"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    fillTable(table, ds);

    auto* buttons = new QDialogButtonBox(dlg);
    QPushButton* close = buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);

    auto* lay = new QVBoxLayout(dlg);
    lay->addWidget(label);
    lay->addWidget(table, 1);
    lay->addWidget(buttons);
    dlg->resize(host::Px(760), host::Px(360));
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

void refuse(const QString& why)
{
    MensErro(QStringLiteral("%1: %2").arg(kTitle, why), true);
}

} // namespace

void IniProc()
{
    MensInfo(QStringLiteral("%1: nenhum documento foi recebido para exibir.").arg(kTitle));
}

void LoadProc(const Variant* params)
{
    if (!params || params->isNull())
        refuse(QStringLiteral("nenhum documento foi recebido."));
    const Variant& doc = params->isArray() ? (params->count() > 0 ? (*params)[0] : Variant()) : *params;

    if (doc.isPacket()) {
        // A packet travels with its own field definitions.
        ClientDataset ds(QStringLiteral("cdsDocumento"));
        for (const FieldDef& f : doc.packet().fields())
            ds.addField(f);
        if (ds.fieldCount() == 0)
            refuse(QStringLiteral("o documento recebido não tem campos."));
        ds.loadFromPacket(doc.packet());
        showDocument(ds);
        return;
    }
    if (doc.type() != Variant::Type::Integer)
        refuse(QStringLiteral("o parâmetro recebido não é o endereço de um documento (%1).")
                   .arg(Variant::typeName(doc.type())));
    const quintptr address = quintptr(doc.toInt());
    if (address == 0 || !isLiveDataset(address))
        refuse(QStringLiteral("o endereço recebido não corresponde a um documento aberto."));
    showDocument(*reinterpret_cast<const ClientDataset*>(address));
}
