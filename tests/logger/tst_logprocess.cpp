// SPDX-License-Identifier: MIT
#include "testtools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program and waits for it to end; a hang shows as finished == false.
Run runProcess(const QString &program, const QStringList &args,
               const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    Run run;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(30000))
        return run;
    run.finished = p.waitForFinished(180000);
    if (!run.finished) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// A log file's text; lines end with the platform's line end in the file.
QString readAll(const QString &path)
{
    return QString::fromLocal8Bit(ravixtest::readTextFile(path));
}

QList<int> recordNumbers(const QString &path)
{
    QList<int> numbers;
    const QRegularExpression re(QStringLiteral("record (\\d+)$"),
                                QRegularExpression::MultilineOption);
    auto it = re.globalMatch(readAll(path));
    while (it.hasNext())
        numbers << it.next().captured(1).toInt();
    return numbers;
}

} // namespace

class TestLogProcess : public QObject
{
    Q_OBJECT

private slots:
    void daySwitchAcrossMidnight_data();
    void daySwitchAcrossMidnight();
    void messageWhileStartingIsNotADeadlock();
};

void TestLogProcess::daySwitchAcrossMidnight_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept writer") << true;
    QTest::newRow("open per message") << false;
}

void TestLogProcess::daySwitchAcrossMidnight()
{
#ifdef Q_OS_WIN
    QSKIP("faketime is preloaded into Linux programs only");
#endif
    QFETCH(bool, keep);
    RAVIX_REQUIRE_TOOL(faketime, "faketime");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // The helper's clock starts two seconds before midnight and runs twice as fast.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The preloaded clock library comes before the sanitizer runtime in a sanitized build.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                   QStringLiteral(":verify_asan_link_order=0"));
    const Run run = runProcess(faketime,
                               {QStringLiteral("-m"), QStringLiteral("-f"),
                                QStringLiteral("@2026-03-07 23:59:58 x2"),
                                QStringLiteral(LOGHELPER), QStringLiteral("dayswitch"), dir.path(),
                                keep ? QStringLiteral("1") : QStringLiteral("0")},
                               env);
    QVERIFY2(run.finished, run.err.constData());
    QVERIFY2(run.exitCode == 0, (run.out + run.err).constData());
    QVERIFY2(run.out.startsWith("2026-03-07 2026-03-08 "), run.out.constData());
    const int written = run.out.trimmed().split(' ').last().toInt();

    const QList<int> before =
        recordNumbers(dir.filePath(QStringLiteral("2026-03-07_dayswitch.log")));
    const QList<int> after =
        recordNumbers(dir.filePath(QStringLiteral("2026-03-08_dayswitch.log")));
    QVERIFY(!before.isEmpty());
    QVERIFY(after.size() >= 200);
    // Every record once, in order, the first day's before the second day's.
    QList<int> all = before + after;
    QCOMPARE(all.size(), written);
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all.at(i), i);
    // The stop banner ends up in the new day's file.
    QVERIFY(readAll(dir.filePath(QStringLiteral("2026-03-08_dayswitch.log")))
                .endsWith(QStringLiteral("Stop logging\n")));
}

void TestLogProcess::messageWhileStartingIsNotADeadlock()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run run =
        runProcess(QStringLiteral(LOGHELPER), {QStringLiteral("foreignthread"), dir.path()});
    QVERIFY2(run.finished, "the helper hung");
    QVERIFY2(run.exitCode == 0, run.err.constData());
    // Qt's complaint about the timer, raised while the manager held its lock, went straight
    // to the standard error stream.
    QVERIFY2(run.err.contains("Timers can only be used with threads started with QThread"),
             run.err.constData());
    const QDir logs(dir.path());
    const QStringList files = logs.entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString text = readAll(logs.filePath(files.first()));
    QVERIFY(text.contains(QStringLiteral("after start\n")));
    QVERIFY(text.endsWith(QStringLiteral("Stop logging\n")));
}

QTEST_GUILESS_MAIN(TestLogProcess)
#include "tst_logprocess.moc"
