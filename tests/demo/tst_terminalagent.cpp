// SPDX-License-Identifier: MIT
// Runs the terminal agent as a process against an update site served by a private nginx and
// checks what it leaves in its work directory: the log, the version file, the event database,
// the downloaded package and the update plan. The first run is stopped by SIGTERM once the
// update is prepared; the second reuses the work directory and ends after its run time. The
// site's document is signed, and a third run shows a forged one refused.
#include "nginxserver.h"
#include "testtools.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

constexpr int kWaitMs = 60000;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sha1Hex(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha1).toHex();
}

// The agent ends with the test, also when the test is killed: the agent keeps running until
// it is asked to stop, and an orphan would go on supervising its service.
class AgentProcess : public QProcess
{
protected:
#ifdef Q_OS_LINUX
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
#endif
};

} // namespace

class TestTerminalAgent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRunUntilSigterm();
    void secondRunEndsAfterItsDuration();
    void forgedDocumentIsRefused();
    void cleanupTestCase();

private:
    QString workDir() const { return m_dir.path() + QStringLiteral("/work"); }
    QString siteDir() const { return m_dir.path() + QStringLiteral("/site"); }
    QString keyPath() const { return m_dir.path() + QStringLiteral("/update.pub"); }
    QString logText(const QString &dir = QString()) const;
    void startAgent(AgentProcess &agent, int duration, const QString &dir = QString());
    QStringList eventKinds();

    QTemporaryDir m_dir;
    ravixtest::NginxServer m_nginx;
    qint64 m_firstRunEvents = 0;
    QDateTime m_packageTime;
};

void TestTerminalAgent::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(siteDir()));
    if (!m_nginx.start(siteDir()))
        QFAIL(qPrintable(m_nginx.errorString()));
    QByteArray out;
    QCOMPARE(ravixtest::runTool(QStringLiteral(SITE_EXE),
                                {siteDir(), m_nginx.url(QStringLiteral("/"))}, &out),
             0);
    QVERIFY2(QFile::exists(siteDir() + QStringLiteral("/update.json")), out.constData());
    // The publisher's key pair, and the document's signature beside it.
    QCOMPARE(ravixtest::runTool(QStringLiteral(SIGN_EXE),
                                {QStringLiteral("keygen"), m_dir.path() + QStringLiteral("/update.key"),
                                 keyPath()},
                                &out),
             0);
    QCOMPARE(ravixtest::runTool(QStringLiteral(SIGN_EXE),
                                {QStringLiteral("sign"), m_dir.path() + QStringLiteral("/update.key"),
                                 siteDir() + QStringLiteral("/update.json")},
                                &out),
             0);
}

void TestTerminalAgent::cleanupTestCase()
{
    m_nginx.stop();
    QSqlDatabase::removeDatabase(QStringLiteral("tst_events"));
}

QString TestTerminalAgent::logText(const QString &dir) const
{
    const QDir logs((dir.isEmpty() ? workDir() : dir) + QStringLiteral("/logs"));
    const QStringList files =
        logs.entryList({QStringLiteral("*_terminal-agent.log")}, QDir::Files, QDir::Name);
    return files.isEmpty() ? QString() : QString::fromUtf8(readAll(logs.filePath(files.last())));
}

void TestTerminalAgent::startAgent(AgentProcess &agent, int duration, const QString &dir)
{
    agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    agent.setStandardOutputFile(QProcess::nullDevice());
    agent.start(QStringLiteral(AGENT_EXE),
                {QStringLiteral("--work-dir"), dir.isEmpty() ? workDir() : dir,
                 QStringLiteral("--update-url"), m_nginx.url(QStringLiteral("/update.json")),
                 QStringLiteral("--update-key"), keyPath(), QStringLiteral("--duration"),
                 QString::number(duration)});
    QVERIFY2(agent.waitForStarted(30000), qPrintable(agent.errorString()));
}

QStringList TestTerminalAgent::eventKinds()
{
    QStringList kinds;
    QSqlDatabase db =
        QSqlDatabase::contains(QStringLiteral("tst_events"))
            ? QSqlDatabase::database(QStringLiteral("tst_events"))
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tst_events"));
    db.setDatabaseName(workDir() + QStringLiteral("/db/events.sqlite"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return kinds;
    {
        QSqlQuery version(db);
        if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next() ||
            version.value(0).toInt() != 2)
            return kinds;
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT kind, source FROM events ORDER BY id"))) {
            while (query.next())
                kinds << query.value(0).toString();
        }
    }
    db.close();
    return kinds;
}

// The pid of the service's last heartbeat; 0 when there is none.
qint64 lastHeartbeatPid(const QString &heartbeats)
{
    const QList<QByteArray> lines = readAll(heartbeats).trimmed().split('\n');
    return lines.last().mid(lines.last().lastIndexOf(' ') + 1).toLongLong();
}

void TestTerminalAgent::firstRunUntilSigterm()
{
    AgentProcess agent;
    startAgent(agent, 0);
    // The update is prepared and the service has been restarted once; then the agent is
    // asked to stop.
    const QString plan = workDir() + QStringLiteral("/updates/plan");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(plan), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains(QStringLiteral("restarted (start 2)")), kWaitMs);
    agent.terminate();
    QVERIFY(agent.waitForFinished(kWaitMs));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 0);

    // Start-up file written on the first run; every folder lies below the given work
    // directory, none in the default one (the shared data root and the organisation name).
    QVERIFY(QFile::exists(workDir() + QStringLiteral("/terminal-agent.ini")));
    const QDir sharedRoot(qEnvironmentVariable("ALLUSERSPROFILE"));
    QVERIFY(sharedRoot.exists());
    QCOMPARE(sharedRoot.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // One log for the day, from the first record to the closing one.
    const QString log = logText();
    QVERIFY2(!log.isEmpty(), "no log file");
    const int started = log.indexOf(QStringLiteral("terminal-agent 2.0.0 starting"));
    const int stopping = log.indexOf(QStringLiteral("Stopping: stop signal received"));
    const int stopped = log.indexOf(QStringLiteral("terminal-agent stopped with exit code 0"));
    const int released = log.lastIndexOf(QStringLiteral("releaseLog"));
    QVERIFY2(started >= 0 && started < stopping && stopping < stopped && stopped < released,
             qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("First run: start-up file written")));
    QVERIFY(log.contains(QStringLiteral("Update documents must be signed with the key of")));
    QVERIFY(log.contains(QStringLiteral("Event database upgraded from schema version 1 to 2")));
    QVERIFY(log.contains(QStringLiteral("Status: disk ")));
    // The receipt total spelt out through the Russian catalogue.
    QVERIFY2(log.contains(QStringLiteral("руб.,")), qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("Service restarts: heartbeat-service")));

    // The version file names the agent's version and the library's.
    const QJsonObject versions =
        QJsonDocument::fromJson(readAll(workDir() + QStringLiteral("/versions/terminal-agent.ver")))
            .object();
    QCOMPARE(versions.value(QStringLiteral("terminal-agent"))
                 .toObject()
                 .value(QStringLiteral("ver"))
                 .toString(),
             QStringLiteral("2.0.0"));
    QVERIFY(versions.contains(QStringLiteral("ravixcore")));

    // The package arrived whole, nothing partial is left, and the plan names its update.
    const QString package = workDir() + QStringLiteral("/updates/2.1.0/terminal-agent-2.1.0.zip");
    QVERIFY2(QFile::exists(package), qPrintable(log));
    QCOMPARE(sha1Hex(package), readAll(siteDir() + QStringLiteral("/package.sha1")).trimmed());
    QCOMPARE(sha1Hex(package),
             sha1Hex(siteDir() + QStringLiteral("/packages/terminal-agent-2.1.0.zip")));
    QVERIFY(!QFile::exists(package + QStringLiteral(".part")));
    QVERIFY(QFile::exists(workDir() + QStringLiteral("/updates/2.1.0/info.json")));
    const QJsonObject planObject = QJsonDocument::fromJson(readAll(plan)).object();
    QCOMPARE(planObject.value(QStringLiteral("version")).toString(), QStringLiteral("2.1.0"));
    QVERIFY(!planObject.value(QStringLiteral("externalCommand")).toString().isEmpty());
    m_packageTime = QFileInfo(package).lastModified();

    // The journal is at schema version 2 and holds the run from start to stop.
    const QStringList kinds = eventKinds();
    QVERIFY2(!kinds.isEmpty(), "event database missing, unreadable or not at version 2");
    QCOMPARE(kinds.first(), QStringLiteral("start"));
    QCOMPARE(kinds.last(), QStringLiteral("stop"));
    for (const char *kind : {"service-start", "service-restart", "update", "package", "plan"})
        QVERIFY2(kinds.contains(QLatin1String(kind)), kind);
    m_firstRunEvents = kinds.size();

    // The service the agent supervised is gone with it.
    const qint64 pid = lastHeartbeatPid(workDir() + QStringLiteral("/services/heartbeat.log"));
    QVERIFY(pid > 0);
    QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), qPrintable(QString::number(pid)));
}

void TestTerminalAgent::secondRunEndsAfterItsDuration()
{
    QVERIFY2(m_firstRunEvents > 0, "the first run left no journal");
    AgentProcess agent;
    startAgent(agent, 3);
    QVERIFY(agent.waitForFinished(kWaitMs));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 0);

    const QString log = logText();
    QVERIFY2(log.contains(QStringLiteral("Stopping: the run time is over")), qPrintable(log));
    QCOMPARE(log.count(QStringLiteral("terminal-agent stopped with exit code 0")), 2);
    // The existing start-up file, schema and package are used as they are.
    QCOMPARE(log.count(QStringLiteral("First run")), 1);
    QCOMPARE(log.count(QStringLiteral("Event database created")), 1);
    QCOMPARE(log.count(QStringLiteral("Event database upgraded")), 1);
    QCOMPARE(QFileInfo(workDir() + QStringLiteral("/updates/2.1.0/terminal-agent-2.1.0.zip"))
                 .lastModified(),
             m_packageTime);
    const QStringList kinds = eventKinds();
    QVERIFY(kinds.size() > m_firstRunEvents);
    QCOMPARE(kinds.last(), QStringLiteral("stop"));

    const qint64 pid = lastHeartbeatPid(workDir() + QStringLiteral("/services/heartbeat.log"));
    QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), qPrintable(QString::number(pid)));
}

// A document changed on its way (here: on the site, after signing) is refused as a whole:
// nothing of it is stored, downloaded or planned.
void TestTerminalAgent::forgedDocumentIsRefused()
{
    const QString document = siteDir() + QStringLiteral("/update.json");
    QByteArray forged = readAll(document);
    QVERIFY(forged.contains("New tariff table"));
    forged.replace("New tariff table", "New tariff table, and more");
    QFile file(document);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(forged), qint64(forged.size()));
    file.close();

    const QString dir = m_dir.path() + QStringLiteral("/forged-work");
    AgentProcess agent;
    startAgent(agent, 0, dir);
    // The library's text through the agent's Russian catalogue.
    QTRY_VERIFY_WITH_TIMEOUT(
        logText(dir).contains(QStringLiteral(
            "Документ обновлений отклонён: его подпись не соответствует ключу обновлений")),
        kWaitMs);
    QVERIFY(logText(dir).contains(QStringLiteral("No update stored from")));
    agent.terminate();
    QVERIFY(agent.waitForFinished(kWaitMs));
    QCOMPARE(agent.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/updates/2.1.0")));
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/updates/plan")));
}

QTEST_GUILESS_MAIN(TestTerminalAgent)
#include "tst_terminalagent.moc"
