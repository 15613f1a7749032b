// Tick-all against the real application server on the demo database: the
// entries the screen ends with ticked are those SQL says are eligible.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <server/database.h>
#include <tests/support/testsession.h>

#include <QSqlDatabase>
#include <QSqlQuery>

#include <memory>

using namespace core;
using namespace testing_module;
using cli_exp01800::inNotasMarcadas;

namespace {

class TickEndToEnd : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        delete frmFiltroCanc;
        cli_exp01801::Filtro = TFILTRO{};
        server = std::make_unique<RealServerScope>(dir.filePath("host.db"));
        screen = open();
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override
    {
        delete frmFiltroCanc;
        closeScreen();
        server.reset();
        ScreenFixture::TearDown();
    }

    /// Entries of branch 0001 in the default period matching `where`.
    QStringList select(const QString& where) const
    {
        QSqlQuery q(QSqlDatabase::database(hostDbConnection));
        const qint64 today = Date::today().wholeDays();
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT L.NRLANCTONF FROM LANCTONF L WHERE L.CDFILIAL = '0001' AND "
                                          "L.DTENTRSAID BETWEEN %1 AND %2 %3 ORDER BY L.NRLANCTONF")
                               .arg(today - 2)
                               .arg(today)
                               .arg(where)));
        QStringList out;
        while (q.next())
            out << q.value(0).toString();
        return out;
    }

    QStringList ticked() const
    {
        ClientDataset& ds = *screen->cdsLanctoNF;
        QStringList out;
        const int chk = ds.fieldByName("IDCHECK").index();
        const int nr = ds.fieldByName("NRLANCTONF").index();
        for (int r = 0; r < ds.recordCount(); ++r)
            if (ds.rawValue(r, chk).toString() == "S")
                out << ds.rawValue(r, nr).toString();
        out.sort();
        return out;
    }

    std::unique_ptr<RealServerScope> server;
    TfrmConLancto* screen = nullptr;
};

TEST_F(TickEndToEnd, AnOperatorWithSomeBranchesTicksAllWhatSqlSaysIsEligible)
{
    // The whole-list check names no branch of its own; the rows' branches
    // are the operator's.
    {
        server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("host.db")));
        testsupport::logIn(db, server->port(), "ANA", {"0001", "0003"});
    }
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    ASSERT_GT(screen->cdsLanctoNF->recordCount(), 0);

    const QString eligible = QStringLiteral(
        "AND COALESCE(L.IDSTATUS, '') NOT IN ('A', 'C', 'E', 'L') AND COALESCE(L.IDSTATUSNFE, '') NOT IN ('A', 'D', 'T') "
        "AND NOT EXISTS (SELECT 1 FROM DOCREPLIC R WHERE R.CDFILIAL = L.CDFILIAL AND R.NRLANCTONF = L.NRLANCTONF "
        "AND R.IDCANCELADO = 'N' AND R.IDSTATUS = 'A')");
    const QStringList want = select(eligible);
    ASSERT_FALSE(want.isEmpty());
    const QStringList withReplicas = select(
        eligible
        + QStringLiteral(
            " AND EXISTS (SELECT 1 FROM DOCREPLIC R WHERE R.CDFILIAL = L.CDFILIAL AND R.NRLANCTONF = L.NRLANCTONF "
            "AND R.IDCANCELADO = 'N')"));
    if (!withReplicas.isEmpty())
        host.formClick("btnSim"); // the second pass then asks about the rest

    clickTitle(screen->dbgPadrao);

    EXPECT_EQ(ticked(), want);
    EXPECT_EQ(inNotasMarcadas, want.size());
    EXPECT_TRUE(screen->sbtCancelNota->isEnabled());
    EXPECT_TRUE(host.messageTexts().isEmpty()) << host.messageTexts().join(" / ").toStdString();

    // Untick all: nothing stays ticked.
    clickTitle(screen->dbgPadrao);
    EXPECT_TRUE(ticked().isEmpty());
    EXPECT_EQ(inNotasMarcadas, 0);
}

} // namespace
