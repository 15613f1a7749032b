#pragma once
// The cancellation filter dialog (EXP01801): chooses which entries the query
// screen lists (period, routes, shipments, order grade), remembers the last
// confirmed filter and runs the entry query on confirmation. One instance
// lives as long as the module; closing hides it.

#include <host/frmfiltropadrao.h>

#include <client/adoibquery.h>
#include <client/clientdataset.h>

#include "filtroconsulta.h"

// --- the remembered filter ------------------------------------------------
struct TROTA {
    bool Todas = true;
    QString Lista;
};
struct TEXPEDICAO {
    bool Todos = true;
    QString Lista;
};
struct TINTERVALO {
    bool Ativo = false;
    QString De;
    QString Ate;
};
struct TGRADE {
    bool Todas = true;
    QString Descricao;
};
struct TFILTRO {
    core::Date DataIni;
    core::Date DataFin;
    TROTA Rota;
    TEXPEDICAO Expedicao;
    TINTERVALO Intervalo;
    TGRADE Grade;
};

class TfrmFiltroCanc;

extern "C" {
/// The dialog instance; null until the first CriaFiltroCancela.
Q_DECL_EXPORT extern TfrmFiltroCanc* frmFiltroCanc;
}

/// "MOSTRA_FILTRO" shows the dialog modally; "ESCONDE_FILTRO" re-applies the
/// remembered filter without showing it; any other text only makes sure the
/// instance exists. Aborts of the confirmation propagate to the caller.
Q_DECL_EXPORT void CriaFiltroCancela(const QString& mode);

namespace cli_exp01801 {
extern TFILTRO Filtro;  ///< last confirmed filter
extern QString stNrExp; ///< shipment numbers last picked (list-string form)
extern QString stRota;  ///< route codes last picked (list-string form)
} // namespace cli_exp01801

class TfrmFiltroCanc : public host::TfrmFiltroPadrao {
    Q_OBJECT
public:
    explicit TfrmFiltroCanc(QWidget* owner = nullptr);

    // --- controls ----------------------------------------------------------
    host::TGroupBox* grbPeriodo;
    QLabel* Label1;
    host::TDateEditPlus* depInicial;
    QLabel* Label4;
    host::TDateEditPlus* depFinal;

    host::TGroupBox* grbRota;
    host::TRadioButton* rbtTodosRota;
    host::TRadioButton* rbtLstRota;
    host::TBtnPesquisa* btpListaRota;

    host::TGroupBox* grbNrExpedicao;
    host::TRadioButton* rbtTodosNrExp;
    host::TRadioButton* rbtLstNrExp;
    host::TBtnPesquisa* btpListaNrExp;
    host::TRadioButton* rbtIntervalo;
    QLabel* lblDe;
    host::TMaskEdit* medDENrExp;
    QLabel* lblAte;
    host::TMaskEdit* medAteNrExp;

    host::TGroupBox* grbGrade;
    host::TRadioButton* rbtTGrade;
    host::TRadioButton* rbtGrade;
    QLabel* lblGrade;
    host::TEdit* edtNumeroG;
    host::TBtnPesquisa* btnGrade;

    host::TSpeedButton* sbtLimpa;

    // --- data --------------------------------------------------------------
    core::ClientDataset* cdsExpedicao;
    core::DataSource* dtsExpedicao;
    core::TADOIBQuery* qryRota;
    core::DataSource* dtsRota;
    core::ClientDataset* cdsGrade;
    core::DataSource* dtsGrade__;

    // --- the last entry query ---------------------------------------------
    /// The eleven arguments of the last entry query (stFilial, dtInicial,
    /// dtFinal, stRotas, stTodasRotas, stExpedicoes, stTodasExpedicoes,
    /// stExpDe, stExpAte, stSemIntervalo, stGrade), kept for the query
    /// screen's reload.
    contracts::cancelnota::LanctoNFArgs consulta;

    // --- handlers ----------------------------------------------------------
    void FormCreate() override;
    void FormActivate() override;
    void FormClose() override;
    void btfSaveOpcClick() override;
    void btfLoadOpcClick() override;
    void sbtConfirmaClick() override;
    void sbtLimpaClick();

    void rbtTodosNrExpClick();
    void rbtLstNrExpClick();
    void rbtIntervaloClick();
    void rbtTodosRotaClick();
    void rbtLstRotaClick();
    void btpListaNrExpClick();
    void btpListaRotaClick();
    void medDENrExpExit();
    void medAteNrExpExit();
    void Vd_LstNrExp();
    void Vd_LstRota();
    void Vd_NrExpDE(bool required);
    void Vd_NrExpATE(bool required);

    void depInicialExit();
    void depFinalExit();
    void btnGradeClick();
    void rbtGradeClick();
    void rbtTGradeClick();

    /// Title of the grade picker: the catalogue's GRADE text when it has
    /// one, else the grade box's caption.
    QString tituloGrade() const;

private:
    void buildControls();
    void wireHandlers();
    /// Moves the focus to `w` only while the dialog is shown (the hidden
    /// confirmation must not move it).
    void focar(QWidget* w);
    /// Focuses `foco`, shows the catalogue text of `key` and aborts.
    [[noreturn]] void falha(QWidget* foco, const QString& key);
    /// The day-0 check of a date edit, then the host's date check.
    void verificaData(host::TDateEditPlus* dep);
    /// Puts the confirmed grade (or nothing, for "Todas") into edtNumeroG.
    void mostraGradeConfirmada();
    /// The dialog's choices as its controls show them now.
    filtrocanc::EscolhasFiltro escolhas() const;
    /// The query as last confirmed (or as created), put back when the
    /// dialog closes without a confirmation.
    contracts::cancelnota::LanctoNFArgs consultaConfirmada_;
    void guardaConsulta();
    void restauraConsulta();
};
