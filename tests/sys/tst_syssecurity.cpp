// SPDX-License-Identifier: MIT
// unlockPort() opens device nodes to every account; it must never do that to anything else.
#include "sys/sysutils_p.h"
#include <ravixcore/sys/sysutils.h>

#include "messagecapture.h"
#include "testtools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using ravix::SysUtils;
using ravix::SysUtilsPrivate;

class TestSysSecurity : public QObject
{
    Q_OBJECT
private slots:
    // What a port names: anything but a character or block device directly in the device
    // folder is refused with a warning and keeps its mode. "$DEV" is a folder of the test's
    // own standing in for /dev; "/dev" rows go through the real one.
    void unlockPortRefuses_data()
    {
        QTest::addColumn<QString>("devDir"); // "$DEV" or "/dev"
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("victim"); // file whose mode must stay 0600
        QTest::newRow("climbing out of /dev") << "/dev"
                                              << "../$ROOT/secret"
                                              << "secret";
        QTest::newRow("a root file by its path") << "/dev"
                                                 << "$ROOT/secret"
                                                 << "secret";
        QTest::newRow("a link to a root file") << "$DEV"
                                               << "ttyLINK"
                                               << "secret";
        QTest::newRow("a link to a device node") << "$DEV"
                                                 << "ttyLINKDEV"
                                                 << "elsewhere/ttyNODE";
        QTest::newRow("a regular file") << "$DEV"
                                        << "$DEV/ttyFILE"
                                        << "dev/ttyFILE";
        QTest::newRow("a FIFO") << "$DEV"
                                << "ttyFIFO"
                                << "dev/ttyFIFO";
        QTest::newRow("a device node one folder down") << "$DEV"
                                                       << "sub/ttyDEEP"
                                                       << "dev/sub/ttyDEEP";
        QTest::newRow("the device folder itself") << "$DEV"
                                                  << "."
                                                  << "dev";
    }
    void unlockPortRefuses()
    {
        QFETCH(QString, devDir);
        QFETCH(QString, port);
        QFETCH(QString, victim);
        QTemporaryDir root;
        const QString dev = root.filePath("dev");
        const auto path = [&](const QString &name) { return root.filePath(name); };
        const auto node = [](const QString &p, mode_t type) {
            return ::mknod(QFile::encodeName(p).constData(), type | 0600, makedev(1, 3)) == 0;
        };
        QVERIFY(QDir().mkpath(dev + "/sub") && QDir().mkpath(path("elsewhere")));
        for (const QString &file : {path("secret"), path("dev/ttyFILE")}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("secret") == 6);
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        QVERIFY(node(path("elsewhere/ttyNODE"), S_IFCHR));
        QVERIFY(node(path("dev/sub/ttyDEEP"), S_IFCHR));
        QVERIFY(node(path("dev/ttyFIFO"), S_IFIFO));
        QVERIFY(QFile::link(path("secret"), path("dev/ttyLINK")));
        QVERIFY(QFile::link(path("elsewhere/ttyNODE"), path("dev/ttyLINKDEV")));

        QVERIFY(QFile::setPermissions(dev, QFile::ReadOwner | QFile::WriteOwner));
        port.replace("$DEV", dev);
        port.replace("$ROOT", root.path());
        ravixtest::MessageCapture capture;
        const bool ok = devDir == "/dev" ? SysUtils::unlockPort(port, false)
                                         : SysUtilsPrivate::unlockDeviceNode(dev, port, false);
        QVERIFY(!ok);
        QCOMPARE(ravixtest::modeBits(path(victim)), 0600);
        QVERIFY2(capture.contains(QtWarningMsg, "UNLOCK PORT"),
                 qPrintable(capture.messages(QtWarningMsg).join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestSysSecurity)
#include "tst_syssecurity.moc"
