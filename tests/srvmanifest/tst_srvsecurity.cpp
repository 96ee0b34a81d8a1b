// SPDX-License-Identifier: MIT
// Services against another local account: the installed manifest is not his to steer, and a
// service that ends at once does not turn the supervisor into a busy loop.
#include <ravixcore/srvmanifest/srvmanifest.h>
#include <ravixcore/srvmanifest/srvwrapper.h>

#include "attacktools.h"
#include "messagecapture.h"
#include "srvmanifest/srvwrapper_p.h"
#include "testtools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using ravix::ExeInstance;
using ravix::SrvManifest;
using ravix::SrvWrapper;
using ravixtest::MessageCapture;

namespace {

constexpr int LONG_WAIT_MS = 120000;

bool writeFile(const QString &path, const QByteArray &data, int mode)
{
    QFile f(path);
    const bool written = f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
#ifndef Q_OS_WIN
    return written && ::fchmod(f.handle(), mode_t(mode)) == 0;
#else
    Q_UNUSED(mode)
    return written; // the attacks that need the mode do not run on Windows
#endif
}

ExeInstance helper(const QStringList &params, const QString &workDir)
{
    const QFileInfo file(QStringLiteral(SRVHELPER_PATH));
    ExeInstance instance;
    instance.setExePath(file.absolutePath());
    instance.setName(file.completeBaseName());
    instance.setWorkDir(workDir);
    instance.setParams(params);
    return instance;
}

} // namespace

class TestSrvSecurity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        RAVIX_REQUIRE_ATTACKER();
        QVERIFY2(QFileInfo(QStringLiteral(SRVHELPER_PATH)).isExecutable(), SRVHELPER_PATH);
    }

    // The daemon starts services only from a manifest that is root's own regular file and
    // closed to other accounts; anything else is refused with a critical line.
    void untrustedManifestRefused_data()
    {
        QTest::addColumn<QString>("attack");
        QTest::addColumn<QString>("reason");
        const QString evil = "printf '{\"services\":[{\"name\":\"sh\",\"exePath\":\"/bin\","
                             "\"params\":[\"-c\",\"id\"]}]}' ";
        QTest::newRow("open to every account, rewritten") << "OPEN " + evil + "> $DIR/manifest.json"
                                                          << "writable";
        QTest::newRow("attacker's own") << evil + "> $DIR/manifest.json"
                                        << "owned by";
        QTest::newRow("link to a file of root's") << "ln -s $DIR/root.json $DIR/manifest.json"
                                                  << "link";
        QTest::newRow("a FIFO") << "mkfifo $DIR/manifest.json"
                                << "regular file";
    }
    void untrustedManifestRefused()
    {
        QFETCH(QString, attack);
        QFETCH(QString, reason);
        ravixtest::SharedTempDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath("manifest.json");
        const QByteArray good = R"({"services":[{"name":"true","exePath":"/bin"}]})";
        QVERIFY(writeFile(dir.filePath("root.json"), good, 0644));
        QVERIFY(
            SrvManifest(QString(), dir.filePath("root.json"), dir.path(), dir.path()).isValid());
        if (attack.startsWith("OPEN ")) {
            // As an earlier release installed it.
            attack = attack.mid(5);
            QVERIFY(writeFile(file, good, 0666));
        }
        QCOMPARE(ravixtest::runAsAttacker(attack.replace("$DIR", dir.path())), 0);

        MessageCapture capture;
        const SrvManifest manifest(dir.filePath("shipped.json"), file, dir.path(), dir.path());
        QVERIFY(!manifest.isValid());
        QVERIFY(manifest.instances().isEmpty());
        const QStringList critical = capture.messages(QtCriticalMsg);
        QCOMPARE(critical.size(), 1);
        QVERIFY2(critical.first().startsWith(file) && critical.first().contains(reason),
                 qPrintable(critical.first()));
    }

    // The shipped manifest is installed closed to other accounts in a folder open to them.
    void installedManifestClosed()
    {
        ravixtest::SharedTempDir dir;
        const QString shipped = dir.filePath("shipped.json");
        QVERIFY(writeFile(shipped, R"({"services":[{"name":"true","exePath":"/bin"}]})", 0444));
        const QString file = dir.filePath("srv/manifest.json");
        const SrvManifest manifest(shipped, file, dir.path(), dir.filePath("srv"));
        QVERIFY(manifest.isValid());
        QCOMPARE(ravixtest::modeBits(file), 0644);
        QVERIFY(ravixtest::runAsAttacker("echo '{}' > " + file) != 0);
    }

    // A service that ends at once: the first restart is immediate, later ones wait longer
    // and longer. Without the back-off thousands of starts happen in these seconds.
    void quickExitsBackOff()
    {
        QTemporaryDir work;
        MessageCapture capture;
        SrvWrapper wrapper(helper({"--exit", "0"}, work.path()));
        int starts = 0;
        connect(&wrapper, &SrvWrapper::started, [&starts] { ++starts; });
        wrapper.start();
        // Started, ended, started again at once; later starts come after a pause.
        QTRY_VERIFY_WITH_TIMEOUT(starts >= 3, LONG_WAIT_MS);
        QTest::qWait(3000);
        const int seen = starts;
        wrapper.stop(true);
        QVERIFY2(seen <= 12, qPrintable(QString::number(seen)));
        const QStringList warnings = capture.messages(QtWarningMsg);
        QVERIFY2(!warnings.isEmpty() && warnings.first().contains(wrapper.instance().name()),
                 qPrintable(warnings.join('\n')));
        // Each longer pause is logged once, not every start.
        QVERIFY2(warnings.size() < seen, qPrintable(warnings.join('\n')));

        // A stopped wrapper starts nothing more, though a restart was pending.
        const int afterStop = starts;
        QTest::qWait(1500);
        QCOMPARE(starts, afterStop);
        QVERIFY(!wrapper.isRunned());
    }

    // Runs of normal length reset the back-off: every restart is immediate again and nothing
    // is logged.
    void normalRunsRestartAtOnce()
    {
        ravix::SrvWrapperTimings timings;
        timings.quickRunMs = 300;
        ravix::setSrvWrapperTimings(timings);
        const auto restore = qScopeGuard([] { ravix::setSrvWrapperTimings({}); });
        QTemporaryDir work;
        MessageCapture capture;
        SrvWrapper wrapper(helper({"--sleep", "600", "--exit", "0"}, work.path()));
        int starts = 0;
        connect(&wrapper, &SrvWrapper::started, [&starts] { ++starts; });
        wrapper.start();
        QTRY_VERIFY_WITH_TIMEOUT(starts >= 4, LONG_WAIT_MS);
        wrapper.stop(true);
        QCOMPARE(capture.messages(QtWarningMsg), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSrvSecurity)
#include "tst_srvsecurity.moc"
