// SPDX-License-Identifier: MIT
#include "zip/ziputils.h"
#include "zip/ziputils_p.h"

#include "sys/oslayer_p.h"

#include <QFile>

#include <cmath>
#include <ctime>

int zip_currentUtcOffset()
{
    const time_t now = time(nullptr);
    struct tm g;
    struct tm l;
#ifdef Q_OS_WIN
    if (gmtime_s(&g, &now) != 0 || localtime_s(&l, &now) != 0)
        return 0;
#else
    if (!gmtime_r(&now, &g) || !localtime_r(&now, &l))
        return 0;
#endif
    const bool dst = l.tm_isdst > 0;
    const double d = difftime(mktime(&g), mktime(&l));
    long r;
    if (d >= 0) {
        r = static_cast<long>(std::trunc(d + 0.5));
    } else {
        const long k = static_cast<long>(std::trunc(d - 1));
        r = k + static_cast<long>(std::trunc(d - k + 0.5));
    }
    return static_cast<int>(dst ? 3600 - r : -r);
}

QDateTime zip_fromFileTimestamp(const QDateTime &dt)
{
    return dt.toTimeSpec(Qt::UTC).addSecs(zip_currentUtcOffset());
}

QDateTime zip_wallClockToUtc(const QDateTime &dt)
{
    // The fields are local wall-clock time, whatever time spec dt carries. They go back to UTC
    // with the present offset, the one the writer used to make them (zip_fromFileTimestamp),
    // so a file keeps its time through an archive also when daylight saving differs between
    // its date and today.
    return zip_wallClockToUtc(dt, zip_currentUtcOffset());
}

QDateTime zip_wallClockToUtc(const QDateTime &dt, int utcOffset)
{
    const QDateTime fields(dt.date(), dt.time(), Qt::UTC);
    return fields.isValid() ? fields.addSecs(-utcOffset) : QDateTime();
}

bool zip_setFileTimestamp(const QString &fileName, const QDateTime &dt)
{
    if (fileName.isEmpty())
        return true;
    const QDateTime utc = zip_wallClockToUtc(dt);
    if (!utc.isValid())
        return false;
    // Modification time in 100-ns units since 1601-01-01 UTC.
    const std::uint64_t written =
        std::uint64_t(utc.toMSecsSinceEpoch() * 10000 + 116444736000000000LL);
    return ravix::oslayer::OsLayer::current().setFileTimes(fileName.toStdWString(), nullptr,
                                                           nullptr, &written);
}
