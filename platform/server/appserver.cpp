#include "appserver.h"

#include "cancelnota.h"

#include <core/datapacket.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <chrono>
#include <cstdio>

namespace server {

namespace {

std::string raisedBody(const QString& message)
{
    return QJsonDocument(QJsonObject{{"status", "raised"}, {"message", message}}).toJson(QJsonDocument::Compact).toStdString();
}

CallRequest parseRequest(const std::string& body, QString& label)
{
    // Split the envelope first, then decode each value once with the packet
    // codec: the arguments may hold a large packet. The body outlives the
    // raw slices, which are views into it.
    const QByteArray bytes = QByteArray::fromRawData(body.data(), qsizetype(body.size()));
    core::codec::RawObject m;
    try {
        m = core::codec::splitObject(bytes);
    } catch (const core::Error& e) {
        throw BadRequest(QString("Corpo da chamada não é JSON válido: %1.").arg(e.message()));
    }
    auto text = [&](QStringView name) {
        const QByteArray* raw = m.find(name);
        if (!raw) throw BadRequest(QString("Chamada sem \"%1\".").arg(name));
        core::Variant v;
        try {
            v = core::codec::decodeVariant(*raw);
        } catch (const core::Error& e) {
            throw BadRequest(QString("\"%1\" malformado: %2").arg(name, e.message()));
        }
        if (v.type() != core::Variant::Type::String) throw BadRequest(QString("\"%1\" deve ser um texto.").arg(name));
        return v.toString();
    };
    CallRequest r;
    r.server = text(u"server");
    r.method = text(u"method");
    label = r.server + "." + r.method;
    // Other members are ignored; splitObject has already checked that they are well-formed JSON.
    const QByteArray* args = m.find(u"args");
    if (!args || !args->startsWith('['))
        throw BadRequest("Chamada sem \"args\" (lista).");
    // Every failure below is the caller's: a core::Error must not reach
    // handleCall, which would answer it as an error raised by the method.
    auto elements = [](const QByteArray& list, const QString& why) {
        try {
            return core::codec::splitArray(list);
        } catch (const core::Error& e) {
            throw BadRequest(why + " " + e.message());
        }
    };
    const std::vector<QByteArray> items = elements(*args, "Argumentos malformados:");
    r.args.reserve(qsizetype(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        try {
            r.args.append(core::codec::decodeVariant(items[i]));
        } catch (const core::Error& e) {
            throw BadRequest(QString("Argumento %1 malformado: %2").arg(i + 1).arg(e.message()));
        }
    }
    if (const QByteArray* byRef = m.find(u"byRef")) {
        const QString wrong = "\"byRef\" deve ser uma lista de valores lógicos.";
        if (!byRef->startsWith('[')) throw BadRequest(wrong);
        for (const QByteArray& b : elements(*byRef, wrong)) {
            if (b == "true") r.byRef << true;
            else if (b == "false") r.byRef << false;
            else throw BadRequest(wrong);
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
    : db_(db), opt_(std::move(options)), pool_(opt_.dbConnections), http_(std::make_unique<httplib::Server>())
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
        CallResult r;
        pool_.run([&] { r = registry_.call(db_, req); });  // on a thread owning one of the process's connections
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
        outcome = "internal error: " + e.message() + (e.detail().isEmpty() ? QString() : " | " + e.detail());
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
