#include "appframe/trustedfile_p.h"

#include <QCoreApplication>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravix {

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("ravix::TrustedFile", source);
}

#ifndef Q_OS_WIN
// The reason a file with these attributes may not steer the daemon; empty when it may.
QString untrustedReason(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return text("not a regular file");
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return text("owned by another account (uid %1)").arg(st.st_uid);
    if (st.st_mode & S_IWOTH)
        return text("writable by every account");
    if ((st.st_mode & S_IWGRP) && st.st_gid != 0 && st.st_gid != ::getegid())
        return text("writable by the group %1").arg(st.st_gid);
    return QString();
}
#endif

} // namespace

bool openTrustedFile(QFile &file, const QString &path, QString *why)
{
    QString reason;
#ifdef Q_OS_WIN
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    reason = file.errorString();
#else
    // Non-blocking, so that a FIFO at the name cannot hold the caller.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason =
            errno == ELOOP ? text("a symbolic link") : QString::fromLocal8Bit(std::strerror(errno));
    } else {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            reason = QString::fromLocal8Bit(std::strerror(errno));
        else
            reason = untrustedReason(st);
        if (reason.isEmpty() && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            return true;
        if (reason.isEmpty())
            reason = file.errorString();
        ::close(fd);
    }
#endif
    if (why)
        *why = reason;
    return false;
}

bool readTrustedFile(const QString &path, QByteArray *data, QString *why)
{
    QFile file;
    if (!openTrustedFile(file, path, why))
        return false;
    *data = file.readAll();
    if (file.error() == QFileDevice::NoError)
        return true;
    if (why)
        *why = file.errorString();
    return false;
}

} // namespace ravix
