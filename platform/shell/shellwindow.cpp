#include "shellwindow.h"

#include "host/frmfiltropadrao.h"
#include "host/hostglobals.h"

#include "core/adoibquery.h"
#include "core/hostapi.h"
#include "core/netconnection.h"
#include "core/session.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
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
    auto* account = menuBar()->addMenu(QStringLiteral("&Conta"));
    account->setObjectName(QStringLiteral("mnuConta"));
    account->addAction(QStringLiteral("&Trocar senha..."), this, [this] { changePassword(); })
        ->setObjectName(QStringLiteral("mnuTrocarSenha"));
    account->addAction(QStringLiteral("Entrar como &outro operador..."), this, [this] { switchOperator(); })
        ->setObjectName(QStringLiteral("mnuOutroOperador"));
    account->addAction(QStringLiteral("&Encerrar sessão"), this, [this] { endSession(); })
        ->setObjectName(QStringLiteral("mnuEncerrarSessao"));
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
    // The server may ask for a new password before anything else.
    if (ok && core::mustChangePassword())
        ok = changePassword(true);
    showSession();
    return ok;
}

void ShellWindow::showSession()
{
    if (core::context().sessionToken.isEmpty()) {
        status_->setText(QStringLiteral("Filial %1   Sem sessão   Servidor %2:%3")
                             .arg(config_.filial, config_.serverHost)
                             .arg(config_.serverPort));
        return;
    }
    status_->setText(QStringLiteral("Filial %1   Operador %2%3   Servidor %4:%5")
                         .arg(config_.filial, core::Operador(),
                              core::context().nomeOperador.isEmpty() ? QString() : " - " + core::context().nomeOperador,
                              config_.serverHost)
                         .arg(config_.serverPort));
}

bool ShellWindow::changePassword(bool forced)
{
    QDialog dlg(this);
    dlg.setObjectName(QStringLiteral("frmTrocaSenha"));
    dlg.setWindowTitle(QStringLiteral("Trocar senha - %1").arg(core::Operador()));
    auto* lay = new QFormLayout(&dlg);
    if (forced)
        lay->addRow(new QLabel(QStringLiteral("O servidor pede uma nova senha antes de continuar."), &dlg));
    auto field = [&](const char* name, const QString& label) {
        auto* e = new QLineEdit(&dlg);
        e->setObjectName(QString::fromLatin1(name));
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(256);
        lay->addRow(label, e);
        return e;
    };
    QLineEdit* atual = field("edtSenhaAtual", QStringLiteral("Senha atual:"));
    QLineEdit* nova = field("edtNovaSenha", QStringLiteral("Nova senha:"));
    QLineEdit* confirma = field("edtConfirmaSenha", QStringLiteral("Repita a nova senha:"));
    auto* why = new QLabel(&dlg);
    why->setObjectName(QStringLiteral("lblMotivo"));
    why->setStyleSheet(QStringLiteral("color: #b00000"));
    why->setWordWrap(true);
    lay->addRow(why);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("btnOk"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancelar"));
    lay->addRow(box);
    int ended = -1;
    QObject::connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    QObject::connect(box, &QDialogButtonBox::accepted, &dlg, [&] {
        if (nova->text() != confirma->text()) {
            why->setText(QStringLiteral("A confirmação não confere com a nova senha."));
            return;
        }
        try {
            ended = core::changePassword(core::defaultTransport(), config_.serverHost, config_.serverPort,
                                         atual->text(), nova->text());
            dlg.accept();
        } catch (const core::Error& e) {
            why->setText(e.message()); // the server's rule or refusal; the dialog stays for another try
        }
    });
    core::host().runModal(dlg);
    if (ended < 0) {
        if (forced)
            endSession();
        return false;
    }
    core::MensInfo(ended > 0 ? QStringLiteral("Senha trocada. %1 outra(s) sessão(ões) sua(s) foi(ram) encerrada(s).")
                                   .arg(ended)
                             : QStringLiteral("Senha trocada."));
    return true;
}

bool ShellWindow::endSession()
{
    area_->closeAllSubWindows();
    if (!area_->subWindowList().isEmpty())
        return false;
    core::dispatch([&] { core::logout(core::defaultTransport(), config_.serverHost, config_.serverPort); });
    core::context().sessionToken.clear();
    showSession();
    return true;
}

bool ShellWindow::switchOperator()
{
    if (!endSession())
        return false;
    bool ok = false;
    core::dispatch([&] {
        ok = core::loginInteractively(core::defaultTransport(), config_.serverHost, config_.serverPort,
                                      QStringLiteral("Entrar como outro operador."));
    });
    if (ok && core::mustChangePassword())
        ok = changePassword(true);
    showSession();
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
