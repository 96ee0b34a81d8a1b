// SPDX-License-Identifier: MIT
#include "sys/safefile_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravix {
namespace safefile {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SafeFile", text);
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

#ifndef Q_OS_WIN

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// A descriptor just opened without waiting on a FIFO: it must be a regular file (with one name
// unless \a anyNames; with \a devices a character or block device will do too), or it is
// closed. What is taken blocks again from here on: a regular file never waits, and callers
// expect whole reads and writes.
bool acceptOpened(int fd, bool anyNames, bool devices, QString *error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        setError(error, systemError(e));
        return false;
    }
    const bool regular = S_ISREG(st.st_mode);
    const bool device = devices && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
    if (!(regular || device) || (regular && !anyNames && st.st_nlink != 1)) {
        ::close(fd);
        setError(error, regular ? tr("the file has more than one name") : tr("not a regular file"));
        return false;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return true;
}

int openNoFollow(const QString &path, int flags, int createMode, QString *error)
{
    int fd;
    do {
        fd = ::open(encoded(path).constData(),
                    flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, createMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int e = errno;
        // ELOOP is what O_NOFOLLOW gives for a link; ENXIO a FIFO without a reader.
        setError(error, e == ELOOP ? tr("the name is a symbolic link") : systemError(e));
        errno = e; // callers look at it
        return -1;
    }
    if (!acceptOpened(fd, false, false, error)) {
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool adopt(QFile &file, int fd, QIODevice::OpenMode mode, QString *error)
{
    if (!file.open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        setError(error, file.errorString());
        ::close(fd);
        return false;
    }
    return true;
}

#else

QFileDevice::Permissions ownerPermissions(int mode)
{
    QFileDevice::Permissions p;
    if (mode & 0400)
        p |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & 0200)
        p |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    return p;
}

bool plantedName(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymbolicLink() || info.isJunction()) {
        setError(error, tr("the name is a symbolic link"));
        return true;
    }
    if (info.exists() && !info.isFile()) {
        setError(error, tr("not a regular file"));
        return true;
    }
    return false;
}

#endif

} // namespace

// ---- opening ----------------------------------------------------------------------------------

bool openForWrite(QFile &file, const QString &path, WriteMode mode, int createMode,
                  QString *error, bool *created)
{
    if (created)
        *created = false;
#ifndef Q_OS_WIN
    const bool append = mode != Truncate;
    const int flags = O_WRONLY | (append ? O_APPEND : 0);
    // An existing file is the common case; a missing one is created exclusively, which also
    // tells that it is new (another process may create it in between: then it is opened).
    int fd = openNoFollow(path, flags, 0, error);
    if (fd < 0 && errno == ENOENT) {
        fd = openNoFollow(path, flags | O_CREAT | O_EXCL, createMode, error);
        if (fd >= 0 && created)
            *created = true;
        else if (fd < 0 && errno == EEXIST)
            fd = openNoFollow(path, flags, 0, error);
    }
    if (fd < 0)
        return false;
    if (mode == Truncate && !(created && *created) && ::ftruncate(fd, 0) != 0) {
        setError(error, systemError(errno));
        ::close(fd);
        return false;
    }
    QIODevice::OpenMode m = QIODevice::WriteOnly;
    if (append)
        m |= QIODevice::Append;
    if (mode == AppendText)
        m |= QIODevice::Text;
    return adopt(file, fd, m, error);
#else
    Q_UNUSED(createMode)
    if (plantedName(path, error))
        return false;
    const bool existed = QFileInfo::exists(path);
    file.setFileName(path);
    QIODevice::OpenMode m = QIODevice::WriteOnly | QIODevice::Unbuffered;
    m |= mode == Truncate ? QIODevice::Truncate : QIODevice::Append;
    if (mode == AppendText)
        m |= QIODevice::Text;
    if (!file.open(m)) {
        setError(error, file.errorString());
        return false;
    }
    if (created)
        *created = !existed;
    return true;
#endif
}

bool openForRead(QFile &file, const QString &path, QString *error)
{
#ifndef Q_OS_WIN
    const int fd = openNoFollow(path, O_RDONLY, 0, error);
    return fd >= 0 && adopt(file, fd, QIODevice::ReadOnly, error);
#else
    return !plantedName(path, error) && openForReadFollowing(file, path, false, error);
#endif
}

bool openForReadFollowing(QFile &file, const QString &path, bool devices, QString *error)
{
#ifndef Q_OS_WIN
    int fd;
    do {
        fd = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setError(error, systemError(errno));
        return false;
    }
    return acceptOpened(fd, true, devices, error) && adopt(file, fd, QIODevice::ReadOnly, error);
#else
    Q_UNUSED(devices)
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, file.errorString());
        return false;
    }
    return true;
#endif
}

bool setMode(QFile &file, int mode)
{
#ifndef Q_OS_WIN
    return file.handle() >= 0 && ::fchmod(file.handle(), mode_t(mode)) == 0;
#else
    // Windows keeps only the read-only attribute; the access list is what matters there.
    return file.setPermissions(ownerPermissions(mode));
#endif
}

bool setPermissionsAt(const QString &path, QFileDevice::Permissions permissions)
{
#ifndef Q_OS_WIN
    const int fd = ::open(encoded(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) &&
                    ::fchmod(fd, mode_t(modeOf(permissions, S_ISDIR(st.st_mode)))) == 0;
    ::close(fd);
    return ok;
#else
    const QFileInfo info(path);
    if (info.isSymbolicLink() || info.isJunction() || !(info.isDir() || info.isFile()))
        return false;
    return QFile::setPermissions(path, permissions);
#endif
}

int modeOf(QFileDevice::Permissions p, bool directory)
{
    int mode = 0;
    if (p & (QFileDevice::ReadOwner | QFileDevice::ReadUser))
        mode |= 0400;
    if (p & (QFileDevice::WriteOwner | QFileDevice::WriteUser))
        mode |= 0200;
    if (p & (QFileDevice::ExeOwner | QFileDevice::ExeUser))
        mode |= 0100;
    if (p & QFileDevice::ReadGroup)
        mode |= 040;
    if (p & QFileDevice::WriteGroup)
        mode |= 020;
    if (p & QFileDevice::ExeGroup)
        mode |= 010;
    if (p & QFileDevice::ReadOther)
        mode |= 04;
    if (p & QFileDevice::WriteOther)
        mode |= 02;
    if (p & QFileDevice::ExeOther)
        mode |= 01;
    if (directory && (mode & 02))
        mode |= 01000;
    return mode;
}

bool ownedBySelfOrRoot(const QString &path)
{
#ifndef Q_OS_WIN
    struct stat st;
    if (::lstat(encoded(path).constData(), &st) != 0)
        return false;
    return st.st_uid == 0 || st.st_uid == ::geteuid();
#else
    Q_UNUSED(path)
    return true;
#endif
}

// ---- AtomicFile -------------------------------------------------------------------------------

struct AtomicFile::Private
{
    QString path;
    int mode = 0644;
    QFile file;
    bool open = false;
#ifndef Q_OS_WIN
    int dirFd = -1;
    int fd = -1;
    QByteArray base, temp;
#else
    QSaveFile save;
#endif
};

AtomicFile::AtomicFile(const QString &path, int mode) : d(new Private)
{
    d->path = path;
    d->mode = mode;
}

AtomicFile::~AtomicFile()
{
    cancel();
}

QFileDevice *AtomicFile::device()
{
#ifndef Q_OS_WIN
    return &d->file;
#else
    return &d->save;
#endif
}

bool AtomicFile::open(QString *error)
{
    cancel();
    const QFileInfo info(d->path);
    if (info.fileName().isEmpty()) {
        setError(error, tr("no file name"));
        return false;
    }
#ifndef Q_OS_WIN
    d->dirFd = ::open(encoded(info.absolutePath()).constData(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d->dirFd < 0) {
        setError(error, systemError(errno));
        return false;
    }
    d->base = encoded(info.fileName());
    for (int attempt = 0; attempt < 100 && d->fd < 0; ++attempt) {
        d->temp = '.' + d->base + '.' +
                  QByteArray::number(QRandomGenerator::system()->generate(), 36) + ".tmp";
        d->fd = ::openat(d->dirFd, d->temp.constData(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (d->fd < 0 && errno != EEXIST)
            break;
    }
    if (d->fd < 0) {
        setError(error, systemError(errno));
        cancel();
        return false;
    }
    // The descriptor stays ours, so that closing it can be checked before the rename.
    if (!d->file.open(d->fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        setError(error, d->file.errorString());
        cancel();
        return false;
    }
#else
    // QSaveFile would write to the target of a link at the name: the link goes first.
    const QFileInfo existing(d->path);
    if (existing.isSymbolicLink() || existing.isJunction())
        QFile::remove(d->path);
    d->save.setFileName(d->path);
    d->save.setDirectWriteFallback(false);
    if (!d->save.open(QIODevice::WriteOnly)) {
        setError(error, d->save.errorString());
        return false;
    }
#endif
    d->open = true;
    return true;
}

bool AtomicFile::commit(QString *error)
{
    if (!d->open) {
        setError(error, tr("not open"));
        return false;
    }
#ifndef Q_OS_WIN
    // Each step is checked: a full disk may show only at the last flush, at the sync or at
    // the close.
    bool ok = d->file.flush() && d->file.error() == QFileDevice::NoError;
    if (!ok)
        setError(error, d->file.errorString());
    d->file.close();
    if (ok && ::fchmod(d->fd, mode_t(d->mode)) != 0) {
        ok = false;
        setError(error, systemError(errno));
    }
    if (ok && ::fsync(d->fd) != 0) {
        ok = false;
        setError(error, systemError(errno));
    }
    const int fd = d->fd;
    d->fd = -1;
    if (::close(fd) != 0 && ok) {
        ok = false;
        setError(error, systemError(errno));
    }
    if (ok && ::renameat(d->dirFd, d->temp.constData(), d->dirFd, d->base.constData()) != 0) {
        ok = false;
        setError(error, systemError(errno));
    }
    if (!ok) {
        cancel();
        return false;
    }
    // The new name is durable once the folder is synced too.
    ::fsync(d->dirFd);
    d->temp.clear();
    d->open = false;
    cancel();
    return true;
#else
    bool ok = d->save.flush() && d->save.error() == QFileDevice::NoError;
    if (!ok) {
        setError(error, d->save.errorString());
        cancel();
        return false;
    }
    if (!d->save.commit()) {
        setError(error, d->save.errorString());
        d->open = false;
        return false;
    }
    d->open = false;
    return true;
#endif
}

void AtomicFile::cancel()
{
#ifndef Q_OS_WIN
    if (d->file.isOpen())
        d->file.close();
    if (d->fd >= 0) {
        ::close(d->fd);
        d->fd = -1;
    }
    if (d->dirFd >= 0) {
        if (!d->temp.isEmpty())
            ::unlinkat(d->dirFd, d->temp.constData(), 0);
        ::close(d->dirFd);
        d->dirFd = -1;
    }
    d->temp.clear();
#else
    if (d->open)
        d->save.cancelWriting();
    if (d->save.isOpen())
        d->save.commit(); // after cancelWriting() this only removes the temporary
#endif
    d->open = false;
}

// ---- walking trees ----------------------------------------------------------------------------

#ifndef Q_OS_WIN

namespace {

QDateTime modified(const struct stat &st)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 +
                                          st.st_mtim.tv_nsec / 1000000);
}

} // namespace

struct TreeWalk
{
    const std::function<void(TreeEntry &)> &visit;
    static constexpr int kMaxDepth = 64;

    bool run(const QString &root);

    void fill(TreeEntry &e, const struct stat &st)
    {
        e.m_isDir = S_ISDIR(st.st_mode);
        e.m_isFile = S_ISREG(st.st_mode);
        e.m_isLink = S_ISLNK(st.st_mode);
        e.m_modified = modified(st);
        e.m_dev = quint64(st.st_dev);
        e.m_ino = quint64(st.st_ino);
    }

    // Walks the directory open at \a fd (taken over and closed here).
    void walk(int fd, const QString &path, int depth)
    {
        std::vector<QByteArray> names;
        const int listFd = ::dup(fd);
        DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0)
                ::close(listFd);
            ::close(fd);
            return;
        }
        while (const dirent *ent = ::readdir(dir)) {
            if (std::strcmp(ent->d_name, ".") != 0 && std::strcmp(ent->d_name, "..") != 0)
                names.emplace_back(ent->d_name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());

        for (const QByteArray &name : names) {
            struct stat st;
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            TreeEntry e;
            e.m_name = QFile::decodeName(name);
            e.m_path = path + QLatin1Char('/') + e.m_name;
            e.m_parentFd = fd;
            fill(e, st);
            if (e.m_isDir) {
                e.m_fd = ::openat(fd, name.constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                struct stat now;
                // Swapped since it was looked at: not entered, not touched.
                if (e.m_fd < 0 || ::fstat(e.m_fd, &now) != 0 || now.st_dev != st.st_dev ||
                    now.st_ino != st.st_ino) {
                    if (e.m_fd >= 0)
                        ::close(e.m_fd);
                    continue;
                }
            }
            visit(e);
            if (e.m_isDir) {
                if (!e.m_skip && depth < kMaxDepth)
                    walk(e.m_fd, e.m_path, depth + 1);
                else
                    ::close(e.m_fd);
            }
        }
        ::close(fd);
    }
};

bool TreeEntry::remove()
{
    if (m_isDir || m_parentFd < 0)
        return false;
    return ::unlinkat(m_parentFd, encoded(m_name).constData(), 0) == 0;
}

bool TreeEntry::setMode(int mode)
{
    if (m_isDir)
        return m_fd >= 0 && ::fchmod(m_fd, mode_t(mode)) == 0;
    if (!m_isFile || m_parentFd < 0)
        return false;
    const int fd = ::openat(m_parentFd, encoded(m_name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    const bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      quint64(st.st_dev) == m_dev && quint64(st.st_ino) == m_ino;
    const bool ok = same && ::fchmod(fd, mode_t(mode)) == 0;
    ::close(fd);
    return ok;
}

bool TreeWalk::run(const QString &root)
{
    const QString absolute = QFileInfo(root).absoluteFilePath();
    const int fd = ::open(encoded(absolute).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    TreeEntry top;
    top.m_path = absolute;
    top.m_name = QFileInfo(absolute).fileName();
    top.m_fd = fd;
    fill(top, st);
    visit(top);
    if (top.m_skip)
        ::close(fd);
    else
        walk(fd, absolute, 1);
    return true;
}

bool walkTree(const QString &root, const std::function<void(TreeEntry &)> &visit)
{
    return TreeWalk{visit}.run(root);
}

#else

struct TreeWalk
{
    const std::function<void(TreeEntry &)> &visit;
    static constexpr int kMaxDepth = 64;

    bool run(const QString &root);

    static void fill(TreeEntry &e, const QFileInfo &info)
    {
        e.m_path = info.absoluteFilePath();
        e.m_name = info.fileName();
        e.m_isLink = info.isSymbolicLink() || info.isJunction();
        e.m_isDir = !e.m_isLink && info.isDir();
        e.m_isFile = !e.m_isLink && info.isFile();
        e.m_modified = info.lastModified();
    }

    void walk(const QString &path, int depth)
    {
        const QFileInfoList entries =
            QDir(path).entryInfoList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot,
                                     QDir::Name);
        for (const QFileInfo &info : entries) {
            TreeEntry e;
            fill(e, info);
            visit(e);
            if (e.m_isDir && !e.m_skip && depth < kMaxDepth)
                walk(e.m_path, depth + 1);
        }
    }
};

bool TreeEntry::remove()
{
    return !m_isDir && QFile::remove(m_path);
}

bool TreeEntry::setMode(int mode)
{
    if (!m_isDir && !m_isFile)
        return false;
    return QFile::setPermissions(m_path, ownerPermissions(mode));
}

bool TreeWalk::run(const QString &root)
{
    const QFileInfo info(root);
    if (!info.isDir())
        return false;
    TreeEntry top;
    fill(top, info);
    top.m_isDir = true;
    top.m_isLink = false;
    visit(top);
    if (!top.m_skip)
        walk(top.m_path, 1);
    return true;
}

bool walkTree(const QString &root, const std::function<void(TreeEntry &)> &visit)
{
    return TreeWalk{visit}.run(root);
}

#endif

bool TreeEntry::setPermissions(QFileDevice::Permissions permissions)
{
#ifndef Q_OS_WIN
    return setMode(modeOf(permissions, m_isDir));
#else
    return (m_isDir || m_isFile) && QFile::setPermissions(m_path, permissions);
#endif
}

} // namespace safefile
} // namespace ravix
