#pragma once
// The operator's session with the application server: logging in (from a
// credentials file or through the login dialog of the host services),
// logging out, and the offer to log in again when the server ends a session.
// A successful login sets context().operador (what Operador() returns),
// context().nomeOperador and context().sessionToken, which every
// TNetConnection call then carries.

#include "netconnection.h"

#include <QString>

namespace core {

/// Logs in through `t`; throws core::SessionError when refused and
/// core::ConnectionError when the server cannot be reached.
LoginAnswer login(Transport& t, const QString& host, int port, const QString& operador, const QString& senha);
/// Ends the process's session, if any, and forgets its token.
void logout(Transport& t, const QString& host, int port);
/// The last login's answer asked for a new password ("trocarSenha"); a
/// successful changePassword clears it.
bool& mustChangePassword();
/// The logged-in operator changes their own password (POST /senha, over the
/// HTTP transport only); returns how many of their other sessions the server
/// ended; the session stays open. Throws SessionError when the current
/// password or the session is refused, core::Error with the server's reason
/// when the new one breaks a rule.
int changePassword(Transport& t, const QString& host, int port, const QString& atual, const QString& nova);
/// The HTTP exchange of changePassword, with an explicit token.
int httpChangePassword(const QString& host, int port, const QString& token, const QString& atual, const QString& nova);

/// Asks for operator and password through host().askLogin, up to `tries`
/// times, showing the previous refusal each time. True when logged in;
/// false when the user cancelled or every try was refused. A server that
/// cannot be reached ends the tries with its core::ConnectionError.
bool loginInteractively(Transport& t, const QString& host, int port, const QString& reason, int tries = 3);

/// After a call refused for its session: tells the user so and, on Yes,
/// runs loginInteractively. True when a new session is open.
bool offerRelogin(Transport& t, const QString& host, int port, const QString& refusal);

struct Credentials {
    QString operador;
    QString senha;
};
/// Reads "Operador=" and "Senha=" lines from a file only its owner may read
/// or write; throws core::Error for a missing, open or incomplete file.
Credentials readCredentialsFile(const QString& path);

} // namespace core
