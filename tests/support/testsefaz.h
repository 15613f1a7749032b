#pragma once
// A stand-in state authority on loopback for the NF-e status query: HTTPS
// with a test CA that demands a client certificate of that CA, checks every
// request's SOAP 1.2 envelope, namespaces and consSitNFe against the
// published layout, and answers from recorded answers in that layout, chosen
// by the invoice number (nNF) inside the access key. `SefazRig` puts the
// authority, the certificates and the server's configuration files together.

#include "testca.h"

#include <server/sefazconfig.h>

#include <QDir>
#include <QFile>
#include <QString>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <openssl/ssl.h>

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace testsupport {

/// What the authority answers, by the nNF of the key asked about.
enum class AuthorityCase {
    Unknown = 0,       ///< 217, the default for any other number
    Authorised = 1,    ///< 100 with its protocol
    Denied = 2,        ///< 302 with its protocol
    Cancelled = 3,     ///< 101 with the cancellation event
    CancelledKept = 4, ///< 100 with a registered cancellation event (135)
    Rejected = 5,      ///< 656, a rejection of the query itself
    SoapFault = 6,     ///< a SOAP 1.2 fault, HTTP 500
    Malformed = 7,     ///< XML cut off
    TooLarge = 8,      ///< 2 MB of answer
    TooSlow = 9,       ///< answers after `slowMs`
    Doctype = 10,      ///< a DTD declaring an external entity
    OtherKey = 11,     ///< a well-formed answer about another key
};

/// A valid access key: state code, invoice number, check digit.
inline QString nfeKey(const QString& cUF, int nNF, const QString& cnpj = "12345678000195")
{
    const QString first43 =
        cUF + "2612" + cnpj + "55" + "001" + QString("%1").arg(nNF, 9, 10, QChar('0')) + "1" + "00001234";
    return first43 + QString::number(server::sefaz::accessKeyCheckDigit(first43));
}

class TestAuthority {
public:
    std::atomic<int> handshakes{0}, resumed{0}, failedHandshakes{0}, requests{0}, badRequests{0};
    std::atomic<int> delayMs{0};   ///< before every answer
    std::atomic<int> slowMs{1500}; ///< before the TooSlow answer
    std::string lastProblem;       ///< why the last bad request was bad

    explicit TestAuthority(const TestCa& ca) : ctx_(boost::asio::ssl::context::tls_server), acceptor_(ioc_)
    {
        namespace net = boost::asio;
        ctx_.use_certificate_chain_file(ca.certFile.toStdString());
        ctx_.use_private_key_file(ca.keyFile.toStdString(), net::ssl::context::pem);
        ctx_.load_verify_file(ca.caFile.toStdString());
        ctx_.set_verify_mode(net::ssl::verify_peer | net::ssl::verify_fail_if_no_peer_cert);
        static const unsigned char sid[] = "teste-sefaz";
        SSL_CTX_set_session_id_context(ctx_.native_handle(), sid, sizeof sid - 1);
        const net::ip::tcp::endpoint at(net::ip::make_address("127.0.0.1"), 0);
        acceptor_.open(at.protocol());
        acceptor_.set_option(net::ip::tcp::acceptor::reuse_address(true));
        acceptor_.bind(at);
        acceptor_.listen();
        port_ = acceptor_.local_endpoint().port();
        accepting_ = std::thread([this] { acceptLoop(); });
    }
    ~TestAuthority()
    {
        stopping_ = true;
        {
            boost::asio::io_context wake;
            boost::asio::ip::tcp::socket s(wake);
            boost::system::error_code ec;
            s.connect({boost::asio::ip::make_address("127.0.0.1"), port_}, ec);
        }
        accepting_.join();
        std::list<std::thread> threads;
        {
            std::lock_guard l(m_);
            for (int fd : fds_)
                ::shutdown(fd, SHUT_RDWR);
            threads.swap(threads_);
        }
        for (auto& t : threads)
            t.join();
    }
    unsigned short port() const { return port_; }
    /// Closes every open connection, as an authority does with idle ones.
    void dropConnections()
    {
        std::lock_guard l(m_);
        for (int fd : fds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    QString url() const { return QString("https://127.0.0.1:%1/ws/NFeConsultaProtocolo4.asmx").arg(port_); }

private:
    using tcp = boost::asio::ip::tcp;

    void acceptLoop()
    {
        for (;;) {
            tcp::socket s(ioc_);
            boost::system::error_code ec;
            acceptor_.accept(s, ec);
            if (stopping_)
                return;
            if (ec)
                continue;
            std::lock_guard l(m_);
            fds_.push_back(s.native_handle());
            threads_.emplace_back([this, sock = std::move(s)]() mutable { serve(std::move(sock)); });
        }
    }

    void serve(tcp::socket sock)
    {
        namespace beast = boost::beast;
        namespace http = beast::http;
        const int fd = sock.native_handle();
        boost::asio::ssl::stream<tcp::socket> stream(std::move(sock), ctx_);
        // Forgotten before the stream closes the descriptor, which may then be reused.
        struct Forget {
            TestAuthority* a;
            int fd;
            ~Forget()
            {
                std::lock_guard l(a->m_);
                a->fds_.erase(std::remove(a->fds_.begin(), a->fds_.end(), fd), a->fds_.end());
            }
        } forget{this, fd};
        boost::system::error_code ec;
        stream.handshake(boost::asio::ssl::stream_base::server, ec);
        if (ec) {
            ++failedHandshakes;
            return;
        }
        ++handshakes;
        if (SSL_session_reused(stream.native_handle()))
            ++resumed;
        beast::flat_buffer buf;
        for (;;) {
            http::request<http::string_body> req;
            http::read(stream, buf, req, ec);
            if (ec)
                return;
            ++requests;
            http::response<http::string_body> res{http::status::ok, 11};
            res.set(http::field::content_type, "application/soap+xml; charset=utf-8");
            res.keep_alive(req.keep_alive());
            std::string environment, key;
            const std::string problem = check(req, environment, key);
            if (!problem.empty()) {
                {
                    std::lock_guard l(m_);
                    lastProblem = problem;
                }
                ++badRequests;
                res.result(http::status::bad_request);
                res.body() = fault("Requisição fora do leiaute: " + problem);
            } else {
                answer(environment, key, res);
            }
            if (delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            res.prepare_payload();
            http::write(stream, res, ec);
            if (ec || !req.keep_alive())
                return;
        }
    }

    static std::string local(const pugi::xml_node& n)
    {
        const std::string name = n.name();
        const auto c = name.find(':');
        return c == std::string::npos ? name : name.substr(c + 1);
    }
    static std::string ns(const pugi::xml_node& n)
    {
        const std::string name = n.name();
        const auto c = name.find(':');
        const std::string attr = c == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, c);
        for (pugi::xml_node at = n; at; at = at.parent())
            if (auto a = at.attribute(attr.c_str()))
                return a.value();
        return {};
    }
    static std::vector<pugi::xml_node> elements(const pugi::xml_node& n)
    {
        std::vector<pugi::xml_node> out;
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
            if (c.type() == pugi::node_element)
                out.push_back(c);
        return out;
    }

    /// Why the request is not a status query of the published layout; empty
    /// when it is.
    static std::string check(const boost::beast::http::request<boost::beast::http::string_body>& req,
                             std::string& environment, std::string& key)
    {
        const std::string soap = "http://www.w3.org/2003/05/soap-envelope";
        const std::string wsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/NFeConsultaProtocolo4";
        const std::string nfe = "http://www.portalfiscal.inf.br/nfe";
        if (req.method() != boost::beast::http::verb::post)
            return "método não é POST";
        const std::string type(req[boost::beast::http::field::content_type]);
        if (type.rfind("application/soap+xml", 0) != 0)
            return "Content-Type não é SOAP 1.2: " + type;
        if (type.find("action=\"" + wsdl + "/nfeConsultaNF\"") == std::string::npos)
            return "sem a ação nfeConsultaNF";
        pugi::xml_document doc;
        if (!doc.load_buffer(req.body().data(), req.body().size()))
            return "XML inválido";
        const pugi::xml_node env = doc.document_element();
        if (local(env) != "Envelope" || ns(env) != soap)
            return "não é um envelope SOAP 1.2";
        const auto envKids = elements(env);
        if (envKids.size() != 1 || local(envKids[0]) != "Body" || ns(envKids[0]) != soap)
            return "envelope sem Body único";
        const auto body = elements(envKids[0]);
        if (body.size() != 1 || local(body[0]) != "nfeDadosMsg" || ns(body[0]) != wsdl)
            return "Body sem nfeDadosMsg";
        const auto msg = elements(body[0]);
        if (msg.size() != 1 || local(msg[0]) != "consSitNFe" || ns(msg[0]) != nfe)
            return "nfeDadosMsg sem consSitNFe";
        if (std::string(msg[0].attribute("versao").value()) != "4.00")
            return "versao diferente de 4.00";
        const auto f = elements(msg[0]);
        if (f.size() != 3 || local(f[0]) != "tpAmb" || local(f[1]) != "xServ" || local(f[2]) != "chNFe")
            return "consSitNFe não é tpAmb, xServ, chNFe";
        for (const auto& e : f)
            if (ns(e) != nfe)
                return "campo fora do namespace da NF-e";
        environment = f[0].child_value();
        key = f[2].child_value();
        if (environment != "1" && environment != "2")
            return "tpAmb inválido";
        if (std::string(f[1].child_value()) != "CONSULTAR")
            return "xServ diferente de CONSULTAR";
        if (key.size() != 44 || key.find_first_not_of("0123456789") != std::string::npos)
            return "chNFe sem 44 dígitos";
        return {};
    }

    static std::string envelope(const std::string& inner)
    {
        return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" )"
               R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema"><soap:Body>)"
               R"(<nfeResultMsg xmlns="http://www.portalfiscal.inf.br/nfe/wsdl/NFeConsultaProtocolo4">)"
            + inner + "</nfeResultMsg></soap:Body></soap:Envelope>";
    }
    static std::string fault(const std::string& reason)
    {
        return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope">)"
               R"(<soap:Body><soap:Fault><soap:Code><soap:Value>soap:Receiver</soap:Value></soap:Code><soap:Reason>)"
               R"(<soap:Text xml:lang="pt-BR">)"
            + reason + "</soap:Text></soap:Reason></soap:Fault></soap:Body></soap:Envelope>";
    }
    static std::string ret(const std::string& env, const std::string& key, const std::string& cStat,
                           const std::string& xMotivo, const std::string& tail = {})
    {
        return R"(<retConsSitNFe versao="4.00" xmlns="http://www.portalfiscal.inf.br/nfe"><tpAmb>)" + env
            + "</tpAmb><verAplic>SP_NFE_PL009_V4</verAplic><cStat>" + cStat + "</cStat><xMotivo>" + xMotivo
            + "</xMotivo><cUF>" + key.substr(0, 2) + "</cUF><dhRecbto>2026-12-09T08:00:00-03:00</dhRecbto><chNFe>" + key
            + "</chNFe>" + tail + "</retConsSitNFe>";
    }
    static std::string prot(const std::string& env, const std::string& key, const std::string& cStat,
                            const std::string& xMotivo)
    {
        return R"(<protNFe versao="4.00"><infProt Id="ID135260000000001"><tpAmb>)" + env
            + "</tpAmb><verAplic>SP_NFE_PL009_V4</verAplic><chNFe>" + key
            + "</chNFe><dhRecbto>2026-12-01T10:00:00-03:00</dhRecbto><nProt>135260000000001</nProt>"
              "<digVal>q9nEKjMBpG1d0iO5pgh1Yz2fBvA=</digVal><cStat>"
            + cStat + "</cStat><xMotivo>" + xMotivo + "</xMotivo></infProt></protNFe>";
    }
    static std::string cancelEvent(const std::string& env, const std::string& key)
    {
        return R"(<procEventoNFe versao="1.00"><evento versao="1.00"><infEvento Id="ID110111)" + key
            + R"(01"><cOrgao>35</cOrgao><tpAmb>)" + env + "</tpAmb><CNPJ>12345678000195</CNPJ><chNFe>" + key
            + "</chNFe><dhEvento>2026-12-02T09:00:00-03:00</dhEvento><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento>"
              R"(<verEvento>1.00</verEvento><detEvento versao="1.00"><descEvento>Cancelamento</descEvento>)"
              "<nProt>135260000000001</nProt><xJust>Erro de digitacao no pedido</xJust></detEvento></infEvento></evento>"
              R"(<retEvento versao="1.00"><infEvento><tpAmb>)"
            + env
            + "</tpAmb><verAplic>SP_EVENTOS_PL_100</verAplic>"
              "<cOrgao>35</cOrgao><cStat>135</cStat><xMotivo>Evento registrado e vinculado a NF-e</xMotivo><chNFe>"
            + key
            + "</chNFe><tpEvento>110111</tpEvento><xEvento>Cancelamento registrado</xEvento><nSeqEvento>1</nSeqEvento>"
              "<dhRegEvento>2026-12-02T09:00:01-03:00</dhRegEvento><nProt>135260000000002</nProt></infEvento></retEvento>"
              "</procEventoNFe>";
    }

    void answer(const std::string& env, const std::string& key,
                boost::beast::http::response<boost::beast::http::string_body>& res)
    {
        switch (AuthorityCase(std::stoi(key.substr(25, 9)))) {
        case AuthorityCase::Authorised:
            res.body() = envelope(
                ret(env, key, "100", "Autorizado o uso da NF-e", prot(env, key, "100", "Autorizado o uso da NF-e")));
            break;
        case AuthorityCase::Denied:
            res.body() = envelope(ret(env, key, "302", "Uso Denegado: Irregularidade fiscal do destinatario",
                                      prot(env, key, "302", "Uso Denegado: Irregularidade fiscal do destinatario")));
            break;
        case AuthorityCase::Cancelled:
            res.body() = envelope(ret(env, key, "101", "Cancelamento de NF-e homologado",
                                      prot(env, key, "100", "Autorizado o uso da NF-e") + cancelEvent(env, key)));
            break;
        case AuthorityCase::CancelledKept:
            res.body() = envelope(ret(env, key, "100", "Autorizado o uso da NF-e",
                                      prot(env, key, "100", "Autorizado o uso da NF-e") + cancelEvent(env, key)));
            break;
        case AuthorityCase::Rejected: res.body() = envelope(ret(env, key, "656", "Rejeicao: Consumo Indevido")); break;
        case AuthorityCase::SoapFault:
            res.result(boost::beast::http::status::internal_server_error);
            res.body() = fault("Server was unable to process request. Servico temporariamente indisponivel");
            break;
        case AuthorityCase::Malformed:
            res.body() = envelope(ret(env, key, "100", "Autorizado o uso da NF-e")).substr(0, 400);
            break;
        case AuthorityCase::TooLarge: res.body() = envelope(ret(env, key, "100", std::string(2 << 20, 'x'))); break;
        case AuthorityCase::TooSlow:
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
            res.body() = envelope(ret(env, key, "100", "Autorizado o uso da NF-e"));
            break;
        case AuthorityCase::Doctype:
            res.body() = R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]>)"
                + envelope(ret(env, key, "100", "&x;")).substr(38);
            break;
        case AuthorityCase::OtherKey: {
            const std::string other = nfeKey(QString::fromStdString(key.substr(0, 2)), 999).toStdString();
            res.body() = envelope(ret(env, other, "100", "Autorizado o uso da NF-e",
                                      prot(env, other, "100", "Autorizado o uso da NF-e")));
            break;
        }
        default: res.body() = envelope(ret(env, key, "217", "Rejeicao: NF-e nao consta na base de dados da SEFAZ"));
        }
    }

    boost::asio::io_context ioc_;
    boost::asio::ssl::context ctx_;
    boost::asio::ip::tcp::acceptor acceptor_;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread accepting_;
    std::mutex m_;
    std::list<std::thread> threads_;
    std::vector<int> fds_;
};

/// The authority, a company "01" with a certificate of the authority's CA
/// (serial kSerial), a company "02" whose certificate comes from another CA,
/// and the server's configuration pointing every state at the authority.
struct SefazRig {
    static constexpr const char* kSerial = "5A1F0C0001";
    static constexpr const char* kOtherSerial = "77AA01";
    TestCa ca, other;
    std::unique_ptr<TestAuthority> authority;
    QString configFile, endpointsFile, error;

    bool make(const QString& dir, const QString& extraConfig = {})
    {
        QString p12, pw, p12b, pwb;
        if (!ca.make(dir, {"IP:127.0.0.1"}, "sefaz") || !ca.makeClient(dir, "empresa01", kSerial, p12, pw)
            || !other.make(dir, {"IP:127.0.0.1"}, "outra")
            || !other.makeClient(dir, "empresa02", kOtherSerial, p12b, pwb)) {
            error = ca.error + other.error;
            return false;
        }
        authority = std::make_unique<TestAuthority>(ca);
        endpointsFile = QDir(dir).filePath("autorizadores.txt");
        QString table;
        for (const char* uf : {"RO", "AC", "AM", "RR", "PA", "AP", "TO", "MA", "PI", "CE", "RN", "PB", "PE", "AL",
                               "SE", "BA", "MG", "ES", "RJ", "SP", "PR", "SC", "RS", "MS", "MT", "GO", "DF"})
            table += QString("uf %1 TESTE TESTE-SVC\n").arg(uf);
        table +=
            QString("url TESTE 1 %1\nurl TESTE 2 %1\nurl TESTE-SVC 2 https://127.0.0.1:1/svc\n").arg(authority->url());
        configFile = QDir(dir).filePath("sefaz.conf");
        return write(endpointsFile, table)
            && write(configFile,
                     QString("endpoints = autorizadores.txt\nca_bundle = %1\n"
                             "company.01.pkcs12 = %2\ncompany.01.password_file = %3\n"
                             "company.02.pkcs12 = %4\ncompany.02.password_file = %5\n%6")
                         .arg(ca.caFile, p12, pw, p12b, pwb, extraConfig));
    }

private:
    bool write(const QString& file, const QString& text)
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            return (error = "cannot write " + file), false;
        f.write(text.toUtf8());
        return true;
    }
};

} // namespace testsupport
