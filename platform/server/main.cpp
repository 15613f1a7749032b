// exp_appserver: serves "Exp01800.rdmCancelNota" and "DFS52000.rdmSituacao"
// over HTTP/JSON, fills a database with demo data, or manages the operator
// accounts. Passwords (operators' and the database's) are never taken from
// the command line, where other users of the machine can read them.

#include "allocator.h"
#include "appserver.h"
#include "backup.h"
#include "demodata.h"
#include "lookupdb.h"
#include "schema.h"
#include "sefaznacional.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <boost/asio/ip/address.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

int usage(const char* why = nullptr)
{
    if (why)
        std::fprintf(stderr, "exp_appserver: %s\n\n", why);
    std::fprintf(
        stderr,
        "Uso:\n"
        "  exp_appserver serve [--config ARQUIVO] [--listen 127.0.0.1] [--port 8211] [--db sqlite:/caminho/arquivo.db |\n"
        "                      --db \"postgres:host=... port=... user=... dbname=... [schema=...]\"] [--threads N]\n"
        "                      [--max-body BYTES] [--max-inflight BYTES] [--per-address N] [--max-connections N]\n"
        "                      [--header-timeout S] [--body-timeout S] [--session-hours H] [--db-connections N]\n"
        "                      [--short-body-timeout S] [--stall-timeout S] [--session-workers N]\n"
        "                      [--hash-queue N] [--login-free-failures N] [--login-free-per-address N]\n"
        "                      [--trusted-proxy ENDEREÇO[,ENDEREÇO...]]\n"
        "                      [--metrics-allow ENDEREÇO[,ENDEREÇO...]] [--log-file ARQUIVO]\n"
        "                      [--sefaz simulador | --sefaz nacional --sefaz-config ARQUIVO]\n"
        "  exp_appserver sefaz-url UF AMBIENTE --sefaz-config ARQUIVO   (endereço da consulta de NF-e; 1 produção, 2 homologação)\n"
        "  exp_appserver demo --db ... [--entries N] [--seed S] [--lookup-db ARQUIVO.db]\n"
        "  exp_appserver backup --db sqlite:/caminho/arquivo.db --to COPIA.db   (com o servidor no ar)\n"
        "  exp_appserver operator add CODIGO --db ... [--name NOME] [--branches 0001,0002 | --branches '*']\n"
        "  exp_appserver operator import ARQUIVO --db ... [--passwords ARQUIVO_DE_SENHAS]\n"
        "      (uma linha por operador: código; nome; filiais — senhas iniciais no arquivo de senhas,\n"
        "       só o dono lê; cada operador troca a sua no primeiro acesso)\n"
        "  exp_appserver operator passwd|disable|enable|show CODIGO --db ...\n"
        "  exp_appserver operator branches CODIGO LISTA --db ...\n"
        "--config lê as opções de um arquivo, uma por linha como chave=valor (port=8211, db=sqlite:/...);\n"
        "as opções depois dele na linha de comando prevalecem.\n"
        "A senha do operador vem do terminal (sem eco) ou da entrada padrão, nunca da linha de comando.\n"
        "A senha do PostgreSQL vem de PGPASSWORD ou do arquivo de senhas do libpq (~/.pgpass, PGPASSFILE).\n");
    return 2;
}

/// An SQLite database made before the program set its own file modes may be
/// readable by others: its file and its -wal and -shm files, when this user
/// owns them, are made the owner's only.
void ownerOnly(const QString& path)
{
    for (const QString& f : {path, path + "-wal", path + "-shm"}) {
        struct stat st { };
        const QByteArray name = QFile::encodeName(f);
        if (::stat(name.constData(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) == 0)
            continue;
        if (::chmod(name.constData(), S_IRUSR | S_IWUSR) == 0)
            std::fprintf(stderr, "arquivo %s era legível por outros usuários; agora só pelo dono (0600)\n",
                         name.constData());
    }
}

/// The log (standard error) redirected to a file others may read is made the owner's only.
void logOwnerOnly()
{
    struct stat st { };
    if (::fstat(STDERR_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(STDERR_FILENO, S_IRUSR | S_IWUSR);
}

bool toInt(const QString& s, int lo, int hi, int& out)
{
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    out = int(v);
    return true;
}

/// `--config FILE`: one option a line as `key=value`, the key being the long
/// option without its dashes ("port=8211" stands for "--port 8211"); blank
/// lines and lines starting with '#' are skipped. The options are read where
/// `--config` stands, so options after it on the command line win.
bool readConfigFile(const QString& path, QStringList& out, QString& error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QString("--config %1: não foi possível ler o arquivo (%2)").arg(path, f.errorString());
        return false;
    }
    int number = 0;
    while (!f.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype eq = line.indexOf('=');
        const QString key = line.left(eq).trimmed();
        if (eq <= 0 || key == "config" || key.startsWith('-')) {
            error = QString("%1, linha %2: esperado chave=valor, como port=8211").arg(path).arg(number);
            return false;
        }
        out << "--" + key << line.mid(eq + 1).trimmed();
    }
    return true;
}

/// One password from the terminal without echo (asked twice when `confirm`),
/// or one line of standard input when it is not a terminal.
bool readPassword(bool confirm, QString& out)
{
    auto line = [](const char* prompt, QString& into) {
        std::string text;
        if (isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "%s", prompt);
            termios old{};
            tcgetattr(STDIN_FILENO, &old);
            termios quiet = old;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
            const bool ok = bool(std::getline(std::cin, text));
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
            std::fprintf(stderr, "\n");
            if (!ok)
                return false;
        } else if (!std::getline(std::cin, text)) {
            return false;
        }
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        into = QString::fromStdString(text);
        return true;
    };
    if (!line("Senha: ", out))
        return false;
    if (confirm && isatty(STDIN_FILENO)) {
        QString again;
        if (!line("Repita a senha: ", again))
            return false;
        if (again != out) {
            std::fprintf(stderr, "exp_appserver: as senhas não conferem\n");
            return false;
        }
    }
    return true;
}

/// Writes `text` to a new file only its owner may read; refuses an existing file.
bool writeOwnerOnly(const QString& path, const QByteArray& text, QString& why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = QString("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    qsizetype at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + at, size_t(text.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += n;
    }
    const bool ok = at == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        why = QString("%1: gravação incompleta").arg(path);
        ::unlink(QFile::encodeName(path).constData());
    }
    return ok;
}

// operator import FILE --db ... [--passwords OUT]: every operator of the file
// or none; their first passwords go to OUT (FILE.senhas by default), 0600.
int importCommand(QStringList args)
{
    if (args.isEmpty())
        return usage("operator import pede o arquivo de operadores");
    const QString file = args.takeFirst();
    QString dbText, out = file + ".senhas";
    bool dbGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--db" && i + 1 < args.size()) {
            dbText = args[++i];
            dbGiven = true;
        } else if (args[i] == "--passwords" && i + 1 < args.size())
            out = args[++i];
        else
            return usage(qPrintable("opção inválida: " + args[i]));
    }
    if (!dbGiven)
        return usage("operator import precisa de --db");
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "exp_appserver: %s: %s\n", qPrintable(file), qPrintable(in.errorString()));
        return 1;
    }
    bool written = false;
    try {
        const QList<server::NewOperator> list = server::parseOperatorFile(in.readAll());
        server::DbConfig cfg = server::DbConfig::parse(dbText);
        if (!cfg.password.isEmpty())
            return usage("a senha do banco não vai na linha de comando: use PGPASSWORD ou ~/.pgpass");
        server::Database db(cfg);
        server::migrateSchema(db);
        QByteArray text = "# código;nome;senha inicial (trocada no primeiro acesso)\n";
        for (const server::NewOperator& o : list)
            text += (o.code + ";" + o.name + ";" + o.password + "\n").toUtf8();
        // The passwords are on disk before the operators exist: a failed write imports nothing.
        QString why;
        if (!writeOwnerOnly(out, text, why)) {
            std::fprintf(stderr, "exp_appserver: arquivo de senhas: %s (nada foi importado)\n", qPrintable(why));
            return 1;
        }
        written = true;
        server::Operators(db).importMany(list);
        std::fprintf(stderr, "%lld operador(es) importado(s); senhas iniciais em %s (só o dono lê)\n",
                     static_cast<long long>(list.size()), qPrintable(out));
        return 0;
    } catch (const std::exception& e) {
        if (written)
            ::unlink(QFile::encodeName(out).constData());
        std::fprintf(stderr, "exp_appserver: %s: %s\nNenhum operador foi importado.\n", qPrintable(file), e.what());
        return 1;
    }
}

/// Prints the status-query address the national port would use for a state
/// and environment, as the configuration (and its contingency option) gives it.
int sefazUrlCommand(QStringList args)
{
    QString config;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--sefaz-config" && i + 1 < args.size())
            config = args[++i];
        else if (args[i].startsWith("--"))
            return usage(qPrintable("opção inválida: " + args[i]));
        else
            positional << args[i];
    }
    if (positional.size() != 2 || config.isEmpty())
        return usage("sefaz-url pede UF, AMBIENTE e --sefaz-config");
    try {
        const server::sefaz::NationalConfig cfg = server::sefaz::NationalConfig::load(config);
        const server::sefaz::Endpoint e = server::sefaz::EndpointTable::load(cfg.endpointsFile)
                                              .resolve(positional[0].toUpper(), positional[1], cfg.contingency);
        std::printf("%s\t%s\n", qPrintable(e.authoriser), qPrintable(e.url));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        return 1;
    }
}

int operatorCommand(QStringList args)
{
    if (!args.isEmpty() && args.first() == "import")
        return importCommand(args.mid(1));
    if (args.size() < 2)
        return usage("operator pede um subcomando e um código");
    const QString sub = args.takeFirst();
    const QString code = args.takeFirst().trimmed().toUpper();
    QString dbText, name, branchText, listArg;
    bool dbGiven = false;
    if (sub == "branches") {
        if (args.isEmpty())
            return usage("operator branches pede a lista de filiais");
        listArg = args.takeFirst();
    }
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        if (a == "--db" && value(dbText))
            dbGiven = true;
        else if (sub == "add" && a == "--name" && value(name)) {
        } else if (sub == "add" && a == "--branches" && value(branchText)) {
        } else
            return usage(qPrintable("opção inválida: " + a));
    }
    if (!dbGiven)
        return usage("operator precisa de --db");
    try {
        server::DbConfig cfg = server::DbConfig::parse(dbText);
        if (!cfg.password.isEmpty())
            return usage("a senha do banco não vai na linha de comando: use PGPASSWORD ou ~/.pgpass");
        if (cfg.dialect == server::Dialect::Sqlite)
            ownerOnly(cfg.sqlitePath);
        server::Database db(cfg);
        server::migrateSchema(db);
        server::Operators ops(db);
        QString pw;
        if (sub == "add") {
            const QStringList branches = server::parseBranchList(branchText);
            if (!readPassword(true, pw))
                return 1;
            ops.add(code, name.isEmpty() ? code : name, pw, branches);
            std::fprintf(stderr, "operador %s cadastrado\n", qPrintable(code));
        } else if (sub == "passwd") {
            if (!readPassword(true, pw))
                return 1;
            ops.setPassword(code, pw);
            std::fprintf(stderr, "senha do operador %s trocada; sessões abertas encerradas\n", qPrintable(code));
        } else if (sub == "disable") {
            ops.disable(code);
            std::fprintf(stderr, "operador %s desativado; sessões abertas encerradas\n", qPrintable(code));
        } else if (sub == "enable") {
            ops.enable(code);
            std::fprintf(stderr, "operador %s reativado\n", qPrintable(code));
        } else if (sub == "branches") {
            ops.setBranches(code, server::parseBranchList(listArg));
            std::fprintf(stderr, "filiais do operador %s gravadas\n", qPrintable(code));
        } else if (sub == "show") {
            const auto o = ops.find(code);
            if (!o)
                throw core::Error(QString("Operador %1 não cadastrado.").arg(code));
            std::printf("%s\t%s\t%s\t%s%s\n", qPrintable(o->code), qPrintable(o->name), o->active ? "ativo" : "inativo",
                        qPrintable(o->branches.join(',')), o->mustChange ? "\ttroca de senha pendente" : "");
        } else {
            return usage("subcomando de operator desconhecido");
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        return 1;
    }
}

/// Whether standard error is the systemd journal's stream (JOURNAL_STREAM
/// names its device and inode): the journal then keeps and rotates the log.
bool underJournal()
{
    const QByteArray js = qgetenv("JOURNAL_STREAM");
    struct stat st { };
    if (js.isEmpty() || ::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return js == QByteArray::number(qulonglong(st.st_dev)) + ":" + QByteArray::number(qulonglong(st.st_ino));
}

/// Points standard error (the call log and every message) at `path`,
/// appending, owner-only; again on SIGHUP, so that a rotated file is let go.
bool openLog(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "exp_appserver: --log-file %s: %s\n", qPrintable(path), std::strerror(errno));
        return false;
    }
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // SIGTERM and SIGINT are taken by one waiting thread, not by whatever thread they hit.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGHUP); // reopens the --log-file (after logrotate moved it)
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    // Everything the program creates (the SQLite database and its -wal and
    // -shm files, which hold every operator's password hash) is for its
    // owner only.
    ::umask(077);
    server::tuneAllocator();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString cmd = args.takeFirst();
    if (cmd == "operator")
        return operatorCommand(args);
    if (cmd == "sefaz-url")
        return sefazUrlCommand(args);
    if (cmd != "serve" && cmd != "demo" && cmd != "backup")
        return usage("comando desconhecido");

    server::ServerOptions opt;
    QString dbText = "sqlite:exp01800.db";
    bool dbGiven = false;
    server::DemoOptions demo;
    int seed = 1;
    QString logFile, lookupDb;
    QString sefazKind = "simulador", sefazConfig;
    QString backupTo;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == "--config" && value(v)) {
            QStringList fromFile;
            QString error;
            if (!readConfigFile(v, fromFile, error))
                return usage(qPrintable(error));
            for (qsizetype k = 0; k < fromFile.size(); ++k)
                args.insert(i + 1 + k, fromFile[k]);
        } else if (a == "--db" && value(v)) {
            dbText = v;
            dbGiven = true;
        } else if (cmd == "serve" && a == "--listen" && value(v))
            opt.listen = v;
        else if (cmd == "serve" && a == "--port" && value(v)) {
            if (!toInt(v, 0, 65535, opt.port))
                return usage("porta inválida");
        } else if (cmd == "serve" && a == "--threads" && value(v)) {
            if (!toInt(v, 1, 1024, opt.threads))
                return usage("--threads inválido");
        } else if (cmd == "serve" && a == "--max-body" && value(v)) {
            bool ok = false;
            const qulonglong n = v.toULongLong(&ok);
            if (!ok || n < 1024 || n > (qulonglong(1) << 32))
                return usage("--max-body inválido (1024 a 4294967296 bytes)");
            opt.maxBody = size_t(n);
        } else if (cmd == "serve" && a == "--max-inflight" && value(v)) {
            bool ok = false;
            const qulonglong n = v.toULongLong(&ok);
            if (!ok || n < (qulonglong(1) << 20) || n > (qulonglong(1) << 40))
                return usage("--max-inflight inválido (1048576 a 1099511627776 bytes)");
            opt.maxInflight = size_t(n);
        } else if (cmd == "serve" && a == "--per-address" && value(v)) {
            if (!toInt(v, 1, 100000, opt.perAddress))
                return usage("--per-address inválido");
        } else if (cmd == "serve" && a == "--max-connections" && value(v)) {
            if (!toInt(v, 1, 1000000, opt.maxConnections))
                return usage("--max-connections inválido");
        } else if (cmd == "serve" && a == "--header-timeout" && value(v)) {
            int s = 0;
            if (!toInt(v, 1, 3600, s))
                return usage("--header-timeout inválido");
            opt.headerTimeoutMs = s * 1000;
        } else if (cmd == "serve" && a == "--body-timeout" && value(v)) {
            int s = 0;
            if (!toInt(v, 1, 3600, s))
                return usage("--body-timeout inválido");
            opt.bodyTimeoutMs = s * 1000;
        } else if (cmd == "serve" && a == "--session-hours" && value(v)) {
            int h = 0;
            if (!toInt(v, 1, 24 * 30, h))
                return usage("--session-hours inválido");
            opt.sessionSecs = qint64(h) * 3600;
        } else if (cmd == "serve" && a == "--db-connections" && value(v)) {
            if (!toInt(v, 1, 256, opt.dbConnections))
                return usage("--db-connections inválido");
        } else if (cmd == "serve" && a == "--short-body-timeout" && value(v)) {
            int s = 0;
            if (!toInt(v, 1, 3600, s))
                return usage("--short-body-timeout inválido");
            opt.shortBodyTimeoutMs = s * 1000;
        } else if (cmd == "serve" && a == "--stall-timeout" && value(v)) {
            int s = 0;
            if (!toInt(v, 1, 3600, s))
                return usage("--stall-timeout inválido");
            opt.stallTimeoutMs = s * 1000;
        } else if (cmd == "serve" && a == "--session-workers" && value(v)) {
            if (!toInt(v, 1, 256, opt.sessionWorkers))
                return usage("--session-workers inválido");
        } else if (cmd == "serve" && a == "--hash-queue" && value(v)) {
            if (!toInt(v, 1, 10000, opt.hashQueue))
                return usage("--hash-queue inválido");
        } else if (cmd == "serve" && a == "--login-free-failures" && value(v)) {
            if (!toInt(v, 0, 1000, opt.loginFreePerPair))
                return usage("--login-free-failures inválido");
        } else if (cmd == "serve" && a == "--login-free-per-address" && value(v)) {
            if (!toInt(v, 0, 100000, opt.loginFreePerAddress))
                return usage("--login-free-per-address inválido");
        } else if (cmd == "serve" && a == "--trusted-proxy" && value(v)) {
            for (const QString& part : v.split(',', Qt::SkipEmptyParts)) {
                boost::system::error_code ec;
                const auto host = boost::asio::ip::make_address(part.trimmed().toStdString(), ec);
                if (ec)
                    return usage(qPrintable("--trusted-proxy inválido: " + part));
                opt.trustedProxies << QString::fromStdString(host.to_string());
            }
        } else if (cmd == "serve" && a == "--metrics-allow" && value(v)) {
            for (const QString& addr : v.split(',', Qt::SkipEmptyParts))
                opt.metricsAllow << addr.trimmed();
        } else if (cmd == "serve" && a == "--log-file" && value(v))
            logFile = v;
        else if (cmd == "demo" && a == "--lookup-db" && value(v))
            lookupDb = v;
        else if (cmd == "serve" && a == "--sefaz" && value(v))
            sefazKind = v;
        else if (cmd == "serve" && a == "--sefaz-config" && value(v))
            sefazConfig = v;
        else if (cmd == "demo" && a == "--entries" && value(v)) {
            if (!toInt(v, 0, 10000000, demo.entries))
                return usage("--entries inválido");
        } else if (cmd == "backup" && a == "--to" && value(v))
            backupTo = v;
        else if (cmd == "demo" && a == "--seed" && value(v)) {
            if (!toInt(v, 0, 2147483647, seed))
                return usage("--seed inválido");
        } else
            return usage(qPrintable("opção inválida: " + a));
    }
    if (cmd == "demo" && !dbGiven)
        return usage("demo precisa de --db");
    if (!logFile.isEmpty()) {
        if (underJournal()) {
            std::fprintf(stderr,
                         "exp_appserver: --log-file ignorado: a saída de erros já vai para o journal do systemd\n");
            logFile.clear();
        } else if (!openLog(logFile)) {
            return 1;
        }
    }
    if (sefazKind != "simulador" && sefazKind != "nacional")
        return usage("--sefaz deve ser simulador ou nacional");
    if (sefazKind == "nacional" && sefazConfig.isEmpty())
        return usage("--sefaz nacional precisa de --sefaz-config ARQUIVO");
    if (cmd == "backup") {
        if (!dbGiven || backupTo.isEmpty())
            return usage("backup precisa de --db sqlite:ARQUIVO e --to ARQUIVO");
        try {
            const server::DbConfig cfg = server::DbConfig::parse(dbText);
            if (cfg.dialect != server::Dialect::Sqlite)
                return usage("backup copia bancos SQLite; o PostgreSQL se copia com pg_dump (docs/deploy.md)");
            server::backupSqlite(cfg.sqlitePath, backupTo);
            std::fprintf(stderr, "cópia de segurança gravada em %s\n", qPrintable(backupTo));
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "exp_appserver: %s\n", e.what());
            return 1;
        }
    }
    demo.seed = quint64(seed);

    try {
        server::DbConfig cfg = server::DbConfig::parse(dbText);
        if (!cfg.password.isEmpty())
            return usage("a senha do banco não vai na linha de comando: use PGPASSWORD ou ~/.pgpass");
        if (cfg.dialect == server::Dialect::Sqlite)
            ownerOnly(cfg.sqlitePath);
        if (cmd == "serve")
            logOwnerOnly();
        server::Database db(cfg);
        const int before = server::migrateSchema(db);
        if (before < server::kSchemaVersion)
            std::fprintf(stderr, "schema %s: versão %d -> %d\n", qPrintable(db.config().describe()), before,
                         server::kSchemaVersion);
        if (cmd == "demo") {
            server::generateDemo(db, demo);
            std::fprintf(stderr, "dados de demonstração gravados: %d lançamentos (semente %d)\n", demo.entries, seed);
            if (!lookupDb.isEmpty()) {
                const int rows = server::writeLookupDatabase(db, lookupDb);
                std::fprintf(stderr, "banco de consulta das estações gravado em %s (%d linhas)\n", qPrintable(lookupDb),
                             rows);
            }
            return 0;
        }
        db.closeThreadConnection(); // from here on only the server's database workers hold connections
        const std::shared_ptr<server::SefazPort> sefazPort = server::makeSefazPort(sefazKind, sefazConfig);
        server::AppServer srv(db, opt, sefazPort);
        srv.bind();
        std::fprintf(stderr,
                     "exp_appserver escutando em %s:%d (%s, %d threads, %d conexões ao banco, corpo até %zu bytes, "
                     "%d conexões por endereço, SEFAZ %s)\n",
                     qPrintable(opt.listen), srv.port(), qPrintable(db.config().describe()), opt.threads,
                     opt.dbConnections, opt.maxBody, opt.perAddress, qPrintable(sefazKind));
        std::thread waiter([&srv, sigs, logFile] {
            int sig = 0;
            while (sigwait(&sigs, &sig) == 0 && sig == SIGHUP) {
                if (!logFile.isEmpty() && openLog(logFile))
                    std::fprintf(stderr, "sinal HUP: log reaberto\n");
            }
            std::fprintf(stderr, "sinal %d: encerrando após as chamadas em andamento\n", sig);
            srv.stop();
        });
        srv.run();
        // run() returned: either a signal stopped it, or listening failed. Wake the waiter either way.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        std::fprintf(stderr, "exp_appserver encerrado\n");
        return 0;
    } catch (const server::InternalError& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        if (!e.detail().isEmpty())
            std::fprintf(stderr, "  %s\n", qPrintable(e.detail()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exp_appserver: %s\n", e.what());
        return 1;
    }
}
