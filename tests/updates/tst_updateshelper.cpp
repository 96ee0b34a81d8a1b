// SPDX-License-Identifier: MIT
#include <ravixcore/updates/updateshelper.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace ravix;

namespace {

QStringList g_messages;

void captureMessages(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    g_messages.append(msg);
}

QByteArray sha1Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex();
}

QJsonObject pkg(const QString &file, const QByteArray &content, const QString &build = {},
                const QString &version = {})
{
    QJsonObject p{{"fileUrl", "http://127.0.0.1/u/" + file},
                  {"sha1", QString::fromLatin1(sha1Hex(content))},
                  {"fileSize", content.size()},
                  {"build", build.isEmpty() ? QStringLiteral("2021-06-01T00:00:00") : build},
                  {"name", file}};
    if (!version.isEmpty())
        p.insert("version", version);
    return p;
}

QByteArray document(const QJsonArray &updates)
{
    return QJsonDocument(QJsonObject{{"Q_OS_LINUX", QJsonArray{QJsonObject{{"version", "9.9.9"}}}},
                                     {"Q_OS_WIN32", updates}})
        .toJson();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestUpdatesHelper : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString store() const { return m_tmp.path() + "/store"; }
    QString versions() const { return m_tmp.path() + "/versions"; }

    void installed(const QString &ver, const QString &build, const QString &name = "app")
    {
        writeFile(versions() + "/app.ver",
                  QJsonDocument(QJsonObject{{name, QJsonObject{{"ver", ver}, {"build", build}}}})
                      .toJson());
    }

private slots:
    void init()
    {
        QDir(m_tmp.path()).removeRecursively();
        QDir().mkpath(m_tmp.path());
        g_messages.clear();
        qInstallMessageHandler(captureMessages);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void parseDocument_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("count");
        const QJsonObject good{{"version", "1.2.0"}, {"packages", QJsonArray{pkg("a.zip", "A")}}};
        const QJsonObject bad{
            {"version", "1.3.0"},
            {"packages", QJsonArray{pkg("b.zip", "B"), QJsonObject{{"fileSize", 0}}}}};
        QTest::newRow("valid") << document({good}) << true << QString() << 1;
        QTest::newRow("invalid dropped") << document({bad, good}) << true << QString() << 1;
        QTest::newRow("empty list")
            << document({}) << false << "There are not updates for your operating system" << 0;
        QTest::newRow("no key")
            << QJsonDocument(QJsonObject{{"Q_OS_LINUX", QJsonArray{good}}}).toJson() << false
            << "There are not updates for your operating system" << 0;
        QTest::newRow("no valid") << document({bad}) << false
                                  << "There are not valid updates for your operating system" << 0;
        QTest::newRow("bad json") << QByteArray("{\"Q_OS_WIN32\": [1, }") << false
                                  << "Invalid data format: [" << 0;
    }
    void parseDocument()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        QFETCH(int, count);
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QCOMPARE(helper.parseUpdateInfo(data), ok);
        QCOMPARE(helper.infos().size(), count);
        if (message.isEmpty()) {
            QVERIFY(g_messages.isEmpty());
        } else {
            QCOMPARE(g_messages.size(), 1);
            // The text itself is the record, not a quoted form of it.
            QVERIFY2(g_messages.first().startsWith(message), qPrintable(g_messages.first()));
            if (!message.endsWith('['))
                QCOMPARE(g_messages.first(), message);
        }
    }

    void badJsonShowsTail()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QVERIFY(!helper.parseUpdateInfo("{\"Q_OS_WIN32\": [1, }tail"));
        QCOMPARE(g_messages.size(), 1);
        // The rest of the document from the error on is dumped on an indented line.
        QVERIFY2(g_messages.first().contains("\n               "), qPrintable(g_messages.first()));
        QVERIFY(g_messages.first().contains("Bytearrray size ="));
    }

    void storeAndLoad()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        const QJsonObject upd{{"version", "1.2.0RC1"},
                              {"description", "fixes"},
                              {"changelog", "http://h/c"},
                              {"packages", QJsonArray{pkg("a.zip", "A", {}, "1.1.9")}}};
        QVERIFY(helper.saveUpdateInfo(document({upd})));
        const QString infoPath = store() + "/1.2.0rc1/info.json";
        QVERIFY(QFileInfo::exists(infoPath));
        // The folder's own name is lower case (names that ignore case find it either way).
        QCOMPARE(QDir(store()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{"1.2.0rc1"});
        UpdateInfo loaded;
        QVERIFY(helper.loadUpdateInfo("1.2.0rc1", loaded));
        QCOMPARE(loaded.description(), QStringLiteral("fixes"));
        QCOMPARE(loaded.changeLogUrl(), QString()); // written as changeLogUrl, read as changelog
        QCOMPARE(loaded.packages().size(), 1);
        QCOMPARE(loaded.packages().first().sha1(), QByteArray::fromHex(sha1Hex("A")));
        // The package takes the update's version when read back.
        QCOMPARE(loaded.packages().first().version(), QStringLiteral("1.2.0rc1"));

        UpdateInfo other;
        QVERIFY(helper.loadUpdateInfo(other, infoPath));
        QCOMPARE(other, loaded);
        // Nothing but the description itself lies in the folder (no temporary left over).
        QCOMPARE(QDir(store() + "/1.2.0rc1").entryList(QDir::Files), QStringList{"info.json"});
    }

    void loadFailures()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        UpdateInfo info;
        QVERIFY(!helper.loadUpdateInfo("7.7.7", info));
        QCOMPARE(g_messages.size(), 1);
        writeFile(store() + "/8.8.8/info.json", "{ not json");
        QVERIFY(!helper.loadUpdateInfo("8.8.8", info));
        QCOMPARE(g_messages.size(), 2);
        const UpdateInfo invalid{UpdatePkgConfig(store())};
        QVERIFY(!helper.saveUpdateInfo(invalid));
    }

    void unwritableStore()
    {
        writeFile(m_tmp.path() + "/blocker", "x"); // a file where the store folder should be
        UpdatesHelper helper(UpdatePkgConfig(m_tmp.path() + "/blocker"), versions(), "app");
        const UpdateInfo info(
            QJsonObject{{"version", "1.0.0"}, {"packages", QJsonArray{pkg("a", "A")}}},
            UpdatePkgConfig(m_tmp.path() + "/blocker"));
        QVERIFY(info.isValid());
        QVERIFY(!helper.saveUpdateInfo(info));
        QCOMPARE(g_messages.size(), 1);
        QVERIFY(!helper.saveUpdatePlan("1.0.0", "x"));
    }

    void needUpdate_data()
    {
        QTest::addColumn<QString>("installedVer");
        QTest::addColumn<QString>("installedBuild");
        QTest::addColumn<QString>("installedName");
        QTest::addColumn<QString>("offeredVer");
        QTest::addColumn<QString>("offeredBuild");
        QTest::addColumn<QByteArray>("onDisk"); // "-" when absent
        QTest::addColumn<bool>("expected");
        const QString b1 = "2021-01-01T00:00:00", b2 = "2021-02-01T00:00:00";
        const QByteArray content = "package-content";
        QTest::newRow("no ver file") << QString() << b1 << "app"
                                     << "1.1.0" << b1 << QByteArray("-") << false;
        QTest::newRow("no entry") << "1.0.0" << b1 << "other"
                                  << "1.1.0" << b1 << QByteArray("-") << false;
        QTest::newRow("same") << "1.1.0" << b1 << "app"
                              << "1.1.0" << b1 << QByteArray("-") << false;
        QTest::newRow("earlier build") << "1.1.0" << b2 << "app"
                                       << "1.1.0" << b1 << QByteArray("-") << false;
        QTest::newRow("later build") << "1.1.0" << b1 << "app"
                                     << "1.1.0" << b2 << QByteArray("-") << true;
        QTest::newRow("lower version") << "1.1.0" << b1 << "app"
                                       << "1.0.0" << b1 << QByteArray("-") << true;
        QTest::newRow("higher missing") << "1.0.0" << b1 << "app"
                                        << "1.1.0" << b1 << QByteArray("-") << true;
        QTest::newRow("wrong size") << "1.0.0" << b1 << "app"
                                    << "1.1.0" << b1 << QByteArray("short") << true;
        QTest::newRow("wrong digest") << "1.0.0" << b1 << "app"
                                      << "1.1.0" << b1 << QByteArray("package-CONTENT") << true;
        QTest::newRow("intact") << "1.0.0" << b1 << "app"
                                << "1.1.0" << b1 << content << false;
    }
    void needUpdate()
    {
        QFETCH(QString, installedVer);
        QFETCH(QString, installedBuild);
        QFETCH(QString, installedName);
        QFETCH(QString, offeredVer);
        QFETCH(QString, offeredBuild);
        QFETCH(QByteArray, onDisk);
        QFETCH(bool, expected);
        if (!installedVer.isEmpty())
            installed(installedVer, installedBuild, installedName);
        const UpdatePkgConfig cfg(store());
        const UpdatePackageInfo p(pkg("p.bin", "package-content", offeredBuild), offeredVer, cfg);
        QVERIFY(p.isValid());
        if (onDisk != "-")
            writeFile(p.fileName(), onDisk);
        UpdatesHelper helper(cfg, versions(), "app");
        QCOMPARE(helper.needUpdate(p), expected);
    }

    void downloadLists()
    {
        installed("1.0.0", "2021-01-01T00:00:00");
        const UpdatePkgConfig cfg(store());
        UpdatesHelper helper(cfg, versions(), "app");
        QJsonArray packages;
        for (int i = 0; i < 5; ++i)
            packages.append(pkg(QString("p%1.bin").arg(i), QByteArray(100 + i, char('a' + i))));
        const QJsonObject upd{{"version", "2.0.0"}, {"packages", packages}};
        QVERIFY(helper.saveUpdateInfo(document({upd})));
        const UpdateInfo info = helper.infos().first();

        QList<UpdatePackageInfo> list;
        QVERIFY(helper.getDownloadedsList(info, list, 2));
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).name(), QStringLiteral("p0.bin"));
        QCOMPARE(list.at(1).name(), QStringLiteral("p1.bin"));
        QVERIFY(helper.getDownloadedsList(info, list, 0));
        QCOMPARE(list.size(), 5);

        // p0 complete, p1 partly downloaded.
        writeFile(info.packages().at(0).fileName(), QByteArray(100, 'a'));
        writeFile(info.packages().at(1).fileName() + ".part", QByteArray(42, 'b'));
        QList<QPair<QString, int>> pairs;
        QVERIFY(helper.getDownloadedsList("2.0.0", pairs, 2));
        QCOMPARE(pairs.size(), 2);
        QCOMPARE(pairs.at(0), qMakePair(QStringLiteral("http://127.0.0.1/u/p1.bin"), 42));
        QCOMPARE(pairs.at(1), qMakePair(QStringLiteral("http://127.0.0.1/u/p2.bin"), 0));
        QVERIFY(helper.getDownloadedsList("2.0.0", pairs, 0));
        QCOMPARE(pairs.size(), 4);

        QList<QPair<QString, int>> untouched{{"keep", 1}};
        QVERIFY(!helper.getDownloadedsList("3.0.0", untouched, 0));
        QCOMPARE(untouched.size(), 1);

        QVERIFY(!helper.updatesAreLoaded("2.0.0"));
        for (int i = 1; i < 5; ++i)
            writeFile(info.packages().at(i).fileName(), QByteArray(100 + i, char('a' + i)));
        QVERIFY(helper.updatesAreLoaded("2.0.0"));
        writeFile(info.packages().at(3).fileName(), QByteArray(103, 'x'));
        QVERIFY(!helper.updatesAreLoaded("2.0.0"));
        QVERIFY(!helper.updatesAreLoaded("9.0.0"));
    }

    void sha1OfFile()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QByteArray big(100000, 'z');
        writeFile(m_tmp.path() + "/big", big);
        QCOMPARE(helper.calcSha1(m_tmp.path() + "/big"),
                 QCryptographicHash::hash(big, QCryptographicHash::Sha1));
        QVERIFY(helper.calcSha1(m_tmp.path() + "/none").isEmpty());
    }

    void plan()
    {
        UpdatesHelper helper(UpdatePkgConfig(store()), versions(), "app");
        QString version = "old", command = "old";
        QVERIFY(!helper.loadUpdatePlan(version, command));
        QVERIFY(!helper.removeUpdatePlan());
        QVERIFY(helper.saveUpdatePlan("2.0.0", "setup.exe /S"));
        QFile f(store() + "/plan");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        // Windows removes no file that is still open.
        f.close();
        QVERIFY(text.contains("\n    \"version\": \"2.0.0\"")); // indented form
        QVERIFY(helper.loadUpdatePlan(version, command));
        QCOMPARE(version, QStringLiteral("2.0.0"));
        QCOMPARE(command, QStringLiteral("setup.exe /S"));
        QVERIFY(helper.removeUpdatePlan());
        QVERIFY(!QFileInfo::exists(store() + "/plan"));

        writeFile(store() + "/plan", R"({"externalCommand": "x"})");
        version = command = "kept";
        QVERIFY(!helper.loadUpdatePlan(version, command));
        QCOMPARE(version, QStringLiteral("kept"));
        writeFile(store() + "/plan", R"({"version": "3.0.0"})");
        QVERIFY(helper.loadUpdatePlan(version, command));
        QCOMPARE(command, QString());
    }
};

QTEST_GUILESS_MAIN(TestUpdatesHelper)
#include "tst_updateshelper.moc"
