#include "shellwindow.h"

#include "host/frmfiltropadrao.h"
#include "host/hostglobals.h"

#include "core/adoibquery.h"
#include "core/hostapi.h"
#include "core/netconnection.h"
#include "core/session.h"

#include <QApplication>
#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStatusBar>

namespace shell {

ShellWindow::ShellWindow(const ShellConfig& config, QWidget* parent) : QMainWindow(parent), config_(config)
{
    setObjectName(QStringLiteral("frmPrincipal"));
    config_.applyToContext();
    QString title = QStringLiteral("Expedição - Filial %1").arg(config_.filial);
    if (!config_.nomeFilial.isEmpty())
        title += QStringLiteral(" - ") + config_.nomeFilial;
    setWindowTitle(title);

    area_ = new QMdiArea(this);
    area_->setObjectName(QStringLiteral("mdiArea"));
    area_->setBackground(QColor(96, 112, 134));
    setCentralWidget(area_);

    auto* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    file->addAction(QStringLiteral("&Abrir módulo..."), QKeySequence(Qt::CTRL | Qt::Key_M), this, &ShellWindow::askModule);
    file->addSeparator();
    file->addAction(QStringLiteral("&Sair"), this, &QWidget::close);
    auto* win = menuBar()->addMenu(QStringLiteral("&Janela"));
    win->addAction(QStringLiteral("&Cascata"), area_, &QMdiArea::cascadeSubWindows);
    win->addAction(QStringLiteral("&Lado a lado"), area_, &QMdiArea::tileSubWindows);
    win->addAction(QStringLiteral("&Fechar todas"), area_, &QMdiArea::closeAllSubWindows);

    status_ = new QLabel(this);
    status_->setText(QStringLiteral("Filial %1   Operador %2   Servidor %3:%4")
                         .arg(config_.filial, config_.operador, config_.serverHost)
                         .arg(config_.serverPort));
    statusBar()->addWidget(status_);

    loader_.setFolder(config_.moduleDir.isEmpty() ? QCoreApplication::applicationDirPath() : config_.moduleDir);
    loader_.install();
    if (!config_.optionsFile.isEmpty())
        host::TfrmFiltroPadrao::setOptionsFile(config_.optionsFile);
    core::setHost(&host_);
    host::setMainWindow(this, area_);
    resize(host::Px(1024), host::Px(700));
}

ShellWindow::~ShellWindow()
{
    // Screens go first, while the services they call still exist.
    area_->closeAllSubWindows();
    for (QMdiSubWindow* w : area_->subWindowList())
        delete w;
    host::setMainWindow(nullptr, nullptr);
    core::setHost(nullptr);
    core::context().loadModule = nullptr;
}

QString ShellWindow::databaseConnection()
{
    return QStringLiteral("dtmDBGeral");
}

bool ShellWindow::openHostDatabase()
{
    if (config_.dbName.isEmpty())
        return true;
    const QString name = databaseConnection();
    {
        QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                       : QSqlDatabase::addDatabase(config_.dbDriver, name);
        if (!db.isValid()) {
            core::dispatch([&] {
                throw core::Error(QStringLiteral("Driver de banco indisponível: %1").arg(config_.dbDriver));
            });
            return false;
        }
        db.setDatabaseName(config_.dbName);
        if (!config_.dbHost.isEmpty())
            db.setHostName(config_.dbHost);
        if (config_.dbPort > 0)
            db.setPort(config_.dbPort);
        if (!config_.dbUser.isEmpty())
            db.setUserName(config_.dbUser);
        if (!config_.dbPassword.isEmpty())
            db.setPassword(config_.dbPassword);
        if (!db.open()) {
            const QString why = db.lastError().text();
            core::dispatch([&] {
                throw core::Error(QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(config_.dbName, why));
            });
            return false;
        }
    }
    core::TDtmDBGeral::setConnectionName(name);
    return true;
}

bool ShellWindow::login()
{
    bool ok = false;
    core::dispatch([&] {
        core::Transport& t = core::defaultTransport();
        if (!config_.credentialsFile.isEmpty()) {
            const core::Credentials c = core::readCredentialsFile(config_.credentialsFile);
            core::login(t, config_.serverHost, config_.serverPort, c.operador, c.senha);
            ok = true;
        } else {
            ok = core::loginInteractively(t, config_.serverHost, config_.serverPort, QString());
        }
    });
    status_->setText(QStringLiteral("Filial %1   Operador %2%3   Servidor %4:%5")
                         .arg(config_.filial, core::Operador(),
                              core::context().nomeOperador.isEmpty() ? QString() : " - " + core::context().nomeOperador,
                              config_.serverHost)
                         .arg(config_.serverPort));
    return ok;
}

bool ShellWindow::openModule(const QString& code)
{
    return core::dispatch([&] { loader_.open(code); });
}

bool ShellWindow::idle() const
{
    return host_.animationsShowing() == 0 && host_.busyDepth() == 0 && !QApplication::overrideCursor();
}

void ShellWindow::askModule()
{
    bool ok = false;
    const QString code = QInputDialog::getText(this, QStringLiteral("Abrir módulo"), QStringLiteral("Código do módulo:"),
                                               QLineEdit::Normal, config_.module, &ok);
    if (ok && !code.trimmed().isEmpty())
        openModule(code.trimmed());
}

} // namespace shell
