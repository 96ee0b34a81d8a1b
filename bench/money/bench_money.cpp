// SPDX-License-Identifier: MIT
// Fixed-point money and version values, nanoseconds per operation.
#include <ravixcore/fixnumber/fixnumber.h>
#include <ravixcore/version/appversion.h>

#include <benchmark/benchmark.h>

#include <QStringList>

using ravix::AppVersion;
using ravix::FixNumber;

namespace {

const QStringList &amounts()
{
    static const QStringList list = {QStringLiteral("0.01"), QStringLiteral("12.50"),
                                     QStringLiteral("-1234.56"), QStringLiteral("999999.99"),
                                     QStringLiteral("7"), QStringLiteral("31415926.53")};
    return list;
}

void FixNumberParse(benchmark::State &state)
{
    int i = 0;
    for (auto _ : state) {
        FixNumber n(100, amounts().at(i++ % amounts().size()));
        benchmark::DoNotOptimize(n.value());
    }
}
BENCHMARK(FixNumberParse);

void FixNumberSetAllFromString(benchmark::State &state)
{
    int i = 0;
    FixNumber n;
    for (auto _ : state)
        benchmark::DoNotOptimize(n.setAllFromString(amounts().at(i++ % amounts().size())));
}
BENCHMARK(FixNumberSetAllFromString);

void FixNumberFormat(benchmark::State &state)
{
    const FixNumber n(100, qint64(123456789));
    for (auto _ : state)
        benchmark::DoNotOptimize(n.toString(QLatin1Char('.'), QLatin1Char(' ')));
}
BENCHMARK(FixNumberFormat);

void FixNumberSum(benchmark::State &state)
{
    const FixNumber a(100, qint64(1250)), b(1000, qint64(3125));
    FixNumber sum(100, qint64(0));
    for (auto _ : state) {
        sum += a;
        sum += b;
        benchmark::DoNotOptimize(sum.value());
    }
}
BENCHMARK(FixNumberSum);

void AppVersionParse(benchmark::State &state)
{
    static const QStringList versions = {QStringLiteral("1.3.1"), QStringLiteral("2.10.0-beta"),
                                         QStringLiteral("10.0.12-rc1")};
    const QString build = QStringLiteral("2021-12-16T10:20:30");
    int i = 0;
    for (auto _ : state) {
        AppVersion v(versions.at(i++ % versions.size()), build);
        benchmark::DoNotOptimize(v.majorVersion());
    }
}
BENCHMARK(AppVersionParse);

void AppVersionCompare(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            AppVersion::lessThen(QStringLiteral("1.3.1"), QStringLiteral("1.10.0")));
}
BENCHMARK(AppVersionCompare);

} // namespace

BENCHMARK_MAIN();
