#pragma once
// Page control: a tab widget whose pages (TabSheet) carry an enabled flag
// that also disables their tab, so the user cannot switch to a disabled page.
//
// The change handler runs when the USER switches pages (mouse, keyboard,
// Ctrl+Tab). Setting the active page from code (setActivePage) does NOT run
// it, as in the platform the screens were written for; code that wants the
// handler after a switch calls it itself. Disabling the page that is active
// keeps it active (Qt would move to another tab): only switching TO a
// disabled page is refused.

#include <QTabWidget>

#include <functional>

namespace host {

class TPageControl;

class TabSheet : public QWidget {
    Q_OBJECT
public:
    /// Creates the page and appends it to `pages` with `caption`.
    TabSheet(const QString& objectName, const QString& caption, TPageControl* pages);

    TPageControl* pageControl() const { return pages_; }
    QString caption() const;
    void setCaption(const QString& c);
    /// The page's own flag (its tab follows it); independent of the page
    /// control's enabled state.
    bool pageEnabled() const;
    int pageIndex() const;

protected:
    void changeEvent(QEvent* e) override;

private:
    TPageControl* pages_;
};

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(const QString& objectName, QWidget* parent = nullptr);

    TabSheet* activePage() const;
    /// Makes `page` the active page without running the change handler.
    /// A disabled page can be made active by code.
    void setActivePage(TabSheet* page);
    TabSheet* page(int i) const;
    int pageCount() const { return count(); }

    /// Runs (through core::dispatch) after the user switched pages.
    std::function<void()> onChange;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    friend class TabSheet;
    /// Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgUp, Ctrl+PgDn.
    static bool isPageSwitchKey(const QKeyEvent* e);
    /// Moves the focus to the tab bar when it is inside the active page.
    void keepFocusOut();
    void syncTab(TabSheet* page);
    void onCurrentChanged(int index);
    bool codeSwitch_ = false;
    int lastIndex_ = -1;
};

} // namespace host
