// The NF-e situation server: the simulator's answers and storing a new status.
#include "serverfixture.h"

using namespace servertest;

class Situacao : public ServerDb {
protected:
    Variant situacao(const QString& key)
    {
        return call(server::kSituacaoServer, "GetSituacao", {"2", "CERT", key, "SP", "01", "35", "1", "110042490114"});
    }
    Variant atualiza(const QString& nr, const QString& current, const Variant& newStatus, const QString& key = "K1")
    {
        core::VariantArray args{"op7", "0001", nr, current, newStatus, "2", "CERT", key, "SP", "35", "1", "01", "1100"};
        QList<bool> byRef(13, false);
        byRef[4] = true;
        return call(server::kSituacaoServer, "GetAtual_Situ", args, byRef);
    }
};

TEST_P(Situacao, SimulatorAnswersFromStoredAnswers)
{
    sql("INSERT INTO SITUACAONFE (NRACESSONFE, CDRETORNO, DSMENSAGEM) VALUES ('K100', 100, NULL), ('K302', 302, NULL), "
        "('KMSG', NULL, '108 - Serviço Paralisado')");
    EXPECT_EQ(situacao("K100"), Variant::array({"S", "100"}));
    EXPECT_EQ(situacao("K302"), Variant::array({"S", "302"}));
    EXPECT_EQ(situacao("KMSG"), Variant::array({"N", "108 - Serviço Paralisado"}));
    const Variant unknown = situacao("NOPE");
    EXPECT_EQ(unknown[0].toString(), "N");
    EXPECT_TRUE(unknown[1].toString().startsWith("217"));
    EXPECT_EQ(situacao("")[0].toString(), "N");
}

TEST_P(Situacao, GetAtualSituStoresTheNewStatusOrAnswersN)
{
    addEntry("0001", "0000000001", "P", "R", kDay, "0000000001", "R00001", QString(), "K1");
    sql("INSERT INTO SITUACAONFE (NRACESSONFE, CDRETORNO) VALUES ('K1', 100)"); // the authority authorised it
    const Variant ok = atualiza("0000000001", "R", "A");
    EXPECT_EQ(ok[0].toString(), "S");
    EXPECT_EQ(last.refs[4].toString(), "A");
    EXPECT_EQ(scalar("SELECT IDSTATUSNFE FROM LANCTONF WHERE NRLANCTONF = '0000000001'").toString(), "A");
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE IDOPERACAO = 'ATUALIZA_SITUACAO' AND CDOPERADOR = 'op7'"), 1);

    // The present status sent no longer matches: someone updated it meanwhile.
    EXPECT_EQ(atualiza("0000000001", "R", "D")[0].toString(), "N");
    EXPECT_EQ(atualiza("0000000404", "R", "D")[0].toString(), "N");
    EXPECT_EQ(atualiza("0000000001", "A", "Q")[0].toString(), "N");
    EXPECT_EQ(atualiza("0000000001", "A", Variant())[0].toString(), "N");
    EXPECT_EQ(atualiza("0000000001", "A", "D", "OUTRA")[0].toString(), "N");
    EXPECT_EQ(scalar("SELECT IDSTATUSNFE FROM LANCTONF WHERE NRLANCTONF = '0000000001'").toString(), "A");
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 1);
}

TEST_P(Situacao, GetAtualSituStoresOnlyWhatTheAuthorityGives)
{
    addEntry("0001", "0000000001", "P", "R", kDay, "0000000001", "R00001", QString(), "K1");
    addEntry("0001", "0000000002", "P", "R", kDay, "0000000001", "R00001", QString(), "K2");
    addEntry("0001", "0000000003", "P", "R", kDay, "0000000001", "R00001", QString(), "K3");
    addEntry("0001", "0000000004", "P", "R", kDay, "0000000001", "R00001", QString(), "K4");
    sql("INSERT INTO SITUACAONFE (NRACESSONFE, CDRETORNO, DSMENSAGEM) VALUES ('K1', 100, NULL), ('K2', 302, NULL), "
        "('K3', 204, NULL), ('K4', NULL, '108 - Serviço Paralisado')");
    // What the authority does not say is refused, whatever the client sends.
    const Variant forged = atualiza("0000000001", "R", "X", "K1");
    EXPECT_EQ(forged[0].toString(), "N");
    EXPECT_TRUE(forged[1].toString().contains("SEFAZ")) << qPrintable(forged[1].toString());
    EXPECT_EQ(atualiza("0000000002", "R", "A", "K2")[0].toString(), "N");
    EXPECT_EQ(atualiza("0000000004", "R", "X", "K4")[0].toString(), "N"); // no answer: nothing to store
    // A key of another, authorised entry cannot stand in for the entry's own.
    EXPECT_EQ(atualiza("0000000003", "R", "A", "K1")[0].toString(), "N");
    EXPECT_EQ(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUSNFE <> 'R'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
    // The statuses the authority gives are stored: denied, and any other code as "X".
    EXPECT_EQ(atualiza("0000000002", "R", "D", "K2")[0].toString(), "S");
    EXPECT_EQ(atualiza("0000000003", "R", "X", "")[0].toString(), "S");
    EXPECT_EQ(column(listEntries("0001"), "IDSTATUSNFE"), QStringList({"R", "D", "X", "R"}));
    EXPECT_EQ(server::statusForCode(150), "A");
    EXPECT_EQ(server::statusForCode(110), "D");
    EXPECT_EQ(server::statusForCode(301), "D");
    EXPECT_EQ(server::statusForCode(135), "X");
}

SERVER_BACKENDS(Situacao);
