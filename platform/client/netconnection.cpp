#include "netconnection.h"

#include <core/errors.h>
#include "httptransport.h"
#include "session.h"

#include <atomic>

namespace core {

namespace {
std::atomic<Transport*> g_transport{nullptr};
} // namespace

void setDefaultTransport(Transport* t)
{
    g_transport.store(t);
}

LoginAnswer Transport::login(const QString&, int, const QString&, const QString&)
{
    throw SessionError(QStringLiteral("Este meio de chamada não abre sessões."));
}

void Transport::logout(const QString&, int, const QString&) { }

Transport& defaultTransport()
{
    if (Transport* t = g_transport.load())
        return *t;
    return HttpTransport::shared();
}

TNetConnection::TNetConnection(const QString& objectName, QObject* parent) : QObject(parent)
{
    setObjectName(objectName);
}

Transport& TNetConnection::transport() const
{
    return transport_ ? *transport_ : defaultTransport();
}

void TNetConnection::Connect()
{
    connected_ = false;
    if (BeforeConnect)
        BeforeConnect(*this);
    if (ServerName.trimmed().isEmpty())
        throw ConnectionError(QStringLiteral("Conexão %1 sem nome de servidor de aplicação").arg(objectName()));
    if (Host.trimmed().isEmpty() || Port <= 0 || Port > 65535)
        throw ConnectionError(
            QStringLiteral("Endereço inválido do servidor de aplicação %1: \"%2:%3\"").arg(ServerName, Host).arg(Port),
            QStringLiteral("O endereço do servidor de aplicação na configuração (\"%1:%2\") não é "
                           "válido. Corrija a seção [Servidor] do arquivo de configuração e abra o "
                           "sistema de novo.")
                .arg(Host)
                .arg(Port));
    transport().connect(Host, Port, ServerName);
    connected_ = true;
}

void TNetConnection::Disconnect()
{
    connected_ = false;
}

ServerResult TNetConnection::call(const QString& method, std::vector<Arg> args)
{
    if (!connected_)
        throw ConnectionError(QStringLiteral("Servidor de aplicação %1 não está conectado (chamada de %2)")
                                  .arg(ServerName.isEmpty() ? objectName() : ServerName, method),
                              QStringLiteral("A tela não está ligada ao servidor de aplicação. Feche-a e abra de novo; "
                                             "se continuar, avise o suporte."));

    CallRequest req;
    req.server = ServerName;
    req.method = method;
    req.args.reserve(args.size());
    req.byRef.reserve(args.size());
    bool anyRef = false;
    for (const Arg& a : args) {
        req.args.push_back(a.value());
        req.byRef.push_back(a.byRef());
        anyRef = anyRef || a.byRef();
    }

    req.token = Token.isEmpty() ? context().sessionToken : Token;
    CallResponse resp;
    try {
        resp = transport().call(Host, Port, req);
    } catch (const SessionError& e) {
        // Refused before anything ran: after a new login the call is repeated once.
        if (!Token.isEmpty() || !offerRelogin(transport(), Host, Port, e.message()))
            throw;
        req.token = context().sessionToken;
        resp = transport().call(Host, Port, req);
    }

    // By-reference values go back into the caller's variables only when the
    // answer carries one value per argument; a short list would silently
    // shift them onto the wrong variables.
    if (anyRef && resp.result.ok) {
        if (resp.refs.size() != args.size())
            throw ConnectionError(
                QStringLiteral("Resposta inválida de %1.%2: %3 valores por referência para %4 argumentos")
                    .arg(ServerName, method)
                    .arg(resp.refs.size())
                    .arg(args.size()));
        for (size_t i = 0; i < args.size(); ++i)
            if (Variant* target = args[i].target())
                *target = std::move(resp.refs[i]);
    }

    if (!resp.result.ok && ThrowException)
        throw ServerError(resp.result.message);
    return resp.result;
}

} // namespace core
