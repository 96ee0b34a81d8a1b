// SPDX-License-Identifier: MIT
#include "srvmanifest/srvmanifest.h"

#include "appframe/atomicwrite_p.h"
#include "appframe/dircreator.h"
#include "appframe/trustedfile_p.h"
#include "logger/logwrappers.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QVariantMap>

namespace ravix {

namespace {

// Either separator may appear in a Windows path; results use '/' or the style's own one.
QString withSlashes(const QString &path, PlatformConventions::Style style)
{
    QString result = path;
    return result.replace(PlatformConventions::nativeSeparator(style), QLatin1Char('/'));
}

QString withNativeSeparators(const QString &path, PlatformConventions::Style style)
{
    QString result = path;
    return result.replace(QLatin1Char('/'), PlatformConventions::nativeSeparator(style));
}

} // namespace

QMutex SrvManifest::_manifestMutex;

ExeInstance::ExeInstance() = default;
ExeInstance::ExeInstance(const ExeInstance &other) = default;
ExeInstance::ExeInstance(ExeInstance &&other) noexcept = default;
ExeInstance &ExeInstance::operator=(const ExeInstance &other) = default;
ExeInstance &ExeInstance::operator=(ExeInstance &&other) noexcept = default;
ExeInstance::~ExeInstance() = default;

bool ExeInstance::operator==(const ExeInstance &other) const
{
    return _name == other._name && _exePath == other._exePath && _workDir == other._workDir &&
           _description == other._description && _params == other._params;
}

QString ExeInstance::name(Style style) const
{
    const QString suffix = PlatformConventions::exeSuffix(style);
    if (_name.trimmed().toLower().endsWith(suffix))
        return _name;
    return _name + suffix;
}

void ExeInstance::setName(const QString &name)
{
    _name = name;
}

QString ExeInstance::exePath(Style style) const
{
    return withSlashes(_exePath, style);
}

QString ExeInstance::namtiveExePath(Style style) const
{
    return withNativeSeparators(exePath(style), style);
}

void ExeInstance::setExePath(const QString &exePath)
{
    _exePath = exePath;
}

QString ExeInstance::exeFilePath(Style style) const
{
    return withSlashes(QStringLiteral("%1/%2").arg(_exePath, name(style)), style);
}

QString ExeInstance::nativeExeFilePath(Style style) const
{
    return withNativeSeparators(exeFilePath(style), style);
}

QString ExeInstance::workDir(Style style) const
{
    return withSlashes(_workDir, style);
}

QString ExeInstance::nativeWorkDir(Style style) const
{
    return withNativeSeparators(workDir(style), style);
}

void ExeInstance::setWorkDir(const QString &workDir)
{
    _workDir = workDir;
}

QString ExeInstance::description() const
{
    return _description;
}

void ExeInstance::setDescription(const QString &description)
{
    _description = description;
}

QStringList ExeInstance::params() const
{
    return _params;
}

void ExeInstance::setParams(const QStringList &params)
{
    _params = params;
}

bool ExeInstance::isValid() const
{
    if (_name.isEmpty() || _exePath.isEmpty())
        return false;
    const QFileInfo file(exeFilePath());
    return file.isFile() && file.isExecutable();
}

SrvManifest::SrvManifest(const QString &resourcesManifest, const QString &manifestFileName,
                         const QString &defaultWorkDir, const QString &manifestDir)
    : _resourcesManifest(resourcesManifest), _manifestFileName(manifestFileName),
      _defaultWorkDir(defaultWorkDir), _manifestDir(manifestDir)
{
    prepareManifest();
    parseManifest();
}

SrvManifest::SrvManifest(const SrvManifest &other) = default;
SrvManifest::SrvManifest(SrvManifest &&other) noexcept = default;
SrvManifest &SrvManifest::operator=(const SrvManifest &other) = default;
SrvManifest &SrvManifest::operator=(SrvManifest &&other) noexcept = default;
SrvManifest::~SrvManifest() = default;

bool SrvManifest::operator==(const SrvManifest &other) const
{
    return _defaultExePath == other._defaultExePath && _instances == other._instances &&
           _resourcesManifest == other._resourcesManifest &&
           _manifestFileName == other._manifestFileName &&
           _defaultWorkDir == other._defaultWorkDir && _manifestDir == other._manifestDir;
}

void SrvManifest::prepareManifest()
{
    if (QFile::exists(_manifestFileName))
        return;
    DirCreator::checkAndCreate(_manifestDir, DirCreator::DEFAULT_ALL);
    // The installed copy says what runs with the daemon's rights: in a folder open to every
    // account it is written beside and renamed into place, and only its owner may change it.
    QFile shipped(_resourcesManifest);
    if (shipped.open(QIODevice::ReadOnly))
        writeFileAtomically(_manifestFileName, shipped.readAll());
}

void SrvManifest::parseManifest()
{
    _defaultExePath.clear();
    _instances.clear();

    // Refused unless it is ours alone: another account could name any program in it.
    QByteArray content;
    QString why;
    if (!readTrustedFile(_manifestFileName, &content, &why)) {
        qCritical().noquote() << _manifestFileName << logtab << why;
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qCritical().noquote() << _manifestFileName << logtab << parseError.errorString();
        return;
    }

    const QVariantMap top = document.toVariant().toMap();
    _defaultExePath = top.value(QStringLiteral("defaultExePath")).toString();
    if (_defaultExePath.isEmpty())
        _defaultExePath = QCoreApplication::applicationDirPath();

    const QVariantList services = top.value(QStringLiteral("services")).toList();
    for (const QVariant &service : services) {
        const QVariantMap map = service.toMap();
        ExeInstance instance;
        instance.setDescription(map.value(QStringLiteral("description")).toString());
        instance.setExePath(map.value(QStringLiteral("exePath")).toString());
        instance.setName(map.value(QStringLiteral("name")).toString());
        instance.setWorkDir(map.value(QStringLiteral("workDir")).toString());
        if (instance.exePath().isEmpty())
            instance.setExePath(_defaultExePath);
        if (instance.workDir().isEmpty())
            instance.setWorkDir(_defaultWorkDir);
        QStringList params;
        const QVariantList values = map.value(QStringLiteral("params")).toList();
        for (const QVariant &value : values)
            params.append(value.toString());
        instance.setParams(params);
        if (instance.isValid())
            _instances.append(instance);
    }
}

QString SrvManifest::defaultExePath() const
{
    return _defaultExePath;
}

QString SrvManifest::resourcesManifest() const
{
    return _resourcesManifest;
}

QString SrvManifest::manifestFileName() const
{
    return _manifestFileName;
}

QString SrvManifest::defaultWorkDir() const
{
    return _defaultWorkDir;
}

QString SrvManifest::manifestDir() const
{
    return _manifestDir;
}

QList<ExeInstance> SrvManifest::instances() const
{
    return _instances;
}

bool SrvManifest::isValid() const
{
    return !_defaultExePath.isEmpty() && !_instances.isEmpty() && !_defaultWorkDir.isEmpty() &&
           !_manifestDir.isEmpty();
}

} // namespace ravix
