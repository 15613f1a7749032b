#include "callfault.h"

#include "database.h"
#include "registry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace server {

namespace {

// Messages quote a caller's values cut short (see quoted()); this bound
// holds for any message, so an answer never grows with the request.
constexpr int kMaxMessage = 2000;

QString newReference()
{
    return QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0').toUpper();
}

Fault refused(int status, const QString& message, const QString& outcome)
{
    Fault f;
    f.status = status;
    f.message = message;
    f.outcome = outcome;
    return f;
}

} // namespace

Fault internalFault(const QString& detail)
{
    Fault f;
    f.reference = newReference();
    f.detail = detail;
    f.message = QString("Falha interna do servidor (referência %1).").arg(f.reference);
    f.outcome = QString("internal error %1: %2").arg(f.reference, detail);
    return f;
}

QString internalDetail(const std::exception& e)
{
    if (const auto* ie = dynamic_cast<const InternalError*>(&e))
        return ie->message() + (ie->detail().isEmpty() ? QString() : " | " + ie->detail());
    if (const auto* ce = dynamic_cast<const core::Error*>(&e))
        return ce->message();
    return QString::fromUtf8(e.what());
}

Fault callFault(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const BadRequest& e) {
        return refused(400, e.message(), "bad request: " + e.message());
    } catch (const NotFound& e) {
        return refused(404, e.message(), "not found: " + e.message());
    } catch (const Forbidden& e) {
        return refused(403, e.message(), "forbidden: " + e.message());
    } catch (const BusyError& e) {
        // Said plainly: nothing was done and trying again is the remedy. The message holds no SQL.
        return refused(503, e.message(), "busy: " + e.message() + " | " + e.detail());
    } catch (const InternalError& e) {
        return internalFault(internalDetail(e));
    } catch (const core::Error& e) {
        return refused(200, e.message(), "raised: " + e.message());
    } catch (const std::exception& e) {
        return internalFault(internalDetail(e));
    } catch (...) {
        return internalFault("exceção desconhecida");
    }
}

std::string raisedBody(const QString& message)
{
    const QString m = message.size() > kMaxMessage ? message.left(kMaxMessage) + "..." : message;
    return QJsonDocument(QJsonObject{{"status", "raised"}, {"message", m}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

} // namespace server
