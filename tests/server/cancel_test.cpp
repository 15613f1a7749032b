// Cancelling whole entries and items: what is cancelled, what each refusal
// leaves behind, and the audit.
#include "serverfixture.h"

#include <functional>

using namespace servertest;

class Cancellation : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        for (const char* p : {"P1", "P2"}) {
            setStock("0001", p, 100);
            setStock("0003", p, 100);
        }
    }
    QString cancelEntries(const QStringList& ticked)
    {
        return raised("CancelaNota", {"0001", tick(listEntries("0001"), ticked), "0001", "op7", "T"});
    }
    core::DataPacket itemsTicked(const QString& nr, const QStringList& seqs)
    {
        core::DataPacket p = cancel("GetItem", {"0001", nr})[0].packet();
        const int c = p.fieldIndex("IDCHECK"), s = p.fieldIndex("NRSEQITPROD");
        for (auto& row : p.rows())
            if (seqs.contains(row[size_t(s)].toString()))
                row[size_t(c)] = Variant("S");
        return p;
    }
    QString cancelItems(const QString& nr, const QStringList& seqs, const QString& ship = "0000000001")
    {
        return raised("CancelaItemNf",
                      {"0001", itemsTicked(nr, seqs), nr, ship, stockNr(nr), core::Date{double(kDay)}, "0001", "op7"});
    }
};

TEST_P(Cancellation, CancelaNotaCancelsTickedEntriesWholeWithTheirPartsAndAudits)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0001", "P1", 5);
    addItem("0001", "0000000001", "0002", "P2", 2);
    addReplica("0001", "0000000001", "0003", "0000000100", "A"); // goods already in 0003
    addAccount("0001", "0000000001");
    addEntry("0001", "0000000002");
    addItem("0001", "0000000002", "0001", "P1", 1);

    EXPECT_EQ(cancelEntries({"0000000001"}), "");
    EXPECT_EQ(status("0001", "0000000001"), "C");
    EXPECT_EQ(status("0001", "0000000002"), "P"); // not ticked
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE NRLANCTONF = '0000000001' AND IDCANCELADO = 'N'"), 0);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM ITLANCTOEST WHERE NRLANCESTQ = ? AND IDCANCELADO = 'N'", {stockNr("0000000001")}),
        0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DOCREPLIC WHERE IDCANCELADO = 'N'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CONTAGERADA"), 0);
    EXPECT_DOUBLE_EQ(stock("0001", "P1"), 105); // withdrawal returned
    EXPECT_DOUBLE_EQ(stock("0001", "P2"), 102);
    EXPECT_DOUBLE_EQ(stock("0003", "P1"), 95); // replica's goods taken back
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE NRLANCTONF = '0000000001' AND CDOPERADOR = 'op7' "
                    "AND IDOPERACAO = 'CANCELA_NOTA' AND DTHRREGISTRO <> ''"),
              1);
    EXPECT_GT(count("SELECT NRVERSAO FROM LANCTONF WHERE NRLANCTONF = '0000000001'"), 1);
}

TEST_P(Cancellation, RefusalsThatSaySomeWereNotCancelledCancelTheOthers)
{
    struct Case {
        const char* key;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"NOTAS_N_CANC", [&] { sql("UPDATE LANCTONF SET IDSTATUS = 'E' WHERE NRLANCTONF = '0000000002'"); }},
        {"ERRO_EXC_COMIS", [&] { addAccount("0001", "0000000002", true, false); }},
        {"ERRO_EXC_COMISMAPA", [&] { addAccount("0001", "0000000002", false, true); }},
    };
    for (const Case& c : cases) {
        sql("DELETE FROM LANCTONF");
        sql("DELETE FROM CONTAGERADA");
        addEntry("0001", "0000000001");
        addEntry("0001", "0000000002");
        addEntry("0001", "0000000003");
        const core::DataPacket loaded = tick(listEntries("0001"), {"0000000001", "0000000002", "0000000003"});
        c.prepare(); // another user acts between loading and cancelling
        EXPECT_EQ(raised("CancelaNota", {"0001", loaded, "0001", "op7", "T"}), c.key);
        EXPECT_EQ(status("0001", "0000000001"), "C") << c.key;
        EXPECT_NE(status("0001", "0000000002"), "C") << c.key;
        EXPECT_EQ(status("0001", "0000000003"), "C") << c.key;
        // The refused entry keeps its commission account; nothing of it was touched.
        EXPECT_EQ(count("SELECT COUNT(*) FROM CONTAGERADA WHERE NRLANCTONF = '0000000002'"),
                  QString(c.key) == "NOTAS_N_CANC" ? 0 : 1)
            << c.key;
        EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE NRLANCTONF = '0000000002'"), 0) << c.key;
    }
}

TEST_P(Cancellation, ReplicaThatWouldLeaveStockIrregularBlocksEverything)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0001", "P1", 5);
    addEntry("0001", "0000000002");
    addItem("0001", "0000000002", "0001", "P2", 3);
    addReplica("0001", "0000000002", "0003", "0000000100", "E");
    setStock("0003", "P2", 2); // 0003 already sold part of what it received
    EXPECT_EQ(cancelEntries({"0000000001", "0000000002"}), "REPLIC_N_CANC");
    EXPECT_EQ(status("0001", "0000000001"), "P");
    EXPECT_EQ(status("0001", "0000000002"), "P");
    EXPECT_DOUBLE_EQ(stock("0001", "P1"), 100);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DOCREPLIC WHERE IDCANCELADO = 'N'"), 1);
}

TEST_P(Cancellation, CancelaNotaWithNothingTickedChangesNothingAndForeignRowsAreRefused)
{
    addEntry("0001", "0000000001");
    EXPECT_EQ(cancelEntries({}), "");
    EXPECT_EQ(status("0001", "0000000001"), "P");
    core::DataPacket p = tick(listEntries("0001"), {"0000000001"});
    p.rows()[0][size_t(p.fieldIndex("CDFILIAL"))] = Variant("0002");
    EXPECT_FALSE(raised("CancelaNota", {"0001", p, "0001", "op7", "T"}).isEmpty());
    EXPECT_EQ(status("0001", "0000000001"), "P");
    core::DataPacket noKey(QList<core::FieldDef>{{"IDCHECK", core::FieldType::String, 1, true, false}});
    noKey.appendRow({Variant("S")});
    EXPECT_TRUE(raised("CancelaNota", {"0001", noKey, "0001", "op7", "T"}).contains("CDFILIAL"));
}

TEST_P(Cancellation, CancelaItemNfCancelsTickedItemsAndAnswersTheFollowUp)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0001", "P1", 5);
    addItem("0001", "0000000001", "0002", "P2", 2);
    EXPECT_EQ(cancelItems("0000000001", {"0002"}), "");
    const Variant r = last.payload;
    ASSERT_EQ(r.count(), 3);
    EXPECT_EQ(column(r[0].packet(), "NRSEQITPROD"), QStringList{"0002"});
    EXPECT_EQ(column(r[0].packet(), "NRPEDIDO").size(), 1);
    EXPECT_EQ(column(r[1].packet(), "NRSEQITPROD"), QStringList{"0001"});
    EXPECT_TRUE(r[2].packet().isEmpty());
    EXPECT_EQ(status("0001", "0000000001"), "P");
    EXPECT_DOUBLE_EQ(stock("0001", "P2"), 102);
    EXPECT_DOUBLE_EQ(stock("0001", "P1"), 100);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE IDOPERACAO = 'CANCELA_ITEM' AND NRSEQITPROD = '0002'"), 1);

    // The last item takes the entry with it.
    const core::DataPacket lastItem = itemsTicked("0000000001", {"0001"});
    const core::VariantArray args{
        "0001", lastItem, "0000000001", "0000000001", stockNr("0000000001"), core::Date{double(kDay)}, "0001", "op7"};
    EXPECT_EQ(raised("CancelaItemNf", args), "");
    EXPECT_TRUE(last.payload[1].packet().isEmpty());
    EXPECT_EQ(status("0001", "0000000001"), "C");
    // The same list sent again, as a second client holding it would: refused, nothing more changes.
    EXPECT_EQ(raised("CancelaItemNf", args), "NOTA_ALT");
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE IDOPERACAO = 'CANCELA_ITEM'"), 2);
}

TEST_P(Cancellation, CancelaItemNfRefusalsChangeNothing)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0001", "P1", 5);
    addEntry("0001", "0000000002", "E", "A");
    addItem("0001", "0000000002", "0001", "P1", 5);
    EXPECT_EQ(cancelItems("0000000002", {"0001"}), "NOTA_ALT");               // emitted meanwhile
    EXPECT_EQ(cancelItems("0000000001", {"0001"}, "0000000999"), "NOTA_ALT"); // entry moved to another shipment
    EXPECT_TRUE(cancelItems("0000000001", {}).contains("Nenhum item"));

    addReplica("0001", "0000000001", "0003", "0000000100", "A");
    setStock("0003", "P1", 4);
    EXPECT_EQ(cancelItems("0000000001", {"0001"}), "ITEM_N_CANC");
    setStock("0003", "P1", 100);

    addAccount("0001", "0000000001");
    EXPECT_EQ(cancelItems("0000000001", {"0001"}), "CNTCOMIS");
    sql("DELETE FROM CONTAGERADA");

    sql("INSERT INTO PARAMEXPED (CDFILIAL, IDGERPRODEST) VALUES ('0001', '3')");
    EXPECT_EQ(cancelItems("0000000001", {"0001"}), "CANCEL_EXP");

    EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE IDCANCELADO = 'S'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
    EXPECT_DOUBLE_EQ(stock("0001", "P1"), 100);
    EXPECT_EQ(status("0001", "0000000001"), "P");
}

SERVER_BACKENDS(Cancellation);
