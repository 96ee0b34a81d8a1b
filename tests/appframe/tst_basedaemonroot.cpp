// SPDX-License-Identifier: MIT
#include <ravixcore/appframe/basedaemonroot.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/appframe/ravixcoreinit.h>
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <ravixcore/appframe/platformconventions.h>

#include "testtools.h"

#include <QtTest>

using ravix::BaseDaemonRoot;
using ravix::InitConfig;
using ravix::RavixCoreInit;

namespace {

// The library's Russian texts of its log banners.
const QString RU_START = QStringLiteral("Начало журналирования");
const QString RU_STOP = QStringLiteral("Окончание журналирования");

struct ChildResult
{
    int code = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QMap<QString, QString> values; // key=value lines of stdout
    QString err;
};

QString childPath()
{
    return QCoreApplication::applicationDirPath() + "/ravix_rootchild" +
           ravix::PlatformConventions::exeSuffix();
}

QMap<QString, QString> parseValues(const QByteArray &out)
{
    QMap<QString, QString> values;
    // The child writes text: on Windows its lines end with CR LF.
    const QByteArray text = ravixtest::platformText(out);
    for (const QString &line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

ChildResult runChild(const QStringList &args, const QString &cwd)
{
    ChildResult r;
    QProcess p;
    p.setWorkingDirectory(cwd);
#ifdef Q_OS_WIN
    // Qt's own message handler writes to the debugger there unless told to use stderr.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
#endif
    p.start(childPath(), args);
    if (!p.waitForStarted(30000) || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitCode();
    r.status = p.exitStatus();
    r.values = parseValues(p.readAllStandardOutput());
    r.err = QString::fromUtf8(ravixtest::platformText(p.readAllStandardError()));
    return r;
}

// A log file's text; lines end with the platform's line end in the file.
QString readText(const QString &path)
{
    return QString::fromUtf8(ravixtest::readTextFile(path));
}

// A start-up file in a temporary tree; the work directory lies beside it.
struct Setup
{
    QTemporaryDir tmp;
    QString ini;
    QString work;

    explicit Setup(const QString &locale, const QString &logsDir = QString(), int rotate = 1)
    {
        ini = tmp.path() + "/etc/daemon.ini";
        work = tmp.path() + "/work";
        InitConfig cfg(ini, true);
        cfg.setValue(InitConfig::INIT_SECTION, InitConfig::WORK_DIR, work);
        cfg.setValue(InitConfig::INIT_SECTION, InitConfig::LOCALE, locale);
        cfg.setValue(InitConfig::LOGS_SECTION, InitConfig::ROTATE_LOGS, rotate);
        if (!logsDir.isEmpty())
            cfg.setValue(InitConfig::LOGS_SECTION, InitConfig::LOGS_DIR,
                         tmp.path() + "/" + logsDir);
    }
    QString logs() const { return InitConfig(ini, false).loggerPath(); }
    QString translations() const { return work + "/translations"; }
    QStringList logFiles() const { return QDir(logs()).entryList(QDir::Files, QDir::Name); }
};

QString qmDir()
{
    return qEnvironmentVariable("RAVIX_QM_DIR");
}

class Root : public BaseDaemonRoot
{
public:
    Root(int &argc, const QString &ini) : BaseDaemonRoot(argc, nullptr, ini, true) {}
    using BaseDaemonRoot::doSetupLocale;

protected:
    bool initApp() override { return true; }
};

} // namespace

class TestBaseDaemonRoot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(childPath()).isExecutable(), qPrintable(childPath()));
        QVERIFY2(QFileInfo::exists(qmDir() + "/ravixcore_ru.qm"),
                 "RAVIX_QM_DIR holds no ravixcore_ru.qm");
    }

    // The hook's false result stops init(): no log, no version file, Qt's own handler. A
    // hook that forgets the application object fails the same way instead of crashing.
    void hookFalseLeavesProcessAlone_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("hook returns false") << "hookfails";
        QTest::newRow("no application object") << "noapp";
    }
    void hookFalseLeavesProcessAlone()
    {
        QFETCH(QString, mode);
        Setup s(QStringLiteral("ru_RU"));
        const ChildResult r = runChild({mode, s.ini}, s.tmp.path());
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.values.value("init"), QStringLiteral("0"));
        QVERIFY2(r.err.contains("marker-after-init"), qPrintable(r.err));
        QCOMPARE(s.logFiles(), QStringList());
        QCOMPARE(QDir(s.work + "/versions").entryList(QDir::Files), QStringList());
    }

    void initStartsLogging_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("logsDir"); // empty: beside the work directory
        QTest::addColumn<int>("rotate");
        QTest::addColumn<QString>("stopText");

        QTest::newRow("russian") << "ru_RU"
                                 << "" << 1 << RU_STOP;
        QTest::newRow("english") << "en_US"
                                 << "" << 1 << "Stop logging";
        QTest::newRow("no catalogue") << "de_DE"
                                      << "" << 1 << "Stop logging";
        QTest::newRow("own logs dir") << "ru_RU"
                                      << "var/log/d" << 1 << RU_STOP;
        QTest::newRow("one file") << "en_US"
                                  << "" << 0 << "Stop logging";
    }
    void initStartsLogging()
    {
        QFETCH(QString, locale);
        QFETCH(QString, logsDir);
        QFETCH(int, rotate);
        QFETCH(QString, stopText);

        Setup s(locale, logsDir, rotate);
        // The host ships the library's catalogues into its translations directory.
        QVERIFY(RavixCoreInit::installCatalogues(s.translations(), qmDir()));

        const ChildResult r = runChild({"init", s.ini}, s.tmp.path());
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.values.value("init"), QStringLiteral("1"));
        QCOMPARE(r.values.value("property"), s.ini);
        QCOMPARE(r.values.value("locale"), locale);
        QCOMPARE(r.values.value("stoptext"), stopText);

        // One log file in the configured directory, named after the application.
        const QStringList files = s.logFiles();
        QCOMPARE(files.size(), 1);
        if (rotate)
            QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_rootchild\\.log$")
                         .match(files.first())
                         .hasMatch(),
                     qPrintable(files.first()));
        else
            QCOMPARE(files.first(), QStringLiteral("rootchild.log"));
        if (!logsDir.isEmpty())
            QCOMPARE(s.logs(), s.tmp.path() + "/" + logsDir);

        // Start banner (written before the locale is set up), the message, the stop banner.
        const QString log = readText(s.logs() + "/" + files.first());
        const int start = log.indexOf("Start logging");
        const int marker = log.indexOf("marker-after-init");
        const int stop = log.indexOf(stopText);
        QVERIFY2(start >= 0 && marker > start && stop > marker, qPrintable(log));
        QVERIFY(!log.contains("marker-after-stop"));
        if (stopText == RU_STOP)
            QVERIFY(!log.contains("Stop logging"));

        // The file output alone is on; after stop() Qt's own handler writes to stderr.
        QVERIFY2(!r.err.contains("marker-after-init"), qPrintable(r.err));
        QVERIFY2(r.err.contains("marker-after-stop"), qPrintable(r.err));

        // The version file names every registered component.
        const auto versions =
            ravix::AppVersionManager::loadVersions(s.work + "/versions", "rootchild").versions();
        QCOMPARE(versions.keys(), QStringList({"ravixcore", "rootchild"}));
        QCOMPARE(versions.value("ravixcore").version(), QStringLiteral("1.3.1"));
    }

    // "qt" and "qtbase" come first, then every registered catalogue; missing ones are skipped.
    void catalogueOrder()
    {
        Setup s(QStringLiteral("ru_RU"));
        QVERIFY(RavixCoreInit::installCatalogues(s.translations(), qmDir()));
        ChildResult r = runChild({"init", s.ini}, s.tmp.path());
        QCOMPARE(r.code, 0);
        QStringList list = r.values.value("catalogues").split(',');
        QCOMPARE(list.mid(0, 2), QStringList({"qt:0", "qtbase:0"}));
        QStringList rest = list.mid(2);
        rest.sort();
        QCOMPARE(rest, QStringList({"host:0", "ravixcore:1"}));

        // Any valid catalogue file serves to show which names are looked up.
        for (const char *name : {"qt", "qtbase", "host"})
            QVERIFY(QFile::copy(s.translations() + "/ravixcore_ru.qm",
                                s.translations() + "/" + QLatin1String(name) + "_ru.qm"));
        r = runChild({"init", s.ini}, s.tmp.path());
        list = r.values.value("catalogues").split(',');
        QCOMPARE(list.mid(0, 2), QStringList({"qt:1", "qtbase:1"}));
        rest = list.mid(2);
        rest.sort();
        QCOMPARE(rest, QStringList({"host:1", "ravixcore:1"}));
    }

    // Without the start-up file the process logs nothing, anywhere.
    void noStartupFileIsSilent()
    {
        QTemporaryDir tmp;
        const QString ini = tmp.path() + "/missing.ini";
        const ChildResult r = runChild({"init", ini}, tmp.path());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.values.value("init"), QStringLiteral("1"));
        QCOMPARE(r.values.value("property"), ini);
        QVERIFY2(!r.err.contains("marker-after-init"), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(ini));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A daemon that cannot log says so once on stderr, naming the place and the reason;
    // init() still returns what it always did.
    void unusableLogPlaceIsReported_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("reason");
        QTest::newRow("start-up file missing") << "noini" << "No such file or directory";
        QTest::newRow("logs folder below a file") << "blocked" << "is not a folder";
        QTest::newRow("logs folder is a file") << "file" << "is not a folder";
    }
    void unusableLogPlaceIsReported()
    {
        QFETCH(QString, situation);
        QFETCH(QString, reason);
        Setup s(QStringLiteral("en_US"), QStringLiteral("blocker/logs"));
        QString ini = s.ini;
        QString named = s.logs();
        QFile blocker(s.tmp.path() + "/blocker");
        if (situation == "noini") {
            ini = s.tmp.path() + "/absent/daemon.ini";
            named = ini;
        } else {
            if (situation == "file") {
                InitConfig(s.ini, false).setValue(InitConfig::LOGS_SECTION, InitConfig::LOGS_DIR,
                                                   blocker.fileName());
                named = blocker.fileName();
            }
            QDir(blocker.fileName()).removeRecursively();
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
        }

#ifdef Q_OS_WIN
        // The system's own text, which differs between Windows versions (and Wine).
        if (situation == "noini") {
            QFile missing(ini);
            QVERIFY(!missing.open(QIODevice::ReadOnly));
            reason = missing.errorString();
        }
#endif
        const ChildResult r = runChild({"init", ini}, s.tmp.path());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.values.value("init"), QStringLiteral("1"));
        const QStringList lines = r.err.split('\n').filter(QDir::toNativeSeparators(named));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(reason), qPrintable(lines.first()));
    }

    // A process silenced on purpose (keepLogsDays=0) says nothing.
    void silencedProcessSaysNothing()
    {
        Setup s(QStringLiteral("en_US"));
        InitConfig(s.ini, false).setValue(InitConfig::LOGS_SECTION, InitConfig::KEEP_LOGS, 0);
        const ChildResult r = runChild({"init", s.ini}, s.tmp.path());
        QCOMPARE(r.values.value("init"), QStringLiteral("1"));
        QVERIFY2(!r.err.contains(s.tmp.path()), qPrintable(r.err));
    }

    // Without init() there is no logs directory: the closing line goes to stderr.
    void stopWithoutInit()
    {
        QTemporaryDir tmp;
        const ChildResult r = runChild({"stoponly", tmp.path() + "/none.ini"}, tmp.path());
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains("Stop logging"), qPrintable(r.err));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // SIGTERM reaches the event loop, which stops the root (releasing the log) and leaves
    // with exit code 0, also while other threads log. A loop that never answers still ends
    // the process with 0 after a few seconds.
    void sigterm_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("released"); // the stop banner closes the log
        QTest::newRow("root handles SIGTERM") << "serve" << false << true;
        QTest::newRow("threads logging") << "servethreads" << false << true;
        QTest::newRow("loop never answers") << "hang" << false << false;
        QTest::newRow("signals left alone") << "serve" << true << false;
    }
    void sigterm()
    {
#ifdef Q_OS_WIN
        QSKIP("no process can send SIGTERM to a Windows program: QProcess::terminate() posts "
              "WM_CLOSE, which a console program never gets");
#endif
        QFETCH(QString, mode);
        QFETCH(bool, keep);
        QFETCH(bool, released);
        Setup s(QStringLiteral("en_US"));
        QProcess p;
        p.setWorkingDirectory(s.tmp.path());
        QStringList args{mode, s.ini};
        if (keep)
            args << "keep";
        p.start(childPath(), args);
        QVERIFY(p.waitForStarted(30000));
        QByteArray out;
        while (!out.contains("ready=1") && p.state() == QProcess::Running) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        QVERIFY2(out.contains("ready=1"), out.constData());
        p.terminate();
        QVERIFY(p.waitForFinished(120000));
        if (keep) {
            QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        } else {
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
        }
        const QStringList files = s.logFiles();
        QCOMPARE(files.size(), 1);
        const QString log = readText(s.logs() + "/" + files.first());
        QVERIFY(log.contains("Start logging"));
        if (mode == "servethreads")
            QVERIFY(log.contains("worker record"));
        const QStringList lines = log.trimmed().split('\n');
        QVERIFY(!lines.isEmpty());
        if (released)
            QVERIFY2(lines.last().contains("Stop logging"), qPrintable(lines.last()));
        else
            QVERIFY(!log.contains("Stop logging"));
    }

    void firstRootIsTheInstance()
    {
        int argc = 0;
        QCOMPARE(BaseDaemonRoot::_instance, nullptr);
        auto *first = new Root(argc, QString());
        auto *second = new Root(argc, QString());
        QCOMPARE(BaseDaemonRoot::_instance, first);
        delete second;
        QCOMPARE(BaseDaemonRoot::_instance, first);
        delete first;
        QCOMPARE(BaseDaemonRoot::_instance, nullptr);
        Root third(argc, QString());
        QCOMPARE(BaseDaemonRoot::_instance, &third);
        QCOMPARE(third.metaObject()->className(), "ravix::BaseDaemonRoot");
    }

    // Switching the locale at run time replaces the catalogues of the previous one.
    void localeSwitch()
    {
        Setup s(QStringLiteral("ru_RU"));
        QVERIFY(RavixCoreInit::installCatalogues(s.translations(), qmDir()));
        int argc = 0;
        {
            Root root(argc, s.ini);
            root.setUpLocale();
            QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
            QCOMPARE(QObject::tr("Stop logging"), RU_STOP);
            QCOMPARE(QObject::tr("Start logging"), RU_START);

            QVERIFY(
                QMetaObject::invokeMethod(&root, "setUpLocale", Q_ARG(QLocale, QLocale("en_GB"))));
            QCOMPARE(QLocale().name(), QStringLiteral("en_GB"));
            QCOMPARE(QObject::tr("Stop logging"), QStringLiteral("Stop logging"));

            root.doSetupLocale(QLocale("ru_RU"));
            QCOMPARE(QObject::tr("Stop logging"), RU_STOP);
            // One translator per catalogue, not one per call.
            QCOMPARE(root.findChildren<QTranslator *>().size(),
                     2 + ravix::AppVersionManager::localisations().size());
        }
        // The root's catalogues go with it.
        QCOMPARE(QObject::tr("Stop logging"), QStringLiteral("Stop logging"));
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(TestBaseDaemonRoot)
#include "tst_basedaemonroot.moc"
