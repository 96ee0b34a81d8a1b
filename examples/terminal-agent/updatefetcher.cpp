// SPDX-License-Identifier: MIT
#include "updatefetcher.h"

#include <ravixcore/httpfileloader/httpfileloader.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Documents are fetched anew every time: a finished copy would be taken as complete.
void removeDownload(const QString &fileName)
{
    QFile::remove(fileName);
    QFile::remove(fileName + QStringLiteral(".part"));
}

constexpr qint32 kBlockSize = 64 * 1024;
constexpr unsigned long kThreadWaitMs = 30000;

} // namespace

UpdateFetcher::UpdateFetcher(const QString &documentUrl, const QString &storePath,
                             const QString &versionsDir, const QString &appName, int intervalMs,
                             QObject *parent)
    : QObject(parent), _documentUrl(documentUrl), _storePath(storePath),
      _helper(ravix::UpdatePkgConfig(storePath), versionsDir, appName)
{
    _timer.setInterval(intervalMs);
    connect(&_timer, &QTimer::timeout, this, &UpdateFetcher::check);
}

bool UpdateFetcher::setSigningKey(const QByteArray &publicKey)
{
    _signed = true;
    return _helper.setSigningKey(publicKey);
}

UpdateFetcher::~UpdateFetcher()
{
    stop();
}

void UpdateFetcher::start()
{
    _timer.start();
    QTimer::singleShot(0, this, &UpdateFetcher::check);
}

void UpdateFetcher::stop()
{
    _timer.stop();
    for (const QPointer<QThread> &thread : qAsConst(_threads)) {
        if (!thread)
            continue;
        thread->quit();
        thread->wait(kThreadWaitMs);
    }
    _threads.clear();
    _pending.clear();
    _busy = false;
}

QString UpdateFetcher::planPath() const
{
    return _storePath + QStringLiteral("/plan");
}

QPointer<QThread> UpdateFetcher::fetch(const QString &url, const QString &fileName,
                                       const char *slot)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QPointer<QThread> thread =
        ravix::HttpFileLoader::download(url, fileName, this, slot, kBlockSize);
    if (thread)
        _threads.append(thread);
    // Threads that ended have deleted themselves; their guards are null by now.
    _threads.removeAll(QPointer<QThread>());
    return thread;
}

void UpdateFetcher::check()
{
    if (_busy || _documentUrl.isEmpty())
        return;
    const QString target = _storePath + QStringLiteral("/incoming/update.json");
    removeDownload(target);
    removeDownload(target + QStringLiteral(".sig"));
    _busy = true;
    if (!fetch(_documentUrl, target, SLOT(documentLoaded(QString)))) {
        qWarning().noquote() << "Cannot start fetching the update document" << _documentUrl;
        _busy = false;
    }
}

void UpdateFetcher::documentLoaded(QString fileName)
{
    if (fileName.isEmpty()) {
        qWarning().noquote() << "The update document could not be fetched from" << _documentUrl;
        _busy = false;
        return;
    }
    _documentFile = fileName;
    if (!_signed) {
        storeDocument(QByteArray());
        return;
    }
    // The signature lies beside the document on the server.
    if (!fetch(_documentUrl + QStringLiteral(".sig"), fileName + QStringLiteral(".sig"),
               SLOT(signatureLoaded(QString)))) {
        qWarning().noquote() << "Cannot start fetching the signature of" << _documentUrl;
        _busy = false;
    }
}

void UpdateFetcher::signatureLoaded(QString fileName)
{
    // A missing signature is passed on as none: the helper refuses the document and says why.
    storeDocument(fileName.isEmpty() ? QByteArray() : readFile(fileName));
}

void UpdateFetcher::storeDocument(const QByteArray &signature)
{
    if (!_helper.saveUpdateInfo(readFile(_documentFile), signature)) {
        qWarning().noquote() << "No update stored from" << _documentUrl;
        _busy = false;
        return;
    }
    // The newest update of the document is the one to prepare.
    ravix::UpdateInfo newest;
    for (const ravix::UpdateInfo &info : _helper.infos()) {
        if (!newest.isValid() ||
            newest.packages().first().appVersion() < info.packages().first().appVersion())
            newest = info;
    }
    _current = newest;
    QList<ravix::UpdatePackageInfo> missing;
    _helper.getDownloadedsList(_current, missing, 0);
    qInfo().noquote() << "Update" << _current.version() << "stored;" << missing.size()
                      << "package(s) to download";
    emit event(QStringLiteral("update"),
               QStringLiteral("update %1 offered, %2 package(s) to download")
                   .arg(_current.version())
                   .arg(missing.size()));
    _pending.clear();
    for (const ravix::UpdatePackageInfo &pkg : qAsConst(missing)) {
        _pending.insert(pkg.fileName(), pkg);
        if (!fetch(pkg.fileUrl(), pkg.fileName(), SLOT(packageLoaded(QString)))) {
            qWarning().noquote() << "Cannot start downloading" << pkg.fileUrl();
            _pending.remove(pkg.fileName());
        }
    }
    if (_pending.isEmpty())
        finishUpdate();
}

void UpdateFetcher::packageLoaded(QString fileName)
{
    if (fileName.isEmpty()) {
        // Which download failed is not told; the next check asks for whatever is still missing.
        qWarning() << "A package download failed; it is tried again at the next check";
        _pending.clear();
        _busy = false;
        return;
    }
    const auto it = _pending.constFind(fileName);
    if (it == _pending.cend())
        return;
    const ravix::UpdatePackageInfo pkg = it.value();
    _pending.erase(_pending.find(fileName));
    const QByteArray digest = _helper.calcSha1(fileName);
    const bool intact = digest == pkg.sha1() && QFileInfo(fileName).size() == pkg.fileSize() &&
                        (pkg.sha256().isEmpty() || _helper.calcSha256(fileName) == pkg.sha256());
    const QString text = QStringLiteral("package %1 %2: %3 bytes, sha1 %4")
                             .arg(QFileInfo(fileName).fileName(),
                                  intact ? QStringLiteral("verified") : QStringLiteral("damaged"))
                             .arg(QFileInfo(fileName).size())
                             .arg(QString::fromLatin1(digest.toHex()));
    if (intact)
        qInfo().noquote() << "Package" << fileName << "verified: sha1" << digest.toHex();
    else
        qWarning().noquote() << "Package" << fileName << "is damaged: sha1" << digest.toHex()
                             << "instead of" << pkg.sha1().toHex();
    emit event(QStringLiteral("package"), text);
    if (_pending.isEmpty())
        finishUpdate();
}

void UpdateFetcher::finishUpdate()
{
    _busy = false;
    const QString version = _current.version();
    if (version.isEmpty() || !_helper.updatesAreLoaded(version))
        return;
    QString plannedVersion;
    QString plannedCommand;
    if (_helper.loadUpdatePlan(plannedVersion, plannedCommand) && plannedVersion == version)
        return;
    // The installer that carries out the plan is a separate program; the agent only prepares it.
    const QString command =
        QStringLiteral("terminal-agent-installer --package-dir %1")
            .arg(QDir::toNativeSeparators(ravix::UpdatePkgConfig(_storePath).updatesPath(version)));
    if (_helper.saveUpdatePlan(version, command)) {
        qInfo().noquote() << "Update plan written:" << planPath() << "version" << version;
        emit event(QStringLiteral("plan"),
                   QStringLiteral("plan for update %1 written").arg(version));
    } else {
        qWarning().noquote() << "Cannot write the update plan" << planPath();
    }
}
