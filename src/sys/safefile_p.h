// SPDX-License-Identifier: MIT
#pragma once

// Files in folders that other accounts can write to. Any name there may have been planted
// as a link, a FIFO or another account's file, or be swapped while we work; these functions
// never follow a link at the last component of a name, refuse anything but a regular file,
// set permissions through the open descriptor, and replace files by writing beside them and
// renaming. On Windows the same functions work through Qt with a check before the open
// (links and junctions are refused); only POSIX gives the descriptor-based guarantees.

#include <ravixcore/ravixcore_export.h>

#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>

namespace ravix {
namespace safefile {

enum WriteMode {
    Append,    ///< writes go to the end of the file
    Truncate,  ///< the file is emptied on open
    AppendText ///< as Append, with the platform's line ends (CR LF on Windows)
};

/// Opens \a path for writing into \a file, which owns the descriptor afterwards (unbuffered:
/// every write reaches the system, so a failed one shows at once). A link at the name is not
/// followed, a FIFO is not waited for, and anything but a regular file with one name is
/// refused (a second name could be a hard link to another account's file). A missing file is
/// created with \a createMode (less the umask; set the final mode with setMode()); \a created
/// tells whether it was. On failure \a file stays closed and \a error says why.
RAVIXCORE_EXPORT bool openForWrite(QFile &file, const QString &path, WriteMode mode,
                                   int createMode, QString *error = nullptr,
                                   bool *created = nullptr);

/// Opens a regular file for reading under the same rules (no link, no FIFO, one name).
RAVIXCORE_EXPORT bool openForRead(QFile &file, const QString &path, QString *error = nullptr);

/// Opens for reading where the caller follows links on purpose (the archive writer adds what
/// a link names). A FIFO at the name is still not waited for, and only a regular file (of any
/// number of names) is taken, or with \a devices a character or block device too.
RAVIXCORE_EXPORT bool openForReadFollowing(QFile &file, const QString &path, bool devices,
                                           QString *error = nullptr);

/// Sets the permission bits of an open file through its descriptor (on Windows by its name,
/// as there is no descriptor call for it).
RAVIXCORE_EXPORT bool setMode(QFile &file, int mode);

/// Applies Qt's permission flags (as modeOf() gives them) to the directory or regular file at
/// \a path, through a descriptor opened without following a link there; anything else (a
/// link, a FIFO, a device) is left alone. On Windows Qt's own way, by name, links refused.
RAVIXCORE_EXPORT bool setPermissionsAt(const QString &path, QFileDevice::Permissions permissions);

/// POSIX mode bits for Qt's permission flags (the owner's and the user's count alike). A
/// directory that others may write to gets the sticky bit as well, as /tmp has it: everyone
/// may create files there, but only a file's owner removes, renames or replaces it.
RAVIXCORE_EXPORT int modeOf(QFileDevice::Permissions permissions, bool directory);

/// The entry at \a path itself (not what a link there points to) is owned by the calling
/// process's account or by root. Always true on Windows.
RAVIXCORE_EXPORT bool ownedBySelfOrRoot(const QString &path);

/// Replaces the file at a path as a whole. open() creates a temporary file beside the target
/// (exclusively, never through a link); write through device(); commit() flushes and checks
/// every write, sets the mode through the descriptor, syncs to disk and renames over the
/// name, so a link at the name is replaced, not followed. On any failure, and when the
/// object goes without commit(), the temporary is removed and the old file stays untouched.
class RAVIXCORE_EXPORT AtomicFile
{
public:
    explicit AtomicFile(const QString &path, int mode = 0644);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    bool open(QString *error = nullptr);
    /// The temporary file, open for writing (buffered: commit() checks the final flush).
    QFileDevice *device();
    bool commit(QString *error = nullptr);
    void cancel();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// One entry met by walkTree(). Its type and times come from the entry itself, not from
/// what a link there points to.
class RAVIXCORE_EXPORT TreeEntry
{
public:
    QString path() const { return m_path; }
    QString name() const { return m_name; }
    bool isDir() const { return m_isDir; }
    bool isFile() const { return m_isFile; }   ///< a regular file
    bool isLink() const { return m_isLink; }   ///< a symbolic link (or a Windows junction)
    QDateTime lastModified() const { return m_modified; }

    /// Removes a file or link from the folder it was found in (not a directory).
    bool remove();
    /// Sets the mode of a directory or regular file through a descriptor of the entry itself.
    bool setMode(int mode);
    /// As setMode(modeOf(permissions, isDir())); on Windows Qt's own way.
    bool setPermissions(QFileDevice::Permissions permissions);
    /// The walk does not enter this directory.
    void skip() { m_skip = true; }

private:
    friend struct TreeWalk;
    QString m_path, m_name;
    QDateTime m_modified;
    bool m_isDir = false, m_isFile = false, m_isLink = false, m_skip = false;
    int m_parentFd = -1; // POSIX: the folder the entry was found in
    int m_fd = -1;       // POSIX: the directory itself, once opened
    quint64 m_dev = 0, m_ino = 0;
};

/// Visits \a root (a directory, reached by its name as given) and then everything below it,
/// each directory before its contents, entries of a folder sorted by name. Directories are
/// entered through descriptors relative to their parent (O_DIRECTORY|O_NOFOLLOW), so a
/// folder swapped for a link during the walk is not followed: it is reported as a link or
/// skipped. Links are never followed. Nesting beyond 64 levels is not entered. Returns false
/// when \a root is not a directory.
RAVIXCORE_EXPORT bool walkTree(const QString &root,
                               const std::function<void(TreeEntry &)> &visit);

} // namespace safefile
} // namespace ravix
