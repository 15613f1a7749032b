#include "panel.h"

#include "focustracker.h"

namespace host {

TPanel::TPanel(const QString& objectName, QWidget* parent) : QFrame(parent)
{
    setObjectName(objectName);
    FocusTracker::forward(this, onEnter, onExit);
}

} // namespace host
