// SPDX-License-Identifier: MIT
#include "httpfileloader/httpfileloader.h"
#include "httpfileloader/httpfileloader_p.h"

#include "appframe/dircreator.h"
#include "logger/logwrappers.h"
#include "workers/abstractworkerthread.h"

#include <QAtomicInt>
#include <QAuthenticator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegExp>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslError>
#endif

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(hfl, "hfl")

namespace ravix {

namespace {

QAtomicInt s_replyTimeoutMs(HttpFileLoaderTimings().replyTimeoutMs);
QAtomicInt s_retryDelayMs(HttpFileLoaderTimings().retryDelayMs);
QAtomicInt s_timeoutRetryDelayMs(HttpFileLoaderTimings().timeoutRetryDelayMs);
QAtomicInt s_verifyTls(0);

// Continuation of a log record on a new line, aligned under the message, inside a text.
const char kLogTab[] = "\n               ";

#if QT_CONFIG(ssl)
// A reply whose certificate was rejected while verification is on.
const char kTlsRejected[] = "ravix_hfl_tlsRejected";
#endif

const int kMaxAttempts = 5;
// What the network layer may hold of an answer that we have not taken yet (of a refused one,
// while its abort is on its way).
const qint64 kRefusedBufferSize = 64 * 1024;
const qint64 kReplyBufferSize = 1024 * 1024;
// Bytes taken from the answer and held for one write to the file.
const qint64 kWriteBatch = 1024 * 1024;
// The most of an error page (or another answer that is not written) that is read and dropped.
const qint64 kMaxDiscarded = 1024 * 1024;

QString rawHeaders(const QNetworkReply *reply)
{
    QString text;
    for (const QNetworkReply::RawHeaderPair &pair : reply->rawHeaderPairs())
        text += QLatin1String(kLogTab) + QString::fromLatin1(pair.first + ": " + pair.second);
    return text;
}

#ifndef Q_OS_WIN
QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A plain file of this account with no second name: what a partial file of ours looks like.
// A hard link planted by another account would otherwise carry our writes into its target.
bool isOwnPlainFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}
#endif

// Free bytes on the file system of dir, or -1 when unknown.
qint64 freeSpace(const QString &dir)
{
#ifndef Q_OS_WIN
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(dir).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
#else
    const QStorageInfo info(dir);
    return info.isValid() ? info.bytesAvailable() : -1;
#endif
}

} // namespace

HttpFileLoaderTimings httpFileLoaderTimings()
{
    HttpFileLoaderTimings t;
    t.replyTimeoutMs = s_replyTimeoutMs.loadAcquire();
    t.retryDelayMs = s_retryDelayMs.loadAcquire();
    t.timeoutRetryDelayMs = s_timeoutRetryDelayMs.loadAcquire();
    return t;
}

void setHttpFileLoaderTimings(const HttpFileLoaderTimings &timings)
{
    s_replyTimeoutMs.storeRelease(timings.replyTimeoutMs);
    s_retryDelayMs.storeRelease(timings.retryDelayMs);
    s_timeoutRetryDelayMs.storeRelease(timings.timeoutRetryDelayMs);
}

bool parseContentRange(const QByteArray &value, qint64 *start, qint64 *total, qint64 *end)
{
    QRegExp rx(QStringLiteral("(\\s*\\w*\\s*)(\\d+)(\\s*\\-\\s*)(\\d+)(\\s*\\/\\s*)(\\d+)(\\s*)"),
               Qt::CaseSensitive);
    if (!rx.exactMatch(QString::fromLatin1(value)))
        return false;
    bool startOk = false, totalOk = false, endOk = true;
    *start = rx.cap(2).toLongLong(&startOk);
    *total = rx.cap(6).toLongLong(&totalOk);
    if (end)
        *end = rx.cap(4).toLongLong(&endOk);
    return startOk && totalOk && endOk;
}

// The block in flight. The answer's headers are judged once they arrive; only an accepted
// answer opens the partial file, and its body goes there piece by piece as it comes in.
struct HttpFileLoader::Transfer
{
    enum State {
        Waiting, // headers not judged yet, or an answer that is not written (an error page)
        Writing, // accepted: the body goes to the partial file
        Refused  // cut off; why says why, the answer's end is a failed attempt
    };
    QPointer<QNetworkReply> reply;
    State state = Waiting;
    QString why;
    bool headerError = false; // refused for its headers: logged with them
    bool ranged = false;      // a 206 with Content-Range, not the whole file
    qint64 offset = 0;        // the first byte asked for
    qint64 total = 0;         // the file's size as the answer gives it
    qint64 limit = 0;         // bytes of this answer that may be written
    qint64 written = 0;
    qint64 discarded = 0;
    QFile part;
    // Pieces of the answer not yet in the file, in order.
    QList<QByteArray> pending;
    qint64 pendingBytes = 0;
};

HttpFileLoader::HttpFileLoader(const QString &url, const QString &fileName, int blockSize,
                               QObject *receiver, const char *finishedSlot,
                               const char *progressSlot)
    : _url(url), _fileName(fileName), _blockSize(blockSize), _attempt(0), _receiver(receiver),
      _verifyTls(tlsVerification()), _transfer(new Transfer)
{
    if (receiver && finishedSlot)
        _finishedSlot = finishedSlot;
    if (receiver && progressSlot)
        _progressSlot = progressSlot;
}

HttpFileLoader::~HttpFileLoader() = default;

void HttpFileLoader::setTlsVerification(bool verify)
{
    s_verifyTls.storeRelease(verify ? 1 : 0);
}

bool HttpFileLoader::tlsVerification()
{
    return s_verifyTls.loadAcquire() != 0;
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           QObject *receiver, const char *finishedSlot,
                                           const char *progressSlot, qint32 blockSize)
{
    qCDebug(hfl).noquote() << url;
    if (url.isEmpty() || fileName.isEmpty()) {
        qCWarning(hfl).noquote() << tr("Invalid fileName or url: %1 - %2").arg(fileName, url);
        return QPointer<QThread>();
    }
    // A block of no bytes would never move the download forward.
    if (blockSize <= 0) {
        qCWarning(hfl).noquote() << tr("Invalid block size: %1").arg(blockSize);
        return QPointer<QThread>();
    }
    if (!DirCreator::checkAndCreate(QFileInfo(fileName).absolutePath(), DirCreator::DEFAULT_ALL))
        qWarning().noquote() << tr("Target directory creation error");

    auto *loader =
        new HttpFileLoader(url, fileName, blockSize, receiver, finishedSlot, progressSlot);
    auto *thread = new AbstractWorkerThread(loader, nullptr);
    connect(loader, SIGNAL(finished(QString)), thread, SLOT(quit()), Qt::QueuedConnection);
    if (receiver && finishedSlot)
        connect(loader, SIGNAL(finished(QString)), receiver, finishedSlot);
    if (receiver && progressSlot)
        connect(loader, SIGNAL(progress(QString, int)), receiver, progressSlot);
    connect(thread, SIGNAL(finished()), thread, SLOT(deleteLater()));
    thread->start(QThread::InheritPriority);
    return QPointer<QThread>(thread);
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           QObject *receiver, const char *finishedSlot,
                                           qint32 blockSize)
{
    return download(url, fileName, receiver, finishedSlot, nullptr, blockSize);
}

QPointer<QThread> HttpFileLoader::download(const QString &url, const QString &fileName,
                                           qint32 blockSize)
{
    return download(url, fileName, nullptr, nullptr, nullptr, blockSize);
}

QString HttpFileLoader::partFilePath() const
{
    return _fileName + QStringLiteral(".part");
}

qint64 HttpFileLoader::calcOffset() const
{
#ifndef Q_OS_WIN
    struct stat st;
    if (::lstat(QFile::encodeName(partFilePath()).constData(), &st) != 0 || !isOwnPlainFile(st))
        return 0;
    return qint64(st.st_size);
#else
    const QFileInfo part(partFilePath());
    return part.exists() ? part.size() : 0;
#endif
}

bool HttpFileLoader::doStart()
{
    _attempt = 0;
    _knownTotal = -1;
    delete _timeoutTimer;
    delete _retryTimer;
    dropManager();
    createManager();

    _timeoutTimer = new QTimer(this);
    _timeoutTimer->setSingleShot(true);
    _timeoutTimer->setInterval(httpFileLoaderTimings().replyTimeoutMs);
    connect(_timeoutTimer, SIGNAL(timeout()), this, SLOT(downloadTimeout()));
    _retryTimer = new QTimer(this);
    _retryTimer->setSingleShot(true);
    connect(_retryTimer, SIGNAL(timeout()), this, SLOT(download()));

    download();
    return true;
}

bool HttpFileLoader::doStop()
{
    if (_receiver) {
        if (!_finishedSlot.isEmpty())
            disconnect(this, SIGNAL(finished(QString)), _receiver, _finishedSlot.constData());
        if (!_progressSlot.isEmpty())
            disconnect(this, SIGNAL(progress(QString, int)), _receiver, _progressSlot.constData());
    }
    delete _timeoutTimer;
    delete _retryTimer;
    dropManager();
    closePart();
    return true;
}

void HttpFileLoader::createManager()
{
    _manager = new QNetworkAccessManager(this);
    connect(_manager, SIGNAL(authenticationRequired(QNetworkReply *, QAuthenticator *)), this,
            SLOT(authenticationRequired(QNetworkReply *, QAuthenticator *)));
    connect(_manager, SIGNAL(finished(QNetworkReply *)), this, SLOT(finished(QNetworkReply *)));
    connect(_manager, SIGNAL(proxyAuthenticationRequired(QNetworkProxy, QAuthenticator *)), this,
            SLOT(proxyAuthenticationRequired(QNetworkProxy, QAuthenticator *)));
#if QT_CONFIG(ssl)
    // Every manager, also one that replaces a timed-out manager, treats certificates alike.
    connect(_manager, SIGNAL(sslErrors(QNetworkReply *, QList<QSslError>)), this,
            SLOT(onSslErrors(QNetworkReply *, QList<QSslError>)));
#endif
}

void HttpFileLoader::dropManager()
{
    if (!_manager)
        return;
    // Deleting the manager drops its pending request and closes the connection.
    _manager->disconnect(this);
    delete _manager;
}

void HttpFileLoader::download()
{
    if (!_manager || !_timeoutTimer) {
        qCCritical(hfl).noquote() << tr("QNetworkAccessManager is null");
        emit finished();
        emit finished(QString());
        return;
    }
    _timeoutTimer->stop();
    ++_attempt;

    const QUrl url(_url, QUrl::TolerantMode);
    QNetworkRequest request(url);
    const qint64 offset = calcOffset();
    qCDebug(hfl).noquote() << tr("Attempt #%1. Offcet = %2. BlockSize = %3. URL = %4")
                                  .arg(_attempt)
                                  .arg(offset)
                                  .arg(_blockSize)
                                  .arg(_url);
    request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-' +
                                      QByteArray::number(offset + _blockSize));
    request.setRawHeader("Referer", url.host(QUrl::FullyDecoded).toUtf8());
    // Byte offsets must count the file's own bytes, not those of a compressed transfer.
    request.setRawHeader("Accept-Encoding", "identity");

    Transfer &t = *_transfer;
    closePart();
    t.state = Transfer::Waiting;
    t.why.clear();
    t.headerError = false;
    t.offset = offset;
    t.written = 0;
    t.discarded = 0;
    QNetworkReply *reply = _manager->get(request);
    // Bounded from the first byte: the body starts flowing before its headers are judged, and
    // a thread that is slow to judge them (a busy machine) must not find the network layer
    // has taken in an endless answer meanwhile. A block asked for fits whole, so a good answer
    // is never held up.
    reply->setReadBufferSize(qMax(kReplyBufferSize, _blockSize + 1 + kRefusedBufferSize));
    t.reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { judgeHeaders(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { receive(reply); });
    _timeoutTimer->start(httpFileLoaderTimings().replyTimeoutMs);
}

// Decides from the headers of a 200 or 206 answer whether its body may go to the partial file,
// and opens the file for it. Other answers are left to finished().
void HttpFileLoader::judgeHeaders(QNetworkReply *reply)
{
    Transfer &t = *_transfer;
    if (reply != t.reply || t.state != Transfer::Waiting)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    if (!statusAttribute.isValid() || (status != 200 && status != 206))
        return;

    bool ok = false;
    const qint64 contentLength = reply->rawHeader("Content-Length").toLongLong(&ok);
    qint64 start = 0, end = contentLength - 1, total = contentLength;
    const bool ranged = reply->hasRawHeader("Content-Range");
    // A partial answer must say which part it is.
    bool headersOk = ok && contentLength > 0 && (ranged || status != 206);
    if (headersOk && ranged) {
        // The length must be the span the range names, inside the total.
        headersOk = parseContentRange(reply->rawHeader("Content-Range"), &start, &total, &end) &&
                    start <= end && end < total && contentLength == end - start + 1;
    }
    const qint64 partSize = calcOffset();
    // A block must continue the partial file: one starting beyond its end would leave a hole
    // of zeros that the size check takes for data.
    if (headersOk && ranged && start > partSize)
        headersOk = false;
    if (!headersOk) {
        t.headerError = true;
        refuse(reply, tr("Http headers parsing error"));
        return;
    }
    // A size that changes between blocks belongs to another file, or to no file at all.
    if (ranged && _knownTotal >= 0 && total != _knownTotal) {
        refuse(reply,
               tr("The remote size changed from %1 to %2 bytes").arg(_knownTotal).arg(total));
        return;
    }
    const qint64 needed = total - (ranged ? qMin(partSize, total) : 0);
    const qint64 available = freeSpace(QFileInfo(partFilePath()).absolutePath());
    if (available >= 0 && needed > available) {
        refuse(reply, tr("The remote file of %1 bytes does not fit the free space (%2 bytes)")
                          .arg(total)
                          .arg(available));
        return;
    }
    if (ranged && partSize > total) {
        // The partial file does not belong to this remote file: start over.
        qCWarning(hfl).noquote() << partFilePath() << total;
        discardPartFile();
        refuse(reply, QString());
        return;
    }

    QString error;
    if (!openPartFile(&error)) {
        qCCritical(hfl).noquote() << error << partFilePath();
        refuse(reply, QString());
        return;
    }
    // Without a range the server sends the whole file, however large: write it all from 0.
    if (!ranged && !t.part.resize(0)) {
        qCCritical(hfl).noquote() << t.part.errorString() << partFilePath();
        refuse(reply, QString());
        return;
    }
    // The file opened may be a fresh one in place of something that was not ours.
    if (ranged && start > t.part.size()) {
        closePart();
        t.headerError = true;
        refuse(reply, tr("Http headers parsing error"));
        return;
    }
    if (!t.part.seek(start)) {
        qCCritical(hfl).noquote() << t.part.errorString() << partFilePath();
        refuse(reply, QString());
        return;
    }
    // A ranged answer holds at most the block asked for, and is taken as it arrives. A whole
    // file can be far larger than the disk is fast: the network layer pauses while this much
    // waits for us. (The pause costs a signal between threads per read, so only here.)
    if (!ranged)
        reply->setReadBufferSize(kReplyBufferSize);
    t.ranged = ranged;
    t.total = total;
    // A ranged block may carry what was asked for and no more.
    t.limit = ranged ? qMin(contentLength, t.offset + _blockSize - start + 1) : contentLength;
    t.state = Transfer::Writing;
}

// Takes what has arrived of the answer: written to the partial file when accepted, dropped
// (up to a bound) when it is not to be written.
void HttpFileLoader::receive(QNetworkReply *reply)
{
    Transfer &t = *_transfer;
    if (reply != t.reply)
        return;
    if (t.state == Transfer::Waiting)
        judgeHeaders(reply);
    if (t.state == Transfer::Waiting) {
        t.discarded += reply->skip(reply->bytesAvailable());
        if (t.discarded > kMaxDiscarded)
            refuse(reply, tr("The answer is longer than %1 bytes").arg(kMaxDiscarded));
        return;
    }
    // A refused answer is left unread: the network layer then stops at its buffer limit
    // until the abort arrives, instead of taking in whatever the server sends meanwhile.
    if (t.state != Transfer::Writing)
        return;
    for (;;) {
        // All that is buffered at once: a read of exactly the network layer's next block
        // hands that block over without copying it, where a fixed-size read copies every byte.
        const QByteArray data = reply->read(reply->bytesAvailable());
        if (data.isEmpty())
            return;
        const qint64 take = qMin(qint64(data.size()), t.limit - t.written);
        if (take > 0) {
            t.pending.append(take == data.size() ? data : data.left(int(take)));
            t.pendingBytes += take;
            t.written += take;
        }
        if (take < data.size()) {
            writePending();
            refuse(reply, tr("The answer is longer than the %1 bytes asked for").arg(t.limit));
            return;
        }
        if (t.pendingBytes >= kWriteBatch && !writePending()) {
            refuse(reply, QString());
            return;
        }
    }
}

// Stops an answer; its end (finished()) counts as a failed attempt. why, when not empty, is
// logged there.
void HttpFileLoader::refuse(QNetworkReply *reply, const QString &why)
{
    Transfer &t = *_transfer;
    t.state = Transfer::Refused;
    t.why = why;
    // The abort below waits behind the data the network thread has already posted; a small
    // buffer limit stops it posting more until then.
    reply->setReadBufferSize(kRefusedBufferSize);
    // Not from inside the reply's own signal: the network layer carries on after it.
    QMetaObject::invokeMethod(reply, "abort", Qt::QueuedConnection);
}

// Writes the pieces of the answer held so far to the partial file; false (logged) when they
// could not all be written.
bool HttpFileLoader::writePending()
{
    Transfer &t = *_transfer;
    if (t.pending.isEmpty())
        return true;
    bool ok = t.part.isOpen();
    QString error = t.part.errorString();
#ifndef Q_OS_WIN
    // One system call for many pieces: a call per piece costs more than the pieces' copying.
    int first = 0;
    qint64 done = 0; // of pending[first]
    while (ok && first < t.pending.size()) {
        iovec iov[64];
        int n = 0;
        for (int i = first; i < t.pending.size() && n < 64; ++i, ++n) {
            const qint64 skip = i == first ? done : 0;
            iov[n].iov_base = const_cast<char *>(t.pending.at(i).constData()) + skip;
            iov[n].iov_len = size_t(t.pending.at(i).size() - skip);
        }
        const ssize_t w = ::writev(t.part.handle(), iov, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            error = systemError();
            ok = false;
            break;
        }
        for (qint64 left = w; left > 0;) {
            const qint64 rest = t.pending.at(first).size() - done;
            if (left < rest) {
                done += left;
                break;
            }
            left -= rest;
            done = 0;
            ++first;
        }
    }
#else
    for (const QByteArray &piece : qAsConst(t.pending)) {
        if (ok && t.part.write(piece) != piece.size()) {
            error = t.part.errorString();
            ok = false;
        }
    }
#endif
    t.pending.clear();
    t.pendingBytes = 0;
    if (!ok)
        qCCritical(hfl).noquote() << error << partFilePath();
    return ok;
}

// Writes what is held and closes the partial file.
void HttpFileLoader::closePart()
{
    writePending();
    _transfer->part.close();
}

bool HttpFileLoader::openPartFile(QString *error)
{
    QFile &file = _transfer->part;
    file.close();
#ifndef Q_OS_WIN
    const QByteArray name = QFile::encodeName(partFilePath());
    for (int tries = 0; tries < 3; ++tries) {
        int fd = -1;
        struct stat before;
        if (::lstat(name.constData(), &before) == 0) {
            if (isOwnPlainFile(before)) {
                fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
                struct stat after;
                if (fd >= 0 && (::fstat(fd, &after) != 0 || after.st_dev != before.st_dev ||
                                after.st_ino != before.st_ino || !isOwnPlainFile(after))) {
                    ::close(fd);
                    fd = -1;
                }
            }
            if (fd < 0) {
                // Whatever another account put at this name is removed, never followed.
                qCWarning(hfl).noquote()
                    << tr("%1 is not a partial file of this download: removed").arg(partFilePath());
                if (::unlink(name.constData()) != 0 && errno != ENOENT) {
                    *error = systemError();
                    return false;
                }
                continue;
            }
        } else if (errno == ENOENT) {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0) {
                *error = systemError();
                return false;
            }
        } else {
            *error = systemError();
            return false;
        }
        // Packages are installed as root: nobody else may write into them.
        if (::fchmod(fd, 0644) != 0) {
            *error = systemError();
            ::close(fd);
            return false;
        }
        if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle)) {
            *error = file.errorString();
            ::close(fd);
            return false;
        }
        return true;
    }
    *error = tr("the name keeps being replaced");
    return false;
#else
    file.setFileName(partFilePath());
    if (file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return true;
    *error = file.errorString();
    return false;
#endif
}

void HttpFileLoader::finished(QNetworkReply *reply)
{
    if (_timeoutTimer)
        _timeoutTimer->stop();
    qCDebug(hfl).noquote() << tr("BLOCK FINISHED") << _url;
    if (!reply) {
        qCCritical(hfl).noquote() << tr("Reply is null object");
        retry();
        return;
    }
    Transfer &t = *_transfer;
    if (reply != t.reply) {
        // An answer of a request given up before.
        disposeReply(reply);
        return;
    }
#if QT_CONFIG(ssl)
    if (reply->property(kTlsRejected).toBool()) {
        qCWarning(hfl).noquote() << reply->errorString() << _url;
        disposeReply(reply);
        closePart();
        fail();
        return;
    }
#endif
    // The rest of the body, also when the answer ends without readyRead after it. What arrived
    // is good also when the answer broke off: it goes to the file.
    receive(reply);
    if (!writePending())
        t.state = Transfer::Refused;
    if (t.state == Transfer::Refused) {
        if (t.headerError)
            qCWarning(hfl).noquote() << t.why << rawHeaders(reply);
        else if (!t.why.isEmpty())
            qCWarning(hfl).noquote() << t.why << _url;
        disposeReply(reply);
        closePart();
        retry();
        return;
    }
    if (reply->error() == QNetworkReply::ContentNotFoundError) {
        qCWarning(hfl).noquote() << reply->errorString() << _url;
        disposeReply(reply);
        closePart();
        endDownload();
        emit finished(QString());
        emit finished();
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 416) {
        // The partial file does not fit the remote file any more: start from the beginning.
        qCWarning(hfl).noquote() << reply->errorString() << _url << partFilePath();
        disposeReply(reply);
        if (QFile::exists(partFilePath()) && discardPartFile()) {
            download();
        } else {
            retry();
        }
        return;
    }
    if (reply->error() != QNetworkReply::NoError || (status != 200 && status != 206)) {
        // A status the transport took for success (a redirect, say) has no error name.
        const char *code =
            QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(reply->error());
        const QString what = reply->error() != QNetworkReply::NoError
                                 ? QString::fromLatin1(code ? code : "")
                                 : QString::number(status);
        qCWarning(hfl).noquote() << what << reply->errorString() << logtab << _url
                                 << rawHeaders(reply);
        disposeReply(reply);
        // What arrived of the block before the break is good and stays.
        closePart();
        retry();
        return;
    }
    completeBlock(reply);
}

// A block that arrived whole: the partial file is complete, or the next block is asked for.
void HttpFileLoader::completeBlock(QNetworkReply *reply)
{
    Transfer &t = *_transfer;
    disposeReply(reply);
    if (t.state != Transfer::Writing) {
        // A 200 or 206 whose headers never came: nothing to judge it by.
        retry();
        return;
    }
    const qint64 size = t.part.size();
    if (t.ranged)
        _knownTotal = t.total;
    if (size == t.total) {
        _attempt = 0;
        if (!moveIntoPlace()) {
            qCWarning(hfl).noquote() << tr("%1 copying error").arg(_fileName);
            endDownload();
            emit finished(QString());
            return;
        }
        endDownload();
        emit progress(QFileInfo(_fileName).fileName(), 100);
        emit finished(_fileName);
        return;
    }
    closePart();
    if (size > t.total) {
        // Only a server that contradicts itself gets here.
        qCWarning(hfl).noquote() << partFilePath() << size << t.total;
        discardPartFile();
        retry();
        return;
    }
    if (t.total > 0)
        emit progress(QFileInfo(_fileName).fileName(), int(size * 100 / t.total));
    if (t.written > 0) {
        _attempt = 0;
        download();
    } else {
        // A block that brought nothing counts as failed, or the loop would never end.
        retry();
    }
}

// Puts the complete partial file (still open) in the target's place.
bool HttpFileLoader::moveIntoPlace()
{
    QFile &part = _transfer->part;
#ifndef Q_OS_WIN
    // On disk before it is renamed: a crash must not leave an empty package under the name.
    if (::fsync(part.handle()) != 0) {
        qCCritical(hfl).noquote() << systemError() << partFilePath();
        part.close();
        return false;
    }
    // rename() replaces whatever has the target's name, a link included, without following it.
    const QByteArray target = QFile::encodeName(_fileName);
    if (::rename(QFile::encodeName(partFilePath()).constData(), target.constData()) != 0) {
        qCCritical(hfl).noquote() << systemError() << _fileName;
        part.close();
        return false;
    }
    struct stat renamed, ours;
    const bool same = ::lstat(target.constData(), &renamed) == 0 &&
                      ::fstat(part.handle(), &ours) == 0 && renamed.st_dev == ours.st_dev &&
                      renamed.st_ino == ours.st_ino;
    part.close();
    if (!same) {
        // Another account swapped the partial file's name before the rename.
        qCCritical(hfl).noquote() << tr("%1 was replaced while it was moved").arg(partFilePath());
        ::unlink(target.constData());
        return false;
    }
    return true;
#else
    part.close();
    if (QFile::exists(_fileName))
        QFile::remove(_fileName);
    // A copy remains the way when the rename is refused.
    if (!QFile::rename(partFilePath(), _fileName) && !QFile::copy(partFilePath(), _fileName))
        return false;
    QFile::remove(partFilePath());
    return true;
#endif
}

void HttpFileLoader::retry()
{
    if (_attempt >= kMaxAttempts || !_retryTimer) {
        fail();
        return;
    }
    _retryTimer->start(httpFileLoaderTimings().retryDelayMs);
}

void HttpFileLoader::fail()
{
    endDownload();
    emit finished(QString());
    emit finished();
}

void HttpFileLoader::endDownload()
{
    // Late answers of the finished download must not start it again.
    if (_timeoutTimer)
        _timeoutTimer->stop();
    if (_retryTimer)
        _retryTimer->stop();
    if (_manager)
        _manager->disconnect(this);
    _transfer->reply = nullptr;
    closePart();
}

bool HttpFileLoader::discardPartFile()
{
    _knownTotal = -1;
    QFile part(partFilePath());
    if (part.remove())
        return true;
    qCCritical(hfl).noquote() << part.errorString() << partFilePath();
    return false;
}

void HttpFileLoader::disposeReply(QNetworkReply *reply)
{
    reply->disconnect(this);
    reply->close();
    // The manager may still be using the reply while it emits.
    reply->deleteLater();
}

void HttpFileLoader::downloadTimeout()
{
    if (_timeoutTimer)
        _timeoutTimer->stop();
    qCWarning(hfl).noquote() << tr("DOWNLOAD TIMEOUT");
    dropManager();
    _transfer->reply = nullptr;
    closePart();
    if (_attempt >= kMaxAttempts) {
        endDownload();
        emit finished();
        emit finished(QString());
        return;
    }
    createManager();
    if (_retryTimer)
        _retryTimer->start(httpFileLoaderTimings().timeoutRetryDelayMs);
}

void HttpFileLoader::authenticationRequired(QNetworkReply *reply, QAuthenticator *)
{
    qCWarning(hfl).noquote() << tr("AUTHENTICATION_REQUIRED!") << _url;
    endDownload();
    // The manager is inside its own signal: close the reply once it is done with it.
    if (reply)
        QTimer::singleShot(0, reply, [reply] {
            reply->close();
            reply->deleteLater();
        });
    emit finished();
    emit finished(QString());
}

void HttpFileLoader::proxyAuthenticationRequired(const QNetworkProxy &proxy,
                                                 QAuthenticator *authenticator)
{
    if (!authenticator)
        return;
    authenticator->setUser(proxy.user());
    authenticator->setPassword(proxy.password());
}

#if QT_CONFIG(ssl)
void HttpFileLoader::onSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    if (!reply)
        return;
    if (!_verifyTls) {
        reply->ignoreSslErrors(errors);
        return;
    }
    for (const QSslError &e : errors)
        qCWarning(hfl).noquote() << e.errorString() << _url;
    reply->setProperty(kTlsRejected, true);
}
#endif

} // namespace ravix
