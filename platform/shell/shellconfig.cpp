#include "shellconfig.h"

#include "core/errors.h"
#include "client/hostapi.h"
#include "client/httptransport.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace shell {

namespace {
bool parseBool(const QString& v)
{
    const QString t = v.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("s") || t == QLatin1String("sim")
        || t == QLatin1String("yes");
}
} // namespace

void ShellConfig::readIni(const QString& path)
{
    if (!QFileInfo::exists(path))
        throw core::Error(QStringLiteral("Arquivo de configuração não encontrado: %1").arg(path));
    QSettings s(path, QSettings::IniFormat);
    if (s.status() != QSettings::NoError)
        throw core::Error(QStringLiteral("Arquivo de configuração ilegível: %1").arg(path));
    auto str = [&](const char* key, QString& out) {
        const QString k = QString::fromLatin1(key);
        if (s.contains(k))
            out = s.value(k).toString();
    };
    auto num = [&](const char* key, int& out) {
        const QString k = QString::fromLatin1(key);
        if (!s.contains(k))
            return;
        bool ok = false;
        const int v = s.value(k).toString().toInt(&ok);
        if (!ok)
            throw core::Error(QStringLiteral("Valor inválido para %1 em %2.").arg(k, path));
        out = v;
    };
    str("Contexto/Filial", filial);
    str("Contexto/NomeFilial", nomeFilial);
    if (s.contains(QStringLiteral("Contexto/ModuFili")))
        moduFili = parseBool(s.value(QStringLiteral("Contexto/ModuFili")).toString());
    str("Contexto/Operador", operador);
    str("Servidor/Endereco", serverHost);
    num("Servidor/Porta", serverPort);
    str("Servidor/CA", serverCa);
    str("Banco/Driver", dbDriver);
    str("Banco/Nome", dbName);
    str("Banco/Host", dbHost);
    num("Banco/Porta", dbPort);
    str("Banco/Usuario", dbUser);
    str("Banco/Senha", dbPassword);
    if (!dbPassword.isEmpty()
        && (QFileInfo(path).permissions()
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)))
        throw core::Error(QStringLiteral("%1 guarda a senha do banco e pode ser lido por outros usuários; "
                                         "deixe-o legível só pelo dono (chmod 600).")
                              .arg(path));
    str("Sessao/Credenciais", credentialsFile);
    str("Modulos/Pasta", moduleDir);
    str("Modulos/Abrir", module);
    str("Modulos/ArquivoOpcoes", optionsFile);
    // Relative folders are taken from the configuration file's folder.
    const QString base = QFileInfo(path).absolutePath();
    auto absolute = [&](QString& p) {
        if (!p.isEmpty() && QFileInfo(p).isRelative())
            p = base + u'/' + p;
    };
    absolute(moduleDir);
    absolute(optionsFile);
    absolute(serverCa);
    absolute(credentialsFile);
    if (dbDriver == QLatin1String("QSQLITE"))
        absolute(dbName);
}

QString ShellConfig::applyArguments(const QStringList& args)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args.at(i);
        auto value = [&](QString& out) -> bool {
            if (i + 1 >= args.size())
                return false;
            out = args.at(++i);
            return true;
        };
        QString v;
        if (a == QLatin1String("--config")) {
            if (!value(v))
                return QStringLiteral("--config pede um arquivo.");
            try {
                readIni(v);
            } catch (const core::Error& e) {
                return e.message();
            }
        } else if (a == QLatin1String("--filial")) {
            if (!value(filial))
                return QStringLiteral("--filial pede um código.");
        } else if (a == QLatin1String("--nome-filial")) {
            if (!value(nomeFilial))
                return QStringLiteral("--nome-filial pede um nome.");
        } else if (a == QLatin1String("--modufili")) {
            moduFili = true;
        } else if (a == QLatin1String("--operador")) {
            if (!value(operador))
                return QStringLiteral("--operador pede um código.");
        } else if (a == QLatin1String("--server")) {
            if (!value(v))
                return QStringLiteral("--server pede endereço:porta.");
            const qsizetype colon = v.lastIndexOf(u':');
            if (colon > 0 && !v.mid(colon + 1).startsWith(QLatin1String("//"))) { // not the colon of "https://"
                bool ok = false;
                const int port = v.mid(colon + 1).toInt(&ok);
                if (!ok || port <= 0 || port > 65535)
                    return QStringLiteral("Porta inválida em --server: %1").arg(v);
                serverHost = v.left(colon);
                serverPort = port;
            } else {
                serverHost = v;
            }
        } else if (a == QLatin1String("--server-ca")) {
            if (!value(serverCa))
                return QStringLiteral("--server-ca pede um arquivo PEM.");
        } else if (a == QLatin1String("--db-driver")) {
            if (!value(dbDriver))
                return QStringLiteral("--db-driver pede um driver (QSQLITE, QPSQL, QIBASE).");
        } else if (a == QLatin1String("--db")) {
            if (!value(dbName))
                return QStringLiteral("--db pede o banco (arquivo ou nome).");
        } else if (a == QLatin1String("--db-host")) {
            if (!value(dbHost))
                return QStringLiteral("--db-host pede um endereço.");
        } else if (a == QLatin1String("--db-port")) {
            if (!value(v) || v.toInt() <= 0)
                return QStringLiteral("--db-port pede um número.");
            dbPort = v.toInt();
        } else if (a == QLatin1String("--db-user")) {
            if (!value(dbUser))
                return QStringLiteral("--db-user pede um usuário.");
        } else if (a == QLatin1String("--db-password")) {
            return QStringLiteral("A senha do banco não vai na linha de comando, onde outros usuários a leem: "
                                  "use Senha= em [Banco] no arquivo de --config, legível só pelo dono.");
        } else if (a == QLatin1String("--credentials")) {
            if (!value(credentialsFile))
                return QStringLiteral("--credentials pede um arquivo.");
        } else if (a == QLatin1String("--module-dir")) {
            if (!value(moduleDir))
                return QStringLiteral("--module-dir pede uma pasta.");
        } else if (a == QLatin1String("--module")) {
            if (!value(module))
                return QStringLiteral("--module pede um código.");
        } else if (a == QLatin1String("--options-file")) {
            if (!value(optionsFile))
                return QStringLiteral("--options-file pede um arquivo.");
        } else if (a == QLatin1String("--screenshot")) {
            if (!value(screenshot))
                return QStringLiteral("--screenshot pede um arquivo PNG.");
        } else if (a == QLatin1String("--screenshot-page")) {
            if (!value(v) || v.toInt() < 1)
                return QStringLiteral("--screenshot-page pede o número da página (1, 2, ...).");
            screenshotPage = v.toInt();
        } else if (a == QLatin1String("--screenshot-timeout")) {
            if (!value(v) || v.toInt() <= 0)
                return QStringLiteral("--screenshot-timeout pede segundos.");
            screenshotTimeoutMs = v.toInt() * 1000;
        } else if (a == QLatin1String("--style")) {
            if (!value(styleName))
                return QStringLiteral("--style pede um nome.");
        } else if (a.startsWith(QLatin1String("-platform")) || a == QLatin1String("-style")) {
            ++i; // Qt's own options, already taken by QApplication
        } else {
            return QStringLiteral("Opção desconhecida: %1").arg(a);
        }
    }
    return {};
}

void ShellConfig::applyToContext() const
{
    core::HostContext& c = core::context();
    c.filial = filial;
    c.nomeFilial = nomeFilial;
    c.moduFili = moduFili;
    c.operador = operador;
    c.webUrl = serverHost;
    c.webPort = serverPort;
    if (!serverCa.isEmpty())
        core::HttpTransport::shared().setCaFile(serverCa);
}

QString usage()
{
    return QStringLiteral(
        "Uso: exp_shell [opções]\n"
        "  --config ARQ           arquivo INI (seções Contexto, Servidor, Banco, Modulos)\n"
        "  --filial COD           filial em uso          --nome-filial NOME\n"
        "  --modufili             tela presa à filial em uso\n"
        "  --operador COD         operador\n"
        "  --server END:PORTA     servidor de aplicação (https://nome:porta para TLS)\n"
        "  --server-ca ARQ.pem    autoridade que assina o certificado do servidor\n"
        "  --db-driver DRV        QSQLITE, QPSQL ou QIBASE   --db BANCO\n"
        "  --db-host H --db-port P --db-user U (senha: Senha= em [Banco] do --config)\n"
        "  --credentials ARQ     operador e senha do login (linhas Operador= e Senha=; arquivo só do dono)\n"
        "  --module-dir PASTA     pasta dos módulos PKG_<código>\n"
        "  --module COD           módulo aberto ao iniciar\n"
        "  --options-file ARQ     onde os filtros gravam suas opções\n"
        "  --screenshot ARQ.png   abre o módulo, espera a carga, grava a imagem e sai\n"
        "  --screenshot-page N    antes da imagem, mostra a página N da tela (1: a primeira)\n"
        "  --screenshot-timeout S espera máxima da imagem (padrão 20)\n");
}

} // namespace shell
