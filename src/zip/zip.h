// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QCoreApplication>
#include <QFlags>
#include <QString>
#include <QStringList>

class QIODevice;
class ZipPrivate;

/// Writes a ZIP archive to a file or to any QIODevice: files and directory trees, stored or
/// deflated, optionally encrypted, with an archive comment. The central directory is written
/// when the archive is closed. ZIP64 fields are written only where a value needs them
/// (entries or offsets past 4 GiB, more than 65535 entries): an archive that fits the classic
/// format is written exactly as a classic one.
class RAVIXCORE_EXPORT Zip
{
    Q_DECLARE_TR_FUNCTIONS(Zip)

public:
    enum ErrorCode {
        Ok,
        ZlibInit,
        ZlibError,
        FileExists,
        OpenFailed,
        NoOpenArchive,
        FileNotFound,
        ReadFailed,
        WriteFailed,
        SeekFailed
    };

    enum CompressionLevel {
        Store,
        Deflate1 = 1,
        Deflate2,
        Deflate3,
        Deflate4,
        Deflate5,
        Deflate6,
        Deflate7,
        Deflate8,
        Deflate9,
        AutoSpeed,  ///< level 5
        AutoByType, ///< chosen from the file extension
        AutoFull    ///< chosen from the file extension
    };

    enum CompressionOption {
        RelativePaths = 0x0001,
        AbsolutePaths = 0x0002,
        IgnorePaths = 0x0004,
        IgnoreRoot = 0x0008,
        SkipBadFiles = 0x0020,
        CheckForDuplicates = 0x0040
    };
    Q_DECLARE_FLAGS(CompressionOptions, CompressionOption)

    Zip();
    virtual ~Zip();

    /// An archive is being written.
    bool isOpen() const;

    /// Encrypts every file entry added while a non-empty password is set (traditional ZIP
    /// encryption, header bytes from the system's secure random generator).
    void setPassword(const QString &pwd);
    void clearPassword();
    QString password() const;

    /// Starts a new archive file (an open archive is finished first). Without \a overwrite an
    /// existing file gives FileExists.
    ErrorCode createArchive(const QString &file, bool overwrite = true);
    /// Starts a new archive on a device, opening it for writing when needed; the caller keeps
    /// owning it.
    ErrorCode createArchive(QIODevice *device);

    QString archiveComment() const;
    /// Written (as Latin-1) when the archive is closed; over 65535 bytes the close fails.
    void setArchiveComment(const QString &comment);

    /// Adds every file of the tree directly under the root (or the archive's top), without
    /// subdirectory names. A file whose name an earlier file of the same call took is skipped
    /// with a warning.
    ErrorCode addDirectoryContents(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectoryContents(const QString &path, const QString &root,
                                   CompressionLevel level = AutoFull);

    /// Adds the directory and its tree under its own name, below \a root when given; linked
    /// entries are not followed. "." and ".." are named after the directory they resolve to.
    /// \a addedFiles counts the files and directories visited.
    ErrorCode addDirectory(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root,
                           CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionOptions options,
                           CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    /// Adds one file (or directory) under its file name, below \a root when given. Files of
    /// 59 bytes or less are stored. A name longer than 65535 bytes is refused (WriteFailed)
    /// before anything is written; the archive file itself is never added.
    ErrorCode addFile(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionOptions options,
                      CompressionLevel level = AutoFull);

    /// Adds several files and directories; a missing one gives FileNotFound before anything
    /// is written, unless SkipBadFiles passes over it.
    ErrorCode addFiles(const QStringList &paths, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root,
                       CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionOptions options,
                       CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    /// Deflates entries on \a threads threads (1, the default, deflates on the calling thread
    /// only). The archive is the same byte for byte as with one thread, entries in the order
    /// added; each add call returns once its entries are written. Only files of up to 64 MiB
    /// run on the threads, larger and stored ones are written in turn on the calling thread.
    /// Memory: up to 2 × \a threads entries wait at once, holding no more than \a threads ×
    /// 64 MiB of source, so at most about twice that with their deflated data. A file that
    /// fails while being read is reported once the entries before it are written: with
    /// SkipBadFiles it is left out, otherwise the call fails and entries queued after it are
    /// not written.
    void setCompressionThreads(int threads);
    int compressionThreads() const;

    /// Writes the central directory and finishes the archive; a file the writer opened itself
    /// is flushed and closed; after a failure that file is removed.
    ErrorCode closeArchive();

    /// A translated text for an error code.
    QString formatError(ErrorCode c) const;

private:
    Q_DISABLE_COPY(Zip)
    ZipPrivate *d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Zip::CompressionOptions)
