#pragma once
// The host application's main window: an MDI area for the modules' screens,
// a menu to open a module by code, the session in the status bar. It
// installs the widget host services and the module loader for its lifetime.

#include "shellconfig.h"

#include "host/moduleloader.h"
#include "host/widgethost.h"

#include <QMainWindow>

#include <functional>

class QLabel;
class QMdiArea;

namespace shell {

class ShellWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ShellWindow(const ShellConfig& config, QWidget* parent = nullptr);
    ~ShellWindow() override;

    QMdiArea* area() const { return area_; }
    host::WidgetHost& widgetHost() { return host_; }
    host::ModuleLoader& loader() { return loader_; }
    const ShellConfig& config() const { return config_; }

    /// Opens a module by code (its IniProc); a failure is shown in one error
    /// box. True when the module opened.
    bool openModule(const QString& code);
    /// Opens the host database of the configuration; a failure is shown and
    /// the shell goes on without it. True when it opened (or none is set).
    bool openHostDatabase();
    /// Logs the operator in at the application server: from the credentials
    /// file when the configuration names one, else through the login dialog
    /// (three tries). Failures are shown; false when no session was opened.
    /// When the branch in use is not one of the operator's (the login answer
    /// lists them), says so and offers theirs: the one picked becomes the
    /// branch in use; false when none is picked.
    bool login();
    /// The status bar's text: branch, the operator once logged in, server.
    QString sessionText() const;
    /// An operator logged in through login().
    bool loggedIn() const { return loggedIn_; }
    /// The operator's own account (menu "Conta"): change the password
    /// (current, new, confirmation; the server ends the operator's other
    /// sessions); end the session; log in as another operator. The screens
    /// open close first; a screen that refuses to close keeps the session.
    /// `forced` (the server asked for a new password at login) offers no way
    /// around the change but leaving: cancelling ends the session. True when
    /// the password was changed.
    bool changePassword(bool forced = false);
    /// Ends the session after closing every screen; false when a screen stayed open.
    bool endSession();
    /// Ends the session and logs in again (another operator or the same).
    bool switchOperator();
    /// Connection name of the host database.
    static QString databaseConnection();
    /// The shell's log: the technical detail of every failure shown to the
    /// operator, one timestamped line each, in a file only its owner reads
    /// (QStandardPaths::AppLocalDataLocation, "exp_shell.log"). Installed
    /// for the window's life.
    static QString logFile();

    /// Nothing is running: no progress animation, no busy cursor.
    bool idle() const;

private:
    void askModule();
    /// Runs `logIn` (true when a session was opened), then the branch choice
    /// and, when the server asks for it, the password change; shows the session.
    bool startSession(const std::function<bool()>& logIn);
    bool chooseOwnBranch();
    QString branchName(const QString& code) const;
    void showSession();
    bool loggedIn_ = false;
    ShellConfig config_;
    QMdiArea* area_;
    host::WidgetHost host_;
    host::ModuleLoader loader_;
    QLabel* status_;
};

} // namespace shell
