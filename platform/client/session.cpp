#include "session.h"

#include <core/errors.h>
#include "hostapi.h"
#include "httptransport.h"

#include <QFile>
#include <QFileInfo>

namespace core {

LoginAnswer login(Transport& t, const QString& host, int port, const QString& operador, const QString& senha)
{
    LoginAnswer a = t.login(host, port, operador.trimmed().toUpper(), senha);
    context().operador = a.operador;
    context().nomeOperador = a.nome;
    context().filiaisOperador = a.filiais;
    context().sessionToken = a.token;
    return a;
}

bool& mustChangePassword()
{
    static bool flag = false;
    return flag;
}

void logout(Transport& t, const QString& host, int port)
{
    const QString token = context().sessionToken;
    context().sessionToken.clear();
    if (!token.isEmpty())
        t.logout(host, port, token);
}

int changePassword(Transport& t, const QString& host, int port, const QString& atual, const QString& nova)
{
    if (context().sessionToken.isEmpty())
        throw SessionError(QStringLiteral("Não há sessão aberta. Entre no sistema antes de trocar a senha."));
    if (!dynamic_cast<HttpTransport*>(&t))
        throw SessionError(QStringLiteral("Este meio de chamada não troca senhas."));
    const int ended = httpChangePassword(host, port, context().sessionToken, atual, nova);
    mustChangePassword() = false;
    return ended;
}

bool loginInteractively(Transport& t, const QString& host, int port, const QString& reason, int tries)
{
    QString why = reason;
    for (int i = 0; i < tries; ++i) {
        QString operador = context().operador, senha;
        if (!core::host().askLogin(why, operador, senha))
            return false;
        try {
            login(t, host, port, operador, senha);
            return true;
        } catch (const SessionError& e) {
            why = i + 1 < tries ? e.message() : QString();
        }
    }
    core::host().message(MsgKind::Error, QStringLiteral("Operador ou senha inválidos. Tentativas esgotadas."),
                         {MsgButton::OK});
    return false;
}

bool offerRelogin(Transport& t, const QString& host, int port, const QString& refusal)
{
    const QString text =
        QStringLiteral("O servidor de aplicação recusou a chamada: %1\n\nDeseja entrar novamente?").arg(refusal);
    if (core::host().message(MsgKind::Question, text, {MsgButton::Yes, MsgButton::No}) != MsgButton::Yes)
        return false;
    return loginInteractively(t, host, port, QString());
}

Credentials readCredentialsFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw Error(QStringLiteral("Arquivo de credenciais não encontrado: %1").arg(path));
    const auto others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    if (info.permissions() & others)
        throw Error(QStringLiteral("O arquivo de credenciais %1 pode ser lido ou alterado por outros usuários; "
                                   "deixe-o legível só pelo dono (chmod 600).")
                        .arg(path));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Arquivo de credenciais ilegível: %1").arg(path));
    Credentials c;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("Operador=")))
            c.operador = line.mid(9).trimmed();
        else if (line.startsWith(QLatin1String("Senha=")))
            c.senha = line.mid(6);
    }
    if (c.operador.isEmpty() || c.senha.isEmpty())
        throw Error(QStringLiteral("O arquivo de credenciais %1 precisa das linhas Operador= e Senha=.").arg(path));
    return c;
}

} // namespace core
