// The routes of an operator's account: log-in, log-out and the change of
// their own password. Password checks run on the password threads, never on
// a database worker.
#include "appserver.h"

#include "frontanswers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace server {

FrontReply AppServer::login(const Route& route, FrontRequest& r)
{
    const QString address = QString::fromStdString(r.address);
    const auto t0 = std::chrono::steady_clock::now();
    auto ms = [&] { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(); };
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    const QString code = o.value("operador").toString().trimmed().toUpper();
    const QString password = o.value("senha").toString();
    const QString what = route.name() + " " + logSafe(code, 20);
    const std::string label = route.name().toStdString();
    auto refused = [&](const QString& outcome) {
        refusal(what, address, ms(), outcome);
        metrics_->failedLogin();
        metrics_->call(label, "refused", ms() / 1000);
        return json(401, raisedBody(Operators::refusedText()));
    };
    try {
        // Tries during an address's wait are refused before anything is looked up.
        if (const auto wait = throttle_.wait(code.left(Operators::kMaxCode), address); wait.count() > 0) {
            const qint64 secs = (wait.count() + 999) / 1000;
            refusal(what, address, ms(), QString("throttled: tentativa %1 s antes da hora").arg(secs));
            FrontReply a =
                json(429, raisedBody(QString("Tentativas de entrada demais; tente de novo em %1 s.").arg(secs)));
            a.headers.emplace_back("Retry-After", std::to_string(secs));
            return a;
        }
        if (!Operators::plausibleCode(code) || password.isEmpty() || password.size() > Operators::kMaxPassword) {
            throttle_.failed(code.left(Operators::kMaxCode), address);
            return refused("refused");
        }
        // The check runs on the password threads; this worker waits for it
        // holding no database connection, or answers at once when too many
        // checks wait (before any other work for this log-in).
        const std::optional<HashPool::Place> place = hashPool_.reserve();
        if (!place) {
            refusal(what, address, ms(), "busy: fila de verificação de senhas cheia");
            FrontReply a = json(503, raisedBody("Muitas entradas ao mesmo tempo; tente de novo em alguns segundos."));
            a.headers.emplace_back("Retry-After", "2");
            return a;
        }
        StoredLogin account;
        pool_.run([&] { account = operators_.stored(code); });
        const bool ok = hashPool_.run(*place, [&] { return operators_.verify(account, password); });
        if (!ok) {
            const auto wait = throttle_.failed(code, address);
            return refused(wait.count() > 0
                               ? QString("refused; next try from this address in %1 s").arg((wait.count() + 999) / 1000)
                               : QString("refused"));
        }
        throttle_.succeeded(code, address);
        LoginResult lr;
        pool_.run(
            [&] { lr = operators_.openSession(code, account.name, address, opt_.sessionSecs, account.mustChange); });
        logLine(what, nullptr, address, ms(), lr.mustChange ? "ok, troca de senha pendente" : "ok");
        metrics_->call(label, "ok", ms() / 1000);
        QJsonObject answer{{"status", "ok"},         {"token", lr.token},
                           {"operador", code},       {"nome", lr.operatorName},
                           {"expira", lr.expiresAt}, {"filiais", QJsonArray::fromStringList(lr.branches)}};
        if (lr.mustChange)
            answer.insert("trocarSenha", true);
        return json(200, QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
    } catch (const Unauthorized& e) {
        refusal(what, address, ms(), "refused");
        metrics_->failedLogin();
        metrics_->call(label, "refused", ms() / 1000);
        return json(401, raisedBody(e.message()));
    } catch (const std::exception& e) {
        return internalFailure(what, nullptr, address, ms(), internalDetail(e));
    }
}

FrontReply AppServer::logout(const Route& route, FrontRequest& r)
{
    pool_.run([&] { operators_.logout(bearer(r.authorization)); });
    logLine(route.name(), r.session.get(), QString::fromStdString(r.address), 0, "ok");
    return json(200, R"({"status":"ok"})");
}

// The operator changes their own password: {"atual": ..., "nova": ...}. The
// check of the current password and the hash of the new one run on the
// password threads, like a log-in's, never on a database worker.
FrontReply AppServer::changePassword(const Route& route, FrontRequest& r)
{
    const Session& session = *r.session;
    const QString token = bearer(r.authorization);
    const QString address = QString::fromStdString(r.address);
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    if (!o.value("atual").isString() || !o.value("nova").isString())
        return json(400, raisedBody("Informe a senha atual (\"atual\") e a nova (\"nova\")."));
    const QString current = o.value("atual").toString();
    const QString next = o.value("nova").toString();
    try {
        const std::optional<HashPool::Place> place = hashPool_.reserve();
        if (!place) {
            logLine(route.name(), &session, address, 0, "busy: fila de verificação de senhas cheia");
            FrontReply a =
                json(503, raisedBody("Muitas verificações de senha ao mesmo tempo; tente de novo em alguns segundos."));
            a.headers.emplace_back("Retry-After", "2");
            return a;
        }
        StoredLogin account;
        pool_.run([&] { account = operators_.stored(session.operatorCode); });
        if (!hashPool_.run(*place, [&] { return operators_.verify(account, current); }))
            throw Unauthorized(QStringLiteral("A senha atual não confere."));
        if (next == current)
            throw core::Error(QStringLiteral("A nova senha deve ser diferente da atual."));
        QString newHash;
        hashPool_.run(*place, [&] {
            newHash = operators_.hash(next); // the rules of every password
            return true;
        });
        int ended = 0;
        pool_.run([&] { ended = operators_.changeOwnPassword(token, session.operatorCode, newHash); });
        logLine(route.name(), &session, address, 0, QString("ok, %1 outra(s) sessão(ões) encerrada(s)").arg(ended));
        return json(200,
                    QJsonDocument(QJsonObject{{"status", "ok"}, {"sessoesEncerradas", ended}})
                        .toJson(QJsonDocument::Compact)
                        .toStdString());
    } catch (const Unauthorized& e) {
        logLine(route.name(), &session, address, 0, "refused");
        return json(401, raisedBody(e.message()));
    } catch (const InternalError& e) {
        return internalFailure(route.name(), &session, address, 0, internalDetail(e));
    } catch (const core::Error& e) {
        logLine(route.name(), &session, address, 0, "refused: " + e.message());
        return json(422, raisedBody(e.message()));
    } catch (const std::exception& e) {
        return internalFailure(route.name(), &session, address, 0, internalDetail(e));
    }
}

} // namespace server
