// The screen's static definition as a user and the other handlers meet it:
// captions, start states, shortcuts, grid columns, dataset fields, catalogue
// texts with their blanks, and the check-mark glyphs.

#include "screenfixture.h"

#include <screens/query/checkimages.h>

#include <client/hostapi.h>

#include <QAction>
#include <QKeySequence>

using namespace core;
using namespace testing_module;

class Definition : public ScreenFixture {
protected:
    TfrmConLancto* f = nullptr;
    void SetUp() override
    {
        ScreenFixture::SetUp();
        f = open();
        ASSERT_NE(f, nullptr);
    }
};

TEST_F(Definition, WindowToolBarAndMenusStartAsDefined)
{
    EXPECT_EQ(f->windowTitle(), "Cancelamento / Consulta Lançamentos");
    EXPECT_EQ(f->lblCodTela->text(), "EXP01800");
    EXPECT_EQ(f->helpContext(), 11301800);
    EXPECT_EQ(f->sbtCancelNota->toolTip(), "Cancelar Nota Fiscal");
    EXPECT_EQ(f->sbtFiltro->toolTip(), "Filtrar");
    EXPECT_FALSE(f->sbtCancelNota->isEnabled());
    for (QLabel* img : {f->imgUncheck, f->imgDescheck, f->imgCheck})
        EXPECT_FALSE(img->isVisible());

    EXPECT_EQ(f->mnuRetiEst->text(), "Itens Retirada &Estoque");
    EXPECT_EQ(f->mnuFolhaDados->text(), "&Lançamentos de Expedição");
    EXPECT_EQ(f->mnuFormulario->text(), "I&tens Nota Fiscal");
    const auto ops = f->mnuOperacao->actions();
    ASSERT_GE(ops.size(), 4);
    EXPECT_EQ(ops.indexOf(f->mnuRetiEst), 2) << "third entry of the operation menu";

    EXPECT_EQ(f->mnuCancelaNota->text(), "Cancela Nota de E&xpedição");
    EXPECT_EQ(f->mnuCancelaNota->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(f->mnuFiltrar->text(), "Filtrar");
    EXPECT_EQ(f->mnuFiltrar->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_FALSE(f->mnuCancelaNota->isEnabled());
    for (QAction* a : {f->mnuIncluir, f->mnuAlterar, f->mnuExcluir, f->mnuCancelar, f->mnuConfirmar, f->mnuListagem})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(f->N1->isSeparator());

    // Every named component is reachable by its name.
    for (const char* name :
         {"panFiltro", "medFilial", "btpPesqFilial", "edtFilial", "tshItemEst", "dbgItensNf", "dbgItemEst", "Panel1",
          "ScrollBox1", "sbtCancelNota", "sbtFiltro", "mnuRetiEst", "mnuCancelaNota", "mnuFiltrar", "imgCheck"})
        EXPECT_NE(f->component(name), nullptr) << name;
}

TEST_F(Definition, BranchPanelAndPages)
{
    EXPECT_EQ(f->Label2->text(), "Filial");
    EXPECT_TRUE(f->Label2->font().bold());
    EXPECT_EQ(f->medFilial->editMask(), "9999;0; ");
    EXPECT_EQ(f->medFilial->maxLength(), 4);
    EXPECT_EQ(f->btpPesqFilial->title, "Filial");
    EXPECT_EQ(f->btpPesqFilial->emptyError, "Não há filial cadastrada.");
    EXPECT_EQ(f->btpPesqFilial->toolTip(), "Pesquisar");
    EXPECT_EQ(f->btpPesqFilial->dataSource.data(), f->dtsFilial);
    // The panel's enabling switched it on with the rest; the user still cannot type a name.
    EXPECT_TRUE(f->edtFilial->isReadOnly());

    ASSERT_EQ(f->pgcPadrao->pageCount(), 3);
    EXPECT_EQ(f->pgcPadrao->page(0)->caption(), "Lançamentos de Expedição");
    EXPECT_EQ(f->pgcPadrao->page(1)->caption(), "Itens Nota Fiscal");
    EXPECT_EQ(f->pgcPadrao->page(2)->caption(), "Itens Retirada Estoque");
    EXPECT_EQ(f->pgcPadrao->activePage(), f->tshFolhaDados);
}

namespace {
struct Col {
    const char* field;
    int width;
    const char* title;
};
void expectColumns(const host::DBGrid* g, std::initializer_list<Col> cols)
{
    ASSERT_EQ(g->columnCountBound(), int(cols.size())) << g->objectName().toStdString();
    int i = 0;
    for (const Col& c : cols) {
        const host::Column& col = g->column(i++);
        EXPECT_EQ(col.fieldName, c.field);
        EXPECT_EQ(col.width, c.width) << c.field;
        if (c.title) {
            const QString title = col.title.isEmpty() ? col.field(*g)->displayLabel() : col.title;
            EXPECT_EQ(title, QString::fromUtf8(c.title)) << c.field;
        }
    }
}
} // namespace

TEST_F(Definition, GridColumns)
{
    expectColumns(f->dbgPadrao,
                  {{"IDCHECK", 20, "4"},
                   {"CDFILIEMIT", -1, "Filial"},
                   {"DTENTRSAID", 80, "Data Lancto."},
                   {"NRLANCTONF", 71, "Lancto. NF"},
                   {"NREXPEDICAO", 75, "Nr. Expedição"},
                   {"NRLANCESTQ", -1, "Lancto. Estoque"},
                   {"NMRAZSOCCLIE", 197, "Cliente/Filial Destino"},
                   {"NRNOTAFISC", 69, "Nr. NF"},
                   {"DTEMISSAO", 77, "Dt. Emissão"},
                   {"IDSTATUS", 65, "Status"},
                   {"IDSTATUSNFE", 70, "Status Sefaz"}});
    expectColumns(f->dbgItensNf,
                  {{"IDCHECK", 20, "4"},
                   {"NRSEQITPROD", 49, "Nr. Item"},
                   {"CDARVPROD", 84, "Cód.Produto"},
                   {"NMPRODUTO", 275, "Nome Produto"},
                   {"QTITEMPROD", 60, "Quantidade"},
                   {"VRUNITITEM", -1, "Valor Unit."},
                   {"CDFILIALPED", -1, "Filial Pedido"},
                   {"NRPEDIDO", 73, "Nr.Pedido"},
                   {"NRITEMPED", 76, "Nr.Item Pedido"}});
    expectColumns(f->dbgItemEst,
                  {{"NRSEQUITEM", 44, "Nr.Item"},
                   {"CDARVPROD", 97, "Cód.Produto"},
                   {"NMPRODUTO", 286, "Nome Produto"},
                   {"QTLANCTOEST", -1, "Qtde."},
                   {"VRUNILANCTO", -1, "Vr. Unitário"},
                   {"DTLANCMOVI", 70, "Data Lancto."},
                   {"CDFILIMOVI", 72, "Filial Movto."},
                   {"PRODMOVI", 87, "Produto Movto."}});
    EXPECT_TRUE(f->dbgItensNf->column(4).alignment & Qt::AlignRight);
    EXPECT_TRUE(f->dbgItemEst->column(4).alignment & Qt::AlignRight);
    EXPECT_EQ(f->dbgPadrao->column(0).titleFont->family(), "Monotype Sorts");
}

TEST_F(Definition, DatasetsKeepTheirOrderAndFormats)
{
    EXPECT_EQ(f->cdsLanctoNF->indexFieldNames(), "DTENTRSAID; NRLANCTONF; NREXPEDICAO");
    const Field& idcheck = f->cdsLanctoNF->fieldByName("IDCHECK");
    EXPECT_TRUE(idcheck.fixedLength());
    EXPECT_EQ(idcheck.size(), 1);
    EXPECT_FALSE(idcheck.visible());
    EXPECT_EQ(f->cdsLanctoNF->field(0).fieldName(), "IDCHECK");
    EXPECT_EQ(f->cdsItensLanctoNF->field(0).fieldName(), "IDCHECK");
    EXPECT_EQ(f->cdsItensLanctoNF->fieldByName("QTITEMPROD").displayFormat(), "#,##0.00000");
    EXPECT_EQ(f->cdsItensLanctoNF->fieldByName("VRUNITITEM").displayFormat(), "#,##0.00");
    EXPECT_EQ(f->cdsParamExpedicao->fieldByName("IDTPEXPPEDIDO").size(), 3);
    EXPECT_EQ(f->netCancelExp->ServerName, "Exp01800.rdmCancelNota");
    EXPECT_EQ(f->netSituacao->ServerName, "DFS52000.rdmSituacao");

    // Loaded entries come back in date, entry, shipment order.
    f->cdsLanctoNF->loadFromPacket(lanctoPacket(
        {{"0000000009", "P", "R", "N", 0}, {"0000000003", "P", "R", "N", -1}, {"0000000001", "P", "R", "N", 0}}));
    QStringList order;
    for (f->cdsLanctoNF->first(); !f->cdsLanctoNF->eof(); f->cdsLanctoNF->next())
        order << f->cdsLanctoNF->fieldByName("NRLANCTONF").asString();
    EXPECT_EQ(order, QStringList({"0000000003", "0000000001", "0000000009"}));
}

TEST_F(Definition, CatalogueTextsKeepTheirBlanks)
{
    const TMessages& m = f->msgPadrao;
    EXPECT_EQ(m.Msg("REPLIC_APROV1"), "Operação Bloqueada. A nota de entrada ");
    EXPECT_EQ(m.Msg("REPLIC_APROV2"), " para a filial ");
    EXPECT_EQ(m.Msg("REPLIC_APROV3"), " já está aprovada.");
    EXPECT_EQ(m.Msg("Status"), "Não foi possível excluir a NF ");
    EXPECT_EQ(m.Msg("Status_1"), " pois seu status foi atualizado. Gentileza conferir coluna Status Sefaz.");
    EXPECT_EQ(m.Msg("ERRO_EXC_COMISMAPA"),
              "Algumas notas fiscais não foram canceladas. As notas pertecem a mapas de comissão apurados. ");
    // The refresh asks for "Op_Bloq"; the catalogue holds "Op_bloq".
    EXPECT_EQ(m.Msg("Op_Bloq"), "Operação Bloqueada! Nota Fiscal transmitida, aceita ou denegada eletronicamente.");
    EXPECT_EQ(m.Msg("REPLIC_APROV1") + "0000000042" + m.Msg("REPLIC_APROV2") + "0003" + m.Msg("REPLIC_APROV3"),
              "Operação Bloqueada. A nota de entrada 0000000042 para a filial 0003 já está aprovada.");
    EXPECT_EQ(m.lines().size(), 25);
}

TEST_F(Definition, HostQueriesCarryEachDialectsText)
{
    EXPECT_EQ(f->qryFilial->sqlFor(SqlDialect::Oracle), f->qryFilial->SQL.join('\n'));
    EXPECT_TRUE(f->qryFilial->SQL_IB.contains("   PARAM(:P_CDFILIAL)P_CDFILIAL"));
    EXPECT_TRUE(f->qryFilial->SQL_MSSQL.contains("   FI.CDFILIAL = ISNULL(:P_CDFILIAL,FI.CDFILIAL) AND"));
    EXPECT_TRUE(f->qryInscrEstad->SQL_ORACLE.contains("   (I.CDPAIS = MI.CDPAIS(+))  AND"));

    // The query runs on the host database in use (SQLite here).
    f->qryFilial->Close();
    f->qryFilial->ParamByName("P_CDFILIAL", Variant(QStringLiteral("0001")));
    f->qryFilial->Open();
    ASSERT_FALSE(f->qryFilial->IsEmpty());
    EXPECT_EQ(f->qryFilial->fieldByName("CDFILIAL").asString(), "0001");
    f->qryFilial->Close();
    f->qryFilial->ParamByName("P_CDFILIAL", Variant());
    f->qryFilial->Open();
    EXPECT_GE(f->qryFilial->recordCount(), 3);
}

TEST(CheckImages, GlyphsShareOneFrameAndDifferInside)
{
    using checkimages::Kind;
    const QImage check = checkimages::image(Kind::Check);
    const QImage uncheck = checkimages::image(Kind::Uncheck);
    const QImage grey = checkimages::image(Kind::Descheck);
    for (const QImage* img : {&check, &uncheck, &grey}) {
        ASSERT_EQ(img->size(), QSize(16, 16));
        EXPECT_EQ(img->pixelColor(0, 0), QColor(128, 128, 0)); // olive background
        for (int x = 2; x <= 11; ++x)
            EXPECT_EQ(img->pixelColor(x, 2), QColor(Qt::black)); // top line, 10 pixels
        for (int y = 2; y <= 11; ++y)
            EXPECT_EQ(img->pixelColor(2, y), QColor(Qt::black));  // left line
        EXPECT_EQ(img->pixelColor(12, 5), QColor(128, 128, 0));   // gap before the shadow
        EXPECT_EQ(img->pixelColor(13, 5), QColor(192, 192, 192)); // right shadow
        EXPECT_EQ(img->pixelColor(5, 13), QColor(192, 192, 192)); // bottom shadow
    }
    EXPECT_EQ(uncheck.pixelColor(7, 7), QColor(Qt::white));
    EXPECT_EQ(grey.pixelColor(7, 7), QColor(192, 192, 192));
    // The tick: black where the unchecked box is white.
    EXPECT_EQ(check.pixelColor(10, 4), QColor(Qt::black));
    EXPECT_EQ(check.pixelColor(4, 6), QColor(Qt::black));
    EXPECT_EQ(check.pixelColor(6, 10), QColor(Qt::black));
    EXPECT_EQ(check.pixelColor(3, 4), QColor(Qt::white));
    int black = 0;
    for (int y = 3; y <= 11; ++y)
        for (int x = 3; x <= 11; ++x)
            black += check.pixelColor(x, y) == QColor(Qt::black);
    EXPECT_EQ(black, 21);

    const QImage onBlue = checkimages::onBackground(Kind::Check, QColor(0, 0, 255));
    EXPECT_EQ(onBlue.pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_EQ(onBlue.pixelColor(10, 4), QColor(Qt::black));
}
