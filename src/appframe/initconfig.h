// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QLocale>
#include <QMutex>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace ravix {

/// A small wrapper round one INI-format QSettings: reads and writes a key inside a section,
/// synchronising with the file before every access so other processes' changes are seen.
class RAVIXCORE_EXPORT FileConfigHelper
{
public:
    /// Opens \a path; with \a create a missing file (and its folder) is made and stamped
    /// with INIT/initDt. An empty path, or a missing file without \a create, gives an
    /// invalid object.
    FileConfigHelper(const QString &path, bool create);
    virtual ~FileConfigHelper();

    FileConfigHelper(const FileConfigHelper &) = delete;
    FileConfigHelper &operator=(const FileConfigHelper &) = delete;

    virtual QString settingsFileName() const;
    /// The value of \a key in \a section; an invalid variant (not \a defaultValue) when
    /// the object is invalid.
    virtual QVariant value(QString section, const QString &key,
                           const QVariant &defaultValue = QVariant()) const;
    /// Stores a value; it reaches the file at the next sync (next read or destruction).
    virtual void setValue(QString section, const QString &key, const QVariant &value);

    QString settingsPath() const;
    bool isValid() const;

protected:
    QPointer<QSettings> m_settings;
};

/// The start-up configuration of a service process: typed getters with defaults and the
/// standard directories, which are created when the object is constructed.
class RAVIXCORE_EXPORT InitConfig : public FileConfigHelper
{
public:
    /// Section and key names of the file: [INIT] workDir, locale; [LOGS] logsDir,
    /// keepLogsDays, keepLogsHandlers, rotateLogs, cleanAnyOldLogs.
    static const QString INIT_SECTION;
    static const QString LOGS_SECTION;
    static const QString WORK_DIR;
    static const QString LOGS_DIR;
    static const QString KEEP_LOGS;
    static const QString KEEP_LOGS_HANDLERS;
    static const QString ROTATE_LOGS;
    static const QString CLEAN_ANY_OLD_LOGS;
    static const QString LOCALE;

    /// Opens the file at \a path (with \a create, a missing file is made) and, when there is a
    /// file, creates the work, logs, run, versions and translations directories.
    InitConfig(const QString &path, bool create);
    ~InitConfig() override;

    /// [INIT] workDir; by default the platform's shared data folder and baseWorkDir().
    virtual QString workDir() const;
    /// [LOGS] logsDir; by default workDir() + "/logs".
    virtual QString loggerPath() const;
    /// workDir() + "/run".
    virtual QString runPath() const;
    /// Days a log file is kept ([LOGS] keepLogsDays, default 30); 0 silences the process.
    virtual int keepLogs() const;
    /// Daily files with archiving ([LOGS] rotateLogs, an integer, default 1).
    virtual bool rotateLogs() const;
    /// Log files stay open between records ([LOGS] keepLogsHandlers, default 1).
    virtual bool keepLogsHandlers() const;
    /// [LOGS] cleanAnyOldLogs (default 0): whether the log clean-up should also delete every
    /// file older than the keeping time anywhere below the logs directory. The root object does
    /// not pass it on; a host that wants it calls LoggerManager::setCleanAnyOldLogs() itself.
    virtual bool cleanAnyOldLogs() const;
    /// workDir() + "/versions", where the ".ver" files lie.
    virtual QString versionsPath() const;
    /// workDir() + "/translations", the only place the root object loads catalogues from.
    virtual QString translationsPath() const;
    /// [INIT] locale; the system's locale when unset.
    virtual QLocale locale() const;
    /// Stores the locale's name as [INIT] locale.
    virtual void setlocale(const QLocale &locale);

    /// appWorkDir() or, when empty, the organisation name; in lower case.
    QString baseWorkDir() const;

    /// The name of the default work folder, set once by the host before the first
    /// InitConfig (empty: the organisation name).
    static QString appWorkDir();
    static void setAppWorkDir(const QString &name);

protected:
    static QString _appWorkDir;
    static QMutex _smutex;
};

} // namespace ravix
