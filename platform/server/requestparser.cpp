#include "requestparser.h"

#include "cancelnota.h"

namespace server {

namespace {

// Bounds on one call's body, applied while it is decoded: a body of any
// shape is refused at a memory cost bounded by them, never by its size.
// Rows: the longest list a method takes; values: that many rows of the
// widest entry row; texts: a picked list of every key a screen may send, with
// room; the envelope outside packet rows (names, plain arguments, field
// lists): a few KB in practice.
constexpr qint64 kMaxCallRows = kMaxListEntries;
constexpr qint64 kMaxCallCells = qint64(kMaxListEntries) * kMaxEntryFields;
constexpr qint64 kMaxCallText = 256 * 1024;
constexpr qint64 kMaxCallKept = 4 << 20;

} // namespace

core::codec::DecodeLimits callLimits()
{
    core::codec::DecodeLimits l;
    l.maxRows = kMaxCallRows;
    l.maxCells = kMaxCallCells;
    l.maxText = kMaxCallText;
    l.maxKept = kMaxCallKept;
    return l;
}

CallRequest parseRequest(core::codec::EnvelopeReader& body, QString& label, const Registry& registry)
{
    // Split the envelope first, then decode each value once with the packet
    // codec: the arguments may hold a large packet, whose rows were already
    // read while the body arrived. The body outlives the raw slices, which
    // are views into it.
    const QByteArray& bytes = body.envelope();
    core::codec::RawObject m;
    try {
        m = core::codec::splitObject(bytes);
    } catch (const core::Error& e) {
        throw BadRequest(QString("Corpo da chamada não é JSON válido: %1.").arg(e.message()));
    }
    auto text = [&](QStringView name) {
        const QByteArray* raw = m.find(name);
        if (!raw)
            throw BadRequest(QString("Chamada sem \"%1\".").arg(name));
        core::Variant v;
        try {
            v = core::codec::decodeVariant(*raw);
        } catch (const core::Error& e) {
            throw BadRequest(QString("\"%1\" malformado: %2").arg(name, e.message()));
        }
        if (v.type() != core::Variant::Type::String)
            throw BadRequest(QString("\"%1\" deve ser um texto.").arg(name));
        return v.toString();
    };
    CallRequest r;
    r.server = text(u"server");
    r.method = text(u"method");
    label = r.server + "." + r.method;
    // The method's own argument count bounds the list before it is split.
    const int expected = registry.argCount(r.server, r.method);
    // Other members are ignored; splitObject has already checked that they are well-formed JSON.
    const QByteArray* args = m.find(u"args");
    if (!args || !args->startsWith('['))
        throw BadRequest("Chamada sem \"args\" (lista).");
    // Every failure below is the caller's: a core::Error must not reach
    // handleCall, which would answer it as an error raised by the method.
    auto elements = [](const QByteArray& list, const QString& why, qint64 most) {
        try {
            return core::codec::splitArray(list, most);
        } catch (const core::Error& e) {
            throw BadRequest(why + " " + e.message());
        }
    };
    const std::vector<QByteArray> items =
        elements(*args, QString("%1: esperados %2 argumentos.").arg(quoted(r.method)).arg(expected), expected);
    r.args.reserve(qsizetype(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        try {
            core::Variant v = core::codec::decodeVariant(items[i]);
            if (body.streamed(int(i)))
                v = body.packetWithRows(int(i), v);
            r.args.append(std::move(v));
        } catch (const core::Error& e) {
            throw BadRequest(QString("Argumento %1 malformado: %2").arg(i + 1).arg(e.message()));
        }
    }
    if (const QByteArray* byRef = m.find(u"byRef")) {
        const QString wrong = "\"byRef\" deve ser uma lista de valores lógicos.";
        if (!byRef->startsWith('['))
            throw BadRequest(wrong);
        for (const QByteArray& b : elements(*byRef, wrong, expected)) {
            if (b == "true")
                r.byRef << true;
            else if (b == "false")
                r.byRef << false;
            else
                throw BadRequest(wrong);
        }
    }
    return r;
}

QString bodyFault(const core::codec::EnvelopeReader& body, const core::Error& e)
{
    const int arg = body.readingRowsOf();
    return arg >= 0 ? QString("Argumento %1 malformado: %2").arg(arg + 1).arg(e.message())
                    : QString("Corpo da chamada malformado: %1").arg(e.message());
}

} // namespace server
