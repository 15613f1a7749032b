#pragma once
// Focus entering and leaving a control and its children, for the enter/exit
// handlers of panels and edits.

#include "controlhelpers.h"

#include <QObject>

class QWidget;

namespace host {

/// Runs `onEnter` when the focus moves into `watched` or one of its children
/// from outside, and `onExit` when it leaves them for a widget outside.
/// Focus moving into a modal box or a popup is not leaving: exit runs when
/// the focus lands on another widget of the window. Owned by `watched`.
class FocusTracker : public QObject {
    Q_OBJECT
public:
    explicit FocusTracker(QWidget* watched);
    Handler onEnter;
    Handler onExit;
    bool hasFocusInside() const { return inside_; }

    /// A tracker on `control` that runs the control's own enter and exit
    /// handlers, read when the focus moves so they may be set at any time.
    static void forward(QWidget* control, const Handler& onEnter, const Handler& onExit);

private:
    void focusChanged(QWidget* old, QWidget* now);
    QWidget* watched_;
    bool inside_ = false;
};

} // namespace host
