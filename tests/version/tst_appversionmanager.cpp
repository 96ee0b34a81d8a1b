// SPDX-License-Identifier: MIT
#include <ravixcore/version/appversionmanager.h>

#include "testtools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <ravixcore/appframe/platformconventions.h>

#include <QtTest>

using ravix::AppVersion;
using ravix::AppVersionManager;

namespace {

// Lets the tests start from an empty process-wide registry.
class Registry : public AppVersionManager
{
public:
    static void clear()
    {
        QMutexLocker lock(&_mutex);
        _manager.reset();
    }
};

// JSON written with single quotes for readability.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestAppVersionManager : public QObject
{
    Q_OBJECT
private slots:
    void init() { Registry::clear(); }
    void cleanupTestCase() { Registry::clear(); }

    void sameNameTwiceKeepsSecond()
    {
        const AppVersion first(QStringLiteral("1.0.0"), QStringLiteral("2020-01-01T00:00:00"));
        const AppVersion second(QStringLiteral("0.9.0rc1"), QStringLiteral("2019-01-01T00:00:00"));
        QVERIFY(AppVersionManager::addVersion(QStringLiteral("core"), first) == first);
        QVERIFY(AppVersionManager::addVersion(QStringLiteral("core"), second) == second);
        AppVersionManager::addVersion(QStringLiteral("agent"), first);

        const QMap<QString, AppVersion> all = AppVersionManager::getVersions();
        QCOMPARE(all.keys(), QStringList({"agent", "core"}));
        QVERIFY(all.value(QStringLiteral("core")) == second);
        QCOMPARE(AppVersionManager::manager()->versions().size(), 2);
    }

    void emptyRegistryIsEmpty()
    {
        QVERIFY(AppVersionManager::getVersions().isEmpty());
        QVERIFY(AppVersionManager::localisations().isEmpty());
    }

    void localisationsAreASet()
    {
        AppVersionManager::addLocalisation(QStringLiteral("ravixcore"));
        AppVersionManager::addLocalisations({"host", "ravixcore", "plugin"});
        AppVersionManager::addLocalisation(QStringLiteral("host"));
        QStringList names = AppVersionManager::localisations();
        names.sort();
        QCOMPARE(names, QStringList({"host", "plugin", "ravixcore"}));
        // Catalogues are independent of versions.
        QVERIFY(AppVersionManager::getVersions().isEmpty());
    }

    void saveAndLoadRoundTrip()
    {
        QTemporaryDir tmp;
        const QMap<QString, AppVersion> registered{
            {"core", AppVersion("2.4.0", "2020-05-01T12:00:00")},
            {"agent", AppVersion("1.0.0rc2", "2021-07-03T08:09:10")},
            {"updater", AppVersion("0.0.1b", "2019-12-31T23:59:59")},
        };
        for (auto it = registered.cbegin(); it != registered.cend(); ++it)
            AppVersionManager::addVersion(it.key(), it.value());
        AppVersionManager::addLocalisation(QStringLiteral("host"));

        AppVersionManager::saveCurrentVersions(tmp.path(), QStringLiteral("host"));
        const QString path = tmp.path() + "/host.ver";
        QVERIFY(QFileInfo::exists(path));

        // The stored shape: one member per component with two strings.
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(readFile(path), &err);
        QCOMPARE(err.error, QJsonParseError::NoError);
        const QJsonObject core = doc.object().value("core").toObject();
        QCOMPARE(core.keys(), QStringList({"build", "ver"}));
        QCOMPARE(core.value("ver").toString(), QStringLiteral("2.4.0"));
        QCOMPARE(core.value("build").toString(), QStringLiteral("2020-05-01T12:00:00"));
        QCOMPARE(doc.object().value("agent").toObject().value("ver").toString(),
                 QStringLiteral("1.0.0rc2"));
        // Written in the indented form.
        QVERIFY(readFile(path).contains("\n    \"agent\": {\n"));

        // Loading builds a separate value; the process-wide registry is not touched.
        Registry::clear();
        const AppVersionManager loaded =
            AppVersionManager::loadVersions(tmp.path(), QStringLiteral("host"));
        QCOMPARE(loaded.versions().keys(), registered.keys());
        for (auto it = registered.cbegin(); it != registered.cend(); ++it)
            QVERIFY2(loaded.versions().value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(AppVersionManager::getVersions().isEmpty());
    }

    void emptyRegistryWritesEmptyObject()
    {
        QTemporaryDir tmp;
        AppVersionManager::saveCurrentVersions(tmp.path(), QStringLiteral("empty"));
        const QByteArray data = readFile(tmp.path() + "/empty.ver");
        QCOMPARE(data, QByteArray("{\n}\n"));
        QVERIFY(AppVersionManager::loadVersions(tmp.path(), QStringLiteral("empty"))
                    .versions()
                    .isEmpty());
    }

    void saveReplacesOlderFile()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/host.ver";
        QVERIFY(writeFile(path, QByteArray(4096, ' ') + json("{'old': {'ver': '1.0.0'}}")));
        AppVersionManager::addVersion(QStringLiteral("new"),
                                      AppVersion("3.0.0", "2024-01-01T00:00:00"));
        AppVersionManager::saveCurrentVersions(tmp.path(), QStringLiteral("host"));
        const QJsonObject obj = QJsonDocument::fromJson(readFile(path)).object();
        QCOMPARE(obj.keys(), QStringList({"new"}));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"host.ver"}));
    }

    void saveIntoMissingDirWritesNothing()
    {
        QTemporaryDir tmp;
        AppVersionManager::addVersion(QStringLiteral("x"),
                                      AppVersion("1.0.0", "2024-01-01T00:00:00"));
        AppVersionManager::saveCurrentVersions(tmp.path() + "/absent", QStringLiteral("host"));
        QVERIFY(!QFileInfo::exists(tmp.path() + "/absent"));
    }

    // Members that do not make a valid version are dropped; the others are kept.
    void loadDropsBadMembers_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::newRow("no build") << json("{'ver': '1.2.3'}");
        QTest::newRow("build not ISO") << json("{'ver': '1.2.3', 'build': 'Dec 16 2021'}");
        QTest::newRow("two-part version") << json("{'ver': '1.2', 'build': '2021-01-01T00:00:00'}");
        QTest::newRow("beta word") << json("{'ver': '1.2.3beta', 'build': '2021-01-01T00:00:00'}");
        QTest::newRow("no ver") << json("{'build': '2021-01-01T00:00:00'}");
        QTest::newRow("not an object") << json("'1.2.3'");
        QTest::newRow("empty object") << QByteArray("{}");
    }
    void loadDropsBadMembers()
    {
        QFETCH(QByteArray, member);
        QTemporaryDir tmp;
        const QByteArray doc =
            json("{'good': {'ver': '1.2.3rc1', 'build': '2021-01-01T00:00:00'}, 'bad': ") + member +
            "}";
        QVERIFY(writeFile(tmp.path() + "/app.ver", doc));
        const QMap<QString, AppVersion> v =
            AppVersionManager::loadVersions(tmp.path(), QStringLiteral("app")).versions();
        QCOMPARE(v.keys(), QStringList({"good"}));
        QCOMPARE(v.value("good").version(), QStringLiteral("1.2.3rc1"));
    }

    void loadUnreadableGivesEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::newRow("missing file") << QByteArray() << false;
        QTest::newRow("empty file") << QByteArray() << true;
        QTest::newRow("broken JSON")
            << json("{'good': {'ver': '1.2.3', 'build': '2021-01-01T00:00:00'}") << true;
        QTest::newRow("truncated") << json("{'good': {'ver': '1.2.3', 'bu") << true;
        QTest::newRow("array") << json("[{'ver': '1.2.3'}]") << true;
    }
    void loadUnreadableGivesEmpty()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QTemporaryDir tmp;
        if (create)
            QVERIFY(writeFile(tmp.path() + "/app.ver", content));
        AppVersionManager::addVersion(QStringLiteral("mine"),
                                      AppVersion("1.0.0", "2024-01-01T00:00:00"));
        const AppVersionManager loaded =
            AppVersionManager::loadVersions(tmp.path(), QStringLiteral("app"));
        QVERIFY(loaded.versions().isEmpty());
        QCOMPARE(AppVersionManager::getVersions().keys(), QStringList({"mine"}));
    }

    // A process that cannot finish writing (here: a file size limit) leaves the previous
    // file whole instead of a truncated one that would read as "nothing installed".
    void interruptedSaveKeepsPreviousFile()
    {
#ifdef Q_OS_WIN
        QSKIP("a file size limit for one process exists on Linux only");
#endif
        const QString writer = QCoreApplication::applicationDirPath() + "/ravix_verwriter" +
                               ravix::PlatformConventions::exeSuffix();
        QVERIFY2(QFileInfo(writer).isExecutable(), qPrintable(writer));
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/host.ver";

        QCOMPARE(ravixtest::runTool(writer, {tmp.path(), "host", "3", "0"}), 0);
        const QByteArray before = readFile(path);
        // The child's registry also holds the library's own version.
        QCOMPARE(AppVersionManager::loadVersions(tmp.path(), "host").versions().size(), 3 + 1);

        // 200 components need far more than the 1000 bytes the child may write.
        QCOMPARE(ravixtest::runTool(writer, {tmp.path(), "host", "200", "1000"}), 0);
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"host.ver"}));

        // Without the limit the same child replaces the file.
        QCOMPARE(ravixtest::runTool(writer, {tmp.path(), "host", "200", "0"}), 0);
        QCOMPARE(AppVersionManager::loadVersions(tmp.path(), "host").versions().size(), 200 + 1);
    }

    // The registry is shared by every thread of the process.
    void concurrentRegistration()
    {
        QVector<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads.append(QThread::create([t] {
                for (int i = 0; i < 200; ++i) {
                    AppVersionManager::addVersion(QStringLiteral("t%1-%2").arg(t).arg(i),
                                                  AppVersion("1.0.0", "2024-01-01T00:00:00"));
                    AppVersionManager::addLocalisation(QStringLiteral("cat%1").arg(i % 7));
                    AppVersionManager::getVersions();
                }
            }));
            threads.last()->start();
        }
        for (QThread *t : threads) {
            QVERIFY(t->wait(120000));
            delete t;
        }
        QCOMPARE(AppVersionManager::getVersions().size(), 800);
        QCOMPARE(AppVersionManager::localisations().size(), 7);
    }
};

QTEST_GUILESS_MAIN(TestAppVersionManager)
#include "tst_appversionmanager.moc"
