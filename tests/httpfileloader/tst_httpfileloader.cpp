// SPDX-License-Identifier: MIT
#include <ravixcore/httpfileloader/httpfileloader.h>
#include <ravixcore/workers/abstractworkerthread.h>

#include "faultserver.h"
#include "hfltesttools.h"
#include "httpfileloader/httpfileloader_p.h"
#include "nginxserver.h"
#include "testtools.h"

#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QtTest>

using ravix::HttpFileLoader;
using ravixtest::NginxServer;
using namespace hfltest;

namespace {

// Log records with their category, also those written in the loader's thread.
class CategoryCapture
{
public:
    CategoryCapture()
    {
        s_records.clear();
        s_previous = qInstallMessageHandler(handler);
    }
    ~CategoryCapture() { qInstallMessageHandler(s_previous); }
    // "category|type|text" of every record so far, oldest first.
    QStringList records() const
    {
        QMutexLocker lock(&s_mutex);
        return s_records;
    }
    QStringList records(const QString &category, QtMsgType type) const
    {
        QStringList result;
        const QString prefix = QStringLiteral("%1|%2|").arg(category).arg(int(type));
        for (const QString &record : records()) {
            if (record.startsWith(prefix))
                result << record.mid(prefix.size());
        }
        return result;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        QMutexLocker lock(&s_mutex);
        s_records << QStringLiteral("%1|%2|%3")
                         .arg(QLatin1String(context.category ? context.category : ""))
                         .arg(int(type))
                         .arg(msg);
    }
    static QMutex s_mutex;
    static QStringList s_records;
    static QtMessageHandler s_previous;
};
QMutex CategoryCapture::s_mutex;
QStringList CategoryCapture::s_records;
QtMessageHandler CategoryCapture::s_previous = nullptr;

using Answer = FaultServer::Answer;
using Request = FaultServer::Request;

// No answer at all: the connection stays open and silent.
Answer stalled()
{
    Answer a;
    a.stall = true;
    return a;
}

// The faults the loader meets with a patient retry.
Answer faultyAnswer(const QString &fault, const QByteArray &content, const Request &req)
{
    const QByteArray good = FaultServer::rangeAnswer(content, req).bytes;
    const int split = good.indexOf("\r\n\r\n") + 4;
    const QByteArray body = good.mid(split);
    QByteArray range;
    for (const QByteArray &line : good.left(split).split('\n')) {
        if (line.startsWith("Content-Range"))
            range = line.trimmed();
    }
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size());
    if (fault == "no Content-Length") {
        Answer a = FaultServer::raw("206 Partial Content", {range}, body);
        a.close = true;
        return a;
    }
    if (fault == "Content-Length not a number") {
        Answer a = FaultServer::raw("206 Partial Content", {"Content-Length: many", range}, body);
        a.close = true;
        return a;
    }
    if (fault == "Content-Length 0")
        return FaultServer::raw("206 Partial Content", {"Content-Length: 0", range});
    if (fault == "bad Content-Range")
        return FaultServer::raw("206 Partial Content", {length, "Content-Range: bytes 0-x/y"},
                                body);
    if (fault == "Content-Range beyond the partial file") {
        // The next block instead of the one asked for: written there, it would leave a hole.
        const int from = req.header("range").mid(6).split('-').value(0).toInt() + 1001;
        const QByteArray block = content.mid(from, 1001);
        return FaultServer::raw("206 Partial Content",
                                {"Content-Length: " + QByteArray::number(block.size()),
                                 "Content-Range: bytes " + QByteArray::number(from) + '-' +
                                     QByteArray::number(from + block.size() - 1) + '/' +
                                     QByteArray::number(content.size())},
                                block);
    }
    if (fault == "206 without Content-Range")
        return FaultServer::raw("206 Partial Content", {length}, body);
    if (fault == "dropped mid-body") {
        Answer a =
            FaultServer::raw("206 Partial Content", {length, range}, body.left(body.size() / 2));
        a.close = true;
        return a;
    }
    if (fault == "server error")
        return FaultServer::raw("500 Internal Server Error", {"Content-Length: 4"}, "oops");
    if (fault == "redirect")
        return FaultServer::raw("302 Found", {"Location: /elsewhere", "Content-Length: 5"},
                                "moved");
    qFatal("unknown fault");
    return Answer();
}

} // namespace

class TestHttpFileLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_docroot;
    std::unique_ptr<QTemporaryDir> m_tmp;
    QByteArray m_bigSha1;
    static constexpr int kBigSize = 50 * 1000 * 1000;
    static constexpr int kMiB = 1024 * 1024;

    // Downloads from our own server in blocks of 1000 and checks the outcome: the content
    // arrived whole under the target's name, or nothing arrived.
    void fetchAndCheck(FaultServer &server, const QByteArray &content, bool arrives, Receiver &r)
    {
        QVERIFY(server.start());
        fetch(server.url(), target(), 1000, r);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(r.names, QStringList{arrives ? target() : QString()});
        QCOMPARE(readFile(target()), arrives ? content : QByteArray());
    }
#define FETCH_AND_CHECK(server, content, arrives, r)                                               \
    fetchAndCheck(server, content, arrives, r);                                                    \
    if (QTest::currentTestFailed())                                                                \
        return;

    // The download target of the current test, in a folder of its own.
    QString target() const
    {
        return m_tmp->filePath("f.bin");
    }

    static void setTimings(int replyTimeoutMs)
    {
        ravix::HttpFileLoaderTimings t;
        t.replyTimeoutMs = replyTimeoutMs;
        t.retryDelayMs = 20;
        t.timeoutRetryDelayMs = 20;
        ravix::setHttpFileLoaderTimings(t);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_docroot.isValid());
        const QString big = m_docroot.path() + "/big.bin";
        QVERIFY(writeFile(big, randomBytes(kBigSize, 7)));
        m_bigSha1 = sha1Of(big);
    }

    void init()
    {
        setTimings(kWait);
        m_tmp.reset(new QTemporaryDir);
        QVERIFY(m_tmp->isValid());
    }

    void cleanup()
    {
        m_tmp.reset();
        HttpFileLoader::setTlsVerification(false);
        ravix::setHttpFileLoaderTimings(ravix::HttpFileLoaderTimings());
    }

    void defaultTimings()
    {
        ravix::setHttpFileLoaderTimings(ravix::HttpFileLoaderTimings());
        const ravix::HttpFileLoaderTimings t = ravix::httpFileLoaderTimings();
        QCOMPARE(t.replyTimeoutMs, 180000);
        QCOMPARE(t.retryDelayMs, 10000);
        QCOMPARE(t.timeoutRetryDelayMs, 2000);
        QVERIFY(!HttpFileLoader::tlsVerification());
    }

    void invalidArguments_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("blockSize");
        QTest::newRow("empty url") << ""
                                   << "f.bin" << 1000;
        QTest::newRow("empty file name") << "http://127.0.0.1:1/f.bin"
                                         << "" << 1000;
        QTest::newRow("zero block") << "http://127.0.0.1:1/f.bin"
                                    << "f.bin" << 0;
        QTest::newRow("negative block") << "http://127.0.0.1:1/f.bin"
                                        << "f.bin" << -5;
    }
    void invalidArguments()
    {
        QFETCH(QString, url);
        QFETCH(QString, file);
        QFETCH(int, blockSize);
        QTemporaryDir tmp;
        const QString target = file.isEmpty() ? QString() : tmp.filePath(file);
        CategoryCapture capture;
        QVERIFY(HttpFileLoader::download(url, target, blockSize).isNull());
        QVERIFY(!QFile::exists(tmp.filePath("f.bin.part")));
        QCOMPARE(capture.records("hfl", QtDebugMsg), QStringList{url});
        if (blockSize > 0) {
            QCOMPARE(capture.records("hfl", QtWarningMsg),
                     QStringList{QString("Invalid fileName or url: %1 - %2").arg(target, url)});
        }
    }

    // ---- a real server ----

    void largeFileArrivesIdentical()
    {
        NginxServer nginx;
        QVERIFY2(nginx.start(m_docroot.path()), qPrintable(nginx.errorString()));
        QTemporaryDir tmp;
        const QString target = tmp.filePath("sub/dir/big.bin");
        Receiver r;
        fetch(nginx.url("/big.bin"), target, kMiB, r);
        QCOMPARE(r.names, QStringList{target});
        QCOMPARE(sha1Of(target), m_bigSha1);
        QVERIFY(!QFile::exists(target + ".part"));
        QCOMPARE(r.progressFile, QString("big.bin"));
        QCOMPARE(r.progress.last(), 100);
        QVERIFY(std::is_sorted(r.progress.begin(), r.progress.end()));
        QVERIFY(r.progress.size() > 40);

        QTRY_COMPARE_WITH_TIMEOUT(nginx.accessLog().count("\" 206 "),
                                  (kBigSize + kMiB) / (kMiB + 1), kWait);
        QVERIFY(nginx.accessLog().contains(
            "\"GET /big.bin HTTP/1.1\" 206 1048577 \"bytes=0-1048576\" \"127.0.0.1\""));
    }

    // A process killed half way leaves its partial file; the next one resumes from its size.
    void resumeAfterKilledProcess()
    {
        NginxServer nginx;
        QVERIFY2(nginx.start(m_docroot.path()), qPrintable(nginx.errorString()));
        QTemporaryDir tmp;
        const QString target = tmp.filePath("big.bin");
        const QString url = nginx.url("/big.bin");
        const QString block = QString::number(kMiB);

        QProcess first;
        first.start(HFL_FETCH, {url, target, block, "--hold-at", "50"});
        QVERIFY(first.waitForStarted(kWait));
        QByteArray out;
        while (!out.contains('\n') && first.waitForReadyRead(kWait))
            out += first.readAllStandardOutput();
        QVERIFY2(out.startsWith("HOLD "), out.constData());
        first.kill();
        QVERIFY(first.waitForFinished(kWait));

        const qint64 partSize = QFileInfo(target + ".part").size();
        QVERIFY(partSize >= kBigSize / 2);
        QVERIFY(partSize < kBigSize);
        QCOMPARE(partSize % (kMiB + 1), 0); // whole blocks only
        QVERIFY(!QFile::exists(target));

        QProcess second;
        second.start(HFL_FETCH, {url, target, block});
        QVERIFY(second.waitForFinished(kWait));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(sha1Of(target), m_bigSha1);
        QVERIFY(!QFile::exists(target + ".part"));

        const QByteArray resumed = "\"bytes=" + QByteArray::number(partSize) + "-" +
                                   QByteArray::number(partSize + kMiB) + "\"";
        QTRY_VERIFY_WITH_TIMEOUT(nginx.accessLog().contains(resumed), kWait);
        QCOMPARE(nginx.accessLog().count("\"bytes=0-"), 1);
    }

    void https_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("trust");
        QTest::addColumn<bool>("arrives");
        QTest::newRow("certificate errors ignored") << false << false << true;
        QTest::newRow("verified, unknown certificate") << true << false << false;
        QTest::newRow("verified, trusted certificate") << true << true << true;
    }
    void https()
    {
        QFETCH(bool, verify);
        QFETCH(bool, trust);
        QFETCH(bool, arrives);
        QTemporaryDir certs, docroot, tmp;
        QString cert, key, error;
        QVERIFY2(NginxServer::makeSelfSignedCert(certs.path(), &cert, &key, &error),
                 qPrintable(error));
        const QByteArray content = randomBytes(300000, 3);
        QVERIFY(writeFile(docroot.filePath("f.bin"), content));
        NginxServer nginx;
        QVERIFY2(nginx.start(docroot.path(), cert, key), qPrintable(nginx.errorString()));

        const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        if (trust) {
            QSslConfiguration conf = saved;
            conf.addCaCertificates(QSslCertificate::fromPath(cert));
            QSslConfiguration::setDefaultConfiguration(conf);
        }
        HttpFileLoader::setTlsVerification(verify);
        const QString target = tmp.filePath("f.bin");
        Receiver r;
        fetch(nginx.url("/f.bin"), target, 64 * 1024, r);
        QSslConfiguration::setDefaultConfiguration(saved);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(r.names, QStringList{arrives ? target : QString()});
        QCOMPARE(readFile(target), arrives ? content : QByteArray());
    }

    // A partial file that does not fit the remote file any more is discarded.
    void partFileNotFittingRemote_data()
    {
        QTest::addColumn<int>("partSize");
        QTest::newRow("larger than the remote file") << 400000;
        QTest::newRow("as large as the remote file") << 300000;
    }
    void partFileNotFittingRemote()
    {
        QFETCH(int, partSize);
        QTemporaryDir docroot, tmp;
        const QByteArray content = randomBytes(300000, 5);
        QVERIFY(writeFile(docroot.filePath("f.bin"), content));
        NginxServer nginx;
        QVERIFY2(nginx.start(docroot.path()), qPrintable(nginx.errorString()));
        const QString target = tmp.filePath("f.bin");
        QVERIFY(writeFile(target + ".part", QByteArray(partSize, 'x')));
        Receiver r;
        fetch(nginx.url("/f.bin"), target, 100000, r);
        QCOMPARE(r.names, QStringList{target});
        QCOMPARE(readFile(target), content);
        QVERIFY(!QFile::exists(target + ".part"));
    }

    // Offsets are 64 bits wide: a partial file beyond 2 GiB resumes where it ends.
    void resumeBeyond2GiB()
    {
        const qint64 partSize = (qint64(1) << 31) + 3 * kMiB + 5;
        const qint64 size = partSize + 2 * kMiB + 500;
        FaultServer server;
        server.setHandler([&](const Request &req, int) {
            // Only the tail is served: a download that started over would take minutes.
            if (req.header("range").mid(6).split('-').value(0).toLongLong() < partSize)
                return FaultServer::raw("404 Not Found", {"Content-Length: 0"});
            return FaultServer::generatedRangeAnswer(size, req);
        });
        QFile part(target() + ".part");
        QVERIFY(part.open(QIODevice::WriteOnly));
        QVERIFY(part.resize(partSize)); // sparse: nothing is written
        part.close();
        QVERIFY(server.start());
        Receiver r;
        fetch(server.url(), target(), kMiB, r);
        QCOMPARE(r.names, QStringList{target()});
        QCOMPARE(server.requests.size(), 3);
        QCOMPARE(server.requests.first().header("range"), "bytes=" + QByteArray::number(partSize) +
                                                              '-' +
                                                              QByteArray::number(partSize + kMiB));
        QCOMPARE(QFileInfo(target()).size(), size);
        QFile result(target());
        QVERIFY(result.open(QIODevice::ReadOnly));
        QVERIFY(result.seek(partSize));
        QVERIFY(result.readAll() == FaultServer::generatedBytes(partSize, int(size - partSize)));
        QCOMPARE(r.progress, (QList<int>{99, 99, 100}));
    }

    // ---- our own server with faults ----

    void resumesFromPartFile()
    {
        const QByteArray content = randomBytes(8000, 11);
        FaultServer server(content);
        QVERIFY(writeFile(target() + ".part", content.left(5000)));
        QVERIFY(writeFile(target(), "old target"));
        Receiver r;
        FETCH_AND_CHECK(server, content, true, r);
        QVERIFY(!QFile::exists(target() + ".part"));
        QCOMPARE(server.requests.size(), 3);
        QCOMPARE(server.requests.at(0).header("range"), QByteArray("bytes=5000-6000"));
        QCOMPARE(server.requests.at(1).header("range"), QByteArray("bytes=6001-7001"));
        QCOMPARE(server.requests.at(0).header("referer"), QByteArray("127.0.0.1"));
        // Offsets count the file's bytes, so no compressed transfer.
        QCOMPARE(server.requests.at(0).header("accept-encoding"), QByteArray("identity"));
        QCOMPARE(r.progress, (QList<int>{75, 87, 100}));
        QCOMPARE(r.progressFile, QString("f.bin"));
    }

    void immediateFailure_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QList<QByteArray>>("headers");
        // The warning is the line's start; the URL follows it.
        QTest::addColumn<QString>("warning");
        QTest::newRow("404") << QByteArray("404 Not Found")
                             << QList<QByteArray>{"Content-Length: 0"} << QString();
        QTest::newRow("401") << QByteArray("401 Unauthorized")
                             << QList<QByteArray>{"WWW-Authenticate: Basic realm=\"updates\"",
                                                  "Content-Length: 0"}
                             << "AUTHENTICATION_REQUIRED!";
    }
    void immediateFailure()
    {
        QFETCH(QByteArray, status);
        QFETCH(QList<QByteArray>, headers);
        QFETCH(QString, warning);
        FaultServer server;
        server.setHandler([&](const Request &, int) { return FaultServer::raw(status, headers); });
        QVERIFY(writeFile(target() + ".part", "12345"));
        Receiver r;
        CategoryCapture capture;
        FETCH_AND_CHECK(server, QByteArray(), false, r);
        const QStringList warnings = capture.records("hfl", QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().endsWith(" " + server.url()), qPrintable(warnings.first()));
        if (!warning.isEmpty())
            QCOMPARE(warnings.first(), warning + " " + server.url());
        QVERIFY(capture.records("hfl", QtDebugMsg)
                    .contains("Attempt #1. Offcet = 5. BlockSize = 1000. URL = " + server.url()));
        if (warning.isEmpty())
            QVERIFY(capture.records("hfl", QtDebugMsg).contains("BLOCK FINISHED " + server.url()));
        QCOMPARE(server.requests.size(), 1);
        QVERIFY(!server.requests.at(0).headers.contains("authorization"));
        QCOMPARE(readFile(target() + ".part"), QByteArray("12345"));
    }

    // A server that ignores ranges sends the whole file in one answer: take it all, once.
    void serverIgnoresRanges_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("partSize");
        QTest::newRow("smaller than a block") << 500 << 0;
        QTest::newRow("more than ten blocks") << 25000 << 0;
        QTest::newRow("resumed, more than ten blocks") << 25000 << 3000;
        QTest::newRow("stale partial file larger") << 25000 << 30000;
    }
    void serverIgnoresRanges()
    {
        QFETCH(int, size);
        QFETCH(int, partSize);
        const QByteArray content = randomBytes(size, 13);
        FaultServer server;
        server.setHandler([&](const Request &, int) {
            return FaultServer::raw("200 OK", {"Content-Length: " + QByteArray::number(size)},
                                    content);
        });
        if (partSize)
            QVERIFY(writeFile(target() + ".part", QByteArray(partSize, 'x')));
        Receiver r;
        FETCH_AND_CHECK(server, content, true, r);
        QCOMPARE(server.requests.size(), 1);
    }

    // Faulty answers are repeated; five failed attempts of one block end the download.
    // Answers that end by closing the connection may be repeated by the network layer on its
    // own, so only the outcome counts for them, not the number of requests.
    void retriedFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("faulty");
        QTest::addColumn<bool>("arrives");
        QTest::addColumn<bool>("exactCount");
        const char *closing[] = {"no Content-Length", "Content-Length not a number",
                                 "dropped mid-body"};
        for (const char *f : closing)
            QTest::newRow(f) << QString(f) << 1 << true << false;
        const char *kept[] = {
            "Content-Length 0", "bad Content-Range", "206 without Content-Range",
            "server error",     "redirect",          "Content-Range beyond the partial file"};
        for (const char *f : kept)
            QTest::newRow(f) << QString(f) << 1 << true << true;
        QTest::newRow("four failures, then success") << "server error" << 4 << true << true;
        QTest::newRow("five failures") << "server error" << 5 << false << true;
        QTest::newRow("five bad headers") << "bad Content-Range" << 5 << false << true;
        QTest::newRow("dropped four times") << "dropped mid-body" << 4 << true << false;
    }
    void retriedFaults()
    {
        QFETCH(QString, fault);
        QFETCH(int, faulty);
        QFETCH(bool, arrives);
        QFETCH(bool, exactCount);
        const QByteArray content = randomBytes(2500, 17);
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            return index < faulty ? faultyAnswer(fault, content, req)
                                  : FaultServer::rangeAnswer(content, req);
        });
        Receiver r;
        FETCH_AND_CHECK(server, content, arrives, r);
        if (!exactCount)
            return;
        // Blocks 0-1000, 1001-2001, 2002-2499 after the faulty answers; five attempts at most.
        QCOMPARE(server.requests.size(), arrives ? faulty + 3 : 5);
        for (const Request &req : qAsConst(server.requests).mid(0, qMin(faulty, 5)))
            QCOMPARE(req.header("range"), QByteArray("bytes=0-1000"));
    }

    // A block that brings data resets the count: four failures before every block are fine.
    void attemptCountPerBlock()
    {
        const QByteArray content = randomBytes(2500, 19);
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            return index % 5 < 4 ? faultyAnswer("server error", content, req)
                                 : FaultServer::rangeAnswer(content, req);
        });
        Receiver r;
        FETCH_AND_CHECK(server, content, true, r);
        QCOMPARE(server.requests.size(), 15);
    }

    // A reply that never comes times out; the block is asked again on a new connection.
    void stalledReply_data()
    {
        QTest::addColumn<int>("stalls");
        QTest::addColumn<bool>("arrives");
        // A request that should succeed gets plenty of time even on a loaded machine; when
        // every request stalls, a short timeout changes nothing but the test's run time.
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("one stall") << 1 << true << 5000;
        QTest::newRow("five stalls") << 5 << false << 1000;
    }
    void stalledReply()
    {
        QFETCH(int, stalls);
        QFETCH(bool, arrives);
        QFETCH(int, timeoutMs);
        setTimings(timeoutMs);
        const QByteArray content = randomBytes(1500, 23);
        FaultServer server;
        server.setHandler([&](const Request &req, int index) {
            Answer a = FaultServer::rangeAnswer(content, req);
            if (index < stalls)
                a = stalled();
            return a;
        });
        Receiver r;
        CategoryCapture capture;
        FETCH_AND_CHECK(server, content, arrives, r);
        QCOMPARE(server.requests.size(), arrives ? stalls + 2 : 5);
        QStringList timeouts;
        for (int i = 0; i < stalls; ++i)
            timeouts << "DOWNLOAD TIMEOUT";
        QCOMPARE(capture.records("hfl", QtWarningMsg), timeouts);
        // Each timed-out request was dropped with its access manager.
        QTRY_COMPARE_WITH_TIMEOUT(server.stalledClosed, qMin(stalls, 5), kWait);
    }

    // After a timeout the new access manager still accepts a self-signed certificate; with
    // verification on, the unknown certificate ends the download at the first connection.
    void tlsFaults_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("arrives");
        QTest::newRow("timeout, certificate errors ignored") << false << true;
        QTest::newRow("verified, unknown certificate") << true << false;
    }
    void tlsFaults()
    {
        QFETCH(bool, verify);
        QFETCH(bool, arrives);
        QTemporaryDir certs;
        QString certPath, keyPath, error;
        QVERIFY2(NginxServer::makeSelfSignedCert(certs.path(), &certPath, &keyPath, &error),
                 qPrintable(error));
        const QList<QSslCertificate> cert = QSslCertificate::fromPath(certPath);
        QCOMPARE(cert.size(), 1);
        const QSslKey key(readFile(keyPath), QSsl::Rsa);
        QVERIFY(!key.isNull());
        setTimings(5000);
        HttpFileLoader::setTlsVerification(verify);
        const QByteArray content = randomBytes(1500, 29);
        FaultServer server;
        server.setTls(cert.first(), key);
        server.setHandler([&](const Request &req, int index) {
            return index == 0 ? stalled() : FaultServer::rangeAnswer(content, req);
        });
        Receiver r;
        FETCH_AND_CHECK(server, content, arrives, r);
        QCOMPARE(server.requests.size(), arrives ? 3 : 0);
        QCOMPARE(server.connections, arrives ? 2 : 1);
    }

    // The target cannot be written (a folder is in the way): failure, the partial file stays.
    void copyFailureKeepsPartFile()
    {
        const QByteArray content = randomBytes(1500, 31);
        FaultServer server(content);
        QVERIFY(QDir().mkpath(target() + "/inside"));
        Receiver r;
        FETCH_AND_CHECK(server, content, false, r);
        QCOMPARE(readFile(target() + ".part"), content);
    }

    // The loader used on its own, as a worker: finished() joins finished(QString) whenever
    // nothing arrived.
    void loaderSignals_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("arrives");
        QTest::newRow("success") << QByteArray() << true;
        QTest::newRow("404") << QByteArray("404 Not Found") << false;
        QTest::newRow("five failures") << QByteArray("500 Internal Server Error") << false;
    }
    void loaderSignals()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, arrives);
        const QByteArray content = randomBytes(1500, 41);
        FaultServer server(content);
        if (!status.isEmpty())
            server.setHandler([&](const Request &, int) {
                return FaultServer::raw(status, {"Content-Length: 0"});
            });
        QVERIFY(server.start());
        Receiver r;
        auto *loader = new HttpFileLoader(server.url(), target(), 1000, nullptr, nullptr, nullptr);
        connect(loader, SIGNAL(finished()), &r, SLOT(onPlainFinished()));
        connect(loader, SIGNAL(finished(QString)), &r, SLOT(onFinished(QString)));
        QPointer<QThread> thread = new ravix::AbstractWorkerThread(loader);
        QCOMPARE(thread->objectName(), QString("AWTravix::HttpFileLoader"));
        connect(loader, SIGNAL(finished(QString)), thread, SLOT(quit()), Qt::QueuedConnection);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        QSignalSpy done(&r, &Receiver::done);
        CategoryCapture capture;
        thread->start();
        QVERIFY(done.wait(kWait));
        QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), kWait);
        QCOMPARE(r.names, QStringList{arrives ? target() : QString()});
        if (status.startsWith("500")) {
            // The URL and each header on a line of their own, 15 spaces in.
            const QStringList warnings = capture.records("hfl", QtWarningMsg);
            QCOMPARE(warnings.size(), 5);
            const QRegularExpression layout(
                "^InternalServerError [^\\n]*\\n {15}" + QRegularExpression::escape(server.url()) +
                " ?\\n {15}Content-Length: 0( ?\\n {15}[^ \\n][^\\n]*)*$");
            for (const QString &w : warnings)
                QVERIFY2(layout.match(w).hasMatch(), qPrintable(w));
        }
        QCOMPARE(r.plainFinished, arrives ? 0 : 1);
        QCOMPARE(readFile(target()), arrives ? content : QByteArray());
    }

    // The receiver may go away before the download ends.
    void receiverDestroyedEarly()
    {
        const QByteArray content = randomBytes(3000, 37);
        FaultServer server(content);
        QVERIFY(server.start());
        auto *r = new Receiver;
        QPointer<QThread> thread =
            HttpFileLoader::download(server.url(), target(), r, SLOT(onFinished(QString)),
                                     SLOT(onProgress(QString, int)), 1000);
        QVERIFY(thread);
        delete r;
        QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), kWait);
        QCOMPARE(readFile(target()), content);
        QVERIFY(!QFile::exists(target() + ".part"));
    }
};

QTEST_GUILESS_MAIN(TestHttpFileLoader)
#include "tst_httpfileloader.moc"
