#include "widgethost.h"

#include "animationoverlay.h"
#include "hostglobals.h"
#include "pickdialog.h"
#include "routines.h"

#include "client/clientdataset.h"
#include "core/errors.h"
#include "client/findsearch.h"
#include "client/hostapi.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
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
        case core::MsgButton::Yes:
            label = QStringLiteral("&Sim");
            role = QMessageBox::YesRole;
            break;
        case core::MsgButton::No:
            label = QStringLiteral("&Não");
            role = QMessageBox::NoRole;
            break;
        case core::MsgButton::Cancel:
            label = QStringLiteral("Cancelar");
            role = QMessageBox::RejectRole;
            break;
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
    buttons->addButton(QStringLiteral("Entrar"), QDialogButtonBox::AcceptRole)
        ->setObjectName(QStringLiteral("btnEntrar"));
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("btnCancelar"));
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
