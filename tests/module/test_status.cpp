// Words shown for the entry list's status codes.

#include "screenfixture.h"

#include <screens/query/conlanctodefs.h>

using namespace core;
using namespace testing_module;

namespace {

class StatusTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        frm = open();
        ASSERT_NE(frm, nullptr);
    }

    /// The two status cells of an entry with these codes, as the grid shows them.
    std::pair<QString, QString> cells(const Variant& status, const Variant& statusNfe)
    {
        DataPacket p = lanctoPacket({{"0000000001"}});
        p.rows()[0][size_t(p.fieldIndex("IDSTATUS"))] = status;
        p.rows()[0][size_t(p.fieldIndex("IDSTATUSNFE"))] = statusNfe;
        frm->cdsLanctoNF->loadFromPacket(p);
        return {frm->cdsLanctoNF->fieldByName("IDSTATUS").displayText(),
                frm->cdsLanctoNF->fieldByName("IDSTATUSNFE").displayText()};
    }

    TfrmConLancto* frm = nullptr;
};

TEST_F(StatusTest, EntryStatusCodesShowTheirCatalogueWords)
{
    const std::pair<const char*, const char*> table[] = {
        {"P", "Pendente"}, {"A", "Aprovada"}, {"E", "Emitida"}, {"C", "Cancelada"}, {"L", "Liberada"}};
    for (const auto& [code, text] : table)
        EXPECT_EQ(cells(Variant(code), Variant("R")).first, QString::fromUtf8(text)) << code;
}

TEST_F(StatusTest, NfeStatusCodesShowTheirFixedWords)
{
    const std::pair<const char*, const char*> table[] = {{"A", "Aceita"},   {"C", "Cancelada"}, {"D", "Denegada"},
                                                         {"P", "Pendente"}, {"R", "Rejeitada"}, {"T", "Transmitida"}};
    for (const auto& [code, text] : table)
        EXPECT_EQ(cells(Variant("P"), Variant(code)).second, QString::fromUtf8(text)) << code;
}

TEST_F(StatusTest, CodesOutsideTheTablesShowNothing)
{
    // Lower case, a trailing blank, an unknown code, empty and Null.
    const Variant odd[] = {Variant("p"), Variant("P "), Variant("X"), Variant(""), Variant(), Variant(" L")};
    for (const Variant& code : odd) {
        const auto [status, nfe] = cells(code, code);
        EXPECT_EQ(status, "") << code.toString().toStdString();
        EXPECT_EQ(nfe, "") << code.toString().toStdString();
    }
    EXPECT_EQ(cells(Variant("r"), Variant("r")).second, "");
}

TEST_F(StatusTest, TheStoredCodesStayAsTheyAre)
{
    cells(Variant("L"), Variant("T"));
    EXPECT_EQ(frm->cdsLanctoNF->fieldByName("IDSTATUS").asString(), "L");
    EXPECT_EQ(frm->cdsLanctoNF->fieldByName("IDSTATUSNFE").asString(), "T");
}

TEST_F(StatusTest, EachRowDrawnShowsItsOwnCodes)
{
    DataPacket p = lanctoPacket({{"0000000001", "P", "R", "N", -1}, {"0000000002", "L", "A", "N", 0}});
    frm->cdsLanctoNF->loadFromPacket(p);
    frm->cdsLanctoNF->first();
    const Field& st = frm->cdsLanctoNF->fieldByName("IDSTATUS");
    const Field& nfe = frm->cdsLanctoNF->fieldByName("IDSTATUSNFE");
    {
        const ClientDataset::DisplayRow at(*frm->cdsLanctoNF, 1); // as the grid draws row 2
        EXPECT_EQ(st.displayText(), "Liberada");
        EXPECT_EQ(nfe.displayText(), "Aceita");
    }
    EXPECT_EQ(st.displayText(), "Pendente");
    EXPECT_EQ(nfe.displayText(), "Rejeitada");
}

TEST_F(StatusTest, ACatalogueChangeReachesOnlyTheEntryStatus)
{
    QStringList lines = conlancto::catalogueLines();
    for (QString& l : lines) {
        if (l.startsWith("EM|"))
            l = "EM|Nota emitida";
        if (l.startsWith("PE|"))
            l = "PE|Em aberto";
    }
    frm->msgPadrao.setLines(lines);
    EXPECT_EQ(cells(Variant("E"), Variant("P")), std::make_pair(QString("Nota emitida"), QString("Pendente")));
    EXPECT_EQ(cells(Variant("P"), Variant("R")), std::make_pair(QString("Em aberto"), QString("Rejeitada")));
    EXPECT_EQ(cells(Variant("L"), Variant("R")).first, "Liberada");
}

} // namespace
