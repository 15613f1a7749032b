#pragma once
// A list answer on its way out through the HTTP front.

#include "httpfront.h"
#include "streamedanswer.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace server {

/// A list answer on its way out, read and written on the database thread that
/// ran the call (its rows come from that thread's connection); the call's log
/// line is written once the last part went out (or the connection was lost),
/// with the rows sent and the outcome: "ok, N rows", "raised after N rows:
/// MESSAGE", "internal error R after N rows: DETAIL" (the caller saw only R),
/// each behind "connection lost after N rows (...)" when the answer was cut off.
class ListReply final : public ReplyParts {
public:
    using Log = std::function<void(double ms, const QString& outcome, int rows)>;
    ListReply(std::unique_ptr<StreamedAnswer> list, std::chrono::steady_clock::time_point t0, Log log);
    bool next(std::string& out) override { return list_->next(out); }
    void finished(bool sent) override;

private:
    std::unique_ptr<StreamedAnswer> list_;
    std::chrono::steady_clock::time_point t0_;
    Log log_;
};

/// A reply's parts joined into its body (for callers that take it whole).
void joinParts(FrontReply& rep);

} // namespace server
