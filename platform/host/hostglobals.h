#pragma once
// Process-wide pieces of the host framework: the main window and its
// multi-document area (set by the shell), 96-dpi pixel scaling and the
// platform key codes that grid and edit key handlers receive.

#include <QMainWindow>
#include <QMdiArea>
#include <QString>
#include <Qt>

namespace host {

/// The shell's main window and MDI area; null when no shell runs (tests,
/// tools): forms then show as top-level windows.
QMainWindow* mainWindow();
QMdiArea* mdiArea();
/// Installed by the shell; nullptr clears.
void setMainWindow(QMainWindow* w, QMdiArea* area);

/// A size given in pixels at 96 dpi, scaled for the screen's logical dpi.
int Px(int pixelsAt96Dpi);

/// INI file where screens keep each operator's layout (window size and
/// position, the column widths they dragged) from one run to the next;
/// empty (the default) keeps none. The shell sets it.
void setLayoutFile(const QString& path);
QString layoutFile();
/// The settings group of a screen's own state for the operator logged in:
/// "CODE/OPERATOR", the screen code (or `fallbackName` when it has none)
/// and "_" before anyone has logged in.
QString operatorScreenKey(const QString& screenCode, const QString& fallbackName);

/// Platform key codes as the key handlers receive them. Letters and digits
/// are their upper-case ASCII codes ('A' = 65, '0' = 48).
enum VirtualKey : int {
    VK_BACK = 8,
    VK_TAB = 9,
    VK_RETURN = 13,
    VK_SHIFT = 16,
    VK_CONTROL = 17,
    VK_MENU = 18,
    VK_ESCAPE = 27,
    VK_SPACE = 32,
    VK_PRIOR = 33,
    VK_NEXT = 34,
    VK_END = 35,
    VK_HOME = 36,
    VK_LEFT = 37,
    VK_UP = 38,
    VK_RIGHT = 39,
    VK_DOWN = 40,
    VK_INSERT = 45,
    VK_DELETE = 46,
    VK_F1 = 112,
    VK_F12 = 123
};
/// Qt key to platform code (0 when the key has none); and back (0 when none).
int vkFromQtKey(int qtKey);
int qtKeyFromVk(int vk);

} // namespace host
