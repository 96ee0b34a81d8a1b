// SPDX-License-Identifier: MIT
#include "version/appversion.h"

#include <QStringList>

namespace ravix {

AppVersion::Number AppVersion::Number::parse(const QString &text)
{
    Number n;
    const QStringList parts = text.simplified().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return n;
    bool ok = false;
    const int major = parts.at(0).toInt(&ok, 10);
    if (!ok)
        return n;
    const int minor = parts.at(1).toInt(&ok, 10);
    if (!ok)
        return n;

    // "a" is looked for first and alone, so "beta" splits at its "a" and fails below.
    // Otherwise a "b" split comes first and an "rc" split is then made on the number left
    // by it, whose tail replaces the modificator: "3rc1b2" is 3 with "rc1".
    QString number = parts.at(2).toLower();
    QString modificator;
    const auto splitAt = [&number, &modificator](int at) {
        if (at < 0)
            return;
        modificator = number.mid(at);
        number.truncate(at);
    };
    if (number.contains(QLatin1Char('a'))) {
        splitAt(number.indexOf(QLatin1Char('a')));
    } else {
        splitAt(number.indexOf(QLatin1Char('b')));
        splitAt(number.indexOf(QLatin1String("rc")));
    }
    const int patch = number.toInt(&ok, 10);
    if (!ok)
        return n;
    n.major = major;
    n.minor = minor;
    n.patch = patch;
    n.modificator = modificator;
    return n;
}

bool AppVersion::Number::equalTo(const Number &o) const
{
    return major == o.major && minor == o.minor && patch == o.patch && modificator == o.modificator;
}

bool AppVersion::Number::lessThan(const Number &o) const
{
    if (major != o.major)
        return major < o.major;
    if (minor != o.minor)
        return minor < o.minor;
    if (patch != o.patch)
        return patch < o.patch;
    // A pre-release comes before its release.
    if (modificator.isEmpty())
        return false;
    if (o.modificator.isEmpty())
        return true;
    return modificator < o.modificator;
}

bool AppVersion::Number::moreThan(const Number &o) const
{
    return o.lessThan(*this);
}

AppVersion::AppVersion() : m_number(Number::parse(QString())) {}

AppVersion::AppVersion(const QString &version, const QString &build)
    : m_number(Number::parse(version)), m_build(QDateTime::fromString(build, Qt::ISODate))
{
}

AppVersion::AppVersion(const AppVersion &other) = default;
AppVersion::AppVersion(AppVersion &&other) noexcept = default;
AppVersion &AppVersion::operator=(const AppVersion &other) = default;
AppVersion &AppVersion::operator=(AppVersion &&other) noexcept = default;
AppVersion::~AppVersion() = default;

QString AppVersion::version() const
{
    return QStringLiteral("%1.%2.%3%4")
        .arg(m_number.major)
        .arg(m_number.minor)
        .arg(m_number.patch)
        .arg(m_number.modificator);
}

void AppVersion::setVersion(const QString &version)
{
    m_number = Number::parse(version);
}

QString AppVersion::build() const
{
    return m_build.toString(Qt::ISODate);
}

QDateTime AppVersion::buildDt() const
{
    return m_build;
}

void AppVersion::setBuild(const QString &build)
{
    m_build = QDateTime::fromString(build, Qt::ISODate);
}

int AppVersion::majorVersion() const
{
    return m_number.major;
}

int AppVersion::minorVersion() const
{
    return m_number.minor;
}

int AppVersion::patchVersion() const
{
    return m_number.patch;
}

QString AppVersion::modificator() const
{
    return m_number.modificator;
}

bool AppVersion::isValid() const
{
    return m_number.major >= 0 && m_number.minor >= 0 && m_number.patch >= 0 && m_build.isValid();
}

bool AppVersion::versionEquilTo(const AppVersion &other) const
{
    return m_number.equalTo(other.m_number);
}

bool AppVersion::versionLessThen(const AppVersion &other) const
{
    return m_number.lessThan(other.m_number);
}

bool AppVersion::versionMoreThen(const AppVersion &other) const
{
    return m_number.moreThan(other.m_number);
}

bool AppVersion::operator==(const AppVersion &other) const
{
    return versionEquilTo(other) && m_build == other.m_build;
}

bool AppVersion::operator!=(const AppVersion &other) const
{
    return !(*this == other);
}

bool AppVersion::operator<(const AppVersion &other) const
{
    return versionLessThen(other) || (versionEquilTo(other) && m_build < other.m_build);
}

bool AppVersion::operator<=(const AppVersion &other) const
{
    return *this == other || *this < other;
}

bool AppVersion::operator>(const AppVersion &other) const
{
    return versionMoreThen(other) || (versionEquilTo(other) && m_build > other.m_build);
}

bool AppVersion::operator>=(const AppVersion &other) const
{
    return *this == other || *this > other;
}

bool AppVersion::lessThen(const QString &a, const QString &b)
{
    return Number::parse(a).lessThan(Number::parse(b));
}

bool AppVersion::moreThen(const QString &a, const QString &b)
{
    return Number::parse(a).moreThan(Number::parse(b));
}

bool AppVersion::equilTo(const QString &a, const QString &b)
{
    return Number::parse(a).equalTo(Number::parse(b));
}

} // namespace ravix
