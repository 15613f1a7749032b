#include "sefazconfig.h"

#include <core/errors.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>

namespace server::sefaz {

namespace {

struct StateCode {
    const char* state;
    const char* code;
};
constexpr StateCode kStates[] = {
    {"RO", "11"}, {"AC", "12"}, {"AM", "13"}, {"RR", "14"}, {"PA", "15"}, {"AP", "16"}, {"TO", "17"},
    {"MA", "21"}, {"PI", "22"}, {"CE", "23"}, {"RN", "24"}, {"PB", "25"}, {"PE", "26"}, {"AL", "27"},
    {"SE", "28"}, {"BA", "29"}, {"MG", "31"}, {"ES", "32"}, {"RJ", "33"}, {"SP", "35"}, {"PR", "41"},
    {"SC", "42"}, {"RS", "43"}, {"MS", "50"}, {"MT", "51"}, {"GO", "52"}, {"DF", "53"},
};

bool allDigits(const QString& s)
{
    for (QChar c : s)
        if (c < '0' || c > '9')
            return false;
    return !s.isEmpty();
}

/// The file's lines without comments, each with its number, split on blanks.
QList<std::pair<int, QStringList>> lines(const QString& text)
{
    QList<std::pair<int, QStringList>> out;
    const QStringList all = text.split('\n');
    for (int i = 0; i < all.size(); ++i) {
        QString l = all[i];
        const int hash = l.indexOf('#');
        if (hash >= 0)
            l.truncate(hash);
        l = l.trimmed();
        if (!l.isEmpty())
            out.append({i + 1, l.split(QRegularExpression("\\s+"))});
    }
    return out;
}

QString readText(const QString& file, const QString& what)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw core::Error(QString("Não foi possível ler %1 \"%2\": %3").arg(what, file, f.errorString()));
    return QString::fromUtf8(f.readAll());
}

} // namespace

QString ibgeCode(const QString& state)
{
    for (const StateCode& s : kStates)
        if (state == QLatin1String(s.state))
            return QString::fromLatin1(s.code);
    return {};
}

int accessKeyCheckDigit(const QString& first43)
{
    // Weights 2..9 from the right, repeating; a remainder of 0 or 1 gives 0.
    int sum = 0, weight = 2;
    for (int i = first43.size() - 1; i >= 0; --i) {
        sum += (first43[i].unicode() - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

QString accessKeyProblem(const QString& key, const QString& stateCode)
{
    if (key.size() != 44 || !allDigits(key))
        return QString("Chave de acesso inválida: deve ter 44 dígitos (recebida \"%1\").").arg(key.left(60));
    if (accessKeyCheckDigit(key.left(43)) != key[43].unicode() - '0')
        return QString("Chave de acesso inválida: o dígito verificador de %1 não confere.").arg(key);
    if (key.left(2) != stateCode)
        return QString("Chave de acesso inválida: a UF da chave (%1) não é a UF da inscrição estadual (%2).")
            .arg(key.left(2), stateCode);
    return {};
}

EndpointTable EndpointTable::load(const QString& file)
{
    return parse(readText(file, "a tabela de autorizadores"), file);
}

EndpointTable EndpointTable::parse(const QString& text, const QString& origin)
{
    EndpointTable t;
    for (const auto& [n, w] : lines(text)) {
        auto bad = [&, n = n](const QString& why) {
            return core::Error(QString("%1, linha %2: %3").arg(origin).arg(n).arg(why));
        };
        if (w[0] == "uf" && w.size() == 4) {
            if (ibgeCode(w[1]).isEmpty())
                throw bad("UF desconhecida " + w[1]);
            t.states_[w[1]] = {w[2], w[3]};
        } else if (w[0] == "url" && w.size() == 4) {
            if (w[2] != "1" && w[2] != "2")
                throw bad("ambiente deve ser 1 ou 2");
            const QUrl u(w[3]);
            if (!u.isValid() || u.scheme() != "https" || u.host().isEmpty())
                throw bad("endereço https inválido " + w[3]);
            t.urls_[w[1] + '|' + w[2]] = w[3];
        } else {
            throw bad("esperado \"uf UF AUTORIZADOR CONTINGENCIA\" ou \"url AUTORIZADOR AMBIENTE ENDERECO\"");
        }
    }
    for (auto it = t.states_.cbegin(); it != t.states_.cend(); ++it)
        for (const QString& a : {it->normal, it->contingency})
            if (!t.urls_.contains(a + "|1") && !t.urls_.contains(a + "|2"))
                throw core::Error(QString("%1: o autorizador %2 da UF %3 não tem endereço").arg(origin, a, it.key()));
    return t;
}

Endpoint EndpointTable::resolve(const QString& state, const QString& environment, const QString& contingency) const
{
    if (environment != "1" && environment != "2")
        throw core::Error(QString("Ambiente da NF-e inválido: \"%1\" (1 produção, 2 homologação).").arg(environment));
    const auto st = states_.constFind(state);
    if (st == states_.cend())
        throw core::Error(QString("UF sem autorizador de NF-e na tabela: \"%1\".").arg(state));
    const QString authoriser = contingency.isEmpty() ? st->normal
        : contingency == "svc"                       ? st->contingency
                                                     : contingency;
    const auto url = urls_.constFind(authoriser + '|' + environment);
    if (url == urls_.cend())
        throw core::Error(QString("O autorizador %1 não tem endereço de %2 na tabela.")
                              .arg(authoriser, environment == "1" ? "produção" : "homologação"));
    const QUrl u(*url);
    Endpoint e;
    e.authoriser = authoriser;
    e.url = *url;
    e.host = u.host();
    e.port = u.port(443);
    e.path = u.path(QUrl::FullyEncoded);
    if (e.path.isEmpty())
        e.path = "/";
    if (u.hasQuery())
        e.path += '?' + u.query(QUrl::FullyEncoded);
    return e;
}

void requirePrivateFile(const QString& file, const QString& what)
{
    struct stat st { };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        throw core::Error(QString("%1 \"%2\" não existe ou não é um arquivo.").arg(what, file));
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        throw core::Error(QString("%1 \"%2\" pode ser lido por outros usuários (permissões %3); use chmod 600.")
                              .arg(what, file)
                              .arg(st.st_mode & 0777, 3, 8, QChar('0')));
}

NationalConfig NationalConfig::load(const QString& file)
{
    NationalConfig c;
    const QDir base = QFileInfo(file).absoluteDir();
    auto path = [&](const QString& p) { return QDir::cleanPath(base.absoluteFilePath(p)); };
    const QStringList all = readText(file, "a configuração da SEFAZ").split('\n');
    for (int i = 0; i < all.size(); ++i) {
        QString l = all[i];
        const int hash = l.indexOf('#');
        if (hash >= 0)
            l.truncate(hash);
        l = l.trimmed();
        if (l.isEmpty())
            continue;
        auto bad = [&](const QString& why) {
            return core::Error(QString("%1, linha %2: %3").arg(file).arg(i + 1).arg(why));
        };
        const int eq = l.indexOf('=');
        if (eq <= 0)
            throw bad("esperado \"chave = valor\"");
        const QString key = l.left(eq).trimmed(), value = l.mid(eq + 1).trimmed();
        auto number = [&](int lo, int hi) {
            bool ok = false;
            const int v = value.toInt(&ok);
            if (!ok || v < lo || v > hi)
                throw bad(QString("%1 deve estar entre %2 e %3").arg(key).arg(lo).arg(hi));
            return v;
        };
        const QStringList parts = key.split('.');
        if (key == "endpoints")
            c.endpointsFile = path(value);
        else if (key == "ca_bundle")
            c.caBundle = path(value);
        else if (key == "contingency")
            c.contingency = value == "none" ? QString() : value;
        else if (key == "connect_timeout_ms")
            c.connectTimeoutMs = number(50, 120000);
        else if (key == "answer_timeout_ms")
            c.answerTimeoutMs = number(50, 300000);
        else if (key == "max_answer_bytes")
            c.maxAnswerBytes = number(4096, 64 << 20);
        else if (key == "connect_retries")
            c.connectRetries = number(0, 5);
        else if (key == "breaker_failures")
            c.breakerFailures = number(1, 1000);
        else if (key == "breaker_seconds")
            c.breakerSeconds = number(1, 3600);
        else if (parts.size() == 3 && parts[0] == "company" && parts[2] == "pkcs12")
            c.companies[parts[1]].pkcs12File = path(value);
        else if (parts.size() == 3 && parts[0] == "company" && parts[2] == "password_file")
            c.companies[parts[1]].passwordFile = path(value);
        else
            throw bad("chave desconhecida " + key);
    }
    if (c.endpointsFile.isEmpty())
        throw core::Error(file + ": falta \"endpoints\" (a tabela de autorizadores)");
    if (c.caBundle.isEmpty())
        throw core::Error(file + ": falta \"ca_bundle\" (as autoridades que assinam os autorizadores)");
    for (auto it = c.companies.cbegin(); it != c.companies.cend(); ++it)
        if (it->pkcs12File.isEmpty() || it->passwordFile.isEmpty())
            throw core::Error(QString("%1: a empresa %2 precisa de pkcs12 e password_file").arg(file, it.key()));
    return c;
}

} // namespace server::sefaz
