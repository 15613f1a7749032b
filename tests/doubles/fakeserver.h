#pragma once
// In-process stand-in for the application servers, for tests of the screens.
//
// Answers are registered per (server, method): a handler, answers queued to
// be consumed in order, and a default answer. Lookup order for a call is:
// the next queued answer, else the handler, else the default. A call with
// none of them is recorded and throws core::ServerError("unexpected call
// <method>"). An empty server name in a registration matches every server.
// Every call is recorded (host, port, server, method, arguments, by-reference
// flags) for the test to inspect.

#include <client/netconnection.h>

#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace core {

class FakeTransport : public Transport {
public:
    /// Returns the answer or throws (core::ServerError for a raised error).
    using Handler = std::function<CallResponse(const CallRequest&)>;

    /// A scripted answer.
    struct Answer {
        enum class Kind { Payload, Failed, Raised };
        Kind kind = Kind::Payload;
        Variant payload;
        QString message;
        /// By-reference values by argument position; positions not given
        /// (and all of them when empty) echo the argument sent.
        std::map<int, Variant> refs;
    };
    static Answer payload(Variant v, std::map<int, Variant> refs = {});
    static Answer failed(const QString& message);
    static Answer raised(const QString& message);

    struct Record {
        QString host;
        int port = 0;
        CallRequest request;
        const QString& method() const { return request.method; }
        const Variant& arg(int i) const { return request.args.at(size_t(i)); }
    };

    void on(const QString& server, const QString& method, Handler h);
    void enqueue(const QString& server, const QString& method, Answer a);
    void setDefault(const QString& server, const QString& method, Answer a);
    /// Forgets every registration and record.
    void reset();

    /// Makes Connect fail with a ConnectionError (the given text, or a default one).
    void refuseConnect(bool refuse, const QString& text = {});

    std::vector<Record> calls() const;
    std::vector<Record> callsTo(const QString& method) const;
    int count(const QString& method) const { return int(callsTo(method).size()); }
    /// (host, port, server) of every Connect.
    std::vector<Record> connects() const;
    /// Queued answers not yet consumed, over all methods.
    int pendingAnswers() const;

    void connect(const QString& host, int port, const QString& server) override;
    CallResponse call(const QString& host, int port, const CallRequest& req) override;

    /// Turns a scripted answer into the response a call gets (or throws).
    static CallResponse respond(const Answer& a, const CallRequest& req);

private:
    struct Script {
        std::deque<Answer> queue;
        Handler handler;
        std::optional<Answer> fallback;
    };
    using Key = std::pair<QString, QString>;
    Script* find(const QString& server, const QString& method);

    mutable std::mutex mutex_;
    std::map<Key, Script> scripts_;
    std::vector<Record> calls_;
    std::vector<Record> connects_;
    bool refuse_ = false;
    QString refuseText_;
};

/// Installs a transport as the default for new and existing connections
/// without a transport of their own; restores the previous one on destruction.
class TransportInstall {
public:
    explicit TransportInstall(Transport& t);
    ~TransportInstall();
    TransportInstall(const TransportInstall&) = delete;
    TransportInstall& operator=(const TransportInstall&) = delete;

private:
    Transport* previous_;
};

/// A FakeTransport installed as the default for its lifetime.
class FakeServerScope : public FakeTransport {
public:
    FakeServerScope() : install_(*this) { }

private:
    TransportInstall install_;
};

} // namespace core
