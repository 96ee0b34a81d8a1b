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
/// when the archive is closed.
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

    bool isOpen() const;

    void setPassword(const QString &pwd);
    void clearPassword();
    QString password() const;

    ErrorCode createArchive(const QString &file, bool overwrite = true);
    ErrorCode createArchive(QIODevice *device);

    QString archiveComment() const;
    void setArchiveComment(const QString &comment);

    ErrorCode addDirectoryContents(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectoryContents(const QString &path, const QString &root,
                                   CompressionLevel level = AutoFull);

    ErrorCode addDirectory(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root,
                           CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionOptions options,
                           CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    ErrorCode addFile(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionOptions options,
                      CompressionLevel level = AutoFull);

    ErrorCode addFiles(const QStringList &paths, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root,
                       CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionOptions options,
                       CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    ErrorCode closeArchive();

    QString formatError(ErrorCode c) const;

private:
    Q_DISABLE_COPY(Zip)
    ZipPrivate *d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Zip::CompressionOptions)
