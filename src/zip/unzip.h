// SPDX-License-Identifier: MIT
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
/// several or all of them to a directory or a device, or only verifies them. ZIP64 archives
/// (entries and offsets past 4 GiB, more than 65535 entries) are read too; entries that need
/// a version above 4.5 are skipped.
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
        /// Includes the 12-byte encryption header. 0xFFFFFFFF when the size needs 64 bits:
        /// see compressedSize64.
        quint32 compressedSize;
        /// 0xFFFFFFFF when the size needs 64 bits: see uncompressedSize64.
        quint32 uncompressedSize;
        quint32 crc32;
        QDateTime lastModified; ///< local time
        CompressionMethod compression;
        FileType type;
        bool encrypted;
        /// The real sizes, also past 4 GiB (ZIP64 archives).
        quint64 compressedSize64;
        quint64 uncompressedSize64;
    };

    UnZip();
    virtual ~UnZip();

    /// An archive is open.
    bool isOpen() const;

    /// Opens the archive file and reads its central directory (an open one is closed first).
    /// PartiallyCorrupted leaves the archive open with the entries that could be read.
    ErrorCode openArchive(const QString &filename);
    /// As above on a readable device, which the caller keeps owning.
    ErrorCode openArchive(QIODevice *device);
    /// Closes the archive; a device given by the caller is left open. The password stays.
    void closeArchive();

    /// The archive comment, read as UTF-8.
    QString archiveComment() const;

    /// A translated text for an error code.
    QString formatError(UnZip::ErrorCode c) const;

    /// Whether the archive has an entry of exactly this name.
    bool contains(const QString &file) const;

    /// Entry names in name order; directories end with "/".
    QStringList fileList() const;
    QList<ZipEntry> entryList() const;

    /// Decompresses every entry and checks its CRC, writing nothing.
    ErrorCode verifyArchive();

    /// Extracts every entry below \a dirname, in name order; the first error ends the walk
    /// (an entry passed over for a wrong password does not). Entry names never lead outside
    /// the directory: "..", drive letters and leading separators are dropped. An entry whose
    /// data is longer than its declared size is Corrupted. Nothing found in the directory is
    /// written through: a link on an entry's path refuses the entry (CreateDirFailed), and a
    /// file is written beside its name and renamed over it, so a link or FIFO at the name is
    /// replaced and a failed entry leaves the previous file as it was.
    ErrorCode extractAll(const QString &dirname, ExtractionOptions options = ExtractionOptions());
    ErrorCode extractAll(const QDir &dir, ExtractionOptions options = ExtractionOptions());

    /// Extracts one entry below the directory (same path rules); FileNotFound for an unknown
    /// name.
    ErrorCode extractFile(const QString &filename, const QString &dirname,
                          ExtractionOptions options = ExtractionOptions());
    ErrorCode extractFile(const QString &filename, const QDir &dir,
                          ExtractionOptions options = ExtractionOptions());
    /// Extracts one entry's data into an open, writable device; with VerifyOnly it is only
    /// checked and nothing is written.
    ErrorCode extractFile(const QString &filename, QIODevice *device,
                          ExtractionOptions options = ExtractionOptions());

    /// Extracts the named entries in list order; unknown names are passed over, any other
    /// error ends the walk.
    ErrorCode extractFiles(const QStringList &filenames, const QString &dirname,
                           ExtractionOptions options = ExtractionOptions());
    ErrorCode extractFiles(const QStringList &filenames, const QDir &dir,
                           ExtractionOptions options = ExtractionOptions());

    /// The password for encrypted entries extracted from now on.
    void setPassword(const QString &pwd);

private:
    Q_DISABLE_COPY(UnZip)
    UnzipPrivate *d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(UnZip::ExtractionOptions)
