// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QChar>
#include <QProcessEnvironment>
#include <QString>

namespace ravix {

/// The one place that knows the Windows conventions the library keeps on Windows
/// (backslash joins, ';' in PATH, ".exe", ALLUSERSPROFILE) and their counterparts elsewhere.
/// Every function takes the style explicitly so both can be exercised on any platform.
class RAVIXCORE_EXPORT PlatformConventions
{
public:
    enum Style { Windows, Posix };

    /// Windows when built for Windows, Posix otherwise.
    static Style nativeStyle();

    /// ".exe" on Windows, empty elsewhere.
    static QString exeSuffix(Style style = nativeStyle());
    /// ';' on Windows, ':' elsewhere: joins the entries of PATH.
    static QChar pathListSeparator(Style style = nativeStyle());
    /// '\\' on Windows, '/' elsewhere.
    static QChar nativeSeparator(Style style = nativeStyle());
    /// How file names compare: without regard to case on Windows, exactly elsewhere.
    static Qt::CaseSensitivity fileNameCase(Style style = nativeStyle());

    /// Folder under which the default working directories live: ALLUSERSPROFILE on Windows
    /// (empty when unset); elsewhere ALLUSERSPROFILE when set, otherwise /var/lib.
    static QString sharedDataRoot(const QProcessEnvironment &env, Style style = nativeStyle());
    /// The shared data root, the style's separator, then \a baseName.
    static QString defaultWorkDir(const QString &baseName, const QProcessEnvironment &env,
                                  Style style = nativeStyle());
    /// As above with the process's system environment and the native style.
    static QString defaultWorkDir(const QString &baseName);

    /// The form in which the style's file systems compare \a path: two paths with equal keys
    /// name one file. On Windows separators are '/', trailing dots and spaces of the last part
    /// are dropped and case is folded; elsewhere the path is its own key.
    static QString fileNameKey(const QString &path, Style style = nativeStyle());
};

} // namespace ravix
