// SPDX-License-Identifier: MIT
#include <ravixcore/logger/loggermanager.h>

#include "logger/loggermanager_p.h"

#include <ravixcore/appframe/platformconventions.h>
#include "testtools.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcNetwork, "network")

namespace {

const QString kIndent(15, QLatin1Char(' '));

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// A log file's text; lines end with the platform's line end in the file.
QString readAll(const QString &path)
{
    return QString::fromLocal8Bit(ravixtest::readTextFile(path));
}

// Time stamps and date lines vary from run to run; the rest of a record does not.
QString normalized(QString text)
{
    text.replace(QRegularExpression(QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ")),
                 QStringLiteral("[T] "));
    text.replace(QRegularExpression(QStringLiteral("^\\[\\d\\d-\\d\\d-\\d\\d\\]$"),
                                    QRegularExpression::MultilineOption),
                 QStringLiteral("[D]"));
    return text;
}

// What follows the start banner in a log file.
QString afterStart(const QString &path)
{
    const QString text = readAll(path);
    const QString mark = QStringLiteral("Start logging\n");
    const int at = text.lastIndexOf(mark);
    return at < 0 ? QStringLiteral("<no start banner>") : normalized(text.mid(at + mark.size()));
}

void send(QtMsgType type, const QString &message, const char *category = "default",
          const char *file = nullptr, int line = 0, const char *function = nullptr)
{
    QMessageLogContext context(file, line, function, category);
    LoggerManager::logMessageOutput(type, context, message);
}

QString threadIdField()
{
    const auto id = reinterpret_cast<quintptr>(QThread::currentThreadId());
    return QString::number(static_cast<qulonglong>(id), 16).leftJustified(16);
}

// Runs \a work with the standard error stream appending to \a path.
bool withStandardErrorTo(const QString &path, const std::function<void()> &work)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return false;
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(fd, 2);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(fd);
    return true;
}

QtMessageHandler currentHandler()
{
    const QtMessageHandler h = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(h);
    return h;
}

} // namespace

class TestLoggerManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void recordFormat_data();
    void recordFormat();
    void textInTheLocaleCodePage_data();
    void textInTheLocaleCodePage();
    void dateLineWithoutDailyFiles();
    void routing_data();
    void routing();
    void qtMacrosReachTheirFiles();
    void customOutput();
    void minimumLevel();
    void fileNames_data();
    void fileNames();
    void noMoreLogsMarker();
    void silentInit_data();
    void silentInit();
    void releaseEndsWithStopBanner();
    void standardErrorBeforeFile();
    void secondInitKeepsOneTimer();
    void unusableFileGoesToStandardError_data();
    void unusableFileGoesToStandardError();
    void manyThreads_data();
    void manyThreads();
    void threadsEndingWhileOthersLog_data();
    void threadsEndingWhileOthersLog();
    void namesOfOneFileShareAWriter_data();
    void namesOfOneFileShareAWriter();
    void locationFromReusedBuffersAndThreads();

private:
    QString dailyFile(const QString &writer = QStringLiteral("log")) const
    {
        return m_dir->filePath(today() + QStringLiteral("_svc.") + writer);
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestLoggerManager::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("svc"));
}

void TestLoggerManager::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setOutputs(QMap<QString, LoggerManager::OutputFunction>());
    LoggerManager::setKeepLogHandlers(true);
    LoggerManager::setDefaultSuffix(QStringLiteral("log"));
}

void TestLoggerManager::cleanup()
{
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    m_dir.reset();
}

void TestLoggerManager::recordFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("short debug") << int(QtDebugMsg) << QByteArray() << 0
                                 << QStringLiteral("[T] INFO:     text\n");
    QTest::newRow("short warning")
        << int(QtWarningMsg) << QByteArray() << 0 << QStringLiteral("[T] WARNING:  text\n");
    QTest::newRow("short critical")
        << int(QtCriticalMsg) << QByteArray() << 0 << QStringLiteral("[T] CRITICAL: text\n");
    QTest::newRow("short fatal") << int(QtFatalMsg) << QByteArray() << 0
                                 << QStringLiteral("[T] FATAL:    text\n");
    QTest::newRow("short info has no word")
        << int(QtInfoMsg) << QByteArray() << 0 << QStringLiteral("[T] text\n");

    const QString location = QStringLiteral("source.cpp                      42   THREAD_ID:    ");
    const QString tail = QStringLiteral("\n") + kIndent + "fn()\n" + kIndent + "text\n";
    QTest::newRow("long debug") << int(QtDebugMsg) << QByteArray("/a/b/source.cpp") << 42
                                << "[T] INFO IN:        " + location + "%ID%" + tail;
    QTest::newRow("long warning") << int(QtWarningMsg) << QByteArray("source.cpp") << 42
                                  << "[T] WARNING IN:     " + location + "%ID%" + tail;
    QTest::newRow("long critical") << int(QtCriticalMsg) << QByteArray("c:/x/source.cpp") << 42
                                   << "[T] CRITICAL IN:    " + location + "%ID%" + tail;
    QTest::newRow("long fatal") << int(QtFatalMsg) << QByteArray("source.cpp") << 42
                                << "[T] FATAL IN:       " + location + "%ID%" + tail;
    QTest::newRow("long info has no word")
        << int(QtInfoMsg) << QByteArray("source.cpp") << 42 << "[T] " + location + "%ID%" + tail;
    QTest::newRow("line alone makes the long form")
        << int(QtWarningMsg) << QByteArray() << 7
        << "[T] WARNING IN:                                     7    THREAD_ID:    %ID%" + tail;
    QTest::newRow("long values are never cut")
        << int(QtWarningMsg) << QByteArray("a_file_name_longer_than_its_field.cpp") << 123456
        << "[T] WARNING IN:     a_file_name_longer_than_its_field.cpp123456THREAD_ID:    %ID%" +
               tail;
}

void TestLoggerManager::recordFormat()
{
    QFETCH(int, type);
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(QString, expected);

    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true, QtDebugMsg));
    send(QtMsgType(type), QStringLiteral("text"), "default", file.isNull() ? nullptr : file.data(),
         line, "fn()");
    expected.replace(QStringLiteral("%ID%"), threadIdField());
    QCOMPARE(afterStart(dailyFile()), expected);
}

// ASCII records are copied straight into the file; any other text, wherever it starts, goes
// through the codec whole, in a located record as in a short one. Log files are written in the
// code page the process takes its text in (UTF-8, as the application root sets it), not in the
// Windows ANSI code page, which has no Cyrillic letters where the local one is Western.
void TestLoggerManager::textInTheLocaleCodePage_data()
{
    QTest::addColumn<QByteArray>("codecName");
    QTest::newRow("UTF-8") << QByteArray("UTF-8");
    QTest::newRow("Windows-1251") << QByteArray("Windows-1251");
}

void TestLoggerManager::textInTheLocaleCodePage()
{
    QFETCH(QByteArray, codecName);
    QTextCodec *codec = QTextCodec::codecForName(codecName);
    QVERIFY(codec);
    QTextCodec *const previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(codec);
    const auto restore = qScopeGuard([previous] { QTextCodec::setCodecForLocale(previous); });

    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true, QtDebugMsg));
    const QString cyrillic = QString::fromUtf8("\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB");
    QString text = QStringLiteral("seventeen letters ") + cyrillic;
    if (codec->mibEnum() == 106)
        text += QString::fromUtf8(" Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80");
    send(QtWarningMsg, text);
    send(QtWarningMsg, text, "default", "s\xC3\xBC" "d.cpp", 3, "f\xC3\xBC()");
    QVERIFY(codec->canEncode(text));
    const QByteArray bytes = ravixtest::readTextFile(dailyFile());
    QVERIFY2(bytes.contains(codec->fromUnicode(QStringLiteral("WARNING:  ") + text + '\n')),
             bytes.constData());
    QVERIFY(bytes.contains(codec->fromUnicode(QString::fromUtf8("s\xC3\xBC" "d.cpp"))));
    QVERIFY(bytes.contains(codec->fromUnicode(QString::fromUtf8("f\xC3\xBC()\n") + kIndent +
                                              text + '\n')));
}

void TestLoggerManager::dateLineWithoutDailyFiles()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, false));
    const QString file = m_dir->filePath(QStringLiteral("svc.log"));
    send(QtWarningMsg, QStringLiteral("one"));
    send(QtCriticalMsg, QStringLiteral("two"));
    QCOMPARE(afterStart(file), QStringLiteral("[D]\n[T] WARNING:  one\n[D]\n[T] CRITICAL: two\n"));
    // The date line is today's, in the short year form.
    const QString date = QDate::currentDate().toString(QStringLiteral("[yy-MM-dd]\n"));
    const QString raw = readAll(file);
    QVERIFY2(raw.contains(date), qPrintable(raw));
}

void TestLoggerManager::routing_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QString>("writer");

    QTest::newRow("default category") << "log" << QByteArray("default") << "log";
    QTest::newRow("named category") << "log" << QByteArray("network") << "log.network";
    QTest::newRow("no category") << "log" << QByteArray() << "log.";
    QTest::newRow("own suffix") << "txt" << QByteArray("network") << "txt.network";
    QTest::newRow("empty suffix means log") << "" << QByteArray("default") << "log";
}

void TestLoggerManager::routing()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, category);
    QFETCH(QString, writer);

    LoggerManager::setDefaultSuffix(suffix);
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    send(QtWarningMsg, QStringLiteral("routed"), category.isNull() ? nullptr : category.data());
    const QString path = dailyFile(writer);
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QVERIFY(readAll(path).endsWith(QStringLiteral("WARNING:  routed\n")));
    bool ownFile = writer != QLatin1String("log");
#ifdef Q_OS_WIN
    // A file name cannot end in a dot there: "….log." is the default category's file.
    ownFile = ownFile && writer != QLatin1String("log.");
#endif
    if (ownFile)
        QVERIFY(!readAll(dailyFile()).contains(QStringLiteral("routed")));
}

void TestLoggerManager::qtMacrosReachTheirFiles()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    qWarning("warned %d", 1);
    qDebug("dropped by the category rule");
    qCDebug(lcNetwork) << "network debug";
    const QString main = readAll(dailyFile());
    QVERIFY2(main.contains(QStringLiteral("WARNING IN:")) || main.contains("WARNING:"),
             qPrintable(main));
    QVERIFY(main.contains(QStringLiteral("warned 1\n")));
    QVERIFY(!main.contains(QStringLiteral("dropped")));
    QVERIFY(readAll(dailyFile(QStringLiteral("log.network"))).contains("network debug\n"));
}

void TestLoggerManager::customOutput()
{
    QStringList received;
    LoggerManager::setOutputs(
        QStringLiteral("custom"),
        [&received](QtMsgType type, const QMessageLogContext &, const QString &message) {
            received << QString::number(type) + message;
            // An output may log through another category.
            send(QtCriticalMsg, QStringLiteral("from output"), "other");
        });
    LoggerManager::setOutputs(QStringLiteral("empty"), LoggerManager::OutputFunction());
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true, QtWarningMsg));

    send(QtDebugMsg, QStringLiteral("below minimum"), "custom");
    LoggerManager::setDebugOuts({});
    send(QtWarningMsg, QStringLiteral("no outputs"), "custom");
    QCOMPARE(received, QStringList({QStringLiteral("0below minimum"), "1no outputs"}));
    QVERIFY(!QFileInfo::exists(dailyFile(QStringLiteral("log.custom"))));
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    // The second call came while no output was on, so only the first record was written.
    QCOMPARE(normalized(readAll(dailyFile(QStringLiteral("log.other")))),
             QStringLiteral("[T] CRITICAL: from output\n"));

    // An entry without a target is passed over, not called.
    send(QtWarningMsg, QStringLiteral("no target"), "empty");
    QVERIFY(readAll(dailyFile(QStringLiteral("log.empty"))).contains("no target"));

    LoggerManager::removeOutput(QStringLiteral("custom"));
    QVERIFY(!LoggerManager::outputs().contains(QStringLiteral("custom")));
    send(QtWarningMsg, QStringLiteral("to file"), "custom");
    QCOMPARE(received.size(), 2);
    QVERIFY(readAll(dailyFile(QStringLiteral("log.custom"))).contains("to file"));
}

void TestLoggerManager::minimumLevel()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, QtWarningMsg));
    QVERIFY(LoggerManager::rotateLogs());
    send(QtDebugMsg, QStringLiteral("debug"));
    send(QtInfoMsg, QStringLiteral("info"));
    send(QtWarningMsg, QStringLiteral("warning"));
    QCOMPARE(afterStart(dailyFile()), QStringLiteral("[T] info\n[T] WARNING:  warning\n"));
}

void TestLoggerManager::fileNames_data()
{
    QTest::addColumn<bool>("daily");
    QTest::addColumn<bool>("keep");
    QTest::newRow("daily, kept writers") << true << true;
    QTest::newRow("daily, open per message") << true << false;
    QTest::newRow("one file") << false << true;
}

void TestLoggerManager::fileNames()
{
    QFETCH(bool, daily);
    QFETCH(bool, keep);
    LoggerManager::setKeepLogHandlers(keep);
    const QString dir = m_dir->filePath(QStringLiteral("logs/deeper"));
    QVERIFY(LoggerManager::initLog(dir, 3, daily));
    QCOMPARE(LoggerManager::logsPath(), dir);
    QCOMPARE(LoggerManager::keepingDays(), 3u);
    QCOMPARE(LoggerManager::rotateLogs(), daily);
#ifdef Q_OS_WIN
    // No mode bits: the folder takes the access list of its parent and is not read-only.
    QVERIFY(QFileInfo(dir).isDir() && QFileInfo(dir).isWritable());
#else
    QCOMPARE(ravixtest::modeBits(dir), 01777);
#endif
    send(QtWarningMsg, QStringLiteral("named"), "net");

    const QString prefix = daily ? today() + QStringLiteral("_") : QString();
    const QString main = dir + QStringLiteral("/") + prefix + QStringLiteral("svc.log");
    const QString net = main + QStringLiteral(".net");
    QCOMPARE(QDir(dir).entryList(QDir::Files),
             QStringList({QFileInfo(main).fileName(), QFileInfo(net).fileName()}));
#ifdef Q_OS_WIN
    QVERIFY(QFileInfo(main).isWritable());
    QVERIFY(QFileInfo(net).isWritable());
#else
    QCOMPARE(ravixtest::modeBits(main), 0664);
    QCOMPARE(ravixtest::modeBits(net), 0664);
#endif
    QVERIFY(readAll(net).contains(QStringLiteral("named\n")));
}

void TestLoggerManager::noMoreLogsMarker()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("no_more_logs")));
    LoggerManager::setDebugOuts(LoggerManager::FileOut | LoggerManager::StdErrOut);
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QCOMPARE(LoggerManager::debugOuts(), QFlags<LoggerManager::EQtDebugOut>());
    LoggerManager::setDebugOuts(LoggerManager::FileOut | LoggerManager::StdErrOut);
    QCOMPARE(LoggerManager::debugOuts(), QFlags<LoggerManager::EQtDebugOut>());
    send(QtCriticalMsg, QStringLiteral("silenced"));
    qWarning("silenced too");
    QCOMPARE(afterStart(dailyFile()), QString());
}

void TestLoggerManager::silentInit_data()
{
    QTest::addColumn<QString>("sub");
    QTest::addColumn<unsigned>("days");
    QTest::addColumn<bool>("empty");
    QTest::newRow("zero days") << "logs" << 0u << false;
    QTest::newRow("empty path") << "" << 7u << false;
    QTest::newRow("initEmptyLog") << "" << 7u << true;
}

void TestLoggerManager::silentInit()
{
    QFETCH(QString, sub);
    QFETCH(unsigned, days);
    QFETCH(bool, empty);
    const QString path = sub.isEmpty() ? QString() : m_dir->filePath(sub);
    QVERIFY(empty ? LoggerManager::initEmptyLog() : LoggerManager::initLog(path, days, true));
    QVERIFY(currentHandler() == &LoggerManager::ignoreLogs);
    qWarning("nothing");
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    qInstallMessageHandler(nullptr);
}

void TestLoggerManager::releaseEndsWithStopBanner()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QVERIFY(currentHandler() == &LoggerManager::logMessageOutput);
    send(QtWarningMsg, QStringLiteral("last"));
    LoggerManager::releaseLog();
    const QtMessageHandler restored = currentHandler();
    QVERIFY(restored != &LoggerManager::logMessageOutput);
    QVERIFY(restored != &LoggerManager::ignoreLogs);

    qWarning("after release goes to the standard error stream");
    const QString text = afterStart(dailyFile());
    const QRegularExpression stop(QStringLiteral(
        "^\\[T\\] WARNING:  last\n\\[T\\] INFO IN:        loggermanager\\.cpp\\s+"
        "\\d+\\s+THREAD_ID:\\s+[0-9a-f]+\\s*\n {15}releaseLog\n {15}Stop logging\n$"));
    QVERIFY2(stop.match(text).hasMatch(), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("after release")));
    const QRegularExpression start(QStringLiteral(
        "\n\n-{80}\n\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] INFO IN:        loggermanager\\.cpp\\s+"
        "\\d+\\s+THREAD_ID:\\s+[0-9a-f]+\\s*\n {15}initLog\n {15}Start logging\n"));
    QVERIFY(start.match(readAll(dailyFile())).hasMatch());
}

void TestLoggerManager::standardErrorBeforeFile()
{
    // The standard error stream is pointed at the log file itself, so the order of the two
    // writes shows in the file.
    LoggerManager::setDebugOuts(LoggerManager::FileOut | LoggerManager::StdErrOut);
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QVERIFY(withStandardErrorTo(dailyFile(), [] {
        send(QtWarningMsg, QStringLiteral("both"), "default", "f.cpp", 3, "g");
    }));

    const QString record = QStringLiteral("[T] WARNING IN:     f.cpp") + QString(27, ' ') +
                           "3    THREAD_ID:    " + threadIdField() + "\n" + kIndent + "g\n" +
                           kIndent + "both\n";
    QCOMPARE(afterStart(dailyFile()), record + record);
}

void TestLoggerManager::secondInitKeepsOneTimer()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QPointer<QTimer> first = LoggerManagerPrivate::eraseTimer();
    QVERIFY(first);
    QVERIFY(first->isActive());
    QCOMPARE(first->interval(), 86400000);

    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QPointer<QTimer> second = LoggerManagerPrivate::eraseTimer();
    QVERIFY(second);
    QVERIFY(!first);
    QVERIFY(second->isActive());

    // Without daily files there is no clean-up and so no timer.
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, false));
    QVERIFY(!second);
    QVERIFY(!LoggerManagerPrivate::eraseTimer());

    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    QPointer<QTimer> third = LoggerManagerPrivate::eraseTimer();
    QVERIFY(third);
    LoggerManager::releaseLog();
    QVERIFY(!third);
    QVERIFY(!LoggerManagerPrivate::eraseTimer());
}

void TestLoggerManager::unusableFileGoesToStandardError_data()
{
    QTest::addColumn<bool>("removeFolder");
    QTest::newRow("logs folder removed") << true;
    QTest::newRow("file name taken by a folder") << false;
}

void TestLoggerManager::unusableFileGoesToStandardError()
{
    QFETCH(bool, removeFolder);
    const QString logs = m_dir->filePath(QStringLiteral("logs"));
    QVERIFY(LoggerManager::initLog(logs, 7, true));
    // The start's clean-up run reads the folder, which Windows cannot remove meanwhile.
    QThreadPool::globalInstance()->waitForDone();
    if (removeFolder)
        QVERIFY(QDir(logs).removeRecursively());
    else
        QVERIFY(QDir(logs).mkdir(today() + QStringLiteral("_svc.log.blocked")));

    const QString captured = m_dir->filePath(QStringLiteral("stderr.txt"));
    QVERIFY(withStandardErrorTo(captured, [] {
        send(QtWarningMsg, QStringLiteral("not lost"), "blocked");
        LoggerManager writer(QStringLiteral("log.blocked"));
        const auto *device = qobject_cast<QFile *>(writer.stream()->device());
        QVERIFY(!device || device->fileName().isEmpty());
    }));
    QCOMPARE(normalized(readAll(captured)), QStringLiteral("[T] WARNING:  not lost\n"));
    QCOMPARE(QFileInfo::exists(logs), !removeFolder);
}

void TestLoggerManager::manyThreads_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept writers") << true;
    QTest::newRow("open per message") << false;
}

void TestLoggerManager::manyThreads()
{
    QFETCH(bool, keep);
    const int threads = 4;
    const int records = keep ? 5000 : 2000;
    LoggerManager::setKeepLogHandlers(keep);
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));

    QList<QThread *> workers;
    for (int t = 0; t < threads; ++t) {
        workers << QThread::create([t, records] {
            for (int i = 0; i < records; ++i) {
                const QString payload = QStringLiteral("t%1 r%2 ").arg(t).arg(i) +
                                        QString(40 + (i % 7) * 10, QLatin1Char('x'));
                send(QtWarningMsg, payload, "default", "worker.cpp", 10 + t, "work");
            }
        });
    }
    for (QThread *w : workers)
        w->start();
    for (QThread *w : workers) {
        QVERIFY(w->wait(600000));
        delete w;
    }

    // Every record is three whole lines of its own, and each thread's records come in order.
    const QStringList lines = afterStart(dailyFile()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), threads * records * 3 + 1);
    QVector<int> next(threads, 0);
    const QRegularExpression head(QStringLiteral(
        "^\\[T\\] WARNING IN:     worker\\.cpp {22}(\\d\\d)   THREAD_ID:    [0-9a-f]+ *$"));
    const QRegularExpression body(QStringLiteral("^ {15}t(\\d) r(\\d+) (x+)$"));
    for (int i = 0; i + 2 < lines.size(); i += 3) {
        const auto h = head.match(lines.at(i));
        QVERIFY2(h.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(lines.at(i + 1), kIndent + QStringLiteral("work"));
        const auto b = body.match(lines.at(i + 2));
        QVERIFY2(b.hasMatch(), qPrintable(lines.at(i + 2)));
        const int t = b.captured(1).toInt();
        const int r = b.captured(2).toInt();
        QCOMPARE(h.captured(1).toInt(), 10 + t);
        QCOMPARE(r, next[t]);
        QCOMPARE(b.captured(3).size(), 40 + (r % 7) * 10);
        ++next[t];
    }
    QCOMPARE(next, QVector<int>(threads, records));
}

void TestLoggerManager::threadsEndingWhileOthersLog_data()
{
    QTest::addColumn<bool>("qthreads");
    QTest::newRow("standard threads") << false;
    QTest::newRow("QThreads") << true;
}

// Each thread keeps caches of its own, freed as it ends. Threads that log once and end, several
// at a time, free them while others allocate: a cache freed twice or used after it was freed
// corrupts the heap, and the process dies or hangs.
void TestLoggerManager::threadsEndingWhileOthersLog()
{
    QFETCH(bool, qthreads);
    const int waves = 150;
    const int perWave = 4;
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    for (int w = 0; w < waves; ++w) {
        std::vector<std::thread> threads;
        QList<QThread *> started;
        for (int t = 0; t < perWave; ++t) {
            auto work = [w, t] {
                send(QtWarningMsg, QStringLiteral("w%1 t%2 ").arg(w).arg(t) + QString(60, 'y'),
                     "default", "ending.cpp", 7, "end");
            };
            if (qthreads) {
                started << QThread::create(work);
                started.last()->start();
            } else {
                threads.emplace_back(work);
            }
        }
        for (std::thread &thread : threads)
            thread.join();
        for (QThread *thread : started) {
            QVERIFY(thread->wait(600000));
            delete thread;
        }
    }

    const QString text = afterStart(dailyFile());
    QCOMPARE(text.count(QStringLiteral("WARNING IN:     ending.cpp")), waves * perWave);
    for (int w = 0; w < waves; ++w)
        QVERIFY2(text.contains(QStringLiteral("w%1 t%2 ").arg(w).arg(perWave - 1)),
                 qPrintable(QString::number(w)));
}

void TestLoggerManager::namesOfOneFileShareAWriter_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("windows") << int(ravix::PlatformConventions::Windows);
    QTest::newRow("native") << int(ravix::PlatformConventions::nativeStyle());
}

// On Windows "….log." and "….log" are one file, and so are the categories "Net" and "net":
// their records must go through one writer, or one writer's records overwrite the other's.
void TestLoggerManager::namesOfOneFileShareAWriter()
{
    QFETCH(int, style);
    const auto fileStyle = ravix::PlatformConventions::Style(style);
    LoggerManagerPrivate::setFileNameStyle(fileStyle);
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true));
    const int count = 20;
    const QList<QPair<const char *, QString>> names = {
        {nullptr, QStringLiteral("plain")},
        {"default", QStringLiteral("default")},
        {"Net", QStringLiteral("Net")},
        {"net", QStringLiteral("net")}};
    for (int i = 0; i < count; ++i) {
        for (const auto &n : names)
            send(QtWarningMsg, QStringLiteral("%1 %2").arg(n.second).arg(i), n.first);
    }
    LoggerManager::releaseLog();
    LoggerManagerPrivate::setFileNameStyle(ravix::PlatformConventions::nativeStyle());

    // Each file's records, whole records only, in the order they stand.
    const QRegularExpression record(QStringLiteral("^\\[T\\] WARNING:  (\\w+ \\d+)$"),
                                    QRegularExpression::MultilineOption);
    QMap<QString, QStringList> found;
    for (const QString &name : QDir(m_dir->path()).entryList(QDir::Files)) {
        const QString text = normalized(readAll(m_dir->filePath(name)));
        auto it = record.globalMatch(text);
        while (it.hasNext())
            found[name] << it.next().captured(1);
    }
    auto sequence = [count](const QStringList &words) {
        QStringList s;
        for (int i = 0; i < count; ++i) {
            for (const QString &w : words)
                s << QStringLiteral("%1 %2").arg(w).arg(i);
        }
        return s;
    };
    QMap<QString, QStringList> expected;
    const QString base = today() + QStringLiteral("_svc.");
    if (fileStyle == ravix::PlatformConventions::Windows) {
        // Here one writer per pair; the first name of each pair named the file.
#ifdef Q_OS_WIN
        // Where the names are one file, the file is named without the dot.
        const QString plainFile = base + "log";
#else
        const QString plainFile = base + "log.";
#endif
        expected[plainFile] = sequence({QStringLiteral("plain"), QStringLiteral("default")});
        expected[base + "log.Net"] = sequence({QStringLiteral("Net"), QStringLiteral("net")});
    } else {
        for (const auto &n : names) {
            const QString writer = !n.first ? QStringLiteral("log.")
                                   : n.second == QLatin1String("default")
                                       ? QStringLiteral("log")
                                       : QStringLiteral("log.") + n.second;
            expected[base + writer] = sequence({n.second});
        }
    }
    QCOMPARE(found, expected);
}

QTEST_GUILESS_MAIN(TestLoggerManager)
// A record's location lines are made once per call site and thread; a context whose names
// sit in a buffer that is later filled with other names, or a call site reached from another
// thread, must still give its own lines.
void TestLoggerManager::locationFromReusedBuffersAndThreads()
{
    QVERIFY(LoggerManager::initLog(m_dir->path(), 7, true, QtDebugMsg));
    char file[32] = "first.cpp";
    char function[32] = "first()";
    send(QtWarningMsg, QStringLiteral("one"), "default", file, 7, function);
    std::strcpy(file, "second.cpp");
    std::strcpy(function, "second()");
    send(QtWarningMsg, QStringLiteral("two"), "default", file, 7, function);
    QString otherId;
    // A standard thread: its join is seen by the thread sanitizer, QThread::wait() is not.
    std::thread other([&] {
        otherId = threadIdField();
        send(QtWarningMsg, QStringLiteral("three"), "default", file, 7, function);
    });
    other.join();
    const QString line = QStringLiteral("[T] WARNING IN:     %1%2THREAD_ID:    %3\n") + kIndent +
                         QStringLiteral("%4\n") + kIndent + QStringLiteral("%5\n");
    const QString expected =
        line.arg(QStringLiteral("first.cpp").leftJustified(32), QStringLiteral("7    "),
                 threadIdField(), QStringLiteral("first()"), QStringLiteral("one")) +
        line.arg(QStringLiteral("second.cpp").leftJustified(32), QStringLiteral("7    "),
                 threadIdField(), QStringLiteral("second()"), QStringLiteral("two")) +
        line.arg(QStringLiteral("second.cpp").leftJustified(32), QStringLiteral("7    "), otherId,
                 QStringLiteral("second()"), QStringLiteral("three"));
    QCOMPARE(afterStart(dailyFile()), expected);
}

#include "tst_loggermanager.moc"
