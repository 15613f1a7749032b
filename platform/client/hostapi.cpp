#include "hostapi.h"

#include <cstdio>
#include <exception>
#include <optional>

namespace core {

// --- messages and abort ------------------------------------------------------

void MensErro(const QString& text, bool abort)
{
    host().message(MsgKind::Error, text, {MsgButton::OK});
    if (abort)
        throw Abort(text);
}

void MensInfo(const QString& text)
{
    host().message(MsgKind::Information, text, {MsgButton::OK});
}

void MensAviso(const QString& text)
{
    host().message(MsgKind::Warning, text, {MsgButton::OK});
}

bool MensPergunta(const QString& text)
{
    return host().message(MsgKind::Question, text, {MsgButton::Yes, MsgButton::No}) == MsgButton::Yes;
}

namespace {
void showSafely(const QString& text) noexcept
{
    try {
        host().message(MsgKind::Error, text, {MsgButton::OK});
    } catch (...) {
        // The box itself failed (a test host without an answer): nothing
        // more can be shown, and nothing may escape the dispatcher.
    }
}
} // namespace

namespace {
std::function<void(const QString&)>& logSink()
{
    static std::function<void(const QString&)> sink;
    return sink;
}
} // namespace

void setLogSink(std::function<void(const QString& line)> sink)
{
    logSink() = std::move(sink);
}

void logDetail(const QString& line)
{
    if (logSink())
        logSink()(line);
    else
        std::fprintf(stderr, "%s\n", qPrintable(line));
}

QString shownText(const std::exception& e)
{
    if (const auto* err = dynamic_cast<const Error*>(&e)) {
        if (err->hasDetail())
            logDetail(err->message());
        return err->forPeople();
    }
    logDetail(QStringLiteral("Falha inesperada: %1").arg(QString::fromUtf8(e.what())));
    return QStringLiteral("Ocorreu uma falha inesperada. Tente de novo; se continuar, avise o suporte (o detalhe "
                          "está no registro do sistema).");
}

bool dispatch(const std::function<void()>& handler) noexcept
{
    try {
        if (handler)
            handler();
        return true;
    } catch (const Abort&) {
        // Silent: its message, if any, was already shown.
    } catch (const std::exception& e) {
        QString text;
        try {
            text = shownText(e);
        } catch (...) {
            text = QStringLiteral("Erro desconhecido.");
        }
        showSafely(text);
    } catch (...) {
        showSafely(QStringLiteral("Erro desconhecido."));
    }
    return false;
}

// --- server results ------------------------------------------------------------

Variant CheckResultServ(const ServerResult& r, bool showError, int flags)
{
    Q_UNUSED(flags);
    if (r.ok)
        return r.payload;
    const QString text =
        r.message.trimmed().isEmpty() ? QStringLiteral("O servidor de aplicação não completou a operação.") : r.message;
    if (showError)
        MensErro(text, true);
    throw Abort(text);
}

// --- code helpers --------------------------------------------------------------

bool EmptyString(const QString& s)
{
    return s.trimmed().isEmpty();
}

QString Ajusta(const QString& code, int width)
{
    const QString t = code.trimmed();
    if (t.isEmpty())
        return QString();
    for (QChar c : t)
        if (c < u'0' || c > u'9')
            return t; // not a digit code (the edits admit digits only): left as typed, trimmed
    // Digit codes are padded on the left; a longer code is kept whole rather
    // than cut, so it fails its lookup visibly instead of matching another.
    return t.size() >= width ? t : QString(width - t.size(), u'0') + t;
}

// --- message catalogue ----------------------------------------------------------

void TMessages::setLines(const QStringList& lines)
{
    lines_ = lines;
}

namespace {
// The text of `key` in `lines`, nothing when absent.
std::optional<QString> lookup(const QStringList& lines, const QString& key)
{
    const QString k = key.trimmed();
    for (const QString& line : lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar < 0)
            continue;
        if (QStringView(line).left(bar).trimmed().compare(k, Qt::CaseInsensitive) == 0)
            return line.mid(bar + 1);
    }
    return std::nullopt;
}
} // namespace

QString TMessages::Msg(const QString& key) const
{
    const std::optional<QString> text = lookup(lines_, key);
    return text ? *text : QStringLiteral("<%1>").arg(key.trimmed());
}

bool TMessages::contains(const QString& key) const
{
    return lookup(lines_, key).has_value();
}

// --- context -------------------------------------------------------------------

HostContext& context()
{
    static HostContext c;
    return c;
}

QString FiliProc()
{
    return context().filial;
}
QString NomeFiliProc()
{
    return context().nomeFilial;
}
bool ModuFili()
{
    return context().moduFili;
}
QString Operador()
{
    return context().operador;
}
QString WebURL()
{
    return context().webUrl;
}
int WebPort()
{
    return context().webPort;
}

QString DBPict(int kind)
{
    const QStringList& p = context().dbPict;
    return kind >= 0 && kind < p.size() ? p.at(kind) : QString();
}

void LoadBPL(const QString& code, const Variant& params)
{
    if (!context().loadModule)
        throw Error(
            QStringLiteral("Não foi possível abrir o módulo %1: nenhum carregador de módulos instalado.").arg(code));
    context().loadModule(code, params);
}

void ActiveShowAvi(QObject* owner, int kind, const QString& caption)
{
    host().startAnimation(owner, kind, caption);
}

void DeactiveShowAvi(QObject* owner)
{
    host().stopAnimation(owner);
}

} // namespace core
