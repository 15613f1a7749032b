#include "frmpadrao.h"

#include "glyphs.h"
#include "hostglobals.h"
#include "routines.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QVBoxLayout>

namespace host {

using glyphs::Glyph;

namespace {
QAction* makeAction(QWidget* form, QMenu* menu, const char* name, const QString& caption)
{
    auto* a = new QAction(caption, form);
    a->setObjectName(QString::fromLatin1(name));
    menu->addAction(a);
    return a;
}
} // namespace

TfrmPadrao::TfrmPadrao(QWidget* owner) : QWidget(owner)
{
    setObjectName(QStringLiteral("frmPadrao"));
    setProperty("hostForm", true);
    setAttribute(Qt::WA_DeleteOnClose, false); // released by closeEvent, after FormClose

    rootLayout_ = new QVBoxLayout(this);
    rootLayout_->setContentsMargins(0, 0, 0, 0);
    rootLayout_->setSpacing(0);

    // Menu.
    mnuMenu = new QMenuBar(this);
    mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    mnuMenu->setNativeMenuBar(false);
    mnuOperacao = mnuMenu->addMenu(QStringLiteral("&Operação"));
    mnuOperacao->setObjectName(QStringLiteral("mnuOperacao"));
    mnuFolhaDados = makeAction(this, mnuOperacao, "mnuFolhaDados", QStringLiteral("&Folha de Dados"));
    mnuFormulario = makeAction(this, mnuOperacao, "mnuFormulario", QStringLiteral("F&ormulário"));
    mnuListagem = makeAction(this, mnuOperacao, "mnuListagem", QStringLiteral("&Listagem"));
    mnuFolhaDados->setCheckable(true);
    mnuFormulario->setCheckable(true);
    mnuManutencao = mnuMenu->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    mnuIncluir = makeAction(this, mnuManutencao, "mnuIncluir", QStringLiteral("&Incluir"));
    mnuAlterar = makeAction(this, mnuManutencao, "mnuAlterar", QStringLiteral("&Alterar"));
    mnuExcluir = makeAction(this, mnuManutencao, "mnuExcluir", QStringLiteral("&Excluir"));
    mnuProcurar = makeAction(this, mnuManutencao, "mnuProcurar", QStringLiteral("&Procurar"));
    mnuVerificar = makeAction(this, mnuManutencao, "mnuVerificar", QStringLiteral("&Verificar"));
    mnuCancelar = makeAction(this, mnuManutencao, "mnuCancelar", QStringLiteral("&Cancelar"));
    mnuConfirmar = makeAction(this, mnuManutencao, "mnuConfirmar", QStringLiteral("C&onfirmar"));
    rootLayout_->setMenuBar(mnuMenu);

    // Tool bar.
    panMenu = new TPanel(QStringLiteral("panMenu"), this);
    panMenu->setFrameShape(QFrame::StyledPanel);
    panMenu->setFrameShadow(QFrame::Raised);
    panMenu->setFixedHeight(Px(34));
    toolLayout_ = new QHBoxLayout(panMenu);
    toolLayout_->setContentsMargins(Px(4), Px(2), Px(8), Px(2));
    toolLayout_->setSpacing(Px(1));
    auto tool = [&](const char* name, const QString& hint, Glyph g) {
        auto* b = new TSpeedButton(QString::fromLatin1(name), panMenu, hint);
        b->setIcon(glyphs::icon(g));
        b->setIconSize(QSize(Px(20), Px(20)));
        b->setFixedSize(Px(28), Px(28));
        toolLayout_->addWidget(b);
        return b;
    };
    sbtProcurar = tool("sbtProcurar", QStringLiteral("Procurar"), Glyph::Search);
    sbtVerificar = tool("sbtVerificar", QStringLiteral("Verificar"), Glyph::Reload);
    sbtImprimir = tool("sbtImprimir", QStringLiteral("Imprimir"), Glyph::Print);
    sbtAjuda = tool("sbtAjuda", QStringLiteral("Ajuda"), Glyph::Help);
    sbtFechar = tool("sbtFechar", QStringLiteral("Fechar"), Glyph::Close);
    toolLayout_->addStretch(1);
    lblCodTela = new QLabel(panMenu);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    {
        QFont f = lblCodTela->font();
        f.setBold(true);
        lblCodTela->setFont(f);
    }
    lblCodTela->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    toolLayout_->addWidget(lblCodTela);
    rootLayout_->addWidget(panMenu);

    // Pages and the base grid.
    pgcPadrao = new TPageControl(QStringLiteral("pgcPadrao"), this);
    tshFolhaDados = new TabSheet(QStringLiteral("tshFolhaDados"), QStringLiteral("Folha de Dados"), pgcPadrao);
    tshFormulario = new TabSheet(QStringLiteral("tshFormulario"), QStringLiteral("Formulário"), pgcPadrao);
    dbgPadrao = new DBGrid(QStringLiteral("dbgPadrao"), tshFolhaDados);
    auto* pageLay = new QVBoxLayout(tshFolhaDados);
    pageLay->setContentsMargins(0, 0, 0, 0);
    pageLay->addWidget(dbgPadrao);
    rootLayout_->addWidget(pgcPadrao, 1);

    // Navigator bar.
    panNavigator = new TPanel(QStringLiteral("panNavigator"), this);
    panNavigator->setFrameShape(QFrame::StyledPanel);
    panNavigator->setFrameShadow(QFrame::Raised);
    panNavigator->setFixedHeight(Px(30));
    auto* navLay = new QHBoxLayout(panNavigator);
    navLay->setContentsMargins(Px(4), Px(2), Px(4), Px(2));
    navLay->setSpacing(Px(8));
    dbnPadrao = new TDBNavigator(QStringLiteral("dbnPadrao"), panNavigator);
    dbtNome = new TDBText(QStringLiteral("dbtNome"), panNavigator);
    dbtNome->setFrameShape(QFrame::StyledPanel);
    dbtNome->setFrameShadow(QFrame::Sunken);
    dbtNome->setMinimumWidth(Px(160));
    navLay->addWidget(dbnPadrao);
    navLay->addWidget(dbtNome);
    navLay->addStretch(1);
    rootLayout_->addWidget(panNavigator);

    dtsPadrao = new core::DataSource(QStringLiteral("dtsPadrao"), this);

    // Wiring: every control's handler through dispatch; the data source's
    // state handler directly (an abort must reach the code that changed the
    // state).
    sbtProcurar->onClick = [this] { sbtProcurarClick(); };
    sbtVerificar->onClick = [this] { sbtVerificarClick(); };
    sbtImprimir->onClick = [this] { sbtImprimirClick(); };
    sbtAjuda->onClick = [this] { sbtAjudaClick(); };
    sbtFechar->onClick = [this] { close(); };
    auto menuRuns = [this](QAction* a, std::function<void()> f) {
        connect(a, &QAction::triggered, this, [f = std::move(f)] { core::dispatch(f); });
    };
    // Keyboard: every shortcut is the menu entry's, shown beside it and in
    // the tool button's tooltip; they work wherever the focus is inside the
    // screen, and follow the entry's enabled state.
    mnuAjuda = mnuMenu->addMenu(QStringLiteral("Aj&uda"));
    mnuAjuda->setObjectName(QStringLiteral("mnuAjuda"));
    mnuGuia = makeAction(this, mnuAjuda, "mnuGuia", QStringLiteral("&Guia do operador"));
    auto keys = [this](QAction* a, QList<QKeySequence> seq, TSpeedButton* button) {
        a->setShortcuts(seq);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
        QStringList shown;
        for (const QKeySequence& k : seq)
            shown << k.toString(QKeySequence::NativeText);
        const QString tip = QStringLiteral("%1 (%2)").arg(button->toolTip(), shown.join(QStringLiteral(", ")));
        button->setToolTip(tip);
        a->setToolTip(tip);
    };
    keys(mnuProcurar, {QKeySequence(Qt::CTRL | Qt::Key_F), QKeySequence(Qt::Key_F3)}, sbtProcurar);
    keys(mnuVerificar, {QKeySequence(Qt::Key_F5)}, sbtVerificar);
    keys(mnuListagem, {QKeySequence(Qt::CTRL | Qt::Key_P)}, sbtImprimir);
    keys(mnuGuia, {QKeySequence(Qt::Key_F1)}, sbtAjuda);
    menuRuns(mnuGuia, [this] { sbtAjudaClick(); });
    menuRuns(mnuProcurar, [this] { sbtProcurarClick(); });
    menuRuns(mnuVerificar, [this] { sbtVerificarClick(); });
    menuRuns(mnuListagem, [this] { sbtImprimirClick(); });
    menuRuns(mnuFolhaDados, [this] {
        if (!tshFolhaDados->pageEnabled())
            return;
        pgcPadrao->setActivePage(tshFolhaDados);
        pgcPadraoChange();
    });
    menuRuns(mnuFormulario, [this] {
        if (!tshFormulario->pageEnabled())
            return;
        pgcPadrao->setActivePage(tshFormulario);
        pgcPadraoChange();
    });
    pgcPadrao->onChange = [this] { pgcPadraoChange(); };
    dbgPadrao->onKeyDown = [this](int& key, Qt::KeyboardModifiers shift) { dbgPadraoKeyDown(key, shift); };
    dtsPadrao->setOnStateChange([this](core::DataSource&) { dtsPadraoStateChange(); });

    setDesignSize(893, 493);
}

TfrmPadrao::~TfrmPadrao()
{
    if (QMdiArea* area = mdiArea())
        disconnect(area, nullptr, this, nullptr);
}

void TfrmPadrao::runFormCreate()
{
    if (created_)
        return;
    created_ = true;
    FormCreate();
}

// --- layout helpers ------------------------------------------------------------

void TfrmPadrao::insertBelowMenu(QWidget* w)
{
    rootLayout_->insertWidget(1 + belowMenuIndex_++, w);
}

void TfrmPadrao::addToolButton(QWidget* w)
{
    const int at = toolLayout_->indexOf(sbtImprimir);
    toolLayout_->insertWidget(at < 0 ? toolLayout_->count() : at, w);
    if (auto* b = qobject_cast<QToolButton*>(w)) {
        b->setIconSize(QSize(Px(20), Px(20)));
        b->setFixedSize(Px(28), Px(28));
    }
}

QAction* TfrmPadrao::addMenuAction(QMenu* menu, const QString& objectName, const QString& caption,
                                   const QKeySequence& shortcut, QAction* before)
{
    auto* a = new QAction(caption, this);
    a->setObjectName(objectName);
    if (!shortcut.isEmpty()) {
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a); // the shortcut works while the screen has the focus
    }
    if (before)
        menu->insertAction(before, a);
    else
        menu->addAction(a);
    return a;
}

QObject* TfrmPadrao::component(const QString& name) const
{
    return findChild<QObject*>(name);
}

QSize TfrmPadrao::sizeHint() const
{
    // Wide enough for the widest grid's columns as the font in use shows
    // them (they are scaled from the design font), never below the design.
    QSize s = designSize_;
    for (const DBGrid* g : findChildren<DBGrid*>()) {
        int need = 2 * g->frameWidth() + g->verticalScrollBar()->sizeHint().width();
        for (int c = 0; c < g->model()->columnCount(); ++c)
            if (!g->isColumnHidden(c))
                need += g->columnWidth(c);
        s.setWidth(std::max(s.width(), need));
    }
    return s;
}

void TfrmPadrao::setDesignSize(int width96, int height96)
{
    designSize_ = QSize(Px(width96), Px(height96));
    if (sub_)
        sub_->resize(sub_->sizeHint());
    else
        resize(designSize_);
}

// --- window ----------------------------------------------------------------------

QWidget* TfrmPadrao::frameWindow() const
{
    return sub_ ? static_cast<QWidget*>(sub_.data()) : const_cast<TfrmPadrao*>(this);
}

void TfrmPadrao::show()
{
    QMdiArea* area = mdiArea();
    if (!area && !sub_ && !isWindow())
        setWindowFlags(windowFlags() | Qt::Window); // owned, but shown as its own window
    if (area && !sub_) {
        sub_ = new QMdiSubWindow;
        sub_->setObjectName(objectName() + QStringLiteral("_mdi"));
        sub_->setAttribute(Qt::WA_DeleteOnClose);
        sub_->setWidget(this);
        area->addSubWindow(sub_);
        // Wider than the design only as far as the area shows.
        QSize want = sub_->sizeHint();
        const int atDesign = want.width() - (sizeHint().width() - designSize_.width());
        if (want.width() > atDesign)
            want.setWidth(std::max(atDesign, std::min(want.width(), area->viewport()->width())));
        sub_->resize(want);
        connect(area, &QMdiArea::subWindowActivated, this, &TfrmPadrao::onSubWindowActivated);
    }
    if (sub_) {
        QWidget::show();
        sub_->show();
        bringToFront();
    } else {
        QWidget::show();
        bringToFront();
    }
    if (!activatedOnce_) {
        restoreLayout();
        activeChild_ = true;
        activate();
    }
}

QString TfrmPadrao::layoutKey() const
{
    return operatorScreenKey(lblCodTela->text(), objectName());
}

void TfrmPadrao::saveLayout() const
{
    if (layoutFile().isEmpty())
        return;
    QSettings s(layoutFile(), QSettings::IniFormat);
    s.beginGroup(layoutKey());
    s.setValue(QStringLiteral("janela"), frameWindow()->geometry());
    for (const DBGrid* g : findChildren<DBGrid*>()) {
        s.remove(g->objectName());
        const QMap<QString, int> widths = g->userWidths();
        for (auto it = widths.begin(); it != widths.end(); ++it)
            s.setValue(g->objectName() + u'/' + it.key(), it.value());
    }
    s.endGroup();
    s.sync();
}

void TfrmPadrao::restoreLayout()
{
    if (layoutFile().isEmpty())
        return;
    QSettings s(layoutFile(), QSettings::IniFormat);
    s.beginGroup(layoutKey());
    for (DBGrid* g : findChildren<DBGrid*>()) {
        s.beginGroup(g->objectName());
        QMap<QString, int> widths;
        for (const QString& field : s.childKeys())
            widths.insert(field, s.value(field).toInt());
        s.endGroup();
        if (!widths.isEmpty())
            g->setUserWidths(widths);
    }
    QRect r = s.value(QStringLiteral("janela")).toRect();
    s.endGroup();
    if (!r.isValid())
        return;
    QWidget* w = frameWindow();
    // A position that the area (or the desktop) no longer shows is dropped;
    // the size is kept.
    QRect room;
    if (sub_ && sub_->mdiArea())
        room = sub_->mdiArea()->viewport()->rect();
    else if (QScreen* sc = w->screen())
        room = sc->availableGeometry();
    if (room.isValid() && !room.intersects(r))
        r.moveTopLeft(room.topLeft());
    w->setGeometry(r);
}

void TfrmPadrao::setWindowStateNormal()
{
    QWidget* w = frameWindow();
    w->setWindowState(w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    if (sub_ && sub_->isMinimized())
        sub_->showNormal();
}

void TfrmPadrao::bringToFront()
{
    if (sub_) {
        if (QMdiArea* area = sub_->mdiArea())
            area->setActiveSubWindow(sub_);
        sub_->raise();
    } else {
        raise();
        activateWindow();
    }
}

void TfrmPadrao::activate()
{
    if (inActivate_)
        return;
    inActivate_ = true;
    activatedOnce_ = true;
    core::dispatch([this] { FormActivate(); });
    inActivate_ = false;
}

void TfrmPadrao::onSubWindowActivated(QMdiSubWindow* w)
{
    if (!w)
        return; // the main window lost the focus: not a change of child
    if (w != sub_) {
        activeChild_ = false;
        return;
    }
    if (activeChild_ || closing_)
        return;
    activeChild_ = true;
    activate();
}

bool TfrmPadrao::event(QEvent* e)
{
    // Top-level mode: an activation that follows a modal box or popup over
    // this form is the same activation going on.
    if (!sub_ && isWindow()) {
        if (e->type() == QEvent::WindowActivate) {
            if (!activeChild_ && activatedOnce_ && !closing_) {
                activeChild_ = true;
                activate();
            }
            activeChild_ = true;
        } else if (e->type() == QEvent::WindowDeactivate) {
            if (!QApplication::activeModalWidget() && !QApplication::activePopupWidget())
                activeChild_ = false;
        }
    }
    return QWidget::event(e);
}

bool TfrmPadrao::eventFilter(QObject* o, QEvent* e)
{
    return QWidget::eventFilter(o, e);
}

void TfrmPadrao::closeEvent(QCloseEvent* e)
{
    if (closing_) {
        e->accept();
        return;
    }
    if (!core::dispatch([this] { FormClose(); })) {
        e->ignore(); // FormClose failed: the screen stays open, its state whole
        return;
    }
    closing_ = true;
    saveLayout();
    emit formClosed();
    e->accept();
    if (sub_)
        sub_->close(); // frees the child window and this form with it
    else
        deleteLater();
}

// --- handlers -----------------------------------------------------------------------

void TfrmPadrao::FormCreate()
{
    pgcPadrao->setActivePage(tshFolhaDados);
    mnuFolhaDados->setChecked(true);
}

void TfrmPadrao::FormActivate() { }

void TfrmPadrao::FormClose() { }

void TfrmPadrao::pgcPadraoChange()
{
    mnuFolhaDados->setChecked(pgcPadrao->activePage() == tshFolhaDados);
    mnuFormulario->setChecked(pgcPadrao->activePage() == tshFormulario);
}

void TfrmPadrao::dbgPadraoKeyDown(int&, Qt::KeyboardModifiers) { }

void TfrmPadrao::sbtVerificarClick() { }

void TfrmPadrao::sbtProcurarClick()
{
    Procura(searchGrid());
}

DBGrid* TfrmPadrao::searchGrid() const
{
    return dbgPadrao;
}

void TfrmPadrao::procurarProximo()
{
    core::dispatch([this] { ProcuraProximo(searchGrid()); });
}

void TfrmPadrao::sbtImprimirClick() { }

void TfrmPadrao::sbtAjudaClick()
{
    core::MensInfo(QStringLiteral("A ajuda desta tela (%1, contexto %2) não está instalada.")
                       .arg(lblCodTela->text())
                       .arg(helpContext_));
}

void TfrmPadrao::dtsPadraoStateChange() { }

} // namespace host
