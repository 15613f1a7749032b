#pragma once
// --screenshot: waits until the first load of the opened module finished
// (nothing animating, no busy cursor, the event loop quiet for a moment, or
// a modal box waiting for the user), then saves the main window as PNG.

#include <QString>

namespace shell {

class ShellWindow;

/// Schedules the capture; when taken, the application exits with 0 (or 1
/// when the file could not be written). With `page` 1 or more, once the
/// first load settled the screen's page of that number is chosen (as a click
/// on its tab would) and the capture waits until that settles too.
void scheduleScreenshot(ShellWindow& window, const QString& file, int timeoutMs, int page = 0);

/// The main window with any modal box drawn over it, as the user sees it.
bool saveWindowImage(ShellWindow& window, const QString& file);

} // namespace shell
