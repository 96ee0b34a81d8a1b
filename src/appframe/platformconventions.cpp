// SPDX-License-Identifier: MIT
#include "appframe/platformconventions.h"

namespace ravix {

PlatformConventions::Style PlatformConventions::nativeStyle()
{
#ifdef Q_OS_WIN
    return Windows;
#else
    return Posix;
#endif
}

QString PlatformConventions::exeSuffix(Style style)
{
    return style == Windows ? QStringLiteral(".exe") : QString();
}

QChar PlatformConventions::pathListSeparator(Style style)
{
    return style == Windows ? QLatin1Char(';') : QLatin1Char(':');
}

QChar PlatformConventions::nativeSeparator(Style style)
{
    return style == Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

Qt::CaseSensitivity PlatformConventions::fileNameCase(Style style)
{
    return style == Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

QString PlatformConventions::sharedDataRoot(const QProcessEnvironment &env, Style style)
{
    const QString all = env.value(QStringLiteral("ALLUSERSPROFILE"));
    if (style == Windows || !all.isEmpty())
        return all;
    return QStringLiteral("/var/lib");
}

QString PlatformConventions::defaultWorkDir(const QString &baseName,
                                            const QProcessEnvironment &env, Style style)
{
    return sharedDataRoot(env, style) + nativeSeparator(style) + baseName;
}

QString PlatformConventions::defaultWorkDir(const QString &baseName)
{
    return defaultWorkDir(baseName, QProcessEnvironment::systemEnvironment());
}

QString PlatformConventions::fileNameKey(const QString &path, Style style)
{
    if (style != Windows)
        return path;
    QString key = path;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Windows drops trailing dots and spaces from the last part of a name; a part made of
    // dots alone ("." or "..") is not a name and stays.
    const int start = key.lastIndexOf(QLatin1Char('/')) + 1;
    int end = key.size();
    while (end > start && (key.at(end - 1) == QLatin1Char('.') || key.at(end - 1) == QLatin1Char(' ')))
        --end;
    if (end > start)
        key.truncate(end);
    return key.toCaseFolded();
}

} // namespace ravix
