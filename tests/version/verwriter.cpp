// SPDX-License-Identifier: MIT
// Usage: ravix_verwriter <dir> <name> <components> <file size limit in bytes, 0 = none>
// Registers <components> versions and saves the registry to <dir>/<name>.ver. With a limit
// the process may not grow any file beyond it, so the write fails part way.
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    const int count = args.at(3).toInt();
    for (int i = 0; i < count; ++i)
        ravix::AppVersionManager::addVersion(
            QStringLiteral("component-%1").arg(i, 4, 10, QLatin1Char('0')),
            ravix::AppVersion(QStringLiteral("2.%1.0").arg(i),
                              QStringLiteral("2024-03-01T10:00:00")));

    const qulonglong limit = args.at(4).toULongLong();
#ifdef Q_OS_WIN
    if (limit > 0)
        return 4;
#else
    if (limit > 0) {
        // Writes beyond the limit fail with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return 3;
    }
#endif
    ravix::AppVersionManager::saveCurrentVersions(args.at(1), args.at(2));
    return 0;
}
