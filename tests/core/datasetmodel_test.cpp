// The table model over a client dataset, under Qt's model tester: loads,
// reloads with fewer and more rows, a posted edit, close, disabled controls
// and their re-enabling, a row order, marks and a dataset destroyed under it.
#include "client/datasetmodel.h"
#include "core/datapacket.h"

#include <QAbstractItemModelTester>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <stdexcept>

using namespace core;

namespace {

// Rows with codes out of order (so that an order by code moves them).
DataPacket people(int n, int seed)
{
    DataPacket p({{"CODIGO", FieldType::String, 4}, {"NOME", FieldType::String, 40}, {"VALOR", FieldType::Float}});
    for (int i = 0; i < n; ++i) {
        const int code = (i * 37 + seed) % 997;
        p.appendRow(
            {QStringLiteral("%1").arg(code, 4, 10, QChar(u'0')), QStringLiteral("Pessoa %1").arg(i), code * 1.5});
    }
    return p;
}

std::vector<int> byCodeDescending(const ClientDataset& ds)
{
    std::vector<int> pos(size_t(ds.recordCount()));
    std::iota(pos.begin(), pos.end(), 0);
    std::stable_sort(pos.begin(), pos.end(),
                     [&](int a, int b) { return ds.rawValue(a, 0).toString() > ds.rawValue(b, 0).toString(); });
    return pos;
}

// The model shows every dataset row once, each cell the dataset's value of
// its row, and (when ordered) the codes descending.
void expectShowsTheDataset(const DatasetModel& m, const ClientDataset& ds, bool ordered, const char* step)
{
    SCOPED_TRACE(step);
    ASSERT_EQ(m.rowCount(), ds.recordCount());
    const int nome = m.columnOf("NOME"), codigo = m.columnOf("CODIGO");
    std::vector<int> seen;
    QString previous;
    for (int r = 0; r < m.rowCount(); ++r) {
        const int d = m.dataRow(r);
        seen.push_back(d);
        EXPECT_EQ(m.viewRow(d), r);
        EXPECT_EQ(m.index(r, nome).data().toString(), ds.rawValue(d, ds.fieldByName("NOME").index()).toString());
        const QString code = m.index(r, codigo).data().toString();
        if (ordered && r > 0) {
            EXPECT_GE(previous, code) << "row " << r;
        }
        previous = code;
    }
    std::sort(seen.begin(), seen.end());
    for (size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], int(i));
}

} // namespace

TEST(DatasetModel, FollowsItsDatasetUnderTheModelTester)
{
    auto ds = std::make_unique<ClientDataset>("cdsPessoas");
    ds->addString("CODIGO", 4, QString::fromUtf8("Código"));
    ds->addString("NOME", 40, "Nome");
    ds->addFloat("VALOR", "Valor", true, "#,##0.00");
    DatasetModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setColumns(DatasetModel::visibleColumns(*ds));
    model.setDataSet(ds.get());
    EXPECT_EQ(model.rowCount(), 0); // not open yet
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), ds->field(0).displayLabel());

    struct Step {
        const char* what;
        std::function<void()> act;
        bool ordered;
    };
    const Step steps[] = {
        {"load", [&] { ds->loadFromPacket(people(50, 3)); }, false},
        {"reload with fewer rows", [&] { ds->loadFromPacket(people(20, 11)); }, false},
        {"reload with more rows", [&] { ds->loadFromPacket(people(45, 5)); }, false},
        {"ordered by code", [&] { model.setRowOrder(byCodeDescending); }, true},
        {"reload ordered with fewer rows", [&] { ds->loadFromPacket(people(12, 7)); }, true},
        {"posted edit while ordered",
         [&] {
             ds->moveTo(4);
             ds->edit();
             ds->fieldByName("NOME").setAsString("Alterado");
             ds->post();
         },
         true},
        {"close", [&] { ds->close(); }, true},
        {"load after close", [&] { ds->loadFromPacket(people(30, 1)); }, true},
        {"order removed", [&] { model.setRowOrder({}); }, false},
        {"an order that is not a permutation is ignored",
         [&] { model.setRowOrder([](const ClientDataset&) {
                   return std::vector<int>{0, 0, 1};
               }); }, false},
    };
    for (const Step& s : steps) {
        s.act();
        expectShowsTheDataset(model, *ds, s.ordered, s.what);
    }

    // The current row of a view stays on its dataset row when the order changes.
    const QPersistentModelIndex followed = model.index(model.viewRow(9), 1);
    model.setRowOrder(byCodeDescending);
    EXPECT_EQ(model.dataRow(followed.row()), 9);

    // Disabled controls: nothing is read and the count stays until enabled.
    ds->disableControls();
    ds->loadFromPacket(people(40, 2));
    EXPECT_EQ(model.rowCount(), 30);
    EXPECT_FALSE(model.index(0, 1).data().isValid());
    model.setRowOrder({}); // applied once the rows can be read
    ds->enableControls();
    expectShowsTheDataset(model, *ds, false, "re-enabled");

    // Marks belong to dataset positions, are sized with the rows and start
    // clear on new rows; a text handler that fails shows "?".
    model.setMarkColumn(true);
    model.setRowOrder(byCodeDescending);
    ASSERT_TRUE(model.setData(model.index(model.viewRow(39), 0), int(Qt::Checked), Qt::CheckStateRole));
    EXPECT_EQ(model.markedRows(), std::vector<int>{39});
    ds->loadFromPacket(people(60, 4));
    EXPECT_TRUE(model.markedRows().empty());
    ASSERT_TRUE(model.setData(model.index(model.viewRow(59), 0), int(Qt::Checked), Qt::CheckStateRole));
    model.toggleMark(3);
    EXPECT_EQ(model.markedRows(), (std::vector<int>{3, 59}));
    EXPECT_EQ(model.index(model.viewRow(59), 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    ds->fieldByName("NOME").setOnGetText([](Field&, QString&, bool) { throw std::runtime_error("falhou"); });
    EXPECT_EQ(model.index(0, model.columnOf("NOME")).data().toString(), "?");

    ds.reset(); // destroyed under the model
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.dataSet(), nullptr);
}
