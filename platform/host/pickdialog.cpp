#include "pickdialog.h"

#include "hostglobals.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace host {

PickDialog::PickDialog(core::ClientDataset& ds, const QString& title, bool multi, QWidget* parent)
    : QDialog(parent), model_(this), proxy_(this), multi_(multi)
{
    setObjectName(multi ? QStringLiteral("frmPesquisaLista") : QStringLiteral("frmPesquisar"));
    setWindowTitle(title.trimmed().isEmpty() ? QStringLiteral("Pesquisar") : title);
    std::vector<core::DatasetModel::Column> columns = core::DatasetModel::visibleColumns(ds);
    if (multi) // the picker's own check column stands for the mark field
        std::erase_if(columns, [](const core::DatasetModel::Column& c) {
            return c.fieldName.compare(QLatin1String("IDMARCADO"), Qt::CaseInsensitive) == 0;
        });
    model_.setColumns(std::move(columns));
    model_.setMarkColumn(multi);
    model_.setDataSet(&ds);
    proxy_.setSourceModel(&model_);
    auto* lay = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* lbl = new QLabel(QStringLiteral("&Localizar:"), this);
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("edtLocalizar"));
    filter_->setClearButtonEnabled(true);
    lbl->setBuddy(filter_);
    top->addWidget(lbl);
    top->addWidget(filter_, 1);
    lay->addLayout(top);
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("dbgPesquisa"));
    view_->setModel(&proxy_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + Px(5));
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setTabKeyNavigation(false);
    if (multi)
        view_->setColumnWidth(0, Px(24));
    for (int c = multi ? 1 : 0; c < model_.columnCount(); ++c)
        view_->setColumnWidth(c, Px(110));
    lay->addWidget(view_, 1);
    if (multi) {
        auto* hint = new QLabel(QStringLiteral("Espaço ou clique marca e desmarca; Enter confirma."), this);
        hint->setEnabled(false);
        lay->addWidget(hint);
    }
    auto* box = new QDialogButtonBox(this);
    ok_ = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName(QStringLiteral("btnOK"));
    auto* cancel = box->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancelar"));
    lay->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& t) {
        proxy_.setNeedle(t);
        if (proxy_.rowCount() > 0 && !view_->currentIndex().isValid())
            view_->setCurrentIndex(proxy_.index(0, multi_ ? 1 : 0));
    });
    connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& i) {
        if (!multi_)
            accept();
        else if (i.column() != 0)
            model_.toggleMark(model_.dataRow(proxy_.mapToSource(i).row()));
    });
    view_->installEventFilter(this);
    filter_->installEventFilter(this);
    resize(Px(520), Px(360));
    const int start = ds.recNo();
    if (start >= 0)
        view_->setCurrentIndex(proxy_.mapFromSource(model_.index(model_.viewRow(start), multi ? 1 : 0)));
    view_->setFocus();
}

int PickDialog::currentSourceRow() const
{
    const QModelIndex i = view_->currentIndex();
    return i.isValid() ? model_.dataRow(proxy_.mapToSource(i).row()) : -1;
}

QList<int> PickDialog::markedRowsInOrder() const
{
    const std::vector<int> rows = model_.markedRows();
    return QList<int>(rows.begin(), rows.end());
}

bool PickDialog::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() != QEvent::KeyPress)
        return QDialog::eventFilter(o, e);
    auto* k = static_cast<QKeyEvent*>(e);
    if (o == view_) {
        if (multi_ && k->key() == Qt::Key_Space) {
            model_.toggleMark(currentSourceRow());
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
        // Typing goes to the filter: the list narrows to what matches.
        const QString t = k->text();
        if (!t.isEmpty() && t.at(0).isPrint() && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            filter_->setFocus();
            filter_->insert(t);
            return true;
        }
    } else if (o == filter_) {
        if (k->key() == Qt::Key_Down || k->key() == Qt::Key_Up || k->key() == Qt::Key_PageDown
            || k->key() == Qt::Key_PageUp) {
            view_->setFocus();
            QApplication::sendEvent(view_, e);
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(o, e);
}

} // namespace host
