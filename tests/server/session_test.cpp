// Logging in and the rights of a session, over real HTTP: every call without
// a live session is refused, the operator and branch arguments must fit the
// session, the audit records the session's operator and address, and none of
// the refused calls changes anything.
#include "serverfixture.h"

#include <server/appserver.h>
#include <support/testsession.h>

#include <client/session.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <thread>

using namespace servertest;

class Sessions : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        server::ServerOptions o;
        o.threads = 4;
        srv = std::make_unique<Served>(*db, o);
        testsupport::ensureOperator(*db, "ANA", testsupport::kPassword, {"0001"});
        testsupport::ensureOperator(*db, "BETO", testsupport::kPassword, {"0002"});
        ana = testsupport::tokenFor(*db, srv->port(), "ANA");
        addEntry("0001", "0000000001");
        addItem("0001", "0000000001", "0001", "P1", 2);
        addEntry("0002", "0000000002");
    }
    void TearDown() override
    {
        srv.reset();
        ServerDb::TearDown();
    }
    /// HTTP status and "message" of a call made with `token`.
    std::pair<int, QString> post(const std::string& body, const QString& token)
    {
        httplib::Client c("127.0.0.1", srv->port());
        auto r = token.isEmpty() ? c.Post("/call", body, "application/json")
                                 : c.Post("/call", testsupport::bearer(token), body, "application/json");
        if (!r)
            return {0, QString()};
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object();
        return {r->status, o.value("message").toString()};
    }
    std::string cancelEntry(const QString& op, const QString& branch = "0001", const QString& nr = "0000000001")
    {
        return callBody(server::kCancelNotaServer, "CancelaNota",
                        {branch, tick(listEntries(branch), {nr}), branch, op, "T"});
    }
    void expectNothingChanged()
    {
        EXPECT_EQ(status("0001", "0000000001"), "P");
        EXPECT_EQ(status("0002", "0000000002"), "P");
        EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE IDCANCELADO = 'S'"), 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
    }

    std::unique_ptr<Served> srv;
    QString ana;
};

TEST_P(Sessions, CallsWithoutALiveSessionAreRefusedAndChangeNothing)
{
    const std::string body = cancelEntry("ANA");
    EXPECT_EQ(post(body, QString()).first, 401);
    EXPECT_EQ(post(body, QString(64, 'a')).first, 401);
    EXPECT_EQ(post(body, "not-a-token").first, 401);

    // Expired: the same token once its end has passed.
    sql("UPDATE SESSAO SET DTHREXPIRA = 1");
    const auto expired = post(body, ana);
    EXPECT_EQ(expired.first, 401);
    EXPECT_TRUE(expired.second.contains("Sessão")) << qPrintable(expired.second);

    // Disabled: a live session ends with its operator, at once.
    const QString again = testsupport::tokenFor(*db, srv->port(), "ANA");
    EXPECT_EQ(post(callBody(server::kCancelNotaServer, "GetExp", {"0001"}), again).first, 200);
    (*srv)->operators().disable("ANA");
    EXPECT_EQ(post(body, again).first, 401);
    EXPECT_THROW(testsupport::tokenFor(*db, srv->port(), "ANA"), core::SessionError);
    (*srv)->operators().enable("ANA");

    // Logged out.
    const QString third = testsupport::tokenFor(*db, srv->port(), "ANA");
    core::HttpTransport::shared().logout("127.0.0.1", srv->port(), third);
    EXPECT_EQ(post(body, third).first, 401);
    expectNothingChanged();

    // Only /health answers without a session.
    httplib::Client c("127.0.0.1", srv->port());
    EXPECT_EQ(c.Get("/health")->status, 200);
    EXPECT_EQ(c.Post("/logout", "{}", "application/json")->status, 401);
}

TEST_P(Sessions, LoginRefusesWrongPasswordsWithOneTextAndStoresNoSecrets)
{
    auto& t = core::HttpTransport::shared();
    QString wrong, unknown;
    try {
        t.login("127.0.0.1", srv->port(), "ANA", "senha-errada");
    } catch (const core::SessionError& e) {
        wrong = e.message();
    }
    try {
        t.login("127.0.0.1", srv->port(), "NINGUEM", "senha-errada");
    } catch (const core::SessionError& e) {
        unknown = e.message();
    }
    EXPECT_FALSE(wrong.isEmpty());
    EXPECT_EQ(wrong, unknown); // the answer does not tell which operators exist
    EXPECT_TRUE(
        scalar("SELECT DSSENHAHASH FROM OPERADOR WHERE CDOPERADOR = 'ANA'").toString().startsWith("$argon2id$"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM SESSAO WHERE CDSESSAO = ?", {ana}), 0); // only a digest of the token is kept
    EXPECT_EQ(count("SELECT COUNT(*) FROM SESSAO WHERE CDOPERADOR = 'ANA'"), 1);
    // A new password ends the sessions opened with the old one.
    (*srv)->operators().setPassword("ANA", "outra-senha-longa");
    EXPECT_EQ(post(callBody(server::kCancelNotaServer, "GetExp", {"0001"}), ana).first, 401);
    EXPECT_THROW(server::Operators(*db).setPassword("ANA", "curta"), core::Error);
}

TEST_P(Sessions, OperatorAndBranchArgumentsMustFitTheSession)
{
    // Another operator's code in the arguments.
    const auto other = post(cancelEntry("DIRETOR FINANCEIRO"), ana);
    EXPECT_EQ(other.first, 403);
    EXPECT_TRUE(other.second.contains("DIRETOR FINANCEIRO")) << qPrintable(other.second);
    const core::VariantArray itemArgs{"0001",
                                      call(server::kCancelNotaServer, "GetItem", {"0001", "0000000001"})[0],
                                      "0000000001",
                                      "0000000001",
                                      stockNr("0000000001"),
                                      core::Date{double(kDay)},
                                      "0001",
                                      "BETO"};
    EXPECT_EQ(post(callBody(server::kCancelNotaServer, "CancelaItemNf", itemArgs), ana).first, 403);
    core::VariantArray situ{"BETO", "0001", "0000000001", "R", "A", "2", "C", "K", "SP", "35", "1", "01", "I"};
    EXPECT_EQ(post(callBody(server::kSituacaoServer, "GetAtual_Situ", situ), ana).first, 403);

    // A branch the operator may not use, in every method that names one.
    const std::pair<const char*, core::VariantArray> branchCalls[] = {
        {"GetLanctoNF", {"0002", double(kDay - 5), double(kDay + 5), "", "T", "", "T", "", "", "T", "T"}},
        {"GetItem", {"0002", "0000000002"}},
        {"GetItLanctoEst", {"0002", "0000000002"}},
        {"GetReplicAprov", {"0002", "0000000002"}},
        {"VerReplic", {Variant(), "0002", "0000000002"}},
        {"VerReplic", {listEntries("0002"), "", ""}}, // the whole-list form: the rows name the branch
        {"GetVdCancela", {listEntries("0002"), "0001"}},
        {"GetParExpedicao", {"0002"}},
        {"GetExp", {"0002"}},
        {"GetGradePesq", {"0002", double(kDay), double(kDay)}},
    };
    for (const auto& [method, args] : branchCalls) {
        const auto r = post(callBody(server::kCancelNotaServer, method, args), ana);
        EXPECT_EQ(r.first, 403) << method;
        EXPECT_TRUE(r.second.contains("0002")) << method << " " << qPrintable(r.second);
    }
    EXPECT_EQ(post(cancelEntry("ANA", "0002", "0000000002"), ana).first, 403);
    situ[0] = "ANA";
    situ[1] = "0002";
    EXPECT_EQ(post(callBody(server::kSituacaoServer, "GetAtual_Situ", situ), ana).first, 403);
    expectNothingChanged();

    // The allowed call goes through, and the audit holds the session's operator and address.
    const auto ok = post(cancelEntry("ANA"), ana);
    ASSERT_EQ(ok.first, 200) << qPrintable(ok.second);
    EXPECT_EQ(status("0001", "0000000001"), "C");
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE CDOPERADOR = 'ANA' AND DSENDERECO = '127.0.0.1'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 1);
}

TEST_P(Sessions, SessionsLiveInTheDatabaseSoAnyInstanceAcceptsThem)
{
    server::ServerOptions o;
    o.threads = 2;
    Served second(*db, o);
    httplib::Client c("127.0.0.1", second.port());
    auto r = c.Post("/call", testsupport::bearer(ana), callBody(server::kCancelNotaServer, "GetExp", {"0001"}),
                    "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    core::HttpTransport::shared().logout("127.0.0.1", second.port(), ana);
    EXPECT_EQ(post(callBody(server::kCancelNotaServer, "GetExp", {"0001"}), ana).first, 401); // ended for the first too
}

SERVER_BACKENDS(Sessions);

TEST(OperatorAccounts, BranchListsAndCodesAreChecked)
{
    EXPECT_EQ(server::parseBranchList("1, 0002,*"), QStringList({"0001", "0002", "*"}));
    EXPECT_THROW(server::parseBranchList("00001"), core::Error);
    EXPECT_THROW(server::parseBranchList("ab"), core::Error);
    EXPECT_EQ(server::logSafe("a\nb\x1b[31m\\"), "a\\nb\\u001b[31m\\\\");
}

// The default body limit holds the largest entry list the screen may send
// back: kMaxListEntries rows, each at most kMaxEntryRowBytes on the wire.
TEST_P(Sessions, DefaultBodyLimitHoldsTheLargestEntryList)
{
    const QString wide50 = QString(50, QChar(0x00C7)); // "Ç": two bytes each in UTF-8
    sql("INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTENTRSAID, NREXPEDICAO, NRLANCESTQ, CDCLIENTE, NMRAZSOCCLIE, NRNOTAFISC, "
        "DTEMISSAO, IDSISTEMA, NMFANTCLIE, IDSTATUS, IDSTATUSNFE, CDFILIEMIT, NRACESSONFE, CDEMPRESA, IDTIPOEMISNFE, CDINSCESTA, "
        "NRVERSAO) VALUES ('0001','9999999999',?,'9999999999','9999999999',?,?,?,?,'ZZZ',?,'P','R','0001',?,'01','1',?,2147483647)",
        {kDay, QString(21, '9'), wide50, QString(20, '9'), kDay, wide50, QString(50, '9'), QString(16, '9')});
    core::DataPacket one = listEntries("0001");
    const int widest = one.fieldIndex("NRLANCTONF");
    core::DataPacket only(one.fields());
    for (const auto& row : one.rows())
        if (row[size_t(widest)].toString() == "9999999999")
            only.appendRow(row);
    ASSERT_EQ(only.rowCount(), 1);
    const core::DataPacket empty(one.fields());
    const qsizetype rowBytes = core::codec::encodePacket(only).size() - core::codec::encodePacket(empty).size();
    EXPECT_LE(rowBytes, qsizetype(server::kMaxEntryRowBytes));
    EXPECT_GT(rowBytes, qsizetype(server::kMaxEntryRowBytes) * 3 / 4)
        << "the documented row size is far from the real one";
    EXPECT_GE(server::defaultMaxBody(), std::size_t(server::kMaxListEntries) * std::size_t(rowBytes));
    EXPECT_GE(server::kMaxListEntries, 200000); // the large-list case fits
}

namespace {
// An authority port whose database fails, with details the caller must not see.
class BrokenAuthority : public server::SefazPort {
public:
    server::SefazAnswer query(server::Database&, const server::SefazQuery&) override
    {
        throw server::InternalError("Erro de banco de dados: senha do usuário exp_rw recusada [SELECT ...]");
    }
};
} // namespace

TEST_P(Sessions, InternalFailuresShowOnlyAReference)
{
    Served broken(*db, server::ServerOptions{}, std::make_shared<BrokenAuthority>());
    httplib::Client c("127.0.0.1", broken.port());
    auto r = c.Post("/call", testsupport::bearer(ana),
                    callBody(server::kSituacaoServer, "GetSituacao", {"2", "C", "K", "SP", "01", "35", "1", "I"}),
                    "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 500);
    const QString message =
        QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value("message").toString();
    EXPECT_TRUE(message.startsWith("Falha interna do servidor (referência ")) << qPrintable(message);
    EXPECT_FALSE(message.contains("senha")) << qPrintable(message);
    EXPECT_FALSE(message.contains("SELECT")) << qPrintable(message);
}

// An operator changes their own password: the current one is checked, the
// password rules apply, the other sessions end, this one goes on.
TEST_P(Sessions, ChangingOwnPasswordEndsTheOtherSessionsOnly)
{
    const QString mine = testsupport::tokenFor(*db, srv->port(), "CAIO");
    const QString other = testsupport::tokenFor(*db, srv->port(), "CAIO");
    const QString beto = testsupport::tokenFor(*db, srv->port(), "BETO");
    auto senha = [&](const QString& token, const QJsonObject& body) {
        httplib::Client c("127.0.0.1", srv->port());
        const std::string b = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
        auto r = token.isEmpty() ? c.Post("/senha", b, "application/json")
                                 : c.Post("/senha", testsupport::bearer(token), b, "application/json");
        const QJsonObject o = r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
        return std::make_pair(r ? r->status : 0,
                              o.contains("message") ? o.value("message").toString()
                                                    : QString::number(o.value("sessoesEncerradas").toInt()));
    };
    const QString nova = "outra-senha-42";
    using R = std::pair<int, QString>;
    EXPECT_EQ(senha("", {{"atual", testsupport::kPassword}, {"nova", nova}}).first, 401);
    EXPECT_EQ(senha(mine, {{"atual", "errada-123"}, {"nova", nova}}), R(401, "A senha atual não confere."));
    EXPECT_EQ(senha(mine, {{"atual", testsupport::kPassword}, {"nova", "curta"}}),
              R(422, "A senha deve ter ao menos 8 caracteres."));
    EXPECT_EQ(senha(mine, {{"atual", testsupport::kPassword}, {"nova", testsupport::kPassword}}),
              R(422, "A nova senha deve ser diferente da atual."));
    EXPECT_EQ(senha(mine, {{"atual", testsupport::kPassword}}).first, 400);
    EXPECT_EQ(post("{}", other).first == 401, false) << "refusals end no session";

    // The shell's client: refusals as the errors it shows, then the change.
    EXPECT_THROW(core::httpChangePassword("127.0.0.1", srv->port(), mine, "errada-123", nova), core::SessionError);
    EXPECT_THROW(core::httpChangePassword("127.0.0.1", srv->port(), mine, testsupport::kPassword, "curta"),
                 core::Error);
    EXPECT_EQ(core::httpChangePassword("127.0.0.1", srv->port(), mine, testsupport::kPassword, nova), 1);
    EXPECT_EQ(post("{}", other).first, 401) << "the operator's other session ended";
    EXPECT_NE(post("{}", mine).first, 401) << "the session that changed it goes on";
    EXPECT_NE(post("{}", beto).first, 401) << "other operators' sessions go on";
    EXPECT_THROW(core::HttpTransport::shared().login("127.0.0.1", srv->port(), "CAIO", testsupport::kPassword),
                 core::SessionError);
    EXPECT_FALSE(core::HttpTransport::shared().login("127.0.0.1", srv->port(), "CAIO", nova).token.isEmpty());
}
