// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QAtomicInt>
#include <QDate>
#include <QFlags>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class QFile;
class QTextStream;
class QTimer;

/// The process-wide log manager. Its static part is the Qt message handler with the settings
/// of the process; an instance is one log file writer (one open file with its text stream).
class RAVIXCORE_EXPORT LoggerManager
{
public:
    enum EQtDebugOut {
        FileOut = 0x1,   ///< the log file of the message's writer
        StdErrOut = 0x2, ///< the standard error stream of the process
    };
    using OutputFunction =
        std::function<void(QtMsgType, const QMessageLogContext &, const QString &)>;

    /// Stores the writer's key and opens its file.
    explicit LoggerManager(const QString &name);
    virtual ~LoggerManager();

    LoggerManager(const LoggerManager &) = delete;
    LoggerManager &operator=(const LoggerManager &) = delete;

    /// Opens the writer's file, switching to a new one when its name changed (a new day), and
    /// renews the stream; without a usable file the stream goes to the standard error stream.
    void open();
    /// Releases the stream and the file.
    void close();
    /// A text stream on the writer's file, or on the standard error stream without a usable
    /// file; made on first use (not locked). Records are written without it.
    QTextStream *stream();

    /// The Qt message handler installed by initLog().
    static void logMessageOutput(QtMsgType type, const QMessageLogContext &context,
                                 const QString &message);
    /// A message handler that drops everything.
    static void ignoreLogs(QtMsgType type, const QMessageLogContext &context,
                           const QString &message);

    /// Where records go: the log file, the standard error stream, or both.
    static QFlags<EQtDebugOut> debugOuts();
    /// Stores the flags; a "no_more_logs" entry in the logs directory clears them all.
    static void setDebugOuts(const QFlags<EQtDebugOut> &outs);

    /// Custom outputs by category name; they are called outside the log lock.
    static QMap<QString, OutputFunction> outputs();
    static void setOutputs(const QMap<QString, OutputFunction> &outputs);
    /// Sends every message of the category \a name to \a output instead of the standard outputs.
    static void setOutputs(const QString &name, OutputFunction output);
    /// The category goes back to the standard outputs.
    static void removeOutput(const QString &name);

    // The settings given to the last initLog().
    static QString logsPath();
    static bool rotateLogs();
    static unsigned keepingDays();

    /// Log files stay open between records (default true); otherwise every record opens and
    /// closes its file.
    static bool keepLogHandlers();
    static void setKeepLogHandlers(bool keep);
    /// The writer name of the category "default" ("log"): files are "<date>_<app>.<suffix>".
    static QString defaultSuffix();
    static void setDefaultSuffix(const QString &suffix);
    /// Further file name patterns the daily clean-up ages out besides the log files.
    static QStringList additionalEraseFilters();
    static void setAdditionalEraseFilters(const QStringList &filters);
    /// Whether the clean-up also deletes every old file anywhere below the logs directory.
    static bool cleanAnyOldLogs();
    static void setCleanAnyOldLogs(bool clean);

    /// Switches logging on for the directory \a path; an empty path or 0 days silences the
    /// process instead. With \a rotate, files are daily and old ones are archived and deleted.
    ///
    /// Three things a Qt developer may not expect:
    /// - It sets the filter rules to "default.debug=false": a plain qDebug() is dropped and
    ///   rules the host set before with QLoggingCategory::setFilterRules() are replaced. A host
    ///   sets its own rules after this call (adding "default.debug=true" to keep plain
    ///   qDebug()); QT_LOGGING_RULES still overrides them.
    /// - \a minimumLevel is compared by the numbers of QtMsgType (debug 0, warning 1,
    ///   critical 2, fatal 3, info 4), so QtInfoMsg as minimum drops warnings and critical
    ///   messages. Keep QtDebugMsg and quieten categories with filter rules instead.
    /// - A record is written in the long form (file, line, thread, function) when its message
    ///   context names a file or line, else in the short form; Qt fills the context in release
    ///   builds only where QT_MESSAGELOGCONTEXT is defined, so a host defines it for the same
    ///   form as the library's own records.
    static bool initLog(const QString &path, unsigned int keepDays, bool rotate,
                        QtMsgType minimumLevel = QtDebugMsg);
    /// As above, with daily files.
    static bool initLog(const QString &path, unsigned int keepDays,
                        QtMsgType minimumLevel = QtDebugMsg);
    /// Silences the process.
    static bool initEmptyLog();
    /// Writes the stop banner and gives message handling back to Qt.
    static void releaseLog();

private:
    friend class LoggerManagerPrivate;
    friend class LogLock;

    QString m_name;
    QFile *m_file = nullptr;
    QTextStream *m_stream = nullptr;
    QString m_fileName; // of m_file, which is opened by descriptor and so has no name
    // What m_fileName was built from, so that a record can tell without building the name
    // again that its file is still the current one.
    QString m_openedPath;
    QString m_openedApp;
    QDate m_openedDate;
    bool m_openedDaily = false;
    bool m_openedAbsolute = false;

    static QMutex _logMutex;
    static QMap<QString, QSharedPointer<LoggerManager>> _loggers;
    static QAtomicInt _loggersCounter;
    static QMap<QString, OutputFunction> _outputs;
    static QFlags<EQtDebugOut> _debugOuts;
    static QtMsgType _minimumLogLevel;
    static QString _logPath;
    static QString _defaultSuffix;
    static unsigned int _keepingDays;
    static bool _keepLogHandlers;
    static bool _rotateLogs;
    static bool _cleanAnyOldLogs;
    static QStringList _additionalEraseFilters;
    static QTimer *_eraceTimer;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QFlags<LoggerManager::EQtDebugOut>)
