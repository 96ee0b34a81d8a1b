// SPDX-License-Identifier: MIT
// The private nginx the download tests rely on: it serves a folder over HTTP and HTTPS,
// honours ranges, logs what was asked and leaves nothing running behind it.
#include "nginxserver.h"
#include "testtools.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using ravixtest::NginxServer;

class TestNginxServer : public QObject
{
    Q_OBJECT
private slots:
    void servesRanges_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("http") << false;
        QTest::newRow("https") << true;
    }
    void servesRanges()
    {
        QFETCH(bool, tls);
        RAVIX_REQUIRE_TOOL(curl, "curl");
        QTemporaryDir docroot, certs;
        QFile f(docroot.path() + "/data.bin");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0123456789abcdefghij");
        f.close();

        QString cert, key, error;
        if (tls)
            QVERIFY2(NginxServer::makeSelfSignedCert(certs.path(), &cert, &key, &error),
                     qPrintable(error));
        {
            NginxServer nginx;
            QVERIFY2(nginx.start(docroot.path(), cert, key), qPrintable(nginx.errorString()));
            QVERIFY(nginx.isRunning());
            QCOMPARE(nginx.url("/x").startsWith(tls ? "https://127.0.0.1:" : "http://127.0.0.1:"),
                     true);
            QByteArray out;
            QCOMPARE(
                ravixtest::runTool(curl, {"-sS", "-k", "-r", "5-9", nginx.url("/data.bin")}, &out),
                0);
            QCOMPARE(out, QByteArray("56789"));
            // nginx writes the access line after the response has gone out.
            QTRY_VERIFY_WITH_TIMEOUT(nginx.accessLog().contains("206 5 \"bytes=5-9\""), 60000);
        }
    }

    void stopsInDestructor()
    {
        QTemporaryDir docroot;
        quint16 port = 0;
        {
            NginxServer nginx;
            QVERIFY2(nginx.start(docroot.path()), qPrintable(nginx.errorString()));
            port = nginx.port();
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!probe.waitForConnected(2000));
    }

    void missingDocroot()
    {
        NginxServer nginx;
        QVERIFY(!nginx.start("/nonexistent/docroot"));
        QVERIFY(!nginx.errorString().isEmpty());
        QVERIFY(!nginx.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestNginxServer)
#include "tst_nginxserver.moc"
