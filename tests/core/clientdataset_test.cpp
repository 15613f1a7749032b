// Client datasets: loading, refusals, cursor, index, locate, edit/post,
// events and control disabling, display texts.
#include "client/clientdataset.h"
#include "core/datapacket.h"
#include "core/errors.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThreadPool>

#include <gtest/gtest.h>

using namespace core;

namespace {

// Declares the fields of a small entry list.
void declare(ClientDataset& ds)
{
    ds.addString("IDCHECK", 1, "4");
    ds.addString("NRLANCTONF", 10, "Lançamento");
    ds.addDateTime("DTENTRSAID", "Data");
    ds.addFloat("VRTOTAL", "Valor", true, "#,##0.00");
}

DataPacket entries()
{
    // Extra field CDFILIAL and a different order: matched by name.
    DataPacket p({{"CDFILIAL", FieldType::String, 4},
                  {"nrlanctonf", FieldType::String, 10},
                  {"IDCHECK", FieldType::String, 1},
                  {"DTENTRSAID", FieldType::DateTime},
                  {"VRTOTAL", FieldType::Float}});
    p.appendRow({"0001", "0000000030", "N", Date{45002}, 10.0});
    p.appendRow({"0001", "0000000010", "N", Date{45001}, 20.0});
    p.appendRow({"0001", "0000000020", "S", Date{45001}, 30.0});
    p.appendRow({"0001", "0000000005", "N", Date{45003}, Variant()});
    return p;
}

QStringList column(const ClientDataset& ds, const QString& field)
{
    QStringList out;
    const int f = ds.fieldByName(field).index();
    for (int r = 0; r < ds.recordCount(); ++r)
        out << ds.rawValue(r, f).toString();
    return out;
}

struct Loaded : ::testing::Test {
    ClientDataset ds{"cdsLanctoNF"};
    void SetUp() override
    {
        declare(ds);
        ds.loadFromPacket(entries());
    }
    QString cur() const { return ds.fieldByName("NRLANCTONF").asString(); }
};

} // namespace

TEST(ClientDatasetTest, ClosedDatasetIsEmptyAndInactive)
{
    ClientDataset ds("cds");
    declare(ds);
    EXPECT_TRUE(ds.isEmpty());
    EXPECT_FALSE(ds.active());
    EXPECT_EQ(ds.recordCount(), 0);
    EXPECT_EQ(ds.recNo(), -1);
    EXPECT_TRUE(ds.fieldByName("NRLANCTONF").isNull());
    EXPECT_THROW(ds.next(), Error);
    EXPECT_THROW(ds.edit(), Error);
    EXPECT_THROW(ds.emptyDataSet(), Error);
    ds.createDataSet();
    EXPECT_EQ(ds.state(), DatasetState::Browse);
    EXPECT_TRUE(ds.isEmpty());
    EXPECT_TRUE(ds.eof());
    EXPECT_THROW(ds.edit(), Error);
    ds.loadFromPacket(entries());
    EXPECT_FALSE(ds.isEmpty());
    ds.close();
    EXPECT_TRUE(ds.isEmpty());
    EXPECT_EQ(ds.state(), DatasetState::Inactive);
}

TEST(ClientDatasetTest, FieldsAreDeclaredOnceAndFoundIgnoringCase)
{
    ClientDataset ds("cdsX");
    declare(ds);
    EXPECT_EQ(&ds.fieldByName("nrLanctoNF"), &ds.field(1));
    EXPECT_EQ(ds.findField("NADA"), nullptr);
    try {
        ds.fieldByName("NADA");
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("cdsX") && e.message().contains("NADA"));
    }
    EXPECT_THROW(ds.addString("idcheck", 1), Error);
    ds.createDataSet();
    EXPECT_THROW(ds.addString("OUTRO", 1), Error);
}

TEST_F(Loaded, LoadMatchesFieldsByNameAndStartsOnTheFirstRow)
{
    EXPECT_EQ(ds.recordCount(), 4);
    EXPECT_EQ(ds.recNo(), 0);
    EXPECT_TRUE(ds.bof());
    EXPECT_FALSE(ds.eof());
    EXPECT_EQ(cur(), "0000000030");
    EXPECT_EQ(ds.fieldByName("IDCHECK").asString(), "N");
    EXPECT_EQ(ds.findField("CDFILIAL"), nullptr);
}

TEST_F(Loaded, RefusedPacketsLeaveTheDatasetAsItWas)
{
    ds.next();
    const DataPacket before = ds.toPacket();

    DataPacket missing({{"IDCHECK", FieldType::String, 1},
                        {"NRLANCTONF", FieldType::String, 10},
                        {"DTENTRSAID", FieldType::DateTime}});
    missing.appendRow({"N", "1", Date{1}});
    EXPECT_THROW(ds.loadFromPacket(missing), Error);

    DataPacket textInFloat({{"IDCHECK", FieldType::String, 1},
                            {"NRLANCTONF", FieldType::String, 10},
                            {"DTENTRSAID", FieldType::DateTime},
                            {"VRTOTAL", FieldType::String, 10}});
    textInFloat.appendRow({"N", "1", Date{1}, "1.5"});
    EXPECT_THROW(ds.loadFromPacket(textInFloat), Error);

    DataPacket numberAsDate({{"IDCHECK", FieldType::String, 1},
                             {"NRLANCTONF", FieldType::String, 10},
                             {"DTENTRSAID", FieldType::Float},
                             {"VRTOTAL", FieldType::Float}});
    numberAsDate.appendRow({"N", "1", 2.0, 1.0});
    EXPECT_THROW(ds.loadFromPacket(numberAsDate), Error);

    EXPECT_THROW(ds.setData(Variant("não é pacote")), Error);

    // A damaged answer never reaches the dataset: decoding refuses it whole.
    QByteArray wire = codec::encodePacket(entries());
    wire.chop(3);
    EXPECT_THROW(ds.loadFromPacket(codec::decodePacket(wire)), Error);

    EXPECT_EQ(ds.toPacket(), before);
    EXPECT_EQ(ds.recNo(), 1);
    EXPECT_EQ(ds.state(), DatasetState::Browse);
}

TEST(ClientDatasetTest, IntegersAreAcceptedForFloatFields)
{
    ClientDataset ds("cds");
    ds.addFloat("VR");
    DataPacket p({{"VR", FieldType::Integer}});
    p.appendRow({7});
    ds.loadFromPacket(p);
    EXPECT_EQ(ds.fieldByName("VR").value().type(), Variant::Type::Double);
    EXPECT_DOUBLE_EQ(ds.fieldByName("VR").asFloat(), 7.0);
}

TEST_F(Loaded, CursorMovesAndStopsAtTheEnds)
{
    ds.next();
    EXPECT_EQ(ds.recNo(), 1);
    EXPECT_FALSE(ds.bof());
    ds.last();
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_TRUE(ds.eof());
    ds.next();
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_TRUE(ds.eof());
    ds.prior();
    EXPECT_EQ(ds.recNo(), 2);
    EXPECT_FALSE(ds.eof());
    ds.first();
    ds.prior();
    EXPECT_TRUE(ds.bof());
    EXPECT_EQ(ds.recNo(), 0);
    ds.moveTo(99);
    EXPECT_EQ(ds.recNo(), 3);
    ds.moveTo(-4);
    EXPECT_EQ(ds.recNo(), 0);

    // The usual walk visits every row once.
    QStringList seen;
    ds.first();
    while (!ds.eof()) {
        seen << cur();
        ds.next();
    }
    EXPECT_EQ(seen.size(), 4);
}

TEST_F(Loaded, IndexOrdersStablyAndKeepsTheCurrentRecord)
{
    ds.moveTo(2); // 0000000020
    ds.setIndexFieldNames("DTENTRSAID; NRLANCTONF");
    EXPECT_EQ(column(ds, "NRLANCTONF"), QStringList({"0000000010", "0000000020", "0000000030", "0000000005"}));
    EXPECT_EQ(cur(), "0000000020");
    EXPECT_EQ(ds.recNo(), 1);

    // Equal keys keep the load order.
    ds.setIndexFieldNames("IDCHECK");
    EXPECT_EQ(column(ds, "NRLANCTONF"), QStringList({"0000000030", "0000000010", "0000000005", "0000000020"}));

    // A posted change moves the row to its place; the cursor follows it.
    ds.setIndexFieldNames("DTENTRSAID;NRLANCTONF");
    ds.first(); // 0000000010
    ds.edit();
    ds.fieldByName("DTENTRSAID").setValue(Date{45010});
    ds.post();
    EXPECT_EQ(column(ds, "NRLANCTONF"), QStringList({"0000000020", "0000000030", "0000000005", "0000000010"}));
    EXPECT_EQ(cur(), "0000000010");
    EXPECT_EQ(ds.recNo(), 3);

    // The index holds over a reload; clearing it restores load order.
    ds.loadFromPacket(entries());
    EXPECT_EQ(column(ds, "NRLANCTONF").first(), "0000000010");
    ds.setIndexFieldNames("");
    EXPECT_EQ(column(ds, "NRLANCTONF").first(), "0000000030");
    EXPECT_THROW(ds.setIndexFieldNames("NADA"), Error);
    EXPECT_EQ(ds.indexFieldNames(), "");
}

TEST_F(Loaded, LocateFindsCaseInsensitivelyOnRequestAndStaysPutOtherwise)
{
    ds.moveTo(1);
    EXPECT_TRUE(ds.locate("NRLANCTONF", "0000000005"));
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_FALSE(ds.locate("IDCHECK", "s"));
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_TRUE(ds.locate("IDCHECK", "s", true));
    EXPECT_EQ(cur(), "0000000020");
    EXPECT_TRUE(ds.locate("DTENTRSAID", Date{45003.9}));
    EXPECT_EQ(cur(), "0000000005");
    EXPECT_TRUE(ds.locate("VRTOTAL", 20));
    EXPECT_EQ(cur(), "0000000010");
    EXPECT_TRUE(ds.locate("VRTOTAL", Variant()));
    EXPECT_EQ(cur(), "0000000005");
    EXPECT_FALSE(ds.locate("VRTOTAL", "abc"));
    EXPECT_THROW(ds.locate("NADA", 1), Error);
}

TEST_F(Loaded, EditPostCancelAndToPacket)
{
    Field& check = ds.fieldByName("IDCHECK");
    EXPECT_THROW(check.setAsString("S"), Error); // not editing
    ds.edit();
    EXPECT_EQ(ds.state(), DatasetState::Edit);
    check.setAsString("S");
    EXPECT_THROW(check.setAsString("SS"), Error); // longer than the field
    EXPECT_THROW(ds.fieldByName("VRTOTAL").setValue("abc"), Error);
    // The pending edit travels in the packet already.
    EXPECT_EQ(ds.toPacket().value(0, "IDCHECK").toString(), "S");
    ds.cancel();
    EXPECT_EQ(check.asString(), "N");
    ds.edit();
    check.setAsString("S");
    ds.next(); // moving posts
    EXPECT_EQ(ds.state(), DatasetState::Browse);
    const DataPacket p = ds.toPacket();
    EXPECT_EQ(p.fields().size(), 4);
    EXPECT_EQ(p.value(0, "IDCHECK").toString(), "S");
    EXPECT_EQ(p.value(1, "IDCHECK").toString(), "N");
    // The packet loads back into a twin dataset.
    ClientDataset twin("twin");
    declare(twin);
    twin.setData(ds.data());
    EXPECT_EQ(twin.toPacket(), p);
}

TEST_F(Loaded, EmptyDataSetKeepsItOpen)
{
    ds.emptyDataSet();
    EXPECT_TRUE(ds.active());
    EXPECT_TRUE(ds.isEmpty());
    EXPECT_EQ(ds.recNo(), -1);
    EXPECT_TRUE(ds.fieldByName("NRLANCTONF").isNull());
}

TEST(ClientDatasetEvents, AfterScrollFiresForEveryMoveIncludingTheFirstRowAfterALoad)
{
    ClientDataset ds("cds");
    declare(ds);
    QStringList log;
    ds.setAfterScroll([&](ClientDataset& d) { log << d.fieldByName("NRLANCTONF").asString(); });
    ds.loadFromPacket(entries());
    EXPECT_EQ(log, QStringList({"0000000030"}));
    ds.next();
    ds.next();
    ds.prior();
    ds.last();
    ds.next(); // at the end: no move
    EXPECT_EQ(log, QStringList({"0000000030", "0000000010", "0000000020", "0000000010", "0000000005"}));

    // It keeps firing while controls are disabled.
    log.clear();
    ds.disableControls();
    ds.first();
    ds.enableControls();
    EXPECT_EQ(log, QStringList({"0000000030"}));

    // Detached: moves run nothing; an empty load runs nothing either.
    log.clear();
    ds.setAfterScroll({});
    ds.next();
    ds.setAfterScroll([&](ClientDataset&) { log << "x"; });
    ds.loadFromPacket(DataPacket(entries().fields()));
    EXPECT_TRUE(log.isEmpty());
}

TEST(ClientDatasetEvents, AnAfterScrollHandlerMayDetachItself)
{
    ClientDataset ds("cds");
    declare(ds);
    int calls = 0;
    ds.setAfterScroll([&](ClientDataset& d) {
        ++calls;
        d.setAfterScroll({});
    });
    ds.loadFromPacket(entries());
    ds.next();
    EXPECT_EQ(calls, 1);
}

TEST(ClientDatasetEvents, DisabledControlsSuppressViewSignalsWithOneCatchUp)
{
    ClientDataset ds("cds");
    declare(ds);
    ds.loadFromPacket(entries());
    QSignalSpy moved(&ds, &ClientDataset::currentChanged);
    QSignalSpy data(&ds, &ClientDataset::dataChanged);
    QSignalSpy state(&ds, &ClientDataset::stateChanged);
    ds.disableControls();
    ds.disableControls();
    EXPECT_TRUE(ds.controlsDisabled());
    ds.next();
    ds.edit();
    ds.fieldByName("IDCHECK").setAsString("S");
    ds.post();
    ds.next();
    ds.enableControls();
    EXPECT_EQ(moved.count(), 0);
    EXPECT_EQ(data.count(), 0);
    EXPECT_EQ(state.count(), 0);
    ds.enableControls();
    EXPECT_FALSE(ds.controlsDisabled());
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).toInt(), 2);
    EXPECT_EQ(data.count(), 1);
    EXPECT_EQ(state.count(), 1);
    ds.enableControls(); // unbalanced: harmless
    EXPECT_FALSE(ds.controlsDisabled());
    ds.next();
    EXPECT_EQ(moved.count(), 2);
}

TEST(ClientDatasetEvents, StateChangeHandlerRunsDirectlyAndItsAbortReachesTheCaller)
{
    ClientDataset ds("cds");
    declare(ds);
    DataSource src("dts");
    src.setDataSet(&ds);
    QList<DatasetState> states;
    src.setOnStateChange([&](DataSource& s) { states << s.dataSet()->state(); });
    ds.loadFromPacket(entries());
    ds.edit();
    ds.post();
    ds.edit();
    ds.cancel();
    ds.close();
    EXPECT_EQ(states,
              QList<DatasetState>({DatasetState::Browse, DatasetState::Edit, DatasetState::Browse, DatasetState::Edit,
                                   DatasetState::Browse, DatasetState::Inactive}));

    // Runs even while controls are disabled, before the call returns.
    states.clear();
    ds.disableControls();
    ds.loadFromPacket(entries());
    EXPECT_EQ(states.size(), 1);
    ds.enableControls();

    ds.edit();
    ds.fieldByName("IDCHECK").setAsString("S");
    src.setOnStateChange([](DataSource&) { throw Abort(); });
    // The abort comes out of post; the value was posted before the handler ran.
    EXPECT_THROW(ds.post(), Abort);
    EXPECT_EQ(ds.state(), DatasetState::Browse);
    EXPECT_EQ(ds.fieldByName("IDCHECK").asString(), "S");
    EXPECT_THROW(ds.close(), Abort);
    EXPECT_FALSE(ds.active());
}

TEST(ClientDatasetEvents, DataSourcesUnbindCleanly)
{
    auto ds = std::make_unique<ClientDataset>("cds");
    declare(*ds);
    int calls = 0;
    {
        DataSource gone;
        gone.setDataSet(ds.get());
        gone.setOnStateChange([&](DataSource&) { ++calls; });
    }
    DataSource src;
    src.setDataSet(ds.get());
    src.setOnStateChange([&](DataSource&) { ++calls; });
    ds->createDataSet();
    EXPECT_EQ(calls, 1);
    ds.reset();
    EXPECT_EQ(src.dataSet(), nullptr);
}

TEST(ClientDatasetDisplay, TextsByTypeFormatAndMask)
{
    ClientDataset ds("cds");
    ds.addFloat("VR", "Valor", true, "#,##0.00");
    ds.addFloat("QT", "Qtde", true, "#,##0.00000");
    ds.addFloat("PLAIN");
    ds.addDateTime("DT");
    ds.addString("CDPRODUTO", 20).setEditMask("99.999.9999;0;_");
    ds.addInteger("N");
    ds.addString("ST", 1).setOnGetText([](Field& f, QString& text, bool) {
        text = f.dataSet()->fieldByName("N").asInteger() == 1 ? "Aberto" : "Fechado";
    });
    DataPacket p(ds.toPacket().fields());
    p.appendRow({1234.5, 1.5, 2.25, Date{45000.6}, "123456789", 1, "A"});
    p.appendRow({-1234567.891, 0.0, Variant(), Variant(), "12345", 2, "B"});
    ds.loadFromPacket(p);
    EXPECT_EQ(ds.fieldByName("VR").displayText(), "1.234,50");
    EXPECT_EQ(ds.fieldByName("QT").displayText(), "1,50000");
    EXPECT_EQ(ds.fieldByName("PLAIN").displayText(), "2,25");
    EXPECT_EQ(ds.fieldByName("DT").displayText(), "15/03/2023");
    EXPECT_EQ(ds.fieldByName("CDPRODUTO").displayText(), "12.345.6789");
    EXPECT_EQ(ds.fieldByName("ST").displayText(), "Aberto");
    ds.next();
    EXPECT_EQ(ds.fieldByName("VR").displayText(), "-1.234.567,89");
    EXPECT_EQ(ds.fieldByName("QT").displayText(), "0,00000");
    EXPECT_EQ(ds.fieldByName("DT").displayText(), "");
    EXPECT_EQ(ds.fieldByName("CDPRODUTO").displayText(), "12345"); // does not fill the picture: as stored
    EXPECT_EQ(ds.fieldByName("ST").displayText(), "Fechado");

    // A grid reads another row without moving the cursor or firing anything.
    int scrolls = 0;
    ds.setAfterScroll([&](ClientDataset&) { ++scrolls; });
    {
        ClientDataset::DisplayRow row(ds, 0);
        EXPECT_EQ(ds.fieldByName("ST").displayText(), "Aberto");
    }
    EXPECT_EQ(ds.fieldByName("ST").displayText(), "Fechado");
    EXPECT_EQ(ds.recNo(), 1);
    EXPECT_EQ(scrolls, 0);
}

TEST(FormatFloatTest, PtBrSeparatorsAndRounding)
{
    EXPECT_EQ(formatFloat(0, "#,##0.00"), "0,00");
    EXPECT_EQ(formatFloat(999.999, "#,##0.00"), "1.000,00");
    EXPECT_EQ(formatFloat(2.675, "#,##0.00"), "2,68");
    EXPECT_EQ(formatFloat(1234567.5, "#,##0"), "1.234.568");
    EXPECT_EQ(formatFloat(0.5, "#,##0.00000"), "0,50000");
    EXPECT_EQ(formatFloat(-0.001, "#,##0.00"), "0,00");
    EXPECT_EQ(formatFloat(12.5, "0.##"), "12,5");
    EXPECT_EQ(formatFloat(1e15, "#,##0.00"), "1.000.000.000.000.000,00");
    EXPECT_EQ(formatFloat(0.004, "R$ #,##0.00"), "R$ 0,00");
}

TEST(ClientDatasetIndex, OrdersLikeAPlainStableSortForAnyStrings)
{
    // Short, long, accented, non-Latin-1, embedded NUL, prefixes and nulls,
    // against a reference stable sort by (text, number).
    const QStringList pool = {"",
                              "a",
                              "A",
                              "ab",
                              "a b",
                              "abc",
                              QString::fromUtf8("ação"),
                              QString::fromUtf8("açao"),
                              "0000000012",
                              "0000000012 ",
                              "00000000123456789",
                              "00000000123456788",
                              QString::fromUtf8("中文"),
                              QString("a") + QChar(0) + "b",
                              "a\x01",
                              "zzzzzzzzzzzzzzzzz",
                              "Z"};
    ClientDataset ds("cds");
    ds.addString("S", 40);
    ds.addInteger("N");
    ds.addInteger("SEQ");
    DataPacket p(ds.toPacket().fields());
    struct Ref {
        Variant s;
        qint64 n;
        qint64 seq;
    };
    std::vector<Ref> ref;
    quint32 seed = 7;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int pick = int((seed >> 8) % (pool.size() + 1));
        const Variant s = pick == pool.size() ? Variant() : Variant(pool[pick]);
        const qint64 n = (seed >> 20) % 3;
        p.appendRow({s, n, i});
        ref.push_back({s, n, i});
    }
    std::stable_sort(ref.begin(), ref.end(), [](const Ref& a, const Ref& b) {
        if (a.s.isNull() != b.s.isNull())
            return a.s.isNull();
        const int c = a.s.isNull() ? 0 : a.s.toString().compare(b.s.toString());
        return c != 0 ? c < 0 : a.n < b.n;
    });
    ds.setIndexFieldNames("S;N");
    ds.loadFromPacket(p);
    ASSERT_EQ(ds.recordCount(), int(ref.size()));
    for (int r = 0; r < ds.recordCount(); ++r)
        ASSERT_EQ(ds.rawValue(r, 2).toInt(), ref[size_t(r)].seq) << "row " << r;
}

// Rows that arrive already in the index's order (as a list from the server
// does) are not sorted again; in order but for one row, or with equal keys,
// they still read as a stable sort orders them.
TEST(ClientDatasetIndex, RowsArrivingInOrderOrAlmostReadAsAStableSortOrdersThem)
{
    for (const std::vector<int>& values : {std::vector<int>{1, 2, 2, 3, 5, 8}, std::vector<int>{1, 2, 3, 4, 5, 0},
                                           std::vector<int>{7, 7, 7, 7}, std::vector<int>{2, 1}, std::vector<int>{3}}) {
        DataPacket q({{"N", FieldType::Integer}, {"SEQ", FieldType::Integer}});
        for (size_t i = 0; i < values.size(); ++i)
            q.appendRow({qint64(values[i]), qint64(i)});
        ClientDataset ds("cds");
        ds.addInteger("N");
        ds.addInteger("SEQ");
        ds.setIndexFieldNames("N");
        ds.loadFromPacket(q);
        std::vector<std::pair<int, int>> want, got;
        for (size_t i = 0; i < values.size(); ++i)
            want.emplace_back(values[i], int(i));
        std::stable_sort(want.begin(), want.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (ds.first(); !ds.eof(); ds.next())
            got.emplace_back(int(ds.fieldByName("N").asInteger()), int(ds.fieldByName("SEQ").asInteger()));
        EXPECT_EQ(got, want);
    }
}

// Rows are stored by type, field by field; what follows is what that storage
// could get wrong.
namespace {

// One field of every type, to see nulls and values of each kind.
void declareAllTypes(ClientDataset& ds)
{
    ds.addString("CDFILIAL", 4);
    ds.addInteger("NRITEM");
    ds.addFloat("VRTOTAL", {}, true, "#,##0.00");
    ds.addDateTime("DTENTRSAID");
    ds.addField(FieldDef{"FLATIVO", FieldType::Boolean, 0, false, false});
}

DataPacket allTypes()
{
    DataPacket p({{"CDFILIAL", FieldType::String, 4},
                  {"NRITEM", FieldType::Integer},
                  {"VRTOTAL", FieldType::Float},
                  {"DTENTRSAID", FieldType::DateTime},
                  {"FLATIVO", FieldType::Boolean}});
    p.appendRow({"0001", qint64(9007199254740993LL), 0.1 + 0.2, Date{45001.5}, true});
    p.appendRow({Variant(), Variant(), Variant(), Variant(), Variant()});
    p.appendRow({"", qint64(0), 0.0, Date{0}, false});
    p.appendRow({"0001", qint64(-1), -1234.565, Date{-3}, Variant()});
    return p;
}

} // namespace

TEST(ClientDatasetStorage, NullsAndValuesOfEveryTypeComeBackExactly)
{
    ClientDataset ds("cds");
    declareAllTypes(ds);
    const DataPacket p = allTypes();
    ds.loadFromPacket(p);
    // Every value, null or not, comes back as loaded: no float conversion of
    // integers, the float's own bits, the date's fraction, an empty string
    // apart from null, false apart from null.
    EXPECT_EQ(ds.toPacket(), p);
    for (int r = 0; r < p.rowCount(); ++r)
        for (int f = 0; f < p.fields().size(); ++f) {
            const Variant v = ds.rawValue(r, f);
            EXPECT_EQ(v.type(), p.rows()[size_t(r)][size_t(f)].type()) << r << "," << f;
            EXPECT_EQ(v, p.rows()[size_t(r)][size_t(f)]) << r << "," << f;
        }
    EXPECT_EQ(ds.rawValue(0, 1).toInt(), 9007199254740993LL);
    EXPECT_EQ(ds.rawValue(0, 2).toDouble(), 0.1 + 0.2);
    ds.moveTo(1);
    for (int f = 0; f < ds.fieldCount(); ++f) {
        EXPECT_TRUE(ds.field(f).isNull()) << f;
        EXPECT_EQ(ds.field(f).displayText(), QString()) << f;
    }
    EXPECT_EQ(ds.fieldByName("NRITEM").asInteger(), 0);
    ds.moveTo(2);
    for (int f = 0; f < ds.fieldCount(); ++f)
        EXPECT_FALSE(ds.field(f).isNull()) << f;
    ds.moveTo(3);
    EXPECT_EQ(ds.fieldByName("VRTOTAL").displayText(), "-1.234,57");

    // A value set to null and back again, in each type.
    ds.first();
    ds.edit();
    for (int f = 0; f < ds.fieldCount(); ++f)
        ds.field(f).setValue(Variant());
    ds.post();
    for (int f = 0; f < ds.fieldCount(); ++f)
        EXPECT_TRUE(ds.rawValue(0, f).isNull()) << f;
    ds.edit();
    for (int f = 0; f < ds.fieldCount(); ++f)
        ds.field(f).setValue(p.rows()[0][size_t(f)]);
    ds.post();
    EXPECT_EQ(ds.toPacket(), p);

    // Nulls sort first and are found by locate in every type.
    ds.setIndexFieldNames("VRTOTAL");
    EXPECT_TRUE(ds.rawValue(0, 2).isNull());
    EXPECT_EQ(ds.rawValue(1, 2).toDouble(), -1234.565);
    for (int f = 0; f < ds.fieldCount(); ++f) {
        ds.last();
        EXPECT_TRUE(ds.locate(ds.field(f).fieldName(), Variant())) << f;
        EXPECT_TRUE(ds.field(f).isNull()) << f;
    }
    EXPECT_TRUE(ds.locate("NRITEM", qint64(-1)));
    EXPECT_EQ(ds.fieldByName("CDFILIAL").asString(), "0001");
    EXPECT_TRUE(ds.locate("DTENTRSAID", Date{45001}));
    EXPECT_EQ(ds.fieldByName("NRITEM").asInteger(), 9007199254740993LL);
    EXPECT_TRUE(ds.locate("FLATIVO", false));
    EXPECT_EQ(ds.fieldByName("CDFILIAL").asString(), "");
}

TEST(ClientDatasetStorage, ATextSharedByManyRowsChangesInTheEditedRowOnly)
{
    ClientDataset ds("cds");
    ds.addString("IDCHECK", 1);
    ds.addString("NMCLIENTE", 40);
    DataPacket p({{"IDCHECK", FieldType::String, 1}, {"NMCLIENTE", FieldType::String, 40}});
    for (int i = 0; i < 500; ++i)
        p.appendRow({"N", i % 2 ? QStringLiteral("CLIENTE %1").arg(i) : QStringLiteral("MESMO CLIENTE")});
    ds.loadFromPacket(p);
    ds.moveTo(10);
    ds.edit();
    ds.fieldByName("IDCHECK").setAsString("S");
    ds.fieldByName("NMCLIENTE").setAsString("OUTRO");
    ds.post();
    for (int r = 0; r < 500; ++r) {
        EXPECT_EQ(ds.rawValue(r, 0).toString(), r == 10 ? "S" : "N") << r;
        if (r != 10) {
            EXPECT_EQ(ds.rawValue(r, 1), p.rows()[size_t(r)][1]) << r;
        }
    }
    EXPECT_EQ(ds.rawValue(10, 1).toString(), "OUTRO");
    // Ticking every row and back again, as a tick-all does.
    for (ds.first(); !ds.eof(); ds.next()) {
        ds.edit();
        ds.fieldByName("IDCHECK").setAsString("S");
    }
    ds.post();
    for (int r = 0; r < 500; ++r)
        ASSERT_EQ(ds.rawValue(r, 0).toString(), "S") << r;
    ds.moveTo(20);
    ds.edit();
    ds.fieldByName("IDCHECK").setAsString("N");
    ds.cancel();
    EXPECT_EQ(ds.fieldByName("IDCHECK").asString(), "S");
    // Locate sees the edited texts, case ignored on request.
    EXPECT_TRUE(ds.locate("NMCLIENTE", "outro", true));
    EXPECT_EQ(ds.recNo(), 10);
    EXPECT_FALSE(ds.locate("NMCLIENTE", "outro"));
}

TEST(ClientDatasetStorage, ALoadedPacketGoesBackIdenticalOnTheWire)
{
    // As the list arrives: decoded from the wire, strings shared per column.
    DataPacket p({{"CDFILIAL", FieldType::String, 4},
                  {"NRLANCTONF", FieldType::String, 10},
                  {"IDCHECK", FieldType::String, 1},
                  {"DTENTRSAID", FieldType::DateTime},
                  {"VRTOTAL", FieldType::Float},
                  {"QTITEM", FieldType::Integer}});
    for (int i = 0; i < 300; ++i)
        p.appendRow({i % 3 ? "0001" : "0002", QStringLiteral("%1").arg(i * 7, 10, 10, QChar(u'0')), "N",
                     i % 11 ? Variant(Date{45000.0 + i % 5}) : Variant(), i * 1.01, qint64(i % 4)});
    const QByteArray wire = codec::encodePacket(p);
    ClientDataset ds("cds");
    for (const FieldDef& f : p.fields())
        ds.addField(f);
    ds.setIndexFieldNames("IDCHECK; DTENTRSAID; NRLANCTONF");
    ds.setData(Variant(codec::decodePacket(wire)));
    // Load order, not index order, travels back.
    EXPECT_EQ(codec::encodePacket(ds.toPacket()), wire);
    EXPECT_EQ(codec::encodeVariant(ds.data()), codec::encodeVariant(Variant(p)));
    // With the user's ticks in it, and nothing else changed.
    ds.first();
    ds.edit();
    ds.fieldByName("IDCHECK").setAsString("S");
    const int tickedLoadRow = int(ds.fieldByName("NRLANCTONF").asString().toLongLong() / 7);
    ds.post();
    DataPacket expected = p;
    expected.rows()[size_t(tickedLoadRow)][2] = Variant("S");
    EXPECT_EQ(codec::encodePacket(ds.toPacket()), codec::encodePacket(expected));
}

TEST(ClientDatasetStorage, ALoadReplacesRowsOfAnotherLayoutAndARefusedOneKeepsThem)
{
    ClientDataset ds("cds");
    declareAllTypes(ds);
    ds.loadFromPacket(allTypes());
    ds.moveTo(3);
    const DataPacket before = ds.toPacket();

    // Malformed on the wire, wrong width, wrong type late in a long packet:
    // all refused, the rows and the cursor stay.
    QByteArray wire = codec::encodePacket(allTypes());
    wire.replace("\"0001\"", "\"0001");
    EXPECT_THROW(ds.loadFromPacket(codec::decodePacket(wire)), Error);
    DataPacket late = allTypes();
    for (int i = 0; i < 1000; ++i)
        late.rows().push_back(late.rows()[0]);
    late.rows().back()[1] = Variant("1");
    EXPECT_THROW(ds.loadFromPacket(late), Error);
    DataPacket narrow = allTypes();
    narrow.rows()[2].pop_back();
    EXPECT_THROW(ds.loadFromPacket(narrow), Error);
    EXPECT_EQ(ds.toPacket(), before);
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_EQ(ds.fieldByName("VRTOTAL").asFloat(), -1234.565);

    // Another layout: other field order, extra fields, integers for the float.
    DataPacket other({{"FLATIVO", FieldType::Boolean},
                      {"EXTRA", FieldType::String, 3},
                      {"dtentrsaid", FieldType::DateTime},
                      {"VRTOTAL", FieldType::Integer},
                      {"NRITEM", FieldType::Integer},
                      {"CDFILIAL", FieldType::String, 4}});
    other.appendRow({true, "x", Date{7}, qint64(5), qint64(6), "0009"});
    other.appendRow({Variant(), "y", Variant(), Variant(), qint64(1), Variant()});
    ds.loadFromPacket(other);
    EXPECT_EQ(ds.recordCount(), 2);
    DataPacket want(before.fields());
    want.appendRow({"0009", qint64(6), 5.0, Date{7}, true});
    want.appendRow({Variant(), qint64(1), Variant(), Variant(), Variant()});
    EXPECT_EQ(ds.toPacket(), want);
    EXPECT_EQ(ds.rawValue(0, 2).type(), Variant::Type::Double);
    // Nothing of the earlier rows is left: a row past the end reads null.
    EXPECT_TRUE(ds.rawValue(3, 0).isNull());
    ds.close();
    EXPECT_TRUE(ds.rawValue(0, 0).isNull());
    ds.loadFromPacket(allTypes());
    EXPECT_EQ(ds.toPacket(), allTypes());
}

// A long list replaced by another is freed on a pool thread while the screen
// goes on: texts read from it before stay valid, the new rows are whole, and
// replacing lists in a row (each freed apart) loses nothing.
TEST(ClientDatasetStorage, ALongListReplacedIsFreedApartAndTextsTakenFromItStayValid)
{
    auto list = [](int rows, const QString& tag) {
        DataPacket p({{"NRLANCTONF", FieldType::String, 10},
                      {"NMCLIENTE", FieldType::String, 50},
                      {"NRVERSAO", FieldType::Integer}});
        for (int r = 0; r < rows; ++r)
            p.appendRow(
                {QString("%1").arg(r, 10, 10, QChar('0')), QString("%1 cliente %2").arg(tag).arg(r % 500), qint64(r)});
        return p;
    };
    ClientDataset ds("cds");
    ds.addString("NRLANCTONF", 10);
    ds.addString("NMCLIENTE", 50);
    ds.addInteger("NRVERSAO");
    ds.loadFromPacket(list(12000, "A"));
    ds.moveTo(11999);
    const QString kept = ds.fieldByName("NMCLIENTE").asString();
    const Variant keptValue = ds.fieldByName("NRLANCTONF").value();
    for (int round = 0; round < 6; ++round) {
        ds.loadFromPacket(list(12000 + round, QString("B%1").arg(round)));
        if (round % 2)
            QCoreApplication::processEvents(); // the freeing starts once the event loop runs
    }
    QCoreApplication::processEvents();
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(kept, "A cliente 499");
    EXPECT_EQ(keptValue.toString(), "0000011999");
    EXPECT_EQ(ds.recordCount(), 12005);
    ds.moveTo(12004);
    EXPECT_EQ(ds.fieldByName("NMCLIENTE").asString(), "B5 cliente 4");
    EXPECT_EQ(ds.fieldByName("NRVERSAO").asInteger(), 12004);
    EXPECT_EQ(ds.toPacket(), list(12005, "B5"));
}
