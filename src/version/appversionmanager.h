// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/version/appversion.h>

#include <QMap>
#include <QMutex>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

namespace ravix {

/// The process-wide registry of component versions and of the translation catalogues that
/// components bring. The application root saves it to "<dir>/<name>.ver" at start-up; the
/// update logic reads such files back to learn what is installed.
class RAVIXCORE_EXPORT AppVersionManager
{
public:
    AppVersionManager();
    AppVersionManager(const AppVersionManager &other);
    AppVersionManager(AppVersionManager &&other) noexcept;
    AppVersionManager &operator=(const AppVersionManager &other);
    AppVersionManager &operator=(AppVersionManager &&other) noexcept;
    ~AppVersionManager();

    /// The process-wide registry, created empty on first use. Takes no lock: call it only
    /// with _mutex held (the static operations below do).
    static QSharedPointer<AppVersionManager> manager();

    /// Inserts or replaces the entry for \a name; returns a copy of \a version.
    static AppVersion addVersion(const QString &name, const AppVersion &version);
    static QMap<QString, AppVersion> getVersions();
    QMap<QString, AppVersion> versions() const;

    static void addLocalisation(const QString &name);
    static void addLocalisations(const QStringList &names);
    /// Registered catalogue names, in no defined order.
    static QStringList localisations();

    /// Writes the process-wide registry to "<dir>/<name>.ver" as a JSON object. The file is
    /// replaced atomically, so an interrupted write leaves the previous file intact.
    static void saveCurrentVersions(const QString &dir, const QString &name);
    /// Reads "<dir>/<name>.ver" into a new registry value; members that do not make a valid
    /// version are dropped. A missing or broken file gives an empty registry.
    static AppVersionManager loadVersions(const QString &dir, const QString &name);

protected:
    // Both are constant-initialised, so the library initialiser may use them while other
    // statics are still being constructed.
    static QSharedPointer<AppVersionManager> _manager;
    static QMutex _mutex;

private:
    static QString filePath(const QString &dir, const QString &name);

    QMap<QString, AppVersion> m_versions;
    QSet<QString> m_localisations;
};

} // namespace ravix
