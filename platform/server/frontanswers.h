#pragma once
// Small pieces the application server's routes share (not part of its interface).

#include "callfault.h"
#include "httpfront.h"

#include <QString>

#include <algorithm>
#include <string>

namespace server {

/// Bodies of the routes that take small ones (log-in, log-out, password,
/// and every route open without a session): an unknown caller can make the
/// server read at most this much.
constexpr std::size_t kMaxLoginBody = 4096;

inline FrontReply json(int status, std::string body)
{
    FrontReply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

/// The token of an "Authorization: Bearer ..." header, empty without one.
inline QString bearer(const std::string& header)
{
    const QString h =
        QString::fromLatin1(header.data(), qsizetype(std::min<std::size_t>(header.size(), 200))).trimmed();
    return h.startsWith("Bearer ", Qt::CaseInsensitive) ? h.mid(7).trimmed() : QString();
}

inline const QString kBusy =
    QStringLiteral("Servidor ocupado com outras chamadas grandes; nada foi feito. Tente de novo em alguns segundos.");

} // namespace server
