#include "registry.h"

#include <QSet>
#include <QThread>

#include <cmath>
#include <random>

namespace server {

namespace {
constexpr double kMaxDay = 2958465; // 31/12/9999

QString kindName(ArgKind k)
{
    switch (k) {
    case ArgKind::String: return "string";
    case ArgKind::Date: return "date";
    case ArgKind::Packet: return "data packet";
    case ArgKind::PacketOrNull: return "data packet or null";
    case ArgKind::Any: return "any";
    case ArgKind::Branch: return "branch (string)";
    case ArgKind::Operator: return "operator (string)";
    }
    return {};
}
} // namespace

QString quoted(const QString& value, int max)
{
    return value.size() <= max ? value : value.left(max) + "...";
}

core::Date checkedDate(const core::Variant& v, const QString& what)
{
    double d = 0;
    switch (v.type()) {
    case core::Variant::Type::Date: d = v.toDate().days; break;
    case core::Variant::Type::Double: d = v.toDouble(); break;
    case core::Variant::Type::Integer: d = double(v.toInt()); break;
    default:
        throw BadRequest(QString("%1: esperada uma data ou um número de dias, recebido %2.")
                             .arg(what, core::Variant::typeName(v.type())));
    }
    if (!std::isfinite(d) || d < 1 || d >= kMaxDay + 1)
        throw BadRequest(QString("%1: data inválida (%2).").arg(what).arg(d, 0, 'g', 12));
    return core::Date{std::floor(d)};
}

core::Date CallContext::date(int i) const
{
    return checkedDate(args_.at(i), QString("argumento %1").arg(i + 1));
}

void CallContext::requireBranch(const QString& branch) const
{
    if (session && !session->mayUse(branch))
        throw Forbidden(
            QString("O operador %1 não tem acesso à filial %2.").arg(session->operatorCode, quoted(branch)));
}

void CallContext::requireBranches(const core::DataPacket& p, const char* field) const
{
    if (!session || session->allBranches)
        return;
    const int f = p.fieldIndex(QString::fromLatin1(field));
    if (f < 0)
        return;
    QSet<QString> checked;
    for (int r = 0; r < p.rowCount(); ++r) {
        const core::Variant v = p.cell(r, f);
        const QString b = v.isNull() ? QString() : v.toString();
        if (checked.contains(b))
            continue;
        requireBranch(b);
        checked.insert(b);
    }
}

const core::DataPacket* CallContext::packet(int i) const
{
    return args_.at(i).isNull() ? nullptr : &args_.at(i).packet();
}

void Registry::add(const QString& server, const QString& method, std::vector<ArgKind> args, Handler h)
{
    servers_[server][method] = Entry{std::move(args), std::move(h), nullptr};
}

void Registry::addStreamed(const QString& server, const QString& method, std::vector<ArgKind> args, StreamHandler h)
{
    servers_[server][method] = Entry{std::move(args), nullptr, std::move(h)};
}

bool Registry::hasServer(const QString& server) const
{
    return servers_.count(server) > 0;
}

bool Registry::hasMethod(const QString& server, const QString& method) const
{
    const auto s = servers_.find(server);
    return s != servers_.end() && s->second.count(method) > 0;
}

QStringList Registry::servers() const
{
    QStringList out;
    for (const auto& [name, methods] : servers_)
        out << name;
    return out;
}

CallResult Registry::call(Database& db, const CallRequest& req, const Session* session) const
{
    CallResult r = callStreamed(db, req, session);
    if (r.rows) {
        core::DataPacket p(r.rows->fields());
        core::PacketRow row;
        while (r.rows->next(row))
            p.appendRow(std::move(row));
        r.payload = core::Variant(std::move(p));
        r.rows.reset();
    }
    return r;
}

int Registry::argCount(const QString& server, const QString& method) const
{
    return int(entry(server, method).args.size());
}

const Registry::Entry& Registry::entry(const QString& server, const QString& method) const
{
    auto s = servers_.find(server);
    if (s == servers_.end())
        throw NotFound(QString("Servidor desconhecido: \"%1\".").arg(quoted(server)));
    auto m = s->second.find(method);
    if (m == s->second.end())
        throw NotFound(QString("Método desconhecido: \"%1.%2\".").arg(quoted(server), quoted(method)));
    return m->second;
}

CallResult Registry::callStreamed(Database& db, const CallRequest& req, const Session* session) const
{
    const Entry& e = entry(req.server, req.method);
    const QString method = quoted(req.method);
    if (req.args.size() != int(e.args.size()))
        throw BadRequest(
            QString("%1: esperados %2 argumentos, recebidos %3.").arg(method).arg(e.args.size()).arg(req.args.size()));
    if (!req.byRef.isEmpty() && req.byRef.size() != req.args.size())
        throw BadRequest(QString("%1: byRef deve ter um valor por argumento.").arg(method));
    for (int i = 0; i < req.args.size(); ++i) {
        const core::Variant& a = req.args[i];
        const auto t = a.type();
        bool ok = true;
        switch (e.args[i]) {
        case ArgKind::String: ok = t == core::Variant::Type::String; break;
        case ArgKind::Date: checkedDate(a, QString("%1, argumento %2").arg(method).arg(i + 1)); break;
        case ArgKind::Packet: ok = t == core::Variant::Type::Packet; break;
        case ArgKind::PacketOrNull: ok = t == core::Variant::Type::Packet || t == core::Variant::Type::Null; break;
        case ArgKind::Any: break;
        case ArgKind::Branch:
        case ArgKind::Operator: ok = t == core::Variant::Type::String; break;
        }
        if (!ok)
            throw BadRequest(QString("%1, argumento %2: esperado %3, recebido %4.")
                                 .arg(method)
                                 .arg(i + 1)
                                 .arg(kindName(e.args[i]), core::Variant::typeName(t)));
    }
    if (session) {
        for (int i = 0; i < req.args.size(); ++i) {
            if (e.args[i] != ArgKind::Branch && e.args[i] != ArgKind::Operator)
                continue;
            const QString v = req.args[i].toString();
            if (e.args[i] == ArgKind::Branch && !session->mayUse(v))
                throw Forbidden(QString("%1: o operador %2 não tem acesso à filial %3.")
                                    .arg(method, session->operatorCode, quoted(v)));
            if (e.args[i] == ArgKind::Operator && v != session->operatorCode)
                throw Forbidden(QString("%1: o operador informado (%2) não é o da sessão (%3).")
                                    .arg(method, quoted(v), session->operatorCode));
        }
    }
    thread_local std::minstd_rand jitter{std::random_device{}()};
    for (int run = 1;; ++run) {
        const quint64 commitsBefore = Transaction::committedOnThisThread();
        try {
            CallContext ctx(db, req.args, session);
            CallResult r;
            if (e.streamed)
                r.rows = e.streamed(ctx);
            else
                r.payload = e.handler(ctx);
            r.refs.reserve(req.args.size());
            for (int i = 0; i < req.args.size(); ++i)
                r.refs << ((!req.byRef.isEmpty() && req.byRef[i]) ? ctx.refs()[i] : core::Variant());
            return r;
        } catch (const TransientError& t) {
            // The failed run's transaction has rolled back on the way here.
            if (Transaction::committedOnThisThread() != commitsBefore)
                throw InternalError(QString("%1: o banco de dados falhou depois de gravar parte da chamada; "
                                            "consulte os dados antes de repetir.")
                                        .arg(method),
                                    t.detail());
            if (run >= retry_.attempts)
                throw BusyError(QString("%1: o banco de dados está ocupado com outras operações; a chamada não foi "
                                        "feita (%2 tentativas). Tente de novo.")
                                    .arg(method)
                                    .arg(run),
                                t.detail());
            const int cap = retry_.baseDelayMs << std::min(run - 1, 10);
            if (cap > 0)
                QThread::msleep(std::uniform_int_distribution<int>(0, cap)(jitter));
        }
    }
}

} // namespace server
