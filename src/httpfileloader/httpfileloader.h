// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/workers/abstractworker.h>

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QtNetwork/qtnetworkglobal.h>

#include <memory>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkProxy;
class QNetworkReply;
#if QT_CONFIG(ssl)
class QSslError;
#endif
class QTimer;

namespace ravix {

/// Downloads one file over HTTP or HTTPS in blocks, with range requests, into a partial file
/// beside the target ("<target>.part"), so an interrupted download resumes where it stopped,
/// also after a restart of the process.
///
/// Use the static download() functions: each creates a loader and a thread of its own, starts
/// it and returns a guarded pointer to the thread. The result arrives as finished(QString) with
/// the target path, or with an empty name when nothing was downloaded; progress(QString,int)
/// reports percentages. Thread and loader delete themselves when done. The thread that calls
/// download() needs a running event loop: the hosting thread is ended through it.
///
/// A failed block is requested again after 10 s, up to five attempts; a reply that does not
/// arrive within 180 s counts as failed and is requested again after 2 s on a new connection.
/// HTTP 404, an authentication request and a failed copy to the target end the download at
/// once. A partial file that no longer fits the remote file (416, or larger than it) is
/// discarded and the download starts again from the beginning.
///
/// Answers are written to the partial file as they arrive, never held whole. A block longer
/// than asked for is cut off there, and a total size larger than the free space or different
/// from the one earlier blocks gave is refused; both count as failed attempts. The partial file
/// and the result are plain files of the calling account, readable by all and writable only by
/// it (0644); anything else found at the partial file's name (a link, a pipe, another account's
/// file) is removed, never followed, and the download starts afresh.
///
/// TLS: by default certificate errors are ignored, so servers with self-signed certificates
/// work. setTlsVerification(true) makes loaders created afterwards verify the server's
/// certificate against the CA certificates of QSslConfiguration::defaultConfiguration(); a
/// certificate that does not verify then ends the download at once as failed. With a Qt built
/// without TLS support (QT_CONFIG(ssl) off) only http works: an https download fails like any
/// unreachable server, and the TLS setting is kept but has nothing to act on.
///
/// Log lines go to the logging category "hfl".
class RAVIXCORE_EXPORT HttpFileLoader : public AbstractWorker
{
    Q_OBJECT
public:
    HttpFileLoader(const QString &url, const QString &fileName, int blockSize, QObject *receiver,
                   const char *finishedSlot, const char *progressSlot);
    ~HttpFileLoader() override;

    /// Starts downloading url to fileName in blocks of blockSize bytes (greater than 0).
    /// finishedSlot and progressSlot (SLOT() form, may be null) of receiver get finished(QString)
    /// and progress(QString,int). Returns null for an empty url or fileName or a block size
    /// that is not positive.
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      QObject *receiver, const char *finishedSlot,
                                      const char *progressSlot, qint32 blockSize);
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      QObject *receiver, const char *finishedSlot,
                                      qint32 blockSize);
    static QPointer<QThread> download(const QString &url, const QString &fileName,
                                      qint32 blockSize);

    /// Whether loaders created from now on verify TLS certificates (off by default). Without TLS
    /// support in Qt the value is only stored.
    static void setTlsVerification(bool verify);
    static bool tlsVerification();

    /// The partial file: the target path followed by ".part".
    QString partFilePath() const;
    /// Where the next block starts: the partial file's size; 0 without one, or when what has
    /// that name is not a plain file of this account (it will be replaced).
    qint64 calcOffset() const;

protected:
    bool doStart() override;
    bool doStop() override;

Q_SIGNALS:
    void finished();
    /// The target path on success, an empty name when nothing was downloaded.
    void finished(QString fileName);
    /// value is the downloaded share in percent; file is the target's name without folder.
    void progress(QString file, int value);

private Q_SLOTS:
    void download();
#if QT_CONFIG(ssl)
    void onSslErrors(QNetworkReply *reply, const QList<QSslError> &errors);
#endif
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);
    void finished(QNetworkReply *reply);
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void downloadTimeout();

private:
    void createManager();
    void dropManager();
    void retry();
    void fail();
    void endDownload();
    bool discardPartFile();
    void disposeReply(QNetworkReply *reply);
    void judgeHeaders(QNetworkReply *reply);
    void receive(QNetworkReply *reply);
    void refuse(QNetworkReply *reply, const QString &why);
    void completeBlock(QNetworkReply *reply);
    bool moveIntoPlace();
    bool openPartFile(QString *error);
    bool writePending();
    void closePart();

    struct Transfer;

    QPointer<QNetworkAccessManager> _manager;
    QString _url;
    QString _fileName;
    qint32 _blockSize;
    qint32 _attempt;
    QPointer<QTimer> _timeoutTimer;
    QPointer<QTimer> _retryTimer;
    // Guarded so a receiver destroyed before the download ends is never touched.
    QPointer<QObject> _receiver;
    QByteArray _finishedSlot;
    QByteArray _progressSlot;
    bool _verifyTls;
    // The total size the first complete block gave; later blocks must agree. -1 when unknown.
    qint64 _knownTotal = -1;
    // The block in flight and the partial file it writes to.
    std::unique_ptr<Transfer> _transfer;
};

} // namespace ravix
