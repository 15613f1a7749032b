#pragma once
// The replication-error dialog (EXP01802): lists the replicated documents
// that cancelling a ticked entry or item would also remove, and asks "&OK"
// (tick) or "&Cancela" (leave unticked). Reached only through ErroReplic;
// every call builds, shows and releases a fresh instance.

#include <client/clientdataset.h>
#include <client/hostapi.h>
#include <core/variant.h>

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace host {
class DBGrid;
class TPanel;
} // namespace host

class TfrmErroReplic;

extern "C" {
/// The instance of the current run; null once it has been released.
Q_DECL_EXPORT extern TfrmErroReplic* frmErroReplic;
/// The answer of the last run: false for "&OK", true for "&Cancela".
Q_DECL_EXPORT extern bool boReplic;
/// Where the answer of the current run is written.
Q_DECL_EXPORT extern bool* PboResult;
}

namespace cli_exp01802 {
/// The packet shown, copied from the caller.
extern core::Variant oleDadosGrid;
} // namespace cli_exp01802

/// Shows the dialog modally and writes the answer into the Boolean whose
/// address `varResultado` carries (an integer): false for "&OK", true for
/// "&Cancela". Closing the dialog any other way (close box, Escape, Alt+F4)
/// counts as "&Cancela". `boMostraOrigem` widens the dialog and shows the
/// origin entry's column; `stTipo` "P" explains a whole entry, anything else
/// an item.
Q_DECL_EXPORT void ErroReplic(const core::Variant& varResultado, const core::Variant& oleDados, bool boMostraOrigem,
                              const QString& stTipo);

/// The address of a Boolean as ErroReplic expects it.
core::Variant enderecoResultado(bool* answer);

class TfrmErroReplic : public QDialog {
    Q_OBJECT
public:
    explicit TfrmErroReplic(QWidget* owner = nullptr);
    ~TfrmErroReplic() override;

    host::TPanel* panTopo;
    QLabel* imgConfirma;
    QPlainTextEdit* memInforma;
    host::DBGrid* dbgMensagem;
    host::TPanel* panBotoes;
    QPushButton* btnSim;
    QPushButton* btnCancela;

    core::ClientDataset* cdsErroReplic;
    core::DataSource* dtsDocReplic;
    core::TMessages msgPadrao;

    /// Outer width for the two layouts (client width plus the dialog border).
    static constexpr int kLarguraOrigem = 610;
    static constexpr int kLarguraSimples = 509;
    static constexpr int kBorda = 8;

    /// Applies the widths, button positions and the origin column.
    void mostraOrigem(bool on);
    /// Sizes the explanation to show all its lines in the font in use.
    void ajustaTexto();

    void FormCreate();
    void FormClose();
    void btnSimClick();
    void btnCancelaClick();

protected:
    void closeEvent(QCloseEvent* e) override;

public:
    void done(int r) override;

private:
    bool escolheu_ = false; ///< a button gave the answer of this run
    bool fechando_ = false;
};
