// SPDX-License-Identifier: MIT
// Usage: consumer PREFIX, the (moved) installation it was built against.
#include <ravixcore/appframe/dircreator.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/appframe/ravixcoreinit.h>
#include <ravixcore/ravixcore_version.h>
#include <ravixcore/sqlite/basesqlitedbconnector.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

static_assert(RAVIXCORE_VERSION >= RAVIXCORE_VERSION_CHECK(1, 3, 0), "version macros");

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 9;
    QTemporaryDir tmp;
    ravix::InitConfig cfg(tmp.path() + "/c.ini", true);
    if (!cfg.isValid() || cfg.keepLogs() != 30)
        return 1;
    if (!ravix::DirCreator::checkAndCreate(tmp.path() + "/a/b", ravix::DirCreator::DEFAULT_ALL))
        return 2;
    // The connector's header brings Qt SQL with it.
    if (!QSqlDatabase::drivers().contains(QStringLiteral("QSQLITE")))
        return 3;
    if (ravix::RavixCoreInit::version().version() != QStringLiteral(RAVIXCORE_VERSION_STRING))
        return 4;
    // The library finds its catalogues in the tree it was loaded from, wherever that now lies.
    const QString prefix = QDir(QString::fromLocal8Bit(argv[1])).canonicalPath();
    const QString dir = QDir(ravix::RavixCoreInit::cataloguesDir()).canonicalPath();
    if (dir.isEmpty() || !dir.startsWith(prefix + '/')) {
        std::printf("catalogues looked for in %s\n", qPrintable(ravix::RavixCoreInit::cataloguesDir()));
        return 5;
    }
    if (!ravix::RavixCoreInit::installCatalogues(tmp.path() + "/translations") ||
        !QFileInfo::exists(tmp.path() + "/translations/ravixcore_ru.qm"))
        return 6;
    std::puts("consumer ok");
    return 0;
}
