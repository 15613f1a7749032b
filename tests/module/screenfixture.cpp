#include "screenfixture.h"

#include <screens/query/conlanctodefs.h>

#include <client/adoibquery.h>
#include <client/hostapi.h>
#include <module/exp01800.h>
#include <client/httptransport.h>
#include <platform/server/appserver.h>
#include <platform/server/database.h>
#include <platform/server/demodata.h>
#include <platform/server/schema.h>
#include <tests/support/testsession.h>

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <QSqlDatabase>

using namespace core;

void contracts::cancelnota::PrintTo(const LanctoNFArgs& a, std::ostream* os)
{
    QStringList parts;
    for (const Variant* v : {&a.stFilial, &a.dtInicial, &a.dtFinal, &a.stRotas, &a.stTodasRotas, &a.stExpedicoes,
                             &a.stTodasExpedicoes, &a.stExpDe, &a.stExpAte, &a.stSemIntervalo, &a.stGrade})
        parts << QStringLiteral("\"%1\"").arg(v->toString());
    *os << '{' << parts.join(", ").toStdString() << '}';
}

namespace testing_module {

contracts::cancelnota::LanctoNFArgs lanctoNFArgsOf(const std::vector<Variant>& v)
{
    EXPECT_EQ(v.size(), 11u) << "GetLanctoNF takes eleven arguments";
    if (v.size() != 11)
        return {};
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

namespace {
DataPacket emptyOf(void (*declare)(ClientDataset&))
{
    ClientDataset ds;
    declare(ds);
    QList<FieldDef> defs;
    for (int i = 0; i < ds.fieldCount(); ++i)
        defs.append(ds.field(i).def());
    return DataPacket(defs);
}

PacketRow rowFor(const DataPacket& p, std::initializer_list<std::pair<const char*, Variant>> values)
{
    PacketRow row(size_t(p.fields().size()));
    for (const auto& [name, v] : values)
        row[size_t(p.fieldIndex(name))] = v;
    return row;
}
} // namespace

DataPacket lanctoPacket(const std::vector<Entry>& entries)
{
    DataPacket p = emptyOf(conlancto::declareLanctoNF);
    const qint64 today = Date::today().wholeDays();
    for (const Entry& e : entries) {
        p.appendRow(rowFor(p,
                           {{"IDCHECK", e.idcheck},
                            {"CDFILIAL", e.cdfilial},
                            {"DTENTRSAID", Date{double(today + e.dayOffset)}},
                            {"NRLANCTONF", e.nr},
                            {"NREXPEDICAO", e.nrexpedicao},
                            {"NRLANCESTQ", e.nrlancestq.isEmpty() ? e.nr : e.nrlancestq},
                            {"NMRAZSOCCLIE", QStringLiteral("Cliente ") + e.nr},
                            {"NRNOTAFISC", e.nrnotafisc.isEmpty() ? "NF" + e.nr : e.nrnotafisc},
                            {"DTEMISSAO", Date{double(today + e.dayOffset)}},
                            {"IDSTATUS", e.idstatus},
                            {"IDSTATUSNFE", e.idstatusnfe},
                            {"CDFILIEMIT", e.cdfilial},
                            {"NRACESSONFE", "35" + e.nr},
                            {"CDEMPRESA", "01"},
                            {"IDTIPOEMISNFE", "1"},
                            {"CDINSCESTA", "1"}}));
    }
    return p;
}

DataPacket itemsPacket(const QString& nr, int n, const QString& idcheck)
{
    DataPacket p = emptyOf(conlancto::declareItensLanctoNF);
    for (int i = 1; i <= n; ++i) {
        const QString seq = QString::number(i).rightJustified(4, '0');
        p.appendRow(rowFor(p,
                           {{"IDCHECK", idcheck},
                            {"NRSEQITPROD", seq},
                            {"CDARVPROD", "P" + seq},
                            {"CDPRODUTO", "P" + seq},
                            {"NMPRODUTO", "Produto " + seq},
                            {"QTITEMPROD", 1.5 * i},
                            {"VRUNITITEM", 10.25},
                            {"VRTOTAITEM", 15.375 * i},
                            {"NRLANCTONF", nr},
                            {"CDFILIAL", "0001"}}));
    }
    return p;
}

DataPacket contasPacket(int n)
{
    DataPacket p = emptyOf(conlancto::declareContaGerada);
    for (int i = 1; i <= n; ++i)
        p.appendRow(rowFor(p, {{"CDFILIALPAG", "0001"}, {"NRLANCTOPAG", QString::number(i).rightJustified(10, '0')}}));
    return p;
}

DataPacket stockPacket(int n)
{
    DataPacket p = emptyOf(conlancto::declareItLanctoEst);
    for (int i = 1; i <= n; ++i) {
        const QString seq = QString::number(i).rightJustified(4, '0');
        p.appendRow(rowFor(p,
                           {{"NRSEQUITEM", seq},
                            {"CDARVPROD", "P" + seq},
                            {"NMPRODUTO", "Produto " + seq},
                            {"QTLANCTOEST", 2.0},
                            {"VRUNILANCTO", 3.0}}));
    }
    return p;
}

DataPacket replicAprovPacket(const QString& nr, const QString& filial, const QString& idstatus)
{
    DataPacket p = emptyOf(conlancto::declareReplicAprov);
    if (!idstatus.isEmpty())
        p.appendRow(rowFor(p,
                           {{"CDSERIE", "1"},
                            {"CDFILIAL", filial},
                            {"NRLANCTONF", nr},
                            {"IDENTRSAIDOP", "E"},
                            {"TIPO", "Entrada por transferência"},
                            {"IDSTATUS", idstatus}}));
    return p;
}

DataPacket docReplicPacket(const QStringList& origens)
{
    DataPacket p = emptyOf(conlancto::declareErroReplic);
    int n = 0;
    for (const QString& nr : origens)
        p.appendRow(rowFor(p,
                           {{"CDFILIAL", "0001"},
                            {"NRLANCTONF", nr},
                            {"CDFILIALREPLIC", "0003"},
                            {"CDSERIE", "1"},
                            {"IDENTRSAIDOP", "E"},
                            {"DESCOPER", "Entrada por transferência"},
                            {"NRLANCTONFDEST", QString::number(++n).rightJustified(10, '9')}}));
    return p;
}

QStringList columnValues(const ClientDataset& ds, const QString& field)
{
    QStringList out;
    if (!ds.active())
        return out;
    const int f = ds.fieldByName(field).index();
    for (int r = 0; r < ds.recordCount(); ++r)
        out << ds.rawValue(r, f).toString();
    return out;
}

DataPacket paramPacket(const QString& idgerprodest, const QString& idtpexppedido)
{
    DataPacket p = emptyOf(conlancto::declareParamExpedicao);
    p.appendRow(rowFor(p, {{"IDGERPRODEST", idgerprodest}, {"IDREPLITRANS", "N"}, {"IDTPEXPPEDIDO", idtpexppedido}}));
    return p;
}

int tickRows(ClientDataset& ds, const QString& keyField, const QStringList& keys)
{
    int found = 0;
    for (const QString& key : keys) {
        if (!ds.locate(keyField, Variant(key)))
            continue;
        ds.edit();
        ds.fieldByName("IDCHECK").setAsString("S");
        ds.post();
        ++found;
    }
    return found;
}

void ScreenFixture::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    host.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };

    HostContext& ctx = context();
    ctx.filial = "0001";
    ctx.nomeFilial = "Matriz";
    ctx.moduFili = false;
    ctx.operador = "TESTE";
    ctx.sessionToken.clear();
    ctx.webUrl = "127.0.0.1";
    ctx.webPort = 8211;

    // The host database: the server's schema and a little demo data.
    const QString file = dir.filePath("host.db");
    {
        server::Database db(server::DbConfig::parse("sqlite:" + file));
        server::migrateSchema(db);
        server::DemoOptions opt;
        opt.entries = 40;
        server::generateDemo(db, opt);
    }
    hostDbConnection = QStringLiteral("module_test_hostdb");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", hostDbConnection);
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
    }
    TDtmDBGeral::setConnectionName(hostDbConnection);

    // Calls every load makes, answered with an empty list unless a test says otherwise.
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket()));
    fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({})));
}

void ScreenFixture::TearDown()
{
    closeScreen();
    TDtmDBGeral::setConnectionName(QString());
    QSqlDatabase::removeDatabase(hostDbConnection);
}

TfrmConLancto* ScreenFixture::open()
{
    IniProc();
    settle();
    resetTickCounters();
    return frmConLancto;
}

void ScreenFixture::closeScreen()
{
    if (frmConLancto)
        frmConLancto->close();
    settle();
    resetTickCounters();
}

void ScreenFixture::resetTickCounters()
{
    cli_exp01800::inNotasMarcadas = 0;
    cli_exp01800::inItensMarcados = 0;
}

void ScreenFixture::settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
}

void ScreenFixture::clickCell(host::DBGrid* grid, int row, int col)
{
    const QModelIndex index = grid->model()->index(row, col);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
    settle();
}

void ScreenFixture::clickTitle(host::DBGrid* grid, int col)
{
    QHeaderView* h = grid->horizontalHeader();
    const int x = h->sectionViewportPosition(col) + h->sectionSize(col) / 2;
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
    settle();
}

RealServerScope::RealServerScope(const QString& sqliteFile, std::shared_ptr<server::SefazPort> sefaz)
{
    db_ = std::make_unique<server::Database>(server::DbConfig::parse("sqlite:" + sqliteFile));
    server::ServerOptions opt;
    opt.listen = "127.0.0.1";
    opt.port = 0;
    opt.threads = 4;
    opt.log = qEnvironmentVariableIsSet("EXP_TEST_SERVER_LOG");
    srv_ = std::make_unique<server::AppServer>(*db_, opt, std::move(sefaz));
    srv_->bind();
    serving_ = std::thread([this] { srv_->run(); });
    http_ = std::make_unique<TransportInstall>(HttpTransport::shared());
    context().webUrl = "127.0.0.1";
    context().webPort = srv_->port();
    testsupport::logIn(*db_, srv_->port());
}

RealServerScope::~RealServerScope()
{
    context().sessionToken.clear();
    http_.reset();
    srv_->stop();
    if (serving_.joinable())
        serving_.join();
    srv_.reset();
    db_.reset();
}

int RealServerScope::port() const
{
    return srv_->port();
}

} // namespace testing_module
