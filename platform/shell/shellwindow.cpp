#include "shellwindow.h"

#include "host/frmfiltropadrao.h"
#include "host/hostglobals.h"

#include "client/adoibquery.h"
#include "client/clientdataset.h"
#include "core/datapacket.h"
#include "client/hostapi.h"
#include "client/netconnection.h"
#include "client/session.h"

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
#include <QSqlQuery>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace shell {

ShellWindow::ShellWindow(const ShellConfig& config, QWidget* parent) : QMainWindow(parent), config_(config)
{
    setObjectName(QStringLiteral("frmPrincipal"));
    config_.applyToContext();

    area_ = new QMdiArea(this);
    area_->setObjectName(QStringLiteral("mdiArea"));
    area_->setBackground(QColor(96, 112, 134));
    setCentralWidget(area_);

    auto* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    file->addAction(QStringLiteral("&Abrir módulo..."), QKeySequence(Qt::CTRL | Qt::Key_M), this,
                    &ShellWindow::askModule);
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
    status_->setObjectName(QStringLiteral("lblSessao"));
    statusBar()->addWidget(status_);
    showSession();

    loader_.setFolder(config_.moduleDir.isEmpty() ? QCoreApplication::applicationDirPath() : config_.moduleDir);
    loader_.install();
    if (!config_.optionsFile.isEmpty())
        host::TfrmFiltroPadrao::setOptionsFile(config_.optionsFile);
    // Screen layouts go with the filter options, each under its operator.
    host::setLayoutFile(config_.optionsFile.isEmpty() ? QSettings(QSettings::IniFormat, QSettings::UserScope,
                                                                  QStringLiteral("Exp01800"), QStringLiteral("opcoes"))
                                                            .fileName()
                                                      : config_.optionsFile);
    core::setHost(&host_);
    core::setLogSink([](const QString& line) {
        const QString path = logFile();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::Append | QIODevice::Text, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            std::fprintf(stderr, "%s\n", qPrintable(line));
            return;
        }
        f.write((QDateTime::currentDateTime().toString(Qt::ISODate) + u' ' + line + u'\n').toUtf8());
    });
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
    host::setLayoutFile(QString());
    core::setLogSink(nullptr);
    core::setHost(nullptr);
    core::context().loadModule = nullptr;
}

QString ShellWindow::logFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("exp_shell.log"));
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
            core::dispatch(
                [&] { throw core::Error(QStringLiteral("Driver de banco indisponível: %1").arg(config_.dbDriver)); });
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
                throw core::Error(
                    QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(config_.dbName, why),
                    QStringLiteral("Não foi possível abrir o banco de dados do sistema; as consultas "
                                   "de filiais e rotas não vão funcionar. Verifique a seção [Banco] da "
                                   "configuração e se o banco está no ar, e abra o sistema de novo."));
            });
            return false;
        }
    }
    core::TDtmDBGeral::setConnectionName(name);
    return true;
}

bool ShellWindow::login()
{
    return startSession([&] {
        core::Transport& t = core::defaultTransport();
        if (!config_.credentialsFile.isEmpty()) {
            const core::Credentials c = core::readCredentialsFile(config_.credentialsFile);
            core::login(t, config_.serverHost, config_.serverPort, c.operador, c.senha);
            return true;
        }
        return core::loginInteractively(t, config_.serverHost, config_.serverPort, QString());
    });
}

bool ShellWindow::startSession(const std::function<bool()>& logIn)
{
    bool ok = false;
    core::dispatch([&] {
        ok = logIn();
        loggedIn_ = ok;
        if (ok)
            ok = chooseOwnBranch();
    });
    // The server may ask for a new password before anything else.
    if (ok && core::mustChangePassword())
        ok = changePassword(true);
    showSession();
    return ok;
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
    core::MensInfo(
        ended > 0 ? QStringLiteral("Senha trocada. %1 outra(s) sessão(ões) sua(s) foi(ram) encerrada(s).").arg(ended)
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
    loggedIn_ = false;
    showSession();
    return true;
}

bool ShellWindow::switchOperator()
{
    if (!endSession())
        return false;
    return startSession([&] {
        return core::loginInteractively(core::defaultTransport(), config_.serverHost, config_.serverPort,
                                        QStringLiteral("Entrar como outro operador."));
    });
}

bool ShellWindow::chooseOwnBranch()
{
    const QStringList own = core::context().filiaisOperador;
    if (own.isEmpty() || own.contains(QStringLiteral("*")) || own.contains(config_.filial))
        return true;
    const QString op = core::Operador();
    core::MensAviso(QStringLiteral("A filial %1, em uso neste terminal, não é uma das filiais do operador %2 (%3). "
                                   "Escolha a seguir a filial com que vai trabalhar.")
                        .arg(config_.filial, op, own.join(QStringLiteral(", "))));
    core::ClientDataset branches;
    branches.addString(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Filial"));
    branches.addString(QStringLiteral("NMFILIAL"), 30, QStringLiteral("Nome"));
    QList<core::FieldDef> defs;
    for (int i = 0; i < branches.fieldCount(); ++i)
        defs.append(branches.field(i).def());
    core::DataPacket rows(defs);
    for (const QString& code : own)
        rows.appendRow({core::Variant(code), core::Variant(branchName(code))});
    branches.loadFromPacket(rows);
    if (!core::host().pickRow(branches, QStringLiteral("Filiais do operador %1").arg(op),
                              QStringLiteral("O operador %1 não tem filiais.").arg(op))) {
        core::MensErro(QStringLiteral("Sem uma das filiais do operador %1 o sistema não pode ser usado. "
                                      "Entre de novo e escolha uma delas, ou peça acesso à filial %2.")
                           .arg(op, config_.filial),
                       false);
        return false;
    }
    config_.filial = branches.fieldByName(QStringLiteral("CDFILIAL")).asString();
    config_.nomeFilial = branches.fieldByName(QStringLiteral("NMFILIAL")).asString();
    core::context().filial = config_.filial;
    core::context().nomeFilial = config_.nomeFilial;
    return true;
}

QString ShellWindow::branchName(const QString& code) const
{
    if (code == config_.filial)
        return config_.nomeFilial;
    if (!QSqlDatabase::contains(databaseConnection()))
        return {};
    QSqlDatabase db = QSqlDatabase::database(databaseConnection(), false);
    if (!db.isOpen())
        return {};
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    q.addBindValue(code);
    return q.exec() && q.next() ? q.value(0).toString().trimmed() : QString();
}

void ShellWindow::showSession()
{
    QString title = QStringLiteral("Expedição - Filial %1").arg(config_.filial);
    if (!config_.nomeFilial.isEmpty())
        title += QStringLiteral(" - ") + config_.nomeFilial;
    setWindowTitle(title);
    // The operator shows once logged in: before that nobody is.
    QString text = QStringLiteral("Filial %1").arg(config_.filial);
    if (loggedIn_) {
        text += QStringLiteral("   Operador %1").arg(core::Operador());
        if (!core::context().nomeOperador.isEmpty())
            text += QStringLiteral(" - ") + core::context().nomeOperador;
    }
    text += QStringLiteral("   Servidor %1:%2").arg(config_.serverHost).arg(config_.serverPort);
    status_->setText(text);
}

bool ShellWindow::openModule(const QString& code)
{
    return core::dispatch([&] { loader_.open(code); });
}

QString ShellWindow::sessionText() const
{
    return status_->text();
}

bool ShellWindow::idle() const
{
    return host_.animationsShowing() == 0 && host_.busyDepth() == 0 && !QApplication::overrideCursor();
}

void ShellWindow::askModule()
{
    bool ok = false;
    const QString code =
        QInputDialog::getText(this, QStringLiteral("Abrir módulo"), QStringLiteral("Código do módulo:"),
                              QLineEdit::Normal, config_.module, &ok);
    if (ok && !code.trimmed().isEmpty())
        openModule(code.trimmed());
}

} // namespace shell
