#include "zip/ziputils.h"

#include <QFile>

#include <cmath>
#include <ctime>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

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

bool zip_setFileTimestamp(const QString &fileName, const QDateTime &dt)
{
    if (fileName.isEmpty())
        return true;
#ifdef Q_OS_WIN
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(fileName.utf16()), GENERIC_WRITE,
                           FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    SYSTEMTIME st;
    const QDate d = dt.date();
    const QTime t = dt.time();
    st.wYear = static_cast<WORD>(d.year());
    st.wMonth = static_cast<WORD>(d.month());
    st.wDayOfWeek = 0;
    st.wDay = static_cast<WORD>(d.day());
    st.wHour = static_cast<WORD>(t.hour());
    st.wMinute = static_cast<WORD>(t.minute());
    st.wSecond = static_cast<WORD>(t.second());
    st.wMilliseconds = static_cast<WORD>(t.msec());
    FILETIME local;
    FILETIME utc;
    bool ok = SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &utc);
    ok = ok && SetFileTime(h, nullptr, nullptr, &utc);
    CloseHandle(h);
    return ok;
#else
    // The fields are local wall-clock time, whatever time spec dt carries.
    const QDateTime local(dt.date(), dt.time(), Qt::LocalTime);
    if (!local.isValid())
        return false;
    const qint64 ms = local.toMSecsSinceEpoch();
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(ms / 1000);
    times[1].tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_sec -= 1;
        times[1].tv_nsec += 1000000000;
    }
    return utimensat(AT_FDCWD, QFile::encodeName(fileName).constData(), times, 0) == 0;
#endif
}
