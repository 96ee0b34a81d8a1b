// SPDX-License-Identifier: MIT
#pragma once

#include "zip/unzip.h"
#include "zip/zipcrypt_p.h"
#include "zip/unzipoutput_p.h"
#include "zip/zipentry_p.h"

#include <QMap>
#include <QObject>

class QFile;
class QIODevice;

class UnzipPrivate : public QObject
{
    Q_OBJECT

public:
    UnzipPrivate();
    ~UnzipPrivate() override;

    QString password;
    bool skipAllEncrypted = false;
    QMap<QString, ZipEntryP *> *headers = nullptr;
    QIODevice *device = nullptr;
    QFile *file = nullptr;
    char buffer1[ravix::zipcrypt::BUFFER_SIZE];
    char buffer2[ravix::zipcrypt::BUFFER_SIZE];
    unsigned char *uBuffer;
    const z_crc_t *crcTable;
    quint64 cdOffset = 0;
    quint64 eocdOffset = 0;
    quint64 cdEntryCount = 0; ///< from the 64-bit end record when there is one
    quint16 skippedEntries = 0;
    QString comment;
    EntryBuffer wholeIn;
    EntryBuffer wholeOut;
    /// The directory the last file went to within one public call, and what it was opened
    /// from: entries of one folder follow each other, and walking to it again for each costs
    /// more system calls than writing a small file.
    std::unique_ptr<ravix::zipoutput::OutputDir> lastDir;
    QString lastDirKey;
    /// Keeps the entry buffers and the last directory for one public call.
    struct BufferScope
    {
        explicit BufferScope(UnzipPrivate *d) : d(d) {}
        ~BufferScope()
        {
            d->wholeIn.release();
            d->wholeOut.release();
            d->lastDir.reset();
            d->lastDirKey.clear();
        }
        BufferScope(const BufferScope &) = delete;
        BufferScope &operator=(const BufferScope &) = delete;
        UnzipPrivate *const d;
    };

    UnZip::ErrorCode openArchive(QIODevice *device);
    UnZip::ErrorCode seekToCentralDirectory();
    UnZip::ErrorCode parseCentralDirectoryRecord();
    UnZip::ErrorCode parseLocalHeaderRecord(const QString &path, ZipEntryP &entry);
    void closeArchive();

    UnZip::ErrorCode extractFile(const QString &path, ZipEntryP &entry, const QDir &dir,
                                 UnZip::ExtractionOptions options);
    UnZip::ErrorCode extractFile(const QString &path, ZipEntryP &entry, QIODevice *outDev,
                                 UnZip::ExtractionOptions options);
    UnZip::ErrorCode extractAll(const QDir &dir, UnZip::ExtractionOptions options);

    static QDateTime convertDateTime(const unsigned char date[2], const unsigned char time[2]);
    static QString safeEntryPath(const QString &name);

public slots:
    void deviceDestroyed(QObject *);

private:
    void releaseState();
    UnZip::ErrorCode readCentralRecords();
    UnZip::ErrorCode readZip64End(quint64 locatorAt);
    UnZip::ErrorCode checkDataDescriptor(const ZipEntryP &entry, bool zip64);
    UnZip::ErrorCode beginEntry(const QString &path, ZipEntryP &entry, ravix::zipcrypt::Keys &keys,
                                qint64 &n);
    UnZip::ErrorCode streamEntry(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                 ravix::zipcrypt::Keys &keys);
    UnZip::ErrorCode inflateWhole(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                  ravix::zipcrypt::Keys &keys, bool &judged);
    UnZip::ErrorCode copyData(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                              ravix::zipcrypt::Keys *keys, quint32 &crc, qint64 &total);
    UnZip::ErrorCode inflateData(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                 ravix::zipcrypt::Keys *keys, quint32 &crc, qint64 &total);
    UnZip::ErrorCode deliver(const char *data, qint64 len, const ZipEntryP &entry,
                             QIODevice *outDev, quint32 &crc, qint64 &total);
};
