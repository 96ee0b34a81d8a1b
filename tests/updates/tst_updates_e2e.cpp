// SPDX-License-Identifier: MIT
// The update pipeline against a real HTTP server: store a description, list what is missing,
// fetch it with the downloader and check it on disk.
#include <ravixcore/httpfileloader/httpfileloader.h>
#include <ravixcore/updates/updateshelper.h>

#include "nginxserver.h"
#include "testtools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace ravix;

class Receiver : public QObject
{
    Q_OBJECT
public slots:
    void onFinished(QString fileName) { emit done(fileName); }
signals:
    void done(QString fileName);
};

class TestUpdatesEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void fetchAndVerify()
    {
        QTemporaryDir tmp;
        const QString site = tmp.path() + "/site";
        QVERIFY(QDir().mkpath(site));
        QJsonArray packages;
        QRandomGenerator rng(42);
        for (int i = 0; i < 3; ++i) {
            QByteArray data(200000 + i * 12345, Qt::Uninitialized);
            for (char &c : data)
                c = char(rng.bounded(256));
            const QString name = QStringLiteral("pkg%1.bin").arg(i);
            QFile f(site + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
            f.close();
            packages.append(QJsonObject{
                {"fileUrl", "PLACEHOLDER/" + name},
                {"sha1", QString::fromLatin1(
                             QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex())},
                {"fileSize", data.size()},
                {"build", "2026-12-01T00:00:00"},
                {"name", name}});
        }

        ravixtest::NginxServer nginx;
        QVERIFY2(nginx.start(site), qPrintable(nginx.errorString()));
        for (int i = 0; i < packages.size(); ++i) {
            QJsonObject p = packages.at(i).toObject();
            p.insert("fileUrl", nginx.url("/" + p.value("name").toString()));
            packages[i] = p;
        }
        const QByteArray document =
            QJsonDocument(
                QJsonObject{{"Q_OS_WIN32", QJsonArray{QJsonObject{{"version", "2.0.0"},
                                                                  {"description", "demo"},
                                                                  {"packages", packages}}}}})
                .toJson();

        const QString versions = tmp.path() + "/versions";
        QVERIFY(QDir().mkpath(versions));
        QFile ver(versions + "/agent.ver");
        QVERIFY(ver.open(QIODevice::WriteOnly));
        ver.write(R"({"agent": {"ver": "1.0.0", "build": "2026-01-01T00:00:00"}})");
        ver.close();

        const UpdatePkgConfig store(tmp.path() + "/store");
        UpdatesHelper helper(store, versions, "agent");
        QVERIFY(helper.saveUpdateInfo(document));
        QVERIFY(!helper.updatesAreLoaded("2.0.0"));

        QList<QPair<QString, int>> missing;
        QVERIFY(helper.getDownloadedsList("2.0.0", missing, 0));
        QCOMPARE(missing.size(), 3);

        UpdateInfo info;
        QVERIFY(helper.loadUpdateInfo("2.0.0", info));
        Receiver receiver;
        QSignalSpy spy(&receiver, &Receiver::done);
        for (const UpdatePackageInfo &pkg : info.packages()) {
            QVERIFY(!HttpFileLoader::download(pkg.fileUrl(), pkg.fileName(), &receiver,
                                              SLOT(onFinished(QString)), 65536)
                         .isNull());
        }
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 120000);
        QStringList got;
        for (const QList<QVariant> &args : qAsConst(spy))
            got << args.first().toString();
        got.sort();
        QStringList expected;
        for (const UpdatePackageInfo &pkg : info.packages())
            expected << pkg.fileName();
        QCOMPARE(got, expected);
        // The installer runs these later: no other account may change them.
        for (const QString &file : qAsConst(expected))
            QVERIFY2(!ravixtest::othersMayWrite(file), qPrintable(file));

        QVERIFY(helper.updatesAreLoaded("2.0.0"));
        QVERIFY(helper.getDownloadedsList("2.0.0", missing, 0));
        QVERIFY(missing.isEmpty());

        // A corrupted package is wanted again.
        QFile bad(info.packages().at(1).fileName());
        QVERIFY(bad.open(QIODevice::ReadWrite));
        bad.seek(1000);
        bad.write("X");
        bad.close();
        QVERIFY(!helper.updatesAreLoaded("2.0.0"));
        QVERIFY(helper.getDownloadedsList("2.0.0", missing, 0));
        QCOMPARE(missing.size(), 1);
        QCOMPARE(missing.first().first, info.packages().at(1).fileUrl());

        QVERIFY(helper.saveUpdatePlan("2.0.0", "install.cmd"));
        QString planVersion, command;
        QVERIFY(helper.loadUpdatePlan(planVersion, command));
        QCOMPARE(planVersion, QStringLiteral("2.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestUpdatesEndToEnd)
#include "tst_updates_e2e.moc"
