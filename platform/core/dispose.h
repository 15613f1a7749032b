#pragma once
// Freeing a large structure (the rows of a 50,000-entry list: hundreds of
// thousands of blocks) takes tens of milliseconds on the thread that drops
// it. Where that thread is the user interface, the structure is handed to a
// pool thread instead, so that the screen repaints first.

#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

namespace core {

/// Takes `value` over (by move) and destroys it on a thread of the global
/// pool. `value` must hold nothing bound to a thread (texts, numbers,
/// variants and containers of them; no QObject). The application waits for
/// the pool when it ends, so nothing is left half freed.
template <class T>
void disposeLater(T&& value)
{
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    QThreadPool::globalInstance()->start([held = std::move(held)]() mutable { held.reset(); });
}

} // namespace core
