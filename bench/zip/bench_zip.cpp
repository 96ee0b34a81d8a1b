// SPDX-License-Identifier: MIT
// One archive operation per run, so that the harness can time it beside the tools it is
// compared with; and the in-memory deflate floor for the same files.
// Usage:
//   bench_zip create <dir> <archive> <level 0-12> [threads]
//                                                    addDirectory of the whole tree
//   bench_zip extract <archive> <dir>                extractAll
//   bench_zip verify <archive>                       verifyArchive
//   bench_zip open <file>                            openArchive, prints the time it took
//   bench_zip threads                                exit status 0: create takes a thread
//                                                    count after the level
//   bench_zip floor <dir> <level> <rounds>           raw deflate of every file from memory
//                                                    against our writer on the same tree, in
//                                                    CPU time of the process
#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>
#include <zlib.h>

namespace {

int fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(text));
    return 1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

Zip::ErrorCode createArchive(const QString &dir, const QString &archive, int level, int threads = 1)
{
    Zip zip;
    zip.setCompressionThreads(threads);
    Zip::ErrorCode ec = zip.createArchive(archive, true);
    if (ec == Zip::Ok)
        ec = zip.addDirectory(dir, QString(), Zip::RelativePaths,
                              static_cast<Zip::CompressionLevel>(level));
    const Zip::ErrorCode closed = zip.closeArchive();
    return ec != Zip::Ok ? ec : closed;
}

// What any zlib-based writer must at least spend on these bytes: CRC and raw deflate of each
// file at the given level, the data already in memory, with the writer's 256 KiB chunks.
// CPU time of the process, system time included: on a shared machine wall time would charge
// whichever side happened to run while other processes took the cores.
double cpuNow()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double deflateFloor(const std::vector<QByteArray> &files, int level)
{
    static std::vector<unsigned char> out(262144);
    const double start = cpuNow();
    z_stream z;
    for (const QByteArray &data : files) {
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()));
        if (data.size() <= 59 || level == 0)
            continue;
        std::memset(&z, 0, sizeof(z));
        deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
        z.avail_in = uInt(data.size());
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, Z_FINISH);
        } while (z.avail_out == 0);
        deflateEnd(&z);
    }
    return cpuNow() - start;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    const QString cmd = a.value(1);

    if (cmd == QLatin1String("create") && (a.size() == 5 || a.size() == 6)) {
        const Zip::ErrorCode ec = createArchive(a[2], a[3], a[4].toInt(), a.value(5, "1").toInt());
        return ec == Zip::Ok ? 0 : fail("create", Zip().formatError(ec));
    }
    if ((cmd == QLatin1String("extract") && a.size() == 4) ||
        (cmd == QLatin1String("verify") && a.size() == 3)) {
        UnZip unzip;
        UnZip::ErrorCode ec = unzip.openArchive(a[2]);
        if (ec == UnZip::Ok)
            ec = cmd == QLatin1String("verify") ? unzip.verifyArchive() : unzip.extractAll(a[3]);
        return ec == UnZip::Ok ? 0 : fail(qPrintable(cmd), unzip.formatError(ec));
    }
    if (cmd == QLatin1String("threads"))
        return 0;
    if (cmd == QLatin1String("open") && a.size() == 3) {
        QElapsedTimer t;
        t.start();
        UnZip unzip;
        const UnZip::ErrorCode ec = unzip.openArchive(a[2]);
        std::printf("open %.3f s: %s\n", double(t.nsecsElapsed()) / 1e9,
                    qPrintable(unzip.formatError(ec)));
        return 0;
    }
    if (cmd == QLatin1String("floor") && a.size() == 5) {
        const int level = a[3].toInt();
        const int rounds = std::max(1, a[4].toInt());
        std::vector<QByteArray> files;
        qint64 bytes = 0;
        QDirIterator it(a[2], QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly))
                return fail("floor", f.fileName());
            files.push_back(f.readAll());
            bytes += files.back().size();
        }
        QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/bench_zip_XXXXXX"));
        const QString archive = tmp.filePath(QStringLiteral("floor.zip"));
        std::vector<double> floorTimes, ourTimes;
        for (int r = 0; r < rounds; ++r) {
            // Each side first in every other round.
            if (r % 2 == 0)
                floorTimes.push_back(deflateFloor(files, level));
            const double start = cpuNow();
            if (createArchive(a[2], archive, level) != Zip::Ok)
                return fail("floor", archive);
            ourTimes.push_back(cpuNow() - start);
            QFile::remove(archive);
            if (r % 2 == 1)
                floorTimes.push_back(deflateFloor(files, level));
        }
        const double fl = median(floorTimes), ours = median(ourTimes);
        std::printf("floor %lld bytes %zu files: zlib %.3f s (%.1f MB/s), ours %.3f s "
                    "(%.1f MB/s)\n",
                    static_cast<long long>(bytes), files.size(), fl, bytes / fl / 1e6, ours,
                    bytes / ours / 1e6);
        std::printf("share %.3f\n", fl / ours);
        return 0;
    }
    std::fprintf(stderr, "usage: bench_zip create|extract|verify|open|floor ...\n");
    return 2;
}
