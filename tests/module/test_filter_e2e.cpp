// The filter dialog against the real application server: an in-process
// server on an ephemeral loopback port over the fixture's demo database,
// reached through the HTTP transport, as the shell does.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTimer>

#include <memory>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace core;
using namespace testing_module;

class FilterEndToEnd : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        delete frmFiltroCanc;
        cli_exp01801::Filtro = TFILTRO{};

        server = std::make_unique<RealServerScope>(dir.filePath("host.db"));
        screen = open();
        ASSERT_NE(screen, nullptr);
        ASSERT_TRUE(screen->netCancelExp->Connected());
    }

    void TearDown() override
    {
        delete frmFiltroCanc;
        closeScreen();
        server.reset();
        ScreenFixture::TearDown();
    }

    /// Entry numbers of branch 0001 in the period, straight from the database.
    QStringList expected(const QString& extraWhere, const QVariantList& binds) const
    {
        QSqlQuery q(QSqlDatabase::database(hostDbConnection));
        q.prepare("SELECT NRLANCTONF FROM LANCTONF WHERE CDFILIAL = '0001' AND DTENTRSAID BETWEEN ? AND ? " + extraWhere
                  + " ORDER BY DTENTRSAID, NRLANCTONF, NREXPEDICAO");
        const qint64 today = Date::today().wholeDays();
        q.addBindValue(today - 2);
        q.addBindValue(today);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        EXPECT_TRUE(q.exec());
        QStringList nrs;
        while (q.next())
            nrs << q.value(0).toString();
        return nrs;
    }

    QStringList loaded() const
    {
        QStringList nrs;
        ClientDataset& ds = *screen->cdsLanctoNF;
        for (int i = 0; i < ds.recordCount(); ++i)
            nrs << ds.rawValue(i, ds.fieldByName("NRLANCTONF").index()).toString();
        return nrs;
    }

    std::unique_ptr<RealServerScope> server;
    TfrmConLancto* screen = nullptr;
};

TEST_F(FilterEndToEnd, ConfirmedFiltersLoadTheMatchingDemoEntries)
{
    // Hidden run with the default filter: the period's entries of the branch.
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    const QStringList all = expected(QString(), {});
    ASSERT_FALSE(all.isEmpty()) << "the demo data has no entry in the default period";
    EXPECT_EQ(loaded(), all);
    EXPECT_TRUE(screen->boFiltroAplicado);

    // One route picked from the host database's route table, confirmed in the dialog.
    QString route;
    {
        QSqlQuery q(QSqlDatabase::database(hostDbConnection));
        ASSERT_TRUE(q.exec("SELECT CDROTATRANS FROM LANCTONF WHERE CDFILIAL = '0001' AND DTENTRSAID >= "
                           + QString::number(Date::today().wholeDays() - 2) + " ORDER BY NRLANCTONF"));
        ASSERT_TRUE(q.next());
        route = q.value(0).toString();
    }
    int routeRow = -1;
    {
        QSqlQuery q(QSqlDatabase::database(hostDbConnection));
        ASSERT_TRUE(q.exec("SELECT CDROTATRANS FROM ROTATRANS ORDER BY CDROTATRANS"));
        for (int i = 0; q.next(); ++i)
            if (q.value(0).toString() == route)
                routeRow = i;
    }
    ASSERT_GE(routeRow, 0);

    bool confirmed = false;
    QTimer inside;
    inside.setSingleShot(true);
    QObject::connect(&inside, &QTimer::timeout, [&] {
        TfrmFiltroCanc& d = *frmFiltroCanc;
        d.rbtLstRota->click();
        host.pickRows({routeRow});
        d.btpListaRota->click();
        confirmed = core::dispatch([&] { d.sbtConfirmaClick(); });
        if (d.isVisible())
            d.close();
    });
    inside.start(0);
    CriaFiltroCancela(QStringLiteral("MOSTRA_FILTRO"));
    EXPECT_TRUE(confirmed) << host.messageTexts().join(" / ").toStdString();
    EXPECT_EQ(cli_exp01801::stRota, "'" + route + "'");

    const QStringList byRoute = expected("AND CDROTATRANS = ?", {route});
    ASSERT_FALSE(byRoute.isEmpty());
    EXPECT_EQ(loaded(), byRoute);
    EXPECT_LE(byRoute.size(), all.size());
    EXPECT_FALSE(cli_exp01801::Filtro.Rota.Todas);
    EXPECT_EQ(host.animationDepth(), 0);
}
