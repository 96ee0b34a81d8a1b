// SPDX-License-Identifier: MIT
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/appframe/platformconventions.h>

#include "testtools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using ravix::FileConfigHelper;
using ravix::InitConfig;
using ravix::PlatformConventions;

namespace {

// Keeps every derived directory inside the test's temporary tree.
class MovedConfig : public InitConfig
{
public:
    MovedConfig(const QString &path, const QString &dir) : InitConfig(path, true), m_dir(dir) {}
    QString workDir() const override { return m_dir; }

private:
    QString m_dir;
};

void writeIni(const QString &path, const QMap<QString, QString> &values)
{
    QSettings s(path, QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        s.setValue(it.key(), it.value());
    s.sync();
}

} // namespace

class TestInitConfig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("RavixTest"));
        InitConfig::setAppWorkDir(QString());
    }

    void createMakesFolderAndStamp()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/x/y/start.ini";
        {
            FileConfigHelper helper(path, true);
            QVERIFY(helper.isValid());
            QCOMPARE(helper.settingsFileName(), path);
            QCOMPARE(helper.settingsPath(), tmp.path() + "/x/y");
        }
        QVERIFY(QFileInfo::exists(path));
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.allKeys(), QStringList{QStringLiteral("INIT/initDt")});
        const QDateTime stamp =
            QDateTime::fromString(s.value("INIT/initDt").toString(), Qt::RFC2822Date);
        QVERIFY(stamp.isValid());
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 3600);
    }

    void existingStampKept()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/initDt", "kept"}});
        {
            FileConfigHelper helper(path, true);
            QCOMPARE(helper.value("INIT", "initDt").toString(), QStringLiteral("kept"));
        }
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.value("INIT/initDt").toString(), QStringLiteral("kept"));
    }

    void missingWithoutCreate()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/none/start.ini";
        FileConfigHelper helper(path, false);
        QVERIFY(!helper.isValid());
        QVERIFY(!QFileInfo::exists(tmp.path() + "/none"));
        QVERIFY(helper.settingsFileName().isEmpty());
        QVERIFY(helper.settingsPath().isEmpty());
        QVERIFY(!helper.value("INIT", "x", 5).isValid());
        helper.setValue("INIT", "x", 5);
        QVERIFY(!QFileInfo::exists(path));

        FileConfigHelper empty(QString(), true);
        QVERIFY(!empty.isValid());
    }

    void valueAndSetValue()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        FileConfigHelper a(path, true);
        a.setValue("SEC", "k", 7);
        a.setValue(QString(), "top", "t");
        QCOMPARE(a.value("SEC", "k").toInt(), 7);
        QCOMPARE(a.value(QString(), "top").toString(), QStringLiteral("t"));
        QCOMPARE(a.value("SEC", "missing", "dflt").toString(), QStringLiteral("dflt"));
        // A second object on the same file sees the write after the first syncs.
        FileConfigHelper b(path, false);
        QCOMPARE(b.value("SEC", "k").toInt(), 7);
    }

    void defaults()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/workDir", tmp.path() + "/work"}});
        InitConfig cfg(path, false);
        QVERIFY(cfg.isValid());
        QCOMPARE(cfg.keepLogs(), 30);
        QCOMPARE(cfg.rotateLogs(), true);
        QCOMPARE(cfg.keepLogsHandlers(), true);
        QCOMPARE(cfg.cleanAnyOldLogs(), false);
        QCOMPARE(cfg.workDir(), tmp.path() + "/work");
        QCOMPARE(cfg.loggerPath(), tmp.path() + "/work/logs");
        QCOMPARE(cfg.runPath(), tmp.path() + "/work/run");
        QCOMPARE(cfg.versionsPath(), tmp.path() + "/work/versions");
        QCOMPARE(cfg.translationsPath(), tmp.path() + "/work/translations");
        QCOMPARE(cfg.locale().name(), QLocale::system().name());
        // The constructor created every standard directory.
        for (const QString &d : {cfg.workDir(), cfg.loggerPath(), cfg.runPath(),
                                 cfg.versionsPath(), cfg.translationsPath()}) {
            QVERIFY2(QFileInfo(d).isDir(), qPrintable(d));
#ifdef Q_OS_WIN
            // Windows has no sticky bit: the mask leaves the folder writable, and what others
            // may do inside is up to the access list it inherits.
            QCOMPARE(ravixtest::modeBits(d), 0777);
#else
            // Open to everyone, with the sticky bit.
            QCOMPARE(ravixtest::modeBits(d), 01777);
#endif
        }
    }

    void flags_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << "1" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("2") << "2" << true;
        QTest::newRow("-1") << "-1" << true;
        QTest::newRow("true") << "true" << false;
        QTest::newRow("false") << "false" << false;
        QTest::newRow("empty") << "" << false;
    }
    void flags()
    {
        QFETCH(QString, stored);
        QFETCH(bool, expected);
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/workDir", tmp.path() + "/w"},
                        {"LOGS/rotateLogs", stored},
                        {"LOGS/keepLogsHandlers", stored},
                        {"LOGS/cleanAnyOldLogs", stored}});
        InitConfig cfg(path, false);
        QCOMPARE(cfg.rotateLogs(), expected);
        QCOMPARE(cfg.keepLogsHandlers(), expected);
        QCOMPARE(cfg.cleanAnyOldLogs(), expected);
    }

    void storedValues()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/workDir", tmp.path() + "/w"},
                        {"LOGS/logsDir", tmp.path() + "/elsewhere"},
                        {"LOGS/keepLogsDays", "7"}});
        InitConfig cfg(path, false);
        QCOMPARE(cfg.loggerPath(), tmp.path() + "/elsewhere");
        QVERIFY(QFileInfo(tmp.path() + "/elsewhere").isDir());
        QCOMPARE(cfg.keepLogs(), 7);
    }

    void invalidObject()
    {
        QTemporaryDir tmp;
        InitConfig cfg(tmp.path() + "/missing.ini", false);
        QVERIFY(!cfg.isValid());
        QCOMPARE(cfg.keepLogs(), 0);
        QCOMPARE(cfg.rotateLogs(), false);
        QCOMPARE(cfg.keepLogsHandlers(), false);
        QCOMPARE(cfg.cleanAnyOldLogs(), false);
        QCOMPARE(cfg.workDir(), QString());
        QCOMPARE(cfg.loggerPath(), QString());
        QCOMPARE(cfg.runPath(), QStringLiteral("/run"));
        QCOMPARE(cfg.versionsPath(), QStringLiteral("/versions"));
        QCOMPARE(cfg.translationsPath(), QStringLiteral("/translations"));
        QCOMPARE(cfg.locale(), QLocale(QString()));
        QVERIFY(!cfg.value("INIT", "workDir", "dflt").isValid());
        // An invalid configuration creates nothing at the file-system root.
        QVERIFY(!QFileInfo::exists(QStringLiteral("/versions")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/translations")));
    }

    void derivedFollowWorkDir()
    {
        QTemporaryDir tmp;
        MovedConfig cfg(tmp.path() + "/start.ini", tmp.path() + "/moved");
        QCOMPARE(cfg.runPath(), tmp.path() + "/moved/run");
        QCOMPARE(cfg.versionsPath(), tmp.path() + "/moved/versions");
        QCOMPARE(cfg.translationsPath(), tmp.path() + "/moved/translations");
        QCOMPARE(cfg.loggerPath(), tmp.path() + "/moved/logs");
    }

    void localeRoundTrip()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/workDir", tmp.path() + "/w"}});
        InitConfig cfg(path, false);
        cfg.setlocale(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(cfg.locale().name(), QStringLiteral("ru_RU"));
        InitConfig other(path, false);
        QCOMPARE(other.locale().name(), QStringLiteral("ru_RU"));
    }

    void baseWorkDirLowerCase()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/workDir", tmp.path() + "/w"}});
        InitConfig cfg(path, false);
        QCOMPARE(cfg.baseWorkDir(), QStringLiteral("ravixtest"));
        InitConfig::setAppWorkDir(QStringLiteral("MyTerminal"));
        QCOMPARE(InitConfig::appWorkDir(), QStringLiteral("MyTerminal"));
        QCOMPARE(cfg.baseWorkDir(), QStringLiteral("myterminal"));
        InitConfig::setAppWorkDir(QString());
    }

    void defaultWorkDir_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("allUsers");
        QTest::addColumn<QString>("expected");
        QTest::newRow("windows") << int(PlatformConventions::Windows) << "C:\\ProgramData"
                                 << "C:\\ProgramData\\ravixtest";
        QTest::newRow("windows-unset") << int(PlatformConventions::Windows) << QString()
                                       << "\\ravixtest";
        QTest::newRow("posix-set") << int(PlatformConventions::Posix) << "/srv/data"
                                   << "/srv/data/ravixtest";
        QTest::newRow("posix-unset") << int(PlatformConventions::Posix) << QString()
                                     << "/var/lib/ravixtest";
    }
    void defaultWorkDir()
    {
        QFETCH(int, style);
        QFETCH(QString, allUsers);
        QFETCH(QString, expected);
        QProcessEnvironment env;
        if (!allUsers.isNull())
            env.insert("ALLUSERSPROFILE", allUsers);
        QCOMPARE(PlatformConventions::defaultWorkDir("ravixtest", env,
                                                     PlatformConventions::Style(style)),
                 expected);
    }

    void defaultWorkDirInConfig()
    {
        // With no workDir key the configuration falls back to the shared data root.
        QTemporaryDir tmp;
        // Put back afterwards: the test program's own root keeps later cases out of /var/lib.
        const QByteArray previous = qgetenv("ALLUSERSPROFILE");
        qputenv("ALLUSERSPROFILE", tmp.path().toLocal8Bit());
        const QString path = tmp.path() + "/start.ini";
        writeIni(path, {{"INIT/initDt", "x"}});
        InitConfig cfg(path, false);
        const QString expected = tmp.path() + PlatformConventions::nativeSeparator() + "ravixtest";
        QCOMPARE(cfg.workDir(), expected);
        QCOMPARE(cfg.runPath(), expected + "/run");
        QVERIFY(QFileInfo(expected + "/run").isDir());
        qputenv("ALLUSERSPROFILE", previous);
    }

    void conventions()
    {
        QCOMPARE(PlatformConventions::exeSuffix(PlatformConventions::Windows), QStringLiteral(".exe"));
        QCOMPARE(PlatformConventions::exeSuffix(PlatformConventions::Posix), QString());
        QCOMPARE(PlatformConventions::pathListSeparator(PlatformConventions::Windows), QChar(';'));
        QCOMPARE(PlatformConventions::pathListSeparator(PlatformConventions::Posix), QChar(':'));
#ifdef Q_OS_WIN
        QCOMPARE(PlatformConventions::nativeStyle(), PlatformConventions::Windows);
#else
        QCOMPARE(PlatformConventions::nativeStyle(), PlatformConventions::Posix);
#endif
    }

    // Names that the platform's file system takes for one file compare equal.
    void fileNameKey_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        const int win = PlatformConventions::Windows;
        const int posix = PlatformConventions::Posix;
        QTest::newRow("windows: trailing dot") << win << "C:/logs/svc.log." << "C:/logs/svc.log" << true;
        QTest::newRow("windows: dots and spaces") << win << "C:/logs/svc.log. ." << "c:/logs/svc.log" << true;
        QTest::newRow("windows: case") << win << "C:/logs/svc.log.Net" << "C:/logs/svc.log.net" << true;
        QTest::newRow("windows: separators") << win << "C:\\logs\\svc.log" << "C:/logs/svc.log" << true;
        QTest::newRow("windows: other names") << win << "C:/logs/svc.log.net" << "C:/logs/svc.log.nets" << false;
        QTest::newRow("windows: inner dot kept") << win << "C:/logs/svc.log" << "C:/logs/svclog" << false;
        QTest::newRow("posix: trailing dot") << posix << "/logs/svc.log." << "/logs/svc.log" << false;
        QTest::newRow("posix: case") << posix << "/logs/svc.log.Net" << "/logs/svc.log.net" << false;
        QTest::newRow("posix: same") << posix << "/logs/svc.log" << "/logs/svc.log" << true;
    }
    void fileNameKey()
    {
        QFETCH(int, style);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        const auto s = PlatformConventions::Style(style);
        QCOMPARE(PlatformConventions::fileNameKey(a, s) == PlatformConventions::fileNameKey(b, s),
                 same);
    }
};

QTEST_GUILESS_MAIN(TestInitConfig)
#include "tst_initconfig.moc"
