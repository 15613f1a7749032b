#pragma once
// The one way tests reach a real application server as a logged-in operator:
// logIn() adds the test operator to the server's database (once; every
// branch unless told otherwise, a cheap password hash) and opens a session
// that every TNetConnection call of the process then carries. Raw HTTP
// clients put bearer(token) in their headers.
//
//     srv->bind(); ...;  testsupport::logIn(*db, srv->port());

#include <client/hostapi.h>
#include <client/httptransport.h>
#include <client/session.h>
#include <server/database.h>
#include <server/operators.h>

#include <httplib.h>

#include <QStringList>

namespace testsupport {

inline const QString kOperator = QStringLiteral("TESTE");
inline const QString kPassword = QStringLiteral("senha-de-teste");

/// Adds `code` with `password` and `branches` ("*": all) unless it exists.
inline void ensureOperator(server::Database& db, const QString& code = kOperator, const QString& password = kPassword,
                           const QStringList& branches = {QStringLiteral("*")})
{
    server::Operators ops(db, server::PasswordCost::Minimal);
    if (!ops.find(code))
        ops.add(code, QStringLiteral("Operador de teste"), password, branches);
}

/// Ensures the test operator and logs in at 127.0.0.1:port for the whole
/// process (context().operador and context().sessionToken); returns the token.
inline QString logIn(server::Database& db, int port, const QString& code = kOperator,
                     const QStringList& branches = {QStringLiteral("*")})
{
    ensureOperator(db, code, kPassword, branches);
    core::login(core::HttpTransport::shared(), QStringLiteral("127.0.0.1"), port, code, kPassword);
    return core::context().sessionToken;
}

/// Logs the test operator in at 127.0.0.1:port when a server of another
/// process already holds it (ensureOperator ran there).
inline QString logInAt(int port, const QString& code = kOperator)
{
    core::login(core::HttpTransport::shared(), QStringLiteral("127.0.0.1"), port, code, kPassword);
    return core::context().sessionToken;
}

/// A session token for a raw HTTP client, without touching the process's session.
inline QString tokenFor(server::Database& db, int port, const QString& code = kOperator,
                        const QStringList& branches = {QStringLiteral("*")})
{
    ensureOperator(db, code, kPassword, branches);
    return core::HttpTransport::shared().login(QStringLiteral("127.0.0.1"), port, code, kPassword).token;
}

inline httplib::Headers bearer(const QString& token)
{
    return {{"Authorization", "Bearer " + token.toStdString()}};
}

} // namespace testsupport
