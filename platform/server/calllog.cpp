// The call log: one line of key=value pairs per request, the caller's texts
// escaped.
#include "appserver.h"

#include <chrono>

namespace server {

QString logSafe(const QString& text, int max)
{
    QString out;
    out.reserve(std::min<qsizetype>(text.size(), max) + 8);
    for (QChar c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        const ushort u = c.unicode();
        if (u == '\\')
            out += "\\\\";
        else if (u == '\n')
            out += "\\n";
        else if (u == '\r')
            out += "\\r";
        else if (u == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QString("\\u%1").arg(u, 4, 16, QChar('0'));
        else
            out += c;
    }
    return out;
}

namespace {
// A value of the call log: as it stands when it is one word, else in double
// quotes with the quote escaped (logSafe has already escaped the backslash
// and every control character).
void putValue(std::string& line, const QString& text)
{
    const QByteArray u = text.toUtf8();
    const bool plain = !u.isEmpty() && !u.contains(' ') && !u.contains('"') && !u.contains('=');
    if (plain) {
        line.append(u.constData(), size_t(u.size()));
        return;
    }
    line += '"';
    for (char c : u) {
        if (c == '"')
            line += '\\';
        line += c;
    }
    line += '"';
}
} // namespace

void AppServer::logLine(const QString& what, const Session* s, const QString& address, double ms,
                        const QString& outcome) const
{
    if (!opt_.log)
        return;
    // One line of key=value pairs (journald and log tools read them as
    // fields). Put together piece by piece: the caller's texts are copied
    // in, never read as a format (a method named "%5" stays "%5").
    const qint64 now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::string line = "ts=" + logTimestamp(now);
    line.reserve(line.size() + 200);
    // "login CODE": the operator of a log-in is named before there is a session.
    const QString call = what.section(' ', 0, 0);
    const QString named = what.section(' ', 1);
    line += " call=";
    putValue(line, logSafe(call, 120));
    line += " op=";
    if (s)
        putValue(line, logSafe(s->operatorCode, 20));
    else if (!named.isEmpty())
        putValue(line, named);
    else
        line += '-';
    line += " addr=";
    if (address.isEmpty())
        line += '-';
    else
        putValue(line, address);
    line += " ms=";
    const QByteArray duration = QByteArray::number(ms, 'f', 1);
    line.append(duration.constData(), size_t(duration.size()));
    line += " outcome=";
    const std::string kind = outcomeKind(outcome);
    line += kind;
    if (outcome != QLatin1String(kind.c_str())) {
        line += " msg=";
        putValue(line, logSafe(outcome, 600));
    }
    line += '\n';
    log_->add(line);
}

} // namespace server
