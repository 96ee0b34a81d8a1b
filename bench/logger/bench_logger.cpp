// SPDX-License-Identifier: MIT
// Records per second through the log manager's message handler, with writers kept open between
// messages and with a file opened and closed for every message.
// Usage: bench_logger [records per run] [threads]
#include <ravixcore/logger/loggermanager.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <cstdio>

namespace {

double run(const QString &dir, bool keep, int records, int threads)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(keep);
    LoggerManager::initLog(dir, 7, true);
    QThreadPool::globalInstance()->waitForDone();

    QElapsedTimer clock;
    clock.start();
    QList<QThread *> workers;
    const int perThread = records / threads;
    for (int t = 0; t < threads; ++t) {
        workers << QThread::create([perThread, t] {
            for (int i = 0; i < perThread; ++i)
                qWarning("thread %d record %d with a payload of ordinary length", t, i);
        });
    }
    for (QThread *w : workers)
        w->start();
    for (QThread *w : workers) {
        w->wait();
        delete w;
    }
    const qint64 ns = clock.nsecsElapsed();
    LoggerManager::releaseLog();
    return ns > 0 ? double(perThread) * threads * 1e9 / double(ns) : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench"));
    const int records = argc > 1 ? qMax(1, atoi(argv[1])) : 100000;
    const int threads = argc > 2 ? qMax(1, atoi(argv[2])) : 1;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    // Opening a file per message is far slower; a tenth of the records gives a steady rate.
    const double kept = run(dir.filePath(QStringLiteral("kept")), true, records, threads);
    const double perMessage =
        run(dir.filePath(QStringLiteral("open")), false, qMax(threads, records / 10), threads);
    std::printf("threads: %d\n", threads);
    std::printf("kept writers:         %12.0f records/s\n", kept);
    std::printf("open/close per record: %11.0f records/s\n", perMessage);
    return 0;
}
