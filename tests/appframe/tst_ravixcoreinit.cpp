// SPDX-License-Identifier: MIT
#include <ravixcore/appframe/ravixcoreinit.h>
#include <ravixcore/ravixcore_version.h>
#include <ravixcore/version/appversionmanager.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using ravix::AppVersion;
using ravix::AppVersionManager;
using ravix::RavixCoreInit;

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Stamp : public RavixCoreInit
{
public:
    using RavixCoreInit::buildStamp;
};

} // namespace

class TestRavixCoreInit : public QObject
{
    Q_OBJECT
private slots:
    // The static initialiser has run before main: the library's version and catalogue are
    // in the registry.
    void registeredAtLoad()
    {
        const AppVersion v = RavixCoreInit::version();
        QCOMPARE(v.version(), QStringLiteral("1.3.1"));
        // One source: the generated version header that hosts see too.
        QCOMPARE(v.version(), QStringLiteral(RAVIXCORE_VERSION_STRING));
        QCOMPARE(RAVIXCORE_VERSION, RAVIXCORE_VERSION_CHECK(1, 3, 1));
        QVERIFY2(v.isValid(), qPrintable(v.build()));
        // The stamp comes from the compiler's date and time of this build.
        QVERIFY(v.buildDt().date().year() >= 2021);
        QVERIFY(v.buildDt() <= QDateTime::currentDateTime().addDays(1));
        QCOMPARE(v.build(), v.buildDt().toString(Qt::ISODate));

        const QMap<QString, AppVersion> all = AppVersionManager::getVersions();
        QVERIFY(all.contains(QStringLiteral("ravixcore")));
        QVERIFY(all.value(QStringLiteral("ravixcore")) == v);
        QVERIFY(AppVersionManager::localisations().contains(QStringLiteral("ravixcore")));
    }

    void buildStamp_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("two-digit day") << "Dec 16 2021"
                                       << "16:24:45"
                                       << "2021-12-16T16:24:45";
        QTest::newRow("one-digit day") << "Mar  6 2024"
                                       << "09:05:01"
                                       << "2024-03-06T09:05:01";
        QTest::newRow("midnight") << "Jan  1 2000"
                                  << "00:00:00"
                                  << "2000-01-01T00:00:00";
        QTest::newRow("bad month") << "Foo 16 2021"
                                   << "16:24:45"
                                   << "";
        QTest::newRow("bad time") << "Dec 16 2021"
                                  << "25:00:00"
                                  << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void buildStamp()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, stamp);
        QCOMPARE(Stamp::buildStamp(date, time), stamp);
    }

    // Another initialiser keeps the first version and only registers the catalogue again.
    void laterInitialiserKeepsVersion()
    {
        const AppVersion first = RavixCoreInit::version();
        const AppVersion other(QStringLiteral("9.9.9"), QStringLiteral("2030-01-01T00:00:00"));
        AppVersionManager::addVersion(QStringLiteral("ravixcore"), other);
        {
            RavixCoreInit again;
        }
        QVERIFY(RavixCoreInit::version() == first);
        QVERIFY(AppVersionManager::getVersions().value(QStringLiteral("ravixcore")) == other);
        AppVersionManager::addVersion(QStringLiteral("ravixcore"), first);
    }

    void installCopiesCatalogues()
    {
        QTemporaryDir src;
        QTemporaryDir dst;
        QVERIFY(writeFile(src.filePath("ravixcore_ru.qm"), "russian"));
        QVERIFY(writeFile(src.filePath("ravixcore_de.qm"), "german"));
        QVERIFY(writeFile(src.filePath("other_ru.qm"), "not ours"));
        QVERIFY(writeFile(src.filePath("ravixcore_ru.ts"), "source"));

        const QString target = dst.path() + "/deep/translations";
        QVERIFY(RavixCoreInit::installCatalogues(target, src.path()));
        QCOMPARE(QDir(target).entryList(QDir::Files, QDir::Name),
                 QStringList({"ravixcore_de.qm", "ravixcore_ru.qm"}));
        QCOMPARE(readFile(target + "/ravixcore_ru.qm"), QByteArray("russian"));

        // A newer library replaces the copies; the host's own catalogues stay.
        QVERIFY(writeFile(target + "/host_ru.qm", "host"));
        QVERIFY(writeFile(src.filePath("ravixcore_ru.qm"), "newer"));
        QVERIFY(RavixCoreInit::installCatalogues(target, src.path()));
        QCOMPARE(readFile(target + "/ravixcore_ru.qm"), QByteArray("newer"));
        QCOMPARE(readFile(target + "/host_ru.qm"), QByteArray("host"));
    }

    void installWithoutCataloguesFails()
    {
        QTemporaryDir src;
        QTemporaryDir dst;
        QVERIFY(!RavixCoreInit::installCatalogues(dst.path() + "/t", src.path()));
        QVERIFY(!QFileInfo::exists(dst.path() + "/t"));
        QVERIFY(!RavixCoreInit::installCatalogues(dst.path() + "/t", src.path() + "/absent"));
        QVERIFY(writeFile(src.filePath("ravixcore_ru.qm"), "x"));
        QVERIFY(!RavixCoreInit::installCatalogues(QString(), src.path()));
    }

    // The catalogues built with the library can be installed as they are.
    void installBuiltCatalogues()
    {
        const QString qmDir = qEnvironmentVariable("RAVIX_QM_DIR");
        QVERIFY2(!qmDir.isEmpty(), "RAVIX_QM_DIR is not set");
        QVERIFY2(QFileInfo::exists(qmDir + "/ravixcore_ru.qm"), qPrintable(qmDir));
        QTemporaryDir dst;
        QVERIFY(RavixCoreInit::installCatalogues(dst.path(), qmDir));
        QCOMPARE(readFile(dst.filePath("ravixcore_ru.qm")), readFile(qmDir + "/ravixcore_ru.qm"));
    }

    // Run from the build tree the library is not where it will be installed: the build-time
    // install location is the answer (the packaging tests cover a moved installation).
    void cataloguesDirIsTheInstallLocation()
    {
        QVERIFY(RavixCoreInit::cataloguesDir().endsWith(QStringLiteral("/ravixcore/translations")));
        QVERIFY(QDir::isAbsolutePath(RavixCoreInit::cataloguesDir()));
    }
};

QTEST_GUILESS_MAIN(TestRavixCoreInit)
#include "tst_ravixcoreinit.moc"
