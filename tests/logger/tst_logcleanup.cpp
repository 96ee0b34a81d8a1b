// SPDX-License-Identifier: MIT
#include <ravixcore/logger/loggermanager.h>

#include <ravixcore/zip/unzip.h>

#include "testtools.h"

#include <QBuffer>
#include <QDateTime>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

namespace {

QString dated(int daysAgo, const QString &rest)
{
    return QDate::currentDate().addDays(-daysAgo).toString(QStringLiteral("yyyy-MM-dd")) + rest;
}

QByteArray contentOf(const QString &name)
{
    // Long enough and repetitive, so the archive really deflates it.
    QByteArray data;
    for (int i = 0; i < 200; ++i)
        data += name.toUtf8() + " line " + QByteArray::number(i) + "\n";
    return data;
}

// Large enough that packing takes a while, so that overlapping runs would meet.
QByteArray largeContentOf(const QString &name)
{
    QByteArray data = contentOf(name);
    for (int k = 0; k < 6; ++k)
        data += data;
    return data;
}

bool writeFile(const QString &path, const QByteArray &data, int ageDays = 0)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return false;
    f.close();
    if (ageDays == 0)
        return true;
    if (!f.open(QIODevice::ReadWrite))
        return false;
    return f.setFileTime(QDateTime::currentDateTime().addDays(-ageDays),
                         QFileDevice::FileModificationTime);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLogCleanup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void datedFiles_data();
    void datedFiles();
    void failedArchiveKeepsTheLog();
    void repeatedStartsPackEachFileOnce();
    void anyOldLogs_data();
    void anyOldLogs();

private:
    // Starts logging with daily files, which runs one clean-up, and waits for it.
    void runCleanUp(unsigned keepDays);
    void verifyArchive(const QString &archive, const QString &entry, const QByteArray &content);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_unzip;
};

void TestLogCleanup::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("svc"));
    m_unzip = ravixtest::findTool(QStringLiteral("unzip"));
}

void TestLogCleanup::init()
{
    if (m_unzip.isEmpty())
        QFAIL("required tool not installed: unzip");
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setAdditionalEraseFilters(QStringList());
    LoggerManager::setCleanAnyOldLogs(false);
}

void TestLogCleanup::cleanup()
{
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    m_dir.reset();
}

void TestLogCleanup::runCleanUp(unsigned keepDays)
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), keepDays, true));
    QThreadPool::globalInstance()->waitForDone();
}

void TestLogCleanup::verifyArchive(const QString &archive, const QString &entry,
                                   const QByteArray &content)
{
    QByteArray out;
    QCOMPARE(ravixtest::runTool(m_unzip, {QStringLiteral("-t"), archive}, &out), 0);
    QCOMPARE(ravixtest::runTool(m_unzip, {QStringLiteral("-Z1"), archive}, &out), 0);
    QCOMPARE(out.trimmed(), entry.toUtf8());
    // Through runTool: a Windows program under Wine gets no handle to wait on a Linux one.
    QCOMPARE(ravixtest::runTool(m_unzip, {QStringLiteral("-p"), archive, entry}, &out), 0);
    QCOMPARE(out, content);

    // Our own reader agrees.
    UnZip reader;
    QCOMPARE(reader.openArchive(archive), UnZip::Ok);
    QCOMPARE(reader.fileList(), QStringList(entry));
    QCOMPARE(reader.verifyArchive(), UnZip::Ok);
    QBuffer extracted;
    QVERIFY(extracted.open(QIODevice::WriteOnly));
    QCOMPARE(reader.extractFile(entry, &extracted), UnZip::Ok);
    QCOMPARE(extracted.data(), content);
}

void TestLogCleanup::datedFiles_data()
{
    QTest::addColumn<int>("daysAgo");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("outcome"); // kept, packed, removed

    QTest::newRow("yesterday") << 1 << "_svc.log"
                               << "kept";
    QTest::newRow("two days") << 2 << "_svc.log"
                              << "packed";
    QTest::newRow("two days, named category") << 2 << "_svc.log.network"
                                              << "packed";
    QTest::newRow("five days") << 5 << "_svc.log"
                               << "packed";
    QTest::newRow("six days: too old to pack, too young to go") << 6 << "_svc.log"
                                                                << "kept";
    QTest::newRow("keeping time reached") << 7 << "_svc.log"
                                          << "removed";
    QTest::newRow("past the keeping time") << 30 << "_svc.log.network"
                                           << "removed";
    QTest::newRow("archive is never packed again") << 3 << "_svc.log.zip"
                                                   << "kept";
    QTest::newRow("gzip is never packed") << 3 << "_svc.log.gz"
                                          << "kept";
    QTest::newRow("old archive removed") << 7 << "_svc.log.zip"
                                         << "removed";
    QTest::newRow("other application") << 8 << "_other.log"
                                       << "kept";
    QTest::newRow("additional filter, dated") << 9 << "_core.dump"
                                              << "removed";
    QTest::newRow("additional filter, packed") << 3 << "_core.dump"
                                               << "packed";
}

void TestLogCleanup::datedFiles()
{
    QFETCH(int, daysAgo);
    QFETCH(QString, rest);
    QFETCH(QString, outcome);

    const QString name = dated(daysAgo, rest);
    const QString path = m_dir->filePath(name);
    const QByteArray content = contentOf(name);
    QVERIFY(writeFile(path, content));
    // A file without a leading date is never touched by the dated pass.
    const QString undated = m_dir->filePath(QStringLiteral("core.dump"));
    QVERIFY(writeFile(undated, "x", 40));

    LoggerManager::setAdditionalEraseFilters({QStringLiteral("*.dump")});
    runCleanUp(7);

    const QString archive = path + QStringLiteral(".zip");
    if (outcome == QLatin1String("kept")) {
        QCOMPARE(readFile(path), content);
        QVERIFY(!QFileInfo::exists(archive));
    } else if (outcome == QLatin1String("removed")) {
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo::exists(archive));
    } else {
        QVERIFY(!QFileInfo::exists(path));
        verifyArchive(archive, name, content);
    }
    QVERIFY(QFileInfo::exists(undated));
    // Today's file, with the start banner, stays where it is.
    QVERIFY(QFileInfo::exists(m_dir->filePath(dated(0, QStringLiteral("_svc.log")))));
}

void TestLogCleanup::failedArchiveKeepsTheLog()
{
    // A directory where the archive should go makes packing fail; the log must survive it.
    const QString name = dated(3, QStringLiteral("_svc.log"));
    const QByteArray content = contentOf(name);
    QVERIFY(writeFile(m_dir->filePath(name), content));
    QVERIFY(QDir(m_dir->path()).mkdir(name + QStringLiteral(".zip")));
    runCleanUp(7);
    QCOMPARE(readFile(m_dir->filePath(name)), content);

    // Once the obstacle is gone the next run packs it.
    QVERIFY(QDir(m_dir->path()).rmdir(name + QStringLiteral(".zip")));
    LoggerManager::releaseLog();
    runCleanUp(7);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(name)));
    verifyArchive(m_dir->filePath(name + QStringLiteral(".zip")), name, content);
}

void TestLogCleanup::repeatedStartsPackEachFileOnce()
{
    // Every start runs a clean-up; runs that overlap must not spoil each other's archives.
    QStringList names;
    for (int days = 2; days <= 5; ++days) {
        for (int i = 0; i < 6; ++i) {
            const QString name = dated(days, QStringLiteral("_svc.log.c%1").arg(i));
            QVERIFY(writeFile(m_dir->filePath(name), largeContentOf(name)));
            names << name;
        }
    }
    for (int i = 0; i < 4; ++i)
        QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QThreadPool::globalInstance()->waitForDone();
    for (const QString &name : qAsConst(names)) {
        QVERIFY2(!QFileInfo::exists(m_dir->filePath(name)), qPrintable(name));
        verifyArchive(m_dir->filePath(name + QStringLiteral(".zip")), name, largeContentOf(name));
    }
}

void TestLogCleanup::anyOldLogs_data()
{
    QTest::addColumn<bool>("cleanAny");
    QTest::newRow("dated pass only") << false;
    QTest::newRow("any old file") << true;
}

void TestLogCleanup::anyOldLogs()
{
    QFETCH(bool, cleanAny);
    QDir dir(m_dir->path());
    QVERIFY(dir.mkpath(QStringLiteral("sub/deeper")));
    const QStringList oldFiles = {QStringLiteral("crash.dump"), QStringLiteral("notes"),
                                  QStringLiteral("sub/old.txt"),
                                  QStringLiteral("sub/deeper/old.bin")};
    const QStringList freshFiles = {QStringLiteral("fresh.dump"), QStringLiteral("sub/new.txt"),
                                    QStringLiteral("sub/deeper/six.txt")};
    for (const QString &f : oldFiles)
        QVERIFY(writeFile(dir.filePath(f), "old", 8));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("fresh.dump")), "new"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("sub/new.txt")), "new", 1));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("sub/deeper/six.txt")), "new", 6));

    // A linked folder may lead out of the logs tree: nothing there is touched.
    QTemporaryDir outside;
    const QString foreign = QDir(outside.path()).filePath(QStringLiteral("foreign.txt"));
    QVERIFY(writeFile(foreign, "old", 30));
    QVERIFY(QFile::link(outside.path(), dir.filePath(QStringLiteral("sub/link"))));

    LoggerManager::setAdditionalEraseFilters({QStringLiteral("*.dump")});
    LoggerManager::setCleanAnyOldLogs(cleanAny);
    runCleanUp(7);

    for (const QString &f : oldFiles)
        QVERIFY2(QFileInfo::exists(dir.filePath(f)) != cleanAny, qPrintable(f));
    for (const QString &f : freshFiles)
        QVERIFY2(QFileInfo::exists(dir.filePath(f)), qPrintable(f));
    QVERIFY(QFileInfo::exists(foreign));
    // Directories themselves stay.
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("sub/deeper"))).isDir());
}

QTEST_GUILESS_MAIN(TestLogCleanup)
#include "tst_logcleanup.moc"
