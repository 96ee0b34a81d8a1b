// SPDX-License-Identifier: MIT
#include "zip/zip.h"
#include "zip/zip_p.h"
#include "zip/ziputils.h"

#include "appframe/platformconventions.h"
#include "sys/deflatecodec_p.h"
#include "sys/oslayer_p.h"
#include "sys/safefile_p.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QHash>
#include <QIODevice>
#include <QRandomGenerator>
#include <QtDebug>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace ravix::zipcrypt;

namespace {

constexpr quint32 LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr quint32 DATA_DESCRIPTOR_SIGNATURE = 0x08074B50;
constexpr quint32 CENTRAL_HEADER_SIGNATURE = 0x02014B50;
constexpr quint32 END_RECORD_SIGNATURE = 0x06054B50;

// Files this small gain nothing from deflate.
constexpr qint64 MAX_STORED_SIZE = 59;

// Sources up to this size are read whole and deflated in one call, about twice as fast as
// streaming through zlib. One entry in flight holds its source and its deflated form, so about
// twice this; 64 MiB still covers nearly every file of the trees archived here (configuration,
// logs, databases of a service), and larger ones stream in 256 KiB steps.
constexpr qint64 WHOLE_ENTRY_BOUND = qint64(64) << 20;

// The whole-buffer coder takes the same level numbers. Its 6 is the one for Deflate6: on a
// mixed tree its archive came out 0.26% above zlib's at 6 and took 0.58 of the time, where
// its 7 was 0.8% smaller but took 0.80.
int wholeEntryLevel(Zip::CompressionLevel level)
{
    return int(level);
}

// Sorted, for binary search.
const char *const STORE_EXTENSIONS[] = {"7z",  "bin", "deb", "exe", "gz", "gz2", "jar",
                                        "rar", "rpm", "tar", "tgz", "z",  "zip"};
const char *const MEDIA_EXTENSIONS[] = {"asf",  "avi", "divx", "doc", "docx", "flv", "gif",  "iso",
                                        "jpeg", "jpg", "mka",  "mkv", "mp3",  "mp4", "mpeg", "mpg",
                                        "odt",  "ogg", "ogm",  "ra",  "rm",   "wma", "wmv"};
const char *const TEXT_EXTENSIONS[] = {
    "asp", "bat", "c",   "conf", "cpp", "css", "csv", "cxx", "h",   "hpp", "htm", "html", "hxx",
    "ini", "js",  "php", "pl",   "py",  "rtf", "sh",  "tsv", "txt", "vb",  "vbs", "xml",  "xst"};

template <size_t N> bool hasExtension(const char *const (&list)[N], const QByteArray &ext)
{
    return std::binary_search(std::begin(list), std::end(list), ext.constData(),
                              [](const char *a, const char *b) { return std::strcmp(a, b) < 0; });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// ZipPrivate

ZipPrivate::ZipPrivate()
    : uBuffer(reinterpret_cast<unsigned char *>(buffer1)), crcTable(get_crc_table())
{
}

ZipPrivate::~ZipPrivate()
{
    closeArchive();
    reset();
}

Zip::CompressionLevel ZipPrivate::extensionLevel(const QFileInfo &info)
{
    const QByteArray ext = info.completeSuffix().toLower().toUtf8();
    if (hasExtension(STORE_EXTENSIONS, ext))
        return Zip::Store;
    if (hasExtension(MEDIA_EXTENSIONS, ext))
        return Zip::Deflate2;
    if (hasExtension(TEXT_EXTENSIONS, ext))
        return Zip::Deflate9;
    return Zip::Deflate5;
}

QString ZipPrivate::normalizeRoot(const QString &root)
{
    if (root.isEmpty() || root == QLatin1String("/"))
        return root;
    QString r = root;
    while (r.endsWith(QLatin1Char('\\')))
        r.chop(1);
    if (r.endsWith(QLatin1Char('/'))) {
        while (r.endsWith(QLatin1String("//")))
            r.chop(1);
    } else {
        r.append(QLatin1Char('/'));
    }
    return r;
}

void ZipPrivate::setDosTime(const QDateTime &dt, unsigned char *modTime, unsigned char *modDate)
{
    QDate d = dt.date();
    QTime t = dt.time();
    // Outside the format's range the nearest representable time, never a wrapped year.
    const QDate first(1980, 1, 1);
    const QDate last(2107, 12, 31);
    const QTime lastTime(23, 59, 58);
    if (d < first) {
        d = first;
        t = QTime(0, 0);
    } else if (d > last || (d == last && t > lastTime)) {
        d = last;
        t = lastTime;
    }
    const int year = d.year();
    const int month = d.month();
    modDate[1] = static_cast<unsigned char>(((year * 2 - 1980 * 2) & 0xFF) | ((month >> 3) & 1));
    modDate[0] = static_cast<unsigned char>(((month << 5) | d.day()) & 0xFF);
    modTime[1] = static_cast<unsigned char>(((t.hour() << 3) | ((t.minute() >> 3) & 7)) & 0xFF);
    modTime[0] = static_cast<unsigned char>(((t.minute() << 5) | (t.second() / 2)) & 0xFF);
}

bool ZipPrivate::writeAll(const char *data, qint64 len)
{
    return device->write(data, len) == len;
}

Zip::ErrorCode ZipPrivate::createArchive(QIODevice *dev)
{
    Q_ASSERT(dev);
    if (device) {
        closeArchive();
        reset();
    }

    device = dev;
    if (device != file)
        connect(device, SIGNAL(destroyed(QObject *)), this, SLOT(deviceDestroyed(QObject *)));

    if (!device->isOpen() && !device->open(QIODevice::WriteOnly)) {
        qDebug() << "Unable to open device for writing.";
        if (device != file)
            disconnect(device, nullptr, this, nullptr);
        // A caller's device is only forgotten; the caller still owns it.
        device = nullptr;
        return Zip::OpenFailed;
    }

    headers = new QMap<QString, ZipEntryP *>;
    rememberArchiveIdentity();
    return Zip::Ok;
}

bool ZipPrivate::containsEntry(const QFileInfo &info) const
{
    if (!headers || (headers->isEmpty() && pending.empty()))
        return false;
    const qint64 sz = info.size();
    const QString path = info.absoluteFilePath();
    // Case matters where the file system's names do: Notes.txt and notes.txt are two files.
    const Qt::CaseSensitivity cs = ravix::PlatformConventions::fileNameCase();
    for (const ZipEntryP *e : qAsConst(*headers)) {
        if (e->fileSize == sz && QString::compare(e->absolutePath, path, cs) == 0)
            return true;
    }
    for (const PendingEntry &p : pending) {
        if (p.size == sz && QString::compare(p.file.absoluteFilePath(), path, cs) == 0)
            return true;
    }
    return false;
}

void ZipPrivate::rememberArchiveIdentity()
{
    ownArchive = ArchiveIdentity();
    auto *fd = qobject_cast<QFileDevice *>(device);
    if (!fd)
        return;
#ifndef Q_OS_WIN
    struct stat st;
    if (fd->handle() >= 0 && ::fstat(fd->handle(), &st) == 0) {
        ownArchive.known = true;
        ownArchive.dev = quint64(st.st_dev);
        ownArchive.ino = quint64(st.st_ino);
    }
#else
    // A second name (a hard link) leads to the same file: the file's own number tells.
    ownArchive.path = QFileInfo(fd->fileName()).canonicalFilePath();
    ownArchive.known = !ownArchive.path.isEmpty();
    ownArchive.byNumber = ravix::oslayer::OsLayer::current().fileIdentity(
        QDir::toNativeSeparators(ownArchive.path).toStdWString(), &ownArchive.dev, &ownArchive.ino);
#endif
}

bool ZipPrivate::isArchiveItself(const QFileInfo &info) const
{
    if (!ownArchive.known || info.isDir())
        return false;
#ifndef Q_OS_WIN
    struct stat st;
    const bool same = ::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &st) == 0 &&
                      quint64(st.st_dev) == ownArchive.dev && quint64(st.st_ino) == ownArchive.ino;
#else
    std::uint64_t volume = 0, index = 0;
    const std::wstring native = QDir::toNativeSeparators(info.absoluteFilePath()).toStdWString();
    bool same;
    if (ownArchive.byNumber &&
        ravix::oslayer::OsLayer::current().fileIdentity(native, &volume, &index))
        same = volume == ownArchive.dev && index == ownArchive.ino;
    else
        same = QString::compare(info.canonicalFilePath(), ownArchive.path,
                                ravix::PlatformConventions::fileNameCase()) == 0;
#endif
    if (same)
        qDebug() << "Skipping" << info.absoluteFilePath() << ": it is the archive being written";
    return same;
}

QString ZipPrivate::entryName(const QFileInfo &file, const QString &root)
{
    return file.isDir() ? root : root + file.fileName();
}

bool ZipPrivate::nameClashes(const QFileInfo &info, const QString &root)
{
    if (!walkNames || info.isDir())
        return false;
    const QString name = entryName(info, root);
    const auto it = walkNames->constFind(name);
    if (it == walkNames->constEnd())
        return false;
    qWarning().noquote() << QStringLiteral("Skipping %1: its entry name %2 is already taken by %3")
                                .arg(info.absoluteFilePath(), name, it.value());
    return true;
}

void ZipPrivate::noteWalkName(const QFileInfo &info, const QString &root)
{
    if (walkNames)
        walkNames->insert(entryName(info, root), info.absoluteFilePath());
}

Zip::ErrorCode ZipPrivate::addFiles(const QStringList &files, const QString &root,
                                    Zip::CompressionOptions options, Zip::CompressionLevel level,
                                    int *addedFiles)
{
    if (addedFiles)
        *addedFiles = 0;
    if (!device)
        return Zip::NoOpenArchive;
    const WalkScope scope(this);

    QFileInfoList paths;
    for (const QString &path : files) {
        const QFileInfo info(path);
        if (options.testFlag(Zip::CheckForDuplicates) &&
            (paths.contains(info) || containsEntry(info)))
            continue;
        if (isArchiveItself(info))
            continue;
        if (info.exists() && info.isReadable()) {
            paths.append(info);
        } else if (options.testFlag(Zip::SkipBadFiles)) {
            qDebug() << "Skipping missing or unreadable file" << path;
        } else {
            return Zip::FileNotFound;
        }
    }
    if (paths.isEmpty())
        return Zip::Ok;

    const QString actualRoot = normalizeRoot(root.trimmed());
    const bool keepNames =
        !options.testFlag(Zip::IgnorePaths) && !options.testFlag(Zip::IgnoreRoot);

    // Entries are grouped by the directory that holds them.
    QHash<QString, QString> groupRoots;
    QHash<QString, int> groupFiles;
    QStringList groupOrder;
    Zip::ErrorCode ec = Zip::Ok;

    for (const QFileInfo &info : qAsConst(paths)) {
        const QString groupPath = QDir::cleanPath(info.absolutePath());
        if (!groupRoots.contains(groupPath)) {
            QString groupRoot = actualRoot;
            QDir groupDir(groupPath);
            if (keepNames && options.testFlag(Zip::AbsolutePaths)) {
                QDir parent(groupPath);
                const QString parentPath = parent.cdUp() ? parent.absolutePath() : QString();
                groupRoot.append(parentPath);
                if (!parentPath.isEmpty() && parentPath != QLatin1String("/"))
                    groupRoot.append(QLatin1Char('/'));
            }
            if (keepNames) {
                groupRoot.append(groupDir.dirName());
                groupRoot.append(QLatin1Char('/'));
            }
            groupRoots.insert(groupPath, groupRoot);
            groupFiles.insert(groupPath, 0);
            groupOrder.append(groupPath);
        }
        const QString groupRoot = groupRoots.value(groupPath);

        if (info.isDir()) {
            ec = addDirectory(info.absoluteFilePath(), groupRoot, options, level, 1, addedFiles);
        } else {
            if (nameClashes(info, groupRoot))
                continue;
            ec = createEntry(info, groupRoot, level);
            if (ec == Zip::Ok) {
                noteWalkName(info, groupRoot);
                ++groupFiles[groupPath];
                if (addedFiles)
                    ++*addedFiles;
            }
        }
        if (ec != Zip::Ok && !options.testFlag(Zip::SkipBadFiles))
            return ec;
    }

    if (!options.testFlag(Zip::IgnorePaths)) {
        for (const QString &groupPath : qAsConst(groupOrder)) {
            if (groupFiles.value(groupPath) == 0)
                ec = createEntry(QFileInfo(groupPath), groupRoots.value(groupPath), level);
        }
    }
    return ec;
}

Zip::ErrorCode ZipPrivate::addDirectory(const QString &path, const QString &root,
                                        Zip::CompressionOptions options,
                                        Zip::CompressionLevel level, int depth, int *addedFiles)
{
    if (addedFiles)
        ++*addedFiles;
    if (!device)
        return Zip::NoOpenArchive;

    QDir dir(path);
    if (!dir.exists())
        return Zip::FileNotFound;
    const WalkScope scope(this);

    QString actualRoot = normalizeRoot(root.trimmed());
    // "." and ".." take the name of the directory they resolve to.
    const QFileInfo current(QDir::cleanPath(dir.absolutePath()));

    bool skipOwnEntry = false;
    if (options.testFlag(Zip::IgnoreRoot)) {
        skipOwnEntry = depth == 0 || options.testFlag(Zip::IgnorePaths);
    } else if (options.testFlag(Zip::IgnorePaths)) {
        skipOwnEntry = true;
    } else {
        if (options.testFlag(Zip::AbsolutePaths)) {
            QDir parent(current.absoluteFilePath());
            const QString parentPath = parent.cdUp() ? parent.absolutePath() : QString();
            actualRoot.append(parentPath);
            if (!parentPath.isEmpty() && parentPath != QLatin1String("/"))
                actualRoot.append(QLatin1Char('/'));
        }
        actualRoot.append(current.fileName());
        actualRoot.append(QLatin1Char('/'));
    }

    const QFileInfoList list = dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoSymLinks |
                                                     QDir::Hidden | QDir::NoDotAndDotDot,
                                                 QDir::DirsFirst);

    const Zip::CompressionOptions subOptions =
        options.testFlag(Zip::IgnorePaths) ? Zip::IgnorePaths : Zip::RelativePaths;
    Zip::ErrorCode ec = Zip::Ok;
    bool hasFiles = false;
    for (const QFileInfo &info : list) {
        if (options.testFlag(Zip::CheckForDuplicates) && containsEntry(info))
            continue;
        if (isArchiveItself(info) || nameClashes(info, actualRoot))
            continue;
        if (info.isDir()) {
            ec = addDirectory(info.absoluteFilePath(), actualRoot, subOptions, level, depth + 1,
                              addedFiles);
        } else {
            ec = createEntry(info, actualRoot, level);
            if (ec == Zip::Ok) {
                noteWalkName(info, actualRoot);
                hasFiles = true;
                if (addedFiles)
                    ++*addedFiles;
            }
        }
        if (ec != Zip::Ok && !options.testFlag(Zip::SkipBadFiles))
            return ec;
    }

    if (!skipOwnEntry && !hasFiles)
        ec = createEntry(current, actualRoot, level);
    return ec;
}

Zip::ErrorCode ZipPrivate::refuseOversize(const QString &name, quint64 lhOffset)
{
    qDebug() << "Entry" << name
             << "grew past the size its record was written for; the entry is not added.";
    // Cut the refused record off a file so that the archive can still be closed soundly.
    if (auto *fd = qobject_cast<QFileDevice *>(device)) {
        if (!fd->seek(qint64(lhOffset)) || !fd->resize(qint64(lhOffset)))
            qDebug() << "The refused record could not be cut off the archive.";
    }
    return Zip::WriteFailed;
}

Zip::ErrorCode ZipPrivate::createEntry(const QFileInfo &file, const QString &root,
                                       Zip::CompressionLevel level)
{
    const bool dirOnly = file.isDir();

    const QString entryName = ZipPrivate::entryName(file, root);
    if (entryName.isEmpty()) {
        // Readers skip nameless records; writing one would only waste space.
        qDebug() << "Skipping entry with no name:" << file.absoluteFilePath();
        return Zip::Ok;
    }
    const QByteArray name = entryName.toLatin1();
    if (name.size() > MAX_FIELD_LENGTH) {
        // The 16-bit length field would be cut and the record unreadable.
        qDebug() << "Entry name of" << name.size() << "bytes is longer than the format allows;"
                 << file.absoluteFilePath() << "is not added";
        return Zip::WriteFailed;
    }

    if (!dirOnly) {
        if (file.size() <= MAX_STORED_SIZE) {
            level = Zip::Store;
        } else {
            switch (level) {
            case Zip::AutoByType:
            case Zip::AutoFull:
                level = extensionLevel(file);
                break;
            case Zip::AutoSpeed:
                level = Zip::Deflate5;
                break;
            default:
                break;
            }
        }
    }

    const bool whole = !dirOnly && level >= Zip::Deflate1 && level <= Zip::Deflate9 &&
                       file.size() <= WHOLE_ENTRY_BOUND;
    Zip::ErrorCode ec = Zip::Ok;
    std::unique_ptr<WholeEntry> source;
    if (whole) {
        // Opened here, so that a file that cannot be read is reported when it is reached.
        source.reset(new WholeEntry);
        source->source.reset(new QFile(file.absoluteFilePath()));
        // What sits at the name may have changed since the walk saw a regular file there.
        QString why;
        if (!ravix::safefile::openForReadFollowing(*source->source, file.absoluteFilePath(),
                                                   false, &why)) {
            qDebug().noquote() << QStringLiteral("An error occurred while opening %1: %2")
                                      .arg(file.absoluteFilePath(), why);
            return Zip::OpenFailed;
        }
        if (compressionThreads > 1)
            return queueEntry(file, entryName, level, std::move(source));
    }
    ec = flushPending();
    if (ec != Zip::Ok)
        return ec;
    if (source) {
        source->in = &wholeIn;
        source->out = &wholeOut;
        source->compress(file.size(), wholeEntryLevel(level));
    }
    return writeLocalEntry(file, entryName, level, source.get());
}

Zip::ErrorCode ZipPrivate::queueEntry(const QFileInfo &file, const QString &entryName,
                                      Zip::CompressionLevel level,
                                      std::unique_ptr<WholeEntry> source)
{
    // Bounded memory: a few entries per thread, and no more source bytes than one bound per
    // thread (an entry alone is always let through).
    const qint64 size = file.size();
    const qint64 budget = qint64(compressionThreads) * WHOLE_ENTRY_BOUND;
    while (!pending.empty() && (pending.size() >= std::size_t(2 * compressionThreads) ||
                                pendingBytes + size > budget)) {
        const Zip::ErrorCode ec = writeFrontPending();
        if (ec != Zip::Ok)
            return ec;
    }
    if (!workers || workers->size() != compressionThreads)
        workers.reset(new DeflateWorkers(compressionThreads));

    PendingEntry p;
    p.file = file;
    p.entryName = entryName;
    p.level = level;
    p.size = size;
    WholeEntry *job = source.get();
    p.whole = std::move(source);
    const int codecLevel = wholeEntryLevel(level);
    auto task =
        std::make_shared<std::packaged_task<void()>>([=] { job->compress(size, codecLevel); });
    p.done = task->get_future();
    workers->post([task] { (*task)(); });
    pendingBytes += size;
    pending.push_back(std::move(p));
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::writeFrontPending()
{
    PendingEntry p = std::move(pending.front());
    pending.pop_front();
    pendingBytes -= p.size;
    p.done.wait();
    const Zip::ErrorCode ec = writeLocalEntry(p.file, p.entryName, p.level, p.whole.get());
    if (ec == Zip::Ok)
        return ec;
    if (walkSkipsBadFiles) {
        qDebug() << "Skipping" << p.file.absoluteFilePath() << ":" << int(ec);
        return Zip::Ok;
    }
    dropPending();
    return ec;
}

Zip::ErrorCode ZipPrivate::flushPending()
{
    while (!pending.empty()) {
        const Zip::ErrorCode ec = writeFrontPending();
        if (ec != Zip::Ok)
            return ec;
    }
    return Zip::Ok;
}

void ZipPrivate::dropPending()
{
    // A worker may still read into an entry: wait for it before the entry goes.
    for (PendingEntry &p : pending)
        p.done.wait();
    pending.clear();
    pendingBytes = 0;
}

Zip::ErrorCode ZipPrivate::finishAdd(Zip::ErrorCode ec)
{
    const Zip::ErrorCode flushed = flushPending();
    wholeIn.release();
    wholeOut.release();
    return ec != Zip::Ok ? ec : flushed;
}

DeflateWorkers::DeflateWorkers(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

DeflateWorkers::~DeflateWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

void DeflateWorkers::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void DeflateWorkers::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

void WholeEntry::compress(qint64 size, int level)
{
    const auto n = std::size_t(size);
    const std::size_t room = ravix::DeflateCodec::compressBound(ravix::DeflateCodec::Raw, n);
    char *bytes = in->reserve(n);
    data = out->reserve(room);
    if (!bytes || !data) {
        streamInstead = true;
        return;
    }
    qint64 got = 0;
    while (got < size) {
        const qint64 r = source->read(bytes + got, size - got);
        if (r < 0) {
            qDebug().noquote() << QStringLiteral("Error while reading %1").arg(source->fileName());
            ec = Zip::ReadFailed;
            return;
        }
        if (r == 0)
            break;
        got += r;
    }
    // A file that grew since it was listed is streamed to its end, as any other source.
    char more;
    if (got == size && source->read(&more, 1) != 0) {
        streamInstead = true;
        return;
    }
    source->close();
    read = got;
    crc = ravix::DeflateCodec::crc32(0, bytes, std::size_t(got));
    dataSize = ravix::DeflateCodec::compress(ravix::DeflateCodec::Raw, level, bytes,
                                             std::size_t(got), data, room);
    if (dataSize == 0)
        streamInstead = true;
    // A queued entry waits with its deflated form only.
    ownIn.release();
}

Zip::ErrorCode ZipPrivate::writeLocalEntry(const QFileInfo &file, const QString &entryName,
                                           Zip::CompressionLevel level, WholeEntry *whole)
{
    const bool dirOnly = file.isDir();
    const QByteArray name = entryName.toLatin1();
    if (whole && whole->ec != Zip::Ok)
        return whole->ec;
    if (whole && whole->streamInstead)
        whole = nullptr;

    const qint64 startPos = device->pos();
    if (startPos < 0)
        return Zip::SeekFailed;

    std::unique_ptr<ZipEntryP> h(new ZipEntryP);
    h->absolutePath = file.absoluteFilePath();
    h->fileSize = file.size();

    const bool encrypt = !dirOnly && !password.isEmpty();
    if (encrypt) {
        h->gpFlag[0] = 0x09;
        h->szComp = 12;
    }
    setDosTime(zip_fromFileTimestamp(file.lastModified()), h->modTime, h->modDate);
    h->compMethod = (dirOnly || level == Zip::Store) ? 0 : 8;
    h->szUncomp = dirOnly ? 0 : quint64(qMax<qint64>(0, file.size()));
    h->lhOffset = quint64(startPos);
    // The local header is written before the data, so it gets the 64-bit sizes whenever the
    // stored size could pass the classic fields (deflate's worst case plus the encryption
    // header); every other entry keeps the classic layout.
    const quint64 size = h->szUncomp;
    const quint64 worst =
        h->compMethod == 0 ? size : size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
    h->localZip64 = !dirOnly && worst + h->szComp > MAX_32;
    // A source that keeps growing is not read for ever.
    entryLimit = h->localZip64 ? size + (quint64(1) << 32) : MAX_32;

    unsigned char *b = uBuffer;
    put32(b, LOCAL_HEADER_SIGNATURE);
    put16(b + 4, h->localZip64 ? 45 : 20);
    b[6] = h->gpFlag[0];
    b[7] = h->gpFlag[1];
    put16(b + 8, h->compMethod);
    b[10] = h->modTime[0];
    b[11] = h->modTime[1];
    b[12] = h->modDate[0];
    b[13] = h->modDate[1];
    put32(b + 14, 0);
    put32(b + 18, h->localZip64 ? MARK_32 : 0);
    put32(b + 22, h->localZip64 ? MARK_32 : quint32(h->szUncomp));
    put16(b + 26, static_cast<quint16>(name.size()));
    put16(b + 28, h->localZip64 ? LOCAL_ZIP64_EXTRA_SIZE : 0);
    if (!writeAll(buffer1, 30) || !writeAll(name.constData(), name.size()))
        return Zip::WriteFailed;
    if (h->localZip64 && !writeLocalZip64Extra(h->szUncomp, 0))
        return Zip::WriteFailed;

    Keys keys(crcTable);
    if (encrypt) {
        // The random part must be unpredictable: it protects the key stream.
        char header[12];
        keys.init(password);
        for (int i = 0; i < 10; ++i) {
            const auto c = static_cast<unsigned char>(QRandomGenerator::system()->generate());
            header[i] = static_cast<char>(keys.encrypt(c));
        }
        keys.init(password);
        keys.encrypt(header, 10);
        header[10] = static_cast<char>(keys.encrypt(h->modTime[0]));
        header[11] = static_cast<char>(keys.encrypt(h->modTime[1]));
        if (!writeAll(header, 12))
            return Zip::WriteFailed;
    }

    quint32 crc = 0;
    if (!dirOnly) {
        qint64 written = 0;
        qint64 read = 0;
        const Zip::ErrorCode ec =
            whole ? writeWhole(*whole, crc, written, read, encrypt ? &keys : nullptr)
                  : deflateFile(file, crc, written, read, level, encrypt ? &keys : nullptr);
        if (ec != Zip::Ok)
            return ec;
        if (quint64(read) > entryLimit || quint64(written) + h->szComp > entryLimit)
            return refuseOversize(entryName, h->lhOffset);
        h->szComp += quint64(written);
        // The source may have changed size since it was listed; record what was stored.
        h->szUncomp = quint64(read);
    }
    h->crc = crc;

    const qint64 endPos = device->pos();
    if (endPos < 0)
        return Zip::SeekFailed;
    if (!device->seek(qint64(h->lhOffset) + 14))
        return Zip::SeekFailed;
    put32(b, h->crc);
    put32(b + 4, h->localZip64 ? MARK_32 : quint32(h->szComp));
    put32(b + 8, h->localZip64 ? MARK_32 : quint32(h->szUncomp));
    if (!writeAll(buffer1, 12))
        return Zip::WriteFailed;
    if (h->localZip64 && (!device->seek(qint64(h->lhOffset) + 30 + name.size()) ||
                          !writeLocalZip64Extra(h->szUncomp, h->szComp)))
        return Zip::WriteFailed;
    if (!device->seek(endPos))
        return Zip::SeekFailed;

    if (encrypt) {
        // Sizes in the descriptor are 64-bit after a local header with the 64-bit field.
        put32(b, DATA_DESCRIPTOR_SIGNATURE);
        put32(b + 4, h->crc);
        int len = 16;
        if (h->localZip64) {
            put64(b + 8, h->szComp);
            put64(b + 16, h->szUncomp);
            len = 24;
        } else {
            put32(b + 8, quint32(h->szComp));
            put32(b + 12, quint32(h->szUncomp));
        }
        if (!writeAll(buffer1, len))
            return Zip::WriteFailed;
    }

    ZipEntryP *old = headers->value(entryName, nullptr);
    headers->insert(entryName, h.release());
    delete old;
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::writeWhole(WholeEntry &whole, quint32 &crc, qint64 &written,
                                      qint64 &read, Keys *keys)
{
    char *data = whole.data;
    const auto size = qint64(whole.dataSize);
    if (keys)
        keys->encrypt(data, size);
    crc = whole.crc;
    read = whole.read;
    written = 0;
    if (!writeAll(data, size)) {
        qDebug().noquote()
            << QStringLiteral("Error while writing %1").arg(whole.source->fileName());
        return Zip::WriteFailed;
    }
    written = size;
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::deflateFile(const QFileInfo &fileInfo, quint32 &crc, qint64 &written,
                                       qint64 &read, Zip::CompressionLevel level, Keys *keys)
{
    const QString path = fileInfo.absoluteFilePath();
    // A device streams, up to the format's limit.
    QFile actualFile(path);
    QString why;
    if (!ravix::safefile::openForReadFollowing(actualFile, path, true, &why)) {
        qDebug().noquote()
            << QStringLiteral("An error occurred while opening %1: %2").arg(path, why);
        return Zip::OpenFailed;
    }
    const Zip::ErrorCode ec = level == Zip::Store
                                  ? storeFile(path, actualFile, crc, written, read, keys)
                                  : compressFile(path, actualFile, crc, written, read, level, keys);
    actualFile.close();
    return ec;
}

Zip::ErrorCode ZipPrivate::storeFile(const QString &path, QIODevice &in, quint32 &crc,
                                     qint64 &written, qint64 &read, Keys *keys)
{
    crc = crc32(0L, Z_NULL, 0);
    written = 0;
    read = 0;
    for (;;) {
        const qint64 r = in.read(buffer1, BUFFER_SIZE);
        if (r == 0)
            break;
        if (r < 0) {
            qDebug().noquote() << QStringLiteral("Error while reading %1").arg(path);
            return Zip::ReadFailed;
        }
        read += r;
        crc = crc32(crc, uBuffer, static_cast<uInt>(r));
        if (keys)
            keys->encrypt(buffer1, r);
        const qint64 w = device->write(buffer1, r);
        if (w > 0)
            written += w;
        if (w != r) {
            qDebug().noquote() << QStringLiteral("Error while writing %1").arg(path);
            return Zip::WriteFailed;
        }
        // Past the entry's limit the caller refuses the entry; a source that never ends
        // (a device, a file that keeps growing) would otherwise fill the disk first.
        if (quint64(read) > entryLimit)
            break;
    }
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::compressFile(const QString &path, QIODevice &in, quint32 &crc,
                                        qint64 &written, qint64 &read, Zip::CompressionLevel level,
                                        Keys *keys)
{
    crc = crc32(0L, Z_NULL, 0);
    written = 0;
    read = 0;

    z_stream zstr;
    std::memset(&zstr, 0, sizeof(zstr));
    if (deflateInit2(&zstr, static_cast<int>(level), Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        qDebug() << "Could not initialize zlib for compression";
        return Zip::ZlibError;
    }

    // The stream is finished when the source reports its end, so a file that grows while it
    // is read still ends in a complete stream.
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const qint64 r = in.read(buffer1, BUFFER_SIZE);
        if (r < 0) {
            deflateEnd(&zstr);
            qDebug().noquote() << QStringLiteral("Error while reading %1").arg(path);
            return Zip::ReadFailed;
        }
        if (r == 0)
            flush = Z_FINISH;
        read += r;
        crc = crc32(crc, uBuffer, static_cast<uInt>(r));

        zstr.next_in = uBuffer;
        zstr.avail_in = static_cast<uInt>(r);
        do {
            zstr.next_out = reinterpret_cast<Bytef *>(buffer2);
            zstr.avail_out = BUFFER_SIZE;
            deflate(&zstr, flush);
            const qint64 have = BUFFER_SIZE - zstr.avail_out;
            if (keys)
                keys->encrypt(buffer2, have);
            const qint64 w = device->write(buffer2, have);
            if (w > 0)
                written += w;
            if (w != have) {
                deflateEnd(&zstr);
                qDebug().noquote() << QStringLiteral("Error while writing %1").arg(path);
                return Zip::WriteFailed;
            }
        } while (zstr.avail_out == 0);
        // As when storing: the caller refuses an entry past the limit, so stop reading here.
        if (quint64(read) > entryLimit || quint64(written) > entryLimit)
            break;
    }

    deflateEnd(&zstr);
    return Zip::Ok;
}

bool ZipPrivate::writeLocalZip64Extra(quint64 uncompressed, quint64 compressed)
{
    unsigned char e[LOCAL_ZIP64_EXTRA_SIZE];
    put16(e, ZIP64_EXTRA_TAG);
    put16(e + 2, 16);
    put64(e + 4, uncompressed);
    put64(e + 12, compressed);
    return writeAll(reinterpret_cast<const char *>(e), sizeof(e));
}

Zip::ErrorCode ZipPrivate::writeEntry(const QString &fileName, const ZipEntryP *h,
                                      quint64 &szCentralDir)
{
    const QByteArray name = fileName.toLatin1();
    // Values that do not fit the classic fields go to the 64-bit extra field, in the
    // format's order; entries with 64-bit local sizes carry them here as well.
    const bool bigSizes = h->localZip64 || h->szUncomp > MAX_32 || h->szComp > MAX_32;
    const bool bigOffset = h->lhOffset > MAX_32;
    unsigned char extra[28];
    int extraLength = 0;
    if (bigSizes || bigOffset) {
        extraLength = 4;
        if (bigSizes) {
            put64(extra + extraLength, h->szUncomp);
            put64(extra + extraLength + 8, h->szComp);
            extraLength += 16;
        }
        if (bigOffset) {
            put64(extra + extraLength, h->lhOffset);
            extraLength += 8;
        }
        put16(extra, ZIP64_EXTRA_TAG);
        put16(extra + 2, quint16(extraLength - 4));
    }
    const quint16 version = extraLength ? 45 : 0;

    unsigned char *b = uBuffer;
    put32(b, CENTRAL_HEADER_SIGNATURE);
    put16(b + 4, version);
    put16(b + 6, extraLength ? 45 : 20);
    b[8] = h->gpFlag[0];
    b[9] = h->gpFlag[1];
    put16(b + 10, h->compMethod);
    b[12] = h->modTime[0];
    b[13] = h->modTime[1];
    b[14] = h->modDate[0];
    b[15] = h->modDate[1];
    put32(b + 16, h->crc);
    put32(b + 20, bigSizes ? MARK_32 : quint32(h->szComp));
    put32(b + 24, bigSizes ? MARK_32 : quint32(h->szUncomp));
    put16(b + 28, static_cast<quint16>(name.size()));
    put16(b + 30, quint16(extraLength));
    put16(b + 32, 0);
    put16(b + 34, 0);
    put16(b + 36, 0);
    put32(b + 38, 0);
    put32(b + 42, bigOffset ? MARK_32 : quint32(h->lhOffset));
    if (!writeAll(buffer1, 46) || !writeAll(name.constData(), name.size()) ||
        !writeAll(reinterpret_cast<const char *>(extra), extraLength))
        return Zip::WriteFailed;
    szCentralDir += quint64(46 + name.size() + extraLength);
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::writeCentralDir(quint64 offset, quint64 size)
{
    const QByteArray c = comment.toLatin1();
    const quint16 commentLength = static_cast<quint16>(c.size());
    const quint64 entries = quint64(headers->size());
    unsigned char *b = uBuffer;
    // The 64-bit end record and its locator only when a classic field cannot hold the value
    // (65535 entries still fit).
    const bool zip64 = entries > MARK_16 || offset > MAX_32 || size > MAX_32;
    if (zip64) {
        const quint64 recordAt = offset + size;
        put32(b, ZIP64_END_SIGNATURE);
        put64(b + 4, ZIP64_END_SIZE - 12);
        put16(b + 12, 45);
        put16(b + 14, 45);
        put32(b + 16, 0);
        put32(b + 20, 0);
        put64(b + 24, entries);
        put64(b + 32, entries);
        put64(b + 40, size);
        put64(b + 48, offset);
        put32(b + 56, ZIP64_LOCATOR_SIGNATURE);
        put32(b + 60, 0);
        put64(b + 64, recordAt);
        put32(b + 72, 1);
        if (!writeAll(buffer1, ZIP64_END_SIZE + ZIP64_LOCATOR_SIZE))
            return Zip::WriteFailed;
    }
    put32(b, END_RECORD_SIGNATURE);
    put16(b + 4, 0);
    put16(b + 6, 0);
    put16(b + 8, static_cast<quint16>(qMin<quint64>(entries, MARK_16)));
    put16(b + 10, static_cast<quint16>(qMin<quint64>(entries, MARK_16)));
    put32(b + 12, size > MAX_32 ? MARK_32 : quint32(size));
    put32(b + 16, offset > MAX_32 ? MARK_32 : quint32(offset));
    put16(b + 20, commentLength);
    if (!writeAll(buffer1, 22))
        return Zip::WriteFailed;
    if (commentLength != 0 && !writeAll(c.constData(), commentLength))
        return Zip::WriteFailed;
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::closeArchive()
{
    if (device && device != file)
        disconnect(device, nullptr, this, nullptr);
    return do_closeArchive();
}

Zip::ErrorCode ZipPrivate::do_closeArchive()
{
    if (!device && !headers)
        return Zip::Ok;
    if (!device)
        return Zip::NoOpenArchive;

    Zip::ErrorCode ec = Zip::Ok;
    const qint64 cdOffset = device->pos();
    quint64 cdSize = 0;
    if (comment.toLatin1().size() > MAX_FIELD_LENGTH) {
        qDebug() << "The archive comment is longer than the format allows; the archive is not"
                 << "finished.";
        ec = Zip::WriteFailed;
    } else if (cdOffset < 0) {
        ec = Zip::SeekFailed;
    }
    if (headers && ec == Zip::Ok) {
        for (auto it = headers->constBegin(); it != headers->constEnd() && ec == Zip::Ok; ++it)
            ec = writeEntry(it.key(), it.value(), cdSize);
    }
    if (ec == Zip::Ok && headers)
        ec = writeCentralDir(quint64(cdOffset), cdSize);
    // Buffered bytes of our own file must reach the disk before the archive counts as written.
    if (ec == Zip::Ok && file && device == file && !file->flush())
        ec = Zip::WriteFailed;

    if (ec != Zip::Ok && file && device == file) {
        file->close();
        // Never remove anything but a regular file (the name may point to a device node).
        if (QFileInfo(file->fileName()).isFile() && !file->remove())
            qDebug() << "Failed to delete corrupt archive.";
    }
    return ec;
}

void ZipPrivate::reset()
{
    dropPending();
    comment.clear();
    ownArchive = ArchiveIdentity();
    if (headers) {
        qDeleteAll(*headers);
        delete headers;
        headers = nullptr;
    }
    device = nullptr;
    delete file;
    file = nullptr;
}

void ZipPrivate::deviceDestroyed(QObject *)
{
    qDebug() << "Unexpected device destruction detected.";
    // The device is gone: drop the archive state without writing anything.
    device = nullptr;
    reset();
}

// ---------------------------------------------------------------------------------------------
// Zip

Zip::Zip() : d(new ZipPrivate) {}

Zip::~Zip()
{
    closeArchive();
    delete d;
}

bool Zip::isOpen() const
{
    return d->device != nullptr;
}

void Zip::setPassword(const QString &pwd)
{
    d->password = pwd;
}

void Zip::clearPassword()
{
    d->password.clear();
}

QString Zip::password() const
{
    return d->password;
}

Zip::ErrorCode Zip::createArchive(const QString &filename, bool overwrite)
{
    closeArchive();
    if (filename.isEmpty())
        return FileNotFound;

    d->file = new QFile(filename);
    if (d->file->exists() && !overwrite) {
        delete d->file;
        d->file = nullptr;
        return FileExists;
    }
    if (!d->file->open(QIODevice::WriteOnly)) {
        delete d->file;
        d->file = nullptr;
        return OpenFailed;
    }

    const ErrorCode ec = d->createArchive(d->file);
    if (ec != Ok) {
        d->closeArchive();
        d->reset();
    }
    return ec;
}

Zip::ErrorCode Zip::createArchive(QIODevice *device)
{
    if (!device) {
        qDebug() << "Invalid device.";
        return OpenFailed;
    }
    // Only an archive still open is closed: a comment set beforehand stays for this one.
    return d->createArchive(device);
}

QString Zip::archiveComment() const
{
    return d->comment;
}

void Zip::setArchiveComment(const QString &comment)
{
    d->comment = comment;
}

Zip::ErrorCode Zip::addDirectoryContents(const QString &path, CompressionLevel level)
{
    return addDirectory(path, QString(), IgnorePaths, level);
}

Zip::ErrorCode Zip::addDirectoryContents(const QString &path, const QString &root,
                                         CompressionLevel level)
{
    return addDirectory(path, root, IgnorePaths, level);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, CompressionLevel level)
{
    return addDirectory(path, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, const QString &root, CompressionLevel level)
{
    return addDirectory(path, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, const QString &root,
                                 CompressionOptions options, CompressionLevel level,
                                 int *addedFiles)
{
    if (addedFiles)
        *addedFiles = 0;
    d->walkSkipsBadFiles = options.testFlag(SkipBadFiles);
    return d->finishAdd(d->addDirectory(path, root, options, level, 0, addedFiles));
}

Zip::ErrorCode Zip::addFile(const QString &path, CompressionLevel level)
{
    return addFile(path, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addFile(const QString &path, const QString &root, CompressionLevel level)
{
    return addFile(path, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addFile(const QString &path, const QString &root, CompressionOptions options,
                            CompressionLevel level)
{
    if (path.isEmpty())
        return Ok;
    return addFiles(QStringList() << path, root, options, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, CompressionLevel level)
{
    return addFiles(paths, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, const QString &root, CompressionLevel level)
{
    return addFiles(paths, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, const QString &root,
                             CompressionOptions options, CompressionLevel level, int *addedFiles)
{
    d->walkSkipsBadFiles = options.testFlag(SkipBadFiles);
    return d->finishAdd(d->addFiles(paths, root, options, level, addedFiles));
}

void Zip::setCompressionThreads(int threads)
{
    d->compressionThreads = qMax(1, threads);
}

int Zip::compressionThreads() const
{
    return d->compressionThreads;
}

Zip::ErrorCode Zip::closeArchive()
{
    const ErrorCode ec = d->closeArchive();
    d->reset();
    return ec;
}

QString Zip::formatError(ErrorCode c) const
{
    switch (c) {
    case Ok:
        return tr("ZIP operation completed successfully.");
    case ZlibInit:
        return tr("Failed to initialize or load zlib library.");
    case ZlibError:
        return tr("zlib library error.");
    case OpenFailed:
        return tr("Unable to create or open file.");
    case NoOpenArchive:
        return tr("No archive has been created yet.");
    case FileNotFound:
        return tr("File or directory does not exist.");
    case ReadFailed:
        return tr("File read error.");
    case WriteFailed:
        return tr("File write error.");
    case SeekFailed:
        return tr("File seek error.");
    default:
        break;
    }
    return tr("Unknown error.");
}
