#include "appframe/basedaemonroot.h"

#include "appframe/initconfig.h"
#include "logger/loggermanager.h"
#include "version/appversionmanager.h"

#include <QCoreApplication>
#include <QTextCodec>
#include <QTranslator>

#include <csignal>
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
