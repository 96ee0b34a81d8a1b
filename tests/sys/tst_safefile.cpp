// SPDX-License-Identifier: MIT
// The file layer for shared folders: what it refuses to open, how it replaces files and how
// it walks trees.
#include "sys/safefile_p.h"

#include "attacktools.h"
#include "testtools.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace ravix::safefile;

namespace {

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_target = m_dir->filePath(QStringLiteral("target"));
        QVERIFY(ravixtest::writeFileMode(m_target, "target", 0600));
    }

    // Whatever was planted at the name, neither opening for writing nor for reading reaches
    // another file, and nothing waits.
    void plantedNamesRefused_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::newRow("link") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("hard link") << "hard";
        QTest::newRow("directory") << "dir";
    }
    void plantedNamesRefused()
    {
        QFETCH(QString, plant);
        const QString name = m_dir->filePath(QStringLiteral("name"));
        const QByteArray n = QFile::encodeName(name);
        if (plant == QLatin1String("link"))
            QVERIFY(QFile::link(m_target, name));
        else if (plant == QLatin1String("dangling"))
            QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("absent")), name));
        else if (plant == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(n.constData(), 0666), 0);
        else if (plant == QLatin1String("hard"))
            QCOMPARE(::link(QFile::encodeName(m_target).constData(), n.constData()), 0);
        else
            QVERIFY(QDir().mkdir(name));

        for (WriteMode mode : {Append, Truncate, AppendText}) {
            QFile file;
            QString error;
            bool created = true;
            QVERIFY(!openForWrite(file, name, mode, 0644, &error, &created));
            QVERIFY(!file.isOpen());
            QVERIFY(!error.isEmpty());
            QVERIFY(!created);
        }
        QFile file;
        QVERIFY(!openForRead(file, name));
        QCOMPARE(ravixtest::readFileBytes(m_target), QByteArray("target"));
        QCOMPARE(ravixtest::modeBits(m_target), 0600);
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("absent"))));
    }

    void openAndSetMode()
    {
        const QString name = m_dir->filePath(QStringLiteral("log"));
        QFile file;
        bool created = false;
        QVERIFY(openForWrite(file, name, Append, 0600, nullptr, &created));
        QVERIFY(created);
        QVERIFY(setMode(file, 0664));
        QCOMPARE(file.write("one\n"), 4);
        file.close();
        QCOMPARE(ravixtest::modeBits(name), 0664);

        QVERIFY(openForWrite(file, name, Append, 0600, nullptr, &created));
        QVERIFY(!created);
        QCOMPARE(file.write("two\n"), 4);
        file.close();
        QCOMPARE(ravixtest::readFileBytes(name), QByteArray("one\ntwo\n"));

        QVERIFY(openForWrite(file, name, Truncate, 0600));
        QCOMPARE(file.write("three\n"), 6);
        file.close();
        QVERIFY(openForRead(file, name));
        QCOMPARE(file.readAll(), QByteArray("three\n"));
    }

    // An atomic file that is not committed leaves the old file and nothing else.
    void atomicFileCancelled()
    {
        {
            AtomicFile f(m_target);
            QVERIFY(f.open());
            QCOMPARE(f.device()->write("new"), 3);
        }
        QCOMPARE(ravixtest::readFileBytes(m_target), QByteArray("target"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(QStringLiteral("target")));

        AtomicFile f(m_target, 0640);
        QVERIFY(f.open());
        QCOMPARE(f.device()->write("new"), 3);
        QVERIFY(f.commit());
        QCOMPARE(ravixtest::readFileBytes(m_target), QByteArray("new"));
        QCOMPARE(ravixtest::modeBits(m_target), 0640);
    }

    // Each directory before its contents, links reported but never entered, changes made
    // through descriptors.
    void walkTree()
    {
        QTemporaryDir outside;
        const QString foreign = outside.filePath(QStringLiteral("foreign"));
        QVERIFY(ravixtest::writeFileMode(foreign, "x", 0600));
        const QString root = m_dir->filePath(QStringLiteral("tree"));
        QVERIFY(QDir().mkpath(root + "/b/c"));
        QVERIFY(ravixtest::writeFileMode(root + "/a", "a", 0600));
        QVERIFY(ravixtest::writeFileMode(root + "/b/c/d", "d", 0600));
        QVERIFY(QFile::link(outside.path(), root + "/b/out"));
        QVERIFY(QFile::link(foreign, root + "/b/file"));
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600), 0);

        QStringList seen;
        QVERIFY(ravix::safefile::walkTree(root, [&seen](TreeEntry &e) {
            seen << e.path() + (e.isDir() ? "/" : e.isLink() ? "@" : e.isFile() ? "" : "|");
            if (e.isDir() || e.isFile())
                e.setMode(e.isDir() ? 0755 : 0644);
            else
                QVERIFY(!e.setMode(0666));
            if (e.isLink())
                QVERIFY(e.remove());
        }));
        QCOMPARE(seen, QStringList({root + "/", root + "/a", root + "/b/", root + "/b/c/",
                                    root + "/b/c/d", root + "/b/file@", root + "/b/out@",
                                    root + "/fifo|"}));
        QCOMPARE(ravixtest::modeBits(root + "/b/c"), 0755);
        QCOMPARE(ravixtest::modeBits(root + "/b/c/d"), 0644);
        QCOMPARE(ravixtest::modeBits(foreign), 0600);
        QCOMPARE(ravixtest::modeBits(outside.path()), 0700);
        QVERIFY(QFileInfo::exists(foreign));
        QVERIFY(!QFileInfo(root + "/b/out").isSymLink());

        // A skipped directory is not entered.
        seen.clear();
        QVERIFY(ravix::safefile::walkTree(root, [&seen](TreeEntry &e) {
            seen << e.name();
            if (e.name() == QLatin1String("b"))
                e.skip();
        }));
        QCOMPARE(seen, QStringList({"tree", "a", "b", "fifo"}));
        QVERIFY(!ravix::safefile::walkTree(root + "/a", [](TreeEntry &) {}));
    }

    void ownership()
    {
        RAVIX_REQUIRE_ATTACKER();
        ravixtest::SharedTempDir shared;
        const QString mine = shared.filePath(QStringLiteral("mine"));
        QVERIFY(ravixtest::writeFileMode(mine, "x", 0644));
        QVERIFY(ownedBySelfOrRoot(mine));
        const QString theirs = shared.filePath(QStringLiteral("theirs"));
        QCOMPARE(ravixtest::runAsAttacker(QStringLiteral("ln -s %1 '%2'").arg(mine, theirs)), 0);
        QVERIFY(!ownedBySelfOrRoot(theirs));
        QVERIFY(!ownedBySelfOrRoot(shared.filePath(QStringLiteral("absent"))));
    }

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_target;
};

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_safefile.moc"
