#pragma once
// What every host control shares: the handler type its events run, run
// through core::dispatch, and enabling the controls of a container.

#include <functional>

class QWidget;

namespace host {

using Handler = std::function<void()>;

/// Enables or disables every control directly inside `container` (their own
/// children follow them, as Qt's enabled state is inherited).
void SetChildEnabled(QWidget* container, bool enabled);

/// Runs `h` through core::dispatch when it is set (an exception it throws
/// is shown or, for an abort, swallowed; none crosses the event loop).
void runHandler(const Handler& h);

} // namespace host
