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
    static const QString INIT_SECTION;
    static const QString LOGS_SECTION;
    static const QString WORK_DIR;
    static const QString LOGS_DIR;
    static const QString KEEP_LOGS;
    static const QString KEEP_LOGS_HANDLERS;
    static const QString ROTATE_LOGS;
    static const QString CLEAN_ANY_OLD_LOGS;
    static const QString LOCALE;

    InitConfig(const QString &path, bool create);
    ~InitConfig() override;

    virtual QString workDir() const;
    virtual QString loggerPath() const;
    virtual QString runPath() const;
    virtual int keepLogs() const;
    virtual bool rotateLogs() const;
    virtual bool keepLogsHandlers() const;
    virtual bool cleanAnyOldLogs() const;
    virtual QString versionsPath() const;
    virtual QString translationsPath() const;
    virtual QLocale locale() const;
    virtual void setlocale(const QLocale &locale);

    /// appWorkDir() or, when empty, the organisation name; in lower case.
    QString baseWorkDir() const;

    static QString appWorkDir();
    static void setAppWorkDir(const QString &name);

protected:
    static QString _appWorkDir;
    static QMutex _smutex;
};

} // namespace ravix
