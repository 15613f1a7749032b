#include "focustracker.h"

#include <QApplication>
#include <QWidget>

namespace host {

namespace {

// The form a widget belongs to: the nearest base screen, dialog or window.
QWidget* formOf(QWidget* w)
{
    while (w) {
        if (w->isWindow() || w->property("hostForm").toBool())
            return w;
        w = w->parentWidget();
    }
    return nullptr;
}

} // namespace

FocusTracker::FocusTracker(QWidget* watched) : QObject(watched), watched_(watched)
{
    connect(qApp, &QApplication::focusChanged, this, &FocusTracker::focusChanged);
}

void FocusTracker::focusChanged(QWidget* /*old*/, QWidget* now)
{
    if (!now)
        return; // the application lost the focus: nothing left the control yet
    const bool nowInside = now == watched_ || watched_->isAncestorOf(now);
    if (nowInside && !inside_) {
        inside_ = true;
        runHandler(onEnter);
    } else if (!nowInside && inside_) {
        // A modal box, a popup or another form taking the focus is not
        // leaving: the focus comes back here when it closes.
        if (formOf(now) != formOf(watched_))
            return;
        inside_ = false;
        runHandler(onExit);
    }
}

void FocusTracker::forward(QWidget* control, const Handler& onEnter, const Handler& onExit)
{
    auto* t = new FocusTracker(control);
    t->onEnter = [&onEnter] {
        if (onEnter)
            onEnter();
    };
    t->onExit = [&onExit] {
        if (onExit)
            onExit();
    };
}

} // namespace host
