// SPDX-License-Identifier: MIT
#include "appframe/initconfig.h"

#include "appframe/dircreator.h"
#include "appframe/platformconventions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcessEnvironment>

namespace ravix {

FileConfigHelper::FileConfigHelper(const QString &path, bool create)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    const bool existed = info.exists();
    if (create && !existed)
        DirCreator::checkAndCreate(info.absolutePath(), DirCreator::DEFAULT_ALL);
    if (!create && !existed)
        return;
    m_settings = new QSettings(path, QSettings::IniFormat);
    if (!existed) {
        m_settings->setValue(QStringLiteral("INIT/initDt"),
                             QDateTime::currentDateTime().toString(Qt::RFC2822Date));
        m_settings->sync();
    }
}

FileConfigHelper::~FileConfigHelper()
{
    // Only this object refers to the settings it made; dropping the guard alone would leak it.
    delete m_settings.data();
}

QString FileConfigHelper::settingsFileName() const
{
    return m_settings ? m_settings->fileName() : QString();
}

QString FileConfigHelper::settingsPath() const
{
    return m_settings ? QFileInfo(m_settings->fileName()).absolutePath() : QString();
}

bool FileConfigHelper::isValid() const
{
    return !m_settings.isNull();
}

QVariant FileConfigHelper::value(QString section, const QString &key,
                                 const QVariant &defaultValue) const
{
    if (!m_settings)
        return QVariant();
    m_settings->sync();
    const bool grouped = !section.isEmpty();
    if (grouped)
        m_settings->beginGroup(section);
    const QVariant v = m_settings->value(key, defaultValue);
    if (grouped)
        m_settings->endGroup();
    return v;
}

void FileConfigHelper::setValue(QString section, const QString &key, const QVariant &value)
{
    if (!m_settings)
        return;
    m_settings->sync();
    const bool grouped = !section.isEmpty();
    if (grouped)
        m_settings->beginGroup(section);
    m_settings->setValue(key, value);
    if (grouped)
        m_settings->endGroup();
}

const QString InitConfig::INIT_SECTION = QStringLiteral("INIT");
const QString InitConfig::LOGS_SECTION = QStringLiteral("LOGS");
const QString InitConfig::WORK_DIR = QStringLiteral("workDir");
const QString InitConfig::LOGS_DIR = QStringLiteral("logsDir");
const QString InitConfig::KEEP_LOGS = QStringLiteral("keepLogsDays");
const QString InitConfig::KEEP_LOGS_HANDLERS = QStringLiteral("keepLogsHandlers");
const QString InitConfig::ROTATE_LOGS = QStringLiteral("rotateLogs");
const QString InitConfig::CLEAN_ANY_OLD_LOGS = QStringLiteral("cleanAnyOldLogs");
const QString InitConfig::LOCALE = QStringLiteral("locale");

QString InitConfig::_appWorkDir;
QMutex InitConfig::_smutex;

InitConfig::InitConfig(const QString &path, bool create) : FileConfigHelper(path, create)
{
    // Without a file the derived paths are bare suffixes ("/run", "/versions"); creating
    // those would litter the file-system root.
    if (!isValid())
        return;
    DirCreator::checkAndCreate(workDir(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(loggerPath(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(versionsPath(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(runPath(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(translationsPath(), DirCreator::DEFAULT_ALL);
}

InitConfig::~InitConfig()
{
    if (m_settings)
        delete m_settings.data();
}

QString InitConfig::baseWorkDir() const
{
    QString name = appWorkDir();
    if (name.isEmpty())
        name = QCoreApplication::organizationName();
    return name.toLower();
}

QString InitConfig::workDir() const
{
    return value(INIT_SECTION, WORK_DIR, PlatformConventions::defaultWorkDir(baseWorkDir()))
        .toString();
}

QString InitConfig::loggerPath() const
{
    return value(LOGS_SECTION, LOGS_DIR, workDir() + QStringLiteral("/logs")).toString();
}

QString InitConfig::runPath() const
{
    return workDir() + QStringLiteral("/run");
}

QString InitConfig::versionsPath() const
{
    return workDir() + QStringLiteral("/versions");
}

QString InitConfig::translationsPath() const
{
    return workDir() + QStringLiteral("/translations");
}

int InitConfig::keepLogs() const
{
    return value(LOGS_SECTION, KEEP_LOGS, 30).toInt();
}

bool InitConfig::rotateLogs() const
{
    return value(LOGS_SECTION, ROTATE_LOGS, 1).toInt() != 0;
}

bool InitConfig::keepLogsHandlers() const
{
    return value(LOGS_SECTION, KEEP_LOGS_HANDLERS, 1).toInt() != 0;
}

bool InitConfig::cleanAnyOldLogs() const
{
    return value(LOGS_SECTION, CLEAN_ANY_OLD_LOGS, 0).toInt() != 0;
}

QLocale InitConfig::locale() const
{
    return QLocale(value(INIT_SECTION, LOCALE, QLocale::system().name()).toString());
}

void InitConfig::setlocale(const QLocale &locale)
{
    setValue(INIT_SECTION, LOCALE, locale.name());
}

QString InitConfig::appWorkDir()
{
    QMutexLocker lock(&_smutex);
    return _appWorkDir;
}

void InitConfig::setAppWorkDir(const QString &name)
{
    QMutexLocker lock(&_smutex);
    _appWorkDir = name;
}

} // namespace ravix
