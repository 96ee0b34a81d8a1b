#include "appframe/basedaemonroot.h"

#include "appframe/initconfig.h"
#include "logger/loggermanager.h"
#include "version/appversionmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace ravix {

BaseDaemonRoot *BaseDaemonRoot::_instance = nullptr;

namespace {

const char *const INIT_CONFIG_PATH = "INIT_CONFIG_PATH";
// Marks the translators this class made, with their catalogue name.
const char *const CATALOGUE = "RAVIX_CATALOGUE";

// Ends the process at once: the event loop is not left and the log is not released, but
// static destructors and exit handlers run.
extern "C" void terminateHandler(int)
{
    std::exit(0);
}

void useUtf8Codec()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

// Why the folder \a path is not there to write log files into; empty when it is.
QString logsFolderProblem(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return info.isWritable() ? QString() : BaseDaemonRoot::tr("no permission to write in it");
    // The nearest part of the path that exists is what stood in the way.
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing) && !QDir(existing).isRoot())
        existing = QFileInfo(existing).absolutePath();
    const QFileInfo blocker(existing);
    if (!blocker.isDir())
        return BaseDaemonRoot::tr("%1 is not a folder").arg(QDir::toNativeSeparators(existing));
    if (!blocker.isWritable())
        return BaseDaemonRoot::tr("no permission to create folders in %1")
            .arg(QDir::toNativeSeparators(existing));
    return BaseDaemonRoot::tr("the folder could not be created");
}

// A daemon that cannot log must say so somewhere: one line on the standard error stream.
void reportNoLogFile(const QString &what, const QString &path, const QString &reason)
{
    const QString line = BaseDaemonRoot::tr("%1: no log file: %2 \"%3\": %4\n")
                             .arg(QCoreApplication::applicationName(), what,
                                  QDir::toNativeSeparators(path), reason);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// Says why init() leaves the process without a log file, unless it was silenced on purpose.
void checkLogPlace(const InitConfig &cfg, const QString &configPath)
{
    if (!cfg.isValid()) {
        QFile file(configPath);
        const QString reason = file.open(QIODevice::ReadOnly)
                                   ? BaseDaemonRoot::tr("not a start-up file")
                                   : file.errorString();
        reportNoLogFile(BaseDaemonRoot::tr("the start-up file"), configPath, reason);
        return;
    }
    if (cfg.keepLogs() <= 0 || cfg.loggerPath().isEmpty())
        return;
    const QString problem = logsFolderProblem(cfg.loggerPath());
    if (!problem.isEmpty())
        reportNoLogFile(BaseDaemonRoot::tr("the logs folder"), cfg.loggerPath(), problem);
}

} // namespace

BaseDaemonRoot::BaseDaemonRoot(int &argc, char **argv, const QString &configPath, bool keepSignals)
    : QObject(nullptr), m_argc(argc), m_argv(argv), m_configPath(configPath)
{
    if (!_instance)
        _instance = this;
    if (!keepSignals)
        std::signal(SIGTERM, terminateHandler);
}

BaseDaemonRoot::BaseDaemonRoot(int &argc, char **argv, const QString &configPath)
    : BaseDaemonRoot(argc, argv, configPath, false)
{
}

BaseDaemonRoot::~BaseDaemonRoot()
{
    if (_instance == this)
        _instance = nullptr;
}

bool BaseDaemonRoot::init()
{
    const InitConfig cfg(m_configPath, false);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(cfg.keepLogsHandlers());
    if (!initApp())
        return false;
    // Everything below needs the application object that the hook was to create.
    if (!QCoreApplication::instance()) {
        qCritical("BaseDaemonRoot::init: initApp() created no application object");
        return false;
    }

    QCoreApplication::instance()->setProperty(INIT_CONFIG_PATH, m_configPath);
    // Without a start-up file the versions directory is a bare "/versions" at the root of
    // the file system; nothing belongs there.
    if (cfg.isValid())
        AppVersionManager::saveCurrentVersions(cfg.versionsPath(),
                                               QCoreApplication::applicationName());
    LoggerManager::initLog(cfg.loggerPath(), unsigned(cfg.keepLogs()), cfg.rotateLogs(),
                           QtDebugMsg);
    checkLogPlace(cfg, m_configPath);
    useUtf8Codec();
    setUpLocale();
    // Whatever the locale set-up did, text stays UTF-8.
    useUtf8Codec();
    return true;
}

int BaseDaemonRoot::exec()
{
    return QCoreApplication::exec();
}

void BaseDaemonRoot::stop()
{
    LoggerManager::releaseLog();
}

void BaseDaemonRoot::setUpLocale()
{
    QLocale locale;
    {
        const InitConfig cfg(m_configPath, false);
        locale = cfg.locale();
    }
    doSetupLocale(locale);
}

void BaseDaemonRoot::setUpLocale(const QLocale &locale)
{
    doSetupLocale(locale);
}

void BaseDaemonRoot::doSetupLocale(const QLocale &locale)
{
    const InitConfig cfg(m_configPath, false);
    const QString dir = cfg.translationsPath();
    const QStringList catalogues = QStringList{QStringLiteral("qt"), QStringLiteral("qtbase")} +
                                   AppVersionManager::localisations();
    // Catalogues of an earlier locale would keep answering for texts the new one lacks
    // (English has no catalogue at all), so they go before the new ones are loaded.
    for (QTranslator *old : findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (old->property(CATALOGUE).isValid()) {
            QCoreApplication::removeTranslator(old);
            delete old;
        }
    }
    QLocale::setDefault(locale);
    for (const QString &name : catalogues) {
        // A catalogue that is not there stays an unused child of the root.
        auto *translator = new QTranslator(this);
        translator->setProperty(CATALOGUE, name);
        if (translator->load(locale, name, QStringLiteral("_"), dir, QStringLiteral(".qm")))
            QCoreApplication::installTranslator(translator);
    }
    useUtf8Codec();
}

} // namespace ravix
