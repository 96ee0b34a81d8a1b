// SPDX-License-Identifier: MIT
// Attacks on the logs folder by another local account, and a full disk. The daemon's side
// runs in a child process (loghelper) as root, as a daemon would; the attacker acts through
// runuser as an unprivileged account.
#include "attacktools.h"
#include "testtools.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QByteArray err;
};

QString today(int daysAgo = 0)
{
    return QDate::currentDate().addDays(-daysAgo).toString(QStringLiteral("yyyy-MM-dd"));
}

QString q(const QString &path)
{
    return QStringLiteral("'%1'").arg(path);
}

// Runs the log helper; a helper that hangs is killed after \a timeoutMs.
Run runHelper(const QStringList &args, int timeoutMs = 60000)
{
    Run run;
    QProcess p;
    p.start(QStringLiteral(LOGHELPER), args);
    if (!p.waitForStarted(30000))
        return run;
    run.finished = p.waitForFinished(timeoutMs);
    if (!run.finished) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.err = p.readAllStandardError();
    return run;
}

// The numbers of the records "<text> <n>" in \a data, in the order they appear.
QList<int> numbers(const QByteArray &data, const QString &text)
{
    QList<int> found;
    const QRegularExpression re(QStringLiteral("WARNING: +%1 (\\d+) \\.+$").arg(text),
                                QRegularExpression::MultilineOption);
    auto it = re.globalMatch(QString::fromLocal8Bit(data));
    while (it.hasNext())
        found << it.next().captured(1).toInt();
    return found;
}

QList<int> upTo(int count)
{
    QList<int> all;
    for (int i = 0; i < count; ++i)
        all << i;
    return all;
}

// A root-only file outside the shared folder, as the target of the attacker's links.
struct Secret
{
    QTemporaryDir dir;
    QString path;
    QByteArray content = "root's secret\n";
    Secret() : path(dir.filePath(QStringLiteral("secret"))) { ravixtest::writeFileMode(path, content, 0600); }
    bool untouched() const
    {
        return ravixtest::readFileBytes(path) == content && ravixtest::modeBits(path) == 0600;
    }
};

} // namespace

class TestLogSecurity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RAVIX_REQUIRE_ATTACKER(); }

    void plantedLogName_data();
    void plantedLogName();
    void plantedArchive_data();
    void plantedArchive();
    void folderSwappedDuringCleanUp();
    void foreignStopMarker();
    void fullDisk_data();
    void fullDisk();
};

// Today's log name planted as a link to a root file, or as a FIFO: the daemon neither writes
// to nor changes the target, does not hang, and its records go to the standard error stream.
void TestLogSecurity::plantedLogName_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("daily");
    for (const char *plant : {"link", "fifo"}) {
        QTest::addRow("%s, kept writers", plant) << plant << true << true;
        QTest::addRow("%s, open per record", plant) << plant << false << true;
        QTest::addRow("%s, one file", plant) << plant << true << false;
    }
}

void TestLogSecurity::plantedLogName()
{
    QFETCH(QString, plant);
    QFETCH(bool, keep);
    QFETCH(bool, daily);
    ravixtest::SharedTempDir logs;
    Secret secret;
    const QString name = logs.filePath(daily ? today() + QStringLiteral("_svc.log")
                                             : QStringLiteral("svc.log"));
    const QString command = plant == QLatin1String("link")
                                ? QStringLiteral("ln -s %1 %2").arg(q(secret.path), q(name))
                                : QStringLiteral("mkfifo %1").arg(q(name));
    QCOMPARE(ravixtest::runAsAttacker(command), 0);

    // More than a pipe holds, so a writer blocked on the FIFO shows.
    const int count = 200;
    const Run run = runHelper({QStringLiteral("records"), logs.path(), keep ? "1" : "0",
                               daily ? "1" : "0", QString::number(count), "planted"});
    QVERIFY2(run.finished, "the daemon hung on the planted name");
    QCOMPARE(run.exitCode, 0);
    QVERIFY(secret.untouched());
    QCOMPARE(numbers(run.err, QStringLiteral("planted")), upTo(count));
    QVERIFY(run.err.contains("Start logging"));
    QFileInfo planted(name);
    QVERIFY(plant == QLatin1String("link") ? planted.isSymLink() : !planted.isFile());
}

// An old log name linked to a root file is not packed; an archive name linked to a root file
// is replaced by the archive, the target left alone.
void TestLogSecurity::plantedArchive_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("log name linked") << "log";
    QTest::newRow("archive name linked") << "archive";
}

void TestLogSecurity::plantedArchive()
{
    QFETCH(QString, planted);
    ravixtest::SharedTempDir logs;
    Secret secret;
    const QString log = logs.filePath(today(3) + QStringLiteral("_svc.log"));
    const QString archive = log + QStringLiteral(".zip");
    const QByteArray content = QByteArray("an old record\n").repeated(100);
    if (planted == QLatin1String("log")) {
        QCOMPARE(ravixtest::runAsAttacker(QStringLiteral("ln -s %1 %2").arg(q(secret.path), q(log))), 0);
    } else {
        QVERIFY(ravixtest::writeFileMode(log, content, 0664));
        QCOMPARE(ravixtest::runAsAttacker(
                     QStringLiteral("ln -s %1 %2").arg(q(secret.path), q(archive))), 0);
    }

    const Run run = runHelper({QStringLiteral("cleanup"), logs.path(), QStringLiteral("0")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(secret.untouched());
    RAVIX_REQUIRE_TOOL(unzip, "unzip");
    if (planted == QLatin1String("log")) {
        // Nothing of the secret in an archive anybody could read.
        QVERIFY(!QFileInfo(archive).exists() ||
                !ravixtest::readFileBytes(archive).contains(secret.content.left(6)));
        QByteArray out;
        if (QFileInfo(archive).isFile()) {
            ravixtest::runTool(unzip, {QStringLiteral("-p"), archive}, &out);
            QVERIFY(!out.contains(secret.content));
        }
    } else {
        QVERIFY(!QFileInfo(archive).isSymLink());
        QByteArray out;
        QCOMPARE(ravixtest::runTool(unzip, {QStringLiteral("-p"), archive}, &out), 0);
        QCOMPARE(out, content);
        QVERIFY(!QFileInfo::exists(log));
        // Readable as the log was, writable by the daemon alone.
        QCOMPARE(ravixtest::modeBits(archive), 0644);
    }
}

// The attacker's own subfolder of old files is swapped for a link to a root folder while the
// clean-up walks the tree: nothing outside the tree is deleted.
void TestLogSecurity::folderSwappedDuringCleanUp()
{
    ravixtest::SharedTempDir logs;
    QTemporaryDir rootOnly;
    const QString precious = rootOnly.filePath(QStringLiteral("precious"));
    QVERIFY(ravixtest::writeFileMode(precious, "keep me", 0600));
    QFile p(precious);
    QVERIFY(p.open(QIODevice::ReadWrite));
    QVERIFY(p.setFileTime(QDateTime::currentDateTime().addDays(-30),
                          QFileDevice::FileModificationTime));
    p.close();

    // "a" holds many old files, so that deleting them takes a while; "b" is swapped as soon
    // as the walk has started on "a".
    const QString a = logs.filePath(QStringLiteral("a"));
    const QString b = logs.filePath(QStringLiteral("b"));
    QCOMPARE(ravixtest::runAsAttacker(
                 QStringLiteral("mkdir %1 %2 && touch -d '30 days ago' %2/old && cd %1 && ")
                         .arg(q(a), q(b)) +
                 QStringLiteral("seq -f 'f%05g' 0 7999 | xargs touch -d '30 days ago'")),
             0);
    QProcess attacker;
    attacker.start(QStringLiteral("runuser"),
                   {QStringLiteral("-u"), ravixtest::attackerAccount(), QStringLiteral("--"),
                    QStringLiteral("timeout"), QStringLiteral("60"), QStringLiteral("/bin/sh"),
                    QStringLiteral("-c"),
                    QStringLiteral("echo ready; while [ -e %1/f00000 ]; do :; done; "
                                   "mv %2 %2.moved && ln -s %3 %2")
                        .arg(q(a), q(b), q(rootOnly.path()))});
    QVERIFY(attacker.waitForReadyRead(30000));

    const Run run = runHelper({QStringLiteral("cleanup"), logs.path(), QStringLiteral("1")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(attacker.waitForFinished(60000));
    QCOMPARE(attacker.exitCode(), 0);
    QVERIFY(QFileInfo(b).isSymLink());
    QVERIFY2(QFileInfo::exists(precious), "a file outside the logs folder was deleted");
    // The walk did its work inside the tree.
    QVERIFY(!QFileInfo::exists(a + QStringLiteral("/f07999")));
}

// A stop marker that another account planted does not silence the daemon.
void TestLogSecurity::foreignStopMarker()
{
    ravixtest::SharedTempDir logs;
    QCOMPARE(ravixtest::runAsAttacker(
                 QStringLiteral("touch %1").arg(q(logs.filePath(QStringLiteral("no_more_logs"))))),
             0);
    const Run run = runHelper({QStringLiteral("records"), logs.path(), "1", "1", "3", "kept"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(numbers(ravixtest::readFileBytes(logs.filePath(today() + QStringLiteral("_svc.log"))),
                     QStringLiteral("kept")),
             upTo(3));
}

// While the disk is full, records and the start banner go to the standard error stream; once
// there is space again the file takes the records, each whole and in order.
void TestLogSecurity::fullDisk_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept writers") << true;
    QTest::newRow("open per record") << false;
}

void TestLogSecurity::fullDisk()
{
    QFETCH(bool, keep);
    ravixtest::SmallTmpfs disk(1024 * 1024);
    QVERIFY2(disk.isMounted(), qPrintable(disk.errorString()));
    const QString logs = disk.path() + QStringLiteral("/logs");
    QVERIFY(QDir().mkpath(logs));
    QVERIFY(disk.fill());

    const int count = 50;
    QProcess helper;
    helper.start(QStringLiteral(LOGHELPER), {QStringLiteral("records"), logs, keep ? "1" : "0",
                                             "1", QString::number(count), "full", "pause"});
    QVERIFY(helper.waitForStarted(30000));
    QVERIFY(helper.waitForReadyRead(60000));
    QCOMPARE(helper.readAllStandardOutput(), QByteArray("paused\n"));
    disk.release();
    helper.write("\n");
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);

    const QByteArray err = helper.readAllStandardError();
    const QByteArray file = ravixtest::readFileBytes(logs + QStringLiteral("/") + today() +
                                     QStringLiteral("_svc.log"));
    QVERIFY2(err.contains("Start logging"), err.left(2000).constData());
    QCOMPARE(numbers(err, QStringLiteral("full")), upTo(count));
    QCOMPARE(numbers(file, QStringLiteral("full-after")), upTo(count));
    // Nothing but whole records and the stop banner reached the file.
    QVERIFY(file.contains("Stop logging"));
    QCOMPARE(numbers(err, QStringLiteral("full-after")), QList<int>());
}

QTEST_GUILESS_MAIN(TestLogSecurity)
#include "tst_logsecurity.moc"
