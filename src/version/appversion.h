// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QDateTime>
#include <QString>

namespace ravix {

/// One release of a component: major.minor.patch with an optional lower-case pre-release
/// suffix (the modificator, e.g. "rc1") and the ISO time stamp of its build.
class RAVIXCORE_EXPORT AppVersion
{
public:
    AppVersion();
    /// Parses \a version ("1.3.1", "2.0.0rc1"); \a build is an ISO 8601 date-time.
    AppVersion(const QString &version, const QString &build);
    AppVersion(const AppVersion &other);
    AppVersion(AppVersion &&other) noexcept;
    AppVersion &operator=(const AppVersion &other);
    AppVersion &operator=(AppVersion &&other) noexcept;
    ~AppVersion();

    /// "major.minor.patch" followed by the modificator; "-1.-1.-1" when unparsed.
    QString version() const;
    /// Replaces the whole version number; a text that does not parse leaves it unparsed.
    void setVersion(const QString &version);

    /// The build time stamp as ISO 8601 text; empty when unknown.
    QString build() const;
    QDateTime buildDt() const;
    /// Reads an ISO 8601 date-time; other text leaves the build unknown.
    void setBuild(const QString &build);

    /// -1 while the version is unparsed.
    int majorVersion() const;
    int minorVersion() const;
    int patchVersion() const;
    /// The lower-case pre-release suffix ("rc1"); empty for a release.
    QString modificator() const;

    /// Three non-negative numbers and a valid build time.
    bool isValid() const;

    /// Version numbers only; the build is ignored. A pre-release comes before its release.
    bool versionEquilTo(const AppVersion &other) const;
    bool versionLessThen(const AppVersion &other) const;
    bool versionMoreThen(const AppVersion &other) const;

    /// Version first, then build.
    bool operator==(const AppVersion &other) const;
    bool operator!=(const AppVersion &other) const;
    bool operator<(const AppVersion &other) const;
    bool operator<=(const AppVersion &other) const;
    bool operator>(const AppVersion &other) const;
    bool operator>=(const AppVersion &other) const;

    /// Compare two version texts (no build).
    static bool lessThen(const QString &a, const QString &b);
    static bool moreThen(const QString &a, const QString &b);
    static bool equilTo(const QString &a, const QString &b);

private:
    struct Number
    {
        int major = -1;
        int minor = -1;
        int patch = -1;
        QString modificator;

        static Number parse(const QString &text);
        bool equalTo(const Number &other) const;
        bool lessThan(const Number &other) const;
        bool moreThan(const Number &other) const;
    };

    Number m_number;
    QDateTime m_build;
};

} // namespace ravix
