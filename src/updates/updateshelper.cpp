#include "updates/updateshelper.h"

#include "appframe/atomicwrite_p.h"
#include "appframe/dircreator.h"
#include "logger/logwrappers.h"
#include "version/appversionmanager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

namespace ravix {

namespace {

QMutex s_storeMutex;

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
                             << logtab << logbinary(data.mid(error.offset), "UTF-8");
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
    DirCreator::checkAndCreate(_config.updatesPath(info.version()), DirCreator::DEFAULT_ALL);
    QString error;
    if (!writeFileAtomically(_config.updatesInfoPath(info.version()),
                         QJsonDocument(info.toObject()).toJson(), &error)) {
        qWarning().noquote() << error;
        return false;
    }
    return true;
}

bool UpdatesHelper::loadUpdateInfo(UpdateInfo &info, const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << file.errorString();
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
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
    QCryptographicHash hash(QCryptographicHash::Sha1);
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(16384);
        if (chunk.isEmpty())
            break;
        hash.addData(chunk);
    }
    return hash.result();
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
    const QFileInfo file(pkg.fileName());
    if (!file.exists())
        return true;
    if (file.size() != pkg.fileSize())
        return true;
    if (calcSha1(pkg.fileName()) != pkg.sha1())
        return true;
    return !pkg.sha256().isEmpty() && calcSha256(pkg.fileName()) != pkg.sha256();
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
    QFile file(planPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
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
