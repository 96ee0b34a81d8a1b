// SPDX-License-Identifier: MIT
#include "updates/updateinfo.h"

#include <QJsonArray>
#include <QUrl>

namespace ravix {

namespace {

constexpr int kSha256Size = 32;

bool hasSeparator(const QString &name)
{
    return name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'));
}

// A name used as one path component of the store: nothing that climbs out of it.
bool isSafeFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !hasSeparator(name);
}

// A version names a folder of the store; no version text has a reason to hold "..".
bool isSafeVersion(const QString &version)
{
    return isSafeFileName(version) && !version.contains(QLatin1String(".."));
}

QString fileNameOfUrl(const QString &url)
{
    return QUrl(url, QUrl::TolerantMode).fileName(QUrl::FullyDecoded);
}

} // namespace

UpdatePkgConfig::UpdatePkgConfig(const QString &updatesPath) : _updatesPath(updatesPath) {}

QString UpdatePkgConfig::updatesPath(QString subDir) const
{
    return QStringLiteral("%1/%2").arg(_updatesPath, subDir);
}

QString UpdatePkgConfig::updatesInfoPath(QString subDir) const
{
    return QStringLiteral("%1/info.json").arg(updatesPath(subDir));
}

bool UpdatePkgConfig::operator==(const UpdatePkgConfig &other) const
{
    return _updatesPath == other._updatesPath;
}

UpdatePackageInfo::UpdatePackageInfo(const UpdatePkgConfig &config) : _config(config) {}

UpdatePackageInfo::UpdatePackageInfo(const QJsonObject &obj, const QString &updateVersion,
                                     const UpdatePkgConfig &config)
    : _config(config)
{
    prepareInfo(obj, updateVersion);
}

void UpdatePackageInfo::prepareInfo(const QJsonObject &obj, const QString &updateVersion)
{
    _updateVersion = updateVersion;
    _version = obj.contains(QLatin1String("version"))
                   ? obj.value(QLatin1String("version")).toString()
                   : updateVersion;
    _build = obj.value(QLatin1String("build")).toString();
    _fileUrl = obj.value(QLatin1String("fileUrl")).toString();
    _sha1 = QByteArray::fromHex(obj.value(QLatin1String("sha1")).toString().toLatin1());
    const QJsonValue size = obj.value(QLatin1String("fileSize"));
    _fileSize = size.isDouble() ? size.toInt(0) : 0;
    _name = obj.value(QLatin1String("name")).toString();
    _sha256 = QByteArray::fromHex(obj.value(QLatin1String("sha256")).toString().toLatin1());
}

AppVersion UpdatePackageInfo::appVersion() const
{
    return AppVersion(_version, _build);
}

QString UpdatePackageInfo::fileName() const
{
    return QStringLiteral("%1/%2/%3")
        .arg(_config.updatesPath(), _updateVersion, fileNameOfUrl(_fileUrl));
}

bool UpdatePackageInfo::isValid() const
{
    return appVersion().isValid() && !_fileUrl.isEmpty() && !_sha1.isEmpty() && _fileSize > 0 &&
           isSafeVersion(_updateVersion) && isSafeFileName(fileNameOfUrl(_fileUrl)) &&
           (_sha256.isEmpty() || _sha256.size() == kSha256Size);
}

QJsonObject UpdatePackageInfo::toObject() const
{
    return QJsonObject::fromVariantMap(toMap());
}

QVariantMap UpdatePackageInfo::toMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("build"), _build);
    map.insert(QStringLiteral("fileUrl"), _fileUrl);
    map.insert(QStringLiteral("sha1"),
               _sha1.isNull() ? QString() : QString::fromLatin1(_sha1.toHex()));
    map.insert(QStringLiteral("fileSize"), _fileSize);
    map.insert(QStringLiteral("name"), _name);
    if (!_sha256.isEmpty())
        map.insert(QStringLiteral("sha256"), QString::fromLatin1(_sha256.toHex()));
    return map;
}

bool UpdatePackageInfo::operator==(const UpdatePackageInfo &other) const
{
    return _version == other._version && _updateVersion == other._updateVersion &&
           _build == other._build && _fileUrl == other._fileUrl && _sha1 == other._sha1 &&
           _fileSize == other._fileSize && _name == other._name && _config == other._config &&
           _sha256 == other._sha256;
}

UpdateInfo::UpdateInfo(const UpdatePkgConfig &config) : _config(config) {}

UpdateInfo::UpdateInfo(const QJsonObject &obj, const UpdatePkgConfig &config) : _config(config)
{
    prepareInfo(obj);
}

void UpdateInfo::prepareInfo(const QJsonObject &obj)
{
    _version = obj.value(QLatin1String("version")).toString().toLower();
    _description = obj.value(QLatin1String("description")).toString();
    _changeLogUrl = obj.value(QLatin1String("changelog")).toString();
    _packages.clear();
    const QJsonArray packages = obj.value(QLatin1String("packages")).toArray();
    for (const QJsonValue &element : packages)
        _packages.append(UpdatePackageInfo(element.toObject(), _version, _config));
}

bool UpdateInfo::isValid() const
{
    if (_version.isEmpty() || _packages.isEmpty() || !isSafeVersion(_version))
        return false;
    for (const UpdatePackageInfo &pkg : _packages) {
        if (!pkg.isValid())
            return false;
    }
    return true;
}

QJsonObject UpdateInfo::toObject() const
{
    return QJsonObject::fromVariantMap(toMap());
}

QVariantMap UpdateInfo::toMap() const
{
    QVariantList packages;
    for (const UpdatePackageInfo &pkg : _packages)
        packages.append(pkg.toMap());
    QVariantMap map;
    map.insert(QStringLiteral("version"), _version);
    map.insert(QStringLiteral("description"), _description);
    map.insert(QStringLiteral("changeLogUrl"), _changeLogUrl);
    map.insert(QStringLiteral("packages"), packages);
    return map;
}

bool UpdateInfo::operator==(const UpdateInfo &other) const
{
    return _version == other._version && _description == other._description &&
           _changeLogUrl == other._changeLogUrl && _packages == other._packages &&
           _config == other._config;
}

} // namespace ravix
