#pragma once
// One mapping from an exception to what the caller is told and what the
// call log keeps. Refusals meant for the caller keep their texts; a failure
// of the server itself (an InternalError, any other exception) shows the
// caller only "Falha interna do servidor (referência R)." while the log line
// holds R with the detail (driver text, statement).

#include <QString>

#include <exception>
#include <string>

namespace server {

struct Fault {
    int status = 500;  ///< the HTTP status of a whole answer
    QString message;   ///< what the caller is told
    QString outcome;   ///< the call log's outcome: its kind first ("bad request: ...", "internal error R: ...")
    QString reference; ///< set for an internal failure only
    QString detail;    ///< an internal failure's cause, for the log only
    bool internal() const { return !reference.isEmpty(); }
};

/// A server failure under a new reference: the caller's text names only the
/// reference; `detail` goes to the log under it.
Fault internalFault(const QString& detail);

/// What the log keeps of an exception: an InternalError's message and
/// detail, another exception's own text.
QString internalDetail(const std::exception& e);

/// The answer to a call that raised `e`: BadRequest 400, NotFound 404,
/// Forbidden 403, BusyError 503 (its message holds no SQL), another
/// InternalError or a non-core exception an internal fault (500), and any
/// other core::Error the method raised for the caller: 200 with its message.
Fault callFault(std::exception_ptr e);

/// The JSON body of a "raised" answer, the message cut to a bounded length.
std::string raisedBody(const QString& message);

} // namespace server
