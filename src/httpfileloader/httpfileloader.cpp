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
#include <QSslError>
#include <QTimer>
#include <QUrl>

Q_LOGGING_CATEGORY(hfl, "hfl")

namespace ravix {

namespace {

QAtomicInt s_replyTimeoutMs(HttpFileLoaderTimings().replyTimeoutMs);
QAtomicInt s_retryDelayMs(HttpFileLoaderTimings().retryDelayMs);
QAtomicInt s_timeoutRetryDelayMs(HttpFileLoaderTimings().timeoutRetryDelayMs);
QAtomicInt s_verifyTls(0);

// Continuation of a log record on a new line, aligned under the message, inside a text.
const char kLogTab[] = "\n               ";

// A reply whose certificate was rejected while verification is on.
const char kTlsRejected[] = "ravix_hfl_tlsRejected";

const int kMaxAttempts = 5;
const int kReadsPerBlock = 10;

QString rawHeaders(const QNetworkReply *reply)
{
    QString text;
    for (const QNetworkReply::RawHeaderPair &pair : reply->rawHeaderPairs())
        text += QLatin1String(kLogTab) + QString::fromLatin1(pair.first + ": " + pair.second);
    return text;
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

bool parseContentRange(const QByteArray &value, qint64 *start, qint64 *total)
{
    QRegExp rx(QStringLiteral("(\\s*\\w*\\s*)(\\d+)(\\s*\\-\\s*)(\\d+)(\\s*\\/\\s*)(\\d+)(\\s*)"),
               Qt::CaseSensitive);
    if (!rx.exactMatch(QString::fromLatin1(value)))
        return false;
    bool startOk = false, totalOk = false;
    *start = rx.cap(2).toLongLong(&startOk);
    *total = rx.cap(6).toLongLong(&totalOk);
    return startOk && totalOk;
}

HttpFileLoader::HttpFileLoader(const QString &url, const QString &fileName, int blockSize,
                               QObject *receiver, const char *finishedSlot,
                               const char *progressSlot)
    : _url(url), _fileName(fileName), _blockSize(blockSize), _attempt(0), _receiver(receiver),
      _verifyTls(tlsVerification())
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

qint32 HttpFileLoader::calcOffset() const
{
    const QFileInfo part(partFilePath());
    return part.exists() ? qint32(part.size()) : 0;
}

bool HttpFileLoader::doStart()
{
    _attempt = 0;
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
    const qint32 offset = calcOffset();
    qCDebug(hfl).noquote() << tr("Attempt #%1. Offcet = %2. BlockSize = %3. URL = %4")
                                  .arg(_attempt)
                                  .arg(offset)
                                  .arg(_blockSize)
                                  .arg(_url);
    request.setRawHeader(
        "Range",
        QStringLiteral("bytes=%1-%2").arg(offset).arg(qint64(offset) + _blockSize).toLatin1());
    request.setRawHeader("Referer", url.host(QUrl::FullyDecoded).toUtf8());
    // Byte offsets must count the file's own bytes, not those of a compressed transfer.
    request.setRawHeader("Accept-Encoding", "identity");
    _manager->get(request);
    _timeoutTimer->start(httpFileLoaderTimings().replyTimeoutMs);
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
    if (reply->property(kTlsRejected).toBool()) {
        qCWarning(hfl).noquote() << reply->errorString() << _url;
        disposeReply(reply);
        fail();
        return;
    }
    if (reply->error() == QNetworkReply::ContentNotFoundError) {
        qCWarning(hfl).noquote() << reply->errorString() << _url;
        disposeReply(reply);
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
        retry();
        return;
    }

    bool ok = false;
    const qint64 contentLength = reply->rawHeader("Content-Length").toLongLong(&ok);
    qint64 start = 0;
    qint64 total = contentLength;
    const bool ranged = reply->hasRawHeader("Content-Range");
    // A partial answer must say which part it is.
    bool headersOk = ok && contentLength > 0 && (ranged || status != 206);
    if (headersOk && ranged)
        headersOk = parseContentRange(reply->rawHeader("Content-Range"), &start, &total);
    // A block must continue the partial file: one starting beyond its end would leave a hole
    // of zeros that the size check takes for data.
    if (headersOk && ranged && start > QFileInfo(partFilePath()).size())
        headersOk = false;
    if (!headersOk) {
        qCWarning(hfl).noquote() << tr("Http headers parsing error") << rawHeaders(reply);
        disposeReply(reply);
        retry();
        return;
    }
    // Without a range the server sends the whole file, however large: write it all from 0.
    const bool wholeFile = !ranged;
    if (ranged && QFileInfo(partFilePath()).size() > total) {
        qCWarning(hfl).noquote() << partFilePath() << total;
        disposeReply(reply);
        discardPartFile();
        retry();
        return;
    }

    QFile part(partFilePath());
    if (!part.open(QIODevice::ReadWrite)) {
        qCCritical(hfl).noquote() << part.errorString() << partFilePath();
        disposeReply(reply);
        retry();
        return;
    }
    if (wholeFile)
        part.resize(0);
    qint64 written = 0;
    bool writeOk = true;
    for (int reads = 0; written < contentLength && (wholeFile || reads < kReadsPerBlock); ++reads) {
        const QByteArray data = reply->read(_blockSize);
        if (data.isEmpty())
            break;
        if (!part.seek(start + written) || part.write(data) != data.size() || !part.flush()) {
            writeOk = false;
            break;
        }
        written += data.size();
    }
    disposeReply(reply);
    if (!writeOk)
        qCCritical(hfl).noquote() << part.errorString() << partFilePath();
    part.close();
    DirCreator::changeFilePermissions(partFilePath(), DirCreator::FILE_DEFAULT_ALL);

    const qint64 size = QFileInfo(partFilePath()).size();
    if (size == total) {
        _attempt = 0;
        if (QFile::exists(_fileName))
            QFile::remove(_fileName);
        // Renaming gives the same file as copying and removing, without writing the whole
        // download a second time; a copy remains the way when the rename is refused.
        if (!QFile::rename(partFilePath(), _fileName) && !QFile::copy(partFilePath(), _fileName)) {
            qCWarning(hfl).noquote() << tr("%1 copying error").arg(_fileName);
            endDownload();
            emit finished(QString());
            return;
        }
        QFile::remove(partFilePath());
        endDownload();
        emit progress(QFileInfo(_fileName).fileName(), 100);
        emit finished(_fileName);
        return;
    }
    if (size > total) {
        // Only a server that contradicts itself gets here.
        qCWarning(hfl).noquote() << partFilePath() << size << total;
        discardPartFile();
        retry();
        return;
    }
    if (total > 0)
        emit progress(QFileInfo(_fileName).fileName(), int(size * 100 / total));
    if (written > 0 && writeOk) {
        _attempt = 0;
        download();
    } else {
        // A block that brought nothing counts as failed, or the loop would never end.
        retry();
    }
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
}

bool HttpFileLoader::discardPartFile()
{
    QFile part(partFilePath());
    if (part.remove())
        return true;
    qCCritical(hfl).noquote() << part.errorString() << partFilePath();
    return false;
}

void HttpFileLoader::disposeReply(QNetworkReply *reply)
{
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

void HttpFileLoader::onSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
#if !QT_CONFIG(ssl)
    // A Qt without TLS has no certificates to check.
    Q_UNUSED(reply)
    Q_UNUSED(errors)
#else
    if (!reply)
        return;
    if (!_verifyTls) {
        reply->ignoreSslErrors(errors);
        return;
    }
    for (const QSslError &e : errors)
        qCWarning(hfl).noquote() << e.errorString() << _url;
    reply->setProperty(kTlsRejected, true);
#endif
}

} // namespace ravix
