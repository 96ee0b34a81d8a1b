// SPDX-License-Identifier: MIT
#include <ravixcore/appframe/dircreator.h>

#include "testtools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using ravix::DirCreator;

namespace {

#ifdef Q_OS_WIN
// Everyone may read, write, run and delete it: an entry of its own in the access list, with
// all rights as granted (GENERIC_ALL, or the file rights it maps to). Where Wine cannot store
// an access list it keeps the grant in the mode bits and reads it back without the rights to
// change the list and the owner.
bool openToEveryone(const QString &path)
{
    const qint64 rights = ravixtest::everyoneRights(path);
    const qint64 use = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    return rights > 0 && ((rights & GENERIC_ALL) || (rights & use) == use);
}
#endif

} // namespace

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
#ifdef Q_OS_WIN
        // Windows keeps of it only whether the folder is read-only, which no mask here asks.
        Q_UNUSED(mode)
        QVERIFY(QFileInfo(path).isWritable());
#else
        QCOMPARE(ravixtest::modeBits(path), mode);
#endif
    }

    void existingUntouched()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/keep";
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0700) == 0);
#ifdef Q_OS_WIN
        const QString acl = ravixtest::accessList(path);
        QVERIFY(!acl.isEmpty());
#endif
        QVERIFY(DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL));
#ifdef Q_OS_WIN
        QCOMPARE(ravixtest::accessList(path), acl);
#else
        QCOMPARE(ravixtest::modeBits(path), 0700);
#endif
    }

    void emptyPathRefused()
    {
        QTemporaryDir tmp;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(tmp.path());
        QVERIFY(!DirCreator::checkAndCreate(QString(), DirCreator::DEFAULT_ALL));
        QVERIFY(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        // Windows cannot remove the working folder of a process.
        QDir::setCurrent(previous);
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
#ifdef Q_OS_WIN
        // Read-only is the one mode bit Windows keeps; access goes by the access list.
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0400) == 0);
        QVERIFY(!openToEveryone(f));
        QVERIFY(DirCreator::changeFilePermissions(f, DirCreator::FILE_DEFAULT_ALL));
        QVERIFY(QFileInfo(f).isWritable());
        QVERIFY2(openToEveryone(f), qPrintable(ravixtest::accessList(f)));
#else
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0600) == 0);
        QVERIFY(DirCreator::changeFilePermissions(f, DirCreator::FILE_DEFAULT_ALL));
        QCOMPARE(ravixtest::modeBits(f), 0666);
#endif
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
#ifdef Q_OS_WIN
        for (const QString &p : dirs + files)
            QVERIFY2(openToEveryone(p) && QFileInfo(p).isWritable(), qPrintable(p));

        // Without the flag only the directory itself changes: below it nothing is opened to
        // everyone (Windows may pass the folder's entry on as an inherited one).
        const QString other = tmp.path() + "/other";
        QVERIFY(QDir().mkpath(other + "/d1"));
        QVERIFY(DirCreator::changeDirPermissions(other, false, DirCreator::DEFAULT_ALL));
        QVERIFY(openToEveryone(other));
        QVERIFY(!openToEveryone(other + "/d1"));
#else
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
#endif
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
#ifdef Q_OS_WIN
        // The link is a shortcut file there, which the walk never resolves.
        QVERIFY(openToEveryone(tmp.path() + "/tree"));
        QVERIFY(!openToEveryone(outside));
#else
        QCOMPARE(ravixtest::modeBits(tmp.path() + "/tree"), 01777);
        QCOMPARE(ravixtest::modeBits(outside), 0700);
#endif
    }

private:
    mode_t m_oldUmask = 022;
};

QTEST_GUILESS_MAIN(TestDirCreator)
#include "tst_dircreator.moc"
