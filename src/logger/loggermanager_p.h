// SPDX-License-Identifier: MIT
#pragma once

#include "appframe/platformconventions.h"
#include "logger/loggermanager.h"

#include <QDate>
#include <QMutexLocker>
#include <QRunnable>
#include <QString>
#include <QTime>


/// What the formatter needs of one message.
struct LogMessageRecord
{
    bool daily = false;
    const char *file = nullptr;     ///< UTF-8, as in QMessageLogContext
    const char *function = nullptr; ///< UTF-8, as in QMessageLogContext
    int line = 0;
    QtMsgType type = QtDebugMsg;

    static LogMessageRecord fromContext(QtMsgType type, const QMessageLogContext &context,
                                        bool daily);
};

/// Holds _logMutex and marks the thread as its owner, so that a message raised on this thread
/// while it is held (a warning from Qt while a file is opened, say) is recognised by the
/// handler and written straight to the standard error stream instead of deadlocking.
class LogLock
{
public:
    LogLock();
    ~LogLock();
    LogLock(const LogLock &) = delete;
    LogLock &operator=(const LogLock &) = delete;

    static bool heldByThisThread();

private:
    QMutexLocker m_locker;
};

/// The local date and time for records and file names, from one clock reading converted to
/// local time once per second; one per thread.
class LogClock
{
public:
    struct Second
    {
        QDate date;
        QTime time;        ///< whole second
        QString dateLine;  ///< "[yy-MM-dd]"
        QString fileDate;  ///< "yyyy-MM-dd"
        QString timeStamp; ///< "[hh:mm:ss.zzz] " with zero milliseconds
        QChar zero;        ///< the locale's digit zero, null when the stamp is formatted whole
    };

    /// The current second, converted when the clock has passed into a new one; \a msec
    /// receives the milliseconds of the same reading.
    const Second &now(int *msec = nullptr);
    /// "[hh:mm:ss.zzz] " for the current time, valid until the next call.
    const QString &timeStamp();

private:
    static constexpr QStringView TIME_FORMAT = u"[hh:mm:ss.zzz] ";
    Second m_second;
    qint64 m_epochSecond = 0;
    bool m_valid = false;
    QString m_stamp;
    qint64 m_stampSecond = -1;
};

class QTextCodec;

class LoggerManagerPrivate
{
public:
    /// The clock of records and file names, of the calling thread; \a fallback once that has
    /// been destroyed as the thread ends.
    static LogClock &clock(LogClock &fallback);
    /// Appends the time stamp, the level word and, for located messages, the location lines.
    static void appendPrefix(QString &out, const LogMessageRecord &record);
    /// The base of writer names: the default suffix, or "log" when that is empty.
    static QString effectiveSuffix();
    /// The file a writer named \a name uses now (caller holds _logMutex).
    static QString fileNameFor(const QString &name);
    /// The codec log files are written with: the locale's, in which the process takes its text.
    static QTextCodec *fileCodec();
    /// Writes a banner line with the writer of the default category, after the separator line
    /// when \a separator is set (caller holds _logMutex).
    static void writeBanner(LoggerManager &writer, const LogMessageRecord &record,
                            const QString &text, bool separator);
    /// Writes \a text with the writer, in the locale's code page, in one write; what cannot
    /// reach the writer's file goes to the standard error stream, unless \a onStdErr says it
    /// went there already (caller holds _logMutex).
    static void write(LoggerManager &writer, bool onStdErr, const QString &text);
    /// Writes \a text to the standard error stream in the locale's code page.
    static void writeStdErr(const QString &text);
    /// Forgets the writers found by category (caller holds _logMutex); called whenever the
    /// kept writers or what their names are built from change.
    static void forgetFoundWriters();
    /// Replaces the clean-up timer by a new one, or only removes it when \a start is false.
    static void resetEraseTimer(bool start);
    /// Deletes old log files and archives recent ones; run on the global thread pool.
    static void cleanUp();
    /// Removes files whose modification date plus \a keepDays is \a today or earlier, through
    /// the whole tree below \a path.
    static void cleanTree(const QString &path, unsigned keepDays, const QDate &today);
    /// Packs one log file into its archive; true when the archive is complete.
    static bool archive(const QString &logFile);
    /// Starts one clean-up run on the global thread pool.
    static void startCleanUp();
    /// How the platform compares file names, which decides the writer names that share one
    /// writer (their files are one file there); tests choose the Windows form on any platform.
    static RAVIXCORE_EXPORT void setFileNameStyle(ravix::PlatformConventions::Style style);
    /// The daily clean-up timer, null while there is none.
    static QTimer *eraseTimer() { return LoggerManager::_eraceTimer; }
};
