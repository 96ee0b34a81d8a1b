// SPDX-License-Identifier: MIT
// Time per record through the log manager's message handler (kept writers, daily files, one
// flushed write per record) against spdlog's daily file sink flushing every record, with
// records of the same length, one and two threads, interleaved rounds, medians.
// Prints "log<threads>t <ours ns/record> <spdlog ns/record>" lines for the harness.
// Usage: bench_logcompare <records per run> <rounds> <directory>
#include <ravixcore/logger/loggermanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Same text on both sides; with the prefix "[hh:mm:ss.zzz] WARNING:  " the records are equal
// in length.
#define RECORD_TEXT_Q "thread %d record %d with a payload of ordinary length"
#define RECORD_TEXT_S "thread {} record {} with a payload of ordinary length"

double runThreads(int threads, int perThread, const std::function<void(int, int)> &log)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<QThread *> workers;
    for (int t = 0; t < threads; ++t)
        workers.push_back(QThread::create([=, &log] {
            for (int i = 0; i < perThread; ++i)
                log(t, i);
        }));
    for (QThread *w : workers)
        w->start();
    for (QThread *w : workers) {
        w->wait();
        delete w;
    }
    return double(clock.nsecsElapsed()) / (double(perThread) * threads);
}

double ours(const QString &dir, int records, int threads)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(true);
    LoggerManager::initLog(dir, 7, true);
    QThreadPool::globalInstance()->waitForDone();
    const double ns = runThreads(threads, records / threads,
                                 [](int t, int i) { qWarning(RECORD_TEXT_Q, t, i); });
    LoggerManager::releaseLog();
    return ns;
}

double theirs(const QString &dir, int records, int threads)
{
    auto logger = spdlog::daily_logger_mt("bench", qPrintable(dir + QStringLiteral("/bench.log")));
    logger->set_pattern("[%H:%M:%S.%e] WARNING:  %v");
    logger->flush_on(spdlog::level::trace);
    const double ns = runThreads(threads, records / threads,
                                 [&logger](int t, int i) { logger->warn(RECORD_TEXT_S, t, i); });
    spdlog::drop("bench");
    return ns;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench"));
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_logcompare <records> <rounds> <directory>\n");
        return 2;
    }
    const int records = std::max(2, atoi(argv[1]));
    const int rounds = std::max(1, atoi(argv[2]));
    const QString base = QString::fromLocal8Bit(argv[3]);
    for (int threads : {1, 2}) {
        std::vector<double> a, b;
        for (int r = 0; r < rounds; ++r) {
            const QString dirA = QStringLiteral("%1/ours%2").arg(base).arg(r);
            const QString dirB = QStringLiteral("%1/theirs%2").arg(base).arg(r);
            QDir().mkpath(dirB);
            a.push_back(ours(dirA, records, threads));
            b.push_back(theirs(dirB, records, threads));
            QDir(dirA).removeRecursively();
            QDir(dirB).removeRecursively();
        }
        std::printf("log%dt %.1f %.1f\n", threads, median(a), median(b));
    }
    return 0;
}
