#include "speedbutton.h"

namespace host {

TSpeedButton::TSpeedButton(const QString& objectName, QWidget* parent, const QString& hint) : QToolButton(parent)
{
    setObjectName(objectName);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus); // flat tool buttons never take the focus
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (!hint.isEmpty())
        setToolTip(hint);
    connect(this, &QToolButton::clicked, this, [this] { runHandler(onClick); });
}

void TSpeedButton::Click()
{
    if (isEnabled())
        click();
}

} // namespace host
