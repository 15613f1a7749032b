// The server's batched log writer: every line written whole, once, in the
// order added; lines reach the output on their own within its interval and
// at once on flush(); nothing is lost when the writer ends; a stalled output
// holds callers back instead of growing the buffer without end.
#include <server/logwriter.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct LogFile {
    QTemporaryDir dir;
    QString path = dir.filePath("server.log");
    int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ~LogFile() { ::close(fd); }
    QStringList lines() const
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
};

} // namespace

TEST(LogWriter, LinesFromManyThreadsArriveWholeOnceAndInOrderWhenItEnds)
{
    LogFile file;
    ASSERT_GE(file.fd, 0);
    constexpr int kThreads = 4, kLines = 2000;
    std::uint64_t writes = 0;
    {
        server::LogWriter log(file.fd);
        std::vector<std::thread> callers;
        for (int t = 0; t < kThreads; ++t)
            callers.emplace_back([&log, t] {
                for (int i = 0; i < kLines; ++i)
                    log.add(QString("t%1 n%2 %3\n").arg(t).arg(i).arg(QString(i % 50, 'x')).toStdString());
            });
        for (auto& c : callers)
            c.join();
        log.add("last line\n");
        writes = log.writes();
    } // no flush: the destructor writes what is left
    const QStringList lines = file.lines();
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);
    EXPECT_EQ(lines.last(), "last line");
    std::map<int, int> next; // per thread, the number its next line must carry
    for (int k = 0; k + 1 < lines.size(); ++k) {
        const QStringList parts = lines[k].split(' ');
        ASSERT_EQ(parts.size(), 3) << qPrintable(lines[k]);
        const int t = parts[0].mid(1).toInt();
        const int n = parts[1].mid(1).toInt();
        EXPECT_EQ(n, next[t]) << "thread " << t << " out of order at line " << k;
        EXPECT_EQ(parts[2], QString(n % 50, 'x'));
        next[t] = n + 1;
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kLines);
    EXPECT_LT(writes, std::uint64_t(kThreads * kLines / 10)) << "lines are not batched";
}

TEST(LogWriter, LinesGoOutOnTheirOwnAndAtOnceOnFlush)
{
    LogFile file;
    ASSERT_GE(file.fd, 0);
    // A long interval: only flush() can make the line appear soon.
    server::LogWriter slow(file.fd, {std::chrono::milliseconds(60000), 1u << 20, 4u << 20});
    slow.add("first\n");
    slow.flush();
    EXPECT_EQ(file.lines(), QStringList{"first"});
    slow.flush(); // nothing pending: returns at once

    LogFile other;
    server::LogWriter prompt(other.fd, {std::chrono::milliseconds(20), 1u << 20, 4u << 20});
    prompt.add("second\n");
    QElapsedTimer t;
    t.start();
    while (other.lines().isEmpty() && t.elapsed() < 5000)
        QThread::msleep(5);
    EXPECT_EQ(other.lines(), QStringList{"second"}) << "a line waits for a flush that never comes";
}

TEST(LogWriter, AStalledOutputHoldsCallersBackAndLosesNothingOnceItDrains)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    constexpr std::size_t kLimit = 4096;
    const std::string line(100, 'a');
    std::atomic<int> added{0};
    std::string received;
    {
        server::LogWriter log(p[1], {std::chrono::milliseconds(5), 1024, kLimit});
        std::thread caller([&] {
            for (int i = 0; i < 3000; ++i) { // 303 KB: several times what the pipe and the buffer hold
                log.add(line + "\n");
                ++added;
            }
        });
        // Nobody reads the pipe: the writer blocks on it and the caller on the limit.
        QThread::msleep(300);
        const int stalledAt = added.load();
        EXPECT_LT(stalledAt, 3000);
        // At most the pipe's 64 KB, a batch in the writer's hands and the buffer, each a line past the limit.
        EXPECT_LE(std::size_t(stalledAt) * (line.size() + 1), 65536 + 2 * (kLimit + line.size() + 1))
            << "the buffer grew past its limit";
        char buf[65536];
        std::thread reader([&] {
            ssize_t n;
            while ((n = ::read(p[0], buf, sizeof buf)) > 0)
                received.append(buf, std::size_t(n));
        });
        caller.join();
        log.flush();
        ::close(p[1]); // the writer is idle after flush(); the reader sees the end
        reader.join();
    }
    ::close(p[0]);
    EXPECT_EQ(received.size(), 3000 * (line.size() + 1));
    EXPECT_EQ(received.find_first_not_of("a\n"), std::string::npos);
}

TEST(LogWriter, TimestampsReadAsTheIsoFormWithMilliseconds)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 ms : {qint64(0), qint64(999), qint64(1000), qint64(951782400001) /* 29/02/2000 */,
                      qint64(1733702800123), qint64(253402300799999) /* 31/12/9999 23:59:59.999 */, now}) {
        const QString expected = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
        EXPECT_EQ(QString::fromStdString(server::logTimestamp(ms)), expected) << ms;
    }
}
