// SPDX-License-Identifier: MIT
// One file-writing job of the library per run, for tst_killpoints to kill at chosen points.
//   killchild archive <logs dir>                 clean-up of the logs directory (packs old logs)
//   killchild ver <dir> <version>                saves a registry of 40 components as app.ver
//   killchild info <store> <description>         stores update 1.2.0 as its info.json
//   killchild plan <store> <command>             saves the update plan
//   killchild sqlite <database> <transactions>   commits transactions of 10 rows each
//   killchild download <url> <target> <block>    downloads a file block by block
// Exit code 0 when the job finished.
#include <ravixcore/httpfileloader/httpfileloader.h>
#include <ravixcore/logger/loggermanager.h>
#include <ravixcore/sqlite/basesqlitedbconnector.h>
#include <ravixcore/updates/updateshelper.h>
#include <ravixcore/version/appversionmanager.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>
#include <QThreadStorage>

namespace {

QThreadStorage<int> s_counter;

class RowsDb : public ravix::BaseSqliteDbConnector
{
public:
    explicit RowsDb(const QString &path) : BaseSqliteDbConnector(path, &s_counter), m_path(path) {}
    QString databasePath() const override { return m_path; }
    QString connectionName() const override { return objectName(); }
    bool readVersion(qint32 &version, EMetadataState &state) override
    {
        version = 1;
        state = MetadataStateNone;
        return true;
    }
    qint32 currentVersion() const override { return 1; }
    bool upgrade(qint32) override { return true; }

private:
    QString m_path;
};

} // namespace

class Sink : public QObject
{
    Q_OBJECT
public slots:
    void onFinished(const QString &name) { QCoreApplication::exit(name.isEmpty() ? 1 : 0); }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("killchild"));
    const QStringList args = app.arguments();
    const QString mode = args.value(1);

    if (mode == QLatin1String("archive") && args.size() == 3) {
        LoggerManager::initLog(args.at(2), 30, true);
        QThreadPool::globalInstance()->waitForDone();
        LoggerManager::releaseLog();
        return 0;
    }
    if (mode == QLatin1String("ver") && args.size() == 4) {
        for (int i = 0; i < 40; ++i)
            ravix::AppVersionManager::addVersion(
                QStringLiteral("component-%1").arg(i, 2, 10, QLatin1Char('0')),
                ravix::AppVersion(args.at(3), QStringLiteral("2024-03-01T10:00:00")));
        ravix::AppVersionManager::saveCurrentVersions(args.at(2), QStringLiteral("app"));
        return 0;
    }
    if ((mode == QLatin1String("info") || mode == QLatin1String("plan")) && args.size() == 4) {
        ravix::UpdatesHelper helper(ravix::UpdatePkgConfig(args.at(2)), args.at(2),
                                    QStringLiteral("app"));
        if (mode == QLatin1String("plan"))
            return helper.saveUpdatePlan(QStringLiteral("1.2.0"), args.at(3)) ? 0 : 1;
        QJsonObject pkg{
            {QStringLiteral("build"), QStringLiteral("2021-01-01T00:00:00")},
            {QStringLiteral("fileUrl"), QStringLiteral("http://h/a.zip")},
            {QStringLiteral("sha1"), QStringLiteral("a94a8fe5ccb19ba61c4c0873d391e987982fbbd3")},
            {QStringLiteral("fileSize"), 10},
            {QStringLiteral("name"), QStringLiteral("a")}};
        const QJsonObject update{{QStringLiteral("version"), QStringLiteral("1.2.0")},
                                 {QStringLiteral("description"), args.at(3)},
                                 {QStringLiteral("packages"), QJsonArray{pkg}}};
        return helper.saveUpdateInfo(ravix::UpdateInfo(update, ravix::UpdatePkgConfig(args.at(2))))
                   ? 0
                   : 1;
    }
    if (mode == QLatin1String("sqlite") && args.size() == 4) {
        RowsDb db(args.at(2));
        db.init();
        QSqlDatabase &con = db.dbRef();
        const int transactions = args.at(3).toInt();
        for (int t = 0; t < transactions; ++t) {
            if (!con.transaction())
                return 1;
            QSqlQuery q(con);
            q.prepare(QStringLiteral("insert into rows (tx, n, pad) values (?, ?, ?)"));
            for (int n = 0; n < 10; ++n) {
                q.addBindValue(t);
                q.addBindValue(n);
                q.addBindValue(QString(200, QLatin1Char('x')));
                if (!q.exec())
                    return 1;
            }
            if (!con.commit())
                return 1;
        }
        db.release();
        return 0;
    }
    if (mode == QLatin1String("download") && args.size() == 5) {
        Sink sink;
        const QPointer<QThread> thread = ravix::HttpFileLoader::download(
            args.at(2), args.at(3), &sink, SLOT(onFinished(QString)), args.at(4).toInt());
        if (!thread)
            return 1;
        const int result = app.exec();
        // The loader's thread ends and deletes itself after the result: let it, so nothing
        // of it is left at exit.
        if (thread)
            thread->wait(60000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return result;
    }
    return 2;
}

#include "killchild.moc"
