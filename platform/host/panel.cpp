#include "panel.h"

#include "focustracker.h"

namespace host {

TPanel::TPanel(const QString& objectName, QWidget* parent) : QFrame(parent)
{
    setObjectName(objectName);
    auto* t = new FocusTracker(this);
    t->onEnter = [this] {
        if (onEnter)
            onEnter();
    };
    t->onExit = [this] {
        if (onExit)
            onExit();
    };
}

} // namespace host
