// SPDX-License-Identifier: MIT
// A child process doing one file-writing job of the library is killed (SIGKILL) just before
// each of many file-changing calls (see killshim.cpp). After every kill the files must be in a
// state the library can live with: the log file or a whole archive of it; the old or the new
// ".ver", info.json or plan file, never a torn one; a SQLite database whose integrity check
// says "ok" and holds whole transactions only; and a download that the next run completes
// with the right content.
#include "nginxserver.h"

#include <ravixcore/zip/unzip.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int kMaxPoints = 24;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

struct ChildRun
{
    bool killed = false;
    int exitCode = -1;
    long points = -1; // counted points, for a run that was not killed
};

// Runs the child with the shim preloaded; killAt 0 lets it finish and counts its points.
ChildRun runChild(const QStringList &args, long killAt)
{
    QTemporaryDir reportDir;
    const QString report = reportDir.filePath(QStringLiteral("points"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KILLSHIM_PATH));
    env.insert(QStringLiteral("RAVIX_KILL_AT"), QString::number(killAt));
    env.insert(QStringLiteral("RAVIX_KILL_REPORT"), report);
    // The shim comes before the sanitizer runtime in a sanitizer build; that is intended.
    QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!asan.isEmpty())
        asan += QLatin1Char(':');
    asan += QLatin1String("verify_asan_link_order=0");
    env.insert(QStringLiteral("ASAN_OPTIONS"), asan);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(KILLCHILD_PATH), args);
    ChildRun run;
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.killed = p.exitStatus() == QProcess::CrashExit;
    run.exitCode = p.exitCode();
    const QByteArray output = p.readAll();
    // The child's own diagnostics matter only when it failed on its own.
    if (!run.killed && run.exitCode != 0)
        qWarning().noquote() << args.join(QLatin1Char(' ')) << "failed:\n" << output;
    if (!run.killed)
        run.points = readFile(report).trimmed().toLong();
    return run;
}

// Up to kMaxPoints kill points spread over 1..count, the first and the last included.
QList<long> pointsOf(long count)
{
    QList<long> points;
    if (count <= kMaxPoints) {
        for (long n = 1; n <= count; ++n)
            points << n;
        return points;
    }
    for (int i = 0; i < kMaxPoints; ++i)
        points << 1 + (count - 1) * i / (kMaxPoints - 1);
    return points;
}

QString sqlCheck(const QString &path, int *rows)
{
    const QString name = QStringLiteral("killpoints-check");
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            return QStringLiteral("cannot open");
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("pragma integrity_check")) && q.next())
            result = q.value(0).toString();
        if (q.exec(QStringLiteral("select count(*) from rows")) && q.next())
            *rows = q.value(0).toInt();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

class TestKillPoints : public QObject
{
    Q_OBJECT

private slots:
    void wholeFiles_data();
    void wholeFiles();
    void logArchiving();
    void sqliteRows();
    void download();
};

void TestKillPoints::wholeFiles_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("version file") << QStringLiteral("ver") << QStringLiteral("app.ver");
    QTest::newRow("stored update") << QStringLiteral("info") << QStringLiteral("1.2.0/info.json");
    QTest::newRow("update plan") << QStringLiteral("plan") << QStringLiteral("plan");
}

void TestKillPoints::wholeFiles()
{
    QFETCH(QString, mode);
    QFETCH(QString, relativePath);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The old and the new content, each written by a run that was not disturbed.
    const QString oldArg =
        mode == QLatin1String("ver") ? QStringLiteral("1.0.0") : QStringLiteral("old text");
    const QString newArg =
        mode == QLatin1String("ver") ? QStringLiteral("2.0.0") : QStringLiteral("new text, longer");
    const QString ref = dir.filePath(QStringLiteral("ref"));
    QVERIFY(QDir().mkpath(ref));
    QCOMPARE(runChild({mode, ref, oldArg}, 0).exitCode, 0);
    const QByteArray oldContent = readFile(ref + QLatin1Char('/') + relativePath);
    QCOMPARE(runChild({mode, ref, newArg}, 0).exitCode, 0);
    const QByteArray newContent = readFile(ref + QLatin1Char('/') + relativePath);
    QVERIFY(!oldContent.isEmpty() && !newContent.isEmpty() && oldContent != newContent);

    const QString work = dir.filePath(QStringLiteral("work"));
    const QString file = work + QLatin1Char('/') + relativePath;
    QVERIFY(writeFile(file, oldContent));
    const ChildRun counted = runChild({mode, work, newArg}, 0);
    QCOMPARE(counted.exitCode, 0);
    QVERIFY(counted.points > 0);
    qDebug() << counted.points << "points";
    for (long n : pointsOf(counted.points)) {
        QVERIFY(QDir(work).removeRecursively());
        QVERIFY(writeFile(file, oldContent));
        const ChildRun run = runChild({mode, work, newArg}, n);
        QVERIFY2(run.killed || run.exitCode == 0, qPrintable(QString::number(n)));
        const QByteArray now = readFile(file);
        QVERIFY2(now == oldContent || now == newContent,
                 qPrintable(QStringLiteral("killed at point %1 of %2: %3 bytes")
                                .arg(n)
                                .arg(counted.points)
                                .arg(now.size())));
    }
}

void TestKillPoints::logArchiving()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logs = dir.filePath(QStringLiteral("logs"));
    const QString name = QDate::currentDate().addDays(-3).toString(QStringLiteral("yyyy-MM-dd")) +
                         QStringLiteral("_killchild.log");
    QByteArray content;
    for (int i = 0; i < 3000; ++i)
        content += "[10:00:00.000] INFO:     record " + QByteArray::number(i) + '\n';
    const QString logFile = logs + QLatin1Char('/') + name;
    const QString archive = logFile + QStringLiteral(".zip");

    // Whether the archive holds the whole log file.
    const auto archiveIsWhole = [&] {
        UnZip unzip;
        if (unzip.openArchive(archive) != UnZip::Ok)
            return false;
        QByteArray data;
        QBuffer out(&data);
        out.open(QIODevice::WriteOnly);
        return unzip.extractFile(name, &out) == UnZip::Ok && data == content;
    };

    QVERIFY(writeFile(logFile, content));
    const ChildRun counted = runChild({QStringLiteral("archive"), logs}, 0);
    QCOMPARE(counted.exitCode, 0);
    QVERIFY(!QFile::exists(logFile));
    QVERIFY(archiveIsWhole());
    qDebug() << counted.points << "points";

    for (long n : pointsOf(counted.points)) {
        QVERIFY(QDir(logs).removeRecursively());
        QVERIFY(writeFile(logFile, content));
        const ChildRun run = runChild({QStringLiteral("archive"), logs}, n);
        QVERIFY2(run.killed || run.exitCode == 0, qPrintable(QString::number(n)));
        const bool logWhole = readFile(logFile) == content;
        QVERIFY2(logWhole || archiveIsWhole(),
                 qPrintable(QStringLiteral("killed at point %1 of %2: neither the log nor a "
                                           "whole archive")
                                .arg(n)
                                .arg(counted.points)));
        // The next clean-up finishes the job.
        QCOMPARE(runChild({QStringLiteral("archive"), logs}, 0).exitCode, 0);
        QVERIFY(!QFile::exists(logFile));
        QVERIFY2(archiveIsWhole(), qPrintable(QString::number(n)));
    }
}

void TestKillPoints::sqliteRows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("rows.db"));
    const auto createDb = [&] {
        QFile::remove(path);
        const QString name = QStringLiteral("killpoints-create");
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            ok = db.open() && QSqlQuery(db).exec(QStringLiteral(
                                  "create table rows (tx integer, n integer, pad text)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    };
    const QStringList args{QStringLiteral("sqlite"), path, QStringLiteral("6")};
    QVERIFY(createDb());
    const ChildRun counted = runChild(args, 0);
    QCOMPARE(counted.exitCode, 0);
    int rows = -1;
    QCOMPARE(sqlCheck(path, &rows), QStringLiteral("ok"));
    QCOMPARE(rows, 60);
    qDebug() << counted.points << "points";

    for (long n : pointsOf(counted.points)) {
        QVERIFY(createDb());
        const ChildRun run = runChild(args, n);
        QVERIFY2(run.killed || run.exitCode == 0, qPrintable(QString::number(n)));
        rows = -1;
        QCOMPARE(sqlCheck(path, &rows), QStringLiteral("ok"));
        // Only whole transactions of ten rows are kept.
        QVERIFY2(rows >= 0 && rows % 10 == 0,
                 qPrintable(QStringLiteral("killed at point %1: %2 rows").arg(n).arg(rows)));
    }
}

void TestKillPoints::download()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString docroot = dir.filePath(QStringLiteral("www"));
    QByteArray payload(200000, Qt::Uninitialized);
    QRandomGenerator random(16);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(random.bounded(256));
    QVERIFY(writeFile(docroot + QStringLiteral("/pkg.bin"), payload));
    const QByteArray digest = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
    ravixtest::NginxServer nginx;
    QVERIFY2(nginx.start(docroot), qPrintable(nginx.errorString()));

    const QString target = dir.filePath(QStringLiteral("dl/pkg.bin"));
    const QStringList args{QStringLiteral("download"), nginx.url(QStringLiteral("/pkg.bin")),
                           target, QStringLiteral("20000")};
    const ChildRun counted = runChild(args, 0);
    QCOMPARE(counted.exitCode, 0);
    QCOMPARE(QCryptographicHash::hash(readFile(target), QCryptographicHash::Sha1), digest);
    qDebug() << counted.points << "points";

    for (long n : pointsOf(counted.points)) {
        QVERIFY(QDir(dir.filePath(QStringLiteral("dl"))).removeRecursively());
        const ChildRun run = runChild(args, n);
        QVERIFY2(run.killed || run.exitCode == 0, qPrintable(QString::number(n)));
        // A target that exists is whole; the next run finishes the download.
        if (QFile::exists(target))
            QVERIFY2(readFile(target) == payload,
                     qPrintable(QStringLiteral("killed at point %1: torn target").arg(n)));
        QCOMPARE(runChild(args, 0).exitCode, 0);
        QVERIFY2(QCryptographicHash::hash(readFile(target), QCryptographicHash::Sha1) == digest,
                 qPrintable(QStringLiteral("killed at point %1 of %2: wrong digest after the "
                                           "next run")
                                .arg(n)
                                .arg(counted.points)));
        QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
    }
}

QTEST_GUILESS_MAIN(TestKillPoints)
#include "tst_killpoints.moc"
