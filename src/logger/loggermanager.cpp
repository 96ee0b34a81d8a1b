// SPDX-License-Identifier: MIT
#include "logger/loggermanager.h"
#include "logger/loggermanager_p.h"

#include "appframe/dircreator.h"
#include "sys/safefile_p.h"
#include "zip/zip.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QThreadStorage>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifndef Q_OS_WIN
#include <cerrno>
#include <unistd.h>
#endif
#include <optional>

QMutex LoggerManager::_logMutex;
QMap<QString, QSharedPointer<LoggerManager>> LoggerManager::_loggers;
QAtomicInt LoggerManager::_loggersCounter;
QMap<QString, LoggerManager::OutputFunction> LoggerManager::_outputs;
QFlags<LoggerManager::EQtDebugOut> LoggerManager::_debugOuts;
QtMsgType LoggerManager::_minimumLogLevel = QtDebugMsg;
QString LoggerManager::_logPath;
QString LoggerManager::_defaultSuffix = QStringLiteral("log");
unsigned int LoggerManager::_keepingDays = 7;
bool LoggerManager::_keepLogHandlers = true;
bool LoggerManager::_rotateLogs = false;
bool LoggerManager::_cleanAnyOldLogs = false;
QStringList LoggerManager::_additionalEraseFilters;
QTimer *LoggerManager::_eraceTimer = nullptr;

namespace {

const int kIndent = 15;
const int kEraseInterval = 86400000; // 24 hours
// Log files are shared: other accounts' processes of the family append to them.
const int kLogFileMode = 0664;

thread_local bool t_holdsLogMutex = false;
// Set by releaseLog (under _logMutex): a thread that took the handler before it was given back
// to Qt may still be waiting for the lock, and its record must not follow the closing line.
bool g_logReleased = false;

// How file names compare, for the keys of kept writers (guarded by _logMutex).
ravix::PlatformConventions::Style g_fileNameStyle = ravix::PlatformConventions::nativeStyle();

// Kept writers found by category, so that a record finds its writer without building its
// key: categories are nearly always static texts, compared by address first and then by
// content, since a category may be freed and another one made at the same address (guarded
// by _logMutex; the writers are owned by _loggers).
struct FoundWriter
{
    const char *category = nullptr;
    QByteArray name;
    LoggerManager *writer = nullptr;
};
const int kFoundWriters = 16;
FoundWriter g_found[kFoundWriters];
int g_foundCount = 0;

LoggerManager *foundWriter(const char *category)
{
    for (int i = 0; i < g_foundCount; ++i) {
        const FoundWriter &f = g_found[i];
        if (f.category == category && std::strcmp(f.name.constData(), category) == 0)
            return f.writer;
    }
    return nullptr;
}

void rememberWriter(const char *category, LoggerManager *writer)
{
    if (g_foundCount == kFoundWriters)
        g_foundCount = 0; // more categories than that are rare: start over
    FoundWriter &f = g_found[g_foundCount++];
    f.category = category;
    f.name = QByteArray(category);
    f.writer = writer;
}

QLatin1String shortWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QLatin1String("INFO:");
    case QtWarningMsg:
        return QLatin1String("WARNING:");
    case QtCriticalMsg:
        return QLatin1String("CRITICAL:");
    case QtFatalMsg:
        return QLatin1String("FATAL:");
    default:
        return QLatin1String();
    }
}

QLatin1String longWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QLatin1String("INFO IN:");
    case QtWarningMsg:
        return QLatin1String("WARNING IN:");
    case QtCriticalMsg:
        return QLatin1String("CRITICAL IN:");
    case QtFatalMsg:
        return QLatin1String("FATAL IN:");
    default:
        return QLatin1String();
    }
}

// Left-aligned in a field of \a width characters, as a text stream's field width writes it.
void padFrom(QString &out, int start, int width)
{
    const int missing = width - (out.size() - start);
    if (missing > 0)
        out.append(QLatin1String("                                ", qMin(missing, 32)));
}

// UTF-8 text from a message context, without a temporary string when it is ASCII (as source
// file and function names are).
void appendUtf8(QString &out, const char *text)
{
    if (!text)
        return;
    const std::size_t size = std::strlen(text);
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            out.append(QString::fromUtf8(text, int(size)));
            return;
        }
    }
    out.append(QLatin1String(text, int(size)));
}

void appendNumber(QString &out, qulonglong value, int base)
{
    char digits[24];
    char *p = digits + sizeof digits;
    do {
        *--p = "0123456789abcdef"[value % unsigned(base)];
        value /= unsigned(base);
    } while (value);
    out.append(QLatin1String(p, int(digits + sizeof digits - p)));
}

bool hasStopMarker(const QString &path)
{
    if (path.trimmed().isEmpty())
        return false;
    // The folder is open to every account; only a marker of the daemon's own account (or
    // root's) may silence it.
    const QString marker = QDir(path).filePath(QStringLiteral("no_more_logs"));
    return QFileInfo::exists(marker) && ravix::safefile::ownedBySelfOrRoot(marker);
}

// At process exit the statics above are destroyed; a message raised after that (from another
// static destructor) must not reach them, so Qt's own handler is put back first. Defined after
// the statics, it is destroyed before them.
struct HandlerResetAtExit
{
    ~HandlerResetAtExit()
    {
        const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        if (previous != &LoggerManager::logMessageOutput && previous != &LoggerManager::ignoreLogs)
            qInstallMessageHandler(previous);
    }
} handlerResetAtExit;

} // namespace

// ---- LogLock ----------------------------------------------------------------------------------

LogLock::LogLock() : m_locker(&LoggerManager::_logMutex)
{
    t_holdsLogMutex = true;
}

LogLock::~LogLock()
{
    t_holdsLogMutex = false;
}

bool LogLock::heldByThisThread()
{
    return t_holdsLogMutex;
}

// ---- LogMessageRecord -------------------------------------------------------------------------

LogMessageRecord LogMessageRecord::fromContext(QtMsgType type, const QMessageLogContext &context,
                                               bool daily)
{
    LogMessageRecord record;
    record.daily = daily;
    record.file = context.file;
    record.function = context.function;
    record.line = context.line;
    record.type = type;
    return record;
}

// ---- LogClock ---------------------------------------------------------------------------------

const LogClock::Second &LogClock::now(int *msec)
{
    // The clock itself is cheap; converting it to local time is not: glibc checks the time
    // zone file on every conversion. So a reading is converted once per second, and records
    // within that second take the cached texts.
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    qint64 sec = ms / 1000;
    int rest = int(ms % 1000);
    if (rest < 0) {
        rest += 1000;
        --sec;
    }
    if (!m_valid || sec != m_epochSecond) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(sec * 1000);
        m_second.date = local.date();
        const QTime t = local.time();
        m_second.time = QTime(t.hour(), t.minute(), t.second());
        m_second.dateLine =
            QStringLiteral("[%1]").arg(m_second.date.toString(QStringLiteral("yy-MM-dd")));
        m_second.fileDate = m_second.date.toString(QStringLiteral("yyyy-MM-dd"));
        m_second.timeStamp = m_second.time.toString(TIME_FORMAT);
        // The milliseconds are filled in per record where the locale writes "[hh:mm:ss.000] "
        // in one character per digit; any other form is formatted whole per record.
        m_second.zero = QChar();
        if (m_second.timeStamp.size() == 15 &&
            m_second.timeStamp.at(10) == m_second.timeStamp.at(11) &&
            m_second.timeStamp.at(11) == m_second.timeStamp.at(12) &&
            m_second.timeStamp.at(10).isDigit())
            m_second.zero = m_second.timeStamp.at(10);
        m_epochSecond = sec;
        m_valid = true;
    }
    if (msec)
        *msec = rest;
    return m_second;
}

const QString &LogClock::timeStamp()
{
    int ms = 0;
    const Second &s = now(&ms);
    if (s.zero.isNull()) {
        m_stamp = s.time.addMSecs(ms).toString(TIME_FORMAT);
        return m_stamp;
    }
    // Only the milliseconds change within a second; they are written over the last stamp.
    if (m_stampSecond != m_epochSecond || m_stamp.size() != s.timeStamp.size()) {
        m_stamp = s.timeStamp;
        m_stampSecond = m_epochSecond;
    }
    QChar *digits = m_stamp.data() + 10;
    const ushort zero = s.zero.unicode();
    digits[0] = QChar(ushort(zero + ms / 100));
    digits[1] = QChar(ushort(zero + ms / 10 % 10));
    digits[2] = QChar(ushort(zero + ms % 10));
    return m_stamp;
}

namespace {

struct BuiltName
{
    QString path, date, app, fileName;
    bool daily = false;
};

// Per thread, so that a writer opened outside the lock never shares them. They are owned by
// Qt's per-thread storage, which frees them as the thread ends: a thread_local object with a
// destructor is not safe everywhere (MinGW-w64's emulated thread-local storage frees its block
// before such destructors run, and threads ending together then corrupt the heap). A message
// can still arrive after they are freed, from a destructor that runs later as the thread or
// the process ends; the flag tells that they are gone. Only trivial thread_local values here.
struct ThreadCaches;
thread_local ThreadCaches *t_caches = nullptr;
thread_local bool t_cachesGone = false;

// The location lines of a call site, as last made on this thread.
struct CallSite
{
    const char *file = nullptr;
    const char *function = nullptr;
    int line = 0;
    QtMsgType type = QtDebugMsg;
    QByteArray fileText, functionText;
    QString text;
};
const int kCallSites = 32;

struct ThreadCaches
{
    LogClock clock;
    CallSite sites[kCallSites];
    QHash<QString, BuiltName> names;
    // Reused for every record, so that a record allocates nothing once they have grown.
    QString text;
    QByteArray bytes;
    // Qt frees an adopted thread's storage on another thread on some platforms.
    const Qt::HANDLE owner = QThread::currentThreadId();
    ~ThreadCaches()
    {
        if (owner == QThread::currentThreadId()) {
            t_caches = nullptr;
            t_cachesGone = true;
        }
    }
};

// Never destroyed: messages may come during the destruction of statics.
QThreadStorage<ThreadCaches *> &cacheStorage()
{
    static auto *storage = new QThreadStorage<ThreadCaches *>;
    return *storage;
}

ThreadCaches *threadCaches()
{
    if (ThreadCaches *caches = t_caches)
        return caches;
    if (t_cachesGone)
        return nullptr;
    auto *caches = new (std::nothrow) ThreadCaches;
    if (!caches)
        return nullptr;
    cacheStorage().setLocalData(caches);
    t_caches = caches;
    return caches;
}

} // namespace

LogClock &LoggerManagerPrivate::clock(LogClock &fallback)
{
    ThreadCaches *caches = threadCaches();
    return caches ? caches->clock : fallback;
}

// ---- LoggerManagerPrivate ---------------------------------------------------------------------

namespace {

// From the level word of a located record to the indent its text starts at.
void appendLocation(QString &out, const LogMessageRecord &record)
{
    const QLatin1String word = longWord(record.type);
    if (word.size() > 0) {
        out.append(word);
        padFrom(out, out.size() - word.size(), 16);
    }
    int start = out.size();
    if (record.file) {
        const char *name = record.file;
        for (const char *p = record.file; *p; ++p) {
#ifdef Q_OS_WIN
            if (*p == '\\')
                name = p + 1;
#endif
            if (*p == '/')
                name = p + 1;
        }
        appendUtf8(out, name);
    }
    padFrom(out, start, 32);
    start = out.size();
    if (record.line < 0)
        out.append(QLatin1Char('-'));
    appendNumber(out, qulonglong(record.line < 0 ? -qlonglong(record.line) : record.line), 10);
    padFrom(out, start, 5);
    out.append(QLatin1String("THREAD_ID:    "));
    start = out.size();
    appendNumber(out, reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
    padFrom(out, start, 16);
    out.append(QLatin1Char('\n')).append(QLatin1String("               ", kIndent));
    appendUtf8(out, record.function);
    out.append(QLatin1Char('\n')).append(QLatin1String("               ", kIndent));
}

bool sameText(const QByteArray &kept, const char *text)
{
    return text ? !kept.isNull() && std::strcmp(kept.constData(), text) == 0 : kept.isNull();
}

} // namespace

void LoggerManagerPrivate::appendPrefix(QString &out, const LogMessageRecord &record)
{
    LogClock fallback;
    LogClock &c = clock(fallback);
    if (!record.daily)
        out.append(c.now().dateLine).append(QLatin1Char('\n'));
    out.append(c.timeStamp());
    if (record.line == 0 && (!record.file || !*record.file)) {
        const QLatin1String word = shortWord(record.type);
        if (word.size() > 0)
            out.append(word).append(QLatin1String("          ", qMax(0, 10 - word.size())));
        return;
    }
    ThreadCaches *caches = threadCaches();
    if (!caches) {
        appendLocation(out, record);
        return;
    }
    // The location lines of one call site on one thread never change: they are made once. The
    // texts are compared as well as their addresses, since a context may be built from buffers
    // that later hold other names.
    const auto slot = (quintptr(record.file) >> 3) ^ (quintptr(record.function) >> 5) ^
                      quintptr(unsigned(record.line) * 31u) ^ quintptr(record.type);
    CallSite &site = caches->sites[slot % kCallSites];
    if (site.text.isEmpty() || site.file != record.file || site.function != record.function ||
        site.line != record.line || site.type != record.type ||
        !sameText(site.fileText, record.file) || !sameText(site.functionText, record.function)) {
        site.file = record.file;
        site.function = record.function;
        site.line = record.line;
        site.type = record.type;
        site.fileText = record.file ? QByteArray(record.file) : QByteArray();
        site.functionText = record.function ? QByteArray(record.function) : QByteArray();
        site.text.clear();
        appendLocation(site.text, record);
    }
    out.append(site.text);
}

QString LoggerManagerPrivate::effectiveSuffix()
{
    return LoggerManager::_defaultSuffix.isEmpty() ? QStringLiteral("log")
                                                   : LoggerManager::_defaultSuffix;
}

// The process's own code page, in which its text is taken, so that a log file holds what was
// logged (UTF-8 once the application root has set it up). On Windows the codec named "System"
// is the ANSI code page, which turns every letter it lacks into "?"; elsewhere there is none of
// that name and the locale's codec is what Qt uses too.
QTextCodec *LoggerManagerPrivate::fileCodec()
{
    return QTextCodec::codecForLocale();
}

QString LoggerManagerPrivate::fileNameFor(const QString &name)
{
    // The name changes once a day at most, so the last one built for each writer is kept with
    // what it was built from. A relative logs path depends on the working directory and is
    // resolved every time.
    const QString &path = LoggerManager::_logPath;
    const bool daily = LoggerManager::_rotateLogs;
    LogClock fallback;
    const QString date = daily ? clock(fallback).now().fileDate : QString();
    const QString app = QCoreApplication::applicationName();
    ThreadCaches *caches = threadCaches();
    BuiltName uncached;
    BuiltName &b = caches ? caches->names[name] : uncached;
    if (!b.fileName.isEmpty() && b.daily == daily && b.path == path && b.date == date &&
        b.app == app && QDir::isAbsolutePath(path))
        return b.fileName;
    const QString folder = QDir(path).absolutePath();
    b.fileName = daily ? QStringLiteral("%1/%2_%3.%4").arg(folder, date, app, name)
                       : QStringLiteral("%1/%2.%3").arg(folder, app, name);
    b.path = path;
    b.date = date;
    b.app = app;
    b.daily = daily;
    return b.fileName;
}

void LoggerManagerPrivate::writeBanner(LoggerManager &writer, const LogMessageRecord &record,
                                       const QString &text, bool separator)
{
    QString out;
    if (separator)
        out = QStringLiteral("\n\n") + QString(80, QLatin1Char('-')) + QLatin1Char('\n');
    appendPrefix(out, record);
    out.append(text).append(QLatin1Char('\n'));
    write(writer, false, out);
}

namespace {

// The bytes of \a text in \a codec: ASCII text in a codec that keeps ASCII as it is (nearly
// every record) is copied into \a buffer, which keeps its capacity from record to record.
const QByteArray &encode(const QString &text, QTextCodec *codec, QByteArray &buffer)
{
    const int mib = codec->mibEnum();
    if (mib == 106 || mib == 4) { // UTF-8, Latin-1
        const int size = text.size();
        buffer.resize(size);
        const auto *src = reinterpret_cast<const ushort *>(text.constData());
        char *dst = buffer.data();
        int i = 0;
#ifdef __SSE2__
        const __m128i high = _mm_set1_epi16(short(0xff80));
        for (; i + 16 <= size; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 8));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), high),
                                                  _mm_setzero_si128())) != 0xffff)
                break;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(a, b));
        }
        for (; i + 8 <= size; i += 8) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(c, high), _mm_setzero_si128())) !=
                0xffff)
                break;
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + i), _mm_packus_epi16(c, c));
        }
#endif
        for (; i + 4 <= size; i += 4) {
            ushort c[4];
            std::memcpy(c, src + i, sizeof c);
            if ((c[0] | c[1] | c[2] | c[3]) >= 0x80)
                break;
            dst[i] = char(c[0]);
            dst[i + 1] = char(c[1]);
            dst[i + 2] = char(c[2]);
            dst[i + 3] = char(c[3]);
        }
        while (i < size && src[i] < 0x80) {
            dst[i] = char(src[i]);
            ++i;
        }
        if (i == size)
            return buffer;
    }
    // As a text stream converts: no byte order mark.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    buffer = codec->fromUnicode(text.constData(), text.size(), &state);
    return buffer;
}

bool writeAll(QFile &file, const QByteArray &bytes)
{
#ifndef Q_OS_WIN
    // The file is unbuffered and opened to append: one write() is one record, and its result
    // is the record's.
    const int fd = file.handle();
    const char *p = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= std::size_t(n);
    }
    return true;
#else
    // Through the device, which writes the platform's line ends.
    return file.write(bytes) == bytes.size();
#endif
}

void writeBytesToStdErr(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void LoggerManagerPrivate::write(LoggerManager &writer, bool onStdErr, const QString &text)
{
    ThreadCaches *caches = threadCaches();
    QByteArray local;
    const QByteArray &bytes = encode(text, fileCodec(), caches ? caches->bytes : local);
    if (!writer.m_file || !writer.m_file->isOpen()) {
        writeBytesToStdErr(bytes);
        return;
    }
    // A full disk or a failing device: the record is not lost but goes where the process's
    // own errors go. The next record tries the file again.
    if (!writeAll(*writer.m_file, bytes) && !onStdErr)
        writeStdErr(text);
}

void LoggerManagerPrivate::writeStdErr(const QString &text)
{
    QByteArray bytes;
    writeBytesToStdErr(encode(text, fileCodec(), bytes));
}

void LoggerManagerPrivate::resetEraseTimer(bool start)
{
    QTimer *&timer = LoggerManager::_eraceTimer;
    if (timer) {
        QObject::disconnect(timer, nullptr, nullptr, nullptr);
        // A timer can be stopped only by its own thread; one whose thread runs no event loop
        // never started and would never see a deferred delete either.
        QThread *owner = timer->thread();
        if (owner == QThread::currentThread() || !owner || !owner->eventDispatcher())
            delete timer;
        else
            timer->deleteLater();
        timer = nullptr;
    }
    if (!start)
        return;
    timer = new QTimer;
    timer->setInterval(kEraseInterval);
    QObject::connect(timer, &QTimer::timeout, &LoggerManagerPrivate::startCleanUp);
    timer->start();
}

void LoggerManagerPrivate::setFileNameStyle(ravix::PlatformConventions::Style style)
{
    LogLock lock;
    g_fileNameStyle = style;
    forgetFoundWriters();
}

void LoggerManagerPrivate::forgetFoundWriters()
{
    for (int i = 0; i < g_foundCount; ++i)
        g_found[i] = FoundWriter();
    g_foundCount = 0;
}

void LoggerManagerPrivate::startCleanUp()
{
    QThreadPool::globalInstance()->start(&LoggerManagerPrivate::cleanUp);
}

void LoggerManagerPrivate::cleanUp()
{
    // Runs started close together (a repeated initLog) take turns: two runs packing the same
    // file would overwrite each other's archive while the other removes the log.
    static QMutex running;
    QMutexLocker turn(&running);
    const QString path = LoggerManager::logsPath();
    const QDir dir(path);
    if (path.isEmpty() || !dir.exists())
        return;
    QStringList patterns = LoggerManager::additionalEraseFilters();
    patterns << QStringLiteral("*%1.log*").arg(QCoreApplication::applicationName());
    const qint64 keepDays = LoggerManager::keepingDays();
    const QDate today = QDate::currentDate();

    const QStringList names = dir.entryList(patterns, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QDate date =
            QDate::fromString(name.section(QLatin1Char('_'), 0, 0), QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid())
            continue;
        const QString filePath = dir.absoluteFilePath(name);
        if (date.addDays(keepDays) <= today) {
            QFile::remove(filePath);
            continue;
        }
        const QString lower = name.toLower();
        if (date.addDays(1) < today && date.addDays(5) >= today &&
            !lower.endsWith(QLatin1String(".zip")) && !lower.endsWith(QLatin1String(".gz"))) {
            if (archive(filePath))
                QFile::remove(filePath);
        }
    }
    if (LoggerManager::cleanAnyOldLogs())
        cleanTree(path, keepDays, today);
}

void LoggerManagerPrivate::cleanTree(const QString &path, unsigned keepDays, const QDate &today)
{
    // Folders are entered by descriptor and links never followed: a link, or a folder that
    // another account swaps for one while the walk runs, could lead out of the tree. Hidden
    // names are passed over, as they always were.
    ravix::safefile::walkTree(path, [&](ravix::safefile::TreeEntry &entry) {
        if (entry.name().startsWith(QLatin1Char('.'))) {
            if (entry.path() != QFileInfo(path).absoluteFilePath())
                entry.skip();
            return;
        }
        if ((entry.isFile() || entry.isLink()) &&
            entry.lastModified().date().addDays(keepDays) <= today)
            entry.remove();
    });
}

bool LoggerManagerPrivate::archive(const QString &logFile)
{
    const QString logPath = QFileInfo(logFile).absoluteFilePath();
    const QString archivePath = QStringLiteral("%1.zip").arg(QDir::fromNativeSeparators(logPath));
    // Another account may have put a link to a file of its choice at an old log's name: the
    // log is opened without following links and must be a regular file of one name.
    QFile log;
    QString error;
    if (!ravix::safefile::openForRead(log, logPath, &error)) {
        qWarning().noquote() << "LOG NOT PACKED" << logPath << error;
        return false;
    }
    // The archive writer opens files by name. It gets a name that cannot be swapped: a link,
    // in a private folder, to the descriptor just checked.
    QString source = logPath;
#ifndef Q_OS_WIN
    QTemporaryDir scratch;
    const QString fds = QFileInfo::exists(QStringLiteral("/proc/self/fd"))
                            ? QStringLiteral("/proc/self/fd")
                            : QStringLiteral("/dev/fd");
    source = scratch.filePath(QFileInfo(logPath).fileName());
    if (!scratch.isValid() ||
        !QFile::link(QStringLiteral("%1/%2").arg(fds).arg(log.handle()), source))
        return false;
#endif
    // The archive is written beside its name and renamed over it, so that a link planted at
    // the name is replaced, not written through; a failure leaves no archive behind.
    ravix::safefile::AtomicFile out(
        archivePath, log.permissions().testFlag(QFileDevice::ReadOther) ? 0644 : 0600);
    if (!out.open(&error))
        return false;
    Zip zip;
    if (zip.createArchive(out.device()) != Zip::Ok)
        return false;
    const bool added =
        zip.addFile(source, QString(), Zip::IgnorePaths, Zip::AutoFull) == Zip::Ok;
    const bool closed = zip.closeArchive() == Zip::Ok;
    // An archive without its entry would only mislead; the next run packs the file again.
    return added && closed && out.commit(&error);
}

// ---- LoggerManager: writer --------------------------------------------------------------------

LoggerManager::LoggerManager(const QString &name) : m_name(name)
{
    _loggersCounter.ref();
    open();
}

LoggerManager::~LoggerManager()
{
    close();
    _loggersCounter.deref();
}

QTextStream *LoggerManager::stream()
{
    if (!m_stream) {
        if (m_file && m_file->isOpen())
            m_stream = new QTextStream(m_file);
        else
            m_stream = new QTextStream(stderr, QIODevice::ReadWrite);
        m_stream->setCodec(LoggerManagerPrivate::fileCodec());
    }
    return m_stream;
}

void LoggerManager::open()
{
    // The writer that holds the day's file open already has nothing to open: it keeps the file
    // and the permissions it was given when it was opened, without a look at the directory.
    // Whether its file is still the current one is told by what its name was built from; a
    // relative logs path depends on the working directory and has the name built again.
    if (m_file && m_file->isOpen() && m_openedAbsolute && m_openedDaily == _rotateLogs &&
        m_openedPath == _logPath && m_openedApp == QCoreApplication::applicationName()) {
        if (!_rotateLogs)
            return;
        LogClock fallback;
        if (LoggerManagerPrivate::clock(fallback).now().date == m_openedDate)
            return;
    }
    const bool current = !_logPath.isEmpty() && m_file && m_file->isOpen() &&
                         m_fileName == LoggerManagerPrivate::fileNameFor(m_name);
    // An unset directory counts as missing; the records then go to the standard error stream.
    if (!current && !_logPath.isEmpty() && QDir(_logPath).exists()) {
        const QString fileName = LoggerManagerPrivate::fileNameFor(m_name);
        if (m_file && m_fileName != fileName)
            close();
        if (!m_file) {
            // The folder is open to every account: a link or a FIFO planted at the name is
            // neither followed nor waited for, and the records go to the standard error stream.
            m_file = new QFile;
            if (ravix::safefile::openForWrite(*m_file, fileName, ravix::safefile::AppendText,
                                              kLogFileMode)) {
                m_fileName = fileName;
            } else {
                delete m_file;
                m_file = nullptr;
            }
        }
        if (m_file)
            ravix::safefile::setMode(*m_file, kLogFileMode);
    }
    delete m_stream;
    m_stream = nullptr;
    if (m_file && m_file->isOpen()) {
        LogClock fallback;
        m_openedPath = _logPath;
        m_openedApp = QCoreApplication::applicationName();
        m_openedDaily = _rotateLogs;
        m_openedAbsolute = QDir::isAbsolutePath(_logPath);
        m_openedDate = LoggerManagerPrivate::clock(fallback).now().date;
    }
}

void LoggerManager::close()
{
    delete m_stream;
    m_stream = nullptr;
    if (m_file) {
        if (m_file->isOpen())
            m_file->close();
        delete m_file;
        m_file = nullptr;
    }
    m_fileName.clear();
}

// ---- LoggerManager: handler -------------------------------------------------------------------

void LoggerManager::logMessageOutput(QtMsgType type, const QMessageLogContext &context,
                                     const QString &message)
{
    // Raised by our own file handling while this thread holds the lock: waiting for the lock
    // would never end, so the message goes straight out.
    if (LogLock::heldByThisThread()) {
        std::fputs(message.toLocal8Bit().constData(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
        return;
    }

    std::optional<LogLock> lock(std::in_place);
    if (g_logReleased) {
        lock.reset();
        std::fputs(message.toLocal8Bit().constData(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
        return;
    }
    if (context.category && !_outputs.isEmpty()) {
        const OutputFunction output = _outputs.value(QString::fromUtf8(context.category));
        // An entry without a target is treated as absent rather than thrown out of the handler.
        if (output) {
            lock.reset();
            output(type, context, message);
            return;
        }
    }

    if (!_debugOuts || int(type) < int(_minimumLogLevel))
        return;
    const LogMessageRecord record = LogMessageRecord::fromContext(type, context, _rotateLogs);

    // The record is made once, in a buffer of the thread that keeps its capacity.
    ThreadCaches *caches = threadCaches();
    QString local;
    QString &text = caches ? caches->text : local;
    text.resize(0);
    LoggerManagerPrivate::appendPrefix(text, record);
    text.append(message).append(QLatin1Char('\n'));

    const bool onStdErr = _debugOuts.testFlag(StdErrOut);
    if (onStdErr)
        LoggerManagerPrivate::writeStdErr(text);
    if (!_debugOuts.testFlag(FileOut))
        return;

    const bool keep = _rotateLogs && _keepLogHandlers;
    if (keep && context.category) {
        if (LoggerManager *writer = foundWriter(context.category)) {
            writer->open();
            LoggerManagerPrivate::write(*writer, onStdErr, text);
            return;
        }
    }

    const QString suffix = LoggerManagerPrivate::effectiveSuffix();
    // Compared as bytes: the same as comparing the name decoded as Latin-1, without decoding it.
    const bool defaultCategory = context.category && std::strcmp(context.category, "default") == 0;
    const QString key = defaultCategory
                            ? suffix
                            : suffix + QLatin1Char('.') + QString::fromLatin1(context.category);
    if (!keep) {
        LoggerManager writer(key);
        LoggerManagerPrivate::write(writer, onStdErr, text);
        return;
    }
    // Writers are kept by the name under which the platform knows their file: on Windows
    // "….log." and "….log", or categories "Net" and "net", are one file, and two writers of
    // their own would write over each other's records.
    const QString fileKey = ravix::PlatformConventions::fileNameKey(key, g_fileNameStyle);
    QSharedPointer<LoggerManager> writer = _loggers.value(fileKey);
    const bool kept = !writer.isNull();
    if (kept)
        writer->open();
    else
        writer.reset(new LoggerManager(key));
    LoggerManagerPrivate::write(*writer, onStdErr, text);
    if (!kept)
        _loggers.insert(fileKey, writer);
    if (context.category)
        rememberWriter(context.category, writer.data());
}

void LoggerManager::ignoreLogs(QtMsgType, const QMessageLogContext &, const QString &) {}

// ---- LoggerManager: settings ------------------------------------------------------------------

QFlags<LoggerManager::EQtDebugOut> LoggerManager::debugOuts()
{
    LogLock lock;
    return _debugOuts;
}

void LoggerManager::setDebugOuts(const QFlags<EQtDebugOut> &outs)
{
    LogLock lock;
    _debugOuts = outs;
    if (hasStopMarker(_logPath))
        _debugOuts = {};
}

QMap<QString, LoggerManager::OutputFunction> LoggerManager::outputs()
{
    LogLock lock;
    return _outputs;
}

void LoggerManager::setOutputs(const QMap<QString, OutputFunction> &outputs)
{
    LogLock lock;
    _outputs = outputs;
}

void LoggerManager::setOutputs(const QString &name, OutputFunction output)
{
    LogLock lock;
    _outputs.insert(name, std::move(output));
}

void LoggerManager::removeOutput(const QString &name)
{
    LogLock lock;
    _outputs.remove(name);
}

QString LoggerManager::logsPath()
{
    LogLock lock;
    return _logPath;
}

bool LoggerManager::rotateLogs()
{
    LogLock lock;
    return _rotateLogs;
}

unsigned LoggerManager::keepingDays()
{
    LogLock lock;
    return _keepingDays;
}

bool LoggerManager::keepLogHandlers()
{
    LogLock lock;
    return _keepLogHandlers;
}

void LoggerManager::setKeepLogHandlers(bool keep)
{
    LogLock lock;
    _keepLogHandlers = keep;
}

QString LoggerManager::defaultSuffix()
{
    LogLock lock;
    return _defaultSuffix;
}

void LoggerManager::setDefaultSuffix(const QString &suffix)
{
    LogLock lock;
    _defaultSuffix = suffix;
    LoggerManagerPrivate::forgetFoundWriters();
}

QStringList LoggerManager::additionalEraseFilters()
{
    LogLock lock;
    return _additionalEraseFilters;
}

void LoggerManager::setAdditionalEraseFilters(const QStringList &filters)
{
    LogLock lock;
    _additionalEraseFilters = filters;
}

bool LoggerManager::cleanAnyOldLogs()
{
    LogLock lock;
    return _cleanAnyOldLogs;
}

void LoggerManager::setCleanAnyOldLogs(bool clean)
{
    LogLock lock;
    _cleanAnyOldLogs = clean;
}

// ---- LoggerManager: start and stop ------------------------------------------------------------

bool LoggerManager::initLog(const QString &path, unsigned int keepDays, bool rotate,
                            QtMsgType minimumLevel)
{
    if (path.isEmpty() || keepDays == 0) {
        qInstallMessageHandler(&LoggerManager::ignoreLogs);
        return true;
    }
    LogLock lock;
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    _rotateLogs = rotate;
    ravix::DirCreator::checkAndCreate(path, ravix::DirCreator::DEFAULT_ALL);
    _logPath = path;
    _keepingDays = keepDays;
    _minimumLogLevel = minimumLevel;
    if (hasStopMarker(path))
        _debugOuts = {};

    // The start banner is written even when the marker has switched the outputs off.
    LoggerManager banner(LoggerManagerPrivate::effectiveSuffix());
    LogMessageRecord record;
    record.daily = _rotateLogs;
    record.file = __FILE__;
    record.line = __LINE__;
    record.function = "initLog";
    LoggerManagerPrivate::writeBanner(banner, record, QObject::tr("Start logging"), true);

    g_logReleased = false;
    qInstallMessageHandler(&LoggerManager::logMessageOutput);

    // A repeated call replaces the clean-up timer of the previous one, so there is never more
    // than one.
    LoggerManagerPrivate::resetEraseTimer(_rotateLogs);
    if (_rotateLogs)
        LoggerManagerPrivate::startCleanUp();
    return true;
}

bool LoggerManager::initLog(const QString &path, unsigned int keepDays, QtMsgType minimumLevel)
{
    return initLog(path, keepDays, true, minimumLevel);
}

bool LoggerManager::initEmptyLog()
{
    qInstallMessageHandler(&LoggerManager::ignoreLogs);
    return true;
}

void LoggerManager::releaseLog()
{
    LogLock lock;
    LoggerManagerPrivate::resetEraseTimer(false);
    _loggers.clear();
    LoggerManagerPrivate::forgetFoundWriters();

    LoggerManager banner(LoggerManagerPrivate::effectiveSuffix());
    LogMessageRecord record;
    record.daily = _rotateLogs;
    record.file = __FILE__;
    record.line = __LINE__;
    record.function = "releaseLog";
    LoggerManagerPrivate::writeBanner(banner, record, QObject::tr("Stop logging"), false);

    g_logReleased = true;
    qInstallMessageHandler(nullptr);
}
