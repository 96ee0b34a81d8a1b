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
    std::fprintf(stderr, "usage: loghelper dayswitch <dir> <0|1> | foreignthread <dir>\n");
    return 2;
}
