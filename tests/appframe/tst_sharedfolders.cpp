// SPDX-License-Identifier: MIT
// Folders the library opens to every account, and files it replaces in them, attacked by
// another local account; a full disk while a file is replaced.
#include <ravixcore/appframe/dircreator.h>

#include "appframe/atomicwrite_p.h"
#include "attacktools.h"
#include "testtools.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using ravix::DirCreator;

namespace {

QString q(const QString &path)
{
    return QStringLiteral("'%1'").arg(path);
}

} // namespace

class TestSharedFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RAVIX_REQUIRE_ATTACKER(); }
    void init() { m_umask = ::umask(022); }
    void cleanup() { ::umask(m_umask); }

    // Open to everyone, yet nobody replaces or removes a file of another account there.
    void sharedFoldersAreSticky_data()
    {
        QTest::addColumn<bool>("create");
        QTest::newRow("created") << true;
        QTest::newRow("opened") << false;
    }
    void sharedFoldersAreSticky()
    {
        QFETCH(bool, create);
        QTemporaryDir tmp;
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0755) == 0);
        const QString shared = tmp.filePath(QStringLiteral("shared"));
        if (create) {
            QVERIFY(DirCreator::checkAndCreate(shared + "/deeper", DirCreator::DEFAULT_ALL));
            QVERIFY(DirCreator::checkAndCreate(shared, DirCreator::DEFAULT_ALL));
        } else {
            QVERIFY(QDir().mkpath(shared + "/deeper"));
            QVERIFY(DirCreator::changeDirPermissions(shared, true, DirCreator::DEFAULT_ALL));
        }
        const QString dir = shared + "/deeper";
        QCOMPARE(ravixtest::modeBits(dir), 01777);
        const QString plan = dir + "/plan";
        QVERIFY(ravixtest::writeFileMode(plan, "root's plan", 0644));

        // Any account may still create its own files there.
        QCOMPARE(ravixtest::runAsAttacker(QStringLiteral("echo evil > %1/mine").arg(q(dir))), 0);
        QVERIFY(ravixtest::runAsAttacker(QStringLiteral("mv -f %1/mine %2").arg(q(dir), q(plan))) != 0);
        QVERIFY(ravixtest::runAsAttacker(QStringLiteral("rm -f %1").arg(q(plan))) != 0);
        QCOMPARE(ravixtest::readFileBytes(plan), QByteArray("root's plan"));
    }

    // A link planted at the name is replaced by the file, never written through.
    void atomicWriteReplacesALink()
    {
        ravixtest::SharedTempDir shared;
        QTemporaryDir rootOnly;
        const QString secret = rootOnly.filePath(QStringLiteral("secret"));
        QVERIFY(ravixtest::writeFileMode(secret, "root's secret", 0600));
        const QString ver = shared.filePath(QStringLiteral("app.ver"));
        QCOMPARE(ravixtest::runAsAttacker(QStringLiteral("ln -s %1 %2").arg(q(secret), q(ver))), 0);

        QString error;
        QVERIFY2(ravix::writeFileAtomically(ver, "{\"version\":\"1.2\"}", &error),
                 qPrintable(error));
        QCOMPARE(ravixtest::readFileBytes(secret), QByteArray("root's secret"));
        QCOMPARE(ravixtest::modeBits(secret), 0600);
        QVERIFY(!QFileInfo(ver).isSymLink());
        QCOMPARE(ravixtest::readFileBytes(ver), QByteArray("{\"version\":\"1.2\"}"));
        // Nobody else may change what the daemon wrote.
        QCOMPARE(ravixtest::modeBits(ver), 0644);
        QCOMPARE(QFileInfo(ver).ownerId(), 0u);
        QCOMPARE(QDir(shared.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList(QStringLiteral("app.ver")));
    }

    // A file another account could write is replaced by one it cannot.
    void atomicWriteSetsItsMode()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("plan"));
        QVERIFY(ravixtest::writeFileMode(path, "old", 0666));
        ::umask(0);
        QVERIFY(ravix::writeFileAtomically(path, "new"));
        QCOMPARE(ravixtest::modeBits(path), 0644);
    }

    // On a full disk the old file stays whole and the write reports failure.
    void atomicWriteOnFullDisk_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("a few bytes") << 20;
        QTest::newRow("more than a buffer") << 200 * 1024;
    }
    void atomicWriteOnFullDisk()
    {
        QFETCH(int, size);
        ravixtest::SmallTmpfs disk(1024 * 1024);
        QVERIFY2(disk.isMounted(), qPrintable(disk.errorString()));
        const QString path = disk.path() + QStringLiteral("/app.ver");
        const QByteArray good = "{\"version\":\"1.0\"}";
        QVERIFY(ravix::writeFileAtomically(path, good));
        QVERIFY(disk.fill());

        QString error;
        QVERIFY(!ravix::writeFileAtomically(path, QByteArray(size, 'n'), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(ravixtest::readFileBytes(path), good);
        // No temporary left behind.
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral(".ballast"), QStringLiteral("app.ver")}));

        disk.release();
        QVERIFY(ravix::writeFileAtomically(path, QByteArray(size, 'n')));
        QCOMPARE(ravixtest::readFileBytes(path), QByteArray(size, 'n'));
    }

private:
    mode_t m_umask = 022;
};

QTEST_GUILESS_MAIN(TestSharedFolders)
#include "tst_sharedfolders.moc"
