#pragma once
// Connection to a named application server. Calls are synchronous for the
// caller: while one runs the window keeps painting (a local event loop that
// ignores user input) and the progress animation moves.

#include "hostapi.h"
#include <core/variant.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace core {

/// One positional argument, by value or by reference. A by-reference
/// argument points at the caller's variable; the server's value for it is
/// written back after the call.
class Arg {
public:
    Arg(Variant v) : value_(std::move(v)) { }
    Arg(const QString& s) : value_(s) { }
    Arg(const char* s) : value_(QString::fromUtf8(s)) { }
    static Arg ref(Variant& var)
    {
        Arg a{Variant{}};
        a.ref_ = &var;
        return a;
    }
    bool byRef() const { return ref_ != nullptr; }
    const Variant& value() const { return ref_ ? *ref_ : value_; }
    Variant* target() const { return ref_; }

private:
    Variant value_;
    Variant* ref_ = nullptr;
};

/// A method call as it travels.
struct CallRequest {
    QString server;
    QString method;
    std::vector<Variant> args;
    std::vector<bool> byRef;
    QString token = {}; ///< the session the call runs in (Authorization: Bearer)
};

/// What a successful login gives.
struct LoginAnswer {
    QString token;
    QString operador;    ///< the operator code as the server knows it
    QString nome;        ///< the operator's name
    qint64 expira = 0;   ///< end of the session, seconds since the epoch (UTC)
    QStringList filiais; ///< the operator's branches; "*" alone: every branch; empty: not told
};

/// A method's answer: the result (payload or failed result) and the
/// by-reference values the server left. A method that raised an error is
/// thrown as core::ServerError by the transport instead.
struct CallResponse {
    ServerResult result;
    std::vector<Variant> refs; ///< one per argument; Null for by-value ones
};

/// How calls travel. The HTTP transport talks to the application server;
/// tests install an in-process fake (FakeTransport in fakeserver.h).
class Transport {
public:
    virtual ~Transport() = default;
    /// Checks that a server answers at host:port for `server`; throws
    /// core::ConnectionError with a clear text when none does.
    virtual void connect(const QString& host, int port, const QString& server) = 0;
    /// Performs one call; throws core::ServerError for an error raised by the
    /// method and core::ConnectionError when no answer came (timeout, refused,
    /// dropped, malformed answer).
    virtual CallResponse call(const QString& host, int port, const CallRequest& req) = 0;
    /// Opens a session; throws core::SessionError when operator or password
    /// is refused, core::ConnectionError when no answer came. The base class
    /// has no server to ask and refuses.
    virtual LoginAnswer login(const QString& host, int port, const QString& operador, const QString& senha);
    /// Ends a session; failures are ignored (the session expires anyway).
    virtual void logout(const QString& host, int port, const QString& token);
};

/// The transport new connections use: HTTP unless a test installed another.
/// Not owned; nullptr restores HTTP.
void setDefaultTransport(Transport* t);
Transport& defaultTransport();

class TNetConnection : public QObject {
    Q_OBJECT
public:
    explicit TNetConnection(const QString& objectName = {}, QObject* parent = nullptr);

    QString ServerName;
    QString Host;
    int Port = 0;
    /// When true, a failed result is thrown as core::ServerError instead of
    /// being returned; errors raised by the method are thrown either way.
    bool ThrowException = false;
    /// Runs just before connecting (the screen sets Host and Port there).
    std::function<void(TNetConnection&)> BeforeConnect;

    /// Runs BeforeConnect, then checks the server answers; throws
    /// core::ConnectionError when none does and stays disconnected.
    void Connect();
    void Disconnect();
    bool Connected() const { return connected_; }

    /// Calls a method by name with positional arguments. Not connected is a
    /// core::ConnectionError. Returns the result for CheckResultServ.
    ServerResult call(const QString& method, std::vector<Arg> args);

    /// The session token calls carry; empty: the process's (context().sessionToken).
    QString Token;

    /// Replaces the transport of this connection (not owned).
    void setTransport(Transport* t) { transport_ = t; }

private:
    Transport& transport() const;
    bool connected_ = false;
    Transport* transport_ = nullptr;
};

} // namespace core
