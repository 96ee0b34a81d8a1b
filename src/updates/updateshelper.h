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

private:
    QString planPath() const;

    QList<UpdateInfo> _infos;
    UpdatePkgConfig _config;
    QString _versionsDir;
    QString _appName;
};

} // namespace ravix
