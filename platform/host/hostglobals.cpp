#include "hostglobals.h"

#include "client/hostapi.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QScreen>

#include <cmath>

namespace host {

namespace {
QPointer<QMainWindow> g_main;
QPointer<QMdiArea> g_area;
QString g_layoutFile;
} // namespace

void setLayoutFile(const QString& path)
{
    g_layoutFile = path;
}
QString layoutFile()
{
    return g_layoutFile;
}

QString operatorScreenKey(const QString& screenCode, const QString& fallbackName)
{
    QString code = screenCode.trimmed();
    if (code.isEmpty())
        code = fallbackName;
    QString op = core::Operador().trimmed();
    if (op.isEmpty())
        op = QStringLiteral("_");
    return code + u'/' + op;
}

QMainWindow* mainWindow()
{
    return g_main;
}
QMdiArea* mdiArea()
{
    return g_area;
}

void setMainWindow(QMainWindow* w, QMdiArea* area)
{
    g_main = w;
    g_area = area;
}

int Px(int v)
{
    // Qt already scales device-independent pixels on high-DPI screens by the
    // device pixel ratio; what remains is a logical dpi above 96 (a larger
    // font setting), which the sizes follow as the original forms did.
    double dpi = 96.0;
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* s = app->primaryScreen())
            dpi = s->logicalDotsPerInchX();
    if (dpi <= 96.5)
        return v;
    return int(std::lround(v * dpi / 96.0));
}

int vkFromQtKey(int k)
{
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return k; // same codes: 'A'..'Z'
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12)
        return VK_F1 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
    }
}

int qtKeyFromVk(int vk)
{
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return vk;
    if (vk >= VK_F1 && vk <= VK_F12)
        return Qt::Key_F1 + (vk - VK_F1);
    switch (vk) {
    case VK_BACK: return Qt::Key_Backspace;
    case VK_TAB: return Qt::Key_Tab;
    case VK_RETURN: return Qt::Key_Return;
    case VK_SHIFT: return Qt::Key_Shift;
    case VK_CONTROL: return Qt::Key_Control;
    case VK_MENU: return Qt::Key_Alt;
    case VK_ESCAPE: return Qt::Key_Escape;
    case VK_SPACE: return Qt::Key_Space;
    case VK_PRIOR: return Qt::Key_PageUp;
    case VK_NEXT: return Qt::Key_PageDown;
    case VK_END: return Qt::Key_End;
    case VK_HOME: return Qt::Key_Home;
    case VK_LEFT: return Qt::Key_Left;
    case VK_UP: return Qt::Key_Up;
    case VK_RIGHT: return Qt::Key_Right;
    case VK_DOWN: return Qt::Key_Down;
    case VK_INSERT: return Qt::Key_Insert;
    case VK_DELETE: return Qt::Key_Delete;
    default: return 0;
    }
}

} // namespace host
