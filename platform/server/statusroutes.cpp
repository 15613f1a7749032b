// The routes read by tools: liveness (/health) and the figures (/metrics).
#include "appserver.h"

#include "frontanswers.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QUrlQuery>

namespace server {

FrontReply AppServer::health(const Route&, FrontRequest& r)
{
    const QUrlQuery q(QString::fromUtf8(r.query.data(), qsizetype(std::min<std::size_t>(r.query.size(), 1000))));
    if (q.hasQueryItem("server")) {
        const bool known = registry_.hasServer(q.queryItemValue("server", QUrl::FullyDecoded));
        return json(known ? 200 : 404, known ? R"({"status":"ok"})" : raisedBody("Servidor desconhecido."));
    }
    QJsonArray names;
    for (const QString& n : registry_.servers())
        names << n;
    return json(
        200,
        QJsonDocument(QJsonObject{{"status", "ok"}, {"servers", names}}).toJson(QJsonDocument::Compact).toStdString());
}

FrontReply AppServer::metricsPage(const Route& route, FrontRequest& r)
{
    if (!metricsAllowed(r.address, opt_.metricsAllow)) {
        logLine(route.name(), nullptr, QString::fromStdString(r.address), 0,
                "refused: endereço sem acesso às métricas");
        return json(403, raisedBody("Métricas disponíveis só no próprio servidor e nos endereços de --metrics-allow."));
    }
    ServerMetrics::Sample s;
    s.workers = pool_.size();
    s.busy = pool_.busy();
    s.waiting = pool_.waiting();
    try {
        pool_.run([&] {
            QSqlDatabase conn = db_.connection();
            QSqlQuery q = prepare(conn, "SELECT COUNT(*) FROM SESSAO WHERE DTHREXPIRA > ?");
            q.addBindValue(QDateTime::currentSecsSinceEpoch());
            exec(q);
            if (q.next())
                s.sessions = q.value(0).toLongLong();
        });
    } catch (const std::exception&) {
        s.sessions = -1; // the database is unreachable: the figure says so rather than failing the scrape
    }
    FrontReply page;
    page.body = metrics_->scrape(s);
    page.contentType = ServerMetrics::kContentType;
    return page;
}

} // namespace server
