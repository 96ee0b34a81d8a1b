// SPDX-License-Identifier: MIT
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

#ifndef Q_OS_WIN
const char *const CONTEXT = "ravix::TrustedFile";
const char *const A_LINK = QT_TRANSLATE_NOOP("ravix::TrustedFile", "a symbolic link");

QString text(const char *source)
{
    return QCoreApplication::translate(CONTEXT, source);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString foreignOwner(const struct stat &st)
{
    if (st.st_uid == 0 || st.st_uid == ::geteuid())
        return QString();
    return QCoreApplication::translate("ravix::TrustedFile", "owned by another account (uid %1)")
        .arg(st.st_uid);
}

// The reason a file with these attributes may not steer the daemon; empty when it may.
QString untrustedReason(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return QCoreApplication::translate("ravix::TrustedFile", "not a regular file");
    const QString owner = foreignOwner(st);
    if (!owner.isEmpty())
        return owner;
    if (st.st_mode & S_IWOTH)
        return QCoreApplication::translate("ravix::TrustedFile", "writable by every account");
    if ((st.st_mode & S_IWGRP) && st.st_gid != 0 && st.st_gid != ::getegid())
        return QCoreApplication::translate("ravix::TrustedFile", "writable by the group %1")
            .arg(st.st_gid);
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
        reason = errno == ELOOP ? text(A_LINK) : systemError();
    } else {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            reason = systemError();
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

#ifndef Q_OS_WIN
int openOwnDirectory(const QString &path, QString *why)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP ? text(A_LINK) : systemError();
        return -1;
    }
    struct stat st;
    *why = ::fstat(fd, &st) != 0 ? systemError() : foreignOwner(st);
    if (why->isEmpty())
        return fd;
    ::close(fd);
    return -1;
}
#endif

} // namespace ravix
