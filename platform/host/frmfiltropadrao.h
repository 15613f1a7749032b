#pragma once
// Base filter dialog: the filter group box grbFiltroPadrao on the left, the
// side panel panMenu on the right with the confirm button sbtConfirma, the
// help button sbtAjuda, two small buttons that save and restore the dialog's
// options (btfSaveOpc, btfLoadOpc) and the code label lblCodTela.
//
// Options: Opcoes is a list of "name=value" lines kept per screen code and
// operator (QSettings). Saving runs btfSaveOpcClick (the base puts the value
// of every edit, radio button and check box inside grbFiltroPadrao under its
// objectName; a derived dialog then adds its own names) and afterwards writes
// the list; restoring reads the list first and then runs btfLoadOpcClick
// (the base puts the values back into the controls; a derived dialog then
// reads its own names).
//
// Lifetime: create<T>() constructs and runs FormCreate (an exception
// propagates and frees the dialog, as for TfrmPadrao). showModal() runs
// FormActivate once and then shows the dialog modally; closing (the close
// box, Escape, close()) runs FormClose and hides: the dialog is never freed
// by closing.

#include "controls.h"

#include "client/hostapi.h"

#include <QDialog>
#include <QStringList>

class QVBoxLayout;

namespace host {

class TfrmFiltroPadrao : public QDialog {
    Q_OBJECT
public:
    template <class T>
    static T* create(QWidget* owner = nullptr)
    {
        T* dlg = new T(owner);
        try {
            dlg->runFormCreate();
        } catch (...) {
            delete dlg;
            throw;
        }
        return dlg;
    }

    explicit TfrmFiltroPadrao(QWidget* owner = nullptr);

    TGroupBox* grbFiltroPadrao; ///< the derived dialog's controls go inside
    TPanel* panMenu;            ///< side panel
    TSpeedButton* sbtConfirma;  ///< runs sbtConfirmaClick
    TSpeedButton* sbtAjuda;
    TSpeedButton* btfSaveOpc; ///< "Salvar opções"
    TSpeedButton* btfLoadOpc; ///< "Restaurar opções"
    QLabel* lblCodTela;
    core::TMessages msgPadrao;

    /// Adds a button to panMenu above the help button.
    void addSideButton(TSpeedButton* b);
    /// Client size given at 96 dpi.
    void setDesignSize(int width96, int height96);
    void setHelpContext(int ctx) { helpContext_ = ctx; }

    // --- options ------------------------------------------------------------
    QStringList Opcoes;
    QString opcValue(const QString& name) const;
    void setOpcValue(const QString& name, const QString& value);
    /// The QSettings group of this dialog's options: "<screen code>/<operator>".
    QString optionsKey() const;
    /// Saves (btfSaveOpcClick, then writes) / restores (reads, then
    /// btfLoadOpcClick), each through core::dispatch; false on failure.
    bool saveOptions();
    bool loadOptions();
    /// File holding every dialog's options (INI); empty uses the user's
    /// default settings location. Set by the shell and by tests.
    static void setOptionsFile(const QString& path);
    static QString optionsFile();

    // --- handlers (override under the same names) ---------------------------
    virtual void FormCreate();
    virtual void FormActivate();
    virtual void FormClose();
    virtual void btfSaveOpcClick();
    virtual void btfLoadOpcClick();
    /// Base: accepts and hides.
    virtual void sbtConfirmaClick();

    /// FormActivate once (through dispatch), then modal until hidden.
    int showModal();
    void runFormCreate();

protected:
    void closeEvent(QCloseEvent* e) override;
    void done(int r) override;

private:
    QVBoxLayout* sideLayout_ = nullptr;
    int helpContext_ = 0;
    bool closing_ = false;
};

} // namespace host
