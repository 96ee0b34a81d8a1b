// SPDX-License-Identifier: MIT
// Usage: ravix_logstress <logs dir> <records per thread> <faked clock file>
// Eight threads log numbered records ("T<thread> N<number>") into kept daily writers. When
// every thread has written half of its records they wait; the faked clock (libfaketime reads
// the clock file) moves to the next day, and they write the other half. Exit code 0 when done.
#include <ravixcore/logger/loggermanager.h>

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QThread>
#include <QThreadPool>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("logstress"));
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const int records = args.at(2).toInt();
    const int threads = 8;

    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::initLog(args.at(1), 30, true);
    const QDate firstDay = QDate::currentDate();

    // Standard primitives, which a ThreadSanitizer build sees without help.
    std::mutex mutex;
    std::condition_variable changed;
    int waiting = 0;
    bool nextDay = false;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int n = 0; n < records; ++n) {
                if (n == records / 2) {
                    std::unique_lock<std::mutex> lock(mutex);
                    ++waiting;
                    changed.notify_all();
                    changed.wait(lock, [&] { return nextDay; });
                }
                qWarning("T%d N%06d", t, n);
            }
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return waiting == threads; });
    }
    QFile clock(args.at(3));
    if (!clock.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        clock.write("2026-03-08 00:00:01\n") <= 0)
        return 3;
    clock.close();
    // The faked clock re-reads its file once its cache has expired.
    for (int i = 0; QDate::currentDate() == firstDay; ++i) {
        if (i > 600)
            return 4;
        QThread::msleep(100);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        nextDay = true;
        changed.notify_all();
    }
    for (std::thread &w : workers)
        w.join();
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}
