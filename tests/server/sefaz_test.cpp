// The national NF-e status port against a test authority on loopback: each
// recorded answer through GetSituacao and GetAtual_Situ, the checks made
// before anything is sent, kept connections, the circuit breaker and the
// configuration.
#include "serverfixture.h"

#include <server/sefaznacional.h>
#include <tests/support/testsefaz.h>

#include <QProcess>

using namespace servertest;
using testsupport::AuthorityCase;
using testsupport::nfeKey;
using testsupport::SefazRig;

class NationalSefaz : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(testsupport::TestCa::available());
        ASSERT_TRUE(rig.make(dir.path(),
                             "answer_timeout_ms = 500\nmax_answer_bytes = 65536\nconnect_retries = 1\n"
                             "breaker_failures = 100\n"))
            << qPrintable(rig.error);
        server::registerSituacao(nat, server::makeSefazPort("nacional", rig.configFile));
    }
    Variant natCall(const QString& method, core::VariantArray args, QList<bool> byRef = {})
    {
        server::CallRequest r{server::kSituacaoServer, method, std::move(args), std::move(byRef)};
        last = nat.call(*db, r);
        return last.payload;
    }
    Variant situacao(const QString& key, const QString& company = "01", const QString& state = "SP",
                     const QString& stateCode = "35", const QString& serial = SefazRig::kSerial,
                     const QString& env = "2")
    {
        return natCall("GetSituacao", {env, serial, key, state, company, stateCode, "1", "110042490114"});
    }
    Variant atualiza(const QString& nr, const QString& newStatus, const QString& key, const QString& company)
    {
        const QString serial = company == "02" ? SefazRig::kOtherSerial : SefazRig::kSerial;
        QList<bool> byRef(13, false);
        byRef[4] = true;
        return natCall("GetAtual_Situ",
                       {"op7", "0001", nr, "R", newStatus, "2", serial, key, "SP", "35", "1", company, "110042490114"},
                       byRef);
    }
    QString storedStatus(const QString& nr)
    {
        return scalar("SELECT IDSTATUSNFE FROM LANCTONF WHERE CDFILIAL = '0001' AND NRLANCTONF = ?", {nr}).toString();
    }

    SefazRig rig;
    server::Registry nat;
};

TEST_P(NationalSefaz, EachRecordedAnswerThroughGetSituacaoAndGetAtualSitu)
{
    struct Case {
        AuthorityCase answer;
        const char* company;
        const char* flag;
        const char* text;      ///< element 1 of GetSituacao, whole ("S") or a part ("N")
        const char* newStatus; ///< what the screen would send to GetAtual_Situ
        const char* stored;    ///< IDSTATUSNFE afterwards
    };
    const Case cases[] = {
        {AuthorityCase::Authorised, "01", "S", "100", "A", "A"},
        {AuthorityCase::Denied, "01", "S", "302", "D", "D"},
        {AuthorityCase::Cancelled, "01", "S", "101", "X", "X"},
        {AuthorityCase::CancelledKept, "01", "S", "135", "X", "X"},
        {AuthorityCase::Unknown, "01", "N", "217 - Rejeicao: NF-e nao consta na base de dados da SEFAZ", "X", "R"},
        {AuthorityCase::Rejected, "01", "N", "656 - Rejeicao: Consumo Indevido", "X", "R"},
        {AuthorityCase::SoapFault, "01", "N", "respondeu com falha SOAP: Server was unable", "X", "R"},
        {AuthorityCase::Malformed, "01", "N", "Resposta malformada do autorizador TESTE: XML inválido", "X", "R"},
        {AuthorityCase::TooLarge, "01", "N", "excede o limite de 65536 bytes", "X", "R"},
        {AuthorityCase::TooSlow, "01", "N", "não respondeu em 0.5 s", "X", "R"},
        {AuthorityCase::Doctype, "01", "N", "DOCTYPE não aceita", "X", "R"},
        {AuthorityCase::OtherKey, "01", "N", "de outra chave de acesso", "X", "R"},
        {AuthorityCase::Authorised, "02", "N", "Falha na comunicação com o autorizador TESTE", "A",
         "R"}, // wrong client cert
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString nr = QString("%1").arg(++n, 10, 10, QChar('0'));
        const QString key = nfeKey("35", int(c.answer));
        SCOPED_TRACE(qPrintable(nr + " " + key + " empresa " + c.company));
        addEntry("0001", nr, "P", "R", kDay, "0000000001", "R00001", QString(), key);
        const QString serial = QString(c.company) == "02" ? SefazRig::kOtherSerial : SefazRig::kSerial;
        const Variant s = situacao(key, c.company, "SP", "35", serial);
        EXPECT_EQ(s[0].toString(), c.flag);
        if (QString(c.flag) == "S")
            EXPECT_EQ(s[1].toString(), c.text);
        else
            EXPECT_TRUE(s[1].toString().contains(QString::fromUtf8(c.text))) << qPrintable(s[1].toString());
        const Variant a = atualiza(nr, c.newStatus, key, c.company);
        EXPECT_EQ(a[0].toString(), QString(c.stored) == "R" ? "N" : "S") << qPrintable(a[1].toString());
        EXPECT_EQ(storedStatus(nr), c.stored);
    }
    EXPECT_EQ(rig.authority->badRequests, 0) << rig.authority->lastProblem;
    EXPECT_GE(rig.authority->failedHandshakes, 1); // the certificate of the other CA
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE IDOPERACAO = 'ATUALIZA_SITUACAO'"), 4);
}

TEST_P(NationalSefaz, KeysAndArgumentsAreCheckedBeforeAnythingIsSent)
{
    const QString sp = nfeKey("35", int(AuthorityCase::Authorised));
    QString wrongDigit = sp;
    wrongDigit[43] = QChar('0' + (sp[43].unicode() - '0' + 1) % 10);
    QString letter = sp;
    letter[10] = 'A';
    const qulonglong serialNumber = QString(SefazRig::kSerial).toULongLong(nullptr, 16);
    struct Case {
        QString key, state, stateCode, serial, company, env;
        const char* refusal; ///< empty: sent, and answered "S"
    };
    const QString S = SefazRig::kSerial;
    const Case cases[] = {
        {sp, "SP", "35", S, "01", "2", ""},
        {nfeKey("31", 1), "MG", "31", S, "01", "2", ""},
        {nfeKey("33", 1), "RJ", "33", S, "01", "1", ""},
        {nfeKey("21", 1), "MA", "21", S, "01", "2", ""},
        {nfeKey("43", 1), "rs", "43", S, "01", "2", ""},
        {sp, "SP", "35", QString::number(serialNumber), "01", "2", ""}, // the serial in decimal
        {sp, "SP", "35", "5a:1f:0c:00:01", "01", "2", ""},
        {wrongDigit, "SP", "35", S, "01", "2", "dígito verificador"},
        {sp.left(43), "SP", "35", S, "01", "2", "44 dígitos"},
        {sp + "0", "SP", "35", S, "01", "2", "44 dígitos"},
        {letter, "SP", "35", S, "01", "2", "44 dígitos"},
        {nfeKey("31", 1), "SP", "35", S, "01", "2", "UF da chave (31)"},
        {sp, "SP", "31", S, "01", "2", "código IBGE"},
        {sp, "XX", "35", S, "01", "2", "UF da inscrição estadual inválida"},
        {sp, "SP", "35", S, "01", "3", "Ambiente da NF-e inválido"},
        {sp, "SP", "35", "DEADBEEF", "01", "2", "não é o da inscrição estadual"},
        {sp, "SP", "35", "", "01", "2", "não é o da inscrição estadual"},
        {sp, "SP", "35", S, "09", "2", "empresa 09 não tem certificado"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.key + " " + c.state + " " + c.serial));
        const int before = rig.authority->requests;
        const Variant a = situacao(c.key, c.company, c.state, c.stateCode, c.serial, c.env);
        if (*c.refusal) {
            EXPECT_EQ(a[0].toString(), "N");
            EXPECT_TRUE(a[1].toString().contains(QString::fromUtf8(c.refusal))) << qPrintable(a[1].toString());
            EXPECT_EQ(rig.authority->requests, before);
        } else {
            EXPECT_EQ(a, Variant::array({"S", "100"}));
            EXPECT_EQ(rig.authority->requests, before + 1);
        }
    }
    EXPECT_EQ(rig.authority->badRequests, 0) << rig.authority->lastProblem;
}

TEST_P(NationalSefaz, ConnectionsAreKeptAndAFailingAuthoriserIsSkipped)
{
    const QString key = nfeKey("35", int(AuthorityCase::Authorised));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(situacao(key), Variant::array({"S", "100"}));
    EXPECT_EQ(rig.authority->requests, 20);
    EXPECT_EQ(rig.authority->handshakes, 1);
    // The authority closes the kept connection: the query is not lost, it
    // goes once more on a new connection.
    rig.authority->dropConnections();
    EXPECT_EQ(situacao(key), Variant::array({"S", "100"}));
    EXPECT_EQ(rig.authority->handshakes, 2);
    EXPECT_EQ(rig.authority->requests, 21);

    // The contingency authoriser of the test table listens nowhere.
    QFile f(rig.configFile);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("contingency = svc\nbreaker_failures = 2\nbreaker_seconds = 60\n");
    f.close();
    server::Registry down;
    server::registerSituacao(down, server::makeSefazPort("nacional", rig.configFile));
    auto ask = [&] {
        server::CallRequest r{
            server::kSituacaoServer, "GetSituacao", {"2", SefazRig::kSerial, key, "SP", "01", "35", "1", "IE"}, {}};
        return down.call(*db, r).payload[1].toString();
    };
    EXPECT_TRUE(ask().startsWith("Não foi possível conectar ao autorizador TESTE-SVC (2 tentativas)"));
    EXPECT_TRUE(ask().startsWith("Não foi possível conectar"));
    EXPECT_TRUE(ask().startsWith("SEFAZ: autorizador indisponível (TESTE-SVC)"));
}

TEST_P(NationalSefaz, ConfigurationAndTheAddressUsed)
{
    // The shipped table: own authorisers, the virtual ones, and contingency.
    const QString table = QString(EXP_SOURCE_DIR) + "/deploy/sefaz/autorizadores.txt";
    const server::sefaz::EndpointTable t = server::sefaz::EndpointTable::load(table);
    struct Case {
        const char* state;
        const char* env;
        const char* contingency;
        const char* authoriser;
        const char* host;
    };
    const Case cases[] = {
        {"SP", "1", "", "SP", "nfe.fazenda.sp.gov.br"},
        {"SP", "2", "", "SP", "homologacao.nfe.fazenda.sp.gov.br"},
        {"AC", "2", "", "SVRS", "nfe-homologacao.svrs.rs.gov.br"},
        {"MA", "1", "", "SVAN", "www.sefazvirtual.fazenda.gov.br"},
        {"SP", "1", "svc", "SVC-AN", "www.svc.fazenda.gov.br"},
        {"PR", "2", "svc", "SVC-RS", "nfe-homologacao.svrs.rs.gov.br"},
    };
    for (const Case& c : cases) {
        const server::sefaz::Endpoint e = t.resolve(c.state, c.env, c.contingency);
        EXPECT_EQ(e.authoriser, c.authoriser) << c.state;
        EXPECT_EQ(e.host, c.host) << c.state;
    }
    EXPECT_THROW(t.resolve("SP", "3"), core::Error);
    EXPECT_THROW(t.resolve("ZZ", "1"), core::Error);

    QProcess p;
    p.start(EXP_APPSERVER_BIN, {"sefaz-url", "sp", "2", "--sefaz-config", rig.configFile});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), "TESTE\t" + rig.authority->url());

    // A certificate others can read is refused when the port is made.
    const QString p12 = QDir(dir.path()).filePath("empresa01.p12");
    QFile::setPermissions(p12, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    try {
        server::makeSefazPort("nacional", rig.configFile);
        ADD_FAILURE() << "a certificate readable by others was accepted";
    } catch (const core::Error& e) {
        EXPECT_TRUE(e.message().contains("chmod 600")) << qPrintable(e.message());
    }
}

SERVER_BACKENDS(NationalSefaz);
