#pragma once
// The entry query and cancellation screen "Cancelamento / Consulta
// Lançamentos" (EXP01800): lists one branch's shipping invoice entries with
// their items and stock-withdrawal items, and cancels the ticked entries or
// items through the cancellation server.
//
// The implementation is split by concern:
//   conlancto.cpp         components, creation, activation, close
//   conlancto_panel.cpp   branch panel, filter command, control enabling
//   conlancto_load.cpp    loading entries, items and stock items; search, print
//   conlancto_status.cpp  status texts of the entry list
//   conlancto_grid.cpp    drawing of the check-mark columns
//   conlancto_tick.cpp    ticking entries and items
//   conlancto_cancel.cpp  cancelling the ticked entries or items
//   conlancto_nfe.cpp     NF-e status refresh before a cancellation
//   conlancto_tools.cpp   sorting, counts, blocked-cell hints, export

#include <host/frmpadrao.h>

#include <client/adoibquery.h>
#include <client/clientdataset.h>
#include <client/netconnection.h>

#include <QLabel>
#include <QTimer>

class QScrollArea;

class TfrmConLancto;

// --- exported unit state -----------------------------------------------------
extern "C" {
/// The one screen instance; null until created and after it was released.
Q_DECL_EXPORT extern TfrmConLancto* frmConLancto;
/// The screen instance exists.
Q_DECL_EXPORT extern bool boIdCriado;
/// The next activation is the first since the instance was created.
Q_DECL_EXPORT extern bool boPrimVez;
}

// --- unit state the screen's handlers share ---------------------------------
namespace cli_exp01800 {
extern int inNotasMarcadas;  ///< ticked entries
extern int inItensMarcados;  ///< ticked items
extern bool boContaComissao; ///< the current entry has commission accounts
} // namespace cli_exp01800

class TfrmConLancto : public host::TfrmPadrao {
    Q_OBJECT
public:
    explicit TfrmConLancto(QWidget* owner = nullptr);
    ~TfrmConLancto() override;

    // --- tool bar ----------------------------------------------------------
    host::TSpeedButton* sbtCancelNota;
    host::TSpeedButton* sbtFiltro;
    QLabel* imgUncheck;
    QLabel* imgDescheck;
    QLabel* imgCheck;

    // --- branch panel ------------------------------------------------------
    host::TPanel* panFiltro;
    QLabel* Label2;
    host::TMaskEdit* medFilial;
    host::TBtnPesquisa* btpPesqFilial;
    host::TEdit* edtFilial;

    // --- pages and grids ---------------------------------------------------
    host::TabSheet* tshItemEst;
    host::DBGrid* dbgItensNf;
    QWidget* Panel1;
    QScrollArea* ScrollBox1;
    host::DBGrid* dbgItemEst;

    // --- menu entries ------------------------------------------------------
    QAction* mnuRetiEst;
    QAction* N1;
    QAction* mnuCancelaNota;
    QAction* mnuFiltrar;
    QAction* mnuExportar = nullptr; ///< exports the grid of the page shown (Ctrl+E)

    // --- status line ---------------------------------------------------------
    QLabel* lblContagem = nullptr; ///< entries listed and ticked (items on the items page)

    // --- data --------------------------------------------------------------
    core::ClientDataset* cdsLanctoNF;
    core::ClientDataset* cdsItensLanctoNF;
    core::ClientDataset* cdsContaGerada;
    core::ClientDataset* cdsItLanctoEst;
    core::ClientDataset* cdsErroReplic;
    core::ClientDataset* cdsParamExpedicao;
    core::ClientDataset* cdsReplicAprov;
    core::DataSource* dtsLanctoNF;
    core::DataSource* dtsItensLanctoNF;
    core::DataSource* dtsItLanctoEst;
    core::DataSource* dtsFilial;
    core::TADOIBQuery* qryFilial;
    core::TADOIBQuery* qryInscrEstad;
    core::TNetConnection* netCancelExp;
    core::TNetConnection* netSituacao;

    /// True once the filter dialog has loaded entries into this screen.
    bool boFiltroAplicado = false;

    // --- lifecycle ---------------------------------------------------------
    void FormCreate() override;
    void FormActivate() override;
    void FormClose() override;
    void netCancelExpBeforeConnect(core::TNetConnection& sender);
    void netSituacaoBeforeConnect(core::TNetConnection& sender);

    // --- branch panel and enabling ----------------------------------------
    void panFiltroEnter();
    void panFiltroExit();
    void Vd_CDFilial();
    void medFilialChange();
    void btpPesqFilialBeforePesq(bool& continuePesq);
    void btpPesqFilialAfterPesq();
    void sbtFiltroClick();
    void mnuFiltrarClick();
    void dtsPadraoStateChange() override;
    void Habilita();

    // --- loading -----------------------------------------------------------
    void sbtVerificarClick() override;
    void sbtProcurarClick() override;
    host::DBGrid* searchGrid() const override;
    void pgcPadraoChange() override;
    void cdsLanctoNFAfterScroll(core::ClientDataset& ds);
    void sbtImprimirClick() override;

    // --- status texts ------------------------------------------------------
    void cdsLanctoNFIDSTATUSGetText(core::Field& sender, QString& text, bool displayText);
    void cdsLanctoNFIDSTATUSNFEGetText(core::Field& sender, QString& text, bool displayText);

    // --- entry and item grids ----------------------------------------------
    void dbgPadraoDrawColumnCell(QPainter& canvas, const QRect& rect, int dataCol, const host::Column& column,
                                 host::GridDrawStates state);
    void dbgItensNfDrawColumnCell(QPainter& canvas, const QRect& rect, int dataCol, const host::Column& column,
                                  host::GridDrawStates state);
    /// The entry on the current row (or the row being drawn) cannot be ticked.
    bool entryBlocked() const;
    void dbgPadraoCellClick(const host::Column& column);
    void dbgPadraoTitleClick(const host::Column& column);
    void dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    void dbgItensNfCellClick(const host::Column& column);
    void dbgItensNfTitleClick(const host::Column& column);
    void dbgItensNfKeyDown(int& key, Qt::KeyboardModifiers shift);
    void dbgItemEstKeyDown(int& key, Qt::KeyboardModifiers shift);
    /// The base-screen control that follows the item ticks: the navigator
    /// dbnPadrao, which moves to another entry (and would reload the items,
    /// losing their ticks). Disabled while an item of the current entry is
    /// ticked.
    QWidget* itemTickControl() const;
    /// Enables itemTickControl exactly when no item of the current entry is
    /// ticked: run by Habilita (so after every change of ticks or data), when
    /// the current entry changes, and after item clicks with the painting
    /// frozen (refreshItemTickControl).
    void syncItemTickControl();
    void refreshItemTickControl();
    /// The item datasets hold the current entry's items (not those of an
    /// entry left before, nor those shown before the list was reloaded).
    bool itemsOfCurrentEntry() const;

    // --- cancellation ------------------------------------------------------
    void sbtCancelNotaClick();
    void mnuCancelaNotaClick();
    void mnuRetiEstClick();
    void AtualizaStatusNF();

    // --- list tools (conlancto_tools.cpp) -----------------------------------
    void mnuExportarClick();
    /// The text of the status line's counts, in Brazilian number format.
    QString countsText() const;
    void updateCounts();
    /// A note after the counts until the next load ("Carga interrompida.").
    QString loadNotice;
    /// Why the entry on the current (or drawn) row cannot be ticked, in
    /// words; empty when it can.
    QString blockedReason() const;
    host::DBGrid* visibleGrid() const;
    /// Help (F1): the operator's guide, in its own window.
    void sbtAjudaClick() override;

private:
    void drawCheckCell(QPainter& canvas, const QRect& rect, const QString& idcheck);
    void buildToolBar();
    void buildBranchPanel();
    void buildPages();
    void buildMenus();
    void buildListTools();
    void scheduleCounts();
    QTimer* countTimer_ = nullptr;
    void buildData();
    void loadItems();
    void closeItems();
    void cancelEntries();
    void cancelItems();
    void afterCancel();
    void loadStockItems();
    void tickEntry();
    void tickAllEntries();
    bool firstItemTickConfirmed();
    bool confirmReplicated(bool showOrigin, const QString& kind);
    void checkCommission();

public:
    // The after-scroll handler of the entry list, detached while a handler
    // walks or rewrites the list (see conlancto_tick.cpp's guards).
    void attachAfterScroll();
    void detachAfterScroll();

    /// Branch and entry number whose items the item datasets hold; empty
    /// while they hold none, or none of the list now loaded.
    QString itemsEntry_;
    /// "branch/entry number" of the current entry; empty without one.
    QString currentEntry() const;
};
