// SPDX-License-Identifier: MIT
// terminal-agent: a service host built on ravixcore.
//
//   terminal-agent [--work-dir DIR] [--update-url URL] [--update-key FILE] [--duration SECONDS]
//
// The start-up file DIR/terminal-agent.ini is written on the first run; the agent then logs
// into daily files, supervises the services of its manifest, keeps an event journal in
// SQLite, fetches updates from URL and reports its state, until the run time is over
// (0: until SIGTERM or SIGINT). With --update-key, update documents are taken only with a
// signature "URL.sig" made by the secret key of that public key (ravix-sign-update).
#include "agent.h"

#include <ravixcore/appframe/basedaemonroot.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/appframe/ravixcoreinit.h>
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstring>
#include <memory>

#ifndef Q_OS_WIN
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const char *const APP_NAME = "terminal-agent";

class AgentRoot : public ravix::BaseDaemonRoot
{
public:
    // Signals are kept: the agent stops its services itself before it ends.
    AgentRoot(int &argc, char **argv, const QString &configPath)
        : BaseDaemonRoot(argc, argv, configPath, true)
    {
    }

protected:
    bool initApp() override
    {
        m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(AGENT_VERSION));
        ravix::AppVersionManager::addVersion(
            QCoreApplication::applicationName(),
            ravix::AppVersion(QStringLiteral(AGENT_VERSION), QStringLiteral(AGENT_BUILD)));
        return true;
    }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

#ifndef Q_OS_WIN
// SIGTERM and SIGINT are turned into a write on a socket pair, which the event loop reads:
// nothing but the write happens inside the signal handler.
int signalPair[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPair[0], &byte, 1);
}

void watchStopSignals(Agent *agent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, agent);
    QObject::connect(notifier, &QSocketNotifier::activated, agent, [agent, notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPair[1], &byte, 1);
        notifier->setEnabled(false);
        agent->shutdown(QStringLiteral("stop signal received"));
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#else
void watchStopSignals(Agent *) {}
#endif

struct Arguments
{
    QString workDir;
    QString updateUrl;
    QString updateKeyFile;
    int duration = 0;
    QString error;
};

Arguments parseArguments(int argc, char **argv)
{
    Arguments args;
    args.workDir = QDir::currentPath() + QStringLiteral("/terminal-agent-work");
    for (int i = 1; i < argc; ++i) {
        const QString name = QString::fromLocal8Bit(argv[i]);
        if (i + 1 >= argc) {
            args.error = QStringLiteral("%1 needs a value").arg(name);
            break;
        }
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (name == QLatin1String("--work-dir")) {
            args.workDir = QDir(value).absolutePath();
        } else if (name == QLatin1String("--update-url")) {
            args.updateUrl = value;
        } else if (name == QLatin1String("--update-key")) {
            args.updateKeyFile = QDir(value).absolutePath();
        } else if (name == QLatin1String("--duration")) {
            bool ok = false;
            args.duration = value.toInt(&ok);
            if (!ok || args.duration < 0)
                args.error = QStringLiteral("--duration takes a number of seconds, 0 or more");
        } else {
            args.error = QStringLiteral("unknown option %1").arg(name);
        }
        if (!args.error.isEmpty())
            break;
    }
    return args;
}

// First run: the start-up file with the work directory and the terminal's locale. A plain
// FileConfigHelper writes it: an InitConfig would create the standard folders at once, in
// the default work directory, before workDir is in the file.
void writeStartupFile(const QString &iniPath, const QString &workDir)
{
    using ravix::InitConfig;
    ravix::FileConfigHelper file(iniPath, true);
    file.setValue(InitConfig::INIT_SECTION, InitConfig::WORK_DIR, workDir);
    file.setValue(InitConfig::INIT_SECTION, InitConfig::LOCALE, QStringLiteral("ru_RU"));
    file.setValue(InitConfig::LOGS_SECTION, InitConfig::KEEP_LOGS, 14);
    file.setValue(InitConfig::LOGS_SECTION, InitConfig::ROTATE_LOGS, 1);
}

} // namespace

int main(int argc, char **argv)
{
    // Names before the first InitConfig: they name the default work directory.
    QCoreApplication::setOrganizationName(QStringLiteral("RavixDemo"));
    QCoreApplication::setApplicationName(QString::fromLatin1(APP_NAME));
    const Arguments args = parseArguments(argc, argv);
    if (!args.error.isEmpty()) {
        QTextStream(stderr) << APP_NAME << ": " << args.error << "\nusage: " << APP_NAME
                            << " [--work-dir DIR] [--update-url URL] [--update-key FILE]"
                               " [--duration SECONDS]\n";
        return 2;
    }
    const QString iniPath = args.workDir + QStringLiteral("/terminal-agent.ini");
    const bool firstRun = !QFileInfo::exists(iniPath);
    if (firstRun)
        writeStartupFile(iniPath, args.workDir);
    // The root object finds catalogues only in the work directory; the library's are copied
    // there from where it was installed.
    ravix::RavixCoreInit::installCatalogues(ravix::InitConfig(iniPath, false).translationsPath(),
                                            QStringLiteral(AGENT_CATALOGUES_DIR));

    int rc = 1;
    {
        AgentRoot root(argc, argv, iniPath);
        if (!root.init())
            return 1;
        const ravix::InitConfig cfg(iniPath, false);
        if (firstRun)
            qInfo().noquote() << "First run: start-up file written to" << iniPath;
        qInfo().noquote() << APP_NAME << QCoreApplication::applicationVersion()
                          << "starting, work dir" << cfg.workDir() << "ravixcore"
                          << ravix::RavixCoreInit::version().version();

        Agent::Options options;
        options.workDir = cfg.workDir();
        options.updateUrl = args.updateUrl;
        options.updateKeyFile = args.updateKeyFile;
        options.durationSeconds = args.duration;
        Agent agent(options);
        watchStopSignals(&agent);
        if (agent.start())
            rc = root.exec();
        qInfo().noquote() << APP_NAME << "stopped with exit code" << rc;
        root.stop();
    }
    return rc;
}
