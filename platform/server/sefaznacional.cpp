#include "sefaznacional.h"

#include <core/errors.h>

#include <QFile>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <pugixml.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kWsdlNs = "http://www.portalfiscal.inf.br/nfe/wsdl/NFeConsultaProtocolo4";
constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kAction = "http://www.portalfiscal.inf.br/nfe/wsdl/NFeConsultaProtocolo4/nfeConsultaNF";

SefazAnswer refused(const QString& message)
{
    SefazAnswer a;
    a.message = message;
    return a;
}

// ---- XML: element names resolved to (namespace, local name) -----------------

QString localName(const pugi::xml_node& n)
{
    const QString name = QString::fromUtf8(n.name());
    const int colon = name.indexOf(':');
    return colon < 0 ? name : name.mid(colon + 1);
}

QString namespaceOf(const pugi::xml_node& n)
{
    const QString name = QString::fromUtf8(n.name());
    const int colon = name.indexOf(':');
    const std::string attr = colon < 0 ? std::string("xmlns") : "xmlns:" + name.left(colon).toStdString();
    for (pugi::xml_node at = n; at; at = at.parent())
        if (pugi::xml_attribute a = at.attribute(attr.c_str()))
            return QString::fromUtf8(a.value());
    return {};
}

pugi::xml_node child(const pugi::xml_node& parent, const char* local, const char* ns)
{
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == QLatin1String(local)
            && namespaceOf(c) == QLatin1String(ns))
            return c;
    return {};
}

QString text(const pugi::xml_node& parent, const char* local)
{
    return QString::fromUtf8(child(parent, local, kNfeNs).child_value()).trimmed();
}

bool threeDigits(const QString& s)
{
    return s.size() == 3 && s[0].isDigit() && s[1].isDigit() && s[2].isDigit();
}

// ---- the company's certificate ---------------------------------------------

QString normalisedSerial(QString s)
{
    s.remove(' ').remove(':');
    s = s.toUpper();
    while (s.size() > 1 && s.startsWith('0'))
        s.remove(0, 1);
    return s;
}

struct Company {
    QString code;
    QString serialHex, serialDec;
    std::unique_ptr<ssl::context> ctx;
};

QString opensslError()
{
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e)
        return "erro desconhecido";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

std::unique_ptr<Company> loadCompany(const QString& code, const sefaz::CompanyCertificate& c, const QString& caBundle)
{
    sefaz::requirePrivateFile(c.pkcs12File, "O certificado da empresa " + code);
    sefaz::requirePrivateFile(c.passwordFile, "A senha do certificado da empresa " + code);
    QFile pf(c.passwordFile), cf(c.pkcs12File);
    if (!pf.open(QIODevice::ReadOnly) || !cf.open(QIODevice::ReadOnly))
        throw core::Error(QString("Não foi possível ler o certificado da empresa %1.").arg(code));
    QByteArray password = pf.readLine();
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    const QByteArray der = cf.readAll();

    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12(nullptr, &p, der.size()), PKCS12_free);
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (!p12 || !PKCS12_parse(p12.get(), password.constData(), &key, &cert, &chain))
        throw core::Error(QString("O certificado da empresa %1 (%2) não abre com a senha dada: %3")
                              .arg(code, c.pkcs12File, opensslError()));
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> keyGuard(key, EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> certGuard(cert, X509_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> chainGuard(
        chain, [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
    if (!key || !cert)
        throw core::Error(QString("O arquivo %1 não tem certificado e chave.").arg(c.pkcs12File));

    auto company = std::make_unique<Company>();
    company->code = code;
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(cert), nullptr);
    char* hex = BN_bn2hex(bn);
    char* dec = BN_bn2dec(bn);
    company->serialHex = normalisedSerial(QString::fromLatin1(hex));
    company->serialDec = QString::fromLatin1(dec);
    OPENSSL_free(hex);
    OPENSSL_free(dec);
    BN_free(bn);

    company->ctx = std::make_unique<ssl::context>(ssl::context::tls_client);
    SSL_CTX* ctx = company->ctx->native_handle();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT);
    if (SSL_CTX_use_certificate(ctx, cert) != 1 || SSL_CTX_use_PrivateKey(ctx, key) != 1
        || SSL_CTX_check_private_key(ctx) != 1)
        throw core::Error(QString("O certificado da empresa %1 não serve para TLS: %2").arg(code, opensslError()));
    for (int i = 0; chain && i < sk_X509_num(chain); ++i)
        SSL_CTX_add1_chain_cert(ctx, sk_X509_value(chain, i));
    boost::system::error_code ec;
    company->ctx->load_verify_file(caBundle.toStdString(), ec);
    if (ec)
        throw core::Error(QString("Não foi possível ler as autoridades certificadoras \"%1\": %2")
                              .arg(caBundle, QString::fromStdString(ec.message())));
    company->ctx->set_verify_mode(ssl::verify_peer);
    return company;
}

// ---- one kept connection -----------------------------------------------------

struct Connection {
    net::io_context ioc;
    beast::ssl_stream<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
    explicit Connection(ssl::context& ctx) : stream(ioc, ctx) { }
};

/// Runs one asynchronous step on the connection's own context, on the calling
/// thread, for at most `ms`; a step that outlives it is cancelled by closing
/// the socket and reported as a timeout.
template <class Start>
beast::error_code runFor(Connection& c, int ms, Start&& start, const std::function<void()>& cancel = {})
{
    beast::error_code result;
    bool done = false;
    start([&](beast::error_code ec, auto&&...) {
        result = ec;
        done = true;
    });
    c.ioc.restart();
    c.ioc.run_for(std::chrono::milliseconds(std::max(ms, 1)));
    if (!done) {
        beast::error_code ignored;
        beast::get_lowest_layer(c.stream).socket().close(ignored);
        if (cancel)
            cancel();
        c.ioc.restart();
        c.ioc.run();
        return beast::error::timeout;
    }
    return result;
}

QString describe(const beast::error_code& ec)
{
    if (ec == beast::error::timeout)
        return "tempo esgotado";
    if (ec.category() == net::error::get_ssl_category()) {
        char buf[256];
        ERR_error_string_n(static_cast<unsigned long>(ec.value()), buf, sizeof buf);
        return QString("TLS: %1").arg(QString::fromLatin1(buf));
    }
    return QString::fromStdString(ec.message());
}

/// The kept connections, the TLS session and the health of one company's
/// access to one authoriser host.
struct Route {
    std::mutex m;
    std::vector<std::unique_ptr<Connection>> idle;
    SSL_SESSION* session = nullptr;
    ~Route()
    {
        if (session)
            SSL_SESSION_free(session);
    }
};

struct Health {
    int failures = 0;
    Clock::time_point outUntil{};
};

enum class Outcome { Answer, ConnectFailed, Failed, TooLarge };

struct Exchange {
    Outcome outcome = Outcome::Failed;
    QString why;
    int status = 0;
    std::string body;
};

constexpr size_t kMaxIdlePerRoute = 16;

} // namespace

// ---- the envelope and the answer ---------------------------------------------

std::string consSitNFeEnvelope(const QString& environment, const QString& accessKey)
{
    // Both values were checked to be digits; nothing in them needs escaping.
    return std::string(R"(<?xml version="1.0" encoding="utf-8"?>)"
                       R"(<soap12:Envelope xmlns:soap12=")")
        + kSoapNs
        + R"("><soap12:Body>)"
          R"(<nfeDadosMsg xmlns=")"
        + kWsdlNs
        + R"(">)"
          R"(<consSitNFe xmlns=")"
        + kNfeNs + R"(" versao="4.00"><tpAmb>)" + environment.toStdString() + "</tpAmb><xServ>CONSULTAR</xServ><chNFe>"
        + accessKey.toStdString() + "</chNFe></consSitNFe></nfeDadosMsg></soap12:Body></soap12:Envelope>";
}

SefazAnswer readConsSitNFeAnswer(const std::string& body, const QString& environment, const QString& accessKey,
                                 const QString& authoriser)
{
    auto malformed = [&](const QString& why) {
        return refused(QString("Resposta malformada do autorizador %1: %2.").arg(authoriser, why));
    };
    pugi::xml_document doc;
    // DOCTYPE is kept as a node so that it can be refused: no DTD, no entity
    // of its own, is accepted from the authority (pugixml never loads one).
    const pugi::xml_parse_result parsed =
        doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype);
    if (!parsed)
        return malformed(QString("XML inválido (%1, posição %2)").arg(parsed.description()).arg(parsed.offset));
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_doctype)
            return malformed("declaração DOCTYPE não aceita");
    const pugi::xml_node env = doc.document_element();
    if (localName(env) != "Envelope" || namespaceOf(env) != kSoapNs)
        return malformed("não é um envelope SOAP 1.2");
    const pugi::xml_node soapBody = child(env, "Body", kSoapNs);
    if (!soapBody)
        return malformed("envelope sem Body");
    if (const pugi::xml_node fault = child(soapBody, "Fault", kSoapNs)) {
        QString reason =
            QString::fromUtf8(child(child(fault, "Reason", kSoapNs), "Text", kSoapNs).child_value()).trimmed();
        const QString code =
            QString::fromUtf8(child(child(fault, "Code", kSoapNs), "Value", kSoapNs).child_value()).trimmed();
        if (reason.isEmpty())
            reason = code.isEmpty() ? "sem motivo" : code;
        return refused(QString("O autorizador %1 respondeu com falha SOAP: %2").arg(authoriser, reason.left(300)));
    }
    const pugi::xml_node ret = child(child(soapBody, "nfeResultMsg", kWsdlNs), "retConsSitNFe", kNfeNs);
    if (!ret)
        return malformed("sem retConsSitNFe em nfeResultMsg");
    if (QString::fromUtf8(ret.attribute("versao").value()).isEmpty())
        return malformed("retConsSitNFe sem versao");
    const QString cStat = text(ret, "cStat"), xMotivo = text(ret, "xMotivo");
    if (!threeDigits(cStat))
        return malformed(QString("cStat \"%1\" não tem três dígitos").arg(cStat.left(20)));
    if (text(ret, "tpAmb") != environment)
        return malformed(QString("ambiente %1 em vez de %2").arg(text(ret, "tpAmb").left(5), environment));
    const QString chNFe = text(ret, "chNFe");
    if (!chNFe.isEmpty() && chNFe != accessKey)
        return malformed("a resposta é de outra chave de acesso");
    const pugi::xml_node infProt = child(child(ret, "protNFe", kNfeNs), "infProt", kNfeNs);
    if (infProt && text(infProt, "chNFe") != accessKey)
        return malformed("o protocolo é de outra chave de acesso");

    int code = cStat.toInt();
    if (code == 100 || code == 150) {
        // Some authorisers keep 100 and list the cancellation among the events.
        for (pugi::xml_node ev = ret.first_child(); ev; ev = ev.next_sibling()) {
            if (localName(ev) != "procEventoNFe" || namespaceOf(ev) != kNfeNs)
                continue;
            const pugi::xml_node inf = child(child(ev, "retEvento", kNfeNs), "infEvento", kNfeNs);
            const QString type = text(inf, "tpEvento"), evStat = text(inf, "cStat");
            if ((type == "110111" || type == "110112") && (evStat == "135" || evStat == "155"))
                code = evStat.toInt();
        }
    }
    switch (code) {
    case 100:
    case 150:
    case 110:
    case 301:
    case 302:
    case 101:
    case 151:
    case 135:
    case 155: {
        SefazAnswer a;
        a.answered = true;
        a.code = code;
        return a;
    }
    default: return refused(QString("%1 - %2").arg(cStat, xMotivo.isEmpty() ? "(sem motivo)" : xMotivo.left(500)));
    }
}

// ---- the port ------------------------------------------------------------------

struct NationalSefazPort::Impl {
    sefaz::NationalConfig config;
    sefaz::EndpointTable table;
    std::map<QString, std::unique_ptr<Company>> companies;
    std::mutex m;                                     // guards routes and health
    std::map<QString, std::unique_ptr<Route>> routes; // company|host|port
    std::map<QString, Health> health;                 // endpoint URL

    Route& route(const QString& key)
    {
        std::lock_guard l(m);
        auto& r = routes[key];
        if (!r)
            r = std::make_unique<Route>();
        return *r;
    }

    std::unique_ptr<Connection> connect(Company& co, Route& r, const sefaz::Endpoint& e, QString& why)
    {
        auto c = std::make_unique<Connection>(*co.ctx);
        SSL* s = c->stream.native_handle();
        const std::string host = e.host.toStdString();
        X509_VERIFY_PARAM* param = SSL_get0_param(s);
        boost::system::error_code notIp;
        net::ip::make_address(host, notIp);
        if (notIp) {
            SSL_set_tlsext_host_name(s, host.c_str());
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        }
        {
            std::lock_guard l(r.m);
            if (r.session)
                SSL_set_session(s, r.session);
        }
        net::ip::tcp::resolver resolver(c->ioc);
        net::ip::tcp::resolver::results_type addresses;
        const auto started = Clock::now();
        auto left = [&] {
            return config.connectTimeoutMs
                - int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
        };
        beast::error_code ec = runFor(
            *c, left(),
            [&](auto done) {
                resolver.async_resolve(host, std::to_string(e.port), [&, done](beast::error_code rec, auto results) {
                    addresses = results;
                    done(rec);
                });
            },
            [&] { resolver.cancel(); });
        if (!ec)
            ec = runFor(*c, left(),
                        [&](auto done) { beast::get_lowest_layer(c->stream).async_connect(addresses, done); });
        if (!ec) {
            beast::get_lowest_layer(c->stream).socket().set_option(net::ip::tcp::no_delay(true), ec);
            ec = {};
            ec = runFor(*c, left(), [&](auto done) { c->stream.async_handshake(ssl::stream_base::client, done); });
        }
        if (ec) {
            why = describe(ec);
            return nullptr;
        }
        return c;
    }

    /// One request and its answer, on a kept connection when there is one.
    /// Only a connection that could not be made (or a kept one the authority
    /// had closed before reading the request) is tried again.
    Exchange exchange(Company& co, const sefaz::Endpoint& e, const std::string& envelope)
    {
        Route& r = route(co.code + '|' + e.host + '|' + QString::number(e.port));
        http::request<http::string_body> req{http::verb::post, e.path.toStdString(), 11};
        req.set(http::field::host,
                e.port == 443 ? e.host.toStdString() : (e.host + ':' + QString::number(e.port)).toStdString());
        req.set(http::field::content_type,
                std::string("application/soap+xml; charset=utf-8; action=\"") + kAction + '"');
        req.set(http::field::user_agent, "exp_appserver");
        req.keep_alive(true);
        req.body() = envelope;
        req.prepare_payload();

        Exchange x;
        int connectAttempts = 0;
        bool staleRetried = false;
        for (;;) {
            std::unique_ptr<Connection> c;
            {
                std::lock_guard l(r.m);
                if (!r.idle.empty()) {
                    c = std::move(r.idle.back());
                    r.idle.pop_back();
                }
            }
            const bool reused = bool(c);
            if (!c) {
                QString why;
                c = connect(co, r, e, why);
                if (!c) {
                    if (++connectAttempts > config.connectRetries) {
                        x.outcome = Outcome::ConnectFailed;
                        x.why = QString("Não foi possível conectar ao autorizador %1 (%2 tentativas): %3")
                                    .arg(e.authoriser)
                                    .arg(connectAttempts)
                                    .arg(why);
                        return x;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(100 * connectAttempts));
                    continue;
                }
            }
            const auto started = Clock::now();
            auto left = [&] {
                return config.answerTimeoutMs
                    - int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
            };
            http::response_parser<http::string_body> parser;
            parser.header_limit(16 * 1024);
            parser.body_limit(std::uint64_t(config.maxAnswerBytes));
            beast::error_code ec = runFor(*c, left(), [&](auto done) { http::async_write(c->stream, req, done); });
            // The header first: Boost 1.74's async_read applies the body limit
            // to a Content-Length only when the header was read on its own.
            if (!ec)
                ec =
                    runFor(*c, left(), [&](auto done) { http::async_read_header(c->stream, c->buffer, parser, done); });
            if (!ec)
                ec = runFor(*c, left(), [&](auto done) { http::async_read(c->stream, c->buffer, parser, done); });
            if (ec && reused && !staleRetried && ec != beast::error::timeout && !parser.got_some()) {
                staleRetried = true; // the authority closed the kept connection meanwhile
                continue;
            }
            if (ec == http::error::body_limit || ec == http::error::header_limit) {
                x.outcome = Outcome::TooLarge;
                x.why = QString("A resposta do autorizador %1 excede o limite de %2 bytes.")
                            .arg(e.authoriser)
                            .arg(config.maxAnswerBytes);
                return x;
            }
            if (ec == beast::error::timeout) {
                x.outcome = Outcome::Failed;
                x.why = QString("O autorizador %1 não respondeu em %2 s.")
                            .arg(e.authoriser)
                            .arg(config.answerTimeoutMs / 1000.0);
                return x;
            }
            if (ec) {
                x.outcome = Outcome::Failed;
                x.why = QString("Falha na comunicação com o autorizador %1: %2").arg(e.authoriser, describe(ec));
                return x;
            }
            x.outcome = Outcome::Answer;
            x.status = int(parser.get().result_int());
            x.body = std::move(parser.get().body());
            std::lock_guard l(r.m);
            if (SSL_SESSION* s = SSL_get1_session(c->stream.native_handle())) {
                if (r.session)
                    SSL_SESSION_free(r.session);
                r.session = s;
            }
            if (parser.get().keep_alive() && c->buffer.size() == 0 && r.idle.size() < kMaxIdlePerRoute)
                r.idle.push_back(std::move(c));
            return x;
        }
    }

    /// The message that answers at once while the authoriser is out; empty
    /// when it may be asked.
    QString outMessage(const sefaz::Endpoint& e)
    {
        std::lock_guard l(m);
        const Health& h = health[e.url];
        const auto now = Clock::now();
        if (h.outUntil <= now)
            return {};
        const auto secs = std::chrono::duration_cast<std::chrono::seconds>(h.outUntil - now).count() + 1;
        return QString("SEFAZ: autorizador indisponível (%1); nova consulta em %2 s.").arg(e.authoriser).arg(secs);
    }

    void record(const sefaz::Endpoint& e, bool failed)
    {
        std::lock_guard l(m);
        Health& h = health[e.url];
        if (!failed) {
            h.failures = 0;
            return;
        }
        if (++h.failures >= config.breakerFailures) {
            h.outUntil = Clock::now() + std::chrono::seconds(config.breakerSeconds);
            h.failures = 0;
        }
    }
};

NationalSefazPort::NationalSefazPort(const sefaz::NationalConfig& config) : d(std::make_unique<Impl>())
{
    d->config = config;
    d->table = sefaz::EndpointTable::load(config.endpointsFile);
    if (!config.contingency.isEmpty() && config.contingency != "svc" && !d->table.knows(config.contingency))
        throw core::Error(QString("contingency: o autorizador %1 não está na tabela %2.")
                              .arg(config.contingency, config.endpointsFile));
    for (auto it = config.companies.cbegin(); it != config.companies.cend(); ++it)
        d->companies[it.key()] = loadCompany(it.key(), it.value(), config.caBundle);
}

NationalSefazPort::~NationalSefazPort() = default;

sefaz::Endpoint NationalSefazPort::endpointFor(const QString& state, const QString& environment) const
{
    return d->table.resolve(state, environment, d->config.contingency);
}

SefazAnswer NationalSefazPort::query(Database&, const SefazQuery& q)
{
    const QString environment = q.environment.trimmed(), state = q.state.trimmed().toUpper();
    const QString key = q.accessKey.trimmed(), stateCode = q.stateCode.trimmed(), company = q.company.trimmed();
    if (environment != "1" && environment != "2")
        return refused(
            QString("Ambiente da NF-e inválido: \"%1\" (1 produção, 2 homologação).").arg(environment.left(10)));
    const QString ibge = sefaz::ibgeCode(state);
    if (ibge.isEmpty())
        return refused(QString("UF da inscrição estadual inválida: \"%1\".").arg(state.left(10)));
    if (stateCode != ibge)
        return refused(QString("O código IBGE \"%1\" não é o da UF %2 (%3).").arg(stateCode.left(10), state, ibge));
    if (const QString problem = sefaz::accessKeyProblem(key, ibge); !problem.isEmpty())
        return refused(problem);

    sefaz::Endpoint e;
    try {
        e = endpointFor(state, environment);
    } catch (const core::Error& err) {
        return refused(err.message());
    }
    const auto co = d->companies.find(company);
    if (co == d->companies.end())
        return refused(
            QString("A empresa %1 não tem certificado digital configurado no servidor.").arg(company.left(10)));
    const QString serial = normalisedSerial(q.certificateSerial.trimmed());
    if (serial.isEmpty() || (serial != co->second->serialHex && serial != co->second->serialDec))
        return refused(
            QString("O certificado digital configurado para a empresa %1 (série %2) não é o da inscrição estadual "
                    "(série \"%3\").")
                .arg(company, co->second->serialHex, q.certificateSerial.trimmed().left(50)));
    if (const QString out = d->outMessage(e); !out.isEmpty())
        return refused(out);

    const Exchange x = d->exchange(*co->second, e, consSitNFeEnvelope(environment, key));
    d->record(e, x.outcome == Outcome::ConnectFailed || x.outcome == Outcome::Failed);
    if (x.outcome != Outcome::Answer)
        return refused(x.why);
    const SefazAnswer a = readConsSitNFeAnswer(x.body, environment, key, e.authoriser);
    if (x.status != 200 && a.answered)
        return refused(QString("O autorizador %1 respondeu HTTP %2.").arg(e.authoriser).arg(x.status));
    if (x.status != 200 && a.message.startsWith("Resposta malformada"))
        return refused(QString("O autorizador %1 respondeu HTTP %2 sem uma resposta SOAP legível.")
                           .arg(e.authoriser)
                           .arg(x.status));
    return a;
}

std::shared_ptr<SefazPort> makeSefazPort(const QString& kind, const QString& configFile)
{
    if (kind == "simulador")
        return std::make_shared<StoredAnswerSimulator>();
    if (kind != "nacional")
        throw core::Error(QString("--sefaz deve ser simulador ou nacional, não \"%1\".").arg(kind));
    if (configFile.isEmpty())
        throw core::Error("--sefaz nacional precisa de --sefaz-config ARQUIVO.");
    return std::make_shared<NationalSefazPort>(sefaz::NationalConfig::load(configFile));
}

} // namespace server
