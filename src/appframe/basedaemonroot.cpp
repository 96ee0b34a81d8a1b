// SPDX-License-Identifier: MIT
#include "appframe/basedaemonroot.h"

#include "appframe/initconfig.h"
#include "logger/loggermanager.h"
#include "sys/safefile_p.h"
#include "version/appversionmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTextCodec>
#include <QTranslator>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ravix {

BaseDaemonRoot *BaseDaemonRoot::_instance = nullptr;

namespace {

const char *const INIT_CONFIG_PATH = "INIT_CONFIG_PATH";
// Marks the translators this class made, with their catalogue name.
const char *const CATALOGUE = "RAVIX_CATALOGUE";

#ifdef Q_OS_WIN
// Ends the process at once: the event loop is not left and the log is not released, but
// static destructors and exit handlers run.
extern "C" void terminateHandler(int)
{
    std::exit(0);
}
#else
// SIGTERM only writes to this pipe; the event loop reads it and shuts down in order. Nothing
// else is safe in a handler that may interrupt a thread holding the log lock.
int s_termPipe[2] = {-1, -1};
// Lock-free, so safe in the handler; set by whichever thread took the signal.
std::atomic<bool> s_termPending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
// How long the event loop has to answer before the process ends without it.
constexpr unsigned TERM_ANSWER_S = 5;
// The root whose event loop answers (the first one that took over the signal) and its reader.
QPointer<BaseDaemonRoot> s_signalRoot;
QPointer<QSocketNotifier> s_termNotifier;

extern "C" void noAnswerHandler(int)
{
    ::_exit(0);
}

extern "C" void terminateHandler(int)
{
    const int savedErrno = errno;
    if (!s_termPending.exchange(true)) {
        // sigaction and alarm are async-signal-safe; SIGALRM is taken over only now.
        struct sigaction action = {};
        action.sa_handler = noAnswerHandler;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, nullptr);
        ::alarm(TERM_ANSWER_S);
    }
    const char byte = 1;
    if (::write(s_termPipe[1], &byte, 1) < 0) {
        // A full pipe already holds an unanswered request.
    }
    errno = savedErrno;
}

void installTerminateHandler()
{
    if (s_termPipe[0] < 0) {
        if (::pipe(s_termPipe) != 0)
            return;
        for (int fd : s_termPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    struct sigaction action = {};
    action.sa_handler = terminateHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}
#endif

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
        // Only to name the reason: never through a link, never waiting on a FIFO.
        QFile file;
        QString reason;
        if (safefile::openForRead(file, configPath, &reason))
            reason = BaseDaemonRoot::tr("not a start-up file");
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
    if (!keepSignals) {
#ifdef Q_OS_WIN
        std::signal(SIGTERM, terminateHandler);
#else
        if (!s_signalRoot) {
            s_signalRoot = this;
            installTerminateHandler();
        }
#endif
    }
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

    watchTermination();
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
    watchTermination();
    return QCoreApplication::exec();
}

void BaseDaemonRoot::watchTermination()
{
#ifndef Q_OS_WIN
    if (s_signalRoot != this || s_termPipe[0] < 0 || !QCoreApplication::instance() ||
        s_termNotifier)
        return;
    s_termNotifier = new QSocketNotifier(s_termPipe[0], QSocketNotifier::Read, this);
    connect(s_termNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (::read(s_termPipe[0], bytes, sizeof bytes) > 0) {
        }
        ::alarm(0);
        s_termPending = false;
        stop();
        QCoreApplication::exit(0);
    });
#endif
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
