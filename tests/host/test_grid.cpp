// The data-aware grid and the page control.

#include "hosttestutil.h"

#include "host/controls.h"
#include "host/dbgrid.h"
#include "host/hostglobals.h"
#include "host/pagecontrol.h"
#include "host/rowsort.h"

#include "doubles/scriptedhost.h"

#include <QHeaderView>
#include <QPainter>
#include <QTabBar>
#include <QStyle>
#include <QTest>
#include <gtest/gtest.h>

using namespace host;

namespace {

struct GridFixture : ::testing::Test {
    core::ClientDataset ds{"cdsPessoas"};
    core::DataSource dts{"dtsPessoas"};
    DBGrid grid{"dbgPadrao"};

    void SetUp() override
    {
        QStringList rows;
        for (int i = 0; i < 60; ++i)
            rows << QStringLiteral("%1|Pessoa %2").arg(i, 4, 10, QChar(u'0')).arg(i);
        hosttest::fillPeople(ds, rows);
        dts.setDataSet(&ds);
        grid.setDataSource(&dts);
        grid.addColumn("CODIGO", 60);
        grid.addColumn("NOME", 150, "Nome da pessoa");
        grid.resize(400, 300);
        grid.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    QPoint cellCenter(int row, int col)
    {
        grid.scrollTo(grid.model()->index(row, col));
        return grid.visualRect(grid.model()->index(row, col)).center();
    }
};

} // namespace

TEST_F(GridFixture, ColumnsTakeFieldLabelsWidthsAndTitles)
{
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Código"));
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal).toString(), "Nome da pessoa");
    // Design widths follow the font: the nine digits a 60-pixel column held
    // in the design font fit at any size.
    const int margins = 2 * (grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1) + 1;
    for (qreal pt : {6.0, 8.0, 12.0, 20.0}) {
        QFont f = grid.font();
        f.setPointSizeF(pt);
        grid.setFont(f);
        EXPECT_LE(QFontMetrics(f).horizontalAdvance("000000000"), grid.columnWidth(0) - margins) << pt;
        EXPECT_GT(QFontMetrics(f).horizontalAdvance("0000000000000"), grid.columnWidth(0) - margins) << pt;
    }
    EXPECT_FALSE(grid.isSortingEnabled());
    EXPECT_FALSE(grid.verticalHeader()->isVisible());
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid.model()->data(grid.model()->index(3, 1)).toString(), "Pessoa 3");
}

TEST_F(GridFixture, SymbolFontTitleShowsTheCheckMark)
{
    QFont sorts("Monotype Sorts");
    grid.addColumn("CODIGO", 20).titleFont = sorts;
    grid.columnRef(2).title = "4";
    grid.refreshColumns();
    EXPECT_EQ(grid.model()->headerData(2, Qt::Horizontal).toString(), QString(QChar(0x2714)));
}

TEST_F(GridFixture, IndiceColFindsTheBoundColumn)
{
    EXPECT_EQ(IndiceCol(&grid, "CODIGO"), 0);
    EXPECT_EQ(IndiceCol(&grid, "nome"), 1);
    EXPECT_EQ(IndiceCol(&grid, "IDCHECK"), -1);
    EXPECT_EQ(IndiceCol(nullptr, "NOME"), -1);
}

TEST_F(GridFixture, SelectionFollowsTheCursorAndClicksMoveIt)
{
    ds.moveTo(7);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.currentIndex().row(), 7);

    int scrolls = 0;
    ds.setAfterScroll([&](core::ClientDataset&) { ++scrolls; });
    QString clicked;
    int recAtClick = -1;
    grid.onCellClick = [&](const Column& c) {
        clicked = c.fieldName;
        recAtClick = ds.recNo();
    };
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCenter(3, 1));
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_EQ(scrolls, 1);
    EXPECT_EQ(clicked, "NOME");
    EXPECT_EQ(recAtClick, 3); // the cursor moved before the click handler ran
}

TEST_F(GridFixture, TitleClickGivesTheColumnAndDoesNotSort)
{
    QString title;
    grid.onTitleClick = [&](const Column& c) { title = c.fieldName; };
    const QString firstBefore = grid.model()->data(grid.model()->index(0, 1)).toString();
    const int x = grid.horizontalHeader()->sectionViewportPosition(1) + 10;
    QTest::mouseClick(grid.horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    EXPECT_EQ(title, "NOME");
    EXPECT_EQ(grid.model()->data(grid.model()->index(0, 1)).toString(), firstBefore);
}

TEST_F(GridFixture, DrawHookSeesTheDatasetOnTheDrawnRow)
{
    ds.moveTo(0);
    int calls = 0, mismatches = 0;
    grid.onDrawColumnCell = [&](QPainter& p, const QRect& rect, int dataCol, const Column& col, GridDrawStates state) {
        ++calls;
        const int row = grid.indexAt(rect.center()).row();
        if (ds.fieldByName("CODIGO").asString() != ds.rawValue(row, 0).toString())
            ++mismatches;
        if (dataCol != col.index)
            ++mismatches;
        if (bool(state & gdSelected) != (row == 0))
            ++mismatches;
        if (p.brush() != grid.cellBrush(state))
            ++mismatches;
    };
    grid.viewport()->repaint();
    EXPECT_GT(calls, 10);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(ds.recNo(), 0); // drawing never moves the cursor
}

TEST_F(GridFixture, KeyCodesInAndOut)
{
    grid.setFocus();
    ds.moveTo(0);
    QList<int> seen;
    Qt::KeyboardModifiers mods;
    grid.onKeyDown = [&](int& key, Qt::KeyboardModifiers shift) {
        seen << key;
        mods = shift;
        if (key == VK_DELETE || key == VK_DOWN)
            key = 0; // swallowed
        if (key == VK_NEXT)
            key = VK_UP; // turned into another key
    };
    QTest::keyClick(&grid, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(seen.last(), VK_SPACE);
    EXPECT_TRUE(mods == Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_Delete);
    ds.moveTo(5);
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(ds.recNo(), 5); // Down was swallowed
    QTest::keyClick(&grid, Qt::Key_PageDown);
    EXPECT_EQ(ds.recNo(), 4); // arrived as Up
    // The modifier key itself arrives first, as the platform reports it.
    EXPECT_EQ(seen, (QList<int>{VK_CONTROL, VK_SPACE, VK_DELETE, VK_DOWN, VK_NEXT}));
    EXPECT_TRUE(mods == Qt::NoModifier);

    grid.onKeyDown = [&](int&, Qt::KeyboardModifiers) {};
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(ds.recNo(), 5);
}

TEST_F(GridFixture, NoPaintingOrFollowingWhileControlsAreDisabled)
{
    ds.moveTo(2);
    const QImage shown = grid.viewport()->grab().toImage();
    QTest::qWait(300); // painting settled: the grid keeps an image of its rows
    const qint64 before = grid.cellPaintCount();
    ASSERT_GT(before, 0);

    ds.disableControls();
    ds.moveTo(40);
    ds.edit();
    ds.fieldByName("NOME").setAsString("Alterado");
    ds.post();
    grid.viewport()->repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.cellPaintCount(), before);
    EXPECT_EQ(grid.currentIndex().row(), 2);
    EXPECT_EQ(grid.viewport()->grab().toImage(), shown); // what was shown stays, unread
    EXPECT_EQ(grid.cellPaintCount(), before);

    ds.enableControls(); // one catch-up
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.currentIndex().row(), 40);
    grid.viewport()->repaint();
    EXPECT_GT(grid.cellPaintCount(), before);
    EXPECT_EQ(grid.model()->data(grid.model()->index(40, 1)).toString(), "Alterado");
}

TEST_F(GridFixture, ReloadAndCloseChangeTheRows)
{
    hosttest::fillPeople(ds, {"0001|A", "0002|B"});
    EXPECT_EQ(grid.model()->rowCount(), 2);
    const int width = grid.columnWidth(1);
    ds.close();
    EXPECT_EQ(grid.model()->rowCount(), 0);
    hosttest::fillPeople(ds, {"0001|A", "0002|B", "0003|C"});
    EXPECT_EQ(grid.model()->rowCount(), 3);
    EXPECT_EQ(grid.columnWidth(1), width); // widths survive reloads
}

TEST(GridLarge, HundredThousandRowsReadOnlyWhatIsShown)
{
    core::ClientDataset ds("cdsGrande");
    ds.addString("CODIGO", 10, "Código");
    ds.addFloat("VALOR", "Valor", true, "#,##0.00");
    core::DataPacket p(
        QList<core::FieldDef>{{"CODIGO", core::FieldType::String, 10}, {"VALOR", core::FieldType::Float}});
    p.rows().reserve(100000);
    for (int i = 0; i < 100000; ++i)
        p.rows().push_back({core::Variant(QString::number(i)), core::Variant(i * 1.5)});
    ds.loadFromPacket(p);
    core::DataSource dts("dts");
    dts.setDataSet(&ds);
    DBGrid grid("dbg");
    grid.setDataSource(&dts);
    grid.resize(400, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    grid.viewport()->repaint();
    EXPECT_EQ(grid.model()->rowCount(), 100000);
    const qint64 first = grid.cellPaintCount();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 200); // a screenful, not the dataset
    ds.moveTo(99999);
    QCoreApplication::processEvents();
    grid.viewport()->repaint();
    EXPECT_LT(grid.cellPaintCount() - first, 200);
    EXPECT_EQ(grid.model()->data(grid.model()->index(99999, 1)).toString(), "149.998,50");
}

// --- page control ----------------------------------------------------------------

TEST(PageControl, ChangeHandlerRunsOnUserSwitchesOnly)
{
    TPageControl pgc("pgcPadrao");
    auto* a = new TabSheet("tshFolhaDados", "Dados", &pgc);
    auto* b = new TabSheet("tshFormulario", "Itens", &pgc);
    int changes = 0;
    pgc.onChange = [&] { ++changes; };
    pgc.resize(400, 200);
    pgc.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pgc));

    pgc.setActivePage(b);
    EXPECT_EQ(pgc.activePage(), b);
    EXPECT_EQ(changes, 0);
    QTest::mouseClick(pgc.tabBar(), Qt::LeftButton, {}, pgc.tabBar()->tabRect(0).center());
    EXPECT_EQ(pgc.activePage(), a);
    EXPECT_EQ(changes, 1);
}

TEST(PageControl, DisabledPageCannotBeChosenButStaysActive)
{
    TPageControl pgc("pgc");
    auto* a = new TabSheet("a", "A", &pgc);
    auto* b = new TabSheet("b", "B", &pgc);
    int changes = 0;
    pgc.onChange = [&] { ++changes; };
    pgc.resize(400, 200);
    pgc.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pgc));

    b->setEnabled(false);
    EXPECT_FALSE(pgc.tabBar()->isTabEnabled(1));
    EXPECT_FALSE(b->pageEnabled());
    QTest::mouseClick(pgc.tabBar(), Qt::LeftButton, {}, pgc.tabBar()->tabRect(1).center());
    EXPECT_EQ(pgc.activePage(), a);

    a->setEnabled(false); // the active page: it stays active
    EXPECT_EQ(pgc.activePage(), a);
    EXPECT_EQ(changes, 0);
    b->setEnabled(true);
    EXPECT_TRUE(pgc.tabBar()->isTabEnabled(1));
    EXPECT_EQ(pgc.activePage(), a);

    pgc.setEnabled(false); // the control's own flag is not the pages'
    EXPECT_TRUE(b->pageEnabled());
    pgc.setEnabled(true);
    EXPECT_TRUE(pgc.tabBar()->isTabEnabled(1));
    EXPECT_FALSE(pgc.tabBar()->isTabEnabled(0));
}

TEST(PageControl, SwitchingPagesKeepsTheFocusOutOfTheNextControl)
{
    // A window with an edit before the page control (like the branch panel):
    // switching away from the page that holds the focus must not pass the
    // focus on to that edit, whose enter handler would run.
    QWidget window;
    auto* before = new TEdit("edtAntes", &window);
    auto* pgc = new TPageControl("pgc", &window);
    auto* a = new TabSheet("a", "A", pgc);
    auto* b = new TabSheet("b", "B", pgc);
    auto* inside = new TEdit("edtDentro", a);
    new TEdit("edtOutra", b);
    pgc->setGeometry(0, 30, 400, 200);
    int enters = 0;
    before->onEnter = [&] { ++enters; };
    window.resize(420, 260);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    inside->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(inside->hasFocus());
    enters = 0; // showing the window may have focused the edit first
    pgc->setActivePage(b);
    QApplication::processEvents();
    EXPECT_EQ(enters, 0);
    EXPECT_FALSE(before->hasFocus());

    pgc->setActivePage(a);
    inside->setFocus();
    QApplication::processEvents();
    QTest::mouseClick(pgc->tabBar(), Qt::LeftButton, {}, pgc->tabBar()->tabRect(1).center());
    QApplication::processEvents();
    EXPECT_EQ(pgc->activePage(), b);
    EXPECT_EQ(enters, 0);
    EXPECT_TRUE(pgc->tabBar()->hasFocus());
}

// Text order as operators read a list: letter case and accents do not
// separate words, digit runs count by value (leading zeros aside), and what
// is still equal goes by the texts' code units; nulls sort as empty texts,
// first ascending. Descending reverses the distinct texts.
TEST(RowSort, TextsInBrazilianListOrder)
{
    const QStringList texts = {"b", "NF10", "Á", "", "ábaco", "NF2", "a", "Abaco", "NF02", "Zé 9", "ze 10"};
    core::ClientDataset ds("cds");
    ds.addString("T", 20, "T");
    core::DataPacket p(QList<core::FieldDef>{{"T", core::FieldType::String, 20}});
    for (const QString& t : texts)
        p.appendRow({core::Variant(t)});
    p.appendRow({core::Variant()});
    ds.loadFromPacket(p);
    auto order = [&](Qt::SortOrder o) {
        QStringList out;
        for (int r : sortedPositions(ds, 0, o))
            out << (r < texts.size() ? texts[r] : QStringLiteral("<null>"));
        return out;
    };
    const QStringList asc = {"", "<null>", "a", "Á", "Abaco", "ábaco", "b", "NF02", "NF2", "NF10", "Zé 9", "ze 10"};
    EXPECT_EQ(order(Qt::AscendingOrder), asc);
    QStringList desc(asc.rbegin(), asc.rend() - 2);
    desc << ""
         << "<null>";
    EXPECT_EQ(order(Qt::DescendingOrder), desc);
}
