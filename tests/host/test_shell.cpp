// The shell: configuration, opening modules by code, closing them, and
// the clear refusal of a missing module or entry.

#include "hosttestutil.h"

#include "shell/shellconfig.h"
#include "shell/shellwindow.h"

#include "host/frmpadrao.h"
#include "host/hostglobals.h"

#include "core/errors.h"
#include "client/hostapi.h"
#include "client/httptransport.h"
#include "doubles/scriptedhost.h"
#include "client/session.h"

#include <server/appserver.h>
#include <server/schema.h>
#include <support/testsession.h>

#include <QAction>
#include <QLibrary>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <thread>

namespace {

shell::ShellConfig sampleConfig()
{
    shell::ShellConfig c;
    c.moduleDir = QStringLiteral(EXP_MODULE_DIR);
    c.filial = "0002";
    c.nomeFilial = "FILIAL SUL";
    c.operador = "TESTE";
    return c;
}

} // namespace

TEST(ShellConfig, IniFileThenOptions)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("shell.ini");
    {
        std::ofstream f(ini.toStdString());
        f << "[Contexto]\nFilial=0007\nNomeFilial=Filial Sete\nModuFili=sim\nOperador=ANA\n"
             "[Servidor]\nEndereco=10.0.0.5\nPorta=9000\n"
             "[Banco]\nDriver=QSQLITE\nNome=host.db\n"
             "[Modulos]\nPasta=mods\nAbrir=EXP01800\n";
    }
    shell::ShellConfig c;
    EXPECT_EQ(c.applyArguments({"--config", ini, "--operador", "BIA", "--server", "srv:8300"}), "");
    EXPECT_EQ(c.filial, "0007");
    EXPECT_EQ(c.nomeFilial, "Filial Sete");
    EXPECT_TRUE(c.moduFili);
    EXPECT_EQ(c.operador, "BIA");
    EXPECT_EQ(c.serverHost, "srv");
    EXPECT_EQ(c.serverPort, 8300);
    EXPECT_EQ(c.dbName, dir.filePath("host.db")); // relative to the INI file
    EXPECT_EQ(c.moduleDir, dir.filePath("mods"));
    EXPECT_EQ(c.module, "EXP01800");

    c.applyToContext();
    EXPECT_EQ(core::FiliProc(), "0007");
    EXPECT_EQ(core::WebPort(), 8300);
    EXPECT_TRUE(core::ModuFili());
    core::context() = core::HostContext{};
}

TEST(ShellConfig, HttpsServerAndItsAuthority)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("shell.ini");
    {
        std::ofstream f(ini.toStdString());
        f << "[Servidor]\nEndereco=https://exp.empresa.local\nPorta=8443\nCA=certs/ca.pem\n";
    }
    shell::ShellConfig c;
    EXPECT_EQ(c.applyArguments({"--config", ini}), "");
    EXPECT_EQ(c.serverHost, "https://exp.empresa.local");
    EXPECT_EQ(c.serverPort, 8443);
    EXPECT_EQ(c.serverCa, dir.filePath("certs/ca.pem")); // relative to the INI file
    EXPECT_EQ(c.applyArguments({"--server", "https://proxy:9443", "--server-ca", "/etc/exp/ca.pem"}), "");
    EXPECT_EQ(c.serverHost, "https://proxy");
    EXPECT_EQ(c.serverPort, 9443);
    EXPECT_EQ(c.applyArguments({"--server", "https://only-name"}), ""); // the scheme's colon is no port
    EXPECT_EQ(c.serverHost, "https://only-name");
    EXPECT_EQ(c.serverPort, 9443);
    EXPECT_FALSE(c.applyArguments({"--server-ca"}).isEmpty());

    const QString before = core::HttpTransport::shared().caFile();
    c.applyToContext();
    EXPECT_EQ(core::WebURL(), "https://only-name");
    EXPECT_EQ(core::HttpTransport::shared().caFile(), "/etc/exp/ca.pem");
    core::HttpTransport::shared().setCaFile(before);
    core::context() = core::HostContext{};
}

TEST(ShellConfig, BadOptionsAreReportedClearly)
{
    shell::ShellConfig c;
    EXPECT_TRUE(c.applyArguments({"--nada"}).contains("--nada"));
    EXPECT_FALSE(c.applyArguments({"--server", "srv:abc"}).isEmpty());
    EXPECT_FALSE(c.applyArguments({"--module"}).isEmpty());
    EXPECT_FALSE(c.applyArguments({"--config", "/nao/existe.ini"}).isEmpty());
    EXPECT_EQ(c.serverHost, "127.0.0.1"); // a refused option changed nothing
}

TEST(Shell, OpensTheSampleModuleByCodeAndClosesIt)
{
    shell::ShellWindow w(sampleConfig());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(host::mainWindow(), &w);
    EXPECT_EQ(host::mdiArea(), w.area());

    ASSERT_TRUE(w.openModule("SAMPLE"));
    ASSERT_EQ(w.area()->subWindowList().size(), 1);
    QMdiSubWindow* sub = w.area()->subWindowList().first();
    auto* form = qobject_cast<host::TfrmPadrao*>(sub->widget());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->lblCodTela->text(), "SAMPLE");
    EXPECT_EQ(form->dbgPadrao->model()->rowCount(), 40); // its first activation loaded
    EXPECT_EQ(form->findChild<host::TMaskEdit*>("medFilial")->text(), "0002");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.idle(); }, 3000));

    EXPECT_TRUE(w.openModule("SAMPLE")); // the second call brings the same screen forward
    EXPECT_EQ(w.area()->subWindowList().size(), 1);

    QPointer<host::TfrmPadrao> gone = form;
    form->sbtFechar->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone.isNull(); }, 2000));
    EXPECT_TRUE(w.area()->subWindowList().isEmpty());

    ASSERT_TRUE(w.openModule("SAMPLE")); // a new instance after closing
    EXPECT_EQ(w.area()->subWindowList().size(), 1);
    w.area()->closeAllSubWindows();
}

TEST(Shell, MissingModuleOrEntryGivesOneClearError)
{
    shell::ShellWindow w(sampleConfig());
    core::ScriptedHost h; // replaces the widget host for this test
    EXPECT_FALSE(w.openModule("NOPE"));
    ASSERT_EQ(h.shown().size(), 1);
    EXPECT_EQ(h.shown().at(0).msgKind, core::MsgKind::Error);
    EXPECT_TRUE(h.shown().at(0).text.contains("NOPE"));
    EXPECT_TRUE(h.shown().at(0).text.contains(QString::fromUtf8("não encontrado")));

    h.clearShown();
    EXPECT_FALSE(w.openModule("NOENTRY"));
    ASSERT_EQ(h.shown().size(), 1);
    EXPECT_TRUE(h.shown().at(0).text.contains("IniProc"));

    h.clearShown();
    EXPECT_FALSE(w.openModule("../../etc/x"));
    ASSERT_EQ(h.shown().size(), 1);
    EXPECT_TRUE(w.area()->subWindowList().isEmpty());
}

TEST(Shell, MissingModuleBoxThroughTheRealWidgets)
{
    shell::ShellWindow w(sampleConfig());
    w.show();
    int boxes = 0;
    QString text;
    hosttest::onModal([&](QWidget* m) {
        ++boxes;
        text = static_cast<QMessageBox*>(m)->text();
        QTest::keyClick(m, Qt::Key_Return);
    });
    EXPECT_FALSE(w.openModule("NOPE"));
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(text.contains("NOPE"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(Shell, LoadBPLPassesTheParameterToLoadProc)
{
    shell::ShellWindow w(sampleConfig());
    core::LoadBPL("SAMPLE", core::Variant("M"));
    QLibrary lib(w.loader().libraryPath("SAMPLE"));
    ASSERT_TRUE(lib.load());
    auto last = reinterpret_cast<const char16_t* (*)()>(lib.resolve("SampleLastParam"));
    auto loads = reinterpret_cast<int (*)()>(lib.resolve("SampleLoads"));
    ASSERT_TRUE(last && loads);
    EXPECT_EQ(QString::fromUtf16(last()), "M");
    EXPECT_GE(loads(), 1);
    EXPECT_THROW(core::LoadBPL("NOENTRY", core::Variant("M")), core::Error);
}

TEST(Shell, ModuleFolderOthersCanWriteIsRefused)
{
    QTemporaryDir dir;
    const QString lib = dir.filePath(QStringLiteral("PKG_SAMPLE.so"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(EXP_MODULE_DIR "/PKG_SAMPLE.so"), lib));
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto readers = QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    shell::ShellConfig c = sampleConfig();
    c.moduleDir = dir.path();
    shell::ShellWindow w(c);
    core::ScriptedHost h;
    for (const auto& [folder, file] : {std::pair{owner | readers | QFile::WriteOther, owner | readers},
                                       std::pair{owner | readers | QFile::WriteGroup, owner | readers},
                                       std::pair{owner | readers, owner | readers | QFile::WriteOther}}) {
        QFile::setPermissions(dir.path(), folder);
        QFile::setPermissions(lib, file);
        h.clearShown();
        EXPECT_FALSE(w.openModule("SAMPLE"));
        ASSERT_EQ(h.shown().size(), 1);
        EXPECT_TRUE(h.shown().at(0).text.contains(QStringLiteral("outros usuários")))
            << qPrintable(h.shown().at(0).text);
    }
    QFile::setPermissions(dir.path(), owner | readers);
    QFile::setPermissions(lib, owner | readers);
    EXPECT_TRUE(w.openModule("SAMPLE"));
    w.area()->closeAllSubWindows();
}

TEST(ShellConfig, DatabasePasswordOnlyFromAnOwnerOnlyFile)
{
    shell::ShellConfig c;
    EXPECT_FALSE(c.applyArguments({"--db-password", "segredo"}).isEmpty());
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("shell.ini"));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Banco]\nSenha=segredo\n[Sessao]\nCredenciais=cred\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    EXPECT_THROW(c.readIni(ini), core::Error);
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    c.readIni(ini);
    EXPECT_EQ(c.dbPassword, QStringLiteral("segredo"));
    EXPECT_EQ(c.credentialsFile, dir.filePath(QStringLiteral("cred")));
}

namespace {
// An application server on a free port over a fresh SQLite database whose one
// operator, ANA, may use `branches`; it serves on its own thread until the
// test ends.
struct LocalServer {
    explicit LocalServer(const QStringList& branches) : db(server::DbConfig::parse("sqlite:" + dir.filePath("srv.db")))
    {
        server::migrateSchema(db);
        testsupport::ensureOperator(db, "ANA", testsupport::kPassword, branches);
        server::ServerOptions o;
        o.port = 0;
        o.threads = 2;
        o.log = false;
        srv.emplace(db, o);
        srv->bind();
        runner = std::thread([this] { srv->run(); });
    }
    ~LocalServer()
    {
        srv->stop();
        runner.join();
    }
    int port() const { return srv->port(); }

    QTemporaryDir dir;
    server::Database db;
    std::optional<server::AppServer> srv;
    std::thread runner;
};
} // namespace

TEST(Shell, LogsInFromItsCredentialsFileOrThroughTheDialog)
{
    LocalServer srv({"0002"});
    QTemporaryDir& dir = srv.dir;

    shell::ShellConfig c = sampleConfig();
    c.serverPort = srv.port();
    const QString cred = dir.filePath("credenciais");
    {
        QFile f(cred);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("Operador=ana\nSenha=" + testsupport::kPassword + "\n").toUtf8());
    }
    QFile::setPermissions(cred, QFile::ReadOwner | QFile::WriteOwner);
    c.credentialsFile = cred;
    {
        shell::ShellWindow w(c);
        core::ScriptedHost h;
        EXPECT_TRUE(w.login());
        EXPECT_EQ(core::Operador(), "ANA"); // the logged-in operator, not the configured one
        EXPECT_FALSE(core::context().sessionToken.isEmpty());
        EXPECT_TRUE(h.shown().isEmpty());
    }
    {
        c.credentialsFile.clear();
        shell::ShellWindow w(c);
        core::ScriptedHost h;
        h.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };
        h.login("ANA", "errada-errada").login("ANA", "errada-errada").login("ANA", "errada-errada");
        EXPECT_FALSE(w.login());
        EXPECT_TRUE(h.messageTexts().last().contains("Tentativas esgotadas"));
        h.clearShown();
        h.cancelLogin();
        EXPECT_FALSE(w.login());
        h.login("ana", testsupport::kPassword);
        EXPECT_TRUE(w.login());
        EXPECT_EQ(core::Operador(), "ANA");
    }
    core::logout(core::HttpTransport::shared(), "127.0.0.1", srv.port());
    EXPECT_TRUE(core::context().sessionToken.isEmpty());
}

TEST(Shell, AnOperatorWithoutTheBranchInUseIsToldAndPicksOneOfTheirs)
{
    LocalServer srv({"0004", "0003"});

    shell::ShellConfig c; // as the demo starts it: branch 0001, nobody suggested
    c.moduleDir = QStringLiteral(EXP_MODULE_DIR);
    c.serverPort = srv.port();
    {
        shell::ShellWindow w(c);
        core::ScriptedHost h;
        h.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };
        EXPECT_FALSE(w.sessionText().contains("Operador")); // nobody is logged in yet
        h.login("ana", testsupport::kPassword).pickRow(1);
        EXPECT_TRUE(w.login());
        ASSERT_GE(h.shown().size(), 3);
        EXPECT_EQ(h.shown().at(0).title, ""); // the dialog suggested no operator
        EXPECT_EQ(h.shown().at(1).text,
                  "A filial 0001, em uso neste terminal, não é uma das filiais do operador ANA (0003, 0004). "
                  "Escolha a seguir a filial com que vai trabalhar.");
        EXPECT_EQ(h.shown().at(2).kind, "pick");
        EXPECT_EQ(core::FiliProc(), "0004");
        EXPECT_TRUE(w.sessionText().startsWith("Filial 0004   Operador ANA")) << w.sessionText().toStdString();
        EXPECT_TRUE(w.windowTitle().contains("0004"));

        h.clearShown();
        h.login("ana", testsupport::kPassword);
        EXPECT_TRUE(w.login()); // 0004 is in use now: nothing to pick
        EXPECT_EQ(h.shown().size(), 1);
    }
    {
        shell::ShellWindow w(c); // branch 0001 again; the operator picks none
        core::ScriptedHost h;
        h.login("ana", testsupport::kPassword).pickNothing();
        EXPECT_FALSE(w.login());
        EXPECT_TRUE(h.messageTexts().last().startsWith("Sem uma das filiais do operador ANA"));
    }
    core::logout(core::HttpTransport::shared(), "127.0.0.1", srv.port());
}

// The operator changes their password through the account menu, typing in
// the dialog; the server ends the operator's other session (its next call is
// refused) and keeps the one that changed it.
TEST(Shell, ChangingThePasswordFromTheAccountMenuEndsTheOperatorsOtherSession)
{
    LocalServer srv({"0002"});
    core::HttpTransport& http = core::HttpTransport::shared();
    const QString other = http.login("127.0.0.1", srv.port(), "ANA", testsupport::kPassword).token;
    auto callAs = [&](const QString& token) {
        core::CallRequest r{
            "Exp01800.rdmCancelNota", "GetExp", {core::Variant(QStringLiteral("0002"))}, {false}, token};
        http.call("127.0.0.1", srv.port(), r);
    };
    ASSERT_NO_THROW(callAs(other));

    shell::ShellConfig c = sampleConfig();
    c.serverPort = srv.port();
    shell::ShellWindow w(c);
    core::ScriptedHost h;
    h.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };
    h.login("ana", testsupport::kPassword);
    ASSERT_TRUE(w.login());

    const QString nova = QStringLiteral("nova-senha-da-ana");
    h.inspectForm = [&](QObject& form) {
        auto* dlg = qobject_cast<QWidget*>(&form);
        ASSERT_NE(dlg, nullptr);
        for (auto [name, text] : {std::pair{"edtSenhaAtual", testsupport::kPassword}, std::pair{"edtNovaSenha", nova},
                                  std::pair{"edtConfirmaSenha", nova}})
            QTest::keyClicks(dlg->findChild<QLineEdit*>(name), text);
    };
    h.formClick("btnOk");
    QAction* trocar = w.findChild<QAction*>("mnuTrocarSenha");
    ASSERT_NE(trocar, nullptr);
    trocar->trigger();

    ASSERT_FALSE(h.messageTexts().isEmpty());
    EXPECT_EQ(h.messageTexts().last(), "Senha trocada. 1 outra(s) sessão(ões) sua(s) foi(ram) encerrada(s).");
    EXPECT_THROW(callAs(other), core::SessionError);
    EXPECT_NO_THROW(callAs(core::context().sessionToken)) << "the session that changed it goes on";
    EXPECT_FALSE(http.login("127.0.0.1", srv.port(), "ANA", nova).token.isEmpty());
    core::logout(http, "127.0.0.1", srv.port());
}
