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

} // namespace ravix
