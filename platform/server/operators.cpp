#include "operators.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QStringDecoder>

#include <sodium.h>

#include <mutex>
#include <semaphore>

namespace server {

namespace {

// Each Argon2id check takes 64 MiB for a moment: at most this many run at
// once, so a burst of logins cannot exhaust the server's memory.
std::counting_semaphore<2> g_hashSlots(2);

struct HashSlot {
    HashSlot() { g_hashSlots.acquire(); }
    ~HashSlot() { g_hashSlots.release(); }
};

void initSodium()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            throw InternalError("Falha ao iniciar a biblioteca criptográfica (libsodium).");
    });
}

QString tokenDigest(const QString& token)
{
    const QByteArray t = token.toLatin1();
    unsigned char out[32];
    crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char*>(t.constData()), size_t(t.size()),
                       nullptr, 0);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(out), sizeof out).toHex());
}

bool validCode(const QString& code)
{
    if (code.isEmpty() || code.size() > Operators::kMaxCode)
        return false;
    for (QChar c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-'))
            return false;
    return true;
}

const QString kRefused = QStringLiteral("Operador ou senha inválidos.");

void requireValidCode(const QString& code)
{
    if (!validCode(code))
        throw core::Error(QString("Código de operador inválido: \"%1\" (letras maiúsculas, dígitos, _ . -; até %2).")
                              .arg(code)
                              .arg(Operators::kMaxCode));
}

bool exists(QSqlDatabase& conn, const QString& code)
{
    QSqlQuery e = prepare(conn, "SELECT COUNT(*) FROM OPERADOR WHERE CDOPERADOR = ?");
    e.addBindValue(code);
    exec(e);
    return e.next() && e.value(0).toLongLong() > 0;
}

void insertOperator(QSqlDatabase& conn, const QString& code, const QString& name, const QString& hash, bool mustChange)
{
    QSqlQuery q = prepare(conn,
                          "INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHAHASH, IDATIVO, IDTROCARSENHA) "
                          "VALUES (?, ?, ?, 'S', ?)");
    q.addBindValue(code);
    q.addBindValue(name.left(60));
    q.addBindValue(hash);
    q.addBindValue(mustChange ? "S" : "N");
    exec(q);
}

void insertBranches(QSqlDatabase& conn, const QString& code, const QStringList& branches)
{
    for (const QString& b : branches) {
        QSqlQuery f = prepare(conn, "INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES (?, ?)");
        f.addBindValue(code);
        f.addBindValue(b);
        exec(f);
    }
}

} // namespace

QStringList parseBranchList(const QString& text)
{
    QStringList out;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        const QString b = part.trimmed();
        bool digits = !b.isEmpty() && b.size() <= 4;
        for (QChar c : b)
            digits = digits && c.isDigit();
        if (b != "*" && !digits)
            throw core::Error(QString("Filial inválida: \"%1\" (esperado um código de até 4 dígitos ou *).").arg(b));
        const QString code = b == "*" ? b : b.rightJustified(4, '0');
        if (!out.contains(code))
            out << code;
    }
    return out;
}

Operators::Operators(Database& db, PasswordCost cost) : db_(db), cost_(cost)
{
    initSodium();
}

QString Operators::hash(const QString& password) const
{
    if (password.size() < kMinPassword)
        throw core::Error(QString("A senha deve ter ao menos %1 caracteres.").arg(kMinPassword));
    if (password.size() > kMaxPassword)
        throw core::Error(QString("A senha deve ter no máximo %1 caracteres.").arg(kMaxPassword));
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const bool minimal = cost_ == PasswordCost::Minimal;
    HashSlot slot;
    if (crypto_pwhash_str_alg(out, pw.constData(), size_t(pw.size()),
                              minimal ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              minimal ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw InternalError("Memória insuficiente para calcular o hash da senha.");
    return QString::fromLatin1(out);
}

void Operators::add(const QString& code, const QString& name, const QString& password, const QStringList& branches)
{
    requireValidCode(code);
    const QString h = hash(password);
    QSqlDatabase conn = db_.connection();
    Transaction tx(db_, conn);
    if (exists(conn, code))
        throw core::Error(QString("O operador %1 já existe.").arg(code));
    insertOperator(conn, code, name, h, false);
    insertBranches(conn, code, branches);
    tx.commit();
}

void Operators::importMany(const QList<NewOperator>& list)
{
    auto atLine = [](const NewOperator& o, const QString& why) {
        return core::Error(QString("linha %1: %2").arg(o.line).arg(why));
    };
    QSet<QString> seen;
    for (const NewOperator& o : list) {
        try {
            requireValidCode(o.code);
        } catch (const core::Error& e) {
            throw atLine(o, e.message());
        }
        if (seen.contains(o.code))
            throw atLine(o, QString("o operador %1 aparece duas vezes.").arg(o.code));
        seen.insert(o.code);
    }
    // Hashes first (about 80 ms each): the transaction then lasts only for the inserts.
    QStringList hashes;
    for (const NewOperator& o : list) {
        try {
            hashes << hash(o.password);
        } catch (const core::Error& e) {
            throw atLine(o, e.message());
        }
    }
    QSqlDatabase conn = db_.connection();
    Transaction tx(db_, conn);
    for (qsizetype i = 0; i < list.size(); ++i) {
        const NewOperator& o = list[i];
        if (exists(conn, o.code))
            throw atLine(o, QString("o operador %1 já existe.").arg(o.code));
        insertOperator(conn, o.code, o.name, hashes[i], true);
        insertBranches(conn, o.code, o.branches);
    }
    tx.commit();
}

namespace {
void requireOperator(QSqlDatabase& conn, const QString& code)
{
    QSqlQuery q = prepare(conn, "SELECT COUNT(*) FROM OPERADOR WHERE CDOPERADOR = ?");
    q.addBindValue(code);
    exec(q);
    if (!q.next() || q.value(0).toLongLong() == 0)
        throw core::Error(QString("Operador %1 não cadastrado.").arg(code));
}
} // namespace

namespace {
// One change of an operator's row, refused for an unknown code; `endAll` ends
// their sessions in the same transaction.
void changeOperator(Database& db, const QString& code, const QString& set, const QVariant& value, bool endAll)
{
    QSqlDatabase conn = db.connection();
    Transaction tx(db, conn);
    requireOperator(conn, code);
    QSqlQuery q = prepare(conn, QString("UPDATE OPERADOR SET %1 = ? WHERE CDOPERADOR = ?").arg(set));
    q.addBindValue(value);
    q.addBindValue(code);
    exec(q);
    if (endAll) {
        QSqlQuery d = prepare(conn, "DELETE FROM SESSAO WHERE CDOPERADOR = ?");
        d.addBindValue(code);
        exec(d);
    }
    tx.commit();
}
} // namespace

void Operators::setPassword(const QString& code, const QString& password)
{
    const QString h = hash(password);
    QSqlDatabase conn = db_.connection();
    Transaction tx(db_, conn);
    requireOperator(conn, code);
    QSqlQuery q = prepare(conn, "UPDATE OPERADOR SET DSSENHAHASH = ?, IDTROCARSENHA = 'N' WHERE CDOPERADOR = ?");
    q.addBindValue(h);
    q.addBindValue(code);
    exec(q);
    QSqlQuery d = prepare(conn, "DELETE FROM SESSAO WHERE CDOPERADOR = ?");
    d.addBindValue(code);
    exec(d);
    tx.commit();
}

void Operators::disable(const QString& code)
{
    changeOperator(db_, code, "IDATIVO", "N", true);
}

void Operators::enable(const QString& code)
{
    changeOperator(db_, code, "IDATIVO", "S", false);
}

void Operators::setBranches(const QString& code, const QStringList& branches)
{
    QSqlDatabase conn = db_.connection();
    Transaction tx(db_, conn);
    requireOperator(conn, code);
    QSqlQuery d = prepare(conn, "DELETE FROM OPERFILIAL WHERE CDOPERADOR = ?");
    d.addBindValue(code);
    exec(d);
    insertBranches(conn, code, branches);
    tx.commit();
}

std::optional<OperatorInfo> Operators::find(const QString& code)
{
    QSqlDatabase conn = db_.connection();
    QSqlQuery q = prepare(conn, "SELECT NMOPERADOR, IDATIVO, IDTROCARSENHA FROM OPERADOR WHERE CDOPERADOR = ?");
    q.addBindValue(code);
    exec(q);
    if (!q.next())
        return std::nullopt;
    OperatorInfo o{code, q.value(0).toString(), q.value(1).toString() == "S", {}, q.value(2).toString() == "S"};
    QSqlQuery b = prepare(conn, "SELECT CDFILIAL FROM OPERFILIAL WHERE CDOPERADOR = ? ORDER BY CDFILIAL");
    b.addBindValue(code);
    exec(b);
    while (b.next())
        o.branches << b.value(0).toString();
    return o;
}

bool Operators::plausibleCode(const QString& code)
{
    return validCode(code);
}

const QString& Operators::refusedText()
{
    return kRefused;
}

StoredLogin Operators::stored(const QString& code)
{
    StoredLogin a;
    if (!validCode(code))
        return a;
    QSqlDatabase conn = db_.connection();
    QSqlQuery q =
        prepare(conn, "SELECT DSSENHAHASH, NMOPERADOR, IDATIVO, IDTROCARSENHA FROM OPERADOR WHERE CDOPERADOR = ?");
    q.addBindValue(code);
    exec(q);
    if (q.next()) {
        a.found = true;
        a.hash = q.value(0).toString().toLatin1();
        a.name = q.value(1).toString();
        a.active = q.value(2).toString() == "S";
        a.mustChange = q.value(3).toString() == "S";
    }
    return a;
}

namespace {
// The hash an unknown code is checked against: made once, at the cost of
// real ones, from a random password nobody knows.
const QByteArray& dummyHash(bool minimal)
{
    static std::once_flag once[2];
    static QByteArray hash[2];
    std::call_once(once[minimal], [minimal] {
        unsigned char pw[24];
        randombytes_buf(pw, sizeof pw);
        char out[crypto_pwhash_STRBYTES];
        if (crypto_pwhash_str_alg(out, reinterpret_cast<const char*>(pw), sizeof pw,
                                  minimal ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                  minimal ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE,
                                  crypto_pwhash_ALG_ARGON2ID13)
            != 0)
            throw InternalError("Memória insuficiente para calcular o hash da senha.");
        hash[minimal] = QByteArray(out);
    });
    return hash[minimal];
}
} // namespace

bool Operators::verify(const StoredLogin& account, const QString& password) const
{
    if (password.isEmpty() || password.size() > kMaxPassword)
        return false;
    const bool usable = account.found && !account.hash.isEmpty() && account.hash.size() < crypto_pwhash_STRBYTES;
    const QByteArray& h = usable ? account.hash : dummyHash(cost_ == PasswordCost::Minimal);
    const QByteArray pw = password.toUtf8();
    HashSlot slot;
    const bool ok = crypto_pwhash_str_verify(h.constData(), pw.constData(), size_t(pw.size())) == 0;
    return ok && usable && account.active;
}

LoginResult Operators::openSession(const QString& code, const QString& name, const QString& address,
                                   qint64 lifetimeSecs, bool mustChange)
{
    QSqlDatabase conn = db_.connection();
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    LoginResult r;
    r.token = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(raw), sizeof raw).toHex());
    r.operatorName = name;
    r.mustChange = mustChange;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    r.expiresAt = now + lifetimeSecs;
    Transaction tx(db_, conn);
    QSqlQuery old = prepare(conn, "DELETE FROM SESSAO WHERE DTHREXPIRA <= ?"); // keep the table small
    old.addBindValue(now);
    exec(old);
    QSqlQuery s = prepare(
        conn, "INSERT INTO SESSAO (CDSESSAO, CDOPERADOR, DTHREXPIRA, DTHRCRIACAO, DSENDERECO) VALUES (?, ?, ?, ?, ?)");
    s.addBindValue(tokenDigest(r.token));
    s.addBindValue(code);
    s.addBindValue(r.expiresAt);
    s.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    s.addBindValue(address.left(64));
    exec(s);
    QSqlQuery b = prepare(conn, "SELECT CDFILIAL FROM OPERFILIAL WHERE CDOPERADOR = ? ORDER BY CDFILIAL");
    b.addBindValue(code);
    exec(b);
    while (b.next())
        r.branches << b.value(0).toString();
    if (r.branches.contains("*"))
        r.branches = QStringList{"*"};
    tx.commit();
    return r;
}

LoginResult Operators::login(const QString& code, const QString& password, const QString& address, qint64 lifetimeSecs)
{
    if (!validCode(code) || password.isEmpty() || password.size() > kMaxPassword)
        throw Unauthorized(kRefused);
    const StoredLogin account = stored(code);
    if (!verify(account, password))
        throw Unauthorized(kRefused);
    return openSession(code, account.name, address, lifetimeSecs, account.mustChange);
}

std::optional<Session> Operators::session(const QString& token, const QString& address)
{
    if (token.size() != 64)
        return std::nullopt;
    for (QChar c : token)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
    // One query, kept prepared on the thread's connection: the session, its
    // operator (active) and their branches, one row per branch.
    QSqlDatabase conn = db_.connection();
    std::optional<Session> s;
    selectKept(conn,
               "SELECT S.CDOPERADOR, O.NMOPERADOR, F.CDFILIAL, O.IDTROCARSENHA FROM SESSAO S "
               "JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERADOR "
               "LEFT JOIN OPERFILIAL F ON F.CDOPERADOR = S.CDOPERADOR "
               "WHERE S.CDSESSAO = ? AND S.DTHREXPIRA > ? AND O.IDATIVO = 'S'",
               {tokenDigest(token), QDateTime::currentSecsSinceEpoch()}, 4, [&](const QVariant* cells) {
                   if (!s) {
                       s.emplace();
                       s->operatorCode = cells[0].toString();
                       s->operatorName = cells[1].toString();
                       s->address = address;
                       s->mustChange = cells[3].toString() == "S";
                   }
                   if (cells[2].isNull())
                       return;
                   const QString br = cells[2].toString();
                   if (br == "*")
                       s->allBranches = true;
                   else
                       s->branches.insert(br);
               });
    return s;
}

void Operators::logout(const QString& token)
{
    QSqlDatabase conn = db_.connection();
    QSqlQuery q = prepare(conn, "DELETE FROM SESSAO WHERE CDSESSAO = ?");
    q.addBindValue(tokenDigest(token));
    exec(q);
}

const QString kMustChangePassword =
    QStringLiteral("Sua senha é provisória: troque-a antes de continuar (Trocar senha).");

QString randomPassword(int length)
{
    initSodium();
    static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString out;
    for (int i = 0; i < length; ++i)
        out += QChar(kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)]);
    return out;
}

QList<NewOperator> parseOperatorFile(const QByteArray& content)
{
    QList<NewOperator> out;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        auto bad = [number](const QString& why) { return core::Error(QString("linha %1: %2").arg(number).arg(why)); };
        QByteArray raw = lines[i];
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (i == 0 && raw.startsWith("\xEF\xBB\xBF"))
            raw.remove(0, 3); // a byte-order mark
        const QString line = utf8.decode(raw);
        if (utf8.hasError())
            throw bad("texto que não é UTF-8.");
        const QString t = line.trimmed();
        if (t.isEmpty() || t.startsWith('#'))
            continue;
        const QStringList parts = t.split(';');
        if (parts.size() != 3)
            throw bad("esperado \"código; nome; filiais\" (três campos separados por ;).");
        NewOperator o;
        o.line = number;
        o.code = parts[0].trimmed().toUpper();
        o.name = parts[1].trimmed();
        if (!validCode(o.code))
            throw bad(QString("código de operador inválido: \"%1\" (letras, dígitos, _ . -; até %2).")
                          .arg(o.code.left(40))
                          .arg(Operators::kMaxCode));
        if (o.name.isEmpty())
            throw bad("falta o nome do operador.");
        if (o.name.size() > 60)
            throw bad("nome com mais de 60 caracteres.");
        try {
            o.branches = parseBranchList(QString(parts[2]).replace(' ', ','));
        } catch (const core::Error& e) {
            throw bad(e.message());
        }
        if (o.branches.isEmpty())
            throw bad("faltam as filiais do operador (códigos separados por vírgula, ou *).");
        for (const NewOperator& prev : out)
            if (prev.code == o.code)
                throw bad(QString("o operador %1 já aparece na linha %2.").arg(o.code).arg(prev.line));
        o.password = randomPassword();
        out << o;
    }
    if (out.isEmpty())
        throw core::Error("O arquivo não tem nenhum operador.");
    return out;
}

int Operators::changeOwnPassword(const QString& token, const QString& code, const QString& newHash)
{
    QSqlDatabase conn = db_.connection();
    Transaction tx(db_, conn);
    // The new hash, the first-password flag cleared, the operator's other sessions ended: all or nothing.
    QSqlQuery u = prepare(conn, "UPDATE OPERADOR SET DSSENHAHASH = ?, IDTROCARSENHA = 'N' WHERE CDOPERADOR = ?");
    u.addBindValue(newHash);
    u.addBindValue(code);
    exec(u);
    QSqlQuery d = prepare(conn, "DELETE FROM SESSAO WHERE CDOPERADOR = ? AND CDSESSAO <> ?");
    d.addBindValue(code);
    d.addBindValue(tokenDigest(token));
    exec(d);
    const int ended = d.numRowsAffected();
    tx.commit();
    return std::max(0, ended);
}

} // namespace server
