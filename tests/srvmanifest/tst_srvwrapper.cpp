// SPDX-License-Identifier: MIT
#include <ravixcore/srvmanifest/srvwrapper.h>

#include "messagecapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>

#include <psapi.h>
#endif

using ravix::BaseSrvWrapper;
using ravix::ExeInstance;
using ravix::PlatformConventions;
using ravix::SrvWrapper;

Q_DECLARE_METATYPE(PlatformConventions::Style)

namespace {

constexpr int LONG_WAIT_MS = 120000;
const QString SLEEP_FOREVER = QStringLiteral("600000");

// Resident memory of this process in bytes.
qint64 residentBytes()
{
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters;
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? qint64(counters.WorkingSetSize)
               : -1;
#else
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : -1;
#endif
}

#ifdef Q_OS_WIN
// A copy of the helper in \a dir with the DLLs it loads beside it, as Windows programs are
// deployed: a child without the host's PATH finds its DLLs only there and in the system's
// folders. They are the ones this process has loaded. False when one is missing.
bool deployHelper(const QString &dir)
{
    const QString helper = QStringLiteral(SRVHELPER_PATH);
    if (!QFile::copy(helper, dir + QLatin1Char('/') + QFileInfo(helper).fileName()))
        return false;
    for (const wchar_t *dll :
         {L"Qt5Core.dll", L"libstdc++-6.dll", L"libgcc_s_seh-1.dll", L"libwinpthread-1.dll"}) {
        wchar_t path[MAX_PATH];
        const HMODULE module = GetModuleHandleW(dll);
        const DWORD size = module ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
        if (size == 0 || size >= MAX_PATH ||
            !QFile::copy(QString::fromWCharArray(path, int(size)),
                         dir + QLatin1Char('/') + QString::fromWCharArray(dll)))
            return false;
    }
    return true;
}
#endif

// Records the wrapper's signals in order, as "started:<exe>" and "finished:<exe>".
struct EventLog
{
    explicit EventLog(BaseSrvWrapper *wrapper)
    {
        QObject::connect(wrapper, &BaseSrvWrapper::started,
                         [this](const QString &exe) { events << "started:" + exe; });
        QObject::connect(wrapper, &BaseSrvWrapper::finished,
                         [this](const QString &exe) { events << "finished:" + exe; });
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &event : events)
            n += event.startsWith(prefix) ? 1 : 0;
        return n;
    }
    QStringList events;
};

} // namespace

class TestSrvWrapper : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_helperName;

    // The helper as a service; its arguments say what it does.
    ExeInstance helper(const QStringList &params) const
    {
        const QFileInfo file(QStringLiteral(SRVHELPER_PATH));
        ExeInstance instance;
        instance.setExePath(file.absolutePath());
        instance.setName(file.completeBaseName());
        instance.setWorkDir(m_tmp.path());
        instance.setParams(params);
        return instance;
    }

    static QProcess *processOf(BaseSrvWrapper *wrapper) { return wrapper->findChild<QProcess *>(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY2(QFileInfo(QStringLiteral(SRVHELPER_PATH)).isExecutable(), SRVHELPER_PATH);
        m_helperName = helper({}).name();
        QVERIFY(helper({}).isValid());
    }

    void startAndStop()
    {
        std::unique_ptr<BaseSrvWrapper> wrapper(
            BaseSrvWrapper::create(helper({"--sleep", SLEEP_FOREVER}), nullptr));
        QVERIFY(qobject_cast<SrvWrapper *>(wrapper.get()));
        QVERIFY(wrapper->isValid());
        QVERIFY(!wrapper->isRunned());
        QCOMPARE(wrapper->instance(), helper({"--sleep", SLEEP_FOREVER}));
        EventLog log(wrapper.get());
        QSignalSpy started(wrapper.get(), &BaseSrvWrapper::started);
        ravixtest::MessageCapture capture;

        // Hosts reach the slots by signature, without the argument.
        QVERIFY(QMetaObject::invokeMethod(wrapper.get(), "start"));
        // On Windows the child is created, and started() emitted, within the call.
        QVERIFY(started.count() > 0 || started.wait(LONG_WAIT_MS));
        QCOMPARE(started.first().first().toString(), m_helperName);
        QVERIFY(wrapper->isRunned());

        wrapper->stop(true);
        QVERIFY(!wrapper->isRunned());
        QCOMPARE(log.events, QStringList({"started:" + m_helperName, "finished:" + m_helperName}));
        // A restart would have happened within the finish; let queued events run anyway.
        QCoreApplication::processEvents();
        QVERIFY(!wrapper->isRunned());
        QCOMPARE(log.events.size(), 2);

        // Stopping a stopped wrapper does nothing; the asynchronous stop ends the child too.
        wrapper->stop(true);
        QCOMPARE(log.events.size(), 2);
        wrapper->start(true);
        QVERIFY(wrapper->isRunned());
        QVERIFY(QMetaObject::invokeMethod(wrapper.get(), "stop"));
        QTRY_VERIFY_WITH_TIMEOUT(!wrapper->isRunned(), LONG_WAIT_MS);
        QCOMPARE(log.count("finished:"), 2);
        QCOMPARE(log.count("started:"), 2);
        // A child ended because the wrapper was told to stop did not crash.
        QCOMPARE(capture.messages(QtCriticalMsg), QStringList());
    }

    void restartsWhenChildEnds_data()
    {
        QTest::addColumn<QStringList>("params");
        QTest::addColumn<bool>("crash");
        QTest::newRow("exit 0") << QStringList{"--exit", "0"} << false;
        QTest::newRow("exit 3") << QStringList{"--exit", "3"} << false;
        QTest::newRow("abort") << QStringList{"--abort"} << true;
    }
    void restartsWhenChildEnds()
    {
        QFETCH(QStringList, params);
        QFETCH(bool, crash);
        ravixtest::MessageCapture capture;
        SrvWrapper wrapper(helper(params));
        EventLog log(&wrapper);
        wrapper.start();
        QTRY_VERIFY_WITH_TIMEOUT(log.count("finished:") >= 2, LONG_WAIT_MS);
        const QStringList criticalBeforeStop = capture.messages(QtCriticalMsg);
        wrapper.stop(true);
        QVERIFY(!wrapper.isRunned());

        QCOMPARE(log.events.mid(0, 4),
                 QStringList({"started:" + m_helperName, "finished:" + m_helperName,
                              "started:" + m_helperName, "finished:" + m_helperName}));
#ifdef Q_OS_WIN
        // The helper crashes there by an access violation, whose code is its exit code.
        const int crashCode = int(0xC0000005);
#else
        const int crashCode = SIGABRT;
#endif
        const QString crashLine =
            QStringLiteral("%1 is crashed with code  %2").arg(m_helperName).arg(crashCode);
        if (crash) {
            // Qt reports the crash as a process error as well.
            QVERIFY2(criticalBeforeStop.contains(crashLine),
                     qPrintable(criticalBeforeStop.join('\n')));
            QVERIFY(criticalBeforeStop.contains(m_helperName + " Error: 1"));
        } else {
            QCOMPARE(criticalBeforeStop, QStringList());
        }
    }

    void startOnRunningRestarts()
    {
        SrvWrapper wrapper(helper({"--sleep", SLEEP_FOREVER}));
        EventLog log(&wrapper);
        wrapper.start(true);
        QVERIFY(wrapper.isRunned());
        const qint64 firstPid = processOf(&wrapper)->processId();
        QVERIFY(firstPid > 0);

        for (bool sync : {true, false}) {
            const int before = log.events.size();
            wrapper.start(sync);
            QTRY_VERIFY_WITH_TIMEOUT(log.events.size() == before + 2, LONG_WAIT_MS);
            QCOMPARE(log.events.mid(before),
                     QStringList({"finished:" + m_helperName, "started:" + m_helperName}));
            QVERIFY(wrapper.isRunned());
            QVERIFY(processOf(&wrapper)->processId() != firstPid);
        }
        wrapper.stop(true);
    }

    void invalidServiceNeverStarts_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("missing executable") << m_tmp.path() << "no-such-service";
        QTest::newRow("no name") << m_tmp.path() << "";
        QTest::newRow("no folder") << ""
                                   << "srvhelper";
    }
    void invalidServiceNeverStarts()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        ExeInstance instance;
        instance.setExePath(folder);
        instance.setName(name);
        ravixtest::MessageCapture capture;
        SrvWrapper wrapper(instance);
        EventLog log(&wrapper);
        QVERIFY(!wrapper.isValid());
        wrapper.start(true);
        wrapper.start(false);
        QCoreApplication::processEvents();
        QVERIFY(!wrapper.isRunned());
        QVERIFY(log.events.isEmpty());
        QVERIFY(!processOf(&wrapper));
        QCOMPARE(capture.messages(QtCriticalMsg), QStringList());
    }

    void failedStartLogsError_data()
    {
        QTest::addColumn<bool>("sync");
        QTest::newRow("async") << false;
        QTest::newRow("sync") << true;
    }
    void failedStartLogsError()
    {
        QFETCH(bool, sync);
        // Executable by its mode, but nothing can run it.
        const QString broken = m_tmp.filePath("broken" + PlatformConventions::exeSuffix());
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/no/such/interpreter\n");
            file.close();
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        }
        ExeInstance instance;
        instance.setExePath(m_tmp.path());
        instance.setName("broken");
        instance.setWorkDir(m_tmp.path());
        QVERIFY(instance.isValid());

        ravixtest::MessageCapture capture;
        SrvWrapper wrapper(instance);
        EventLog log(&wrapper);
        wrapper.start(sync);
        const QString line = instance.name() + " Error: 0";
        QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QtCriticalMsg, line), LONG_WAIT_MS);
        QCOMPARE(capture.messages(QtCriticalMsg), QStringList{line});
        QVERIFY(!wrapper.isRunned());
        // No finish, so no restart.
        QCoreApplication::processEvents();
        QVERIFY(log.events.isEmpty());
    }

    void childEnvironment_data()
    {
        QTest::addColumn<bool>("hostHasPath");
        QTest::newRow("host with PATH") << true;
        QTest::newRow("host without PATH") << false;
    }
    void childEnvironment()
    {
        QFETCH(bool, hostHasPath);
        const QByteArray oldPath = qgetenv("PATH");
        const QByteArray oldPlugins = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", oldPath);
            if (oldPlugins.isNull())
                qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
            else
                qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", oldPlugins);
            qunsetenv("RAVIX_WRAPPER_INHERITED");
        });
        if (!hostHasPath)
            qunsetenv("PATH");
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/somewhere/else");
        qputenv("RAVIX_WRAPPER_INHERITED", "yes");

        const QString dumpFile = m_tmp.filePath(QStringLiteral("dump-%1.json").arg(hostHasPath));
        const QString mark = dumpFile + ".done";
        const QStringList params = {
            "--dump",  dumpFile,      "--mark",    mark,
            "--sleep", SLEEP_FOREVER, "two words", QStringLiteral("\u00fcml\u00e4ut"),
            ""};
        QTemporaryDir workDir;
        ExeInstance instance = helper(params);
        instance.setWorkDir(workDir.path());
#ifdef Q_OS_WIN
        QTemporaryDir deployed;
        if (!hostHasPath) {
            QVERIFY(deployHelper(deployed.path()));
            instance.setExePath(deployed.path());
        }
#endif

        SrvWrapper wrapper(instance);
        wrapper.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mark), LONG_WAIT_MS);
        wrapper.stop(true);

        QFile file(dumpFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject dump = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(dump.value("args").toVariant().toStringList(), params);
        QCOMPARE(QFileInfo(dump.value("cwd").toString()).canonicalFilePath(),
                 QFileInfo(workDir.path()).canonicalFilePath());
        const QJsonObject env = dump.value("env").toObject();
        const QString hostDir = QCoreApplication::applicationDirPath();
        QCOMPARE(env.value("QT_QPA_PLATFORM_PLUGIN_PATH").toString(),
                 QDir::toNativeSeparators(hostDir));
        // Only a POSIX PATH takes an empty entry for the working folder (see
        // serviceEnvironment()); Windows passes over it.
        const bool posix = PlatformConventions::nativeStyle() == PlatformConventions::Posix;
        const QString sep = PlatformConventions::pathListSeparator();
        const QString expectedPath = hostHasPath ? hostDir + sep + oldPath
                                     : posix     ? hostDir
                                                 : hostDir + sep;
        QCOMPARE(env.value("PATH").toString(), expectedPath);
        QCOMPARE(env.value("RAVIX_WRAPPER_INHERITED").toString(), QStringLiteral("yes"));
    }

    void serviceEnvironment_data()
    {
        QTest::addColumn<PlatformConventions::Style>("style");
        QTest::addColumn<QString>("hostDir");
        QTest::addColumn<QString>("oldPath"); // "-": no PATH at all
        QTest::addColumn<QString>("pluginPath");
        QTest::addColumn<QString>("path");
        const auto win = PlatformConventions::Windows;
        const auto posix = PlatformConventions::Posix;
        // clang-format off
        QTest::newRow("windows") << win << "C:/srv/host" << "C:\\Windows;C:\\bin" << "C:\\srv\\host" << "C:/srv/host;C:\\Windows;C:\\bin";
        QTest::newRow("windows, no PATH") << win << "C:/srv/host" << "-" << "C:\\srv\\host" << "C:/srv/host;";
        QTest::newRow("posix") << posix << "/opt/host" << "/usr/bin:/bin" << "/opt/host" << "/opt/host:/usr/bin:/bin";
        QTest::newRow("posix, no PATH") << posix << "/opt/host" << "-" << "/opt/host" << "/opt/host";
        QTest::newRow("posix, empty PATH") << posix << "/opt/host" << "" << "/opt/host" << "/opt/host";
        // clang-format on
    }
    void serviceEnvironment()
    {
        QFETCH(PlatformConventions::Style, style);
        QFETCH(QString, hostDir);
        QFETCH(QString, oldPath);
        QProcessEnvironment base;
        base.insert("KEEP", "me");
        base.insert("QT_QPA_PLATFORM_PLUGIN_PATH", "/old/plugins");
        if (oldPath != "-")
            base.insert("PATH", oldPath);
        const QProcessEnvironment env = SrvWrapper::serviceEnvironment(base, hostDir, style);
        QTEST(env.value("QT_QPA_PLATFORM_PLUGIN_PATH"), "pluginPath");
        QTEST(env.value("PATH"), "path");
        QCOMPARE(env.value("KEEP"), QStringLiteral("me"));
        QCOMPARE(env.keys().size(), 3);
    }

    void chattyChildLeavesMemoryFlat()
    {
        constexpr qint64 flood = 256 * 1024 * 1024;
        const QString mark = m_tmp.filePath("flood.done");
        SrvWrapper wrapper(
            helper({"--flood", QString::number(flood), "--mark", mark, "--sleep", SLEEP_FOREVER}));
        const qint64 before = residentBytes();
        QVERIFY(before > 0);
        wrapper.start();
        // The event loop runs while waiting, so output read by the host would pile up now.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mark), LONG_WAIT_MS);
        QCoreApplication::processEvents();

        QProcess *process = processOf(&wrapper);
        QVERIFY(process);
        QCOMPARE(process->bytesAvailable(), qint64(0));
        process->setReadChannel(QProcess::StandardError);
        QCOMPARE(process->bytesAvailable(), qint64(0));
        const qint64 growth = residentBytes() - before;
        QVERIFY2(growth < 64 * 1024 * 1024, qPrintable(QString::number(growth)));
        wrapper.stop(true);
    }

    void destroyingWrapperEndsChild()
    {
        auto *wrapper = new SrvWrapper(helper({"--sleep", SLEEP_FOREVER}));
        wrapper->start(true);
        QVERIFY(wrapper->isRunned());
        const qint64 pid = processOf(wrapper)->processId();
        ravixtest::MessageCapture capture;
        delete wrapper;
        // Gone and reaped, without Qt's complaint about a process destroyed while running.
        QCOMPARE(capture.messages(QtWarningMsg), QStringList());
#ifdef Q_OS_UNIX
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        QCOMPARE(errno, ESRCH);
#else
        Q_UNUSED(pid)
#endif
    }

    void ownedByParent()
    {
        QObject parent;
        QPointer<BaseSrvWrapper> wrapper = BaseSrvWrapper::create(helper({}), &parent);
        QCOMPARE(wrapper->parent(), &parent);
        QVERIFY(!wrapper->isRunned());
        QVERIFY(!processOf(wrapper));
    }
};

QTEST_GUILESS_MAIN(TestSrvWrapper)
#include "tst_srvwrapper.moc"
