#include <ravixcore/appframe/dircreator.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/sqlite/basesqlitedbconnector.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    ravix::InitConfig cfg(tmp.path() + "/c.ini", true);
    if (!cfg.isValid() || cfg.keepLogs() != 30)
        return 1;
    if (!ravix::DirCreator::checkAndCreate(tmp.path() + "/a/b", ravix::DirCreator::DEFAULT_ALL))
        return 2;
    // The connector's header brings Qt SQL with it.
    if (!QSqlDatabase::drivers().contains(QStringLiteral("QSQLITE")))
        return 3;
    std::puts("consumer ok");
    return 0;
}
