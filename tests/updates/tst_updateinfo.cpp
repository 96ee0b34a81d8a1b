// SPDX-License-Identifier: MIT
#include <ravixcore/updates/updateinfo.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace ravix;

namespace {

const char *kSha = "0123456789ABCDEF0123456789abcdef01234567";

QJsonObject package(const QJsonObject &overrides = {})
{
    QJsonObject p{{"version", "1.2.0"},
                  {"build", "2021-05-01T10:00:00"},
                  {"fileUrl", "http://h/files/app.zip"},
                  {"sha1", kSha},
                  {"fileSize", 100},
                  {"name", "app"}};
    for (auto it = overrides.begin(); it != overrides.end(); ++it) {
        if (it.value() == QJsonValue(QStringLiteral("<remove>")))
            p.remove(it.key());
        else
            p.insert(it.key(), it.value());
    }
    return p;
}

} // namespace

class TestUpdateInfo : public QObject
{
    Q_OBJECT
private slots:
    void storePaths()
    {
        const UpdatePkgConfig cfg("C:/upd");
        QCOMPARE(cfg.updatesPath(), QStringLiteral("C:/upd"));
        QCOMPARE(cfg.updatesPath("1.2.0"), QStringLiteral("C:/upd/1.2.0"));
        QCOMPARE(cfg.updatesInfoPath("1.2.0"), QStringLiteral("C:/upd/1.2.0/info.json"));
    }

    void packageFields_data()
    {
        QTest::addColumn<QJsonObject>("overrides");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("valid");
        const QJsonValue removed(QStringLiteral("<remove>"));
        QTest::newRow("complete") << QJsonObject() << "1.2.0" << 100 << "/s/1.2.0-rc/app.zip"
                                  << true;
        QTest::newRow("no version") << QJsonObject{{"version", removed}} << "1.2.0-rc" << 100
                                    << "/s/1.2.0-rc/app.zip" << false; // 1.2.0-rc is no version
        QTest::newRow("size 0") << QJsonObject{{"fileSize", 0}} << "1.2.0" << 0
                                << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("size missing")
            << QJsonObject{{"fileSize", removed}} << "1.2.0" << 0 << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("size text")
            << QJsonObject{{"fileSize", "100"}} << "1.2.0" << 0 << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("size fraction")
            << QJsonObject{{"fileSize", 10.5}} << "1.2.0" << 0 << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("no sha1") << QJsonObject{{"sha1", removed}} << "1.2.0" << 100
                                 << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("no url") << QJsonObject{{"fileUrl", removed}} << "1.2.0" << 100
                                << "/s/1.2.0-rc/" << false;
        QTest::newRow("bad build") << QJsonObject{{"build", "yesterday"}} << "1.2.0" << 100
                                   << "/s/1.2.0-rc/app.zip" << false;
        QTest::newRow("encoded url")
            << QJsonObject{{"fileUrl", "http://h/files/app%20setup.zip?x=1"}} << "1.2.0" << 100
            << "/s/1.2.0-rc/app setup.zip" << true;
        // A file name taken from the URL must never lead out of the update's folder.
        QTest::newRow("encoded slash") << QJsonObject{{"fileUrl", "http://h/a/..%2F..%2Fevil"}}
                                       << "1.2.0" << 100 << "/s/1.2.0-rc/evil" << true;
        QTest::newRow("encoded backslash") << QJsonObject{{"fileUrl", "http://h/a/x%5C..%5Cevil"}}
                                           << "1.2.0" << 100 << "/s/1.2.0-rc/x\\..\\evil" << false;
        QTest::newRow("dot dot") << QJsonObject{{"fileUrl", "http://h/a/%2E%2E"}} << "1.2.0" << 100
                                 << "/s/1.2.0-rc/.." << false;
        QTest::newRow("two dots inside a name")
            << QJsonObject{{"fileUrl", "http://h/a/setup..zip"}} << "1.2.0" << 100
            << "/s/1.2.0-rc/setup..zip" << true;
        QTest::newRow("directory url")
            << QJsonObject{{"fileUrl", "http://h/a/"}} << "1.2.0" << 100 << "/s/1.2.0-rc/" << false;
    }
    void packageFields()
    {
        QFETCH(QJsonObject, overrides);
        QFETCH(QString, version);
        QFETCH(int, fileSize);
        QFETCH(QString, fileName);
        QFETCH(bool, valid);
        const UpdatePackageInfo pkg(package(overrides), "1.2.0-rc", UpdatePkgConfig("/s"));
        QCOMPARE(pkg.version(), version);
        QCOMPARE(pkg.fileSize(), fileSize);
        QCOMPARE(pkg.fileName(), fileName);
        QCOMPARE(pkg.isValid(), valid);
    }

    void packageWrittenForm()
    {
        const UpdatePackageInfo pkg(package(), "1.2.0", UpdatePkgConfig("/s"));
        QCOMPARE(pkg.sha1().size(), 20);
        const QJsonObject obj = pkg.toObject();
        QCOMPARE(obj.value("sha1").toString(), QString(kSha).toLower());
        QCOMPARE(obj.value("fileSize").toInt(), 100);
        QCOMPARE(obj.value("build").toString(), QStringLiteral("2021-05-01T10:00:00"));
        QVERIFY(!obj.contains("version"));
        QCOMPARE(QJsonObject::fromVariantMap(pkg.toMap()), obj);
        QCOMPARE(UpdatePackageInfo().toObject().value("sha1").toString(), QString());
        // Non-hex characters are skipped when the digest is read.
        const UpdatePackageInfo spaced(package({{"sha1", "01 23 zz 45"}}), "1.2.0",
                                       UpdatePkgConfig("/s"));
        QCOMPARE(spaced.sha1(), QByteArray::fromHex("012345"));
    }

    void updateFromDocument()
    {
        const QJsonObject obj{{"version", "1.2.0-RC"},
                              {"description", "d"},
                              {"changelog", "http://h/log"},
                              {"packages", QJsonArray{package({{"version", "<remove>"}}),
                                                      package({{"name", "second"}})}}};
        const UpdatePkgConfig cfg("/s");
        const UpdateInfo info(obj, cfg);
        QCOMPARE(info.version(), QStringLiteral("1.2.0-rc"));
        QCOMPARE(info.changeLogUrl(), QStringLiteral("http://h/log"));
        QCOMPARE(info.packages().size(), 2);
        QCOMPARE(info.packages().at(0).version(), QStringLiteral("1.2.0-rc"));
        QCOMPARE(info.packages().at(0).fileName(), QStringLiteral("/s/1.2.0-rc/app.zip"));
        QCOMPARE(cfg.updatesPath(info.version()), QStringLiteral("/s/1.2.0-rc"));
        // The first package's version "1.2.0-rc" is no valid version, so the update is not.
        QVERIFY(!info.isValid());

        const QJsonObject written = info.toObject();
        QCOMPARE(written.value("changeLogUrl").toString(), QStringLiteral("http://h/log"));
        QVERIFY(!written.contains("changelog"));
        QCOMPARE(QJsonObject::fromVariantMap(info.toMap()), written);
        // Read back, the link is lost (written and read under different keys) and every
        // package takes the update's version.
        const UpdateInfo again(written, cfg);
        QCOMPARE(again.changeLogUrl(), QString());
        QCOMPARE(again.packages().at(1).version(), QStringLiteral("1.2.0-rc"));
    }

    void updateValidity_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QJsonArray>("packages");
        QTest::addColumn<bool>("valid");
        QTest::newRow("good") << "1.2.0" << QJsonArray{package(), package()} << true;
        QTest::newRow("no packages") << "1.2.0" << QJsonArray{} << false;
        QTest::newRow("empty version") << "" << QJsonArray{package()} << false;
        QTest::newRow("one invalid")
            << "1.2.0" << QJsonArray{package(), package({{"fileSize", 0}})} << false;
        QTest::newRow("version with slash") << "1.2/../../x" << QJsonArray{package()} << false;
        QTest::newRow("version with backslash") << "1.2\\x" << QJsonArray{package()} << false;
        QTest::newRow("version dot dot") << ".." << QJsonArray{package()} << false;
    }
    void updateValidity()
    {
        QFETCH(QString, version);
        QFETCH(QJsonArray, packages);
        QFETCH(bool, valid);
        const UpdateInfo info(QJsonObject{{"version", version}, {"packages", packages}},
                              UpdatePkgConfig("/s"));
        QCOMPARE(info.isValid(), valid);
    }

    void valueSemantics()
    {
        const UpdateInfo a(QJsonObject{{"version", "1.0.0"}, {"packages", QJsonArray{package()}}},
                           UpdatePkgConfig("/s"));
        UpdateInfo b = a;
        QVERIFY(a == b);
        b.setDescription("other");
        QVERIFY(a != b);
        UpdateInfo c(std::move(b));
        QCOMPARE(c.description(), QStringLiteral("other"));
        QList<UpdatePackageInfo> pkgs = a.packages();
        pkgs.append(pkgs.first());
        c.setPackages(pkgs);
        QCOMPARE(c.packages().size(), 2);
        QVERIFY(UpdatePkgConfig("/a") != UpdatePkgConfig("/b"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateInfo)
#include "tst_updateinfo.moc"
