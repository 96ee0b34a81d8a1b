// SPDX-License-Identifier: MIT
#include <ravixcore/appframe/dircreator.h>

#include "testtools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using ravix::DirCreator;

class TestDirCreator : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_oldUmask = ::umask(0); }
    void cleanup() { ::umask(m_oldUmask); }

    void masks()
    {
        QCOMPARE(int(DirCreator::DEFAULT_OWNER), 0x7700);
        QCOMPARE(int(DirCreator::DEFAULT_GROUP), 0x7770);
        QCOMPARE(int(DirCreator::DEFAULT_ALL), 0x7777);
        QCOMPARE(int(DirCreator::FILE_DEFAULT_OWNER), 0x6000);
        QCOMPARE(int(DirCreator::FILE_DEFAULT_GROUP), 0x6060);
        QCOMPARE(int(DirCreator::FILE_DEFAULT_ALL), 0x6066);
    }

    void createNested_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("mode");
        // A folder everyone may write to gets the sticky bit.
        QTest::newRow("all") << int(DirCreator::DEFAULT_ALL) << 01777;
        QTest::newRow("group") << int(DirCreator::DEFAULT_GROUP) << 0770;
        QTest::newRow("owner") << int(DirCreator::DEFAULT_OWNER) << 0700;
    }
    void createNested()
    {
        QFETCH(int, mask);
        QFETCH(int, mode);
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/a/b/c";
        QVERIFY(DirCreator::checkAndCreate(path, QFileDevice::Permissions(mask)));
        QVERIFY(QFileInfo(path).isDir());
        // The mask is applied to the deepest folder.
        QCOMPARE(ravixtest::modeBits(path), mode);
    }

    void existingUntouched()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/keep";
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0700) == 0);
        QVERIFY(DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL));
        QCOMPARE(ravixtest::modeBits(path), 0700);
    }

    void emptyPathRefused()
    {
        QTemporaryDir tmp;
        QDir::setCurrent(tmp.path());
        QVERIFY(!DirCreator::checkAndCreate(QString(), DirCreator::DEFAULT_ALL));
        QVERIFY(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void missingPaths()
    {
        QTemporaryDir tmp;
        QVERIFY(!DirCreator::changeFilePermissions(tmp.path() + "/nope", DirCreator::FILE_DEFAULT_ALL));
        QVERIFY(!DirCreator::changeDirPermissions(tmp.path() + "/nope", true, DirCreator::DEFAULT_ALL));
        QVERIFY(!QFileInfo::exists(tmp.path() + "/nope"));
    }

    void filePermissions()
    {
        QTemporaryDir tmp;
        const QString f = tmp.path() + "/f.txt";
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0600) == 0);
        QVERIFY(DirCreator::changeFilePermissions(f, DirCreator::FILE_DEFAULT_ALL));
        QCOMPARE(ravixtest::modeBits(f), 0666);
    }

    void recursiveReachesEverything()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        QStringList dirs = {root, root + "/d1", root + "/d1/d2", root + "/.hidden"};
        QStringList files = {root + "/f0", root + "/d1/f1", root + "/d1/d2/f2", root + "/.hidden/f3"};
        for (const QString &d : dirs) {
            QVERIFY(QDir().mkpath(d));
            QVERIFY(::chmod(QFile::encodeName(d).constData(), 0700) == 0);
        }
        for (const QString &f : files) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QVERIFY(::chmod(QFile::encodeName(f).constData(), 0600) == 0);
        }
        QVERIFY(DirCreator::changeDirPermissions(root, true, DirCreator::DEFAULT_ALL));
        for (const QString &d : dirs)
            QCOMPARE(ravixtest::modeBits(d), 01777);
        for (const QString &f : files)
            QCOMPARE(ravixtest::modeBits(f), 0777);

        // Without the flag only the directory itself changes.
        for (const QString &d : dirs)
            QVERIFY(::chmod(QFile::encodeName(d).constData(), 0700) == 0);
        QVERIFY(DirCreator::changeDirPermissions(root, false, DirCreator::DEFAULT_ALL));
        QCOMPARE(ravixtest::modeBits(root), 01777);
        QCOMPARE(ravixtest::modeBits(root + "/d1"), 0700);
    }

    void recursionStaysInsideTree()
    {
        QTemporaryDir tmp;
        const QString outside = tmp.path() + "/outside";
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(::chmod(QFile::encodeName(outside).constData(), 0700) == 0);
        QVERIFY(QDir().mkpath(tmp.path() + "/tree"));
        QVERIFY(QFile::link(outside, tmp.path() + "/tree/link"));
        QVERIFY(DirCreator::changeDirPermissions(tmp.path() + "/tree", true, DirCreator::DEFAULT_ALL));
        QCOMPARE(ravixtest::modeBits(tmp.path() + "/tree"), 01777);
        QCOMPARE(ravixtest::modeBits(outside), 0700);
    }

private:
    mode_t m_oldUmask = 022;
};

QTEST_GUILESS_MAIN(TestDirCreator)
#include "tst_dircreator.moc"
