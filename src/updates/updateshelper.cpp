// SPDX-License-Identifier: MIT
#include "updates/updateshelper.h"

#include "appframe/atomicwrite_p.h"
#include "appframe/dircreator.h"
#include "appframe/trustedfile_p.h"
#include "logger/logwrappers.h"
#include "updates/updatesignature_p.h"
#include "version/appversionmanager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravix {

namespace {

QMutex s_storeMutex;

// Bytes of a bad document shown in the log: enough to recognise it, never megabytes.
constexpr int BAD_INPUT_EXCERPT = 1024;

// Whether something, even a dangling link, lies at the path.
bool somethingAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QByteArray sha1Of(QIODevice &device)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    while (!device.atEnd()) {
        const QByteArray chunk = device.read(16384);
        if (chunk.isEmpty())
            break;
        hash.addData(chunk);
    }
    return hash.result();
}

#ifndef Q_OS_WIN
QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The folder of an update lies in a store that other accounts share. A link there is
// someone's plant and is replaced, not followed; a folder another account made is not ours
// to fill. A folder open to everyone keeps what we put there only with the sticky bit.
bool prepareUpdateFolder(const QString &path, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        qWarning().noquote() << path << logtab
                             << UpdatesHelper::tr("a symbolic link; replaced by a folder");
        if (::unlink(name.constData()) != 0 && errno != ENOENT) {
            *why = systemError();
            return false;
        }
    }
    DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL);
    const int fd = openOwnDirectory(path, why);
    if (fd < 0)
        return false;
    const bool ok = ::fstat(fd, &st) == 0 && (!(st.st_mode & S_IWOTH) || (st.st_mode & S_ISVTX) ||
                                              ::fchmod(fd, (st.st_mode & 07777) | S_ISVTX) == 0);
    if (!ok)
        *why = systemError();
    ::close(fd);
    return ok;
}
#else
bool prepareUpdateFolder(const QString &path, QString *why)
{
    Q_UNUSED(why)
    DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL);
    return true;
}
#endif

} // namespace

const QString UpdatesHelper::OS_VERSION = QStringLiteral("Q_OS_WIN32");

UpdatesHelper::UpdatesHelper(const UpdatePkgConfig &config, const QString &versionsDir,
                             const QString &appName, QObject *parent)
    : QObject(parent), _config(config), _versionsDir(versionsDir), _appName(appName)
{
}

bool UpdatesHelper::parseUpdateInfo(const QByteArray &data, const QByteArray &signature)
{
    if (!documentTrusted(data, signature))
        return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << QStringLiteral("%1: [%2] %3")
                                    .arg(tr("Invalid data format"),
                                         QString::number(int(error.error)), error.errorString())
                             << tr("(%1 bytes in all)").arg(data.size()) << logtab
                             << logbinary(data.mid(error.offset, BAD_INPUT_EXCERPT), "UTF-8");
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonArray updates = root.value(OS_VERSION).toArray();
    if (!root.contains(OS_VERSION) || updates.isEmpty()) {
        qWarning().noquote() << tr("There are not updates for your operating system");
        return false;
    }
    _infos.clear();
    for (const QJsonValue &element : updates)
        prepareObject(element.toObject());
    if (_infos.isEmpty()) {
        qWarning().noquote() << tr("There are not valid updates for your operating system");
        return false;
    }
    return true;
}

bool UpdatesHelper::prepareObject(const QJsonObject &obj)
{
    const UpdateInfo info(obj, _config);
    if (!info.isValid())
        return false;
    if (refusesDowngrade(info, true))
        return false;
    _infos.append(info);
    return true;
}

bool UpdatesHelper::saveUpdateInfo(const QByteArray &data, const QByteArray &signature)
{
    if (!parseUpdateInfo(data, signature))
        return false;
    for (const UpdateInfo &info : qAsConst(_infos)) {
        if (!saveUpdateInfo(info))
            return false;
    }
    return true;
}

bool UpdatesHelper::saveUpdateInfo(const UpdateInfo &info)
{
    QMutexLocker lock(&s_storeMutex);
    if (!info.isValid())
        return false;
    const QString folder = _config.updatesPath(info.version());
    QString error;
    if (!prepareUpdateFolder(folder, &error)) {
        qWarning().noquote() << folder << logtab << error;
        return false;
    }
    if (!writeFileAtomically(_config.updatesInfoPath(info.version()),
                         QJsonDocument(info.toObject()).toJson(), &error)) {
        qWarning().noquote() << error;
        return false;
    }
    return true;
}

bool UpdatesHelper::loadUpdateInfo(UpdateInfo &info, const QString &path) const
{
    QByteArray data;
    QString why;
    if (!readTrustedFile(path, &data, &why)) {
        qWarning().noquote() << path << logtab << why;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << error.errorString();
        return false;
    }
    info = UpdateInfo(doc.object(), _config);
    return info.isValid();
}

bool UpdatesHelper::loadUpdateInfo(const QString &version, UpdateInfo &info) const
{
    QMutexLocker lock(&s_storeMutex);
    return loadUpdateInfo(info, _config.updatesInfoPath(version));
}

QByteArray UpdatesHelper::calcSha1(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return sha1Of(file);
}

bool UpdatesHelper::needUpdate(const UpdatePackageInfo &pkg) const
{
    const QMap<QString, AppVersion> installed =
        AppVersionManager::loadVersions(_versionsDir, _appName).versions();
    if (installed.isEmpty())
        return false;
    const auto it = installed.constFind(_appName);
    if (it == installed.constEnd() || !it->isValid())
        return false;
    const AppVersion &current = *it;
    const AppVersion offered(pkg.version(), pkg.build());
    if (offered < current && !downgradesAllowed())
        return false;
    if (current == offered)
        return false;
    if (current.versionEquilTo(offered) && !(current.build() < offered.build()))
        return false;
    // The installer runs what lies there later: only a file nobody else can change counts.
    QFile file;
    QString why;
    if (!openTrustedFile(file, pkg.fileName(), &why)) {
        if (somethingAt(pkg.fileName()))
            qWarning().noquote() << pkg.fileName() << logtab << why;
        return true;
    }
    if (file.size() != pkg.fileSize())
        return true;
    if (sha1Of(file) != pkg.sha1())
        return true;
    return !pkg.sha256().isEmpty() &&
           (!file.seek(0) || updatetrust::sha256Of(file) != pkg.sha256());
}

bool UpdatesHelper::getDownloadedsList(const UpdateInfo &info, QList<UpdatePackageInfo> &list,
                                       int maxCount) const
{
    list.clear();
    for (const UpdatePackageInfo &pkg : info.packages()) {
        if (needUpdate(pkg))
            list.append(pkg);
        if (maxCount > 0 && list.size() >= maxCount)
            break;
    }
    return true;
}

bool UpdatesHelper::getDownloadedsList(const QString &version, QList<QPair<QString, int>> &list,
                                       int maxCount) const
{
    UpdateInfo info;
    if (!loadUpdateInfo(version, info))
        return false;
    list.clear();
    for (const UpdatePackageInfo &pkg : info.packages()) {
        if (needUpdate(pkg)) {
            const QFileInfo part(pkg.fileName() + QStringLiteral(".part"));
            list.append(qMakePair(pkg.fileUrl(), part.exists() ? int(part.size()) : 0));
        }
        if (maxCount > 0 && list.size() >= maxCount)
            break;
    }
    return true;
}

bool UpdatesHelper::updatesAreLoaded(const QString &version)
{
    UpdateInfo info;
    if (!loadUpdateInfo(version, info))
        return false;
    if (refusesDowngrade(info, false))
        return false;
    for (const UpdatePackageInfo &pkg : info.packages()) {
        if (needUpdate(pkg))
            return false;
    }
    return true;
}

QString UpdatesHelper::planPath() const
{
    return _config.updatesPath() + QStringLiteral("/plan");
}

bool UpdatesHelper::saveUpdatePlan(const QString &version, const QString &externalCommand)
{
    DirCreator::checkAndCreate(_config.updatesPath(), DirCreator::DEFAULT_ALL);
    QJsonObject obj;
    obj.insert(QStringLiteral("version"), version);
    obj.insert(QStringLiteral("externalCommand"), externalCommand);
    QString error;
    return writeFileAtomically(planPath(), QJsonDocument(obj).toJson(QJsonDocument::Indented), &error);
}

bool UpdatesHelper::loadUpdatePlan(QString &version, QString &externalCommand)
{
    // Other accounts share the store: a plan that is not ours could name any command.
    QByteArray data;
    QString why;
    if (!readTrustedFile(planPath(), &data, &why)) {
        if (somethingAt(planPath()))
            qWarning().noquote() << planPath() << logtab << why;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    const QJsonObject obj = doc.object();
    if (!obj.contains(QLatin1String("version")))
        return false;
    version = obj.value(QLatin1String("version")).toString();
    externalCommand = obj.value(QLatin1String("externalCommand")).toString();
    return true;
}

bool UpdatesHelper::removeUpdatePlan()
{
    return QFile::remove(planPath());
}

} // namespace ravix
