// SPDX-License-Identifier: MIT
#include "version/appversionmanager.h"

#include "appframe/atomicwrite_p.h"
#include "logger/logwrappers.h"

#include <QFile>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QVariantMap>

namespace ravix {

QSharedPointer<AppVersionManager> AppVersionManager::_manager;
QMutex AppVersionManager::_mutex;

namespace {
const QString VER_KEY = QStringLiteral("ver");
const QString BUILD_KEY = QStringLiteral("build");
} // namespace

AppVersionManager::AppVersionManager() = default;
AppVersionManager::AppVersionManager(const AppVersionManager &other) = default;
AppVersionManager::AppVersionManager(AppVersionManager &&other) noexcept = default;
AppVersionManager &AppVersionManager::operator=(const AppVersionManager &other) = default;
AppVersionManager &AppVersionManager::operator=(AppVersionManager &&other) noexcept = default;
AppVersionManager::~AppVersionManager() = default;

QSharedPointer<AppVersionManager> AppVersionManager::manager()
{
    if (!_manager)
        _manager = QSharedPointer<AppVersionManager>::create();
    return _manager;
}

AppVersion AppVersionManager::addVersion(const QString &name, const AppVersion &version)
{
    QMutexLocker lock(&_mutex);
    manager()->m_versions.insert(name, version);
    return version;
}

QMap<QString, AppVersion> AppVersionManager::getVersions()
{
    QMutexLocker lock(&_mutex);
    return _manager ? _manager->m_versions : QMap<QString, AppVersion>();
}

QMap<QString, AppVersion> AppVersionManager::versions() const
{
    return m_versions;
}

void AppVersionManager::addLocalisation(const QString &name)
{
    QMutexLocker lock(&_mutex);
    manager()->m_localisations.insert(name);
}

void AppVersionManager::addLocalisations(const QStringList &names)
{
    QMutexLocker lock(&_mutex);
    const QSharedPointer<AppVersionManager> m = manager();
    for (const QString &name : names)
        m->m_localisations.insert(name);
}

QStringList AppVersionManager::localisations()
{
    QMutexLocker lock(&_mutex);
    return _manager ? _manager->m_localisations.values() : QStringList();
}

QString AppVersionManager::filePath(const QString &dir, const QString &name)
{
    return QStringLiteral("%1/%2.ver").arg(dir, name);
}

void AppVersionManager::saveCurrentVersions(const QString &dir, const QString &name)
{
    const QMap<QString, AppVersion> current = getVersions();
    QVariantMap root;
    for (auto it = current.cbegin(); it != current.cend(); ++it) {
        QVariantMap entry;
        entry.insert(VER_KEY, it.value().version());
        entry.insert(BUILD_KEY, it.value().build());
        root.insert(it.key(), entry);
    }
    const QByteArray json = QJsonDocument::fromVariant(root).toJson();

    // The update checks read this file to learn what is installed; a truncated file would
    // read as "nothing installed", so the old file stays until the new one is complete.
    const QString path = filePath(dir, name);
    QString error;
    if (!writeFileAtomically(path, json, &error))
        qWarning().noquote() << path << logtab << error;
}

AppVersionManager AppVersionManager::loadVersions(const QString &dir, const QString &name)
{
    AppVersionManager result;
    QFile file(filePath(dir, name));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return result;
    const QVariantMap root = doc.toVariant().toMap();
    for (auto it = root.cbegin(); it != root.cend(); ++it) {
        const QVariantMap entry = it.value().toMap();
        const AppVersion version(entry.value(VER_KEY).toString(),
                                 entry.value(BUILD_KEY).toString());
        if (version.isValid())
            result.m_versions.insert(it.key(), version);
    }
    return result;
}

} // namespace ravix
