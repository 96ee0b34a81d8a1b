// SPDX-License-Identifier: MIT
// SysUtils on the host system: formatting rules, the Linux readers on prepared trees, and
// real values checked against what the system itself reports at the same moment.
#include "sys/sysutils_p.h"
#include <ravixcore/sys/sysutils.h>

#include "messagecapture.h"
#include "testtools.h"

#include <QtTest>

#include <QHostAddress>
#include <QStorageInfo>
#include <QTimeZone>

#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

using ravix::SysUtils;
using ravix::SysUtilsPrivate;

namespace {

constexpr qint64 GiB = qint64(1) << 30;
constexpr qint64 MiB = qint64(1) << 20;

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Received and sent bytes of every interface except the loopback, as the kernel counts them.
bool procNetDev(qint64 *received, qint64 *sent)
{
    QFile f(QStringLiteral("/proc/net/dev"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    *received = 0;
    *sent = 0;
    for (const QByteArray &line : lines.mid(2)) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() == "lo")
            continue;
        const QList<QByteArray> fields = line.mid(colon + 1).simplified().split(' ');
        *received += fields.at(0).toLongLong();
        *sent += fields.at(8).toLongLong();
    }
    return true;
}

double procUptime()
{
    QFile f(QStringLiteral("/proc/uptime"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().split(' ').value(0).toDouble();
}

qint64 meminfoBytes(const QByteArray &key)
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields.at(0) == key + ':')
            return fields.at(1).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

class TestSysUtils : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The host's own backend: these tests compare with the real system.
        QVERIFY(!SysUtilsPrivate::windowsFlavour());
    }

    void unitRule_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("free");
        QTest::newRow("6 GiB") << 6 * GiB << "6 GB";
        QTest::newRow("3 GiB") << 3 * GiB << "3072 MB";
        QTest::newRow("4 GiB") << 4 * GiB << "4096 MB";
        QTest::newRow("exactly 5 GiB") << 5 * GiB << "5120 MB";
        QTest::newRow("just above 5 GiB") << 5 * GiB + 1 << "5 GB";
        QTest::newRow("GB rounded down") << 7 * GiB - 1 << "6 GB";
        QTest::newRow("exactly 1 MiB") << MiB << "1024 KB";
        QTest::newRow("just above 1 MiB") << MiB + 1 << "1 MB";
        QTest::newRow("exactly 1 KiB") << qint64(1024) << "1024 bytes";
        QTest::newRow("just above 1 KiB") << qint64(1025) << "1 KB";
        QTest::newRow("500 bytes") << qint64(500) << "500 bytes";
        QTest::newRow("nothing") << qint64(0) << "0 bytes";
    }

    void unitRule()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, free);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, false), free);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, true), QLatin1Char('/') + free);
    }

    void diskSpaceAgainstDf()
    {
        RAVIX_REQUIRE_TOOL(df, "df");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qint64 freeBytes = -1;
        qint64 totalBytes = -1;
        QVERIFY(SysUtils::freeDiskSpace(dir.path(), freeBytes, totalBytes));
        QByteArray out;
        QCOMPARE(ravixtest::runTool(
                     df, {QStringLiteral("-B1"), QStringLiteral("--output=size,used"), dir.path()},
                     &out),
                 0);
        const QList<QByteArray> fields = out.split('\n').value(1).simplified().split(' ');
        QCOMPARE(fields.size(), 2);
        const qint64 size = fields.at(0).toLongLong();
        const qint64 used = fields.at(1).toLongLong();
        QCOMPARE(totalBytes, size);
        // Free includes the blocks kept for the superuser: size minus used. Other
        // processes write meanwhile, hence the margin.
        QVERIFY2(std::llabs(freeBytes - (size - used)) < 256 * MiB,
                 qPrintable(QStringLiteral("%1 vs %2").arg(freeBytes).arg(size - used)));
    }

    void diskSpaceOfMissingPath()
    {
        qint64 freeBytes = 11;
        qint64 totalBytes = 22;
        QVERIFY(
            !SysUtils::freeDiskSpace(QStringLiteral("/no/such/place/here"), freeBytes, totalBytes));
        QCOMPARE(freeBytes, qint64(11));
        QCOMPARE(totalBytes, qint64(22));
    }

    void diskReport()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString report =
            SysUtils::freeDiskSpace({dir.path(), QStringLiteral("/no/such/place/here")});
        const QStringList entries = report.split(QStringLiteral("; "));
        const QRegularExpression entryForm(
            QStringLiteral("^(.+) \\d+ (bytes|KB|MB|GB)/\\d+ (bytes|KB|MB|GB)$"));
        QStringList roots;
        for (const QString &entry : entries) {
            const QRegularExpressionMatch m = entryForm.match(entry);
            QVERIFY2(m.hasMatch(), qPrintable(entry));
            roots.append(m.captured(1));
        }
        // Every mounted volume but tmpfs, by its root, then the given path; a missing
        // path gives no entry.
        QStringList expected;
        for (const QStorageInfo &v : QStorageInfo::mountedVolumes())
            if (v.isValid() && v.device() != "tmpfs")
                expected.append(v.rootPath());
        expected.append(dir.path());
        QCOMPARE(roots, expected);
        const QStorageInfo storage(dir.path());
        QVERIFY(entries.last().endsWith(SysUtilsPrivate::formatSize(storage.bytesTotal(), true)));
    }

    void ipFilter_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("loopback and link-local dropped")
            << QStringList{"127.0.0.1", "169.254.10.20", "10.1.2.3", "192.168.0.7"}
            << QStringList{"10.1.2.3", "192.168.0.7"};
        QTest::newRow("IPv6 dropped") << QStringList{"::1", "fe80::1", "2001:db8::5", "172.16.0.1"}
                                      << QStringList{"172.16.0.1"};
        QTest::newRow("IPv4-mapped in IPv4 form")
            << QStringList{"::ffff:192.0.2.44", "::ffff:169.254.1.1", "::ffff:127.0.0.1"}
            << QStringList{"192.0.2.44"};
        QTest::newRow("169.254 only as a prefix") << QStringList{"10.169.254.1", "169.25.4.1"}
                                                  << QStringList{"10.169.254.1", "169.25.4.1"};
        QTest::newRow("null address") << QStringList{QString()} << QStringList{};
        QTest::newRow("nothing") << QStringList{} << QStringList{};
    }

    void ipFilter()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, kept);
        QList<QHostAddress> list;
        for (const QString &a : addresses)
            list.append(QHostAddress(a));
        QCOMPARE(SysUtilsPrivate::filterAddresses(list), kept);
    }

    void ipAddressAgainstHostname()
    {
        RAVIX_REQUIRE_TOOL(hostname, "hostname");
        QByteArray out;
        QCOMPARE(ravixtest::runTool(hostname, {QStringLiteral("-I")}, &out), 0);
        const QStringList system = QString::fromLatin1(out).simplified().split(QLatin1Char(' '));
        const QString report = SysUtils::ipAddress();
        if (report.isEmpty())
            return; // a machine without a routable IPv4 address reports nothing
        for (const QString &a : report.split(QStringLiteral("; "))) {
            QVERIFY2(system.contains(a), qPrintable(a + " not in " + system.join(' ')));
            QVERIFY(!a.startsWith(QLatin1String("169.254.")));
        }
    }

    void memoryAgainstMeminfo()
    {
        const qint64 total = meminfoBytes("MemTotal");
        const qint64 available = meminfoBytes("MemAvailable");
        QVERIFY(total > 0 && available > 0);
        QCOMPARE(qint64(SysUtils::getTotalSystemMemory()), total);
        // Other processes allocate meanwhile; a tenth of the memory is plenty of room.
        QVERIFY2(std::llabs(qint64(SysUtils::getAvailableSystemMemory()) - available) < total / 10,
                 qPrintable(QString::number(available)));
    }

    void trafficAgainstProcNetDev()
    {
        qint64 rxBefore = 0, txBefore = 0, rxAfter = 0, txAfter = 0;
        qint64 received = -1, sent = -1;
        QVERIFY(procNetDev(&rxBefore, &txBefore));
        QVERIFY(SysUtils::getNetworkTraffic(received, sent));
        QVERIFY(procNetDev(&rxAfter, &txAfter));
        // The counters only grow, so ours lie between the readings before and after.
        QVERIFY2(rxBefore <= received && received <= rxAfter,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(rxBefore).arg(received).arg(rxAfter)));
        QVERIFY2(txBefore <= sent && sent <= txAfter,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(txBefore).arg(sent).arg(txAfter)));
    }

    void uptimeAgainstProcUptime()
    {
        const double before = procUptime();
        const qint64 up = SysUtils::uptime();
        const QDateTime start = SysUtils::startDt();
        const double after = procUptime();
        QVERIFY(before > 0);
        QVERIFY2(qint64(std::floor(before)) <= up && up <= qint64(std::ceil(after)),
                 qPrintable(QStringLiteral("%1 %2 %3").arg(before).arg(up).arg(after)));
        QCOMPARE(start.timeSpec(), Qt::UTC);
        const QDateTime expected = QDateTime::currentDateTimeUtc().addMSecs(-qint64(after * 1000));
        QVERIFY2(std::llabs(start.secsTo(expected)) <= 5, qPrintable(start.toString(Qt::ISODate)));
    }

    void fileSystemAvailability()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(SysUtils::fileSystemIsAvailable(dir.path()));
        QVERIFY(!SysUtils::fileSystemIsAvailable(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!SysUtils::fileSystemIsAvailable(QString()));
        const QString file = dir.filePath(QStringLiteral("plain"));
        QVERIFY(writeFile(file, "x"));
        QVERIFY(!SysUtils::fileSystemIsAvailable(file));
        // A read-only mount, when the machine has one.
        for (const QStorageInfo &v : QStorageInfo::mountedVolumes()) {
            if (v.isValid() && v.isReady() && v.isReadOnly()) {
                QVERIFY2(!SysUtils::fileSystemIsAvailable(v.rootPath()), qPrintable(v.rootPath()));
                break;
            }
        }
    }

    void cpuTemperatureFromThermalZones_data()
    {
        QTest::addColumn<QStringList>("zones"); // "type=millidegrees", "" for an unreadable temp
        QTest::addColumn<int>("degrees");
        QTest::newRow("no zones") << QStringList{} << 0;
        QTest::newRow("the package zone wins")
            << QStringList{"acpitz=45000", "x86_pkg_temp=52500"} << 53;
        QTest::newRow("cpu-thermal") << QStringList{"gpu-thermal=60000", "cpu-thermal=48200"} << 48;
        QTest::newRow("first zone that reads when none is the CPU")
            << QStringList{"acpitz=", "acpitz=41000", "iwlwifi=39000"} << 41;
        QTest::newRow("below zero") << QStringList{"soc_thermal=-5000"} << -5;
    }

    void cpuTemperatureFromThermalZones()
    {
        QFETCH(QStringList, zones);
        QFETCH(int, degrees);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (int i = 0; i < zones.size(); ++i) {
            const QString zone = root.filePath(QStringLiteral("thermal_zone%1/").arg(i));
            const QStringList parts = zones.at(i).split(QLatin1Char('='));
            QVERIFY(writeFile(zone + "type", parts.at(0).toLatin1() + '\n'));
            if (!parts.at(1).isEmpty())
                QVERIFY(writeFile(zone + "temp", parts.at(1).toLatin1() + '\n'));
        }
        QCOMPARE(SysUtilsPrivate::readCpuTemperature(root.path()), degrees);
    }

    void zonesInNumericOrder()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(writeFile(root.filePath("thermal_zone10/type"), "acpitz\n"));
        QVERIFY(writeFile(root.filePath("thermal_zone10/temp"), "70000\n"));
        QVERIFY(writeFile(root.filePath("thermal_zone2/type"), "acpitz\n"));
        QVERIFY(writeFile(root.filePath("thermal_zone2/temp"), "30000\n"));
        QCOMPARE(SysUtilsPrivate::readCpuTemperature(root.path()), 30);
    }

    void realTemperaturesAreSane()
    {
        // The machine may have no sensors at all (0); when it has, the values are plausible.
        const int cpu = SysUtils::cpuTemperature();
        const int drive = SysUtils::hddTemperature();
        QVERIFY2(cpu >= -40 && cpu <= 150, qPrintable(QString::number(cpu)));
        QVERIFY2(drive >= -40 && drive <= 150, qPrintable(QString::number(drive)));
        if (QDir(QStringLiteral("/sys/class/thermal")).entryList({"thermal_zone*"}).isEmpty())
            QCOMPARE(cpu, 0);
    }

    void driveTemperatureFromHwmon_data()
    {
        QTest::addColumn<QStringList>("sensors"); // "name=millidegrees"
        QTest::addColumn<int>("degrees");
        QTest::newRow("no sensors") << QStringList{} << 0;
        QTest::newRow("only the CPU's") << QStringList{"k10temp=55000", "coretemp=50000"} << 0;
        QTest::newRow("drivetemp") << QStringList{"k10temp=55000", "drivetemp=38000"} << 38;
        QTest::newRow("nvme") << QStringList{"nvme=41850"} << 42;
    }

    void driveTemperatureFromHwmon()
    {
        QFETCH(QStringList, sensors);
        QFETCH(int, degrees);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (int i = 0; i < sensors.size(); ++i) {
            const QString dir = root.filePath(QStringLiteral("hwmon%1/").arg(i));
            const QStringList parts = sensors.at(i).split(QLatin1Char('='));
            QVERIFY(writeFile(dir + "name", parts.at(0).toLatin1() + '\n'));
            QVERIFY(writeFile(dir + "temp1_input", parts.at(1).toLatin1() + '\n'));
        }
        QCOMPARE(SysUtilsPrivate::readDriveTemperature(root.path()), degrees);
    }

    void procSerial_data()
    {
        QTest::addColumn<QByteArray>("cpuinfo");
        QTest::addColumn<QByteArray>("dmi");
        QTest::addColumn<QString>("serial");
        QTest::newRow("cpuinfo Serial")
            << QByteArray("processor\t: 0\nHardware\t: BCM2835\nSerial\t\t: 00000000c0ffee42\n")
            << QByteArray("DMI-1\n") << "00000000c0ffee42";
        QTest::newRow("DMI serial") << QByteArray("processor\t: 0\nmodel name\t: Some CPU\n")
                                    << QByteArray("PF2ABCDE\n") << "PF2ABCDE";
        QTest::newRow("none") << QByteArray("processor\t: 0\n") << QByteArray() << QString();
    }

    void procSerial()
    {
        QFETCH(QByteArray, cpuinfo);
        QFETCH(QByteArray, dmi);
        QFETCH(QString, serial);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("cpuinfo"), cpuinfo));
        if (!dmi.isEmpty())
            QVERIFY(writeFile(dir.filePath("product_serial"), dmi));
        QCOMPARE(SysUtilsPrivate::readProcSerial(dir.filePath("cpuinfo"),
                                                 dir.filePath("product_serial")),
                 serial);
    }

    void hardwareHash()
    {
        QTemporaryDir dir;
        const QString id = dir.filePath("machine-id");
        const QString dbusId = dir.filePath("dbus-machine-id");
        const QString cpu = dir.filePath("cpuinfo");
        QVERIFY(writeFile(id, "0123456789abcdef0123456789abcdef\n"));
        QVERIFY(writeFile(cpu, "processor\t: 0\nmodel name\t: Test CPU 3000\n"));
        const QByteArray first = SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$"))
                    .match(QString::fromLatin1(first))
                    .hasMatch());
        QCOMPARE(SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu), first);

        // Another processor or another machine id is another machine.
        QVERIFY(writeFile(cpu, "processor\t: 0\nmodel name\t: Test CPU 4000\n"));
        const QByteArray otherCpu = SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu);
        QVERIFY(otherCpu != first);
        QVERIFY(writeFile(id, "fedcba9876543210fedcba9876543210\n"));
        QVERIFY(SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu) != otherCpu);

        // The D-Bus copy stands in for a missing machine id.
        QVERIFY(writeFile(dbusId, "fedcba9876543210fedcba9876543210\n"));
        const QByteArray viaDbus = SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu);
        QVERIFY(QFile::remove(id));
        QCOMPARE(SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu), viaDbus);

        // Nothing to go by gives no digest rather than one shared by every such machine.
        QVERIFY(QFile::remove(dbusId));
        QVERIFY(writeFile(cpu, "processor\t: 0\n"));
        QVERIFY(SysUtilsPrivate::linuxHardwareHash({id, dbusId}, cpu).isEmpty());

        // This machine.
        const QByteArray real = SysUtils::hardwareHash();
        QCOMPARE(real.size(), 64);
        QCOMPARE(SysUtils::hardwareHash(), real);
    }

    void chooseTimeZone_data()
    {
        QTest::addColumn<int>("hours");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QByteArray>("zoneId");
        QTest::newRow("+3") << 3 << true << QByteArray("UTC+03:00");
        QTest::newRow("-5") << -5 << true << QByteArray("UTC-05:00");
        QTest::newRow("+10") << 10 << true << QByteArray("UTC+10:00");
        QTest::newRow("0") << 0 << true << QByteArray("UTC+00:00");
    }

    void chooseTimeZone()
    {
        QFETCH(int, hours);
        QFETCH(bool, found);
        QFETCH(QByteArray, zoneId);
        QByteArray id("stale");
        QCOMPARE(SysUtils::chooseTimeZone(hours, QLocale::AnyCountry, id), found);
        QCOMPARE(id, zoneId);
    }

    void chooseTimeZoneWithoutZones()
    {
        ravixtest::MessageCapture capture;
        QByteArray id("stale");
        QVERIFY(!SysUtils::chooseTimeZone(20, QLocale::Russia, id));
        QVERIFY(id.isEmpty());
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("INVALID_OFFCET 20")));
    }

    void formatDtWithOffcet_data()
    {
        QTest::addColumn<QDateTime>("dt");
        QTest::addColumn<QString>("suffix");
        const QDate winter(2026, 1, 15);
        const QTime noon(12, 34, 56);
        QTest::newRow("3 hours east")
            << QDateTime(winter, noon, Qt::OffsetFromUTC, 3 * 3600) << " +03:00";
        QTest::newRow("Moscow") << QDateTime(winter, noon, QTimeZone("Europe/Moscow")) << " +03:00";
        QTest::newRow("5 hours west")
            << QDateTime(winter, noon, QTimeZone("America/New_York")) << " -05:00";
        QTest::newRow("daylight time")
            << QDateTime(QDate(2026, 7, 1), noon, QTimeZone("America/New_York")) << " -04:00";
        QTest::newRow("half an hour east")
            << QDateTime(winter, noon, QTimeZone("Asia/Kolkata")) << " +05:30";
        QTest::newRow("half an hour west")
            << QDateTime(winter, noon, QTimeZone("America/St_Johns")) << " -03:30";
        QTest::newRow("UTC") << QDateTime(winter, noon, Qt::UTC) << " +00:00";
    }

    void formatDtWithOffcet()
    {
        QFETCH(QDateTime, dt);
        QFETCH(QString, suffix);
        QVERIFY(dt.isValid());
        const QString text = SysUtils::formatDtWithOffcet(dt);
        QCOMPARE(text, QLocale::system().toString(dt, QLocale::ShortFormat) + suffix);
    }

    void formatInvalidDateTime() { QVERIFY(SysUtils::formatDtWithOffcet(QDateTime()).isEmpty()); }

    void fixedOffsetZones_data()
    {
        QTest::addColumn<int>("hours");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<int>("offset");
        QTest::newRow("+3") << 3 << "Etc/GMT-3" << 3 * 3600;
        QTest::newRow("-5") << -5 << "Etc/GMT+5" << -5 * 3600;
        QTest::newRow("0") << 0 << "Etc/UTC" << 0;
        QTest::newRow("+14") << 14 << "Etc/GMT-14" << 14 * 3600;
        QTest::newRow("-12") << -12 << "Etc/GMT+12" << -12 * 3600;
        QTest::newRow("+15") << 15 << QString() << 0;
        QTest::newRow("-13") << -13 << QString() << 0;
    }

    // The names are real zones of the system's time-zone data, with the offset asked for.
    void fixedOffsetZones()
    {
        QFETCH(int, hours);
        QFETCH(QString, zone);
        QFETCH(int, offset);
        QCOMPARE(SysUtilsPrivate::fixedOffsetZone(hours), zone);
        if (zone.isEmpty())
            return;
        const QTimeZone tz(zone.toLatin1());
        QVERIFY2(tz.isValid(), qPrintable(zone));
        QCOMPARE(tz.offsetFromUtc(QDateTime::currentDateTimeUtc()), offset);
    }

    void timeZoneOfThisSystem()
    {
        RAVIX_REQUIRE_TOOL(date, "date");
        QByteArray before, after;
        QCOMPARE(ravixtest::runTool(date, {QStringLiteral("+%z")}, &before), 0);
        int hours = 99;
        QVERIFY(SysUtils::getTimeZone(hours));
        QCOMPARE(ravixtest::runTool(date, {QStringLiteral("+%z")}, &after), 0);
        const QByteArray z = before.trimmed(); // e.g. +0530
        const int expected = (z.at(0) == '-' ? -1 : 1) * z.mid(1, 2).toInt();
        if (before == after) // not across a change of daylight saving time
            QCOMPARE(hours, expected);
    }

    void killProcessEndsEveryMatchingChild()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A name no other process on the machine has.
        const QString name = QStringLiteral("rvxkill%1").arg(QCoreApplication::applicationPid());
        const QString victim = dir.filePath(name);
        const QString other = dir.filePath(name.toUpper());
        QVERIFY(QFile::copy(QStringLiteral(SYSUTILS_CHILD), victim));
        QVERIFY(QFile::copy(QStringLiteral(SYSUTILS_CHILD), other));
        QVERIFY(QFile::setPermissions(victim, QFile::ExeOwner | QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(other, QFile::ExeOwner | QFile::ReadOwner));

        QProcess a, b, c;
        for (auto *p : {&a, &b})
            p->start(victim, {QStringLiteral("none"), QStringLiteral("wait")});
        c.start(other, {QStringLiteral("none"), QStringLiteral("wait")});
        for (auto *p : {&a, &b, &c}) {
            QVERIFY(p->waitForStarted(60000));
            QByteArray seen;
            while (!seen.contains("READY")) {
                QVERIFY(p->waitForReadyRead(60000));
                seen += p->readAllStandardOutput();
            }
        }

        SysUtils::killProcess(QString()); // nothing at all
        SysUtils::killProcess(name);
        for (auto *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitStatus(), QProcess::CrashExit);
        }
        // Linux names are case-sensitive: the upper-case one lives on.
        QCOMPARE(c.state(), QProcess::Running);
        c.kill();
        QVERIFY(c.waitForFinished(60000));
    }

    // Device nodes directly in the device folder (a folder of the test's own stands in for
    // /dev) get read and write access for everyone.
    void unlockPort()
    {
        QTemporaryDir dev;
        const QString node = dev.filePath(QStringLiteral("ttyFAKE0"));
        const QString second = dev.filePath(QStringLiteral("ttyFAKE1"));
        for (const QString &path : {node, second}) {
            QVERIFY(::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 3)) ==
                    0);
        }
        QVERIFY(SysUtilsPrivate::unlockDeviceNode(dev.path(), node, true));
        QCOMPARE(ravixtest::modeBits(node), 0666);
        QVERIFY(::chmod(QFile::encodeName(node).constData(), 0600) == 0);
        QVERIFY(SysUtilsPrivate::unlockDeviceNode(dev.path(), QStringLiteral(" ttyFAKE0 "), false));
        QCOMPARE(ravixtest::modeBits(node), 0666);

        QVERIFY(
            !SysUtilsPrivate::unlockDeviceNode(dev.path(), QStringLiteral("ttyMISSING"), false));
        QVERIFY(!SysUtils::unlockPort(QString(), false));
        QCOMPARE(SysUtilsPrivate::deviceName(QStringLiteral("ttyUSB0"), QStringLiteral("/dev")),
                 QStringLiteral("ttyUSB0"));
        QCOMPARE(
            SysUtilsPrivate::deviceName(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev")),
            QStringLiteral("ttyUSB0"));
        QCOMPARE(SysUtilsPrivate::deviceName(node, dev.path()), QStringLiteral("ttyFAKE0"));

        QVERIFY(::chmod(QFile::encodeName(node).constData(), 0600) == 0);
        SysUtils::unlockPorts({node, second}, false); // not below /dev: refused
        QCOMPARE(ravixtest::modeBits(node), 0600);
        QCOMPARE(ravixtest::modeBits(second), 0600);
    }

    // The host's own tools run for real (the Windows commands stay refused on this system).
    void hostTools()
    {
        using namespace ravix::oslayer;
        RAVIX_REQUIRE_TOOL(sh, "sh");
        OsLayer &os = OsLayer::current();
        CommandResult r = os.startHostTool(L"sh", {L"-c", L"exit 7"}, true, 60000);
        QVERIFY(r.started && r.finished);
        QCOMPARE(r.exitCode, 7u);
        // Each argument arrives as it is, no shell in between.
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("a b; $(x) 'c'"));
        r = os.startHostTool(L"touch", {marker.toStdWString()}, true, 60000);
        QVERIFY(r.finished && r.exitCode == 0);
        QVERIFY(QFile::exists(marker));
        QVERIFY(!os.startHostTool(L"no-such-tool-here", {}, true, 1000).started);
        QVERIFY(!os.startHostTool(L"no-such-tool-here", {}, false, 0).started);
        // A tool still running when the wait ends is left running, not killed.
        r = os.startHostTool(L"sh", {L"-c", L"exec sleep 60"}, true, 10);
        QVERIFY(r.started && !r.finished && r.pid != 0);
        QCOMPARE(::kill(pid_t(r.pid), 0), 0);
        QCOMPARE(::kill(pid_t(r.pid), SIGKILL), 0);
        int status = 0;
        QCOMPARE(::waitpid(pid_t(r.pid), &status, 0), pid_t(r.pid));
        // Detached: started, with its process id.
        const QString detachedMarker = dir.filePath(QStringLiteral("detached"));
        r = os.startHostTool(L"touch", {detachedMarker.toStdWString()}, false, 0);
        QVERIFY(r.started && r.pid != 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(detachedMarker), 60000);
    }

    void operationsWithoutWork()
    {
        QVERIFY(!SysUtils::mountUsb());
        QVERIFY(!SysUtils::applyLinuxKernelSettings());
        QVERIFY(SysUtils::prepareDirRules(QStringLiteral("/tmp"), QStringLiteral("rules")));
        SysUtils::rotateLogs();
        SysUtils::configureSerialPort(QStringLiteral("ttyS0"));
    }
};

QTEST_GUILESS_MAIN(TestSysUtils)
#include "tst_sysutils.moc"
