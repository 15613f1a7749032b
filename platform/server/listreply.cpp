#include "listreply.h"

namespace server {

ListReply::ListReply(std::unique_ptr<StreamedAnswer> list, std::chrono::steady_clock::time_point t0, Log log)
    : list_(std::move(list)), t0_(t0), log_(std::move(log))
{ }

void ListReply::finished(bool sent)
{
    const int rows = list_->rowCount();
    const Fault& fault = list_->fault();
    QString outcome = fault.message.isEmpty() ? QString("ok, %1 rows").arg(rows)
        : fault.internal()
        ? QString("internal error %1 after %2 rows: %3").arg(fault.reference).arg(rows).arg(fault.detail)
        : QString("raised after %1 rows: %2").arg(rows).arg(fault.message);
    if (!sent)
        outcome = QString("connection lost after %1 rows (%2)").arg(rows).arg(outcome);
    if (log_)
        log_(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0_).count(), outcome, rows);
}

void joinParts(FrontReply& rep)
{
    if (!rep.parts)
        return;
    std::string part;
    while (rep.parts->next(part))
        rep.body += part;
    rep.parts->finished(true);
    rep.parts.reset();
}

} // namespace server
