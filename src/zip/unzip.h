#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFlags>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;
class UnzipPrivate;

/// Reads a ZIP archive from a file or any QIODevice: lists its entries and extracts one,
/// several or all of them to a directory or a device, or only verifies them.
class RAVIXCORE_EXPORT UnZip
{
    Q_DECLARE_TR_FUNCTIONS(UnZip)

public:
    enum ErrorCode {
        Ok,
        ZlibInit,
        ZlibError,
        OpenFailed,
        PartiallyCorrupted,
        Corrupted,
        WrongPassword,
        NoOpenArchive,
        FileNotFound,
        ReadFailed,
        WriteFailed,
        SeekFailed,
        CreateDirFailed,
        InvalidDevice,
        InvalidArchive,
        HeaderConsistencyError,
        Skip ///< the entry was passed over (a wrong password yields it)
    };

    enum ExtractionOption {
        /// Every file goes directly into the target directory; directory entries create nothing.
        SkipPaths = 0x02,
        /// Decompress and check, write nothing.
        VerifyOnly = 0x04,
        /// A missing target directory is not created for files at the top of the archive.
        NoSilentDirCreation = 0x08
    };
    Q_DECLARE_FLAGS(ExtractionOptions, ExtractionOption)

    enum CompressionMethod { NoCompression, Deflated, UnknownCompression };
    enum FileType { File, Directory };

    /// Public description of one entry.
    struct RAVIXCORE_EXPORT ZipEntry
    {
        ZipEntry();

        QString filename;
        QString comment;
        quint32 compressedSize; ///< includes the 12-byte encryption header
        quint32 uncompressedSize;
        quint32 crc32;
        QDateTime lastModified; ///< local time
        CompressionMethod compression;
        FileType type;
        bool encrypted;
    };

    UnZip();
    virtual ~UnZip();

    bool isOpen() const;

    ErrorCode openArchive(const QString &filename);
    ErrorCode openArchive(QIODevice *device);
    void closeArchive();

    QString archiveComment() const;

    QString formatError(UnZip::ErrorCode c) const;

    bool contains(const QString &file) const;

    QStringList fileList() const;
    QList<ZipEntry> entryList() const;

    ErrorCode verifyArchive();

    ErrorCode extractAll(const QString &dirname, ExtractionOptions options = ExtractionOptions());
    ErrorCode extractAll(const QDir &dir, ExtractionOptions options = ExtractionOptions());

    ErrorCode extractFile(const QString &filename, const QString &dirname,
                          ExtractionOptions options = ExtractionOptions());
    ErrorCode extractFile(const QString &filename, const QDir &dir,
                          ExtractionOptions options = ExtractionOptions());
    ErrorCode extractFile(const QString &filename, QIODevice *device,
                          ExtractionOptions options = ExtractionOptions());

    ErrorCode extractFiles(const QStringList &filenames, const QString &dirname,
                           ExtractionOptions options = ExtractionOptions());
    ErrorCode extractFiles(const QStringList &filenames, const QDir &dir,
                           ExtractionOptions options = ExtractionOptions());

    void setPassword(const QString &pwd);

private:
    Q_DISABLE_COPY(UnZip)
    UnzipPrivate *d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(UnZip::ExtractionOptions)
