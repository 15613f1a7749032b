// What the operator sees of the grids: every cell of the demo list shows
// whole (this binary also runs under QT_SCALE_FACTOR=1.5 and QT_FONT_DPI=144,
// see CMakeLists.txt), dragged widths and the window's place come back for
// the same operator, and the find dialog driven with real keys.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <client/adoibquery.h>
#include <host/dbgrid.h>
#include <host/hostglobals.h>
#include <host/widgethost.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace core;
using namespace testing_module;

namespace {

/// Cells and titles of `grid` that the view draws cut off ("…"), measured as
/// the style lays them out: "row/column: text".
QStringList cutOff(host::DBGrid* grid)
{
    QStringList out;
    QStyle* st = grid->style();
    QAbstractItemModel* m = grid->model();
    const int textMargin = st->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
    for (int c = 0; c < m->columnCount(); ++c) {
        if (grid->isColumnHidden(c))
            continue;
        // The title, unless it is the check mark's symbol.
        const QString title = m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        const QVariant titleFont = m->headerData(c, Qt::Horizontal, Qt::FontRole);
        if (!title.startsWith(QChar(0x2714))) {
            QStyleOptionHeader h;
            h.initFrom(grid->horizontalHeader());
            h.rect = QRect(0, 0, grid->columnWidth(c), grid->horizontalHeader()->height());
            h.section = c;
            h.text = title;
            const QFontMetrics fm(titleFont.isValid() ? titleFont.value<QFont>() : grid->horizontalHeader()->font());
            const int room = st->subElementRect(QStyle::SE_HeaderLabel, &h, grid->horizontalHeader()).width() - 4;
            if (fm.elidedText(title, Qt::ElideRight, room) != title)
                out << QStringLiteral("title/%1: %2").arg(c).arg(title);
        }
        for (int r = 0; r < m->rowCount(); ++r) {
            const QModelIndex idx = m->index(r, c);
            QStyleOptionViewItem o;
            o.initFrom(grid->viewport());
            o.rect = grid->visualRect(idx);
            o.font = grid->font();
            o.text = m->data(idx, Qt::DisplayRole).toString();
            o.features = QStyleOptionViewItem::HasDisplay;
            const int room = st->subElementRect(QStyle::SE_ItemViewItemText, &o, grid).width() - 2 * textMargin;
            if (QFontMetrics(o.font).elidedText(o.text, Qt::ElideRight, room) != o.text)
                out << QStringLiteral("%1/%2: %3").arg(r).arg(c).arg(o.text);
        }
    }
    return out;
}

class LayoutTest : public ScreenFixture {
protected:
    void TearDown() override
    {
        host::setLayoutFile(QString());
        ScreenFixture::TearDown();
    }
    static void showPage(TfrmConLancto* frm, host::TabSheet* page)
    {
        frm->pgcPadrao->setActivePage(page);
        frm->pgcPadraoChange();
        settle();
    }
};

TEST_F(LayoutTest, NoCellOfTheDemoListIsCutOff)
{
    RealServerScope server(dir.filePath("host.db"));
    TfrmConLancto* frm = open();
    ASSERT_NE(frm, nullptr);
    delete frmFiltroCanc;
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    settle();
    ASSERT_GT(frm->cdsLanctoNF->recordCount(), 0);
    EXPECT_EQ(cutOff(frm->dbgPadrao), QStringList());

    showPage(frm, frm->tshFormulario);
    ASSERT_GT(frm->cdsItensLanctoNF->recordCount(), 0);
    EXPECT_EQ(cutOff(frm->dbgItensNf), QStringList());

    showPage(frm, frm->tshItemEst);
    ASSERT_GT(frm->cdsItLanctoEst->recordCount(), 0);
    EXPECT_EQ(cutOff(frm->dbgItemEst), QStringList());
    closeScreen();
    delete frmFiltroCanc;
}

TEST_F(LayoutTest, DraggedWidthsAndTheWindowComeBackForTheSameOperator)
{
    host::setLayoutFile(dir.filePath("layout.ini"));
    TfrmConLancto* frm = open();
    ASSERT_NE(frm, nullptr);
    host::DBGrid* g = frm->dbgPadrao;
    const int designed = g->columnWidth(6);

    // The border after "Cliente/Filial Destino" dragged 40 pixels to the right.
    QHeaderView* h = g->horizontalHeader();
    const QPoint border(h->sectionViewportPosition(6) + h->sectionSize(6) - 1, h->height() / 2);
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(h->viewport(), border + QPoint(20, 0));
    QTest::mouseMove(h->viewport(), border + QPoint(40, 0));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, border + QPoint(40, 0));
    ASSERT_EQ(g->columnWidth(6), designed + 40);
    const QRect placed(30, 20, 700, 420);
    frm->frameWindow()->setGeometry(placed);
    closeScreen();

    frm = open();
    EXPECT_EQ(frm->dbgPadrao->columnWidth(6), designed + 40);
    EXPECT_EQ(frm->frameWindow()->geometry(), placed);
    closeScreen();

    context().operador = "OUTRO";
    frm = open();
    EXPECT_EQ(frm->dbgPadrao->columnWidth(6), designed);
}

TEST_F(LayoutTest, FindMatchesAnywhereNumbersWithOrWithoutZerosAndGoesOnToTheNextMatch)
{
    TfrmConLancto* frm = open();
    std::vector<Entry> list;
    for (const char* nf : {"000000120", "000000134", "000001134", "000000200"}) {
        Entry e;
        e.nr = QString::number(list.size() + 1).rightJustified(10, '0');
        e.nrnotafisc = nf;
        list.push_back(e);
    }
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket(list));
    settle();

    host::WidgetHost widgets;
    core::setHost(&widgets);
    QStringList offered;
    QList<int> rows;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* dlg = QApplication::activeModalWidget();
        if (!dlg || dlg->objectName() != "frmProcura")
            return;
        driver.stop();
        auto* combo = dlg->findChild<QComboBox*>("cbxCampo");
        for (int i = 0; i < combo->count(); ++i)
            offered << combo->itemText(i);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < offered.indexOf("Nr. NF"); ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        auto* value = dlg->findChild<QLineEdit*>("edtValor");
        value->setFocus();
        QTest::keyClicks(value, "134");
        QTest::keyClick(value, Qt::Key_Return); // "000000134"
        rows << frm->cdsLanctoNF->recNo();
        QTest::keyClick(value, Qt::Key_Return); // the same search again: "000001134"
        rows << frm->cdsLanctoNF->recNo();
        value->clear();
        QTest::keyClicks(value, "00000000200"); // more zeros than stored
        QTest::keyClick(value, Qt::Key_Return);
        rows << frm->cdsLanctoNF->recNo();
        value->clear();
        QTest::keyClicks(value, "999");
        QTest::keyClick(value, Qt::Key_Return);
        rows << frm->cdsLanctoNF->recNo(); // not found: stays
        QTest::keyClick(value, Qt::Key_Escape);
    });
    driver.start();
    QTest::mouseClick(frm->sbtProcurar, Qt::LeftButton);
    settle();
    core::setHost(&host);

    EXPECT_EQ(offered,
              (QStringList{"Filial", "Data Lancto.", "Lancto. NF", "Nr. Expedição", "Lancto. Estoque",
                           "Cliente/Filial Destino", "Nr. NF", "Dt. Emissão", "Status", "Status Sefaz"}));
    EXPECT_EQ(rows, (QList<int>{1, 2, 3, 3}));

    // Find next repeats the last search ("999", found nowhere: it says so).
    frm->procurarProximo();
    EXPECT_EQ(host.messageTexts(), QStringList{"\"999\" não foi encontrado."});
    frm->dbgPadrao->lastSearch().text = "134";
    frm->procurarProximo(); // from row 3 past the end to the first match
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 1);
}

TEST_F(LayoutTest, AMissingHostDatabaseIsToldInWordsAndTheDetailGoesToTheLog)
{
    QStringList logged;
    setLogSink([&](const QString& line) { logged << line; });
    TDtmDBGeral::setConnectionName("nenhuma");
    context().moduFili = true; // the branch is checked at once
    open();
    setLogSink(nullptr);
    ASSERT_FALSE(host.messageTexts().isEmpty());
    for (const QString& text : host.messageTexts()) {
        EXPECT_FALSE(text.contains("qryFilial") || text.contains("nenhuma") || text.contains("Consulta"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("banco de dados")) << text.toStdString();
    }
    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.first().startsWith("Consulta qryFilial: conexão \"nenhuma\"")) << logged.first().toStdString();
}

} // namespace
