// Components, creation, activation and close of the entry query screen.

#include "conlancto.h"

#include "checkimages.h"
#include "conlanctodefs.h"

#include <contracts/hostsql.h>
#include <contracts/servers.h>

#include <host/hostglobals.h>

#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace core;
using host::Px;

TfrmConLancto* frmConLancto = nullptr;
bool boIdCriado = false;
bool boPrimVez = false;

namespace cli_exp01800 {
int inNotasMarcadas = 0;
int inItensMarcados = 0;
bool boContaComissao = false;
} // namespace cli_exp01800

using namespace cli_exp01800;

namespace {

// Glyphs of the two added tool buttons, drawn so the module ships no image
// files: a red cross over a sheet (cancel invoice) and a funnel (filter).
QIcon cancelGlyph()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 2));
    p.setBrush(Qt::white);
    p.drawRect(7, 3, 18, 25);
    p.setPen(QPen(QColor(120, 120, 120), 1.5));
    for (int y = 9; y <= 21; y += 4)
        p.drawLine(11, y, 21, y);
    p.setPen(QPen(QColor(200, 30, 30), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(14, 15, 28, 29);
    p.drawLine(28, 15, 14, 29);
    return QIcon(pm);
}

QIcon filterGlyph()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 60, 120), 2));
    p.setBrush(QColor(80, 140, 220));
    const QPointF funnel[] = {{4, 5}, {28, 5}, {18, 17}, {18, 27}, {14, 29}, {14, 17}};
    p.drawPolygon(funnel, 6);
    return QIcon(pm);
}

QLabel* hiddenImage(const QString& name, checkimages::Kind kind, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setPixmap(QPixmap::fromImage(checkimages::image(kind)));
    l->setFixedSize(16, 16);
    l->setVisible(false);
    return l;
}

/// Title font of the check-mark columns: the character "4" of a symbol font
/// shows a check mark there.
QFont checkTitleFont()
{
    QFont f(QStringLiteral("Monotype Sorts"));
    f.setPointSize(8);
    return f;
}

QFont itemTitleFont()
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPointSize(8);
    return f;
}

/// Grids use the 8-point face the screen's column widths were laid out for.
void gridFont(host::DBGrid* g)
{
    QFont f = g->font();
    f.setPointSize(8);
    g->setFont(f);
}

void styleItemGrid(host::DBGrid* g)
{
    gridFont(g);
    g->setFrameShape(QFrame::NoFrame);
    QPalette pal = g->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    g->setPalette(pal);
    g->horizontalHeader()->setFont(itemTitleFont());
}

} // namespace

TfrmConLancto::TfrmConLancto(QWidget* owner) : host::TfrmPadrao(owner)
{
    setObjectName(QStringLiteral("frmConLancto"));
    setWindowTitle(QStringLiteral("Cancelamento / Consulta Lançamentos"));
    setDesignSize(893, 493);
    setHelpContext(11301800);
    lblCodTela->setText(QStringLiteral("EXP01800"));
    msgPadrao.setLines(conlancto::catalogueLines());

    buildData();
    buildToolBar();
    buildBranchPanel();
    buildPages();
    buildMenus();
    buildListTools();
}

TfrmConLancto::~TfrmConLancto()
{
    if (frmConLancto == this)
        frmConLancto = nullptr;
}

void TfrmConLancto::buildData()
{
    auto dataset = [this](const QString& name, void (*declare)(ClientDataset&)) {
        auto* ds = new ClientDataset(name, this);
        declare(*ds);
        return ds;
    };
    cdsLanctoNF = dataset("cdsLanctoNF", conlancto::declareLanctoNF);
    cdsItensLanctoNF = dataset("cdsItensLanctoNF", conlancto::declareItensLanctoNF);
    cdsContaGerada = dataset("cdsContaGerada", conlancto::declareContaGerada);
    cdsItLanctoEst = dataset("cdsItLanctoEst", conlancto::declareItLanctoEst);
    cdsErroReplic = dataset("cdsErroReplic", conlancto::declareErroReplic);
    cdsParamExpedicao = dataset("cdsParamExpedicao", conlancto::declareParamExpedicao);
    cdsReplicAprov = dataset("cdsReplicAprov", conlancto::declareReplicAprov);

    cdsLanctoNF->fieldByName("IDSTATUS").setOnGetText([this](Field& f, QString& t, bool d) {
        cdsLanctoNFIDSTATUSGetText(f, t, d);
    });
    cdsLanctoNF->fieldByName("IDSTATUSNFE").setOnGetText([this](Field& f, QString& t, bool d) {
        cdsLanctoNFIDSTATUSNFEGetText(f, t, d);
    });
    attachAfterScroll();

    qryFilial = new TADOIBQuery("qryFilial", this);
    conlancto::declareFilial(*qryFilial);
    contracts::sql::applyFilial(*qryFilial);

    qryInscrEstad = new TADOIBQuery("qryInscrEstad", this);
    conlancto::declareInscrEstad(*qryInscrEstad);
    contracts::sql::applyInscrEstad(*qryInscrEstad);

    auto source = [this](const QString& name, ClientDataset* ds) {
        auto* s = new DataSource(name, this);
        s->setDataSet(ds);
        return s;
    };
    dtsLanctoNF = source("dtsLanctoNF", cdsLanctoNF);
    dtsItensLanctoNF = source("dtsItensLanctoNF", cdsItensLanctoNF);
    dtsItLanctoEst = source("dtsItLanctoEst", cdsItLanctoEst);
    dtsFilial = source("dtsFilial", qryFilial);
    dtsPadrao->setDataSet(cdsLanctoNF);

    netCancelExp = new TNetConnection("netCancelExp", this);
    netCancelExp->ServerName = QString::fromLatin1(contracts::kRdmCancelNota);
    netCancelExp->ThrowException = false;
    netCancelExp->BeforeConnect = [this](TNetConnection& c) { netCancelExpBeforeConnect(c); };

    netSituacao = new TNetConnection("netSituacao", this);
    netSituacao->ServerName = QString::fromLatin1(contracts::kRdmSituacao);
    netSituacao->ThrowException = false;
    netSituacao->BeforeConnect = [this](TNetConnection& c) { netSituacaoBeforeConnect(c); };
}

void TfrmConLancto::buildToolBar()
{
    sbtCancelNota = new host::TSpeedButton("sbtCancelNota", panMenu, QStringLiteral("Cancelar Nota Fiscal"));
    sbtCancelNota->setIcon(cancelGlyph());
    sbtCancelNota->setEnabled(false);
    sbtCancelNota->onClick = [this] { sbtCancelNotaClick(); };
    addToolButton(sbtCancelNota);

    sbtFiltro = new host::TSpeedButton("sbtFiltro", panMenu, QStringLiteral("Filtrar"));
    sbtFiltro->setIcon(filterGlyph());
    sbtFiltro->setEnabled(false);
    sbtFiltro->onClick = [this] { sbtFiltroClick(); };
    addToolButton(sbtFiltro);

    imgUncheck = hiddenImage("imgUncheck", checkimages::Kind::Uncheck, panMenu);
    imgDescheck = hiddenImage("imgDescheck", checkimages::Kind::Descheck, panMenu);
    imgCheck = hiddenImage("imgCheck", checkimages::Kind::Check, panMenu);
    addToolButton(imgUncheck);
    addToolButton(imgDescheck);
    addToolButton(imgCheck);
}

void TfrmConLancto::buildBranchPanel()
{
    panFiltro = new host::TPanel("panFiltro", this);
    panFiltro->setFixedHeight(Px(35));
    auto* lay = new QHBoxLayout(panFiltro);
    lay->setContentsMargins(Px(8), Px(4), Px(8), Px(4));
    lay->setSpacing(Px(6));

    Label2 = new QLabel(QStringLiteral("Filial"), panFiltro);
    Label2->setObjectName("Label2");
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);

    medFilial = new host::TMaskEdit("medFilial", panFiltro, QStringLiteral("9999;0; "));
    medFilial->setMaxLength(4);
    medFilial->setInfoBackground(true);
    medFilial->setFixedWidth(Px(48));
    medFilial->onChange = [this] { medFilialChange(); };

    btpPesqFilial = new host::TBtnPesquisa("btpPesqFilial", panFiltro);
    btpPesqFilial->setHint(QStringLiteral("Pesquisar"));
    btpPesqFilial->edit = medFilial;
    btpPesqFilial->title = QStringLiteral("Filial");
    btpPesqFilial->dataSource = dtsFilial;
    btpPesqFilial->emptyError = QStringLiteral("Não há filial cadastrada.");
    btpPesqFilial->onBeforePesq = [this](bool& go) { btpPesqFilialBeforePesq(go); };
    btpPesqFilial->onAfterPesq = [this] { btpPesqFilialAfterPesq(); };

    edtFilial = new host::TEdit("edtFilial", panFiltro);
    edtFilial->setEnabled(false);
    // The panel's enabling switches every control inside it on; the name is
    // only ever shown, so it stays read-only whatever its enabled state.
    edtFilial->setReadOnly(true);
    edtFilial->setFixedWidth(Px(470));

    lay->addWidget(Label2);
    lay->addWidget(medFilial);
    lay->addWidget(btpPesqFilial);
    lay->addWidget(edtFilial);
    lay->addStretch(1);

    panFiltro->onEnter = [this] { panFiltroEnter(); };
    panFiltro->onExit = [this] { panFiltroExit(); };
    insertBelowMenu(panFiltro);
}

void TfrmConLancto::buildPages()
{
    tshFolhaDados->setCaption(QStringLiteral("Lançamentos de Expedição"));
    tshFormulario->setCaption(QStringLiteral("Itens Nota Fiscal"));

    // Entry grid.
    dbgPadrao->setDataSource(dtsLanctoNF);
    dbgPadrao->clearColumns();
    dbgPadrao->addColumn("IDCHECK", 20, {}, Qt::AlignCenter).titleFont = checkTitleFont();
    dbgPadrao->addColumn("CDFILIEMIT");
    dbgPadrao->addColumn("DTENTRSAID", 80);
    dbgPadrao->addColumn("NRLANCTONF", 71);
    dbgPadrao->addColumn("NREXPEDICAO", 75);
    dbgPadrao->addColumn("NRLANCESTQ");
    dbgPadrao->addColumn("NMRAZSOCCLIE", 197);
    dbgPadrao->addColumn("NRNOTAFISC", 69);
    dbgPadrao->addColumn("DTEMISSAO", 77);
    dbgPadrao->addColumn("IDSTATUS", 65);
    dbgPadrao->addColumn("IDSTATUSNFE", 70, QStringLiteral("Status Sefaz"));
    dbgPadrao->refreshColumns();
    gridFont(dbgPadrao);
    dbgPadrao->onDrawColumnCell = [this](QPainter& c, const QRect& r, int i, const host::Column& col,
                                         host::GridDrawStates st) { dbgPadraoDrawColumnCell(c, r, i, col, st); };
    dbgPadrao->onCellClick = [this](const host::Column& col) { dbgPadraoCellClick(col); };
    dbgPadrao->onTitleClick = [this](const host::Column& col) { dbgPadraoTitleClick(col); };

    // Item grid.
    dbgItensNf = new host::DBGrid("dbgItensNf", tshFormulario);
    styleItemGrid(dbgItensNf);
    dbgItensNf->setDataSource(dtsItensLanctoNF);
    dbgItensNf->addColumn("IDCHECK", 20, QStringLiteral("4"), Qt::AlignCenter).titleFont = checkTitleFont();
    dbgItensNf->addColumn("NRSEQITPROD", 49);
    dbgItensNf->addColumn("CDARVPROD", 84);
    dbgItensNf->addColumn("NMPRODUTO", 275);
    dbgItensNf->addColumn("QTITEMPROD", 60, {}, Qt::AlignRight | Qt::AlignVCenter);
    dbgItensNf->addColumn("VRUNITITEM", -1, {}, Qt::AlignRight | Qt::AlignVCenter);
    dbgItensNf->addColumn("CDFILIALPED");
    dbgItensNf->addColumn("NRPEDIDO", 73);
    dbgItensNf->addColumn("NRITEMPED", 76);
    dbgItensNf->refreshColumns();
    dbgItensNf->onDrawColumnCell = [this](QPainter& c, const QRect& r, int i, const host::Column& col,
                                          host::GridDrawStates st) { dbgItensNfDrawColumnCell(c, r, i, col, st); };
    dbgItensNf->onCellClick = [this](const host::Column& col) { dbgItensNfCellClick(col); };
    dbgItensNf->onTitleClick = [this](const host::Column& col) { dbgItensNfTitleClick(col); };
    dbgItensNf->onKeyDown = [this](int& key, Qt::KeyboardModifiers shift) { dbgItensNfKeyDown(key, shift); };
    auto* itemsLay = new QVBoxLayout(tshFormulario);
    itemsLay->setContentsMargins(0, 0, 0, 0);
    itemsLay->addWidget(dbgItensNf);

    // Stock-withdrawal page: grid inside a panel and a scroll box.
    tshItemEst = new host::TabSheet("tshItemEst", QStringLiteral("Itens Retirada Estoque"), pgcPadrao);
    Panel1 = new QWidget(tshItemEst);
    Panel1->setObjectName("Panel1");
    ScrollBox1 = new QScrollArea(Panel1);
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    dbgItemEst = new host::DBGrid("dbgItemEst", nullptr);
    styleItemGrid(dbgItemEst);
    dbgItemEst->setDataSource(dtsItLanctoEst);
    dbgItemEst->addColumn("NRSEQUITEM", 44);
    dbgItemEst->addColumn("CDARVPROD", 97);
    dbgItemEst->addColumn("NMPRODUTO", 286);
    dbgItemEst->addColumn("QTLANCTOEST", -1, {}, Qt::AlignRight | Qt::AlignVCenter);
    dbgItemEst->addColumn("VRUNILANCTO", -1, {}, Qt::AlignRight | Qt::AlignVCenter);
    dbgItemEst->addColumn("DTLANCMOVI", 70);
    dbgItemEst->addColumn("CDFILIMOVI", 72);
    dbgItemEst->addColumn("PRODMOVI", 87);
    dbgItemEst->refreshColumns();
    dbgItemEst->onKeyDown = [this](int& key, Qt::KeyboardModifiers shift) { dbgItemEstKeyDown(key, shift); };
    ScrollBox1->setWidget(dbgItemEst);
    auto* panelLay = new QVBoxLayout(Panel1);
    panelLay->setContentsMargins(0, 0, 0, 0);
    panelLay->addWidget(ScrollBox1);
    auto* estLay = new QVBoxLayout(tshItemEst);
    estLay->setContentsMargins(0, 0, 0, 0);
    estLay->addWidget(Panel1);

    // Navigator: the current entry's number, moving through the entries.
    dbtNome->setDataSource(dtsLanctoNF, "NRLANCTONF");
    dbnPadrao->setDataSource(dtsLanctoNF);
}

void TfrmConLancto::buildMenus()
{
    mnuFolhaDados->setText(QStringLiteral("&Lançamentos de Expedição"));
    mnuFormulario->setText(QStringLiteral("I&tens Nota Fiscal"));
    mnuRetiEst = addMenuAction(mnuOperacao, "mnuRetiEst", QStringLiteral("Itens Retirada &Estoque"), {}, mnuListagem);
    connect(mnuRetiEst, &QAction::triggered, this, [this] { dispatch([this] { mnuRetiEstClick(); }); });
    mnuListagem->setEnabled(false);

    for (QAction* a : {mnuIncluir, mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar, mnuCancelar, mnuConfirmar})
        a->setEnabled(false);

    N1 = mnuManutencao->addSeparator();
    N1->setObjectName("N1");
    mnuCancelaNota = addMenuAction(mnuManutencao, "mnuCancelaNota", QStringLiteral("Cancela Nota de E&xpedição"),
                                   QKeySequence(Qt::CTRL | Qt::Key_A));
    mnuCancelaNota->setEnabled(false);
    connect(mnuCancelaNota, &QAction::triggered, this, [this] { dispatch([this] { mnuCancelaNotaClick(); }); });
    mnuFiltrar =
        addMenuAction(mnuManutencao, "mnuFiltrar", QStringLiteral("Filtrar"), QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuFiltrar->setEnabled(false);
    connect(mnuFiltrar, &QAction::triggered, this, [this] { dispatch([this] { mnuFiltrarClick(); }); });
}

// --- lifecycle -----------------------------------------------------------------

void TfrmConLancto::FormCreate()
{
    host::TfrmPadrao::FormCreate();
    boPrimVez = true;
    netCancelExp->Connect();
    netSituacao->Connect();
    boContaComissao = false;
    cdsErroReplic->createDataSet();
}

void TfrmConLancto::netCancelExpBeforeConnect(TNetConnection& sender)
{
    sender.Host = WebURL();
    sender.Port = WebPort();
}

void TfrmConLancto::netSituacaoBeforeConnect(TNetConnection& sender)
{
    sender.Host = WebURL();
    sender.Port = WebPort();
}

void TfrmConLancto::FormActivate()
{
    repaint();
    if (!boPrimVez)
        return;

    // Product codes show in the host's product-code picture.
    const QString pict = DBPict(0);
    cdsItensLanctoNF->fieldByName("CDPRODUTO").setEditMask(pict);
    cdsItensLanctoNF->fieldByName("CDARVPROD").setEditMask(pict);
    cdsItLanctoEst->fieldByName("CDPRODUTO").setEditMask(pict);
    cdsItLanctoEst->fieldByName("CDARVPROD").setEditMask(pict);
    cdsItLanctoEst->fieldByName("PRODMOVI").setEditMask(pict);

    medFilial->setText(FiliProc());
    edtFilial->setText(NomeFiliProc());
    host::SetChildEnabled(panFiltro, !ModuFili());
    if (ModuFili())
        panFiltroExit();
    else
        medFilial->setFocus();

    boPrimVez = false;
    inNotasMarcadas = 0;
    inItensMarcados = 0;
}

void TfrmConLancto::FormClose()
{
    host::TfrmPadrao::FormClose();
    boFiltroAplicado = false;
    boIdCriado = false;
    netCancelExp->Disconnect();
    netSituacao->Disconnect();
}
