// SPDX-License-Identifier: MIT
// A host process for the root object tests.
// Usage: ravix_rootchild <mode> <start-up file> [keep]
//   hookfails  init() with a hook that returns false, then a warning
//   noapp      init() with a hook that returns true without making the application object
//   init       init(), a warning, stop(), another warning
//   serve      init(), then "ready" and the event loop until a signal ends the process
//   servethreads  as serve, with threads that log until the loop has ended
//   hang       init(), then "ready", and never an event loop
//   stoponly   stop() without init()
// "keep" constructs the root with signal handling left alone. Results go to stdout as
// key=value lines.
#include <ravixcore/appframe/basedaemonroot.h>
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QThread>
#include <QTranslator>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

void say(const QString &key, const QString &value)
{
    std::fputs(QStringLiteral("%1=%2\n").arg(key, value).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class ChildRoot : public ravix::BaseDaemonRoot
{
public:
    ChildRoot(int &argc, char **argv, const QString &ini, bool keep, const QString &mode)
        : BaseDaemonRoot(argc, argv, ini, keep), m_mode(mode)
    {
    }

    // Catalogue name and whether it loaded, in the order the root made them.
    QString catalogues() const
    {
        QStringList list;
        for (const QTranslator *t : findChildren<QTranslator *>())
            list << t->property("RAVIX_CATALOGUE").toString() + ':' +
                        (t->filePath().isEmpty() ? '0' : '1');
        return list.join(',');
    }

protected:
    bool initApp() override
    {
        if (m_mode == QLatin1String("hookfails"))
            return false;
        if (m_mode == QLatin1String("noapp"))
            return true;
        m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
        QCoreApplication::setOrganizationName(QStringLiteral("RavixTest"));
        QCoreApplication::setApplicationName(QStringLiteral("rootchild"));
        return true;
    }

private:
    QString m_mode;
    std::unique_ptr<QCoreApplication> m_app;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString ini = QString::fromLocal8Bit(argv[2]);
    const bool keep = argc > 3 && qstrcmp(argv[3], "keep") == 0;

    ravix::AppVersionManager::addVersion(
        QStringLiteral("rootchild"),
        ravix::AppVersion(QStringLiteral("2.5.0"), QStringLiteral("2024-01-01T00:00:00")));
    ravix::AppVersionManager::addLocalisation(QStringLiteral("host"));

    ChildRoot root(argc, argv, ini, keep, mode);
    say(QStringLiteral("instance"), ravix::BaseDaemonRoot::_instance == &root ? "1" : "0");

    if (mode == QLatin1String("stoponly")) {
        root.stop();
        return 0;
    }

    const bool ok = root.init();
    say(QStringLiteral("init"), ok ? "1" : "0");
    if (ok) {
        say(QStringLiteral("property"), qApp->property("INIT_CONFIG_PATH").toString());
        say(QStringLiteral("locale"), QLocale().name());
        say(QStringLiteral("catalogues"), root.catalogues());
        say(QStringLiteral("stoptext"), QObject::tr("Stop logging"));
    }
    qWarning("marker-after-init");

    if (mode == QLatin1String("serve")) {
        say(QStringLiteral("ready"), "1");
        return root.exec();
    }
    if (mode == QLatin1String("servethreads")) {
        std::atomic<bool> done{false};
        std::atomic<int> logging{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < 3; ++i) {
            workers.emplace_back([&done, &logging, i] {
                for (int n = 0; !done; ++n) {
                    qWarning("worker record %d %d", i, n);
                    if (n == 0)
                        ++logging;
                    QThread::msleep(1);
                }
            });
        }
        // Ready once every worker has logged: on a busy machine threads may start only after
        // the stop, when their records no longer reach the file.
        while (logging < 3)
            QThread::msleep(1);
        say(QStringLiteral("ready"), "1");
        const int code = root.exec();
        done = true;
        for (std::thread &worker : workers)
            worker.join();
        return code;
    }
    if (mode == QLatin1String("hang")) {
        say(QStringLiteral("ready"), "1");
        for (;;)
            QThread::sleep(1);
    }
    if (mode == QLatin1String("init")) {
        root.stop();
        qWarning("marker-after-stop");
    }
    return 0;
}
