// SPDX-License-Identifier: MIT
// Update trust of UpdatesHelper: signed documents, SHA-256 digests and refused downgrades.
#include "updates/updateshelper.h"

#include "updates/updatesignature_p.h"
#include "version/appversionmanager.h"

#include <QDebug>

namespace ravix {

bool UpdatesHelper::parseUpdateInfo(const QByteArray &data)
{
    return parseUpdateInfo(data, QByteArray());
}

bool UpdatesHelper::saveUpdateInfo(const QByteArray &data)
{
    return saveUpdateInfo(data, QByteArray());
}

bool UpdatesHelper::setSigningKey(const QByteArray &publicKey)
{
    _signingRequired = true;
    _signingKey = updatetrust::parsePublicKey(publicKey);
    return !_signingKey.isEmpty();
}

void UpdatesHelper::clearSigningKey()
{
    _signingRequired = false;
    _signingKey.clear();
}

bool UpdatesHelper::signingRequired() const
{
    return _signingRequired;
}

void UpdatesHelper::setDowngradesAllowed(bool allowed)
{
    _downgrades = allowed ? Downgrades::Allowed : Downgrades::Refused;
}

bool UpdatesHelper::downgradesAllowed() const
{
    if (_downgrades == Downgrades::ByKey)
        return !_signingRequired;
    return _downgrades == Downgrades::Allowed;
}

QByteArray UpdatesHelper::calcSha256(const QString &path) const
{
    return updatetrust::fileSha256(path);
}

bool UpdatesHelper::documentTrusted(const QByteArray &data, const QByteArray &signature) const
{
    if (!_signingRequired)
        return true;
    QString refusal;
    const QByteArray raw = updatetrust::parseSignature(signature);
    if (_signingKey.isEmpty())
        refusal = tr("no usable update key is set");
    else if (signature.trimmed().isEmpty())
        refusal = tr("it has no signature");
    else if (raw.isEmpty())
        refusal = tr("its signature is not one line of base64 holding 64 bytes");
    else if (!updatetrust::initCrypto())
        refusal = tr("the cryptographic library cannot be set up");
    else if (!updatetrust::verify(data, raw, _signingKey))
        refusal = tr("its signature does not match the update key");
    else
        return true;
    qWarning().noquote() << tr("The update document is refused: %1").arg(refusal);
    return false;
}

bool UpdatesHelper::refusesDowngrade(const UpdateInfo &info, bool log) const
{
    if (downgradesAllowed())
        return false;
    const AppVersion current =
        AppVersionManager::loadVersions(_versionsDir, _appName).versions().value(_appName);
    if (!current.isValid())
        return false;
    for (const UpdatePackageInfo &pkg : info.packages()) {
        if (!(pkg.appVersion() < current))
            continue;
        if (log)
            qWarning().noquote()
                << tr("Update %1 is refused: it is older than the installed version %2")
                       .arg(info.version(), current.version());
        return true;
    }
    return false;
}

} // namespace ravix
