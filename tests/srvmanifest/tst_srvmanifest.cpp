// SPDX-License-Identifier: MIT
#include <ravixcore/srvmanifest/srvmanifest.h>

#include "messagecapture.h"
#include "testtools.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using ravix::ExeInstance;
using ravix::PlatformConventions;
using ravix::SrvManifest;

Q_DECLARE_METATYPE(PlatformConventions::Style)

namespace {

bool writeFile(const QString &path, const QByteArray &content,
               QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.setPermissions(permissions);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// One service in a comparable text form: name|exePath|workDir|params|description.
QString describe(const ExeInstance &instance)
{
    return QStringList{instance.name(), instance.exePath(), instance.workDir(),
                       instance.params().join(QLatin1Char(',')), instance.description()}
        .join(QLatin1Char('|'));
}

const QFile::Permissions EXECUTABLE = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                      QFile::ExeOther;

} // namespace

class TestSrvManifest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_bin;
    QString m_bin2;
    QString m_work;

    // $BIN, $BIN2, $APP and $WORK stand for the fixture's folders in the tables.
    QString expand(QString text) const
    {
        return text.replace("$BIN2", m_bin2)
            .replace("$BIN", m_bin)
            .replace("$APP", QCoreApplication::applicationDirPath())
            .replace("$WORK", m_work);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_bin = m_tmp.filePath("bin");
        m_bin2 = m_tmp.filePath("bin two");
        m_work = m_tmp.filePath("work");
        QVERIFY(QDir().mkpath(m_bin));
        QVERIFY(QDir().mkpath(m_bin2));
        const QString suffix = PlatformConventions::exeSuffix();
        for (const char *name : {"svc", "other", "42"})
            QVERIFY(
                writeFile(m_bin + "/" + QLatin1String(name) + suffix, "#!/bin/sh\n", EXECUTABLE));
        QVERIFY(writeFile(m_bin2 + "/svc2" + suffix, "#!/bin/sh\n", EXECUTABLE));
        QVERIFY(writeFile(m_bin + "/plain" + suffix, "data"));
    }

    void names_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<PlatformConventions::Style>("style");
        QTest::addColumn<QString>("expected");
        const auto win = PlatformConventions::Windows;
        const auto posix = PlatformConventions::Posix;
        QTest::newRow("suffix added") << "svc" << win << "svc.exe";
        QTest::newRow("suffix in capitals kept") << "Svc.EXE" << win << "Svc.EXE";
        QTest::newRow("blanks around kept") << " svc.exe " << win << " svc.exe ";
        QTest::newRow("suffix only at the end") << "svc.exe.bak" << win << "svc.exe.bak.exe";
        QTest::newRow("posix: no suffix") << "svc" << posix << "svc";
        QTest::newRow("posix: name as written") << "svc.exe" << posix << "svc.exe";
    }
    void names()
    {
        QFETCH(QString, stored);
        QFETCH(PlatformConventions::Style, style);
        QFETCH(QString, expected);
        ExeInstance instance;
        instance.setName(stored);
        QCOMPARE(instance.name(style), expected);
        if (style == PlatformConventions::nativeStyle())
            QCOMPARE(instance.name(), expected);
    }

    void paths_data()
    {
        QTest::addColumn<PlatformConventions::Style>("style");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<QString>("exePath");
        QTest::addColumn<QString>("nativeExePath");
        QTest::addColumn<QString>("exeFilePath");
        QTest::addColumn<QString>("nativeExeFilePath");
        QTest::addColumn<QString>("slashWorkDir");
        QTest::addColumn<QString>("nativeWorkDir");
        // clang-format off
        QTest::newRow("windows, backslashes") << PlatformConventions::Windows
            << "C:\\srv" << "D:\\w\\x"
            << "C:/srv" << "C:\\srv" << "C:/srv/a.exe" << "C:\\srv\\a.exe" << "D:/w/x" << "D:\\w\\x";
        QTest::newRow("windows, mixed") << PlatformConventions::Windows
            << "C:/srv\\bin" << "D:/w"
            << "C:/srv/bin" << "C:\\srv\\bin" << "C:/srv/bin/a.exe" << "C:\\srv\\bin\\a.exe" << "D:/w" << "D:\\w";
        QTest::newRow("posix") << PlatformConventions::Posix
            << "/opt/srv" << "/var/w"
            << "/opt/srv" << "/opt/srv" << "/opt/srv/a" << "/opt/srv/a" << "/var/w" << "/var/w";
        // A backslash is an ordinary character in a POSIX name.
        QTest::newRow("posix, backslash kept") << PlatformConventions::Posix
            << "/opt/a\\b" << "/w\\x"
            << "/opt/a\\b" << "/opt/a\\b" << "/opt/a\\b/a" << "/opt/a\\b/a" << "/w\\x" << "/w\\x";
        // clang-format on
    }
    void paths()
    {
        QFETCH(PlatformConventions::Style, style);
        QFETCH(QString, folder);
        QFETCH(QString, workDir);
        ExeInstance instance;
        instance.setName("a");
        instance.setExePath(folder);
        instance.setWorkDir(workDir);
        QTEST(instance.exePath(style), "exePath");
        QTEST(instance.namtiveExePath(style), "nativeExePath");
        QTEST(instance.exeFilePath(style), "exeFilePath");
        QTEST(instance.nativeExeFilePath(style), "nativeExeFilePath");
        QTEST(instance.workDir(style), "slashWorkDir");
        QTEST(instance.nativeWorkDir(style), "nativeWorkDir");
    }

    void instanceValue()
    {
        ExeInstance a;
        QVERIFY(a.name().isEmpty() || a.name() == PlatformConventions::exeSuffix());
        QVERIFY(a.exePath().isEmpty() && a.workDir().isEmpty() && a.description().isEmpty());
        QVERIFY(a.params().isEmpty());
        QVERIFY(!a.isValid());
        a.setName("svc");
        a.setExePath(m_bin);
        a.setWorkDir(m_work);
        a.setDescription("d");
        a.setParams({"p", "q"});
        QVERIFY(a.isValid());

        // Every member takes part in the comparison.
        const QList<std::function<void(ExeInstance &)>> changes = {
            [](ExeInstance &i) { i.setName("other"); },
            [](ExeInstance &i) { i.setExePath("/x"); },
            [](ExeInstance &i) { i.setWorkDir("/y"); },
            [](ExeInstance &i) { i.setDescription("e"); },
            [](ExeInstance &i) { i.setParams({"q", "p"}); },
        };
        for (const auto &change : changes) {
            ExeInstance b = a;
            QVERIFY(b == a);
            change(b);
            QVERIFY(b != a);
            QVERIFY(!(b == a));
        }
        ExeInstance moved = std::move(ExeInstance(a));
        QCOMPARE(moved, a);

        // Without a folder nothing is valid, even a file beside the working folder.
        ExeInstance noFolder = a;
        noFolder.setExePath(QString());
        QVERIFY(!noFolder.isValid());
        ExeInstance noName = a;
        noName.setName(QString());
        QVERIFY(!noName.isValid());
        // A folder is not an executable file.
        ExeInstance folder = a;
        folder.setExePath(m_tmp.path());
        folder.setName("bin");
        QVERIFY(!folder.isValid());
    }

    void documents_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("defaultExePath");
        QTest::addColumn<QStringList>("services");
        const QString sfx = PlatformConventions::exeSuffix();

        // clang-format off
        QTest::newRow("defaults for folder and working folder")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"svc"}]})")
            << "$BIN" << QStringList{"svc" + sfx + "|$BIN|$WORK||"};
        QTest::newRow("own folder, working folder, params, description")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"svc2","exePath":"$BIN2","workDir":"/srv/w","description":"the second","params":["a b","c"]}]})")
            << "$BIN" << QStringList{"svc2" + sfx + "|$BIN2|/srv/w|a b,c|the second"};
        QTest::newRow("numbers and booleans as params")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"svc","params":[1,"x",true,1.5,1000000,false]}]})")
            << "$BIN" << QStringList{"svc" + sfx + "|$BIN|$WORK|1,x,true,1.5,1000000,false|"};
        QTest::newRow("params as object")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"svc","params":{"a":1}}]})")
            << "$BIN" << QStringList{"svc" + sfx + "|$BIN|$WORK||"};
        QTest::newRow("no defaultExePath: the application folder")
            << QByteArray(R"({"services":[{"name":"tst_srvmanifest"}]})")
            << "$APP" << QStringList{"tst_srvmanifest" + sfx + "|$APP|$WORK||"};
        QTest::newRow("empty defaultExePath and exePath")
            << QByteArray(R"({"defaultExePath":"","services":[{"name":"tst_srvmanifest","exePath":"","workDir":""}]})")
            << "$APP" << QStringList{"tst_srvmanifest" + sfx + "|$APP|$WORK||"};
        QTest::newRow("unknown keys ignored")
            << QByteArray(R"({"colour":"red","defaultExePath":"$BIN","services":[{"name":"svc","size":3}]})")
            << "$BIN" << QStringList{"svc" + sfx + "|$BIN|$WORK||"};
        QTest::newRow("order kept")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"other"},{"name":"svc"}]})")
            << "$BIN" << QStringList{"other" + sfx + "|$BIN|$WORK||", "svc" + sfx + "|$BIN|$WORK||"};
#ifdef Q_OS_WIN
        // Windows tells a program by its name: any file ending in ".exe" counts as one.
        const QStringList runnable{"plain" + sfx + "|$BIN|$WORK||", "svc" + sfx + "|$BIN|$WORK||"};
#else
        const QStringList runnable{"svc" + sfx + "|$BIN|$WORK||"};
#endif
        QTest::newRow("missing, not executable and nameless dropped")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":"nope"},{"name":"plain"},{"description":"x"},{"name":"svc","exePath":"/no/such/dir"},{"name":"svc"}]})")
            << "$BIN" << runnable;
        QTest::newRow("number as name")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[{"name":42}]})")
            << "$BIN" << QStringList{"42" + sfx + "|$BIN|$WORK||"};
        QTest::newRow("empty services")
            << QByteArray(R"({"defaultExePath":"$BIN","services":[]})") << "$BIN" << QStringList();
        QTest::newRow("no services")
            << QByteArray(R"({"defaultExePath":"$BIN"})") << "$BIN" << QStringList();
        QTest::newRow("services not a list")
            << QByteArray(R"({"defaultExePath":"$BIN","services":{"name":"svc"}})") << "$BIN" << QStringList();
        QTest::newRow("top level is a list")
            << QByteArray(R"([{"name":"svc"}])") << "$APP" << QStringList();
        // clang-format on
    }
    void documents()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, defaultExePath);
        QFETCH(QStringList, services);

        QTemporaryDir dir;
        const QString file = dir.filePath("manifest.json");
        QVERIFY(writeFile(file, expand(QString::fromUtf8(json)).toUtf8()));

        ravixtest::MessageCapture capture;
        const SrvManifest manifest(dir.filePath("no-resource.json"), file, m_work, dir.path());
        QCOMPARE(capture.messages(QtCriticalMsg), QStringList());
        QCOMPARE(capture.messages(QtWarningMsg), QStringList());

        QCOMPARE(manifest.defaultExePath(), expand(defaultExePath));
        QStringList got;
        for (const ExeInstance &instance : manifest.instances())
            got << describe(instance);
        QStringList expected;
        for (const QString &service : services)
            expected << expand(service);
        QCOMPARE(got, expected);
        QCOMPARE(manifest.isValid(), !services.isEmpty());
        QCOMPARE(manifest.manifestFileName(), file);
        QCOMPARE(manifest.defaultWorkDir(), m_work);
        QCOMPARE(manifest.resourcesManifest(), dir.filePath("no-resource.json"));

        // The same file read again gives the same manifest; copies compare equal.
        SrvManifest again = manifest;
        again.parseManifest();
        QVERIFY(again == manifest);
        SrvManifest moved(std::move(again));
        QVERIFY(moved == manifest);
    }

    void validityNeedsEveryPath()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("manifest.json");
        QVERIFY(
            writeFile(file, expand(R"({"services":[{"name":"svc","exePath":"$BIN"}]})").toUtf8()));
        QVERIFY(SrvManifest(QString(), file, m_work, dir.path()).isValid());
        QVERIFY(!SrvManifest(QString(), file, QString(), dir.path()).isValid());
        QVERIFY(!SrvManifest(QString(), file, m_work, QString()).isValid());
        // The missing working folder is handed on as it is.
        const SrvManifest noWork(QString(), file, QString(), dir.path());
        QCOMPARE(noWork.instances().size(), 1);
        QVERIFY(noWork.instances().first().workDir().isEmpty());
        QVERIFY(SrvManifest(QString(), file, m_work, dir.path()) !=
                SrvManifest(QString(), file, m_work + "x", dir.path()));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::newRow("bad JSON") << QByteArray(R"({"services":[{"name":"svc"})");
        QTest::newRow("not JSON") << QByteArray("services = svc");
        QTest::newRow("unreadable") << QByteArray();
    }
    void failures()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString file = dir.filePath("manifest.json");
        QString reason;
        if (content.isEmpty()) {
#ifdef Q_OS_WIN
            // The system's own text, which differs between Windows versions (and Wine).
            QFile missing(file);
            QVERIFY(!missing.open(QIODevice::ReadOnly));
            reason = missing.errorString();
#else
            reason = "No such file or directory";
#endif
        } else {
            QVERIFY(writeFile(file, content));
            QJsonParseError error;
            QJsonDocument::fromJson(content, &error);
            reason = error.errorString();
        }

        ravixtest::MessageCapture capture;
        SrvManifest manifest(dir.filePath("no-resource.json"), file, m_work, dir.path());
        QVERIFY(!manifest.isValid());
        QVERIFY(manifest.instances().isEmpty());
        const QStringList critical = capture.messages(QtCriticalMsg);
        QCOMPARE(critical.size(), 1);
        QCOMPARE(critical.first(), QString("%1 \n%2%3").arg(file, QString(15, ' '), reason));

        // A manifest that was valid forgets its services when a re-read fails.
        QVERIFY(
            writeFile(file, expand(R"({"services":[{"name":"svc","exePath":"$BIN"}]})").toUtf8()));
        manifest.parseManifest();
        QVERIFY(manifest.isValid());
        QVERIFY(QFile::remove(file));
        manifest.parseManifest();
        QVERIFY(!manifest.isValid());
        QVERIFY(manifest.defaultExePath().isEmpty());
    }

    // The installed copy steers what runs as the daemon: it is closed to other accounts,
    // whatever the process's file mode mask.
    void prepareManifest_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("usual mask") << 022;
        QTest::newRow("no mask") << 0;
    }
    void prepareManifest()
    {
        QFETCH(int, mask);
        const mode_t oldMask = ::umask(mode_t(mask));
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        QTemporaryDir dir;
        const QString resource = dir.filePath("shipped.json");
        const QByteArray shipped =
            expand(R"({"services":[{"name":"svc","exePath":"$BIN"}]})").toUtf8();
        // Shipped files are often read-only; the installed copy is not.
        QVERIFY(
            writeFile(resource, shipped, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QString manifestDir = dir.filePath("etc/srv");
        const QString file = manifestDir + "/manifest.json";

        const SrvManifest first(resource, file, m_work, manifestDir);
        QVERIFY(QFileInfo(manifestDir).isDir());
        QCOMPARE(readFile(file), shipped);
#ifdef Q_OS_WIN
        // No mode bits there, and no file mode mask: the copy is at least not read-only.
        QVERIFY(QFileInfo(file).isWritable());
#else
        QCOMPARE(ravixtest::modeBits(file), 0644);
#endif
        QVERIFY(first.isValid());
        QCOMPARE(first.manifestDir(), manifestDir);

        // Never copied over an existing file, even one that differs from the shipped one.
        const QByteArray edited =
            expand(R"({"services":[{"name":"other","exePath":"$BIN"}]})").toUtf8();
        QVERIFY(writeFile(file, edited));
        const SrvManifest second(resource, file, m_work, manifestDir);
        QCOMPARE(readFile(file), edited);
#ifndef Q_OS_WIN
        QCOMPARE(ravixtest::modeBits(file), 0600);
#endif
        QCOMPARE(second.instances().size(), 1);
        QCOMPARE(second.instances().first().name(), "other" + PlatformConventions::exeSuffix());
        QVERIFY(first != second);
    }

    void manifestMutex()
    {
        QMutexLocker lock(&SrvManifest::_manifestMutex);
        // Not recursive: the holder itself cannot take it again.
        QVERIFY(!SrvManifest::_manifestMutex.tryLock());
    }
};

QTEST_GUILESS_MAIN(TestSrvManifest)
#include "tst_srvmanifest.moc"
