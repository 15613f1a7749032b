#pragma once
// The method registry: (server name, method name) -> handler, with the
// argument count and kinds checked before the handler runs. Handlers are
// thin: they read their arguments through CallContext and return a payload.

#include "database.h"
#include "operators.h"

#include <core/datapacket.h>
#include <core/variant.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace server {

/// The request itself is wrong (arguments, body): HTTP 400.
class BadRequest : public core::Error {
public:
    using core::Error::Error;
};
/// Unknown server or method: HTTP 404.
class NotFound : public core::Error {
public:
    using core::Error::Error;
};

enum class ArgKind {
    String, ///< a string
    Date,   ///< a date, or a day count as a number; refused when not a valid day
    Packet, ///< a data packet
    PacketOrNull,
    Any,
    Branch,   ///< a string naming a branch: the session's operator must be allowed it
    Operator, ///< a string naming the operator: must be the session's operator
};

struct CallRequest {
    QString server;
    QString method;
    core::VariantArray args;
    QList<bool> byRef; ///< empty: all by value
};

/// The rows of a packet answer, produced while the answer is written.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const QList<core::FieldDef>& fields() const = 0;
    /// Reads the next row into `row`; false after the last one. Throws
    /// core::Error when a stored value cannot be read.
    virtual bool next(core::PacketRow& row) = 0;
};

struct CallResult {
    core::Variant payload;
    core::VariantArray refs; ///< one per argument, Null for by-value ones
    /// When set, the payload is the packet of these rows, still to be read.
    std::shared_ptr<RowSource> rows;
};

class CallContext {
public:
    CallContext(Database& db, const core::VariantArray& args, const Session* session = nullptr)
        : db(db), session(session), args_(args), refs_(args)
    { }
    Database& db;
    /// Who calls; null for an in-process call (tests, benchmarks), which is trusted.
    const Session* session;

    /// Refuses (Forbidden) a branch the session's operator may not use.
    void requireBranch(const QString& branch) const;
    /// Refuses every branch of a packet's `field` the operator may not use
    /// (each distinct branch looked up once).
    void requireBranches(const core::DataPacket& p, const char* field) const;
    /// The operator the audit records: the session's, else the argument.
    QString auditOperator(const QString& argument) const { return session ? session->operatorCode : argument; }
    QString address() const { return session ? session->address : QString(); }

    QString str(int i) const { return args_.at(i).isNull() ? QString() : args_.at(i).toString(); }
    core::Date date(int i) const;
    const core::DataPacket* packet(int i) const; ///< null for a Null argument
    const core::Variant& arg(int i) const { return args_.at(i); }
    /// Sets what a by-reference argument carries back.
    void setRef(int i, const core::Variant& v) { refs_[i] = v; }
    const core::VariantArray& refs() const { return refs_; }

private:
    const core::VariantArray& args_;
    core::VariantArray refs_;
};

using Handler = std::function<core::Variant(CallContext&)>;
/// A handler whose packet answer is written while its rows are read.
using StreamHandler = std::function<std::shared_ptr<RowSource>(CallContext&)>;

/// How often a call that met a transient database failure (TransientError)
/// is run again, whole: at most `attempts` runs in all, waiting a random time
/// between 0 and baseDelayMs * 2^(run - 1) before each new run, so that the
/// callers that collided do not collide again in step.
struct RetryPolicy {
    int attempts = 5;
    int baseDelayMs = 20;
};

class Registry {
public:
    void add(const QString& server, const QString& method, std::vector<ArgKind> args, Handler h);
    void addStreamed(const QString& server, const QString& method, std::vector<ArgKind> args, StreamHandler h);
    bool hasServer(const QString& server) const;
    bool hasMethod(const QString& server, const QString& method) const;
    /// The number of arguments a method takes; throws NotFound for an
    /// unknown server or method (before its arguments are read).
    int argCount(const QString& server, const QString& method) const;
    QStringList servers() const;
    /// Checks the arguments and runs the handler. Throws NotFound, BadRequest,
    /// or whatever the handler raises. The payload is complete.
    /// With a session, branch and operator arguments are checked against it
    /// (Forbidden) before the handler runs. A TransientError runs the handler
    /// again (see RetryPolicy) unless the run had already committed a
    /// transaction; when the runs are used up the caller gets an
    /// InternalError saying the database was busy.
    CallResult call(Database& db, const CallRequest& req, const Session* session = nullptr) const;
    void setRetryPolicy(RetryPolicy p) { retry_ = p; }
    const RetryPolicy& retryPolicy() const { return retry_; }
    /// As call(), but a streamed method's rows are left in `rows` (read by
    /// the caller while it writes the answer).
    CallResult callStreamed(Database& db, const CallRequest& req, const Session* session = nullptr) const;

private:
    RetryPolicy retry_;
    struct Entry {
        std::vector<ArgKind> args;
        Handler handler;
        StreamHandler streamed;
    };
    const Entry& entry(const QString& server, const QString& method) const;
    std::map<QString, std::map<QString, Entry>> servers_;
};

/// A caller's value as a message quotes it: at most `max` characters, the
/// rest cut off and marked with "...", so an answer never grows with what
/// the caller sent.
QString quoted(const QString& value, int max = 40);

/// Validates a date argument: a Date or a number of days, a whole or
/// fractional day count between 1 (31/12/1899) and 31/12/9999. Throws
/// BadRequest naming the argument.
core::Date checkedDate(const core::Variant& v, const QString& what);

} // namespace server
