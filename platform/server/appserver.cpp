#include "appserver.h"

#include "cancelnota.h"

#include <core/datapacket.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <map>
#include <cstdio>

namespace server {

namespace {

std::string raisedBody(const QString& message)
{
    return QJsonDocument(QJsonObject{{"status", "raised"}, {"message", message}}).toJson(QJsonDocument::Compact).toStdString();
}

// Splits the request's top-level object into raw member values without
// decoding them, so that the arguments (possibly a large packet) are read
// once, by the packet codec.
class Envelope {
public:
    explicit Envelope(const std::string& body) : p_(body.data()), end_(body.data() + body.size()) {}

    std::map<QString, QByteArray> members()
    {
        std::map<QString, QByteArray> out;
        ws();
        if (peek() != '{') fail("o corpo deve ser um objeto JSON");
        ++p_;
        ws();
        if (peek() == '}') {
            ++p_;
        } else {
            for (;;) {
                ws();
                const char* ks = p_;
                skipString();
                const QString key = QString::fromUtf8(ks + 1, int(p_ - ks - 2));
                ws();
                expect(':');
                ws();
                const char* vs = p_;
                skipValue(0);
                if (!out.emplace(key, QByteArray(vs, qsizetype(p_ - vs))).second)
                    fail(QString("membro \"%1\" repetido").arg(key));
                ws();
                const char c = next();
                if (c == '}') break;
                if (c != ',') fail("esperado ',' ou '}'");
            }
        }
        ws();
        if (p_ != end_) fail("dados a mais após o objeto");
        return out;
    }

private:
    [[noreturn]] void fail(const QString& why)
    {
        throw BadRequest(QString("Corpo da chamada não é JSON válido: %1.").arg(why));
    }
    char peek() const { return p_ < end_ ? *p_ : '\0'; }
    char next()
    {
        if (p_ >= end_) fail("fim inesperado");
        return *p_++;
    }
    void expect(char c)
    {
        if (next() != c) fail(QString("esperado '%1'").arg(c));
    }
    void ws()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }
    void skipString()
    {
        expect('"');
        for (;;) {
            const char c = next();
            if (c == '"') return;
            if (c == '\\') next();
            else if (static_cast<unsigned char>(c) < 0x20) fail("caractere de controle em texto");
        }
    }
    void skipValue(int depth)
    {
        if (depth > 64) fail("aninhamento profundo demais");
        const char c = peek();
        if (c == '"') return skipString();
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++p_;
            ws();
            if (peek() == close) { ++p_; return; }
            for (;;) {
                ws();
                if (c == '{') {
                    skipString();
                    ws();
                    expect(':');
                    ws();
                }
                skipValue(depth + 1);
                ws();
                const char d = next();
                if (d == close) return;
                if (d != ',') fail("esperado ',' na lista");
            }
        }
        const char* s = p_;
        while (p_ < end_ && (std::isalnum(static_cast<unsigned char>(*p_)) || *p_ == '-' || *p_ == '+' || *p_ == '.')) ++p_;
        if (p_ == s) fail("valor esperado");
    }

    const char* p_;
    const char* end_;
};

CallRequest parseRequest(const std::string& body, QString& label)
{
    const std::map<QString, QByteArray> m = Envelope(body).members();
    auto text = [&](const char* name) {
        auto it = m.find(name);
        if (it == m.end()) throw BadRequest(QString("Chamada sem \"%1\".").arg(name));
        core::Variant v;
        try {
            v = core::codec::decodeVariant(it->second);
        } catch (const core::Error& e) {
            throw BadRequest(QString("\"%1\" malformado: %2").arg(name, e.message()));
        }
        if (v.type() != core::Variant::Type::String) throw BadRequest(QString("\"%1\" deve ser um texto.").arg(name));
        return v.toString();
    };
    CallRequest r;
    r.server = text("server");
    r.method = text("method");
    label = r.server + "." + r.method;
    for (const auto& [name, raw] : m) {
        if (name == "server" || name == "method" || name == "args" || name == "byRef") continue;
        // Other members are ignored, but must still be well-formed JSON.
        if (QJsonDocument::fromJson("[" + raw + "]").isNull())
            throw BadRequest(QString("Membro \"%1\" malformado.").arg(name));
    }
    auto args = m.find("args");
    if (args == m.end() || !args->second.startsWith('['))
        throw BadRequest("Chamada sem \"args\" (lista).");
    core::Variant decoded;
    try {
        decoded = core::codec::decodeVariant(args->second);
    } catch (const core::Error& e) {
        throw BadRequest(QString("Argumentos malformados: %1").arg(e.message()));
    }
    r.args = decoded.elements();
    auto byRef = m.find("byRef");
    if (byRef != m.end()) {
        const QJsonDocument d = QJsonDocument::fromJson(byRef->second);
        if (!d.isArray()) throw BadRequest("\"byRef\" deve ser uma lista de valores lógicos.");
        for (const QJsonValue& b : d.array()) {
            if (!b.isBool()) throw BadRequest("\"byRef\" deve ser uma lista de valores lógicos.");
            r.byRef << b.toBool();
        }
    }
    return r;
}

std::string okBody(const CallResult& r)
{
    std::string out = "{\"status\":\"ok\",\"payload\":";
    out += core::codec::encodeVariant(r.payload).toStdString();
    out += ",\"refs\":[";
    for (int i = 0; i < r.refs.size(); ++i) {
        if (i) out += ',';
        out += core::codec::encodeVariant(r.refs[i]).toStdString();
    }
    out += "]}";
    return out;
}

} // namespace

AppServer::AppServer(Database& db, ServerOptions options, std::shared_ptr<SefazPort> port)
    : db_(db), opt_(std::move(options)), http_(std::make_unique<httplib::Server>())
{
    registerCancelNota(registry_);
    registerSituacao(registry_, port ? port : std::make_shared<StoredAnswerSimulator>());

    const int threads = opt_.threads;
    http_->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    http_->set_tcp_nodelay(true);
    http_->set_keep_alive_max_count(100000);
    http_->set_keep_alive_timeout(5);
    http_->set_read_timeout(30);
    http_->set_write_timeout(30);
    http_->set_payload_max_length(opt_.maxBody);

    http_->Post("/call", [this](const httplib::Request& req, httplib::Response& res) {
        const HttpAnswer a = handleCall(req.body);
        res.status = a.status;
        res.set_content(a.body, "application/json");
    });
    http_->Get("/health", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("server")) {
            const bool known = registry_.hasServer(QString::fromStdString(req.get_param_value("server")));
            res.status = known ? 200 : 404;
            res.set_content(known ? R"({"status":"ok"})" : raisedBody("Servidor desconhecido."), "application/json");
            return;
        }
        QJsonArray names;
        for (const QString& n : registry_.servers()) names << n;
        res.set_content(QJsonDocument(QJsonObject{{"status", "ok"}, {"servers", names}}).toJson(QJsonDocument::Compact).toStdString(),
                        "application/json");
    });
    http_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        QString msg = "Falha interna do servidor.";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            msg = QString("Falha interna do servidor: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
        }
        res.status = 500;
        res.set_content(raisedBody(msg), "application/json");
    });
    http_->set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        QString msg;
        switch (res.status) {
        case 413: msg = "Corpo da chamada grande demais."; break;
        case 404: msg = QString("Caminho desconhecido: %1").arg(QString::fromStdString(req.path)); break;
        case 400: msg = "Requisição HTTP malformada."; break;
        default: msg = QString("Erro HTTP %1.").arg(res.status);
        }
        res.set_content(raisedBody(msg), "application/json");
    });
}

AppServer::~AppServer()
{
    stop();
}

void AppServer::bind()
{
    const std::string host = opt_.listen.toStdString();
    if (opt_.port == 0)
        port_ = http_->bind_to_any_port(host);
    else
        port_ = http_->bind_to_port(host, opt_.port) ? opt_.port : -1;
    if (port_ <= 0)
        throw core::Error(QString("Não foi possível escutar em %1:%2.").arg(opt_.listen).arg(opt_.port));
}

void AppServer::run()
{
    http_->listen_after_bind();
}

void AppServer::stop()
{
    if (http_) http_->stop();
}

HttpAnswer AppServer::handleCall(const std::string& body)
{
    const auto t0 = std::chrono::steady_clock::now();
    QString label = "?";
    QString outcome;
    HttpAnswer a;
    try {
        const CallRequest req = parseRequest(body, label);
        const CallResult r = registry_.call(db_, req);
        a.body = okBody(r);
        outcome = "ok";
    } catch (const BadRequest& e) {
        a = {400, raisedBody(e.message())};
        outcome = "bad request: " + e.message();
    } catch (const NotFound& e) {
        a = {404, raisedBody(e.message())};
        outcome = "not found: " + e.message();
    } catch (const InternalError& e) {
        a = {500, raisedBody(e.message())};
        outcome = "internal error: " + e.message();
    } catch (const core::Error& e) {
        a = {200, raisedBody(e.message())};
        outcome = "raised: " + e.message();
    } catch (const std::exception& e) {
        a = {500, raisedBody(QString("Falha interna do servidor: %1").arg(QString::fromUtf8(e.what())))};
        outcome = QString("internal error: %1").arg(QString::fromUtf8(e.what()));
    } catch (...) {
        a = {500, raisedBody("Falha interna do servidor.")};
        outcome = "internal error";
    }
    if (opt_.log) {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        const QByteArray line = QString("%1 %2 %3 ms %4\n")
                                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), label)
                                    .arg(ms, 0, 'f', 1)
                                    .arg(outcome.left(300))
                                    .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
    return a;
}

} // namespace server
