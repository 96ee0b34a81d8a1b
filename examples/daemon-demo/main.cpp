// SPDX-License-Identifier: MIT
// A minimal service host: a root object derived from BaseDaemonRoot that starts logging in
// a fresh work directory, in the locale given on the command line (default ru_RU), runs its
// event loop briefly and shows what the process left behind.
// Usage: daemon-demo [work root] [locale]
#include <ravixcore/appframe/basedaemonroot.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/appframe/ravixcoreinit.h>
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

class DemoRoot : public ravix::BaseDaemonRoot
{
public:
    using BaseDaemonRoot::BaseDaemonRoot;

protected:
    bool initApp() override
    {
        m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
        QCoreApplication::setOrganizationName(QStringLiteral("RavixDemo"));
        QCoreApplication::setApplicationName(QStringLiteral("daemon-demo"));
        return true;
    }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

} // namespace

int main(int argc, char **argv)
{
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QDir::tempPath() + QStringLiteral("/ravixcore-daemon-demo");
    const QString locale = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("ru_RU");
    const QString iniPath = root + QStringLiteral("/daemon.ini");
    QTextStream out(stdout);

    // Installation step: the start-up file, and the library's catalogues in the directory
    // where the root object looks for them.
    {
        ravix::InitConfig cfg(iniPath, true);
        cfg.setValue(ravix::InitConfig::INIT_SECTION, ravix::InitConfig::WORK_DIR,
                     root + QStringLiteral("/work"));
        cfg.setlocale(QLocale(locale));
    }
    const QString translations = ravix::InitConfig(iniPath, false).translationsPath();
    const QString shipped = QFileInfo::exists(QStringLiteral(DEMO_QM_DIR))
                                ? QStringLiteral(DEMO_QM_DIR)
                                : ravix::RavixCoreInit::cataloguesDir();
    out << "catalogues " << shipped << " -> " << translations << ": "
        << (ravix::RavixCoreInit::installCatalogues(translations, shipped) ? "installed"
                                                                           : "not found")
        << '\n';

    ravix::AppVersionManager::addVersion(
        QStringLiteral("daemon-demo"),
        ravix::AppVersion(QStringLiteral("0.1.0"), QStringLiteral("2024-01-01T00:00:00")));

    DemoRoot daemon(argc, argv, iniPath);
    if (!daemon.init())
        return 1;
    qWarning("The demo daemon is running");
    QTimer::singleShot(100, qApp, &QCoreApplication::quit);
    const int rc = daemon.exec();
    daemon.stop();

    const ravix::InitConfig cfg(iniPath, false);
    out << "locale: " << QLocale().name() << '\n'
        << "library: ravixcore " << ravix::RavixCoreInit::version().version() << ", built "
        << ravix::RavixCoreInit::version().build() << '\n'
        << "version file " << cfg.versionsPath() << "/daemon-demo.ver:\n";
    QFile ver(cfg.versionsPath() + QStringLiteral("/daemon-demo.ver"));
    if (ver.open(QIODevice::ReadOnly))
        out << QString::fromUtf8(ver.readAll());
    const QStringList logs = QDir(cfg.loggerPath()).entryList(QDir::Files, QDir::Name);
    for (const QString &name : logs) {
        QFile log(cfg.loggerPath() + '/' + name);
        if (log.open(QIODevice::ReadOnly))
            out << "log file " << log.fileName() << ":\n" << QString::fromUtf8(log.readAll());
    }
    return rc;
}
