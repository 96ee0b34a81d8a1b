// SPDX-License-Identifier: MIT
// Crash handlers end real child processes with their fixed exit codes.
#include <QtTest>

#include <csignal>
#include <sys/types.h>

namespace {

// The child's own faults go to our handlers, not to the sanitizer's.
QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!asan.isEmpty())
        asan += QLatin1Char(':');
    asan += QStringLiteral("handle_segv=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
                           "handle_sigbus=0:allow_user_segv_handler=1");
    env.insert(QStringLiteral("ASAN_OPTIONS"), asan);
    return env;
}

struct ChildResult
{
    bool ended = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray output;
};

} // namespace

class TestCrashHandlers : public QObject
{
    Q_OBJECT

    void startChild(QProcess &p, const QString &handlers, const QString &action)
    {
        p.setProcessEnvironment(childEnvironment());
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(QStringLiteral(SYSUTILS_CHILD), {handlers, action});
    }

    ChildResult finish(QProcess &p)
    {
        ChildResult r;
        r.ended = p.waitForFinished(120000);
        r.status = p.exitStatus();
        r.exitCode = p.exitCode();
        r.output = p.readAllStandardOutput();
        return r;
    }

private slots:
    void initTestCase() { QVERIFY(QFileInfo(QStringLiteral(SYSUTILS_CHILD)).isExecutable()); }

    void raisedSignals_data()
    {
        QTest::addColumn<QString>("handlers");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        const struct
        {
            const char *action;
            int code;
        } signals_[] = {{"segv", 5}, {"ill", 6}, {"fpe", 7}, {"abrt", 0}, {"term", 0}, {"int", 0}};
        for (const auto &s : signals_) {
            QTest::addRow("callback %s", s.action)
                << "callback" << s.action << s.code << QByteArray("CALLBACK\n");
            QTest::addRow("plain %s", s.action) << "plain" << s.action << s.code << QByteArray();
        }
        QTest::newRow("a later callback replaces the first")
            << "replaced"
            << "segv" << 5 << QByteArray("SECOND\n");
        // A fault inside the callback ends the process at once, without a second call.
        QTest::newRow("signal inside the callback") << "nested"
                                                    << "abrt" << 5 << QByteArray("CALLBACK\n");
        QTest::newRow("failed allocation") << "plain"
                                           << "new" << 3 << QByteArray();
        QTest::newRow("std::terminate") << "callback"
                                        << "terminate" << 4 << QByteArray();
    }

    void raisedSignals()
    {
        QFETCH(QString, handlers);
        QFETCH(QString, action);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QProcess p;
        startChild(p, handlers, action);
        QVERIFY2(p.waitForStarted(60000), qPrintable(p.errorString()));
        const ChildResult r = finish(p);
        QVERIFY(r.ended);
        QVERIFY2(r.status == QProcess::NormalExit, "the child died of the signal itself");
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.output, output);
    }

    void signalsFromOutside_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // A service stopped by its supervisor: the callback runs, the exit code is 0.
    void signalsFromOutside()
    {
        QFETCH(int, sig);
        QProcess p;
        startChild(p, QStringLiteral("callback"), QStringLiteral("wait"));
        QVERIFY2(p.waitForStarted(60000), qPrintable(p.errorString()));
        QByteArray seen;
        while (!seen.contains("READY\n")) {
            QVERIFY2(p.waitForReadyRead(60000), "the child never got ready");
            seen += p.readAllStandardOutput();
        }
        QCOMPARE(::kill(pid_t(p.processId()), sig), 0);
        const ChildResult r = finish(p);
        QVERIFY(r.ended);
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.output, QByteArray("CALLBACK\n"));
    }

    // Without the handlers the same signal kills the child: the codes above are ours.
    void withoutHandlersTheSignalKills()
    {
        QProcess p;
        startChild(p, QStringLiteral("none"), QStringLiteral("term"));
        QVERIFY(p.waitForStarted(60000));
        const ChildResult r = finish(p);
        QVERIFY(r.ended);
        QCOMPARE(r.status, QProcess::CrashExit);
    }
};

QTEST_GUILESS_MAIN(TestCrashHandlers)
#include "tst_crashhandlers.moc"
