#pragma once
// Base screen: the content of an MDI child of the shell's main window (a
// top-level window when no shell runs). A derived screen adds its components
// into the base's (a panel between panMenu and pgcPadrao through
// insertBelowMenu, pages, menu actions, tool buttons) and overrides the
// handlers under their own names, calling the base version where it wants.
//
// Creation: TfrmPadrao::create<T>(owner) constructs the form and then runs
// FormCreate directly, NOT through core::dispatch: an exception thrown by
// FormCreate (core::Abort, core::Error, a failed connection...) destroys the
// half-built form and propagates to the caller of create, so the module can
// leave its state consistent and show why.
//
// Lifetime: show() wraps the form in a QMdiSubWindow when the shell's MDI
// area exists; FormActivate runs on the first show and on every later
// activation of the child (a modal box closing over it is not a new
// activation); closing runs FormClose and releases the form (deleteLater):
// QObject::destroyed, or formClosed just before, tells the module. An
// exception in FormClose is shown and keeps the form open.
//
// Every handler wired to a control runs through core::dispatch.

#include "controls.h"
#include "dbgrid.h"
#include "pagecontrol.h"

#include "client/clientdataset.h"
#include "client/hostapi.h"

#include <QAction>
#include <QMenu>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;
class QHBoxLayout;

namespace host {

class TfrmPadrao : public QWidget {
    Q_OBJECT
public:
    template <class T>
    static T* create(QWidget* owner = nullptr)
    {
        T* form = new T(owner);
        try {
            form->runFormCreate();
        } catch (...) {
            delete form;
            throw;
        }
        return form;
    }

    /// Use create<T>() so that FormCreate runs.
    explicit TfrmPadrao(QWidget* owner = nullptr);
    ~TfrmPadrao() override;

    // --- components (objectName = member name) ------------------------------
    TPanel* panMenu;            ///< tool bar at the top
    TSpeedButton* sbtProcurar;  ///< "Procurar": sbtProcurarClick
    TSpeedButton* sbtVerificar; ///< "Verificar": sbtVerificarClick
    TSpeedButton* sbtImprimir;  ///< "Imprimir": sbtImprimirClick
    TSpeedButton* sbtAjuda;     ///< "Ajuda": help context
    TSpeedButton* sbtFechar;    ///< "Fechar": closes the screen
    QLabel* lblCodTela;         ///< screen code, right of the tool bar

    QMenuBar* mnuMenu;
    QMenu* mnuOperacao;
    QAction* mnuFolhaDados; ///< shows tshFolhaDados
    QAction* mnuFormulario; ///< shows tshFormulario
    QAction* mnuListagem;   ///< runs sbtImprimir
    QMenu* mnuManutencao;
    QAction* mnuIncluir;
    QAction* mnuAlterar;
    QAction* mnuExcluir;
    QAction* mnuProcurar;  ///< runs sbtProcurar
    QAction* mnuVerificar; ///< runs sbtVerificar
    QAction* mnuCancelar;
    QAction* mnuConfirmar;
    QMenu* mnuAjuda;
    QAction* mnuGuia; ///< runs sbtAjuda (F1)

    TPageControl* pgcPadrao;
    TabSheet* tshFolhaDados;
    TabSheet* tshFormulario;
    DBGrid* dbgPadrao; ///< fills tshFolhaDados

    TPanel* panNavigator; ///< bottom bar
    TDBText* dbtNome;
    TDBNavigator* dbnPadrao;

    core::TMessages msgPadrao;
    core::DataSource* dtsPadrao;

    // --- layout helpers for derived screens ---------------------------------
    /// Puts `w` between the tool bar and the page control (in call order).
    void insertBelowMenu(QWidget* w);
    /// Appends a tool button to panMenu before sbtImprimir (or after the
    /// last added one); `w` may be any widget (hidden images included).
    void addToolButton(QWidget* w);
    /// Adds an action to a menu; `before` null appends.
    QAction* addMenuAction(QMenu* menu, const QString& objectName, const QString& caption,
                           const QKeySequence& shortcut = {}, QAction* before = nullptr);
    /// Looks a component up by its objectName (widgets and actions alike).
    QObject* component(const QString& name) const;

    // --- window --------------------------------------------------------------
    /// Shows the form (as an MDI child when the shell's area exists) and
    /// brings it to the front; the first show runs FormActivate.
    void show();
    /// Restores a minimised or maximised form.
    void setWindowStateNormal();
    void bringToFront();
    QMdiSubWindow* subWindow() const { return sub_; }
    /// The window that frames the form: the MDI child or the form itself.
    QWidget* frameWindow() const;
    /// Help context of the screen (shown by sbtAjuda).
    void setHelpContext(int ctx) { helpContext_ = ctx; }
    int helpContext() const { return helpContext_; }
    /// Client size given at 96 dpi (the default is 893 x 493).
    void setDesignSize(int width96, int height96);
    /// Runs FormActivate as an activation would (through dispatch).
    void activate();
    /// The design size (scaled); what the MDI child and the window open at.
    QSize sizeHint() const override;

    /// The operator's layout of this screen in layoutFile() (group
    /// "<screen code>/<operator>"): the window's size and position and the
    /// widths dragged in each grid. Saved when the screen closes, put back
    /// when it first shows; nothing happens without a layout file.
    void saveLayout() const;
    void restoreLayout();
    QString layoutKey() const;

    // --- handlers (override under the same names) ---------------------------
    virtual void FormCreate();
    virtual void FormActivate();
    virtual void FormClose();
    /// After the user switched pages: keeps the menu's page entries checked.
    virtual void pgcPadraoChange();
    /// Keys of dbgPadrao; the base does nothing with them.
    virtual void dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers shift);
    /// Base: reopens nothing; derived screens load their data.
    virtual void sbtVerificarClick();
    /// Base: the find dialog over searchGrid() when its dataset is open.
    virtual void sbtProcurarClick();
    /// The grid "Procurar" and "find next" search: base dbgPadrao; screens
    /// with several pages answer the grid of the page shown.
    virtual DBGrid* searchGrid() const;
    /// "Find next" in searchGrid(): its last search again from the row after
    /// the current one (the dialog when there was none). Bind keys to it.
    void procurarProximo();
    virtual void sbtImprimirClick();
    virtual void sbtAjudaClick();
    /// State changes of dtsPadrao's dataset, called directly (not through
    /// dispatch: an abort reaches the code that changed the state).
    virtual void dtsPadraoStateChange();

    /// Used by create<T>; runs FormCreate once.
    void runFormCreate();

signals:
    /// FormClose ran and the form is about to be released.
    void formClosed();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void onSubWindowActivated(QMdiSubWindow* w);
    QVBoxLayout* rootLayout_;
    QHBoxLayout* toolLayout_;
    int belowMenuIndex_ = 0;
    QPointer<QMdiSubWindow> sub_;
    int helpContext_ = 0;
    QSize designSize_;
    bool created_ = false;
    bool activeChild_ = false;
    bool inActivate_ = false;
    bool activatedOnce_ = false;
    bool closing_ = false;
};

} // namespace host
