#include "interruption.h"

#include <QCoreApplication>
#include <QEvent>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <vector>

namespace core {

struct InterruptFrame {
    bool stoppable = false;
    QString why;
    std::atomic<bool> requested{false};
    std::function<void()> stop; ///< the exchange in flight, if any
};

namespace {

std::vector<InterruptFrame*>& frames()
{
    static std::vector<InterruptFrame*> stack;
    return stack;
}

InterruptFrame* innermost()
{
    return frames().empty() ? nullptr : frames().back();
}

InterruptFrame* push(bool stoppable, const QString& why)
{
    auto* f = new InterruptFrame;
    f->stoppable = stoppable;
    f->why = why;
    frames().push_back(f);
    return f;
}

void pop(InterruptFrame* f)
{
    auto& stack = frames();
    for (auto it = stack.begin(); it != stack.end(); ++it)
        if (*it == f) {
            stack.erase(it);
            break;
        }
    delete f;
}

QList<QPointer<QObject>>& allowed()
{
    static QList<QPointer<QObject>> list;
    return list;
}

bool isAllowed(const QObject* o)
{
    for (; o; o = o->parent())
        for (const QPointer<QObject>& a : allowed())
            if (a == o)
                return true;
    return false;
}

bool isInput(QEvent::Type t)
{
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: return true;
    default: return false;
    }
}

/// While a call of a marked scope runs the local event loop takes input,
/// and this filter drops all of it but what goes to the allowed controls:
/// the rest of the application stays as deaf as during any other call.
/// A window's own input passes, for the window hands it on to the widget
/// under the mouse or with the focus, where it is judged.
class InputGate : public QObject {
public:
    explicit InputGate(InterruptFrame* frame) : frame_(frame)
    {
        QCoreApplication::instance()->installEventFilter(this);
        // A stop asked before the exchange had its connection open would
        // be lost: it is repeated until the call ends.
        retry_.setInterval(100);
        QObject::connect(&retry_, &QTimer::timeout, this, [this] {
            if (frame_->requested.load() && frame_->stop)
                frame_->stop();
        });
        retry_.start();
    }
    ~InputGate() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Close && e->spontaneous() && o->isWindowType())
            return true; // no window is closed under a running call
        if (!isInput(e->type()) || o->isWindowType() || isAllowed(o))
            return false;
        if (e->type() == QEvent::ShortcutOverride)
            e->accept(); // taken here: no shortcut fires
        return true;
    }

private:
    InterruptFrame* frame_;
    QTimer retry_;
};

} // namespace

// --- scopes --------------------------------------------------------------------

InterruptibleCalls::InterruptibleCalls() : frame_(push(true, {})) { }
InterruptibleCalls::~InterruptibleCalls()
{
    pop(frame_);
}
bool InterruptibleCalls::interrupted() const
{
    return frame_->requested.load();
}

UninterruptibleCalls::UninterruptibleCalls(const QString& why) : frame_(push(false, why)) { }
UninterruptibleCalls::~UninterruptibleCalls()
{
    pop(frame_);
}

namespace interruption {

Offer offer()
{
    const InterruptFrame* f = innermost();
    if (!f)
        return {};
    if (f->stoppable)
        return {Offer::Kind::Stop, {}};
    return {Offer::Kind::Refused, f->why};
}

bool request()
{
    InterruptFrame* f = innermost();
    if (!f || !f->stoppable)
        return false;
    f->requested.store(true);
    if (f->stop)
        f->stop();
    return true;
}

void allowInput(QObject* control)
{
    auto& list = allowed();
    list.removeAll(QPointer<QObject>());
    if (control && !list.contains(control))
        list.append(control);
}

// --- the transport's side --------------------------------------------------------

CallHook::CallHook(std::function<void()> stop)
{
    InterruptFrame* f = innermost();
    if (!f)
        return;
    if (f->stoppable && f->requested.load())
        throw Interrupted();
    frame_ = f;
    if (f->stoppable)
        f->stop = std::move(stop);
    if (QCoreApplication::instance())
        gate_ = std::make_unique<InputGate>(f);
}

CallHook::~CallHook()
{
    gate_.reset();
    if (frame_)
        frame_->stop = nullptr;
}

QEventLoop::ProcessEventsFlags CallHook::loopFlags() const
{
    return gate_ ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents;
}

bool CallHook::requested() const
{
    return frame_ && frame_->stoppable && frame_->requested.load();
}

} // namespace interruption

} // namespace core
