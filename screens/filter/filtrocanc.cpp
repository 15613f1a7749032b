// The cancellation filter dialog: its form, the remembered filter and the
// lifecycle handlers (creation, activation, close, reset, saved options).
// Shipment, route, period and grade selection live in
// filtrocanc_selecao.cpp, the confirmation in filtrocanc_confirma.cpp.

#include "filtrocanc.h"
#include "filtrocancdefs.h"

#include "screens/query/conlancto.h"

#include <contracts/hostsql.h>

#include <host/hostglobals.h>

#include <client/hostapi.h>

#include <QApplication>
#include <QFont>
#include <QMainWindow>
#include <QStyle>

TfrmFiltroCanc* frmFiltroCanc = nullptr;

namespace cli_exp01801 {
TFILTRO Filtro;
QString stNrExp;
QString stRota;
} // namespace cli_exp01801

using namespace cli_exp01801;

namespace {

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(host::Px(left), host::Px(top), host::Px(width), host::Px(height));
}

/// Group boxes show their caption in bold; the controls inside keep the
/// dialog's normal font.
void boldCaption(host::TGroupBox* box, const QFont& normal)
{
    QFont bold = normal;
    bold.setBold(true);
    box->setFont(bold);
    // The weight must be set explicitly, or the children inherit the bold.
    QFont plain = normal;
    plain.setBold(false);
    for (QObject* child : box->children())
        if (auto* w = qobject_cast<QWidget*>(child))
            w->setFont(plain);
}

host::TRadioButton* radio(const QString& name, const QString& caption, QWidget* parent, int left, int top, int width)
{
    auto* r = new host::TRadioButton(name, caption, parent);
    place(r, left, top, width, 17);
    return r;
}

QLabel* label(const QString& name, const QString& caption, QWidget* parent, int left, int top, int width)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    place(l, left, top, width, 13);
    return l;
}

host::TBtnPesquisa* lookupButton(const QString& name, QWidget* parent, int left, int top)
{
    auto* b = new host::TBtnPesquisa(name, parent);
    b->setHint(QStringLiteral("Pesquisar"));
    b->setEnabled(false);
    place(b, left, top, 23, 22);
    return b;
}

} // namespace

// --- creation -------------------------------------------------------------------

TfrmFiltroCanc::TfrmFiltroCanc(QWidget* owner) : host::TfrmFiltroPadrao(owner)
{
    setObjectName(QStringLiteral("frmFiltroCanc"));
    lblCodTela->setText(QStringLiteral("EXP01801"));
    msgPadrao.setLines(filtrocanc::catalogueLines());

    buildControls();
    wireHandlers();

    // The last query's arguments start empty, with day 0 for the dates.
    const core::Variant vazio{QString()};
    consulta.stFilial = consulta.stRotas = consulta.stTodasRotas = consulta.stExpedicoes = vazio;
    consulta.stTodasExpedicoes = consulta.stExpDe = consulta.stExpAte = consulta.stSemIntervalo = vazio;
    consulta.stGrade = vazio;
    consulta.dtInicial = consulta.dtFinal = core::Variant(core::Date{});
    guardaConsulta();
}

void TfrmFiltroCanc::buildControls()
{
    const QFont normal(QStringLiteral("MS Sans Serif"), 8);
    setFont(normal);
    setDesignSize(379, 244);
    grbFiltroPadrao->setMinimumSize(host::Px(321), host::Px(244));

    // Period.
    grbPeriodo = new host::TGroupBox(QStringLiteral("grbPeriodo"), QStringLiteral("Período"), grbFiltroPadrao);
    place(grbPeriodo, 6, 8, 142, 74);
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("de"), grbPeriodo, 10, 22, 18);
    depInicial = new host::TDateEditPlus(QStringLiteral("depInicial"), grbPeriodo);
    place(depInicial, 28, 18, 108, 21);
    Label4 = label(QStringLiteral("Label4"), QStringLiteral("até"), grbPeriodo, 10, 48, 18);
    depFinal = new host::TDateEditPlus(QStringLiteral("depFinal"), grbPeriodo);
    place(depFinal, 28, 44, 108, 21);
    // The period box is narrow: the edits keep its width, and the weekday
    // name moves to the tool tip when it does not fit.
    for (host::TDateEditPlus* e : {depInicial, depFinal}) {
        e->setMinimumWidth(0);
        e->resize(host::Px(108), host::Px(21));
    }

    // Routes.
    grbRota = new host::TGroupBox(QStringLiteral("grbRota"), QStringLiteral(" Rota "), grbFiltroPadrao);
    place(grbRota, 6, 89, 142, 71);
    rbtTodosRota = radio(QStringLiteral("rbtTodosRota"), QStringLiteral("Todas"), grbRota, 10, 20, 60);
    rbtLstRota = radio(QStringLiteral("rbtLstRota"), QStringLiteral("Lista"), grbRota, 10, 44, 50);
    btpListaRota = lookupButton(QStringLiteral("btpListaRota"), grbRota, 62, 41);
    rbtTodosRota->setChecked(true);

    // Shipments.
    grbNrExpedicao =
        new host::TGroupBox(QStringLiteral("grbNrExpedicao"), QStringLiteral(" Nr. Expedição "), grbFiltroPadrao);
    place(grbNrExpedicao, 153, 8, 163, 152);
    rbtTodosNrExp = radio(QStringLiteral("rbtTodosNrExp"), QStringLiteral("Todos"), grbNrExpedicao, 10, 20, 60);
    rbtLstNrExp = radio(QStringLiteral("rbtLstNrExp"), QStringLiteral("Lista"), grbNrExpedicao, 10, 44, 50);
    btpListaNrExp = lookupButton(QStringLiteral("btpListaNrExp"), grbNrExpedicao, 62, 41);
    rbtIntervalo = radio(QStringLiteral("rbtIntervalo"), QStringLiteral("Intervalo "), grbNrExpedicao, 10, 68, 80);
    lblDe = label(QStringLiteral("lblDe"), QStringLiteral("de "), grbNrExpedicao, 26, 96, 20);
    medDENrExp = new host::TMaskEdit(QStringLiteral("medDENrExp"), grbNrExpedicao, QStringLiteral("9999999999;0; "));
    place(medDENrExp, 50, 92, 104, 21);
    lblAte = label(QStringLiteral("lblAte"), QStringLiteral("até"), grbNrExpedicao, 26, 124, 20);
    medAteNrExp = new host::TMaskEdit(QStringLiteral("medAteNrExp"), grbNrExpedicao, QStringLiteral("9999999999;0; "));
    place(medAteNrExp, 50, 120, 104, 21);
    rbtTodosNrExp->setChecked(true);
    for (QWidget* w : {static_cast<QWidget*>(lblDe), static_cast<QWidget*>(medDENrExp), static_cast<QWidget*>(lblAte),
                       static_cast<QWidget*>(medAteNrExp)})
        w->setEnabled(false);
    medDENrExp->setMaxLength(10);
    medAteNrExp->setMaxLength(10);

    // Order grade.
    grbGrade = new host::TGroupBox(QStringLiteral("grbGrade"), QStringLiteral("Grade de Pedidos"), grbFiltroPadrao);
    place(grbGrade, 8, 160, 309, 81);
    rbtTGrade = radio(QStringLiteral("rbtTGrade"), QStringLiteral("Todas"), grbGrade, 10, 22, 60);
    rbtGrade = radio(QStringLiteral("rbtGrade"), QStringLiteral("Grade"), grbGrade, 10, 48, 60);
    lblGrade = label(QStringLiteral("lblGrade"), QStringLiteral("Grade de Distribuição"), grbGrade, 84, 20, 150);
    edtNumeroG = new host::TEdit(QStringLiteral("edtNumeroG"), grbGrade);
    place(edtNumeroG, 84, 40, 190, 21);
    edtNumeroG->setReadOnly(true);
    btnGrade = lookupButton(QStringLiteral("btnGrade"), grbGrade, 278, 39);
    rbtTGrade->setChecked(true);
    lblGrade->setEnabled(false);
    edtNumeroG->setEnabled(false);

    for (host::TEdit* e : {static_cast<host::TEdit*>(depInicial), static_cast<host::TEdit*>(depFinal),
                           static_cast<host::TEdit*>(medDENrExp), static_cast<host::TEdit*>(medAteNrExp), edtNumeroG})
        e->setInfoBackground(true);
    for (host::TGroupBox* box : {grbPeriodo, grbRota, grbNrExpedicao, grbGrade})
        boldCaption(box, normal);

    // Tab order: the boxes in turn, and each box's controls as laid out.
    const QList<QWidget*> ordem = {depInicial,    depFinal,    rbtTodosRota,  rbtLstRota,   btpListaRota,
                                   rbtTodosNrExp, rbtLstNrExp, btpListaNrExp, rbtIntervalo, medDENrExp,
                                   medAteNrExp,   rbtTGrade,   rbtGrade,      edtNumeroG,   btnGrade};
    for (int i = 1; i < ordem.size(); ++i)
        QWidget::setTabOrder(ordem[i - 1], ordem[i]);

    // Reset button in the side panel, above the help button.
    sbtLimpa = new host::TSpeedButton(QStringLiteral("sbtLimpa"), nullptr, QStringLiteral("Desfazer"));
    sbtLimpa->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
    addSideButton(sbtLimpa);

    // Data: the shipments and grades the server lists, the route table.
    cdsExpedicao = new core::ClientDataset(QStringLiteral("cdsExpedicao"), this);
    filtrocanc::declareExpedicao(*cdsExpedicao);
    dtsExpedicao = new core::DataSource(QStringLiteral("dtsExpedicao"), this);
    dtsExpedicao->setDataSet(cdsExpedicao);

    qryRota = new core::TADOIBQuery(QStringLiteral("qryRota"), this);
    contracts::sql::applyRota(*qryRota);
    filtrocanc::declareRota(*qryRota);
    dtsRota = new core::DataSource(QStringLiteral("dtsRota"), this);
    dtsRota->setDataSet(qryRota);

    cdsGrade = new core::ClientDataset(QStringLiteral("cdsGrade"), this);
    filtrocanc::declareGrade(*cdsGrade);
    dtsGrade__ = new core::DataSource(QStringLiteral("dtsGrade__"), this);
    dtsGrade__->setDataSet(cdsGrade);

    // Properties of the lookup buttons; their clicks are this dialog's own.
    btpListaRota->edit = rbtLstRota;
    btpListaRota->title = QStringLiteral("Rota");
    btpListaRota->dataSource = dtsRota;
    btpListaRota->emptyError = QStringLiteral("Não há rota cadastrada.");
    btpListaNrExp->edit = rbtLstNrExp;
    btpListaNrExp->title = QStringLiteral("Nr. Expedição");
    btpListaNrExp->dataSource = dtsExpedicao;
    btpListaNrExp->emptyError = QStringLiteral("Não há expedição cadastrada.");
    btnGrade->edit = edtNumeroG;
    btnGrade->dataSource = dtsGrade__;
}

void TfrmFiltroCanc::wireHandlers()
{
    rbtTodosNrExp->onClick = [this] { rbtTodosNrExpClick(); };
    rbtLstNrExp->onClick = [this] { rbtLstNrExpClick(); };
    rbtIntervalo->onClick = [this] { rbtIntervaloClick(); };
    rbtTodosRota->onClick = [this] { rbtTodosRotaClick(); };
    rbtLstRota->onClick = [this] { rbtLstRotaClick(); };
    btpListaNrExp->onClick = [this] { btpListaNrExpClick(); };
    btpListaRota->onClick = [this] { btpListaRotaClick(); };
    medDENrExp->onExit = [this] { medDENrExpExit(); };
    medAteNrExp->onExit = [this] { medAteNrExpExit(); };
    depInicial->onExit = [this] { depInicialExit(); };
    depFinal->onExit = [this] { depFinalExit(); };
    btnGrade->onClick = [this] { btnGradeClick(); };
    rbtGrade->onClick = [this] { rbtGradeClick(); };
    rbtTGrade->onClick = [this] { rbtTGradeClick(); };
    sbtLimpa->onClick = [this] { sbtLimpaClick(); };
}

// --- lifecycle --------------------------------------------------------------------

void TfrmFiltroCanc::FormCreate()
{
    TfrmFiltroPadrao::FormCreate();
    stNrExp.clear();
    stRota.clear();

    const core::Date hoje = core::Date::today();
    Filtro.DataIni = core::Date{hoje.days - 2};
    Filtro.DataFin = hoje;
    Filtro.Rota = TROTA{true, QString()};
    Filtro.Expedicao = TEXPEDICAO{true, QString()};
    Filtro.Intervalo = TINTERVALO{false, QString(), QString()};
    Filtro.Grade.Todas = true; // the description stays as it was

    consulta.stGrade = QString();
}

void TfrmFiltroCanc::FormActivate()
{
    update();

    depInicial->SetDate(Filtro.DataIni);
    depFinal->SetDate(Filtro.DataFin);

    // Checking a radio button by code runs its click handler, which applies
    // the enabling rules of its box.
    rbtTodosRota->setChecked(Filtro.Rota.Todas);
    rbtLstRota->setChecked(!Filtro.Rota.Todas);
    stRota = Filtro.Rota.Lista;

    // List before interval: a remembered interval ends with the interval's
    // handler, leaving its edits enabled and the list button disabled.
    rbtTodosNrExp->setChecked(Filtro.Expedicao.Todos);
    rbtLstNrExp->setChecked(!Filtro.Expedicao.Todos);
    stNrExp = Filtro.Expedicao.Lista;

    rbtIntervalo->setChecked(Filtro.Intervalo.Ativo);
    medDENrExp->setText(Filtro.Intervalo.De);
    medAteNrExp->setText(Filtro.Intervalo.Ate);

    const core::ClientDataset* parametros = frmConLancto ? frmConLancto->cdsParamExpedicao : nullptr;
    grbGrade->setEnabled(filtrocanc::tipoExpedicao(parametros) == QLatin1String("GRA"));

    rbtTGrade->setChecked(Filtro.Grade.Todas);
    rbtGrade->setChecked(!Filtro.Grade.Todas);
    consulta.stGrade = Filtro.Grade.Descricao;
    mostraGradeConfirmada();
}

void TfrmFiltroCanc::FormClose()
{
    // The base hides the dialog; instance and controls stay.
    TfrmFiltroPadrao::FormClose();
    // Whatever the dialog did to the query while shown ("Desfazer", the
    // remembered grade put back on activation), closing leaves the eleven
    // arguments and the grade edit as the last confirmed filter, together:
    // the screen's reload sends the one and its grids read the other.
    restauraConsulta();
    mostraGradeConfirmada();
}

void TfrmFiltroCanc::guardaConsulta()
{
    consultaConfirmada_ = consulta;
}

void TfrmFiltroCanc::restauraConsulta()
{
    consulta = consultaConfirmada_;
}

void TfrmFiltroCanc::mostraGradeConfirmada()
{
    // The query screen's grids read the grade edit while the dialog is
    // hidden, and a hidden confirmation sends it: a grade picked in a
    // cancelled dialog must not stay there.
    if (Filtro.Grade.Todas)
        edtNumeroG->clear();
    else
        edtNumeroG->setText(Filtro.Grade.Descricao);
}

void TfrmFiltroCanc::sbtLimpaClick()
{
    const core::Date hoje = core::Date::today();
    depInicial->SetDate(core::Date{hoje.days - 2});
    depFinal->SetDate(hoje);

    rbtTodosRota->setChecked(true);
    rbtTodosNrExp->setChecked(true);
    rbtTGrade->setChecked(true);

    stNrExp.clear();
    stRota.clear();
    consulta.stGrade = QString();
}

void TfrmFiltroCanc::btfSaveOpcClick()
{
    TfrmFiltroPadrao::btfSaveOpcClick();
    setOpcValue(QStringLiteral("stNrExp"), stNrExp);
    setOpcValue(QStringLiteral("stRota"), stRota);
}

void TfrmFiltroCanc::btfLoadOpcClick()
{
    TfrmFiltroPadrao::btfLoadOpcClick();
    stNrExp = opcValue(QStringLiteral("stNrExp"));
    stRota = opcValue(QStringLiteral("stRota"));
}

// --- helpers ------------------------------------------------------------------------

void TfrmFiltroCanc::focar(QWidget* w)
{
    if (w && isVisible() && w->isVisible() && w->isEnabled())
        w->setFocus();
}

void TfrmFiltroCanc::falha(QWidget* foco, const QString& key)
{
    focar(foco);
    core::MensErro(msgPadrao.Msg(key), true);
    throw core::Abort(msgPadrao.Msg(key)); // MensErro with abort never returns
}

QString TfrmFiltroCanc::tituloGrade() const
{
    // The catalogue has no GRADE text: a missing key would read "<GRADE>",
    // so the picker takes the caption of the grade box instead.
    if (msgPadrao.contains(QStringLiteral("GRADE")))
        return msgPadrao.Msg(QStringLiteral("GRADE"));
    return grbGrade->title();
}

// --- exported entry -------------------------------------------------------------------

void CriaFiltroCancela(const QString& mode)
{
    if (!frmFiltroCanc) {
        // Owned by the application: the shell's main window when there is
        // one, so it lives until the application ends.
        frmFiltroCanc = host::TfrmFiltroPadrao::create<TfrmFiltroCanc>(host::mainWindow());
        QObject::connect(frmFiltroCanc, &QObject::destroyed, [] { frmFiltroCanc = nullptr; });
    }
    if (mode == QLatin1String("MOSTRA_FILTRO")) {
        // Already on display (a nested request): bring it forward rather
        // than start a second modal loop over the first.
        if (frmFiltroCanc->isVisible()) {
            frmFiltroCanc->raise();
            frmFiltroCanc->activateWindow();
            return;
        }
        frmFiltroCanc->showModal();
    } else if (mode == QLatin1String("ESCONDE_FILTRO")) {
        frmFiltroCanc->FormActivate();
        frmFiltroCanc->sbtConfirmaClick();
    }
}
