// SPDX-License-Identifier: MIT
// The update store and the version file against another local account and a full disk. The
// daemon runs as root; the attacker is a real unprivileged account that may write in the
// shared folders, as every account may there.
#include <ravixcore/updates/updateshelper.h>
#include <ravixcore/version/appversionmanager.h>

#include "attacktools.h"
#include "messagecapture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ravix;
using ravixtest::MessageCapture;
using ravixtest::SharedTempDir;

namespace {

const QByteArray SECRET = "root's secret\n";
const QString APP = QStringLiteral("app");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &data, int mode = 0644)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush() &&
           ::fchmod(f.handle(), mode_t(mode)) == 0;
}

QJsonObject package(const QString &file, const QByteArray &content)
{
    return {{"fileUrl", "http://127.0.0.1/u/" + file},
            {"sha1", QString::fromLatin1(
                         QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex())},
            {"fileSize", content.size()},
            {"build", "2021-06-01T00:00:00"},
            {"name", file}};
}

QByteArray document(const QString &version, const QString &description = "fixes")
{
    const QJsonObject update{{"version", version},
                             {"description", description},
                             {"packages", QJsonArray{package("a.zip", "A")}}};
    return QJsonDocument(QJsonObject{{"Q_OS_WIN32", QJsonArray{update}}}).toJson();
}

// What lies at a path, without following a link there: "link", "dir", "file" or "none".
QString kindOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("none");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("dir");
    return S_ISREG(st.st_mode) ? QStringLiteral("file") : QStringLiteral("other");
}

uid_t ownerOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

// Peak resident memory of this process so far, in bytes.
qint64 peakResident()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// The shared folders of a daemon (store and versions open to every account) and a folder of
// root's own that the attacker points his links at.
struct Site
{
    SharedTempDir shared;
    QTemporaryDir rootOnly;
    QString store;
    QString versions;
    QString secret;

    Site()
    {
        store = shared.filePath("store");
        versions = shared.filePath("versions");
        secret = rootOnly.filePath("secret");
        for (const QString &dir : {store, versions}) {
            QDir().mkpath(dir);
            QFile::setPermissions(dir, QFileDevice::Permissions(0x7777));
        }
        writeFile(secret, SECRET, 0600);
    }
    bool valid() const
    {
        return shared.isValid() && rootOnly.isValid() && readFile(secret) == SECRET;
    }
    // The attacker's shell command with $STORE, $VERSIONS, $SHARED and $SECRET filled in.
    int attack(QString command) const
    {
        command.replace("$STORE", store)
            .replace("$VERSIONS", versions)
            .replace("$SHARED", shared.path())
            .replace("$SECRET", secret)
            .replace("$ROOTONLY", rootOnly.path());
        return ravixtest::runAsAttacker(command);
    }
    // Root's folder holds its secret and nothing else.
    bool rootOnlyUntouched() const
    {
        return readFile(secret) == SECRET &&
               QDir(rootOnly.path())
                       .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System) == QStringList{"secret"};
    }
};

} // namespace

class TestUpdatesSecurity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { RAVIX_REQUIRE_ATTACKER(); }
    void init() { AppVersionManager::addVersion(APP, AppVersion("1.0.0", "2021-01-01T00:00:00")); }

    // A link planted where the daemon stores a file or the folder of an update is replaced,
    // never followed: root's own files stay as they are.
    void plantedLinksAreReplaced_data()
    {
        QTest::addColumn<QString>("attack");
        QTest::addColumn<QString>("what"); // the file the daemon writes
        QTest::addColumn<QString>("name"); // the name the attacker linked, relative to $SHARED
        QTest::newRow("update folder linked to a root folder") << "ln -s $ROOTONLY $STORE/1.2.0"
                                                               << "info"
                                                               << "store/1.2.0";
        QTest::newRow("plan linked to a root file") << "ln -s $SECRET $STORE/plan"
                                                    << "plan"
                                                    << "store/plan";
        QTest::newRow("version file linked to a root file") << "ln -s $SECRET $VERSIONS/app.ver"
                                                            << "ver"
                                                            << "versions/app.ver";
        // The update's folder as an earlier release made it: root's, open to every account.
        QTest::newRow("stored document linked to a root file")
            << "ln -s $SECRET $STORE/1.2.0/info.json"
            << "info"
            << "store/1.2.0/info.json";
    }
    void plantedLinksAreReplaced()
    {
        QFETCH(QString, attack);
        QFETCH(QString, what);
        QFETCH(QString, name);
        Site site;
        QVERIFY(site.valid());
        if (name.count('/') == 2) {
            QVERIFY(QDir().mkpath(site.store + "/1.2.0"));
            QVERIFY(QFile::setPermissions(site.store + "/1.2.0", QFileDevice::Permissions(0x7777)));
        }
        QCOMPARE(site.attack(attack), 0);
        QCOMPARE(kindOf(site.shared.filePath(name)), QStringLiteral("link"));

        UpdatesHelper helper(UpdatePkgConfig(site.store), site.versions, APP);
        QString written;
        if (what == "info") {
            QVERIFY(helper.saveUpdateInfo(document("1.2.0")));
            written = site.store + "/1.2.0/info.json";
            QCOMPARE(kindOf(site.store + "/1.2.0"), QStringLiteral("dir"));
            QCOMPARE(ownerOf(site.store + "/1.2.0"), uid_t(0));
        } else if (what == "plan") {
            QVERIFY(helper.saveUpdatePlan("1.2.0", "setup --quiet"));
            written = site.store + "/plan";
        } else {
            AppVersionManager::saveCurrentVersions(site.versions, APP);
            written = site.versions + "/app.ver";
        }
        QVERIFY(site.rootOnlyUntouched());
        QCOMPARE(kindOf(written), QStringLiteral("file"));
        QCOMPARE(ownerOf(written), uid_t(0));
        QVERIFY2(readFile(written).contains(what == "ver" ? "\"app\"" : "1.2.0"),
                 readFile(written).constData());

        // What was written reads back.
        if (what == "info") {
            UpdateInfo info;
            QVERIFY(helper.loadUpdateInfo("1.2.0", info));
        } else if (what == "plan") {
            QString version, command;
            QVERIFY(helper.loadUpdatePlan(version, command));
            QCOMPARE(command, QStringLiteral("setup --quiet"));
        } else {
            QVERIFY(AppVersionManager::loadVersions(site.versions, APP).versions().contains(APP));
        }
    }

    // An update folder that another account made is not the daemon's: nothing is stored there.
    void foreignUpdateFolderRefused()
    {
        Site site;
        QVERIFY(site.valid());
        QCOMPARE(site.attack("mkdir -m 777 $STORE/1.2.0"), 0);
        MessageCapture capture;
        UpdatesHelper helper(UpdatePkgConfig(site.store), site.versions, APP);
        QVERIFY(!helper.saveUpdateInfo(document("1.2.0")));
        QVERIFY(!QFileInfo::exists(site.store + "/1.2.0/info.json"));
        QVERIFY2(capture.contains(QtWarningMsg, site.store + "/1.2.0"),
                 qPrintable(capture.messages(QtWarningMsg).join('\n')));
    }

    // Files that steer the installer are read only when they are root's (or the daemon's)
    // own, regular, and closed to other accounts. The outputs stay untouched otherwise.
    void untrustedFilesRefused_data()
    {
        QTest::addColumn<QString>("what"); // plan or info
        QTest::addColumn<QString>("attack");
        QTest::addColumn<QString>("reason"); // part of the warning
        const QString evilPlan = "printf '{\"version\":\"6.6.6\",\"externalCommand\":\"evil\"}' ";
        const QString evilInfo =
            "printf '" +
            QString::fromUtf8(
                QJsonDocument(QJsonObject{{"version", "1.2.0"},
                                          {"packages", QJsonArray{package("evil.sh", "E")}}})
                    .toJson(QJsonDocument::Compact)) +
            "' ";
        QTest::newRow("plan: attacker's file renamed to it")
            << "plan" << evilPlan + "> $SHARED/mine && mv $SHARED/mine $STORE/plan"
            << "owned by";
        QTest::newRow("plan: open to every account") << "plan"
                                                     << "OPEN " + evilPlan + "> $STORE/plan"
                                                     << "writable";
        QTest::newRow("plan: link to the attacker's file")
            << "plan" << evilPlan + "> $SHARED/mine && ln -s $SHARED/mine $STORE/plan"
            << "link";
        QTest::newRow("plan: a FIFO") << "plan"
                                      << "mkfifo $STORE/plan"
                                      << "regular file";
        QTest::newRow("document: attacker's own")
            << "info"
            << "mkdir -m 755 $STORE/1.2.0 && " + evilInfo + "> $STORE/1.2.0/info.json"
            << "owned by";
        QTest::newRow("document: open to every account")
            << "info"
            << "OPEN " + evilInfo + "> $STORE/1.2.0/info.json"
            << "writable";
    }
    void untrustedFilesRefused()
    {
        QFETCH(QString, what);
        QFETCH(QString, attack);
        QFETCH(QString, reason);
        Site site;
        QVERIFY(site.valid());
        UpdatesHelper helper(UpdatePkgConfig(site.store), site.versions, APP);
        if (attack.startsWith("OPEN ")) {
            // Files of root's that an earlier release left open to everyone.
            attack = attack.mid(5);
            QVERIFY(what == "plan" ? helper.saveUpdatePlan("1.2.0", "setup")
                                   : helper.saveUpdateInfo(document("1.2.0")));
            const QString file =
                what == "plan" ? site.store + "/plan" : site.store + "/1.2.0/info.json";
            QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions(0x6666)));
        }
        QCOMPARE(site.attack(attack), 0);

        MessageCapture capture;
        if (what == "plan") {
            QString version = "kept", command = "kept";
            QVERIFY(!helper.loadUpdatePlan(version, command));
            QCOMPARE(version, QStringLiteral("kept"));
            QCOMPARE(command, QStringLiteral("kept"));
        } else {
            UpdateInfo info;
            QVERIFY(!helper.loadUpdateInfo("1.2.0", info));
            QList<QPair<QString, int>> list;
            QVERIFY(!helper.getDownloadedsList("1.2.0", list, 0));
            QVERIFY(!helper.updatesAreLoaded("1.2.0"));
        }
        const QStringList warnings = capture.messages(QtWarningMsg);
        QVERIFY2(!warnings.isEmpty() && warnings.first().contains(reason),
                 qPrintable(warnings.join('\n')));
    }

    // A package counts as downloaded only when it is root's own regular file that no other
    // account may change: the installer runs what lies there later.
    void untrustedPackagesDownloadedAgain_data()
    {
        QTest::addColumn<QString>("attack"); // empty: root's own package, mode 0644
        QTest::addColumn<bool>("expected");
        QTest::newRow("root's own") << QString() << false;
        QTest::newRow("open to every account") << "OPEN" << true;
        QTest::newRow("attacker's copy") << "rm -f $STORE/2.0.0/p.bin && printf P > "
                                            "$STORE/2.0.0/p.bin"
                                         << true;
        QTest::newRow("link to the attacker's copy")
            << "printf P > $SHARED/p && rm -f $STORE/2.0.0/p.bin && "
               "ln -s $SHARED/p $STORE/2.0.0/p.bin"
            << true;
    }
    void untrustedPackagesDownloadedAgain()
    {
        QFETCH(QString, attack);
        QFETCH(bool, expected);
        Site site;
        QVERIFY(site.valid());
        QVERIFY(writeFile(site.versions + "/app.ver",
                          R"({"app": {"ver": "1.0.0", "build": "2021-01-01T00:00:00"}})"));
        const UpdatePkgConfig config(site.store);
        const UpdatePackageInfo pkg(package("p.bin", "P"), "2.0.0", config);
        QVERIFY(pkg.isValid());
        QVERIFY(QDir().mkpath(site.store + "/2.0.0"));
        // The folder as an earlier release left it: open to every account, without sticky bit.
        QVERIFY(QFile::setPermissions(site.store + "/2.0.0", QFileDevice::Permissions(0x7777)));
        QVERIFY(writeFile(pkg.fileName(), "P", attack == "OPEN" ? 0666 : 0644));
        if (!attack.isEmpty() && attack != "OPEN")
            QCOMPARE(site.attack(attack), 0);
        UpdatesHelper helper(config, site.versions, APP);
        QCOMPARE(helper.needUpdate(pkg), expected);
    }

    // On a full disk the previous plan, document and version file stay whole, and the
    // failure is reported.
    void fullDiskKeepsPreviousFiles()
    {
        ravixtest::SmallTmpfs fs(1024 * 1024);
        QVERIFY2(fs.isMounted(), qPrintable(fs.errorString()));
        const QString store = fs.path() + "/store";
        const QString versions = fs.path() + "/versions";
        QVERIFY(QDir().mkpath(versions));
        UpdatesHelper helper(UpdatePkgConfig(store), versions, APP);
        QVERIFY(helper.saveUpdatePlan("1.2.0", "setup"));
        QVERIFY(helper.saveUpdateInfo(document("1.2.0")));
        AppVersionManager::saveCurrentVersions(versions, APP);
        const QByteArray plan = readFile(store + "/plan");
        const QByteArray info = readFile(store + "/1.2.0/info.json");
        const QByteArray ver = readFile(versions + "/app.ver");
        QVERIFY(plan.contains("1.2.0") && info.contains("fixes") && ver.contains("\"app\""));

        QVERIFY(fs.fill());
        MessageCapture capture;
        AppVersionManager::addVersion("component", AppVersion("3.0.0", "2021-01-01T00:00:00"));
        QVERIFY(!helper.saveUpdatePlan("1.3.0", "other setup"));
        QVERIFY(!helper.saveUpdateInfo(document("1.2.0", "other fixes")));
        AppVersionManager::saveCurrentVersions(versions, APP);
        QCOMPARE(readFile(store + "/plan"), plan);
        QCOMPARE(readFile(store + "/1.2.0/info.json"), info);
        QCOMPARE(readFile(versions + "/app.ver"), ver);
        QVERIFY2(capture.contains(QtWarningMsg, versions + "/app.ver"),
                 qPrintable(capture.messages(QtWarningMsg).join('\n')));
        fs.release();
    }

    // Megabytes of garbage offered as an update document: the warning shows the start of the
    // bad part and the total size, not all of it.
    void hugeInvalidDocumentLogsExcerpt()
    {
        constexpr int size = 50 * 1024 * 1024;
        QByteArray data("{\"Q_OS_WIN32\": [");
        data.append(QByteArray(size - data.size(), 'x'));
        Site site;
        UpdatesHelper helper(UpdatePkgConfig(site.store), site.versions, APP);
        MessageCapture capture;
        const qint64 before = peakResident();
        QVERIFY(!helper.parseUpdateInfo(data));
        const qint64 growth = peakResident() - before;
        const QStringList warnings = capture.messages(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().size() < 16 * 1024,
                 qPrintable(QString::number(warnings.first().size())));
        QVERIFY2(warnings.first().startsWith("Invalid data format: ["),
                 qPrintable(warnings.first().left(200)));
        QVERIFY2(warnings.first().contains(QString::number(size)),
                 qPrintable(warnings.first().left(300)));
        QVERIFY(warnings.first().contains("xxxxxxxx"));
        QVERIFY2(growth < 128 * 1024 * 1024, qPrintable(QString::number(growth)));
    }
};

QTEST_GUILESS_MAIN(TestUpdatesSecurity)
#include "tst_updatessecurity.moc"
