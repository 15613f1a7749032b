#pragma once
// Host framework routines that every screen calls, under their usual names:
// message boxes with abort, the server-result checker, code helpers, the
// catalogue, the context functions and the single dispatch point of UI
// event handlers.

#include <core/errors.h>
#include "hostservices.h"
#include <core/variant.h>

#include <QString>
#include <QStringList>

#include <functional>

namespace core {

// --- messages and abort ------------------------------------------------------

/// Shows `text` in the error box; with `abort` true then throws core::Abort.
void MensErro(const QString& text, bool abort);
/// Information, warning (OK) and question (Yes/No) boxes.
void MensInfo(const QString& text);
void MensAviso(const QString& text);
bool MensPergunta(const QString& text); ///< true only on Yes

/// Runs one UI event handler: swallows core::Abort, shows any other
/// exception's text in the error box, and never lets an exception escape.
/// Returns false when the handler ended by an exception.
bool dispatch(const std::function<void()>& handler) noexcept;

// --- server results ------------------------------------------------------------

/// What a server method answers: a payload, or a failed result with a message.
struct ServerResult {
    bool ok = true;
    Variant payload;
    QString message;
    static ServerResult success(Variant v) { return {true, std::move(v), {}}; }
    static ServerResult failure(QString m) { return {false, {}, std::move(m)}; }
};

/// Returns the payload; a failed result is shown in the error box and the
/// handler is abandoned (core::Abort carrying the text). With `showError`
/// false the abort is raised without the box. A failure without a message
/// shows a generic text rather than an empty box. `flags` is accepted and
/// ignored.
Variant CheckResultServ(const ServerResult& r, bool showError = true, int flags = 0);

// --- code helpers --------------------------------------------------------------

bool EmptyString(const QString& s);
/// A digit code left-padded with zeros to `width`; a blank text stays blank
/// (empty); surrounding blanks are removed first. A code longer than `width`
/// is kept whole (never cut, so it cannot match another code), and text that
/// is not all digits is returned trimmed as typed, for the lookup to reject.
QString Ajusta(const QString& code, int width);

// --- message catalogue ----------------------------------------------------------

/// Lines "key|text"; keys matched ignoring letter case; the text keeps its
/// leading and trailing blanks. A missing key yields the key itself in angle
/// brackets ("<KEY>") so the gap is visible without breaking the flow.
class TMessages {
public:
    TMessages() = default;
    explicit TMessages(const QStringList& lines) { setLines(lines); }
    void setLines(const QStringList& lines);
    const QStringList& lines() const { return lines_; }
    QString Msg(const QString& key) const;
    bool contains(const QString& key) const;

private:
    QStringList lines_;
};

// --- context -------------------------------------------------------------------

/// What the host knows about the session; the shell fills it from its
/// configuration, tests set it directly.
struct HostContext {
    QString filial = "0001";      ///< branch in use
    QString nomeFilial;           ///< its name
    bool moduFili = false;        ///< screens bound to that branch
    QString operador = "ADMIN";   ///< operator code (the logged-in operator once a session is open)
    QString nomeOperador;         ///< the logged-in operator's name
    QStringList filiaisOperador;  ///< the logged-in operator's branches ("*": all; empty: not told)
    QString sessionToken;         ///< the session server calls carry (empty: none)
    QString webUrl = "127.0.0.1"; ///< application-server address
    int webPort = 8211;
    QStringList dbPict = {"99.999.9999"}; ///< edit pictures by kind
    /// Opens another module by code with a parameter; installed by the shell.
    std::function<void(const QString& code, const Variant& params)> loadModule;
};

HostContext& context();

// --- log --------------------------------------------------------------------------

/// Where the technical detail of failures shown to people goes: the shell
/// installs its log file; without a sink the detail is written to stderr.
void setLogSink(std::function<void(const QString& line)> sink);
/// Writes one line to the log.
void logDetail(const QString& line);
/// The text to show a person for a failure: core::Error::forPeople (its
/// technical message logged when it has one); anything else that escaped
/// is logged and told as an unexpected failure.
QString shownText(const std::exception& e);

QString FiliProc();
QString NomeFiliProc();
bool ModuFili();
QString Operador();
QString WebURL();
int WebPort();
QString DBPict(int kind);
/// Opens a module through the host; a missing loader or module is a core::Error.
void LoadBPL(const QString& code, const Variant& params);

// --- guards --------------------------------------------------------------------

/// Runs a callable when the scope ends, however it ends.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) { }
    ~ScopeExit()
    {
        if (active_)
            f_();
    }
    void release() { active_ = false; }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
    bool active_ = true;
};

/// Shows the progress animation for the scope (ActiveShowAvi/DeactiveShowAvi).
void ActiveShowAvi(QObject* owner, int kind, const QString& caption = {});
void DeactiveShowAvi(QObject* owner);

} // namespace core
