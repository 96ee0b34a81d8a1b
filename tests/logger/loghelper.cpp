// SPDX-License-Identifier: MIT
// A small program for the tests that need a process of their own: a faked clock crossing
// midnight, or logging started from a thread that Qt did not create.
#include <ravixcore/logger/loggermanager.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <thread>

namespace {

// Logs numbered records until the day has changed and plenty more were written after it.
int daySwitch(const QString &dir, bool keep)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(keep);
    LoggerManager::initLog(dir, 7, true);
    const QDateTime start = QDateTime::currentDateTime();
    const QDate first = start.date();
    const int afterSwitch = 200;
    int written = 0;
    int sinceSwitch = -1;
    bool stuck = false;
    for (; sinceSwitch < afterSwitch; ++written) {
        qWarning("record %d", written);
        if (sinceSwitch >= 0)
            ++sinceSwitch;
        else if (QDate::currentDate() != first)
            sinceSwitch = 0;
        // The clock was meant to pass midnight within seconds; give up when it does not.
        else if ((stuck = start.secsTo(QDateTime::currentDateTime()) > 60))
            break;
        QThread::msleep(2);
    }
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    std::printf("%s %s %d\n", qPrintable(first.toString(Qt::ISODate)),
                qPrintable(QDate::currentDate().toString(Qt::ISODate)), written);
    return stuck ? 3 : 0;
}

// Logging started from a thread without an event loop: the clean-up timer cannot start there
// and Qt says so while the log manager is busy starting up.
int foreignThread(const QString &dir)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    std::thread starter([&dir] { LoggerManager::initLog(dir, 7, true); });
    starter.join();
    qWarning("after start");
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}

// Logs \a count records "<text> <n>"; with \a pause, a second batch "<text>-after <n>" follows
// once a line arrives on the standard input ("paused" on the standard output says when).
int records(const QString &dir, bool keep, bool daily, int count, const QString &text, bool pause)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(keep);
    LoggerManager::initLog(dir, 7, daily);
    const QString padding(qMax(0, 1000 - text.size()), QLatin1Char('.'));
    for (int i = 0; i < count; ++i)
        qWarning("%s %d %s", qPrintable(text), i, qPrintable(padding));
    if (pause) {
        std::printf("paused\n");
        std::fflush(stdout);
        char line[16];
        if (!std::fgets(line, sizeof line, stdin))
            return 4;
        for (int i = 0; i < count; ++i)
            qWarning("%s-after %d %s", qPrintable(text), i, qPrintable(padding));
    }
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}

// One clean-up run over \a dir, as a daemon's start makes it.
int cleanUp(const QString &dir, bool any)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setCleanAnyOldLogs(any);
    LoggerManager::initLog(dir, 7, true);
    QThreadPool::globalInstance()->waitForDone();
    LoggerManager::releaseLog();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args.at(1) == QLatin1String("dayswitch")) {
        QCoreApplication::setApplicationName(QStringLiteral("dayswitch"));
        return daySwitch(args.at(2), args.at(3) == QLatin1String("1"));
    }
    if (args.size() >= 3 && args.at(1) == QLatin1String("foreignthread")) {
        QCoreApplication::setApplicationName(QStringLiteral("foreign"));
        return foreignThread(args.at(2));
    }
    QCoreApplication::setApplicationName(QStringLiteral("svc"));
    // records <dir> <keep 0|1> <daily 0|1> <count> <text> [pause]
    if (args.size() >= 7 && args.at(1) == QLatin1String("records"))
        return records(args.at(2), args.at(3) == QLatin1String("1"),
                       args.at(4) == QLatin1String("1"), args.at(5).toInt(), args.at(6),
                       args.size() > 7 && args.at(7) == QLatin1String("pause"));
    if (args.size() >= 4 && args.at(1) == QLatin1String("cleanup"))
        return cleanUp(args.at(2), args.at(3) == QLatin1String("1"));
    std::fprintf(stderr, "usage: loghelper dayswitch <dir> <0|1> | foreignthread <dir> | "
                         "records <dir> <keep> <daily> <count> <text> [pause] | "
                         "cleanup <dir> <any>\n");
    return 2;
}
