// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/version/appversion.h>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace ravix {

/// Where updates are kept locally: one folder per update version below the store root.
class RAVIXCORE_EXPORT UpdatePkgConfig
{
public:
    UpdatePkgConfig() = default;
    explicit UpdatePkgConfig(const QString &updatesPath);

    QString updatesPath() const { return _updatesPath; }
    /// "<store>/<subDir>".
    QString updatesPath(QString subDir) const;
    /// "<store>/<subDir>/info.json".
    QString updatesInfoPath(QString subDir) const;

    bool operator==(const UpdatePkgConfig &other) const;
    bool operator!=(const UpdatePkgConfig &other) const { return !(*this == other); }

private:
    QString _updatesPath;
};

/// One downloadable file of an update, with its size and SHA-1 digest.
class RAVIXCORE_EXPORT UpdatePackageInfo
{
public:
    UpdatePackageInfo() = default;
    explicit UpdatePackageInfo(const UpdatePkgConfig &config);
    UpdatePackageInfo(const QJsonObject &obj, const QString &updateVersion,
                      const UpdatePkgConfig &config);

    /// Reads the package keys of the server document; a missing "version" takes the update's.
    void prepareInfo(const QJsonObject &obj, const QString &updateVersion);

    QString version() const { return _version; }
    QString updateVersion() const { return _updateVersion; }
    QString build() const { return _build; }
    QString fileUrl() const { return _fileUrl; }
    /// The raw 20-byte SHA-1 digest (read from hexadecimal text).
    QByteArray sha1() const { return _sha1; }
    /// The raw 32-byte SHA-256 digest from the optional key "sha256" (hexadecimal text, like
    /// "sha1"); empty when the document gives none. Checked beside the SHA-1 when present.
    QByteArray sha256() const { return _sha256; }
    /// Bytes; 0 when the document gave none.
    int fileSize() const { return _fileSize; }
    QString name() const { return _name; }
    UpdatePkgConfig config() const { return _config; }

    /// The package's version and build as a version value.
    AppVersion appVersion() const;
    /// The local path: "<store>/<update version>/<file name of the URL>".
    QString fileName() const;
    /// A valid version and build, a URL, a digest and a positive size; the local path must
    /// also stay inside the store (a plain file name and a version without separators). A
    /// SHA-256 digest, when given, must have 32 bytes.
    bool isValid() const;

    /// The stored form: build, fileUrl, sha1 (lower-case hex), fileSize and name, and sha256
    /// (lower-case hex) when the package has one; the package's own version is not written
    /// (it is the update's when read back).
    QJsonObject toObject() const;
    QVariantMap toMap() const;

    bool operator==(const UpdatePackageInfo &other) const;
    bool operator!=(const UpdatePackageInfo &other) const { return !(*this == other); }

private:
    QString _version;
    QString _updateVersion;
    QString _build;
    QString _fileUrl;
    QByteArray _sha1;
    qint32 _fileSize = 0;
    QString _name;
    UpdatePkgConfig _config;
    QByteArray _sha256;
};

/// One update: a version, its description and the packages to download.
class RAVIXCORE_EXPORT UpdateInfo
{
public:
    UpdateInfo() = default;
    explicit UpdateInfo(const UpdatePkgConfig &config);
    UpdateInfo(const QJsonObject &obj, const UpdatePkgConfig &config);

    /// Reads an update object; the version is kept in lower case.
    void prepareInfo(const QJsonObject &obj);

    QString version() const { return _version; }
    void setVersion(const QString &version) { _version = version; }
    QString description() const { return _description; }
    void setDescription(const QString &description) { _description = description; }
    QString changeLogUrl() const { return _changeLogUrl; }
    void setChangeLogUrl(const QString &url) { _changeLogUrl = url; }
    QList<UpdatePackageInfo> packages() const { return _packages; }
    void setPackages(const QList<UpdatePackageInfo> &packages) { _packages = packages; }
    UpdatePkgConfig config() const { return _config; }

    /// A safe, non-empty version and at least one package, every package valid.
    bool isValid() const;

    /// The stored form: version, description, changeLogUrl and packages. Documents give the
    /// link as "changelog", so a stored form read back has none.
    QJsonObject toObject() const;
    QVariantMap toMap() const;

    bool operator==(const UpdateInfo &other) const;
    bool operator!=(const UpdateInfo &other) const { return !(*this == other); }

private:
    QString _version;
    QString _description;
    QString _changeLogUrl;
    QList<UpdatePackageInfo> _packages;
    UpdatePkgConfig _config;
};

} // namespace ravix
