#include "radiobutton.h"

namespace host {

TRadioButton::TRadioButton(const QString& objectName, const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent)
{
    setObjectName(objectName);
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on)
            runHandler(onClick);
    });
}

} // namespace host
