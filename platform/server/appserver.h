#pragma once
// The HTTP front of the application server (wire format in docs/protocol.md):
// POST /call runs one method through the registry, GET /health answers
// liveness. Every call is logged in one line (method, duration, outcome);
// every escaped exception becomes a JSON "raised" answer with a fitting
// status code.

#include "database.h"
#include "dbpool.h"
#include "registry.h"
#include "situacao.h"

#include <QString>

#include <memory>
#include <string>

namespace httplib { class Server; }

namespace server {

struct ServerOptions {
    QString listen = "127.0.0.1";
    int port = 8211;          ///< 0 picks a free port
    int threads = 64;         ///< worker pool; keep it above the expected keep-alive connections
    int dbConnections = 8;    ///< database connections (and database worker threads) of this process
    size_t maxBody = 64u << 20;
    bool log = true;
};

struct HttpAnswer {
    int status = 200;
    std::string body;
};

class AppServer {
public:
    AppServer(Database& db, ServerOptions options, std::shared_ptr<SefazPort> port = nullptr);
    ~AppServer();

    /// Binds the listening socket; throws core::Error when it cannot.
    void bind();
    int port() const { return port_; }
    /// Serves until stop(); running calls finish before it returns.
    void run();
    /// Stops accepting; safe from any thread (and from a signal-waiting thread).
    void stop();

    /// One call, from its JSON body to the answer (used by the HTTP route).
    HttpAnswer handleCall(const std::string& body);
    const Registry& registry() const { return registry_; }

private:
    Database& db_;
    ServerOptions opt_;
    Registry registry_;
    DbPool pool_;
    std::unique_ptr<httplib::Server> http_;
    int port_ = 0;
};

} // namespace server
