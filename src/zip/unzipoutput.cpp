// SPDX-License-Identifier: MIT
#include "zip/unzipoutput_p.h"
#include "zip/ziputils.h"
#include "zip/ziputils_p.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtDebug>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravix {
namespace zipoutput {

namespace {

// A missing target left alone is OpenFailed, as opening the file in it would be.
UnZip::ErrorCode makeBase(const QDir &base, bool create)
{
    if (base.exists())
        return UnZip::Ok;
    if (!create) {
        qDebug().noquote()
            << QStringLiteral("Unable to open %1 for writing").arg(base.absolutePath());
        return UnZip::OpenFailed;
    }
    if (QDir().mkpath(base.absolutePath()))
        return UnZip::Ok;
    qDebug().noquote()
        << QStringLiteral("Unable to create output directory %1").arg(base.absolutePath());
    return UnZip::CreateDirFailed;
}

} // namespace

#ifndef Q_OS_WIN

OutputDir::~OutputDir()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

UnZip::ErrorCode OutputDir::open(const QDir &base, const QString &relative, bool createBase)
{
    m_path = base.absolutePath();
    const UnZip::ErrorCode made = makeBase(base, createBase || !relative.isEmpty());
    if (made != UnZip::Ok)
        return made;
    int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        qDebug().noquote() << QStringLiteral("Unable to create directory: %1").arg(m_path);
        return UnZip::CreateDirFailed;
    }
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        m_path += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(part);
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd, name.constData(), flags);
        if (next < 0 && errno == ENOENT) {
            // Created with the default mode, as QDir::mkpath did; a name that appeared in
            // between is opened below like any other.
            ::mkdirat(fd, name.constData(), 0777);
            next = ::openat(fd, name.constData(), flags);
        }
        if (next < 0) {
            struct stat st;
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                qDebug().noquote()
                    << QStringLiteral("%1 is a link in the target directory; it is not followed")
                           .arg(m_path);
            qDebug().noquote() << QStringLiteral("Unable to create directory: %1").arg(m_path);
            ::close(fd);
            return UnZip::CreateDirFailed;
        }
        ::close(fd);
        fd = next;
    }
    m_fd = fd;
    return UnZip::Ok;
}

UnZip::ErrorCode OutputDir::writeFile(const QString &name, const QDateTime &wallClock,
                                      const std::function<UnZip::ErrorCode(QIODevice *)> &fill)
{
    const QString target = m_path + QLatin1Char('/') + name;
    const QByteArray finalName = QFile::encodeName(name);
    // Written beside its name and renamed over it: whatever is at the name (a link, a FIFO, a
    // hard link to someone else's file) is replaced, never written through.
    QByteArray tmpName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmpName = "." + finalName.left(200) + "." +
                  QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".part";
        fd = ::openat(m_fd, tmpName.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        qDebug().noquote() << QStringLiteral("Unable to open %1 for writing").arg(target);
        return UnZip::OpenFailed;
    }

    UnZip::ErrorCode ec;
    {
        QFile out;
        out.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
        ec = fill(&out);
        if (ec == UnZip::Ok && !out.flush())
            ec = UnZip::WriteFailed;
    }

    struct stat old;
    const bool exists = ::fstatat(m_fd, finalName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (ec == UnZip::Ok) {
        // A regular file of ours that is replaced keeps its mode (never set-id bits).
        if (exists && S_ISREG(old.st_mode) && old.st_uid == ::geteuid())
            ::fchmod(fd, old.st_mode & 0777);
        // The present offset, taken once per directory: each look at it reads the zone file.
        if (!m_utcOffsetKnown) {
            m_utcOffset = zip_currentUtcOffset();
            m_utcOffsetKnown = true;
        }
        const QDateTime utc = zip_wallClockToUtc(wallClock, m_utcOffset);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = utc.isValid() ? time_t(utc.toSecsSinceEpoch()) : 0;
        times[1].tv_nsec = 0;
        if (!utc.isValid() || ::futimens(fd, times) != 0)
            qDebug().noquote()
                << QStringLiteral("Unable to set last modified time on file: %1").arg(target);
    }
    // The disk may report that it is full only when the file is closed.
    if (::close(fd) != 0 && ec == UnZip::Ok)
        ec = UnZip::WriteFailed;

    if (ec == UnZip::Ok) {
        if (exists && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode))
            qDebug().noquote()
                << QStringLiteral("%1 is a link or special file in the target directory; it is "
                                  "replaced, not written through")
                       .arg(target);
        if (::renameat(m_fd, tmpName.constData(), m_fd, finalName.constData()) == 0)
            return UnZip::Ok;
        qDebug().noquote() << QStringLiteral("Unable to open %1 for writing").arg(target);
        ec = UnZip::OpenFailed;
    }
    if (::unlinkat(m_fd, tmpName.constData(), 0) != 0)
        qDebug().noquote() << QStringLiteral("Unable to remove corrupted file: %1").arg(target);
    return ec;
}

#else // Q_OS_WIN

OutputDir::~OutputDir() = default;

UnZip::ErrorCode OutputDir::open(const QDir &base, const QString &relative, bool createBase)
{
    m_path = base.absolutePath();
    const UnZip::ErrorCode made = makeBase(base, createBase || !relative.isEmpty());
    if (made != UnZip::Ok)
        return made;
    if (relative.isEmpty())
        return UnZip::Ok;
    m_path += QLatin1Char('/') + relative;
    if (!QDir(m_path).exists() && !QDir().mkpath(m_path)) {
        qDebug().noquote() << QStringLiteral("Unable to create directory: %1").arg(m_path);
        return UnZip::CreateDirFailed;
    }
    return UnZip::Ok;
}

UnZip::ErrorCode OutputDir::writeFile(const QString &name, const QDateTime &wallClock,
                                      const std::function<UnZip::ErrorCode(QIODevice *)> &fill)
{
    const QString target = m_path + QLatin1Char('/') + name;
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        qDebug().noquote() << QStringLiteral("Unable to open %1 for writing").arg(target);
        return UnZip::OpenFailed;
    }
    UnZip::ErrorCode ec = fill(&out);
    if (ec == UnZip::Ok && !out.flush())
        ec = UnZip::WriteFailed;
    out.close();
    if (ec != UnZip::Ok) {
        if (!out.remove())
            qDebug().noquote() << QStringLiteral("Unable to remove corrupted file: %1").arg(target);
        return ec;
    }
    if (!zip_setFileTimestamp(target, wallClock))
        qDebug().noquote()
            << QStringLiteral("Unable to set last modified time on file: %1").arg(target);
    return UnZip::Ok;
}

#endif

} // namespace zipoutput
} // namespace ravix
