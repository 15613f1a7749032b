#include "widgethost.h"

#include "hostglobals.h"
#include "routines.h"

#include "client/clientdataset.h"
#include "core/errors.h"
#include "client/findsearch.h"
#include "client/hostapi.h"
#include "client/interruption.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace host {

namespace {

QWidget* dialogParent()
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    if (QWidget* w = QApplication::activeWindow())
        return w;
    return mainWindow();
}

// The arrow cursor while a dialog waits for the user, even inside a busy
// section; the busy cursor comes back when the dialog closes.
struct ArrowCursorScope {
    ArrowCursorScope() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowCursorScope() { QApplication::restoreOverrideCursor(); }
};

// Read-only view of a dataset's visible fields (plus an optional mark
// column in front); rows are read only when the view asks for them.
class DatasetModel : public QAbstractTableModel {
public:
    DatasetModel(core::ClientDataset& ds, bool markColumn, QObject* parent)
        : QAbstractTableModel(parent), ds_(ds), mark_(markColumn)
    {
        for (int i = 0; i < ds.fieldCount(); ++i) {
            const core::Field& f = ds.field(i);
            if (!f.visible())
                continue;
            if (markColumn && f.fieldName().compare(QLatin1String("IDMARCADO"), Qt::CaseInsensitive) == 0)
                continue; // the picker's own mark column stands for it
            fields_ << i;
        }
        marks_.assign(size_t(ds.recordCount()), false);
    }
    int rowCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : ds_.recordCount(); }
    int columnCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : int(fields_.size()) + (mark_ ? 1 : 0); }
    int fieldAt(int column) const { return fields_.value(column - (mark_ ? 1 : 0), -1); }
    QString text(int row, int column) const
    {
        const int f = fieldAt(column);
        if (f < 0)
            return {};
        try {
            core::ClientDataset::DisplayRow shown(ds_, row);
            return ds_.field(f).displayText();
        } catch (...) {
            return QStringLiteral("?");
        }
    }
    QVariant data(const QModelIndex& idx, int role) const override
    {
        if (!idx.isValid())
            return {};
        if (mark_ && idx.column() == 0) {
            if (role == Qt::CheckStateRole)
                return marks_[size_t(idx.row())] ? Qt::Checked : Qt::Unchecked;
            return {};
        }
        if (role == Qt::DisplayRole)
            return text(idx.row(), idx.column());
        if (role == Qt::TextAlignmentRole) {
            const int f = fieldAt(idx.column());
            if (f >= 0 && (ds_.field(f).dataType() == core::FieldType::Float || ds_.field(f).dataType() == core::FieldType::Integer))
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        }
        return {};
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override
    {
        if (o != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        if (mark_ && s == 0)
            return QString();
        const int f = fieldAt(s);
        return f >= 0 ? ds_.field(f).displayLabel() : QString();
    }
    Qt::ItemFlags flags(const QModelIndex& idx) const override
    {
        Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (mark_ && idx.column() == 0)
            fl |= Qt::ItemIsUserCheckable;
        return fl;
    }
    bool setData(const QModelIndex& idx, const QVariant& v, int role) override
    {
        if (!mark_ || idx.column() != 0 || role != Qt::CheckStateRole)
            return false;
        marks_[size_t(idx.row())] = v.toInt() == Qt::Checked;
        emit dataChanged(idx, idx);
        return true;
    }
    void toggle(int row)
    {
        if (row < 0 || row >= rowCount())
            return;
        marks_[size_t(row)] = !marks_[size_t(row)];
        emit dataChanged(index(row, 0), index(row, 0));
    }
    bool marked(int row) const { return marks_[size_t(row)]; }
    void setMarked(int row, bool on) { marks_[size_t(row)] = on; }
    bool hasMark() const { return mark_; }

private:
    core::ClientDataset& ds_;
    bool mark_;
    QList<int> fields_;
    std::vector<bool> marks_;
};

// Matches a row when any shown column contains the typed text.
class AnyColumnFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setNeedle(const QString& s)
    {
        needle_ = s.trimmed();
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override
    {
        if (needle_.isEmpty())
            return true;
        auto* m = static_cast<DatasetModel*>(sourceModel());
        for (int c = m->hasMark() ? 1 : 0; c < m->columnCount(); ++c)
            if (m->text(row, c).contains(needle_, Qt::CaseInsensitive))
                return true;
        return false;
    }

private:
    QString needle_;
};

// The pick and multi-pick dialog: a filter edit over a grid.
class PickDialog : public QDialog {
public:
    PickDialog(core::ClientDataset& ds, const QString& title, bool multi, QWidget* parent)
        : QDialog(parent), model_(ds, multi, this), proxy_(this), multi_(multi)
    {
        setObjectName(multi ? QStringLiteral("frmPesquisaLista") : QStringLiteral("frmPesquisar"));
        setWindowTitle(title.trimmed().isEmpty() ? QStringLiteral("Pesquisar") : title);
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
                model_.toggle(proxy_.mapToSource(i).row());
        });
        connect(view_, &QTableView::clicked, this, [this](const QModelIndex& i) {
            if (multi_ && i.column() == 0)
                return; // the check box toggles itself
        });
        view_->installEventFilter(this);
        filter_->installEventFilter(this);
        resize(Px(520), Px(360));
        const int start = ds.recNo();
        if (start >= 0)
            view_->setCurrentIndex(proxy_.mapFromSource(model_.index(start, multi ? 1 : 0)));
        view_->setFocus();
    }

    DatasetModel& model() { return model_; }
    /// The chosen source row, -1 when none.
    int currentSourceRow() const
    {
        const QModelIndex i = view_->currentIndex();
        return i.isValid() ? proxy_.mapToSource(i).row() : -1;
    }
    /// Source rows in the order shown.
    QList<int> markedRowsInOrder() const
    {
        QList<int> rows;
        for (int r = 0; r < model_.rowCount(); ++r)
            if (model_.marked(r))
                rows << r;
        return rows;
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress)
            return QDialog::eventFilter(o, e);
        auto* k = static_cast<QKeyEvent*>(e);
        if (o == view_) {
            if (multi_ && k->key() == Qt::Key_Space) {
                model_.toggle(currentSourceRow());
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
            if (k->key() == Qt::Key_Down || k->key() == Qt::Key_Up || k->key() == Qt::Key_PageDown || k->key() == Qt::Key_PageUp) {
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

private:
    DatasetModel model_;
    AnyColumnFilter proxy_;
    bool multi_;
    QLineEdit* filter_;
    QTableView* view_;
    QPushButton* ok_;
};

// Keys of a list string ('a','b'), for pre-marking a multi-pick.
QSet<QString> keysOf(const QString& list)
{
    QSet<QString> keys;
    for (const QString& part : list.split(u',', Qt::SkipEmptyParts)) {
        QString k = part.trimmed();
        if (k.size() >= 2 && k.startsWith(u'\'') && k.endsWith(u'\''))
            k = k.mid(1, k.size() - 2);
        keys.insert(k);
    }
    return keys;
}

} // namespace

// --- animation overlay --------------------------------------------------------------

class AnimationOverlay : public QWidget {
public:
    AnimationOverlay(QWidget* window, int kind, const QString& caption) : QWidget(window), caption_(caption)
    {
        setObjectName(QStringLiteral("aviShowAvi"));
        if (caption_.isEmpty())
            caption_ = kind == 1 ? QStringLiteral("Processando...") : QStringLiteral("Aguarde...");
        const int w = std::max(Px(220), fontMetrics().horizontalAdvance(caption_) + Px(32));
        // A call the operator may stop offers the button that stops it; one
        // that runs to its end once sent shows it disabled, saying why.
        const core::interruption::Offer offer = core::interruption::offer();
        if (offer.kind == core::interruption::Offer::Kind::None) {
            setAttribute(Qt::WA_TransparentForMouseEvents);
            resize(w, Px(64));
        } else {
            stop_ = new QPushButton(QStringLiteral("Interromper"), this);
            stop_->setObjectName(QStringLiteral("btnInterromper"));
            stop_->setFocusPolicy(Qt::NoFocus);
            if (offer.kind == core::interruption::Offer::Kind::Stop) {
                stop_->setToolTip(QStringLiteral("Interrompe a carga; a lista anterior continua como estava."));
                connect(stop_, &QPushButton::clicked, this, [this] {
                    if (core::interruption::request()) {
                        stop_->setEnabled(false);
                        stop_->setText(QStringLiteral("Interrompendo..."));
                    }
                });
            } else {
                stop_->setEnabled(false);
                stop_->setToolTip(offer.why);
            }
            core::interruption::allowInput(stop_);
            resize(w, Px(100));
            stop_->resize(std::max(stop_->sizeHint().width(), Px(110)), stop_->sizeHint().height());
            stop_->move((width() - stop_->width()) / 2, height() - stop_->height() - Px(8));
        }
        reposition();
        timer_.setInterval(40);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % 100;
            update();
        });
        timer_.start();
        window->installEventFilter(this);
        show();
        raise();
    }
    const QString& caption() const { return caption_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Resize)
            reposition();
        return QWidget::eventFilter(o, e);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(palette().color(QPalette::Mid));
        p.setBrush(palette().color(QPalette::Window));
        p.drawRoundedRect(r, 6, 6);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(0, Px(8), width(), Px(22)), Qt::AlignCenter, caption_);
        // A block sweeping back and forth along a track.
        const QRect track(Px(16), Px(40), width() - Px(32), Px(10));
        p.setPen(Qt::NoPen);
        p.setBrush(palette().color(QPalette::Midlight));
        p.drawRoundedRect(track, 4, 4);
        const int block = track.width() / 4;
        const int pos = step_ < 50 ? step_ : 100 - step_;
        p.setBrush(palette().color(QPalette::Highlight));
        p.drawRoundedRect(QRect(track.x() + (track.width() - block) * pos / 50, track.y(), block, track.height()), 4, 4);
    }

private:
    void reposition()
    {
        if (QWidget* w = parentWidget())
            move((w->width() - width()) / 2, (w->height() - height()) / 2);
    }
    QString caption_;
    QTimer timer_;
    int step_ = 0;
    QPushButton* stop_ = nullptr;
};

// --- the host -----------------------------------------------------------------------

WidgetHost::WidgetHost() = default;

WidgetHost::~WidgetHost()
{
    for (auto& a : anims_)
        delete a.overlay.data();
    while (busy_ > 0)
        popBusyCursor();
}

QString WidgetHost::caption(core::MsgKind kind)
{
    switch (kind) {
    case core::MsgKind::Information: return QStringLiteral("Informação");
    case core::MsgKind::Warning: return QStringLiteral("Atenção");
    case core::MsgKind::Question: return QStringLiteral("Confirmação");
    case core::MsgKind::Error: return QStringLiteral("Erro");
    }
    return {};
}

core::MsgButton WidgetHost::message(core::MsgKind kind, const QString& text, const QList<core::MsgButton>& buttons)
{
    ArrowCursorScope arrow;
    QMessageBox box(dialogParent());
    box.setObjectName(QStringLiteral("msgBox"));
    box.setWindowTitle(caption(kind));
    box.setText(text);
    switch (kind) {
    case core::MsgKind::Information: box.setIcon(QMessageBox::Information); break;
    case core::MsgKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case core::MsgKind::Question: box.setIcon(QMessageBox::Question); break;
    case core::MsgKind::Error: box.setIcon(QMessageBox::Critical); break;
    }
    QHash<QAbstractButton*, core::MsgButton> map;
    QAbstractButton* escape = nullptr;
    const QList<core::MsgButton> list = buttons.isEmpty() ? QList<core::MsgButton>{core::MsgButton::OK} : buttons;
    for (core::MsgButton b : list) {
        QString label;
        QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
        switch (b) {
        case core::MsgButton::OK: label = QStringLiteral("OK"); break;
        case core::MsgButton::Yes: label = QStringLiteral("&Sim"); role = QMessageBox::YesRole; break;
        case core::MsgButton::No: label = QStringLiteral("&Não"); role = QMessageBox::NoRole; break;
        case core::MsgButton::Cancel: label = QStringLiteral("Cancelar"); role = QMessageBox::RejectRole; break;
        case core::MsgButton::None: continue;
        }
        QPushButton* pb = box.addButton(label, role);
        pb->setObjectName(QStringLiteral("btn") + core::msgButtonName(b));
        map.insert(pb, b);
        if (map.size() == 1)
            box.setDefaultButton(pb);
        if (b == core::MsgButton::No || b == core::MsgButton::Cancel || (b == core::MsgButton::OK && !escape))
            escape = pb;
    }
    if (escape)
        box.setEscapeButton(escape);
    box.exec();
    return map.value(box.clickedButton(), core::MsgButton::None);
}

bool WidgetHost::pickRow(core::ClientDataset& ds, const QString& title, const QString& emptyText)
{
    if (!ds.active() || ds.isEmpty()) {
        message(core::MsgKind::Information, emptyText, {core::MsgButton::OK});
        return false;
    }
    ArrowCursorScope arrow;
    PickDialog dlg(ds, title, false, dialogParent());
    if (dlg.exec() != QDialog::Accepted)
        return false;
    const int row = dlg.currentSourceRow();
    if (row < 0)
        return false;
    ds.moveTo(row);
    return true;
}

bool WidgetHost::pickRows(core::ClientDataset& ds, const QString& keyField, const QString& title, QString& result)
{
    core::Field& key = ds.fieldByName(keyField);
    if (!ds.active() || ds.isEmpty()) {
        message(core::MsgKind::Information, QStringLiteral("Não há registros para pesquisar."), {core::MsgButton::OK});
        return false;
    }
    ArrowCursorScope arrow;
    PickDialog dlg(ds, title, true, dialogParent());
    // Rows already in the list come marked.
    const QSet<QString> before = keysOf(result);
    if (!before.isEmpty())
        for (int r = 0; r < ds.recordCount(); ++r)
            if (before.contains(ds.rawValue(r, key.index()).toString()))
                dlg.model().setMarked(r, true);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    QStringList keys;
    for (int r : dlg.markedRowsInOrder())
        keys << ds.rawValue(r, key.index()).toString();
    result = joinListString(keys);
    return true;
}

bool WidgetHost::askLogin(const QString& reason, QString& operador, QString& senha)
{
    ArrowCursorScope arrow;
    QDialog dlg(dialogParent());
    dlg.setObjectName(QStringLiteral("frmLogin"));
    dlg.setWindowTitle(QStringLiteral("Entrar no sistema"));
    auto* lay = new QVBoxLayout(&dlg);
    if (!reason.isEmpty()) {
        auto* why = new QLabel(reason, &dlg);
        why->setObjectName(QStringLiteral("lblMotivo"));
        why->setWordWrap(true);
        lay->addWidget(why);
    }
    auto* op = new QLineEdit(operador, &dlg);
    op->setObjectName(QStringLiteral("edtOperador"));
    op->setMaxLength(20);
    auto* pw = new QLineEdit(&dlg);
    pw->setObjectName(QStringLiteral("edtSenha"));
    pw->setEchoMode(QLineEdit::Password);
    pw->setMaxLength(256);
    for (auto [text, edit] : {std::pair{QStringLiteral("Operador:"), op}, std::pair{QStringLiteral("Senha:"), pw}}) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(text, &dlg);
        label->setMinimumWidth(70);
        label->setBuddy(edit);
        row->addWidget(label);
        row->addWidget(edit, 1);
        lay->addLayout(row);
    }
    auto* buttons = new QDialogButtonBox(&dlg);
    buttons->addButton(QStringLiteral("Entrar"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("btnEntrar"));
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("btnCancelar"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    lay->addWidget(buttons);
    (operador.isEmpty() ? op : pw)->setFocus();
    if (dlg.exec() != QDialog::Accepted)
        return false;
    operador = op->text().trimmed().toUpper();
    senha = pw->text();
    return true;
}

void WidgetHost::find(core::ClientDataset& ds)
{
    core::FindSearch search;
    for (int i = 0; i < ds.fieldCount(); ++i)
        if (ds.field(i).visible())
            search.columns.append({ds.field(i).fieldName(), ds.field(i).displayLabel()});
    find(ds, search);
}

void WidgetHost::find(core::ClientDataset& ds, core::FindSearch& search)
{
    if (!ds.active())
        return;
    ArrowCursorScope arrow;
    QDialog dlg(dialogParent());
    dlg.setObjectName(QStringLiteral("frmProcura"));
    dlg.setWindowTitle(QStringLiteral("Procurar"));
    auto* lay = new QVBoxLayout(&dlg);
    auto* form = new QHBoxLayout;
    auto* combo = new QComboBox(&dlg);
    combo->setObjectName(QStringLiteral("cbxCampo"));
    for (const core::FindColumn& c : search.columns)
        combo->addItem(c.title, c.fieldName);
    const int last = combo->findData(search.fieldName);
    if (last >= 0)
        combo->setCurrentIndex(last);
    auto* value = new QLineEdit(search.text, &dlg);
    value->setObjectName(QStringLiteral("edtValor"));
    value->selectAll();
    auto* campo = new QLabel(QStringLiteral("&Campo:"), &dlg);
    campo->setBuddy(combo);
    auto* valor = new QLabel(QStringLiteral("&Valor:"), &dlg);
    valor->setBuddy(value);
    form->addWidget(campo);
    form->addWidget(combo);
    form->addWidget(valor);
    form->addWidget(value, 1);
    lay->addLayout(form);
    auto* status = new QLabel(&dlg);
    status->setObjectName(QStringLiteral("lblStatus"));
    lay->addWidget(status);
    auto* box = new QDialogButtonBox(&dlg);
    auto* first = box->addButton(QStringLiteral("&Localizar"), QDialogButtonBox::ActionRole);
    first->setObjectName(QStringLiteral("btnLocalizar"));
    first->setDefault(true);
    auto* next = box->addButton(QStringLiteral("&Próximo"), QDialogButtonBox::ActionRole);
    next->setObjectName(QStringLiteral("btnProximo"));
    auto* close = box->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    lay->addWidget(box);
    QObject::connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    // The same search again goes on from the row after the current one; a
    // new one starts at the top. Either wraps around the end of the list.
    auto search1 = [&](bool forceNext) {
        const QString field = combo->currentData().toString();
        const QString typed = value->text().trimmed();
        if (typed.isEmpty() || field.isEmpty())
            return;
        const bool again = forceNext || (field == search.fieldName && typed == search.text);
        search.fieldName = field;
        search.text = typed;
        const int row = core::findRow(ds, field, typed, again ? ds.recNo() + 1 : 0);
        if (row < 0) {
            status->setText(QStringLiteral("\"%1\" não foi encontrado em %2.").arg(typed, combo->currentText()));
            return;
        }
        const bool wrapped = again && row <= ds.recNo();
        core::dispatch([&] { ds.moveTo(row); });
        status->setText(QStringLiteral("Registro %1 de %2%3.")
                            .arg(row + 1)
                            .arg(ds.recordCount())
                            .arg(wrapped ? QStringLiteral(" (voltou ao início)") : QString()));
    };
    QObject::connect(first, &QPushButton::clicked, &dlg, [&] { search1(false); });
    QObject::connect(next, &QPushButton::clicked, &dlg, [&] { search1(true); });
    dlg.resize(Px(460), dlg.sizeHint().height());
    dlg.exec();
}

bool WidgetHost::openDocument(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void WidgetHost::runModal(QObject& form)
{
    auto* dlg = qobject_cast<QDialog*>(&form);
    if (!dlg)
        throw core::Error(QStringLiteral("%1 não é um diálogo.").arg(form.objectName()));
    ArrowCursorScope arrow;
    dlg->exec();
}

void WidgetHost::startAnimation(QObject* owner, int kind, const QString& caption)
{
    Anim& a = anims_[owner];
    ++a.depth;
    if (a.depth > 1 || a.overlay)
        return;
    // Over the owner itself when it shows (an MDI screen, a dialog); else
    // over the main window (a hidden dialog working for a screen).
    QWidget* window = nullptr;
    if (auto* w = qobject_cast<QWidget*>(owner); w && w->isVisible())
        window = w;
    if (!window && mainWindow() && mainWindow()->isVisible())
        window = mainWindow();
    if (window)
        a.overlay = new AnimationOverlay(window, kind, caption);
    if (owner)
        a.ownerGone = QObject::connect(owner, &QObject::destroyed, &context_, [this, owner] {
            auto it = anims_.find(owner);
            if (it != anims_.end()) {
                delete it->overlay.data();
                anims_.erase(it);
            }
        });
}

void WidgetHost::stopAnimation(QObject* owner)
{
    auto it = anims_.find(owner);
    if (it == anims_.end())
        return; // not showing: nothing to do
    if (--it->depth > 0)
        return;
    QObject::disconnect(it->ownerGone);
    delete it->overlay.data();
    anims_.erase(it);
}

int WidgetHost::animationsShowing() const
{
    int n = 0;
    for (const auto& a : anims_)
        n += a.depth > 0 ? 1 : 0;
    return n;
}

void WidgetHost::pushBusyCursor()
{
    if (busy_++ == 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void WidgetHost::popBusyCursor()
{
    if (busy_ == 0)
        return;
    if (--busy_ == 0)
        QApplication::restoreOverrideCursor();
}

void WidgetHost::freezePainting(QWidget* window)
{
    if (!window)
        return;
    auto it = frozen_.find(window);
    if (it != frozen_.end()) {
        ++it->depth;
        return;
    }
    Frozen f;
    f.widget = window;
    f.depth = 1;
    f.wasEnabled = window->updatesEnabled();
    frozen_.insert(window, f);
    window->setUpdatesEnabled(false);
}

void WidgetHost::unfreezePainting(QWidget* window)
{
    auto it = frozen_.find(window);
    if (it == frozen_.end())
        return;
    if (--it->depth > 0)
        return;
    QPointer<QWidget> w = it->widget;
    const bool restore = it->wasEnabled;
    frozen_.erase(it);
    if (w && restore) {
        w->setUpdatesEnabled(true);
        w->update();
    }
}

} // namespace host
