#pragma once
// Stopping a server call while it runs. A handler marks the calls the
// operator may stop (a list load) with an InterruptibleCalls scope, and the
// ones that must run to their end once sent (a cancellation, one
// transaction on the server) with an UninterruptibleCalls scope saying why.
// The progress animation asks offer() what to show; its button calls
// request(). A transport that can end an exchange early registers a
// CallHook for it: the call in flight is ended (its connection closed) and
// raises Interrupted, and any later call of the scope raises it unsent.
//
// Scopes and requests belong to the application's main thread, where the
// screens' handlers run; only the hook's stop function and requested() are
// used from the transport's worker.

#include <core/errors.h>

#include <QEventLoop>
#include <QString>

#include <functional>
#include <memory>

class QObject;

namespace core {

struct InterruptFrame;

/// A call the operator stopped. Like any Abort the handler is abandoned
/// quietly: nothing of the call's answer was used.
class Interrupted : public Abort {
public:
    Interrupted() = default;
    const char* what() const noexcept override { return "Call interrupted"; }
};

/// The operator may stop the calls made within this scope.
class InterruptibleCalls {
public:
    InterruptibleCalls();
    ~InterruptibleCalls();
    InterruptibleCalls(const InterruptibleCalls&) = delete;
    InterruptibleCalls& operator=(const InterruptibleCalls&) = delete;
    /// True once the operator asked to stop (the handler may say so).
    bool interrupted() const;

private:
    InterruptFrame* frame_;
};

/// Calls within this scope cannot be stopped once sent; `why` tells the
/// operator the reason.
class UninterruptibleCalls {
public:
    explicit UninterruptibleCalls(const QString& why);
    ~UninterruptibleCalls();
    UninterruptibleCalls(const UninterruptibleCalls&) = delete;
    UninterruptibleCalls& operator=(const UninterruptibleCalls&) = delete;

private:
    InterruptFrame* frame_;
};

namespace interruption {

/// What the progress animation offers now (the innermost scope decides).
struct Offer {
    enum class Kind { None, Stop, Refused } kind = Kind::None;
    QString why; ///< for Refused: why the calls cannot be stopped
};
Offer offer();

/// The operator asks to stop: the call in flight is ended and the scope's
/// later calls are refused unsent. False when the innermost scope is not
/// interruptible (or there is none).
bool request();

/// Lets input reach `control` (and its children) while a call of a marked
/// scope runs and the rest of the application ignores input: the
/// animation's button. Forgotten when the object goes.
void allowInput(QObject* control);

/// Held by a transport for the span of one call on the main thread.
class CallHook {
public:
    /// `stop` ends the exchange in flight; it is called from the main
    /// thread, possibly more than once, and must be safe while the worker
    /// runs. Throws Interrupted when the scope was already stopped.
    explicit CallHook(std::function<void()> stop);
    ~CallHook();
    CallHook(const CallHook&) = delete;
    CallHook& operator=(const CallHook&) = delete;

    /// The call runs in a marked scope: its local event loop must take
    /// input (filtered down to the allowed controls) instead of excluding it.
    bool marked() const { return frame_ != nullptr; }
    QEventLoop::ProcessEventsFlags loopFlags() const;
    /// The operator asked to stop this call (any thread).
    bool requested() const;

private:
    InterruptFrame* frame_ = nullptr;
    std::unique_ptr<QObject> gate_;
};

} // namespace interruption

} // namespace core
