// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/version/appversion.h>

#include <QString>

namespace ravix {

/// The library's own initialiser. One static instance, made when the library is loaded,
/// registers the version "ravixcore" and its translation catalogue "ravixcore" with the
/// version registry.
class RAVIXCORE_EXPORT RavixCoreInit
{
public:
    RavixCoreInit();
    ~RavixCoreInit();

    /// The library's version with its build time stamp.
    static AppVersion version();

    /// Where the compiled catalogues (ravixcore_<lang>.qm) are installed with the library.
    static QString cataloguesDir();
    /// Copies every ravixcore_*.qm from \a fromDir (default: cataloguesDir()) into
    /// \a toDir, which is created when missing; existing copies are replaced atomically.
    /// The root object looks for catalogues only in the start-up configuration's
    /// translationsPath(), so a host calls this with that directory. False when no
    /// catalogue was found or one could not be copied.
    static bool installCatalogues(const QString &toDir, const QString &fromDir = QString());

protected:
    /// ISO build stamp from the compiler's date and time texts ("Dec 16 2021", "16:24:45");
    /// empty when they do not parse.
    static QString buildStamp(const QString &date, const QString &time);

    static AppVersion _version;
};

} // namespace ravix
