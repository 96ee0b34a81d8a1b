// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/appframe/platformconventions.h>
#include <ravixcore/ravixcore_export.h>

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace ravix {

/// One child executable of a supervising host: its name, folder, working folder, arguments and
/// a description. Paths come back with '/' separators or with the platform's own.
class RAVIXCORE_EXPORT ExeInstance
{
public:
    using Style = PlatformConventions::Style;

    ExeInstance();
    ExeInstance(const ExeInstance &other);
    ExeInstance(ExeInstance &&other) noexcept;
    ExeInstance &operator=(const ExeInstance &other);
    ExeInstance &operator=(ExeInstance &&other) noexcept;
    ~ExeInstance();

    bool operator==(const ExeInstance &other) const;
    bool operator!=(const ExeInstance &other) const { return !(*this == other); }

    /// The stored name, with the executable suffix appended when it does not already end so
    /// (compared without surrounding blanks and case). The stored text itself is never trimmed.
    QString name(Style style = PlatformConventions::nativeStyle()) const;
    void setName(const QString &name);

    /// The executable's folder with '/' separators; namtiveExePath() with the platform's own.
    QString exePath(Style style = PlatformConventions::nativeStyle()) const;
    QString namtiveExePath(Style style = PlatformConventions::nativeStyle()) const;
    void setExePath(const QString &exePath);

    /// The folder, a '/' and name(), with '/' separators.
    QString exeFilePath(Style style = PlatformConventions::nativeStyle()) const;
    QString nativeExeFilePath(Style style = PlatformConventions::nativeStyle()) const;

    /// The child's working folder with '/' separators; nativeWorkDir() with the platform's own.
    QString workDir(Style style = PlatformConventions::nativeStyle()) const;
    QString nativeWorkDir(Style style = PlatformConventions::nativeStyle()) const;
    void setWorkDir(const QString &workDir);

    QString description() const;
    void setDescription(const QString &description);

    /// The child's command-line arguments, in order.
    QStringList params() const;
    void setParams(const QStringList &params);

    /// A name, a folder, and an existing executable regular file at exeFilePath().
    bool isValid() const;

private:
    QString _name;
    QString _exePath;
    QString _workDir;
    QString _description;
    QStringList _params;
};

/// The JSON manifest of a host's child services. A default manifest shipped with the host is
/// installed once where the manifest file is expected; the file is then read into the list of
/// services whose executables exist.
class RAVIXCORE_EXPORT SrvManifest
{
public:
    /// Stores the paths, installs the default manifest if needed and reads the file.
    SrvManifest(const QString &resourcesManifest, const QString &manifestFileName,
                const QString &defaultWorkDir, const QString &manifestDir);
    SrvManifest(const SrvManifest &other);
    SrvManifest(SrvManifest &&other) noexcept;
    SrvManifest &operator=(const SrvManifest &other);
    SrvManifest &operator=(SrvManifest &&other) noexcept;
    ~SrvManifest();

    bool operator==(const SrvManifest &other) const;
    bool operator!=(const SrvManifest &other) const { return !(*this == other); }

    /// Copies the default manifest to the manifest file unless that file exists already.
    void prepareManifest();
    /// (Re-)reads the manifest file; failures are logged and leave the manifest empty.
    void parseManifest();

    /// The manifest's "defaultExePath", else the application's folder.
    QString defaultExePath() const;
    QString resourcesManifest() const;
    QString manifestFileName() const;
    QString defaultWorkDir() const;
    QString manifestDir() const;

    /// The services whose executables existed when the file was read, in manifest order.
    QList<ExeInstance> instances() const;
    /// Paths set and at least one service whose executable exists.
    bool isValid() const;

    /// For callers that read or rewrite the manifest file from several threads; nothing in
    /// this class locks it.
    static QMutex _manifestMutex;

private:
    QString _defaultExePath;
    QList<ExeInstance> _instances;
    QString _resourcesManifest;
    QString _manifestFileName;
    QString _defaultWorkDir;
    QString _manifestDir;
};

} // namespace ravix
