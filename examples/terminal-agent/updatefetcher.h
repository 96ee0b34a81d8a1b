// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/updates/updateshelper.h>

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

// Fetches the update document on a timer, stores it, downloads the packages that are missing
// or damaged, checks them and writes the update plan once every package of an update is there.
class UpdateFetcher : public QObject
{
    Q_OBJECT
public:
    UpdateFetcher(const QString &documentUrl, const QString &storePath, const QString &versionsDir,
                  const QString &appName, int intervalMs, QObject *parent = nullptr);
    ~UpdateFetcher() override;

    // Turns on signed documents: each document must come with "<document URL>.sig", made with
    // the secret key of this public key. False when the key is not one.
    bool setSigningKey(const QByteArray &publicKey);

    void start();
    // Stops the timer and ends the downloads still running, waiting for their threads.
    void stop();

    QString planPath() const;

signals:
    // kind is "update", "package" or "plan"; for the event journal.
    void event(const QString &kind, const QString &text);

private slots:
    void check();
    void documentLoaded(QString fileName);
    void signatureLoaded(QString fileName);
    void packageLoaded(QString fileName);

private:
    void storeDocument(const QByteArray &signature);
    void finishUpdate();
    QPointer<QThread> fetch(const QString &url, const QString &fileName, const char *slot);

    QString _documentUrl;
    QString _storePath;
    QString _documentFile;
    bool _signed = false;
    ravix::UpdatesHelper _helper;
    QTimer _timer;
    bool _busy = false;
    // The update whose packages are being fetched, and the packages still on their way.
    ravix::UpdateInfo _current;
    QMap<QString, ravix::UpdatePackageInfo> _pending;
    QList<QPointer<QThread>> _threads;
};
