// SPDX-License-Identifier: MIT
// Attacks on downloads: another local account plants links, pipes or files of its own in the
// shared download folder; a hostile server sends bodies without end or sizes that cannot be.
#include <ravixcore/httpfileloader/httpfileloader.h>

#include "attacktools.h"
#include "faultserver.h"
#include "hfltesttools.h"
#include "httpfileloader/httpfileloader_p.h"
#include "testtools.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace hfltest;
using Answer = FaultServer::Answer;
using Request = FaultServer::Request;

namespace {

const int kMiB = 1024 * 1024;

QString shellQuoted(const QString &path)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Present under that name in any form, a dangling link included.
bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

// Starts the server and downloads its file to target; ends the test function on a failure.
#define FETCH(server, target, blockSize, r)                                                        \
    QVERIFY(server.start());                                                                       \
    fetch(server.url(), target, blockSize, r);                                                     \
    if (QTest::currentTestFailed())                                                                \
        return;

class TestHttpFileLoaderSecurity : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ravix::HttpFileLoaderTimings t;
        t.replyTimeoutMs = kWait;
        t.retryDelayMs = 20;
        t.timeoutRetryDelayMs = 20;
        ravix::setHttpFileLoaderTimings(t);
    }

    void cleanup() { ravix::setHttpFileLoaderTimings(ravix::HttpFileLoaderTimings()); }

    // The attacker plants something at the partial file's or the target's name before the
    // download: it is neither followed nor used, and the package arrives whole, root's own and
    // not writable by others.
    void plantedInDownloadFolder_data()
    {
        QTest::addColumn<QString>("name");
        // %1 the planted name, %2 a root-only file, %3 a name in a root-only folder
        QTest::addColumn<QString>("plant");
        QTest::newRow("link to a root-only file at the partial name") << "f.bin.part"
                                                                      << "ln -s %2 %1";
        QTest::newRow("link to a new file in a root-only folder at the partial name")
            << "f.bin.part"
            << "ln -s %3 %1";
        QTest::newRow("pipe at the partial name") << "f.bin.part"
                                                  << "mkfifo -m 666 %1";
        QTest::newRow("attacker's own partial file")
            << "f.bin.part"
            << "head -c 1500 /dev/zero >%1 && chmod 666 %1";
        QTest::newRow("link to a root-only file at the target name") << "f.bin"
                                                                     << "ln -s %2 %1";
    }
    void plantedInDownloadFolder()
    {
        QFETCH(QString, name);
        QFETCH(QString, plant);
        RAVIX_REQUIRE_ATTACKER();
        ravixtest::SharedTempDir shared;
        QTemporaryDir rootOnly;
        QVERIFY(shared.isValid() && rootOnly.isValid());
        QVERIFY(QFile::setPermissions(rootOnly.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString secret = rootOnly.filePath("secret");
        const QString unborn = rootOnly.filePath("unborn");
        QVERIFY(writeFile(secret, "root secret\n"));
        QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(ravixtest::runAsAttacker(plant.arg(shellQuoted(shared.filePath(name)),
                                                    shellQuoted(secret), shellQuoted(unborn))),
                 0);
        QVERIFY(nameTaken(shared.filePath(name)));

        const QByteArray content = randomBytes(2500, 43);
        FaultServer server(content);
        const QString target = shared.filePath("f.bin");
        Receiver r;
        FETCH(server, target, 1000, r)
        QCOMPARE(r.names, QStringList{target});
        QCOMPARE(readFile(target), content);
        const QFileInfo info(target);
        QVERIFY(!info.isSymLink());
        QVERIFY(info.isFile());
        QCOMPARE(info.ownerId(), uint(geteuid()));
        QCOMPARE(ravixtest::modeBits(target), 0644);
        QVERIFY(!nameTaken(target + ".part"));

        QCOMPARE(readFile(secret), QByteArray("root secret\n"));
        QCOMPARE(ravixtest::modeBits(secret), 0600);
        QVERIFY(!nameTaken(unborn));
    }

    // A partial file left by a failed download is not writable by other accounts: nobody can
    // slip bytes into a package that is later installed as root.
    void partFileNotWritableByOthers()
    {
        RAVIX_REQUIRE_ATTACKER();
        ravixtest::SharedTempDir shared;
        QVERIFY(shared.isValid());
        const QByteArray content = randomBytes(2500, 47);
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            return index == 0 ? FaultServer::rangeAnswer(content, req)
                              : FaultServer::raw("404 Not Found", {"Content-Length: 0"});
        });
        const QString target = shared.filePath("f.bin");
        Receiver r;
        FETCH(server, target, 1000, r)
        QCOMPARE(r.names, QStringList{QString()});
        const QString part = target + ".part";
        QCOMPARE(readFile(part), content.left(1001));
        QCOMPARE(ravixtest::modeBits(part), 0644);
        QVERIFY(ravixtest::runAsAttacker("echo bad >>" + shellQuoted(part)) != 0);
        QCOMPARE(readFile(part), content.left(1001));
    }

    // A body that does not end is never held whole: the answer is refused as soon as its
    // headers show it, or cut where it passes what was asked for. Only good bytes reach the
    // partial file.
    void endlessBody_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QList<QByteArray>>("headers");
        QTest::addColumn<int>("goodBytes"); // real content before the filler
        QTest::addColumn<int>("faulty");
        QTest::addColumn<bool>("arrives");
        QTest::addColumn<QByteArray>("nextRange"); // asked after the first faulty answer
        const QByteArray range = "Content-Range: bytes 0-1000/2500";
        QTest::newRow("206 without length")
            << QByteArray("206 Partial Content") << QList<QByteArray>{range} << 0 << 1 << true
            << QByteArray("bytes=0-1000");
        QTest::newRow("206 with a length of 1 TiB")
            << QByteArray("206 Partial Content")
            << QList<QByteArray>{"Content-Length: 1099511627776", range} << 0 << 1 << true
            << QByteArray("bytes=0-1000");
        QTest::newRow("200 without length") << QByteArray("200 OK") << QList<QByteArray>{} << 0 << 1
                                            << true << QByteArray("bytes=0-1000");
        QTest::newRow("more than the declared length")
            << QByteArray("206 Partial Content") << QList<QByteArray>{"Content-Length: 1001", range}
            << 1001 << 1 << true << QByteArray("bytes=1001-2001");
        QTest::newRow("206 larger than asked")
            << QByteArray("206 Partial Content")
            << QList<QByteArray>{"Content-Length: 2500", "Content-Range: bytes 0-2499/2500"} << 2500
            << 1 << true << QByteArray("bytes=1001-2001");
        QTest::newRow("206 without length, every time")
            << QByteArray("206 Partial Content") << QList<QByteArray>{range} << 0 << 5 << false
            << QByteArray("bytes=0-1000");
    }
    void endlessBody()
    {
        QFETCH(QByteArray, status);
        QFETCH(QList<QByteArray>, headers);
        QFETCH(int, goodBytes);
        QFETCH(int, faulty);
        QFETCH(bool, arrives);
        QFETCH(QByteArray, nextRange);
        QTemporaryDir tmp;
        const QByteArray content = randomBytes(2500, 53);
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            if (index >= faulty)
                return FaultServer::rangeAnswer(content, req);
            Answer a = FaultServer::raw(status, headers, content.left(goodBytes));
            a.endless = 256 * qint64(kMiB);
            return a;
        });
        const QString target = tmp.filePath("f.bin");
        Receiver r;
        FETCH(server, target, 1000, r)
        QCOMPARE(r.names, QStringList{arrives ? target : QString()});
        QVERIFY2(server.endlessSent < 64 * kMiB, QByteArray::number(server.endlessSent));
        if (arrives) {
            QCOMPARE(readFile(target), content);
        } else {
            const QByteArray part = readFile(target + ".part");
            QCOMPARE(part, content.left(part.size()));
        }
        QVERIFY(server.requests.size() > 1);
        QCOMPARE(server.requests.at(1).header("range"), nextRange);
    }

    // A total size that cannot be right is refused before anything is written: larger than
    // the free space (1 TiB among them), or different from what earlier blocks said.
    void impossibleTotal_data()
    {
        QTest::addColumn<qint64>("firstTotal");
        QTest::addColumn<qint64>("laterTotal");
        QTest::addColumn<int>("partSize");
        QTest::newRow("1 TiB") << (qint64(1) << 40) << (qint64(1) << 40) << 0;
        QTest::newRow("more than the free space") << 64 * qint64(kMiB) << 64 * qint64(kMiB) << 0;
        QTest::newRow("changed after the first block")
            << 4 * qint64(kMiB) << 5 * qint64(kMiB) << kMiB + 1;
    }
    void impossibleTotal()
    {
        QFETCH(qint64, firstTotal);
        QFETCH(qint64, laterTotal);
        QFETCH(int, partSize);
        ravixtest::SmallTmpfs disk(16 * kMiB);
        QVERIFY2(disk.isMounted(), qPrintable(disk.errorString()));
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            return FaultServer::generatedRangeAnswer(index == 0 ? firstTotal : laterTotal, req);
        });
        const QString target = disk.path() + "/f.bin";
        Receiver r;
        FETCH(server, target, kMiB, r)
        QCOMPARE(r.names, QStringList{QString()});
        // Five refused answers, after the one good block where there is one.
        QCOMPARE(server.requests.size(), 5 + (partSize ? 1 : 0));
        if (partSize) {
            QVERIFY(readFile(target + ".part") == FaultServer::generatedBytes(0, partSize));
        } else {
            QVERIFY(!nameTaken(target + ".part"));
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpFileLoaderSecurity)
#include "tst_httpfileloader_security.moc"
