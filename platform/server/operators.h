#pragma once
// Operator accounts and their sessions, kept in the server's database so that
// every server instance on the same database knows the same operators and
// accepts the same sessions.
//
// Passwords are stored as libsodium Argon2id hash strings (the cost is part of
// the string). A session is a random 256-bit token handed to the client once;
// the database holds only its BLAKE2b digest, with the operator, the caller's
// address and the expiry. Disabling an operator, changing their password or
// logging out deletes their sessions, so the next call is refused at once.

#include "database.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace server {

/// A login or session refused: HTTP 401.
class Unauthorized : public core::Error {
public:
    using core::Error::Error;
};
/// The session's operator may not do what the call asks: HTTP 403.
class Forbidden : public core::Error {
public:
    using core::Error::Error;
};

/// Argon2id cost of new password hashes. Interactive is libsodium's
/// recommended minimum for logins (64 MiB); Minimal exists for tests only.
enum class PasswordCost { Interactive, Minimal };

struct OperatorInfo {
    QString code;
    QString name;
    bool active = true;
    QStringList branches;    ///< "*" stands for every branch
    bool mustChange = false; ///< a first password, to be changed at the next log-in
};

/// One operator of a bulk import: code, name and branches as the import
/// file gives them, and the first password made for them.
struct NewOperator {
    int line = 0; ///< where the file names it, for messages
    QString code;
    QString name;
    QStringList branches;
    QString password;
};

/// Who is calling: the operator a session belongs to, what they may use and
/// where the call came from.
struct Session {
    QString operatorCode;
    QString operatorName;
    QSet<QString> branches;
    bool allBranches = false;
    QString address;         ///< the caller's IP address
    bool mustChange = false; ///< only a password change (or log-out) is allowed until it is cleared
    bool mayUse(const QString& branch) const { return allBranches || branches.contains(branch); }
};

/// What the database holds for a log-in: the account's hash, name and state.
struct StoredLogin {
    bool found = false;
    bool active = false;
    QString name;
    QByteArray hash;         ///< the Argon2id hash string
    bool mustChange = false; ///< a first password, to be changed before anything else
};

struct LoginResult {
    QString token;
    QString operatorName;
    qint64 expiresAt = 0;    ///< seconds since the epoch, UTC
    bool mustChange = false; ///< "trocarSenha" in the log-in answer
    QStringList branches;    ///< the operator's branches in code order; "*" alone: every branch
};

class Operators {
public:
    explicit Operators(Database& db, PasswordCost cost = PasswordCost::Interactive);

    /// Account management (the `exp_appserver operator` commands); each
    /// throws core::Error with a clear text (unknown code, weak password, ...).
    void add(const QString& code, const QString& name, const QString& password, const QStringList& branches);
    /// Sets the password and clears the must-change flag; ends the operator's sessions.
    void setPassword(const QString& code, const QString& password);
    /// Creates every operator of `list` with its first password, each marked
    /// to change it at the first log-in, in one transaction: an invalid or
    /// duplicate code (in the list or in the database) refuses the whole list
    /// with a message naming its line.
    void importMany(const QList<NewOperator>& list);
    void disable(const QString& code);
    void enable(const QString& code);
    void setBranches(const QString& code, const QStringList& branches);
    std::optional<OperatorInfo> find(const QString& code);

    /// Checks operator and password; on success opens a session lasting
    /// `lifetimeSecs`. Throws Unauthorized with one text for every refusal, so
    /// the answer does not tell which operators exist.
    LoginResult login(const QString& code, const QString& password, const QString& address, qint64 lifetimeSecs);
    /// The three steps of login(), for a server that runs the password check
    /// apart from the database: the account (nothing for an unknown or
    /// malformed code), the check (against a fixed dummy hash of the same
    /// cost when the code is unknown, so that it costs the same), and the
    /// session. verify() touches no database.
    StoredLogin stored(const QString& code);
    bool verify(const StoredLogin& account, const QString& password) const;
    LoginResult openSession(const QString& code, const QString& name, const QString& address, qint64 lifetimeSecs,
                            bool mustChange = false);
    /// Whether `code` could name an operator at all (characters and length).
    static bool plausibleCode(const QString& code);
    static const QString& refusedText();

    /// The live session of a token, or nothing (unknown, expired, or the
    /// operator disabled).
    std::optional<Session> session(const QString& token, const QString& address);
    /// Ends the token's session; an unknown token is no error.
    void logout(const QString& token);
    /// The operator of the session `token` changes their own password: the
    /// current one must match (Unauthorized otherwise, with the login's
    /// one text), the new one passes the same rules as any password and
    /// differs from the current one (core::Error with the reason). In one
    /// transaction: the new hash is stored, the must-change flag (where the
    /// database has it) is cleared, and every other session of the operator
    /// ends; the caller's own session goes on. Returns the sessions ended.
    /// Stores the operator's new password hash (checked and made by the caller,
    /// off the database workers), clears the first-password flag and ends the
    /// operator's other sessions in one transaction; returns how many ended.
    int changeOwnPassword(const QString& token, const QString& code, const QString& newHash);

    static constexpr int kMinPassword = 8;
    static constexpr int kMaxPassword = 256;
    static constexpr int kMaxCode = 20;

    /// The Argon2id hash of a new password, after the rules of every password
    /// (throws core::Error naming the rule broken).
    QString hash(const QString& password) const;

private:
    Database& db_;
    PasswordCost cost_;
};

/// Branch codes from "0001,0002" or "*" (all), checked as 1 to 4 digits or "*".
QStringList parseBranchList(const QString& text);

/// The operators of an import file: one a line, "code; name; branches"
/// (branches as parseBranchList reads them, also separated by spaces), UTF-8;
/// blank lines and lines starting with '#' are skipped. Each gets a random
/// first password. Throws core::Error naming the line of the first bad one
/// (bad code, missing name or branches, a code twice).
QList<NewOperator> parseOperatorFile(const QByteArray& content);
/// A random password of `length` letters and digits (no look-alikes such as 0/O, 1/l).
QString randomPassword(int length = 12);

/// The text a call gets while its session's password must be changed.
extern const QString kMustChangePassword;

} // namespace server
