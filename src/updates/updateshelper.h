// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/updates/updateinfo.h>

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

namespace ravix {

/// Bookkeeping of the update pipeline: parses the server's document, stores each valid update
/// as "<store>/<version>/info.json", decides which packages still have to be downloaded
/// (against the installed ".ver" file and the files on disk) and keeps the update plan.
/// It downloads nothing itself.
class RAVIXCORE_EXPORT UpdatesHelper : public QObject
{
    Q_OBJECT
public:
    /// Key of this operating system's updates in the server document.
    static const QString OS_VERSION;

    UpdatesHelper(const UpdatePkgConfig &config, const QString &versionsDir, const QString &appName,
                  QObject *parent = nullptr);

    /// Parses the server document; false (with a warning) when it holds no valid update.
    bool parseUpdateInfo(const QByteArray &data);
    /// Appends the update to the parsed list when it is valid.
    bool prepareObject(const QJsonObject &obj);
    /// The updates of the last successful parse.
    QList<UpdateInfo> infos() const { return _infos; }

    /// Parses the document and stores every valid update.
    bool saveUpdateInfo(const QByteArray &data);
    /// Stores one update as its info.json (written atomically).
    bool saveUpdateInfo(const UpdateInfo &info);
    bool loadUpdateInfo(UpdateInfo &info, const QString &path) const;
    bool loadUpdateInfo(const QString &version, UpdateInfo &info) const;

    /// Raw 20-byte SHA-1 digest of a file; empty when it cannot be read.
    QByteArray calcSha1(const QString &path) const;
    /// Whether the package still has to be downloaded.
    bool needUpdate(const UpdatePackageInfo &pkg) const;
    /// Packages of \a info still to download; at most \a maxCount when it is above 0.
    bool getDownloadedsList(const UpdateInfo &info, QList<UpdatePackageInfo> &list,
                            int maxCount) const;
    /// As above for a stored version, as (URL, bytes of the partial download) pairs.
    bool getDownloadedsList(const QString &version, QList<QPair<QString, int>> &list,
                            int maxCount) const;
    /// Whether every package of a stored version is on disk and intact.
    bool updatesAreLoaded(const QString &version);

    /// The plan file "<store>/plan" tells an installer which version to install and what to run.
    bool saveUpdatePlan(const QString &version, const QString &externalCommand);
    bool loadUpdatePlan(QString &version, QString &externalCommand);
    bool removeUpdatePlan();

    /// \name Update trust
    /// Off until the host sets a signing key. The key proves who wrote a document: the
    /// publisher signs the exact bytes of the document with Ed25519 and puts the signature
    /// beside it on the server as "<document name>.sig" (one line of base64 holding the 64
    /// bytes; ravix-sign-update or openssl make it). The host fetches both and passes them to
    /// the two-argument parseUpdateInfo/saveUpdateInfo. Once a key is set, a document without
    /// a signature that matches it is refused with a warning before anything of it is parsed,
    /// stored or downloaded, and the one-argument forms refuse every document. A signature
    /// does not tell how old a document is, so a replayed older one is stopped by refusing
    /// downgrades (setDowngradesAllowed). Packages are checked by size, SHA-1 and, when the
    /// document gives one ("sha256"), SHA-256; the digests are trusted as far as the document
    /// is. What is stored locally (info.json, the plan) is not signed: the store's file
    /// permissions protect it. Transport security (HttpFileLoader::setTlsVerification) is
    /// separate: a signature does not keep the document private.
    /// @{

    /// The publisher's Ed25519 public key: 32 raw bytes, a PEM "PUBLIC KEY" as openssl writes
    /// it, or base64 of the raw bytes. Anything else returns false and leaves every document
    /// refused, so a broken key file never turns the check off.
    bool setSigningKey(const QByteArray &publicKey);
    /// Takes unsigned documents again.
    void clearSigningKey();
    /// Whether documents must carry a signature (a key was set, usable or not).
    bool signingRequired() const;
    /// As the one-argument forms, after checking \a signature (the content of the ".sig"
    /// file) when a signing key is set; without a key the signature is not looked at.
    bool parseUpdateInfo(const QByteArray &data, const QByteArray &signature);
    bool saveUpdateInfo(const QByteArray &data, const QByteArray &signature);

    /// Whether an update older (by version, then build) than the installed version is taken.
    /// Refused updates are dropped from documents with a warning, are never listed for
    /// download and never count as loaded. Until this is called: refused when a signing key is
    /// set, taken otherwise (as without update trust).
    void setDowngradesAllowed(bool allowed);
    bool downgradesAllowed() const;

    /// Raw 32-byte SHA-256 digest of a file; empty when it cannot be read.
    QByteArray calcSha256(const QString &path) const;
    /// @}

private:
    QString planPath() const;
    bool documentTrusted(const QByteArray &data, const QByteArray &signature) const;
    bool refusesDowngrade(const UpdateInfo &info, bool log) const;

    QList<UpdateInfo> _infos;
    UpdatePkgConfig _config;
    QString _versionsDir;
    QString _appName;

    enum class Downgrades { ByKey, Allowed, Refused };
    QByteArray _signingKey;
    bool _signingRequired = false;
    Downgrades _downgrades = Downgrades::ByKey;
};

} // namespace ravix
