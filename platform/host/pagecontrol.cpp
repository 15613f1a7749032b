#include "pagecontrol.h"

#include "client/hostapi.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QTabBar>

namespace host {

TabSheet::TabSheet(const QString& objectName, const QString& caption, TPageControl* pages)
    : QWidget(pages), pages_(pages)
{
    setObjectName(objectName);
    pages->addTab(this, caption);
}

QString TabSheet::caption() const
{
    const int i = pageIndex();
    return i >= 0 ? pages_->tabText(i) : QString();
}

void TabSheet::setCaption(const QString& c)
{
    const int i = pageIndex();
    if (i >= 0)
        pages_->setTabText(i, c);
}

bool TabSheet::pageEnabled() const
{
    // The page's own flag, not the one inherited from the page control.
    return !testAttribute(Qt::WA_ForceDisabled);
}

int TabSheet::pageIndex() const
{
    return pages_ ? pages_->indexOf(const_cast<TabSheet*>(this)) : -1;
}

void TabSheet::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange && pages_)
        pages_->syncTab(this);
}

TPageControl::TPageControl(const QString& objectName, QWidget* parent) : QTabWidget(parent)
{
    setObjectName(objectName);
    // A click on a tab takes the focus to the tab bar before the page is
    // switched, so hiding the outgoing page never pushes the focus on to the
    // next control of the window (whose enter handler would then run).
    tabBar()->setFocusPolicy(Qt::StrongFocus);
    connect(this, &QTabWidget::currentChanged, this, &TPageControl::onCurrentChanged);
}

void TPageControl::keepFocusOut()
{
    QWidget* focus = QApplication::focusWidget();
    QWidget* current = currentWidget();
    if (focus && current && current->isAncestorOf(focus))
        tabBar()->setFocus(Qt::OtherFocusReason);
}

bool TPageControl::isPageSwitchKey(const QKeyEvent* e)
{
    if (!(e->modifiers() & Qt::ControlModifier))
        return false;
    switch (e->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return false;
    }
}

void TPageControl::keyPressEvent(QKeyEvent* e)
{
    // Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgUp/PgDn switch pages from inside one;
    // only they take the focus out of the page. Any other key that reaches
    // here (Ctrl alone, Ctrl+Space a grid left unhandled...) leaves the
    // focus where it is, so the next key still goes to the focused control.
    if (isPageSwitchKey(e))
        keepFocusOut();
    QTabWidget::keyPressEvent(e);
}

TabSheet* TPageControl::activePage() const
{
    return qobject_cast<TabSheet*>(currentWidget());
}

TabSheet* TPageControl::page(int i) const
{
    return qobject_cast<TabSheet*>(widget(i));
}

void TPageControl::setActivePage(TabSheet* page)
{
    const int i = indexOf(page);
    if (i < 0 || i == currentIndex())
        return;
    keepFocusOut();
    const bool saved = codeSwitch_;
    codeSwitch_ = true;
    setCurrentIndex(i);
    codeSwitch_ = saved;
}

void TPageControl::syncTab(TabSheet* page)
{
    const int i = indexOf(page);
    if (i < 0)
        return;
    const bool enabled = page->pageEnabled();
    if (tabBar()->isTabEnabled(i) == enabled)
        return;
    // QTabBar moves away from a current tab that gets disabled; the page
    // control keeps it active instead (only the switch TO it is refused).
    const int current = currentIndex();
    const bool saved = codeSwitch_;
    codeSwitch_ = true;
    tabBar()->setTabEnabled(i, enabled);
    if (currentIndex() != current)
        setCurrentIndex(current);
    codeSwitch_ = saved;
}

void TPageControl::onCurrentChanged(int index)
{
    const int previous = lastIndex_;
    lastIndex_ = index;
    if (codeSwitch_ || index == previous)
        return;
    if (onChange)
        core::dispatch(onChange);
}

} // namespace host
