#pragma once
// Freeing a large structure (the rows of a 50,000-entry list: hundreds of
// thousands of blocks) takes tens of milliseconds on the thread that drops
// it. Where that thread is the user interface, the structure is handed to a
// pool thread instead, so that the screen repaints first.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

namespace core {

/// Takes `value` over (by move) and destroys it on a thread of the global
/// pool, once the calling thread is back in its event loop: freeing blocks
/// of the calling thread's heap from another thread contends for the same
/// allocator lock, so it waits until the handler under way (and the repaint
/// after it) is done. Without an application object it is freed at once. `value`
/// must hold nothing bound to a thread (texts, numbers, variants and
/// containers of them; no QObject). The application waits for the pool when
/// it ends; what is still queued then is freed where it is.
template <class T>
void disposeLater(T&& value)
{
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        held.reset();
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [held = std::move(held)]() mutable {
            QThreadPool::globalInstance()->start([held = std::move(held)]() mutable { held.reset(); });
        },
        Qt::QueuedConnection);
}

} // namespace core
