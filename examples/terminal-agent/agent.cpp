// SPDX-License-Identifier: MIT
#include "agent.h"

#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/fixnumber/currency.h>
#include <ravixcore/srvmanifest/srvmanifest.h>
#include <ravixcore/sys/sysutils.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>

namespace {

QString configuredWorkDir()
{
    const ravix::InitConfig cfg(qApp->property("INIT_CONFIG_PATH").toString(), false);
    return cfg.workDir();
}

// A sample receipt in kopecks; it grows a little with every report so the words change.
qint64 sampleReceiptTotal(int report)
{
    const qint64 prices[] = {12990, 4550, 99};
    const int quantities[] = {2, 3, 7};
    qint64 total = 0;
    for (int i = 0; i < 3; ++i)
        total += prices[i] * quantities[i];
    return total + report * 1001;
}

ravix::Currency rouble()
{
    ravix::Currency rub;
    rub.setNumber3(643);
    rub.setAlpha3(QStringLiteral("RUB"));
    rub.setRealMultiplier(100u);
    rub.setLocale(QStringLiteral("ru_RU"));
    return rub;
}

} // namespace

Agent::Agent(const Options &options, QObject *parent)
    : QObject(parent), _options(options),
      _db(options.workDir + QStringLiteral("/db/events.sqlite")),
      _updates(
          options.updateUrl, options.workDir + QStringLiteral("/updates"),
          ravix::InitConfig(qApp->property("INIT_CONFIG_PATH").toString(), false).versionsPath(),
          QCoreApplication::applicationName(), options.updateIntervalMs)
{
    connect(&_updates, &UpdateFetcher::event, this, &Agent::recordEvent);
    _statusTimer.setInterval(options.statusIntervalMs);
    connect(&_statusTimer, &QTimer::timeout, this, &Agent::logStatus);
}

Agent::~Agent()
{
    _db.close();
}

bool Agent::start()
{
    QString error;
    if (!_db.open(error)) {
        qCritical().noquote() << "The event database cannot be used:" << error;
        return false;
    }
    recordEvent(QStringLiteral("start"),
                QStringLiteral("agent %1 started, work dir %2")
                    .arg(QCoreApplication::applicationVersion(), configuredWorkDir()));
    if (!_options.updateKeyFile.isEmpty()) {
        QFile key(_options.updateKeyFile);
        if (!key.open(QIODevice::ReadOnly) || !_updates.setSigningKey(key.readAll())) {
            qCritical().noquote() << "The update key" << _options.updateKeyFile
                                  << "cannot be read as an Ed25519 public key";
            return false;
        }
        qInfo().noquote() << "Update documents must be signed with the key of"
                          << _options.updateKeyFile;
    }
    startServices();
    if (_options.updateUrl.isEmpty())
        qInfo() << "No update URL given; updates are not fetched";
    else
        _updates.start();
    _statusTimer.start();
    QTimer::singleShot(0, this, &Agent::logStatus);
    if (_options.durationSeconds > 0)
        QTimer::singleShot(_options.durationSeconds * 1000, this,
                           [this] { shutdown(QStringLiteral("the run time is over")); });
    return true;
}

void Agent::startServices()
{
    const QString servicesDir = _options.workDir + QStringLiteral("/services");
    QDir().mkpath(servicesDir);
    // The shipped manifest is installed once; later runs read the copy, which may be edited.
    const ravix::SrvManifest manifest(QStringLiteral(":/terminal-agent/services.json"),
                                      servicesDir + QStringLiteral("/manifest.json"), servicesDir,
                                      servicesDir);
    if (manifest.instances().isEmpty())
        qWarning().noquote() << "No service to supervise in" << manifest.manifestFileName();
    for (const ravix::ExeInstance &instance : manifest.instances()) {
        QPointer<ravix::BaseSrvWrapper> wrapper = ravix::BaseSrvWrapper::create(instance, this);
        connect(wrapper, &ravix::BaseSrvWrapper::started, this, &Agent::serviceStarted);
        connect(wrapper, &ravix::BaseSrvWrapper::finished, this, &Agent::serviceFinished);
        _services.append(wrapper);
        qInfo().noquote() << "Supervising" << instance.exeFilePath() << instance.params().join(' ')
                          << "in" << instance.workDir();
        wrapper->start();
    }
}

void Agent::serviceStarted(const QString &exe)
{
    const int starts = ++_starts[exe];
    const QString text =
        starts == 1 ? QStringLiteral("service %1 started").arg(exe)
                    : QStringLiteral("service %1 restarted (start %2)").arg(exe).arg(starts);
    qInfo().noquote() << text;
    recordEvent(starts == 1 ? QStringLiteral("service-start") : QStringLiteral("service-restart"),
                text);
}

void Agent::serviceFinished(const QString &exe)
{
    if (!_stopping)
        qInfo().noquote() << "Service" << exe << "ended; it is started again";
    recordEvent(QStringLiteral("service-end"), QStringLiteral("service %1 ended").arg(exe));
}

void Agent::logStatus()
{
    qint64 freeBytes = 0;
    qint64 totalBytes = 0;
    ravix::SysUtils::freeDiskSpace(_options.workDir, freeBytes, totalBytes);
    const quint64 memFree = ravix::SysUtils::getAvailableSystemMemory();
    const quint64 memTotal = ravix::SysUtils::getTotalSystemMemory();
    QString addresses = ravix::SysUtils::ipAddress();
    if (addresses.isEmpty())
        addresses = QStringLiteral("none");

    const ravix::Currency rub = rouble();
    const qint64 total = sampleReceiptTotal(_statusCount++);
    // The words come from the library's catalogue of the configured locale.
    const QString words = ravix::Currency::sumAsString(
        rub.valueToDouble(total), QStringLiteral("руб."), QStringLiteral("коп."));

    qInfo().noquote() << QStringLiteral("Status: disk %1 of %2 MiB free, memory %3 of %4 MiB free, "
                                        "uptime %5 s, addresses %6; receipt total %7 (%8)")
                             .arg(freeBytes >> 20)
                             .arg(totalBytes >> 20)
                             .arg(memFree >> 20)
                             .arg(memTotal >> 20)
                             .arg(ravix::SysUtils::uptime())
                             .arg(addresses, rub.valueToString(total, true, QLatin1Char(' ')),
                                  words.trimmed());
}

void Agent::recordEvent(const QString &kind, const QString &text)
{
    const QString source = sender() == &_updates                       ? QStringLiteral("updates")
                           : kind.startsWith(QLatin1String("service")) ? QStringLiteral("services")
                                                                       : QStringLiteral("agent");
    _db.addEvent(source, kind, text);
}

void Agent::shutdown(const QString &reason)
{
    if (_stopping)
        return;
    _stopping = true;
    qInfo().noquote() << "Stopping:" << reason;
    _statusTimer.stop();
    _updates.stop();
    for (const QPointer<ravix::BaseSrvWrapper> &service : qAsConst(_services)) {
        if (service)
            service->stop(true);
    }
    QStringList restarts;
    for (auto it = _starts.cbegin(); it != _starts.cend(); ++it)
        restarts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value() - 1);
    qInfo().noquote() << "Service restarts:"
                      << (restarts.isEmpty() ? QStringLiteral("none") : restarts.join(", "));
    recordEvent(QStringLiteral("stop"), QStringLiteral("agent stopped: %1").arg(reason));
    qInfo().noquote() << "Events in the journal:" << _db.eventCount();
    _db.close();
    QCoreApplication::quit();
}
