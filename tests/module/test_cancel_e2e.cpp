// Cancelling on the demo database through the real application server: the
// screen is driven as the operator drives it (leave the branch panel, click
// the check cells, click the cancel button, read the reloaded list), and the
// database is read back afterwards.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <contracts/servers.h>

#include <client/hostapi.h>
#include <server/database.h>
#include <server/sefaznacional.h>
#include <tests/support/testsefaz.h>
#include <tests/support/testsession.h>
#include <host/dbgrid.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabBar>
#include <QTest>

#include <functional>
#include <memory>
#include <utility>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace core;
using namespace testing_module;
using cli_exp01800::inItensMarcados;
using cli_exp01800::inNotasMarcadas;

namespace {

const QString kConfirma = QStringLiteral("Confirma cancelamento das notas fiscais expedidas?");
const QString kConfItem = QStringLiteral("Confirma o cancelamento dos itens da nota fiscal expedida?");
const QString kVdAtualiza = QStringLiteral("Operação Bloqueada! A tela foi atualizada pois a nota fiscal foi alterada "
                                           "por outro usuário. O processo deve ser repetido.");

/// Lets someone else act at one moment of a flow: just before a box with
/// `text`, or an animation with that caption, shows, `act` runs once. All
/// else goes to the scripted host, which is back in force afterwards.
class Meanwhile : public HostServices {
public:
    Meanwhile(ScriptedHost& scripted, QString text, std::function<void()> act)
        : scripted_(scripted), text_(std::move(text)), act_(std::move(act))
    {
        setHost(this);
    }
    ~Meanwhile() override { setHost(&scripted_); }
    MsgButton message(MsgKind k, const QString& t, const QList<MsgButton>& b) override
    {
        at(t);
        return scripted_.message(k, t, b);
    }
    void startAnimation(QObject* o, int kind, const QString& caption) override
    {
        at(caption);
        scripted_.startAnimation(o, kind, caption);
    }
    bool pickRow(ClientDataset& ds, const QString& t, const QString& e) override { return scripted_.pickRow(ds, t, e); }
    bool pickRows(ClientDataset& ds, const QString& k, const QString& t, QString& r) override
    {
        return scripted_.pickRows(ds, k, t, r);
    }
    void find(ClientDataset& ds) override { scripted_.find(ds); }
    void runModal(QObject& f) override { scripted_.runModal(f); }
    void stopAnimation(QObject* o) override { scripted_.stopAnimation(o); }
    void pushBusyCursor() override { scripted_.pushBusyCursor(); }
    void popBusyCursor() override { scripted_.popBusyCursor(); }
    void freezePainting(QWidget* w) override { scripted_.freezePainting(w); }
    void unfreezePainting(QWidget* w) override { scripted_.unfreezePainting(w); }

private:
    void at(const QString& t)
    {
        if (act_ && t == text_)
            std::exchange(act_, {})();
    }
    ScriptedHost& scripted_;
    QString text_;
    std::function<void()> act_;
};

class CancelEndToEnd : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        delete frmFiltroCanc;
        cli_exp01801::Filtro = TFILTRO{};
        server = std::make_unique<RealServerScope>(dir.filePath("host.db"), sefazPort());
        context().loadModule = [this](const QString& code, const Variant& params) {
            opened << code;
            const quintptr address = quintptr(params[0].toInt());
            for (ClientDataset* ds : frm->findChildren<ClientDataset*>())
                if (quintptr(ds) == address)
                    followUpRows = ds->recordCount();
        };
        frm = open();
        ASSERT_NE(frm, nullptr);
        ASSERT_TRUE(frm->netCancelExp->Connected());
    }
    /// The server's way to the tax authority; the simulator unless a suite says otherwise.
    virtual std::shared_ptr<server::SefazPort> sefazPort() { return nullptr; }
    void TearDown() override
    {
        context().loadModule = {};
        delete frmFiltroCanc;
        closeScreen();
        server.reset();
        ScreenFixture::TearDown();
    }

    QSqlQuery sql(const QString& text, const QVariantList& binds = {})
    {
        QSqlQuery q(QSqlDatabase::database(hostDbConnection));
        q.prepare(text);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        EXPECT_TRUE(q.exec()) << text.toStdString();
        return q;
    }
    QString value(const QString& text, const QVariantList& binds = {})
    {
        QSqlQuery q = sql(text, binds);
        return q.next() ? q.value(0).toString() : QString();
    }

    /// `n` entries of branch 0001 made plainly cancellable: pending, dated
    /// today, no NF-e status, no commission account, no replica.
    QStringList prepareEntries(int n, int minItems = 1)
    {
        QStringList nrs;
        QSqlQuery q = sql(
            "SELECT L.NRLANCTONF FROM LANCTONF L WHERE L.CDFILIAL = '0001' AND (SELECT COUNT(*) FROM "
            "ITLANCTONF I WHERE I.CDFILIAL = L.CDFILIAL AND I.NRLANCTONF = L.NRLANCTONF AND I.IDCANCELADO = 'N') >= ? "
            "ORDER BY L.NRLANCTONF",
            {minItems});
        while (nrs.size() < n && q.next())
            nrs << q.value(0).toString();
        EXPECT_EQ(nrs.size(), n) << "the demo data has too few entries";
        for (const QString& nr : nrs) {
            sql("UPDATE LANCTONF SET IDSTATUS = 'P', IDSTATUSNFE = NULL, DTENTRSAID = ?, NRVERSAO = NRVERSAO + 1 "
                "WHERE CDFILIAL = '0001' AND NRLANCTONF = ?",
                {Date::today().wholeDays(), nr});
            sql("DELETE FROM CONTAGERADA WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nr});
            sql("DELETE FROM DOCREPLIC WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nr});
        }
        return nrs;
    }

    /// The branch panel left as the operator leaves it: the remembered filter loads the list.
    void loadList()
    {
        frm->medFilial->setText("0001");
        frm->dbgPadrao->setFocus();
        settle();
        ASSERT_TRUE(frm->boFiltroAplicado);
        ASSERT_FALSE(frm->cdsLanctoNF->isEmpty());
        host.clearShown();
    }
    /// Ticks entries of the list by clicks in the grid's check column.
    void tick(const QStringList& nrs)
    {
        host.clearShown();
        const int before = inNotasMarcadas;
        for (const QString& nr : nrs) {
            ASSERT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nr))) << nr.toStdString();
            clickCell(frm->dbgPadrao, frm->cdsLanctoNF->recNo());
            ASSERT_EQ(frm->cdsLanctoNF->fieldByName("IDCHECK").asString(), "S") << nr.toStdString();
        }
        ASSERT_EQ(inNotasMarcadas, before + int(nrs.size()));
        ASSERT_TRUE(host.messageTexts().isEmpty()) << host.messageTexts().join(" / ").toStdString();
    }
    /// Shows the item page of entry `nr` by a click on its tab.
    void showItemsOf(const QString& nr)
    {
        ASSERT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nr)));
        QTabBar* bar = frm->pgcPadrao->tabBar();
        bar->setFocus();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(frm->pgcPadrao->indexOf(frm->tshFormulario)).center());
        settle();
        ASSERT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    }
    /// Ticks items of the current entry by clicks in the item grid's check column.
    void tickItems(const QList<int>& rows)
    {
        host.clearShown();
        const int before = inItensMarcados;
        for (int r : rows)
            clickCell(frm->dbgItensNf, r);
        ASSERT_EQ(inItensMarcados, before + int(rows.size()));
        ASSERT_TRUE(host.messageTexts().isEmpty()) << host.messageTexts().join(" / ").toStdString();
    }
    void cancel()
    {
        ASSERT_TRUE(frm->sbtCancelNota->isEnabled());
        frm->sbtCancelNota->click();
        settle();
    }
    /// The entry's status as the reloaded list shows it.
    QString listed(const QString& nr, const char* field = "IDSTATUS")
    {
        ClientDataset& ds = *frm->cdsLanctoNF;
        const int f = ds.fieldByName(field).index();
        const int n = ds.fieldByName("NRLANCTONF").index();
        for (int r = 0; r < ds.recordCount(); ++r)
            if (ds.rawValue(r, n).toString() == nr)
                return ds.rawValue(r, f).toString();
        return QStringLiteral("<não listado>");
    }
    qint64 audits(const QString& nr, const QString& op)
    {
        return value("SELECT COUNT(*) FROM AUDITCANC WHERE CDFILIAL = '0001' AND NRLANCTONF = ? AND IDOPERACAO = ?",
                     {nr, op})
            .toLongLong();
    }

    /// A second client: operator OUTRO in a session of its own.
    std::unique_ptr<TNetConnection> otherClient()
    {
        QString token;
        {
            server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("host.db")));
            token = testsupport::tokenFor(db, server->port(), "OUTRO");
        }
        auto other = std::make_unique<TNetConnection>("netOutroCliente");
        other->ServerName = contracts::kRdmCancelNota;
        other->Token = token;
        other->BeforeConnect = [](TNetConnection& c) {
            c.Host = WebURL();
            c.Port = WebPort();
        };
        other->Connect();
        return other;
    }
    /// The second client cancels the entries `nrs` of the list as the screen holds it.
    void otherCancels(const QStringList& nrs)
    {
        ClientDataset theirs;
        for (int i = 0; i < frm->cdsLanctoNF->fieldCount(); ++i)
            theirs.addField(frm->cdsLanctoNF->field(i).def());
        theirs.setData(frm->cdsLanctoNF->data());
        for (theirs.first(); !theirs.eof(); theirs.next()) {
            theirs.edit();
            theirs.fieldByName("IDCHECK").setAsString(nrs.contains(theirs.fieldByName("NRLANCTONF").asString()) ? "S"
                                                                                                                : "N");
            theirs.post();
        }
        CheckResultServ(contracts::cancelnota::CancelaNota(*otherClient(), "0001", theirs.data(), "0001", "OUTRO", ""),
                        true, 0);
    }
    qint64 liveItems(const QString& nr)
    {
        return value("SELECT COUNT(*) FROM ITLANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ? AND IDCANCELADO = 'N'",
                     {nr})
            .toLongLong();
    }

    std::unique_ptr<RealServerScope> server;
    TfrmConLancto* frm = nullptr;
    QStringList opened;
    int followUpRows = -1;
};

TEST_F(CancelEndToEnd, TickedEntriesComeBackCancelledWithOneAuditRowEach)
{
    const QStringList nrs = prepareEntries(3);
    loadList();
    tick({nrs[0], nrs[2]});
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(), QStringList{kConfirma});
    EXPECT_EQ(listed(nrs[0]), "C");
    EXPECT_EQ(listed(nrs[1]), "P");
    EXPECT_EQ(listed(nrs[2]), "C");
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK").count("S"), 0);
    EXPECT_EQ(inNotasMarcadas, 0);
    EXPECT_EQ(audits(nrs[0], "CANCELA_NOTA"), 1);
    EXPECT_EQ(audits(nrs[1], "CANCELA_NOTA"), 0);
    EXPECT_EQ(audits(nrs[2], "CANCELA_NOTA"), 1);
    EXPECT_EQ(value("SELECT CDOPERADOR FROM AUDITCANC WHERE NRLANCTONF = ?", {nrs[0]}), "TESTE");
    EXPECT_EQ(host.animationDepth(), 0);
}

TEST_F(CancelEndToEnd, ItemsAreCancelledAndTheLastOneTakesTheEntryWithIt)
{
    const QStringList nrs = prepareEntries(1, 2);
    const QString nr = nrs.value(0);
    const int before = value("SELECT COUNT(*) FROM ITLANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ? AND "
                             "IDCANCELADO = 'N'",
                             {nr})
                           .toInt();
    loadList();
    showItemsOf(nr);
    ASSERT_EQ(frm->cdsItensLanctoNF->recordCount(), before);
    const QString first = frm->cdsItensLanctoNF->fieldByName("NRSEQITPROD").asString();

    tickItems({0});
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(host.messageTexts(), QStringList{"Confirma o cancelamento dos itens da nota fiscal expedida?"});
    EXPECT_EQ(opened, QStringList{"EXP00106"});
    EXPECT_EQ(followUpRows, 1);
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    EXPECT_EQ(frm->cdsItensLanctoNF->recordCount(), before - 1);
    EXPECT_FALSE(columnValues(*frm->cdsItensLanctoNF, "NRSEQITPROD").contains(first));
    EXPECT_EQ(inItensMarcados, 0);
    EXPECT_EQ(audits(nr, "CANCELA_ITEM"), 1);
    EXPECT_EQ(value("SELECT IDSTATUS FROM LANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nr}), "P");

    // The rest, all at once: the entry goes whole and the list comes back.
    QList<int> all;
    for (int i = 0; i < frm->cdsItensLanctoNF->recordCount(); ++i)
        all << i;
    tickItems(all);
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    EXPECT_EQ(listed(nr), "C");
    EXPECT_EQ(audits(nr, "CANCELA_ITEM"), before);
    EXPECT_EQ(audits(nr, "CANCELA_NOTA"), 1);
    EXPECT_EQ(host.animationDepth(), 0);
}

TEST_F(CancelEndToEnd, AListMadeStaleByASecondClientIsReloadedAndNothingIsCancelled)
{
    const QStringList nrs = prepareEntries(3);
    loadList();
    tick({nrs[0], nrs[1]});

    // A second client, another operator in a session of its own, cancels the
    // third entry meanwhile.
    otherCancels({nrs[2]});

    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(host.messageTexts(), (QStringList{kConfirma, kVdAtualiza}));
    EXPECT_EQ(listed(nrs[0]), "P");
    EXPECT_EQ(listed(nrs[1]), "P");
    EXPECT_EQ(listed(nrs[2]), "C");
    EXPECT_EQ(audits(nrs[0], "CANCELA_NOTA") + audits(nrs[1], "CANCELA_NOTA"), 0);
    EXPECT_EQ(inNotasMarcadas, 0);
}

TEST_F(CancelEndToEnd, ARejectedInvoiceTheAuthorityNowAcceptsIsUntickedAndTheOthersAreCancelled)
{
    const QStringList nrs = prepareEntries(3);
    const QString key = value("SELECT NRACESSONFE FROM LANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nrs[1]});
    ASSERT_FALSE(key.isEmpty());
    sql("UPDATE LANCTONF SET IDSTATUSNFE = 'R' WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nrs[1]});
    sql("DELETE FROM SITUACAONFE WHERE NRACESSONFE = ?", {key});
    sql("INSERT INTO SITUACAONFE (NRACESSONFE, CDRETORNO) VALUES (?, 100)", {key});
    loadList();
    const QString nf = [&] {
        EXPECT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nrs[1])));
        return frm->cdsLanctoNF->fieldByName("NRNOTAFISC").asString();
    }();
    tick(nrs);
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(),
              (QStringList{kConfirma,
                           "Não foi possível excluir a NF " + nf
                               + " pois seu status foi atualizado. Gentileza conferir coluna Status Sefaz."}));
    EXPECT_EQ(listed(nrs[0]), "C");
    EXPECT_EQ(listed(nrs[1]), "P");
    EXPECT_EQ(listed(nrs[1], "IDSTATUSNFE"), "A");
    EXPECT_EQ(listed(nrs[2]), "C");
    EXPECT_EQ(audits(nrs[1], "ATUALIZA_SITUACAO"), 1);
    EXPECT_EQ(audits(nrs[1], "CANCELA_NOTA"), 0);
}

TEST_F(CancelEndToEnd, EntriesAnotherOperatorCancelledFirstAreReportedOverAnyOtherRefusal)
{
    // The first entry in list order is refused for its settled commission;
    // the other two are cancelled by a second operator while this one's
    // cancellation is on its way.
    const QStringList nrs = prepareEntries(3);
    sql("INSERT INTO CONTAGERADA (CDFILIAL, NRLANCTONF, IDQUITADA) VALUES ('0001', ?, 'S')", {nrs[0]});
    loadList();
    tick(nrs);
    Meanwhile outro(host, "Cancelando notas fiscais expedidas...", [&] { otherCancels({nrs[1], nrs[2]}); });
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(),
              (QStringList{kConfirma,
                           "Algumas das notas selecionadas não foram canceladas porque foram emitidas por "
                           "outro usuário."}));
    EXPECT_EQ(value("SELECT IDSTATUS FROM LANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nrs[0]}), "P");
    for (const QString& nr : {nrs[1], nrs[2]}) {
        EXPECT_EQ(audits(nr, "CANCELA_NOTA"), 1) << nr.toStdString();
        EXPECT_EQ(value("SELECT CDOPERADOR FROM AUDITCANC WHERE NRLANCTONF = ?", {nr}), "OUTRO");
    }
    EXPECT_EQ(host.animationDepth(), 0);
}

TEST_F(CancelEndToEnd, ItemRefusalsOfTheServerShowTheCatalogueText)
{
    // What the screen checked before asking changes before the server is
    // called: a commission account appears, the branch starts recording
    // sub-products.
    const QString nr = prepareEntries(1, 2).value(0);
    const QString param = value("SELECT IDGERPRODEST FROM PARAMEXPED WHERE CDFILIAL = '0001'");
    ASSERT_NE(param, "3");
    const struct {
        QString change, undo, text;
    } cases[] = {
        {"INSERT INTO CONTAGERADA (CDFILIAL, NRLANCTONF) VALUES ('0001', '" + nr + "')",
         "DELETE FROM CONTAGERADA WHERE NRLANCTONF = '" + nr + "'",
         "Itens da nota fiscal não podem ser cancelados. Nota fiscal possui conta a pagar de comissão."},
        {"UPDATE PARAMEXPED SET IDGERPRODEST = '3' WHERE CDFILIAL = '0001'",
         "UPDATE PARAMEXPED SET IDGERPRODEST = '" + param + "' WHERE CDFILIAL = '0001'",
         "Não é possível cancelar itens da nota fiscal quando o sistema está parâmetrizado para gravar o sub-produtos "
         "do produto principal na nota. Neste caso a nota inteira deve ser cancelada."},
    };
    loadList();
    showItemsOf(nr);
    const qint64 before = liveItems(nr);
    tickItems({0});
    for (const auto& c : cases) {
        host.clearShown();
        {
            Meanwhile meanwhile(host, kConfItem, [&] { sql(c.change); });
            host.answer(MsgButton::Yes);
            cancel();
        }
        EXPECT_EQ(host.messageTexts(), (QStringList{kConfItem, c.text}));
        EXPECT_EQ(liveItems(nr), before);
        EXPECT_EQ(inItensMarcados, 1); // the tick stays for another try
        sql(c.undo);
    }
    EXPECT_EQ(audits(nr, "CANCELA_ITEM"), 0);
}

TEST_F(CancelEndToEnd, AnEntryAnotherOperatorChangedInAnyWayIsStaleButOnesOwnItemCancellationIsNot)
{
    const QStringList nrs = prepareEntries(2, 2);
    loadList();

    // This operator cancels an item of the first entry, then the entry whole.
    showItemsOf(nrs[0]);
    tickItems({0});
    host.answer(MsgButton::Yes);
    cancel();
    ASSERT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    QTabBar* bar = frm->pgcPadrao->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(frm->pgcPadrao->indexOf(frm->tshFolhaDados)).center());
    settle();
    tick({nrs[0]});
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(host.messageTexts(), QStringList{kConfirma});
    EXPECT_EQ(listed(nrs[0]), "C");

    // Another operator cancels an item of the second: its statuses stay as
    // listed, its version does not.
    {
        auto other = otherClient();
        ASSERT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nrs[1])));
        ClientDataset& e = *frm->cdsLanctoNF;
        DataPacket items = CheckResultServ(contracts::cancelnota::GetItem(*other, "0001", nrs[1]), true, 0)[0].packet();
        items.rows()[0][size_t(items.fieldIndex("IDCHECK"))] = Variant("S");
        CheckResultServ(contracts::cancelnota::CancelaItemNf(
                            *other, "0001", Variant(items), nrs[1], e.fieldByName("NREXPEDICAO").asString(),
                            e.fieldByName("NRLANCESTQ").asString(), e.fieldByName("DTENTRSAID").value().toDate(),
                            e.fieldByName("CDFILIEMIT").asString(), "OUTRO"),
                        true, 0);
    }
    const qint64 left = liveItems(nrs[1]);
    tick({nrs[1]});
    host.answer(MsgButton::Yes);
    cancel();
    EXPECT_EQ(host.messageTexts(), (QStringList{kConfirma, kVdAtualiza}));
    EXPECT_EQ(listed(nrs[1]), "P");
    EXPECT_EQ(liveItems(nrs[1]), left);
    EXPECT_EQ(audits(nrs[1], "CANCELA_NOTA"), 0);
}

// The same refresh with the server asking a state authority itself (the
// national port, as "serve --sefaz nacional" builds it) over mutual TLS: the
// authority reports one ticked rejected invoice authorised.
class CancelEndToEndNacional : public CancelEndToEnd {
protected:
    std::shared_ptr<server::SefazPort> sefazPort() override
    {
        EXPECT_TRUE(rig.make(dir.path())) << rig.error.toStdString();
        return server::makeSefazPort("nacional", rig.configFile);
    }
    testsupport::SefazRig rig;
};

TEST_F(CancelEndToEndNacional, AnInvoiceTheAuthorityReportsAuthorisedIsUntickedAndTheOthersAreCancelled)
{
    const QStringList nrs = prepareEntries(4);
    // Branch 0001's registration: SP (35), homologation, certificate serial 5A1F0C0001, as the rig's company 01.
    ASSERT_EQ(value("SELECT NRSERIECERTIFIC FROM INSCRESTAD WHERE CDEMPRESA = '01' AND CDINSCESTA = "
                    "(SELECT CDINSCESTA FROM FILIAL WHERE CDFILIAL = '0001')"),
              testsupport::SefazRig::kSerial);
    const QString authorised = testsupport::nfeKey("35", int(testsupport::AuthorityCase::Authorised));
    const QString unknown = testsupport::nfeKey("35", int(testsupport::AuthorityCase::Unknown));
    sql("UPDATE LANCTONF SET IDSTATUSNFE = 'R', NRACESSONFE = ? WHERE CDFILIAL = '0001' AND NRLANCTONF = ?",
        {authorised, nrs[1]});
    sql("UPDATE LANCTONF SET IDSTATUSNFE = 'R', NRACESSONFE = ? WHERE CDFILIAL = '0001' AND NRLANCTONF = ?",
        {unknown, nrs[2]});
    loadList();
    ASSERT_TRUE(frm->cdsLanctoNF->locate("NRLANCTONF", Variant(nrs[1])));
    const QString nf = frm->cdsLanctoNF->fieldByName("NRNOTAFISC").asString();
    tick(nrs);
    host.answer(MsgButton::Yes);
    cancel();

    EXPECT_EQ(host.messageTexts(),
              (QStringList{kConfirma,
                           "Não foi possível excluir a NF " + nf
                               + " pois seu status foi atualizado. Gentileza conferir coluna Status Sefaz."}));
    EXPECT_EQ(listed(nrs[0]), "C");
    EXPECT_EQ(listed(nrs[1]), "P");
    EXPECT_EQ(listed(nrs[1], "IDSTATUSNFE"), "A");
    EXPECT_EQ(listed(nrs[2]), "C"); // the authority has no record of it (217): cancelled as with the simulator
    EXPECT_EQ(listed(nrs[3]), "C");
    EXPECT_EQ(audits(nrs[1], "ATUALIZA_SITUACAO"), 1);
    EXPECT_EQ(audits(nrs[1], "CANCELA_NOTA"), 0);
    // GetSituacao for both rejected entries and GetAtual_Situ's own question, on one TLS connection.
    EXPECT_EQ(rig.authority->requests, 3);
    EXPECT_EQ(rig.authority->handshakes, 1);
    EXPECT_EQ(rig.authority->badRequests, 0) << rig.authority->lastProblem;
}

} // namespace
