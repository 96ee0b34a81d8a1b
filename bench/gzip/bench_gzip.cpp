// SPDX-License-Identifier: MIT
// gzuncompress and gzcompress against zlib's one-shot calls on the same text, interleaved,
// median of the rounds, in CPU time of the thread. Prints "<name> <ours s> <zlib s>" lines for the
// harness, and "size <ours> <zlib>" with the compressed sizes in bytes.
// Usage: bench_gzip <text file> <rounds>
#include <ravixcore/sys/gzipstreamwrapper.h>

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>
#include <zlib.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time of this thread: both sides are pure computation, and on a shared machine the time
// other processes take from us would otherwise land on whichever side happened to run then.
double cpuNow()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

template <typename F> double timed(F &&f)
{
    const double start = cpuNow();
    f();
    return cpuNow() - start;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_gzip <text file> <rounds>\n");
        return 2;
    }
    QFile f(QString::fromLocal8Bit(argv[1]));
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray text = f.readAll();
    const int rounds = std::max(1, atoi(argv[2]));
    const QByteArray packed = ravix::GzipStreamWrapper::gzcompress(text);

    std::vector<double> unOurs, unZlib, coOurs, coZlib;
    int ourSize = 0, zlibSize = 0;
    for (int r = 0; r < rounds; ++r) {
        QByteArray a, b;
        const auto ourUn = [&] {
            unOurs.push_back(timed([&] { a = ravix::GzipStreamWrapper::gzuncompress(packed); }));
        };
        const auto zlibUn = [&] {
            unZlib.push_back(timed([&] {
                b = QByteArray(text.size(), Qt::Uninitialized);
                uLongf len = uLongf(b.size());
                uncompress(reinterpret_cast<Bytef *>(b.data()), &len,
                           reinterpret_cast<const Bytef *>(packed.constData()),
                           uLong(packed.size()));
                b.resize(int(len));
            }));
        };
        // Taken in turn, each side first in every other round.
        if (r % 2) {
            zlibUn();
            ourUn();
        } else {
            ourUn();
            zlibUn();
        }
        if (a != text || b != text) {
            std::fprintf(stderr, "round trip differs\n");
            return 1;
        }
        const auto ourCo = [&] {
            coOurs.push_back(timed([&] { a = ravix::GzipStreamWrapper::gzcompress(text); }));
        };
        const auto zlibCo = [&] {
            coZlib.push_back(timed([&] {
                uLongf len = compressBound(uLong(text.size()));
                b = QByteArray(int(len), Qt::Uninitialized);
                compress2(reinterpret_cast<Bytef *>(b.data()), &len,
                          reinterpret_cast<const Bytef *>(text.constData()), uLong(text.size()), 6);
                b.resize(int(len));
            }));
        };
        if (r % 2) {
            zlibCo();
            ourCo();
        } else {
            ourCo();
            zlibCo();
        }
        // The compressed bytes may differ from zlib's; what counts is that zlib reads them.
        QByteArray back(text.size(), Qt::Uninitialized);
        uLongf len = uLongf(back.size());
        if (uncompress(reinterpret_cast<Bytef *>(back.data()), &len,
                       reinterpret_cast<const Bytef *>(a.constData()), uLong(a.size())) != Z_OK ||
            back != text) {
            std::fprintf(stderr, "zlib does not read our compressed form back\n");
            return 1;
        }
        ourSize = a.size();
        zlibSize = b.size();
    }
    std::printf("gzuncompress %.6f %.6f\n", median(unOurs), median(unZlib));
    std::printf("gzcompress %.6f %.6f\n", median(coOurs), median(coZlib));
    std::printf("size %d %d\n", ourSize, zlibSize);
    return 0;
}
