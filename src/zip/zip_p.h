// SPDX-License-Identifier: MIT
#pragma once

#include "zip/zip.h"
#include "zip/zipcrypt_p.h"
#include "zip/zipentry_p.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QIODevice;

/// A source of known size read and deflated whole in memory, apart from the archive, so that
/// it may run on any thread.
struct WholeEntry
{
    std::unique_ptr<QFile> source; ///< opened by the walk, read by compress()
    /// Room for the source and its deflated form: the writer's own on its thread, the entry's
    /// on a worker.
    EntryBuffer *in = &ownIn;
    EntryBuffer *out = &ownOut;
    char *data = nullptr; ///< the raw deflate stream
    std::size_t dataSize = 0;
    quint32 crc = 0;
    qint64 read = 0;
    /// The source held more than its listed size, or no memory was left for it: the writer
    /// streams it from the start instead.
    bool streamInstead = false;
    Zip::ErrorCode ec = Zip::Ok;

    void compress(qint64 size, int level);

    WholeEntry() = default;
    WholeEntry(const WholeEntry &) = delete;
    WholeEntry &operator=(const WholeEntry &) = delete;

private:
    EntryBuffer ownIn;
    EntryBuffer ownOut;
};

/// Threads that run jobs in the order posted, until destroyed (which finishes the jobs left).
/// Plain standard threads, so that every hand-over is one the thread sanitizer can follow.
class DeflateWorkers
{
public:
    explicit DeflateWorkers(int threads);
    ~DeflateWorkers();
    DeflateWorkers(const DeflateWorkers &) = delete;
    DeflateWorkers &operator=(const DeflateWorkers &) = delete;

    int size() const { return int(m_threads.size()); }
    void post(std::function<void()> job);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

/// An entry whose data is being deflated on a worker thread; written in the order queued.
struct PendingEntry
{
    QFileInfo file;
    QString entryName;
    Zip::CompressionLevel level = Zip::Store;
    qint64 size = 0;
    std::unique_ptr<WholeEntry> whole;
    std::future<void> done;
};

class ZipPrivate : public QObject
{
    Q_OBJECT

public:
    ZipPrivate();
    ~ZipPrivate() override;

    QMap<QString, ZipEntryP *> *headers = nullptr;
    QIODevice *device = nullptr;
    QFile *file = nullptr;
    char buffer1[ravix::zipcrypt::BUFFER_SIZE];
    char buffer2[ravix::zipcrypt::BUFFER_SIZE];
    unsigned char *uBuffer;
    const z_crc_t *crcTable;
    QString comment;
    QString password;

    int compressionThreads = 1;
    bool walkSkipsBadFiles = false;
    std::unique_ptr<DeflateWorkers> workers;
    std::deque<PendingEntry> pending;
    qint64 pendingBytes = 0;
    EntryBuffer wholeIn;
    EntryBuffer wholeOut;

    /// The file the archive is written to, so that it is never added to itself.
    struct ArchiveIdentity
    {
        bool known = false;
        /// dev and ino hold the file's volume and number (Windows: when the system told them).
        bool byNumber = false;
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
        QString path;
    } ownArchive;

    /// Entry name -> source path of the files written by the add call in progress; a second
    /// file that would take a name already written by the same call is skipped.
    QHash<QString, QString> *walkNames = nullptr;
    class WalkScope
    {
    public:
        explicit WalkScope(ZipPrivate *d) : m_d(d), m_owner(!d->walkNames)
        {
            if (m_owner)
                d->walkNames = &m_names;
        }
        ~WalkScope()
        {
            if (m_owner)
                m_d->walkNames = nullptr;
        }
        WalkScope(const WalkScope &) = delete;
        WalkScope &operator=(const WalkScope &) = delete;

    private:
        ZipPrivate *m_d;
        bool m_owner;
        QHash<QString, QString> m_names;
    };

    Zip::ErrorCode createArchive(QIODevice *device);
    Zip::ErrorCode addFiles(const QStringList &paths, const QString &root,
                            Zip::CompressionOptions options, Zip::CompressionLevel level,
                            int *addedFiles);
    Zip::ErrorCode addDirectory(const QString &path, const QString &root,
                                Zip::CompressionOptions options, Zip::CompressionLevel level,
                                int depth, int *addedFiles);
    Zip::ErrorCode createEntry(const QFileInfo &file, const QString &root,
                               Zip::CompressionLevel level);
    Zip::ErrorCode writeLocalEntry(const QFileInfo &file, const QString &entryName,
                                   Zip::CompressionLevel level, WholeEntry *whole);
    /// Writes the queued entries in order; after a failure the rest are dropped, unless the
    /// walk skips bad files.
    Zip::ErrorCode flushPending();
    Zip::ErrorCode writeFrontPending();
    Zip::ErrorCode queueEntry(const QFileInfo &file, const QString &entryName,
                              Zip::CompressionLevel level, std::unique_ptr<WholeEntry> source);
    Zip::ErrorCode writeWhole(WholeEntry &whole, quint32 &crc, qint64 &written, qint64 &read,
                              ravix::zipcrypt::Keys *keys);
    void dropPending();
    /// Ends a public add call: what is still being deflated is written first.
    Zip::ErrorCode finishAdd(Zip::ErrorCode ec);
    Zip::ErrorCode deflateFile(const QFileInfo &fileInfo, quint32 &crc, qint64 &written,
                               qint64 &read, Zip::CompressionLevel level,
                               ravix::zipcrypt::Keys *keys);
    Zip::ErrorCode compressFile(const QString &fileName, QIODevice &in, quint32 &crc,
                                qint64 &written, qint64 &read, Zip::CompressionLevel level,
                                ravix::zipcrypt::Keys *keys);
    Zip::ErrorCode storeFile(const QString &fileName, QIODevice &in, quint32 &crc, qint64 &written,
                             qint64 &read, ravix::zipcrypt::Keys *keys);
    bool containsEntry(const QFileInfo &info) const;
    void rememberArchiveIdentity();
    bool isArchiveItself(const QFileInfo &info) const;
    bool nameClashes(const QFileInfo &info, const QString &root);
    void noteWalkName(const QFileInfo &info, const QString &root);
    static QString entryName(const QFileInfo &file, const QString &root);
    Zip::ErrorCode writeEntry(const QString &fileName, const ZipEntryP *h, quint64 &szCentralDir);
    Zip::ErrorCode writeCentralDir(quint64 offset, quint64 size);
    Zip::ErrorCode do_closeArchive();
    Zip::ErrorCode closeArchive();
    void reset();

    static Zip::CompressionLevel extensionLevel(const QFileInfo &info);
    static QString normalizeRoot(const QString &root);
    static void setDosTime(const QDateTime &dt, unsigned char *modTime, unsigned char *modDate);

public slots:
    void deviceDestroyed(QObject *);

private:
    bool writeAll(const char *data, qint64 len);
    Zip::ErrorCode refuseOversize(const QString &name, quint64 lhOffset);
    bool writeLocalZip64Extra(quint64 uncompressed, quint64 compressed);

    /// Bytes the entry being written may read and store before it is refused.
    quint64 entryLimit = 0;
};
