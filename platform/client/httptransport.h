#pragma once
// HTTP/JSON transport of server calls (wire format in docs/protocol.md).
//
// Each exchange runs on a worker thread. When the caller is the application's
// main thread, it spins a local event loop that excludes user input until the
// exchange ends: windows keep painting and animations move, but the user
// cannot act. Without a QCoreApplication (or off the main thread) the exchange
// simply runs in the caller's thread. Idle keep-alive connections are reused
// per host:port.
//
// A host written "https://name" is reached over TLS: the server's
// certificate must chain to the configured authority (setCaFile; the
// system's authorities when none) and name the host. Nothing turns the check
// off.

#include "netconnection.h"

#include <QByteArray>

#include <chrono>
#include <memory>

namespace core {

namespace codec {
class EnvelopeReader;
} // namespace codec

class HttpTransport : public Transport {
public:
    HttpTransport();
    ~HttpTransport() override;
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    /// The process-wide instance used when no other transport is installed.
    /// Its read timeout comes from EXP_CALL_TIMEOUT (seconds) and its
    /// certificate authority from EXP_SERVER_CA (a PEM file) when set.
    static HttpTransport& shared();

    /// Time to establish a TCP connection (default 3 s).
    void setConnectTimeout(std::chrono::milliseconds t);
    /// Longest a call may take from sending to its last answer byte (default
    /// 120 s): past it the socket is closed, however slowly bytes still come.
    void setReadTimeout(std::chrono::milliseconds t);
    std::chrono::milliseconds readTimeout() const;
    /// PEM file of the authority that signs the servers' certificates (https hosts).
    void setCaFile(const QString& path);
    QString caFile() const;
    /// Largest answer body read (default kDefaultMaxAnswer); a longer or
    /// encoded (compressed) answer fails the call unread.
    void setMaxAnswer(std::size_t bytes);
    static constexpr std::size_t kDefaultMaxAnswer = std::size_t(160) << 20;

    void connect(const QString& host, int port, const QString& server) override;
    CallResponse call(const QString& host, int port, const CallRequest& req) override;
    LoginAnswer login(const QString& host, int port, const QString& operador, const QString& senha) override;
    void logout(const QString& host, int port, const QString& token) override;

    /// Wire helpers, public for tests: the request body of a call, and the
    /// decoding of an answer (throws ServerError / ConnectionError as a call does).
    static QByteArray encodeRequest(const CallRequest& req);
    static CallResponse decodeResponse(int httpStatus, const QByteArray& body, const CallRequest& req);

    /// Reads one answer while its bytes arrive: the rows of a packet payload
    /// are decoded as they come, the rest when the answer is complete. An
    /// answer found malformed at any point is refused whole.
    class AnswerReader {
    public:
        explicit AnswerReader(const CallRequest& req);
        ~AnswerReader();
        /// The next bytes; false when the answer is already known to be
        /// malformed (reading may stop; finish() reports why).
        bool feed(const char* data, qsizetype size);
        qint64 size() const;
        /// The call's result from the whole answer; throws ServerError or
        /// ConnectionError as a call does.
        CallResponse finish(int httpStatus);

    private:
        const CallRequest& req_;
        std::unique_ptr<codec::EnvelopeReader> reader_;
        QString fault_;
    };

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace core
