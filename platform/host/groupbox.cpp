#include "groupbox.h"

namespace host {

TGroupBox::TGroupBox(const QString& objectName, const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    setObjectName(objectName);
}

} // namespace host
