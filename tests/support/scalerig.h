#pragma once
// The pieces of a scaled-out set-up on loopback, for tests and benchmarks: a
// throw-away PostgreSQL (scripts/pg_temp.sh), exp_appserver processes on
// chosen ports, and HAProxy with the shipped configuration
// (deploy/haproxy/exp-appserver.cfg) ending TLS in front of them. Every
// process is stopped by its owner's destructor.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace testsupport {

/// A TCP port free on 127.0.0.1 right now.
inline int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

/// Children end with the test or benchmark, even when it is killed.
inline void endWithParent(QProcess& p)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

inline QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

/// PostgreSQL started by scripts/pg_temp.sh, removed again on destruction.
class PgTemp {
public:
    explicit PgTemp(QString sourceDir) : src_(std::move(sourceDir)) { }
    ~PgTemp() { stop(); }
    static bool available() { return QFile::exists("/usr/lib/postgresql/15/bin/initdb"); }

    /// Starts it; `conn` gets the QtSql-style connection text.
    bool start(QString& why)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PG_TEMP_PORT", QString::number(57400 + (::getpid() % 400)));
        p.setProcessEnvironment(env);
        p.start("bash",
                {"-c",
                 QString("set -e; source '%1/scripts/pg_temp.sh'; pg_temp_start; "
                         "echo \"$PG_TEMP_DIR\"; echo \"$EXP_TEST_PG\"")
                     .arg(src_)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            why = "pg_temp_start: " + QString::fromUtf8(p.readAllStandardError());
            return false;
        }
        const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (out.size() < 2) {
            why = "pg_temp_start printed no connection";
            return false;
        }
        dir_ = out[out.size() - 2];
        conn = out.last();
        return true;
    }
    void stop()
    {
        if (dir_.isEmpty())
            return;
        QProcess p;
        p.start("bash",
                {"-c", QString("source '%1/scripts/pg_temp.sh'; PG_TEMP_DIR='%2' pg_temp_stop").arg(src_, dir_)});
        p.waitForFinished(60000);
        dir_.clear();
    }
    QString conn;

private:
    QString src_, dir_;
};

/// One exp_appserver process on a fixed port, its log in a file.
class AppServerProcess {
public:
    AppServerProcess(QString bin, QString db, int port, QString log, QStringList extra = {})
        : bin_(std::move(bin)), db_(std::move(db)), port_(port), log_(std::move(log)), extra_(std::move(extra))
    { }
    ~AppServerProcess() { kill(SIGKILL); }

    /// Starts it and waits until it listens; appends to the log across restarts.
    bool start(QString& why)
    {
        const qsizetype before = fileText(log_).size();
        p_.setStandardOutputFile(QProcess::nullDevice());
        p_.setStandardErrorFile(log_, QIODevice::Append);
        endWithParent(p_);
        p_.start(bin_,
                 QStringList{"serve", "--db", db_, "--port", QString::number(port_), "--threads", "64",
                             "--db-connections", "4", "--per-address", "256"}
                     + extra_);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            const QString text = fileText(log_).mid(before);
            if (text.contains("escutando em"))
                return true;
            if (p_.state() == QProcess::NotRunning || text.contains("exp_appserver:"))
                break;
            QThread::msleep(20);
        }
        why = "exp_appserver did not start: " + fileText(log_).mid(before);
        return false;
    }
    void kill(int sig)
    {
        if (p_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(p_.processId()), sig);
        p_.waitForFinished(15000);
    }
    int port() const { return port_; }
    QString log() const { return fileText(log_); }

private:
    QString bin_, db_;
    int port_;
    QString log_;
    QStringList extra_;
    QProcess p_;
};

/// HAProxy with the shipped configuration, in the foreground. With fewer
/// servers than the configuration names, the surplus "server" lines are left
/// out of a copy written beside the log.
class Proxy {
public:
    ~Proxy() { stop(); }
    static bool available()
    {
        return !QStandardPaths::findExecutable("haproxy", {"/usr/sbin", "/usr/bin", "/sbin"}).isEmpty();
    }

    bool start(QString config, int port, const QString& combinedPem, const QStringList& apps, const QString& log,
               QString& why)
    {
        QStringList lines = fileText(config).split('\n');
        const qsizetype before = lines.size();
        lines.removeIf([&](const QString& l) {
            const QString t = l.trimmed();
            return t.startsWith("server app") && t.section(' ', 1, 1).mid(3).toInt() > apps.size();
        });
        if (lines.size() != before) {
            config = log + ".cfg";
            QFile f(config);
            if (!f.open(QIODevice::WriteOnly)) {
                why = "cannot write " + config;
                return false;
            }
            f.write(lines.join('\n').toUtf8());
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("EXP_PROXY_BIND", QString("127.0.0.1:%1").arg(port));
        env.insert("EXP_PROXY_CERT", combinedPem);
        for (int i = 0; i < apps.size(); ++i)
            env.insert(QString("EXP_APP%1").arg(i + 1), apps[i]);
        p_.setProcessEnvironment(env);
        endWithParent(p_);
        p_.setStandardOutputFile(log);
        p_.setStandardErrorFile(log, QIODevice::Append);
        p_.start(QStandardPaths::findExecutable("haproxy", {"/usr/sbin", "/usr/bin", "/sbin"}), {"-db", "-f", config});
        if (!p_.waitForStarted(10000)) {
            why = "haproxy did not start";
            return false;
        }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(quint16(port));
            const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(s);
            if (up)
                return true;
            if (p_.state() == QProcess::NotRunning)
                break;
            QThread::msleep(20);
        }
        why = "haproxy is not listening: " + fileText(log);
        return false;
    }
    void stop()
    {
        if (p_.state() == QProcess::NotRunning)
            return;
        p_.terminate();
        if (!p_.waitForFinished(5000)) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }

private:
    QProcess p_;
};

} // namespace testsupport
