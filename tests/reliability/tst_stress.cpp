// SPDX-License-Identifier: MIT
// Stress: eight threads logging numbered records while the date changes; a supervised child
// that ends at once, restarted a thousand times; SQLite writer and reader threads on one
// database file.
#include <ravixcore/sqlite/basesqlitedbconnector.h>
#include <ravixcore/srvmanifest/srvmanifest.h>
#include <ravixcore/srvmanifest/srvwrapper.h>

#include "srvmanifest/srvwrapper_p.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadStorage>
#include <QtTest>

#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

using ravix::BaseSqliteDbConnector;

namespace {

// Open descriptors, or handles on Windows.
int openDescriptors()
{
#ifdef Q_OS_WIN
    DWORD handles = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &handles) ? int(handles) : -1;
#else
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
#endif
}

// Children of this process that have ended but were not reaped. Windows keeps no such
// processes: a child's handle left open is counted by openDescriptors().
QStringList zombies()
{
    QStringList found;
#ifndef Q_OS_WIN
    const QString self = QString::number(getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest.at(0) == "Z" && rest.at(1) == self.toLatin1())
            found << pid;
    }
#endif
    return found;
}

QThreadStorage<int> s_counter;

class StressDb : public BaseSqliteDbConnector
{
public:
    StressDb(const QString &path, ConnectionMode mode)
        : BaseSqliteDbConnector(path, mode, &s_counter), m_path(path)
    {
    }
    QString databasePath() const override { return m_path; }
    QString connectionName() const override { return objectName(); }
    bool readVersion(qint32 &version, EMetadataState &state) override
    {
        version = 1;
        state = MetadataStateNone;
        return true;
    }
    qint32 currentVersion() const override { return 1; }
    bool upgrade(qint32) override { return true; }

private:
    QString m_path;
};

const int kWriters = 4;
const int kTransactions = 60;
const int kRowsPerTransaction = 10;

} // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void loggingAcrossMidnight();
    void supervisionRestarts();
    void sqliteWritersAndReaders();
};

void TestStress::loggingAcrossMidnight()
{
#ifdef Q_OS_WIN
    QSKIP("faketime is preloaded into Linux programs only");
#endif
    // RAVIX_LOG_STRESS_RECORDS scales the run down where it is slow (sanitizer builds).
    const int records = qEnvironmentVariableIntValue("RAVIX_LOG_STRESS_RECORDS") > 0
                            ? qEnvironmentVariableIntValue("RAVIX_LOG_STRESS_RECORDS")
                            : 100000;
    const QString faketime =
        QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");
    QVERIFY2(QFile::exists(faketime), "required package not installed: faketime");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString clock = dir.filePath(QStringLiteral("clock"));
    QFile clockFile(clock);
    QVERIFY(clockFile.open(QIODevice::WriteOnly));
    clockFile.write("2026-03-07 23:59:59\n");
    clockFile.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), faketime);
    env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), clock);
    env.insert(QStringLiteral("FAKETIME_CACHE_DURATION"), QStringLiteral("1"));
    env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                   QStringLiteral(":verify_asan_link_order=0"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString logs = dir.filePath(QStringLiteral("logs"));
    child.start(QStringLiteral(LOGSTRESS_PATH), {logs, QString::number(records), clock});
    QVERIFY(child.waitForFinished(900000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());

    // Each day's file holds its half of every thread's records, whole and in order.
    const QRegularExpression record(
        QStringLiteral("^(\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] WARNING: +| {15})T(\\d) N(\\d{6})$"));
    const QRegularExpression anyRecord(QStringLiteral("T\\d+ N\\d"));
    const QStringList days{QStringLiteral("2026-03-07"), QStringLiteral("2026-03-08")};
    for (int d = 0; d < days.size(); ++d) {
        QFile file(QStringLiteral("%1/%2_logstress.log").arg(logs, days.at(d)));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QVector<int> next(8, d == 0 ? 0 : records / 2);
        int lineNo = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromLatin1(file.readLine()).chopped(1);
            ++lineNo;
            // Banner lines pass; every line that carries a record must be the record alone.
            if (!line.contains(anyRecord))
                continue;
            const QRegularExpressionMatch m = record.match(line);
            QVERIFY2(
                m.hasMatch(),
                qPrintable(QStringLiteral("%1:%2: %3").arg(file.fileName()).arg(lineNo).arg(line)));
            const int t = m.captured(2).toInt();
            QVERIFY(t < 8);
            QCOMPARE(m.captured(3).toInt(), next[t]);
            ++next[t];
        }
        for (int t = 0; t < 8; ++t)
            QCOMPARE(next[t], d == 0 ? records / 2 : records);
    }
}

void TestStress::supervisionRestarts()
{
#ifdef Q_OS_WIN
    // A program that ends at once with 0 when given no arguments.
    const QString trueExe = QStringLiteral(SRVHELPER_PATH);
#else
    const QString trueExe = QStandardPaths::findExecutable(QStringLiteral("true"));
#endif
    QVERIFY2(!trueExe.isEmpty(), "required tool not installed: true");
    ravix::ExeInstance instance;
    instance.setName(QFileInfo(trueExe).fileName());
    instance.setExePath(QFileInfo(trueExe).absolutePath());
    instance.setWorkDir(QDir::tempPath());
    QVERIFY(instance.isValid());

    // Every run counts as one of normal length, so that the restarts follow each other at
    // once instead of backing off.
    ravix::SrvWrapperTimings timings;
    timings.quickRunMs = 0;
    ravix::setSrvWrapperTimings(timings);
    const auto restoreTimings = qScopeGuard([] { ravix::setSrvWrapperTimings({}); });

#ifdef Q_OS_WIN
    // A start of a Windows program costs a good part of a second under Wine.
    const int runs = 200;
#else
    const int runs = 1000;
#endif
    const int descriptorsBefore = openDescriptors();
    QScopedPointer<ravix::BaseSrvWrapper> wrapper(ravix::BaseSrvWrapper::create(instance));
    QSignalSpy started(wrapper.data(), &ravix::BaseSrvWrapper::started);
    QSignalSpy finished(wrapper.data(), &ravix::BaseSrvWrapper::finished);
    wrapper->start();
    int descriptorsDuring = -1;
    // Each end of the child starts it again; wait on the signals, not on the clock.
    while (finished.count() < runs) {
        if (finished.count() == runs / 10 && descriptorsDuring < 0)
            descriptorsDuring = openDescriptors();
        const int before = finished.count();
        if (!finished.wait(30000) && finished.count() == before)
            QFAIL(qPrintable(QStringLiteral("no restart after %1 runs").arg(before)));
    }
    wrapper->stop(true);
    QTRY_VERIFY_WITH_TIMEOUT(!wrapper->isRunned(), 30000);
    QVERIFY(started.count() >= runs);

    // Stable descriptors while running, and none left behind; no child left unreaped.
    QTRY_VERIFY_WITH_TIMEOUT(zombies().isEmpty(), 30000);
    const int descriptorsAfterRun = openDescriptors();
    QVERIFY2(descriptorsAfterRun <= descriptorsDuring + 2,
             qPrintable(QStringLiteral("%1 descriptors after %2 runs, %3 after %4")
                            .arg(descriptorsDuring)
                            .arg(runs / 10)
                            .arg(descriptorsAfterRun)
                            .arg(runs)));
    wrapper.reset();
    QCOMPARE(openDescriptors(), descriptorsBefore);
}

void TestStress::sqliteWritersAndReaders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("stress.db"));
    {
        StressDb db(path, BaseSqliteDbConnector::ReadWriteMode);
        db.init();
        QVERIFY(db.dbRef().isOpen());
        QSqlQuery q(db.dbRef());
        QVERIFY(
            q.exec(QStringLiteral("create table rows (writer integer, tx integer, n integer)")));
        db.release();
    }

    QAtomicInt failures;
    QAtomicInt writersDone;
    QStringList errors;
    QMutex errorsMutex;
    const auto fail = [&](const QString &what) {
        failures.ref();
        QMutexLocker lock(&errorsMutex);
        errors << what;
    };

    // Standard threads: their joins order the results for a ThreadSanitizer build too.
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            StressDb db(path, BaseSqliteDbConnector::ReadWriteMode);
            db.init();
            QSqlDatabase &con = db.dbRef();
            for (int t = 0; t < kTransactions; ++t) {
                if (!con.transaction()) {
                    fail(QStringLiteral("begin: ") + con.lastError().text());
                    break;
                }
                QSqlQuery q(con);
                q.prepare(QStringLiteral("insert into rows values (?, ?, ?)"));
                bool ok = true;
                for (int n = 0; n < kRowsPerTransaction && ok; ++n) {
                    q.addBindValue(w);
                    q.addBindValue(t);
                    q.addBindValue(n);
                    ok = q.exec();
                }
                if (!ok)
                    fail(QStringLiteral("insert: ") + q.lastError().text());
                if (!ok || !con.commit()) {
                    fail(QStringLiteral("commit: ") + con.lastError().text());
                    con.rollback();
                    break;
                }
            }
            db.release();
            writersDone.ref();
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            StressDb db(path, BaseSqliteDbConnector::ReadOnlyMode);
            db.init();
            int last = 0;
            while (writersDone.loadAcquire() < kWriters) {
                QSqlQuery q(db.dbRef());
                if (!q.exec(QStringLiteral("select count(*) from rows")) || !q.next()) {
                    fail(QStringLiteral("read: ") + q.lastError().text());
                    break;
                }
                // Readers see whole transactions only, and never fewer rows than before.
                const int count = q.value(0).toInt();
                if (count % kRowsPerTransaction != 0 || count < last)
                    fail(QStringLiteral("read %1 rows after %2").arg(count).arg(last));
                last = count;
                QThread::msleep(2);
            }
            db.release();
        });
    }
    for (std::thread &t : threads)
        t.join();
    QVERIFY2(failures.loadAcquire() == 0, qPrintable(errors.join(QLatin1Char('\n'))));

    StressDb db(path, BaseSqliteDbConnector::ReadOnlyMode);
    db.init();
    QSqlQuery q(db.dbRef());
    QVERIFY(q.exec(QStringLiteral("select writer, count(*) from rows group by writer")));
    int writers = 0;
    while (q.next()) {
        ++writers;
        QCOMPARE(q.value(1).toInt(), kTransactions * kRowsPerTransaction);
    }
    QCOMPARE(writers, kWriters);
    QVERIFY(q.exec(QStringLiteral("pragma integrity_check")) && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
    q.finish();
    db.release();
}

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
