// Item cancellation checks each ticked item against the stored item of its
// number, so a list of another entry's items cancels nothing.
#include "serverfixture.h"

using namespace servertest;

class TickedItems : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        setStock("0001", "P1", 100);
        setStock("0001", "P2", 100);
        addEntry("0001", "0000000001");
        addItem("0001", "0000000001", "0001", "P1", 5);
        addItem("0001", "0000000001", "0002", "P2", 0.3);
        addEntry("0001", "0000000002");
        addItem("0001", "0000000002", "0001", "P2", 3);
        addItem("0001", "0000000002", "0002", "P2", 0.3);
    }
    core::DataPacket items(const QString& nr, const QStringList& ticked)
    {
        core::DataPacket p = cancel("GetItem", {"0001", nr})[0].packet();
        const int c = p.fieldIndex("IDCHECK"), s = p.fieldIndex("NRSEQITPROD");
        for (auto& row : p.rows())
            if (ticked.contains(row[size_t(s)].toString()))
                row[size_t(c)] = Variant("S");
        return p;
    }
    void set(core::DataPacket& p, int row, const QString& field, const Variant& v)
    {
        p.rows()[size_t(row)][size_t(p.fieldIndex(field))] = v;
    }
    /// CancelaItemNf for entry `nr` (its own keys) with the list `p`.
    QString cancelItems(const QString& nr, const core::DataPacket& p)
    {
        return raised("CancelaItemNf",
                      {"0001", p, nr, "0000000001", stockNr(nr), core::Date{double(kDay)}, "0001", "op7"});
    }
    qint64 cancelled() { return count("SELECT COUNT(*) FROM ITLANCTONF WHERE IDCANCELADO = 'S'"); }
};

TEST_P(TickedItems, AnotherEntrysItemsSentUnderThisEntrysKeysAreRefused)
{
    // Entry 1's list, item 0001 (P1, 5) ticked, sent with entry 2's keys:
    // entry 2's item 0001 is P2, 3.
    EXPECT_EQ(cancelItems("0000000002", items("0000000001", {"0001"})), "NOTA_ALT");
    // Same product and quantity under the same number still passes: item
    // 0002 of both entries is P2, 0.3.
    EXPECT_EQ(cancelled(), 0);
    EXPECT_EQ(cancelItems("0000000002", items("0000000001", {"0002"})), "");
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE NRLANCTONF = '0000000002' AND IDCANCELADO = 'S'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE NRLANCTONF = '0000000001' AND IDCANCELADO = 'S'"), 0);
}

TEST_P(TickedItems, ProductOrQuantityChangedOnTheWayIsRefusedAndChangesNothing)
{
    core::DataPacket p = items("0000000001", {"0001"});
    set(p, 0, "CDPRODUTO", Variant("P2"));
    EXPECT_EQ(cancelItems("0000000001", p), "NOTA_ALT");

    p = items("0000000001", {"0002"});
    set(p, 1, "QTITEMPROD", Variant(0.1 + 0.2)); // close to 0.3, not the stored 0.3
    EXPECT_EQ(cancelItems("0000000001", p), "NOTA_ALT");

    // An unticked row is not looked at.
    p = items("0000000001", {"0002"});
    set(p, 0, "QTITEMPROD", Variant(99.0));
    EXPECT_EQ(cancelItems("0000000001", p), "");
    EXPECT_EQ(cancelled(), 1);
    EXPECT_DOUBLE_EQ(stock("0001", "P2"), 100.3);
}

TEST_P(TickedItems, AListWithoutProductOrQuantityIsABadRequest)
{
    for (const char* field : {"CDPRODUTO", "QTITEMPROD"}) {
        const core::DataPacket full = items("0000000001", {"0001"});
        QList<core::FieldDef> defs = full.fields();
        const int drop = full.fieldIndex(field);
        defs.removeAt(drop);
        core::DataPacket p(defs);
        for (core::PacketRow row : full.rows()) {
            row.erase(row.begin() + drop);
            p.appendRow(row);
        }
        EXPECT_TRUE(cancelItems("0000000001", p).contains(field)) << field;
    }
    EXPECT_EQ(cancelled(), 0);
}

SERVER_BACKENDS(TickedItems);
