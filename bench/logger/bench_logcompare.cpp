// SPDX-License-Identifier: MIT
// Time per record through the log manager's message handler (kept writers, daily files, one
// flushed write per record) against spdlog's daily file sink flushing every record. Both sides
// log a ready text with its source location, and the spdlog side's pattern is padded so that
// both write records of the same length; one and two threads, interleaved rounds, medians.
// A last row logs through the printf form of qWarning, for the record: there Qt's own
// formatting of the arguments costs more than the handler.
// Prints "<row> <ours ns/record> <spdlog ns/record>" lines for the harness, and "# ..." notes.
// Usage: bench_logcompare <records per run> <rounds> <directory>
#include <ravixcore/logger/loggermanager.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#ifndef QT_MESSAGELOGCONTEXT
#error "the comparison needs the source location in Qt's records (QT_MESSAGELOGCONTEXT)"
#endif

namespace {

const char kText[] = "record of a terminal daemon with a payload of ordinary length";

double runThreads(int threads, int perThread, const std::function<void(int, int)> &log)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<QThread *> workers;
    for (int t = 0; t < threads; ++t)
        workers.push_back(QThread::create([=, &log] {
            for (int i = 0; i < perThread; ++i)
                log(t, i);
        }));
    for (QThread *w : workers)
        w->start();
    for (QThread *w : workers) {
        w->wait();
        delete w;
    }
    return double(clock.nsecsElapsed()) / (double(perThread) * threads);
}

qint64 bytesIn(const QString &dir)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

enum class Form { Stream, Printf };

double ours(const QString &dir, int records, int threads, Form form)
{
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    LoggerManager::setKeepLogHandlers(true);
    LoggerManager::initLog(dir, 7, true);
    QThreadPool::globalInstance()->waitForDone();
    const QString text = QString::fromLatin1(kText);
    double ns;
    if (form == Form::Stream)
        ns = runThreads(threads, records / threads,
                        [&text](int, int) { qWarning().noquote() << text; });
    else
        ns = runThreads(threads, records / threads,
                        [](int t, int i) { qWarning("thread %d record %d of a daemon", t, i); });
    LoggerManager::releaseLog();
    return ns;
}

// The pattern mirrors the log manager's record with a source location: time, level, file, line,
// thread, then function and text on lines of their own. `pad` evens out what still differs
// (the function's name: Qt gives the whole signature, spdlog the bare name).
std::shared_ptr<spdlog::logger> spdlogger(const QString &dir, int pad)
{
    auto logger = spdlog::daily_logger_mt("bench", qPrintable(dir + QStringLiteral("/bench.log")));
    logger->set_pattern("[%H:%M:%S.%e] WARNING:        %-32s%-5#THREAD_ID:    %-16t\n"
                        "               %!" + std::string(std::size_t(std::max(0, pad)), ' ') +
                        "\n               %v");
    logger->flush_on(spdlog::level::trace);
    return logger;
}

double theirs(const QString &dir, int records, int threads, Form form, int pad)
{
    auto logger = spdlogger(dir, pad);
    const std::string text(kText);
    double ns;
    if (form == Form::Stream)
        ns = runThreads(threads, records / threads, [&logger, &text](int, int) {
            SPDLOG_LOGGER_CALL(logger, spdlog::level::warn, "{}", text);
        });
    else
        ns = runThreads(threads, records / threads, [&logger](int t, int i) {
            SPDLOG_LOGGER_CALL(logger, spdlog::level::warn, "thread {} record {} of a daemon", t, i);
        });
    spdlog::drop("bench");
    return ns;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench"));
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_logcompare <records> <rounds> <directory>\n");
        return 2;
    }
    const int records = std::max(2, atoi(argv[1]));
    const int rounds = std::max(1, atoi(argv[2]));
    const QString base = QString::fromLocal8Bit(argv[3]);

    // Calibration: the same records on both sides, then the difference per record is padded.
    const int probe = 100;
    int pad = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString dirA = base + QStringLiteral("/probe-ours");
        const QString dirB = base + QStringLiteral("/probe-theirs");
        QDir().mkpath(dirB);
        ours(dirA, probe, 1, Form::Stream);
        theirs(dirB, probe, 1, Form::Stream, pad);
        const qint64 a = bytesIn(dirA), b = bytesIn(dirB);
        QDir(dirA).removeRecursively();
        QDir(dirB).removeRecursively();
        if (attempt == 1)
            std::printf("# bytes per record: ours %.1f, spdlog %.1f\n", double(a) / probe,
                        double(b) / probe);
        pad += int(qRound(double(a - b) / probe));
    }

    struct Row { const char *name; int threads; Form form; };
    for (const Row &row : {Row{"log1t", 1, Form::Stream}, Row{"log2t", 2, Form::Stream},
                           Row{"log1t-printf", 1, Form::Printf}}) {
        std::vector<double> a, b;
        for (int r = 0; r < rounds; ++r) {
            const QString dirA = QStringLiteral("%1/ours%2").arg(base).arg(r);
            const QString dirB = QStringLiteral("%1/theirs%2").arg(base).arg(r);
            QDir().mkpath(dirB);
            // Taken in turn, each side first in every other round.
            if (r % 2) {
                b.push_back(theirs(dirB, records, row.threads, row.form, pad));
                a.push_back(ours(dirA, records, row.threads, row.form));
            } else {
                a.push_back(ours(dirA, records, row.threads, row.form));
                b.push_back(theirs(dirB, records, row.threads, row.form, pad));
            }
            QDir(dirA).removeRecursively();
            QDir(dirB).removeRecursively();
        }
        std::printf("%s %.1f %.1f\n", row.name, median(a), median(b));
    }
    return 0;
}
