#include "edit.h"

#include "focustracker.h"

#include <QApplication>

namespace host {

namespace {

const QColor kInfoBk(255, 255, 225);

} // namespace

TEdit::TEdit(const QString& objectName, QWidget* parent) : QLineEdit(parent)
{
    setObjectName(objectName);
    FocusTracker::forward(this, onEnter, onExit);
    connect(this, &QLineEdit::textChanged, this, [this] { runHandler(onChange); });
}

void TEdit::setInfoBackground(bool on)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, on ? kInfoBk : QApplication::palette().color(QPalette::Base));
    setPalette(p);
}

} // namespace host
