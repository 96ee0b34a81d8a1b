// SPDX-License-Identifier: MIT
// Extraction into a folder another account can write in: whatever that account planted at
// an entry's path (a link to a directory, a link to a root file, a FIFO) is never written
// through and never blocks the extraction.
#include "rawzip.h"

#include <attacktools.h>

#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace ziptest;

Q_DECLARE_METATYPE(UnZip::ErrorCode)
Q_DECLARE_METATYPE(UnZip::ExtractionOptions)

class TestUnZipSecurity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plantedEntries_data();
    void plantedEntries();

private:
    QTemporaryDir m_tmp;
    QByteArray m_archive;
};

void TestUnZipSecurity::initTestCase()
{
    RAVIX_REQUIRE_ATTACKER();
    QVERIFY(m_tmp.isValid());
    const QString src = m_tmp.path() + "/src";
    writeFile(src + "/app.conf", "setting=archive\n");
    writeFile(src + "/sub/inner.txt", "inner from the archive\n");
    writeFile(src + "/sub/deeper/leaf.txt", "leaf from the archive\n");
    QBuffer buffer;
    Zip zip;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    QCOMPARE(zip.addDirectory(src, QString(), Zip::IgnoreRoot), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    m_archive = buffer.data();
}

void TestUnZipSecurity::plantedEntries_data()
{
    QTest::addColumn<QString>("plant"); // shell command run by the attacker in the target
    QTest::addColumn<QString>("call");  // all, file, files
    QTest::addColumn<UnZip::ExtractionOptions>("options");
    QTest::addColumn<UnZip::ErrorCode>("result");
    QTest::addColumn<QStringList>("written"); // files that must hold the archive's bytes

    using O = UnZip::ExtractionOptions;
    const QString fileLink = "ln -s \"$SECRET\" app.conf";
    const QString dirLink = "ln -s \"$ELSEWHERE\" sub";
    const QString deepLink = "mkdir -m 777 sub && ln -s \"$ELSEWHERE\" sub/deeper";
    QTest::newRow("file link, all")
        << fileLink << "all" << O() << UnZip::Ok
        << QStringList{"app.conf", "sub/inner.txt", "sub/deeper/leaf.txt"};
    QTest::newRow("file link, one file")
        << fileLink << "file" << O() << UnZip::Ok << QStringList{"app.conf"};
    QTest::newRow("file link, skip paths")
        << fileLink << "files" << O(UnZip::SkipPaths) << UnZip::Ok << QStringList{"app.conf"};
    QTest::newRow("fifo at a file name")
        << "mkfifo app.conf" << "file" << O() << UnZip::Ok << QStringList{"app.conf"};
    // A directory link is refused: the entry below it is not written anywhere.
    QTest::newRow("directory link, all")
        << dirLink << "all" << O() << UnZip::CreateDirFailed << QStringList{"app.conf"};
    QTest::newRow("directory link, files")
        << dirLink << "files" << O() << UnZip::CreateDirFailed << QStringList{};
    QTest::newRow("link deeper down")
        << deepLink << "all" << O() << UnZip::CreateDirFailed << QStringList{"app.conf"};
}

void TestUnZipSecurity::plantedEntries()
{
    QFETCH(QString, plant);
    QFETCH(QString, call);
    QFETCH(UnZip::ExtractionOptions, options);
    QFETCH(UnZip::ErrorCode, result);
    QFETCH(QStringList, written);
    RAVIX_REQUIRE_ATTACKER();

    // Root's own files, out of the attacker's reach.
    QTemporaryDir rootOnly;
    QVERIFY(rootOnly.isValid());
    const QString secret = writeFile(rootOnly.path() + "/secret", "root only\n");
    QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
    const QString elsewhere = rootOnly.path() + "/elsewhere";
    QVERIFY(QDir().mkpath(elsewhere));

    ravixtest::SharedTempDir target;
    QVERIFY(target.isValid());
    QByteArray out;
    const QString cmd = QStringLiteral("cd '%1' && SECRET='%2' ELSEWHERE='%3'; export SECRET "
                                       "ELSEWHERE; %4")
                            .arg(target.path(), secret, elsewhere, plant);
    QVERIFY2(ravixtest::runAsAttacker(cmd, &out) == 0, out.constData());

    QBuffer archive(&m_archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&archive), UnZip::Ok);
    UnZip::ErrorCode ec;
    if (call == "all")
        ec = unzip.extractAll(target.path(), options);
    else if (call == "file")
        ec = unzip.extractFile("app.conf", target.path(), options);
    else
        ec = unzip.extractFiles({"sub/deeper/leaf.txt", "app.conf"}, target.path(), options);
    QCOMPARE(ec, result);

    // Nothing reached root's files.
    QCOMPARE(readFile(secret), QByteArray("root only\n"));
#ifndef Q_OS_WIN
    struct stat secretStat;
    QCOMPARE(::stat(QFile::encodeName(secret).constData(), &secretStat), 0);
    QCOMPARE(int(secretStat.st_mode & 07777), 0600);
#endif
    QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    const QString base = target.path() + "/";
    for (const QString &name : written) {
        const QFileInfo info(base + name);
        QVERIFY2(info.isFile() && !info.isSymLink(), qPrintable(name));
        QCOMPARE(readFile(base + name), readFile(m_tmp.path() + "/src/" + name));
#ifndef Q_OS_WIN
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(base + name).constData(), &st), 0);
        QCOMPARE(int(st.st_nlink), 1);
        QCOMPARE(st.st_uid, uid_t(0));
#endif
    }
    // A refused directory link stays what it was.
    if (plant.contains("\"$ELSEWHERE\" sub"))
        QVERIFY(QFileInfo(base + "sub").isSymLink() || QFileInfo(base + "sub/deeper").isSymLink());
    // No temporary file is left beside the names.
    const QStringList left =
        QDir(target.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : left)
        QVERIFY2(!name.startsWith('.'), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestUnZipSecurity)
#include "tst_unzipsecurity.moc"
