// gzuncompress and gzcompress against zlib's one-shot calls on the same text, interleaved,
// median of the rounds. Prints "<name> <ours s> <zlib s>" lines for the harness.
// Usage: bench_gzip <text file> <rounds>
#include <ravixcore/sys/gzipstreamwrapper.h>

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <zlib.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double timed(F &&f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e9;
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
    for (int r = 0; r < rounds; ++r) {
        QByteArray a, b;
        unOurs.push_back(timed([&] { a = ravix::GzipStreamWrapper::gzuncompress(packed); }));
        unZlib.push_back(timed([&] {
            b.resize(text.size());
            uLongf len = uLongf(b.size());
            uncompress(reinterpret_cast<Bytef *>(b.data()), &len,
                       reinterpret_cast<const Bytef *>(packed.constData()), uLong(packed.size()));
            b.resize(int(len));
        }));
        if (a != text || b != text) {
            std::fprintf(stderr, "round trip differs\n");
            return 1;
        }
        coOurs.push_back(timed([&] { a = ravix::GzipStreamWrapper::gzcompress(text); }));
        coZlib.push_back(timed([&] {
            uLongf len = compressBound(uLong(text.size()));
            b.resize(int(len));
            compress2(reinterpret_cast<Bytef *>(b.data()), &len,
                      reinterpret_cast<const Bytef *>(text.constData()), uLong(text.size()), 6);
            b.resize(int(len));
        }));
        if (a != b) {
            std::fprintf(stderr, "compressed forms differ\n");
            return 1;
        }
    }
    std::printf("gzuncompress %.6f %.6f\n", median(unOurs), median(unZlib));
    std::printf("gzcompress %.6f %.6f\n", median(coOurs), median(coZlib));
    return 0;
}
