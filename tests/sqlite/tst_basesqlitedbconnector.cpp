// SPDX-License-Identifier: MIT
#include <ravixcore/sqlite/basesqlitedbconnector.h>

#include "messagecapture.h"

#include <QAtomicInt>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

using ravix::BaseSqliteDbConnector;

namespace {

// A host database: the version lives in the table "meta"; the upgrade step and the repair of
// unreadable metadata behave as a test asks.
class HostDb : public BaseSqliteDbConnector
{
public:
    enum UpgradeMode { UpgradeWorks, UpgradeFails, UpgradeDoesNothing };
    enum RepairMode { NoRepair, RepairCreatesMeta, RepairClaimsOnly };

    HostDb(const QString &dbName, const QString &path, QThreadStorage<int> *counter)
        : BaseSqliteDbConnector(dbName, counter), m_path(path)
    {
    }
    HostDb(const QString &dbName, const QString &path, QThreadStorage<int> *counter,
           ConnectionMode mode)
        : BaseSqliteDbConnector(dbName, mode, counter), m_path(path)
    {
    }

    QString databasePath() const override { return m_path; }
    QString connectionName() const override { return objectName(); }
    QString user() const override { return m_user; }
    QString password() const override { return m_password; }

    bool readVersion(qint32 &version, EMetadataState &state) override
    {
        init();
        bool ok = false;
        {
            QSqlQuery query(dbRef());
            if (query.exec(QStringLiteral("select version from meta")) && query.next()) {
                version = query.value(0).toInt();
                ok = true;
            }
        }
        release();
        if (!ok)
            state = EMetadataState(MetadataStateUser + 3);
        return ok;
    }
    qint32 currentVersion() const override { return m_current; }
    bool upgrade(qint32 fromVersion) override
    {
        m_upgradedFrom = fromVersion;
        if (m_upgradeMode == UpgradeFails)
            return false;
        if (m_upgradeMode == UpgradeWorks)
            writeVersion(m_current);
        return true;
    }
    using BaseSqliteDbConnector::checkVersion;
    EDbVersionState checkVersion(qint32 &version, QString &error, bool upgradeAllowed) override
    {
        ++m_checkCalls;
        return BaseSqliteDbConnector::checkVersion(version, error, upgradeAllowed);
    }
    bool processMetadataState(EMetadataState state, QString &error) override
    {
        ++m_repairCalls;
        m_lastState = state;
        if (m_repairMode == RepairCreatesMeta) {
            writeVersion(m_current);
            return true;
        }
        if (m_repairMode == RepairClaimsOnly)
            return true;
        return BaseSqliteDbConnector::processMetadataState(state, error);
    }

    bool exec(const QString &sql)
    {
        QSqlQuery query(dbRef());
        return query.exec(sql);
    }
    qint64 scalar(const QString &sql)
    {
        QSqlQuery query(dbRef());
        if (!query.exec(sql) || !query.next())
            return -1;
        return query.value(0).toLongLong();
    }

    void writeVersion(qint32 version)
    {
        init();
        exec(QStringLiteral("create table if not exists meta(version integer)"));
        exec(QStringLiteral("delete from meta"));
        exec(QStringLiteral("insert into meta values(%1)").arg(version));
        release();
    }

    QString m_path;
    QString m_user;
    QString m_password;
    qint32 m_current = 3;
    UpgradeMode m_upgradeMode = UpgradeWorks;
    RepairMode m_repairMode = NoRepair;
    qint32 m_upgradedFrom = -1;
    int m_repairCalls = 0;
    int m_checkCalls = 0;
    EMetadataState m_lastState = MetadataStateNone;
};

QString threadHex()
{
    return QString::number(quintptr(QThread::currentThreadId()), 16);
}

// A per-thread counter as a host keeps it: alive until the process ends. A QThreadStorage that
// dies before a thread that holds a value in it cannot free that value.
QThreadStorage<int> *newCounter()
{
    static auto *counters = new QList<QThreadStorage<int> *>;
    counters->append(new QThreadStorage<int>);
    return counters->last();
}

// Runs a function in a new thread with the given object name and waits for its end.
void runInThread(const QString &name, std::function<void()> fn)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(fn)));
    thread->setObjectName(name);
    thread->start();
    QVERIFY(thread->wait(120000));
}

// The URI SQLite is given for a file opened read only: the path after an empty authority, a
// Windows drive with its own slash before it ("file:///C:/x").
QString readOnlyUri(const QString &path)
{
#ifdef Q_OS_WIN
    QString encoded = QDir::fromNativeSeparators(path);
#else
    QString encoded = path; // a backslash is an ordinary character of a name
#endif
    if (!encoded.startsWith('/'))
        encoded.prepend('/');
    encoded.replace('%', "%25").replace('#', "%23").replace('?', "%3F");
    return QStringLiteral("file://") + encoded + "?mode=ro&cache=private";
}

// Characters that mean something in a URI; Windows allows no '?' in a name.
#ifdef Q_OS_WIN
const char *const URI_CHARACTERS = "50% #1 x";
#else
const char *const URI_CHARACTERS = "50% #1 ?x";
#endif

} // namespace

class TestBaseSqliteDbConnector : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QThreadStorage<int> &m_counter = *newCounter();

    QString dbPath(const QString &name) const { return m_tmp.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_tmp.isValid()); }

    void cleanup()
    {
        // Every test leaves Qt's connection registry as it found it.
        for (const QString &name : QSqlDatabase::connectionNames())
            QSqlDatabase::removeDatabase(name);
        m_counter.setLocalData(0);
    }

    // The states are meta-enums: log lines show their names, not numbers.
    void statesPrintByName()
    {
        QString text;
        QDebug(&text) << BaseSqliteDbConnector::DbVersionTooNew << BaseSqliteDbConnector::ReadOnlyMode
                      << BaseSqliteDbConnector::MetadataStateUser;
        QVERIFY2(text.contains("DbVersionTooNew") && text.contains("ReadOnlyMode") &&
                     text.contains("MetadataStateUser"),
                 qPrintable(text));
    }

    void defaults()
    {
        HostDb db(QStringLiteral("def"), dbPath(QStringLiteral("def.db")), &m_counter);
        QCOMPARE(db.driver(), QStringLiteral("QSQLITE"));
        QCOMPARE(db.host(), QStringLiteral("localhost"));
        QCOMPARE(db.port(), qint16(0));
        QVERIFY(db.BaseSqliteDbConnector::user().isEmpty());
        QVERIFY(db.BaseSqliteDbConnector::password().isEmpty());
        QVERIFY(!db.db().isValid());
        QString error = QStringLiteral("keep");
        QVERIFY(!db.BaseSqliteDbConnector::processMetadataState(
            BaseSqliteDbConnector::MetadataStateNone, error));
        QCOMPARE(error, QStringLiteral("keep"));
    }

    void modes_data()
    {
        QTest::addColumn<int>("mode"); // -1: the constructor without a mode
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("readOnly");
        // How the caller spells the path: "" as made, "//" from the root with two slashes (a
        // share's form on Windows, the same file on POSIX), "\\" with native separators.
        QTest::addColumn<QString>("spelling");
        QTest::newRow("read-only") << 0 << "plain" << true << "";
        QTest::newRow("read-only, blank in path") << 0 << "with blank" << true << "";
        // Characters that mean something in a URI must still name the file.
        QTest::newRow("read-only, URI characters in path") << 0 << URI_CHARACTERS << true << "";
#ifdef Q_OS_WIN
        QTest::newRow("read-only, native separators") << 0 << "native" << true << "\\";
#else
        QTest::newRow("read-only, two slashes first") << 0 << "slashes" << true << "//";
#endif
        QTest::newRow("read-write") << 1 << "plain" << false << "";
        QTest::newRow("read-write, URI characters in path") << 1 << URI_CHARACTERS << false << "";
        QTest::newRow("other mode") << 7 << "plain" << false << "";
        QTest::newRow("no mode given") << -1 << "plain" << false << "";
    }
    void modes()
    {
        QFETCH(int, mode);
        QFETCH(QString, folder);
        QFETCH(bool, readOnly);
        QFETCH(QString, spelling);

        QString path = dbPath(folder + QStringLiteral("/modes%1.db").arg(mode));
        if (spelling == "//")
            path.prepend('/');
        else if (!spelling.isEmpty())
            path = QDir::toNativeSeparators(path);
        {
            // The file and its rows come from a writer first.
            HostDb writer(QStringLiteral("modesw"), path, &m_counter);
            writer.init();
            QVERIFY(writer.exec("create table t(v text)"));
            QVERIFY(writer.exec("insert into t values('x')"));
            writer.release();
        }

        std::unique_ptr<HostDb> db(mode < 0
                                       ? new HostDb(QStringLiteral("modes"), path, &m_counter)
                                       : new HostDb(QStringLiteral("modes"), path, &m_counter,
                                                    BaseSqliteDbConnector::ConnectionMode(mode)));
        QCOMPARE(db->isReadOnly(), readOnly);
        const QString suffix = readOnly ? QStringLiteral("-RO") : QStringLiteral("-RW");
        QCOMPARE(db->objectName(), QStringLiteral("modes") + threadHex() +
                                       QThread::currentThread()->objectName() + suffix);

        db->init();
        QVERIFY(db->db().isOpen());
        if (readOnly) {
            QCOMPARE(db->db().connectOptions(),
                     QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_OPEN_READONLY;"
                                    "QSQLITE_OPEN_URI"));
            QCOMPARE(db->db().databaseName(), readOnlyUri(path));
        } else {
            QCOMPARE(db->db().connectOptions(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
            QCOMPARE(db->db().databaseName(), path);
        }

        // Both read; only the writer writes, the other gets SQLite's read-only refusal.
        QCOMPARE(db->scalar("select count(*) from t"), qint64(1));
        {
            QSqlQuery insert(db->dbRef());
            QCOMPARE(insert.exec("insert into t values('y')"), !readOnly);
            if (readOnly) {
                // SQLITE_READONLY
                QCOMPARE(insert.lastError().nativeErrorCode(), QStringLiteral("8"));
                QVERIFY2(insert.lastError().databaseText().contains("readonly"),
                         qPrintable(insert.lastError().databaseText()));
            }
        }

        // Foreign keys are enforced on every connection.
        QCOMPARE(db->scalar("PRAGMA foreign_keys"), qint64(1));
        db->release();
        QVERIFY(!QSqlDatabase::contains(db->objectName()));
    }

    void objectNameCarriesThread()
    {
        QString name;
        QString hex;
        runInThread(QStringLiteral("dbworker"), [&] {
            HostDb db(QStringLiteral("thr"), dbPath(QStringLiteral("thr.db")), &m_counter,
                      BaseSqliteDbConnector::ReadOnlyMode);
            name = db.objectName();
            hex = threadHex();
        });
        QCOMPARE(name, QStringLiteral("thr") + hex + QStringLiteral("dbworker-RO"));
    }

    void counting()
    {
        const QString path = dbPath(QStringLiteral("count.db"));
        HostDb a(QStringLiteral("count"), path, &m_counter);
        HostDb b(QStringLiteral("count"), path, &m_counter);
        const QString name = a.objectName();
        QCOMPARE(b.objectName(), name); // same database, mode and thread: one connection

        a.init();
        b.init();
        QCOMPARE(m_counter.localData(), 2);
        a.release();
        QCOMPARE(m_counter.localData(), 1);
        QVERIFY(QSqlDatabase::contains(name));
        QVERIFY(b.db().isOpen());
        b.release();
        QCOMPARE(m_counter.localData(), 0);
        QVERIFY(!QSqlDatabase::contains(name));
        QVERIFY(!b.db().isValid());

        // A thread whose count is already 0 removes at once as well.
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        a.release();
        QVERIFY(!QSqlDatabase::contains(name));
        QCOMPARE(m_counter.localData(), 0);
    }

    void releaseWithoutInit()
    {
        QThreadStorage<int> &fresh = *newCounter();
        HostDb db(QStringLiteral("noinit"), dbPath(QStringLiteral("noinit.db")), &fresh);
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db.objectName());
        QVERIFY(!fresh.hasLocalData());
        db.release();
        QVERIFY(!QSqlDatabase::contains(db.objectName()));
    }

    void connectionsPerThread()
    {
        const QString path = dbPath(QStringLiteral("perthread.db"));
        HostDb mine(QStringLiteral("perthread"), path, &m_counter);
        mine.init();
        QString otherName;
        bool otherOpen = false;
        int otherCount = 0;
        runInThread(QStringLiteral("other"), [&] {
            HostDb theirs(QStringLiteral("perthread"), path, &m_counter);
            theirs.init();
            otherName = theirs.objectName();
            otherOpen = theirs.db().isOpen();
            otherCount = m_counter.localData();
            theirs.release();
        });
        QVERIFY(otherOpen);
        QCOMPARE(otherCount, 1);
        QVERIFY(otherName != mine.objectName());
        // The other thread's count did not touch this one's.
        QCOMPARE(m_counter.localData(), 1);
        QVERIFY(mine.db().isOpen());
        mine.release();
    }

    void createsFolder()
    {
        const QString path = dbPath(QStringLiteral("deep/er/folder.db"));
        HostDb db(QStringLiteral("folder"), path, &m_counter);
        db.init();
        QVERIFY(db.db().isOpen());
        QVERIFY(db.exec("create table t(v)"));
        QVERIFY(QFileInfo(path).isFile());
        db.release();
    }

    void failures()
    {
        QThreadStorage<int> &counter = *newCounter();
        ravixtest::MessageCapture capture;

        // The folder cannot exist below a plain file: logged, nothing counted or registered.
        QFile plain(dbPath(QStringLiteral("plainfile")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString blocked = dbPath(QStringLiteral("plainfile/sub/x.db"));
        HostDb noDir(QStringLiteral("nodir"), blocked, &counter);
        noDir.init();
        QVERIFY(capture.contains(QtCriticalMsg, "Can't create the database directory " + blocked));
        QVERIFY(!counter.hasLocalData());
        QVERIFY(!QSqlDatabase::contains(noDir.objectName()));

        // Without a path nothing happens at all.
        HostDb noPath(QStringLiteral("nopath"), QString(), &counter);
        noPath.init();
        QVERIFY(!counter.hasLocalData());
        QVERIFY(!QSqlDatabase::contains(noPath.objectName()));

        // A read-only open of a missing file fails: logged without the password, still counted.
        capture.clear();
        const QString missing = dbPath(QStringLiteral("missing-ro.db"));
        HostDb ro(QStringLiteral("badopen"), missing, &counter,
                  BaseSqliteDbConnector::ReadOnlyMode);
        ro.m_user = QStringLiteral("bob");
        ro.m_password = QStringLiteral("s3cret-pw");
        ro.init();
        QVERIFY(!ro.db().isOpen());
        QVERIFY(QSqlDatabase::contains(ro.objectName()));
        QCOMPARE(counter.localData(), 1);
        const QStringList critical = capture.messages(QtCriticalMsg);
        QCOMPARE(critical.size(), 1);
        const QString line = critical.first();
        QVERIFY2(!line.contains("s3cret-pw"), qPrintable(line));
        const QString indent = "\n" + QString(15, ' ');
        const QStringList items = line.split(indent);
        QCOMPARE(items.size(), 8); // nothing before the first break, then the seven items
        QCOMPARE(items.at(1), QStringLiteral("Database {"));
        QCOMPARE(items.at(2), "localhost:0//" + readOnlyUri(missing));
        QCOMPARE(items.at(3), QStringLiteral("bob"));
        QCOMPARE(items.at(4), QStringLiteral("****"));
        QCOMPARE(items.at(5), QStringLiteral("QSQLITE"));
        QCOMPARE(items.at(6), QStringLiteral("} opening error: "));
        QVERIFY2(!items.at(7).isEmpty(), qPrintable(line));
        QVERIFY(!QFileInfo::exists(missing));

        // An empty password stays empty in the line.
        capture.clear();
        ro.m_password.clear();
        ro.release();
        ro.init();
        QCOMPARE(capture.messages(QtCriticalMsg).size(), 1);
        QCOMPARE(capture.messages(QtCriticalMsg).first().split(indent).at(4), QString());
        ro.release();
        QVERIFY(!QSqlDatabase::contains(ro.objectName()));
    }

    void checkVersion_data()
    {
        QTest::addColumn<QString>("content"); // missing, empty, nometa, or the stored version
        QTest::addColumn<bool>("withUpgradeArg");
        QTest::addColumn<bool>("upgradeAllowed");
        QTest::addColumn<int>("upgradeMode");
        QTest::addColumn<int>("repairMode");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("logged");

        const QString keep = QStringLiteral("keep");
        const QString restart =
            QStringLiteral("Database checking error. Try restart the application");
        const QString tooNew = QStringLiteral("The database requires a application update.");
        const int ok = BaseSqliteDbConnector::DbVersionOk;
        const int err = BaseSqliteDbConnector::DbVersionError;
        const int old = BaseSqliteDbConnector::DbVersionTooOld;
        const int newer = BaseSqliteDbConnector::DbVersionTooNew;
        const int none = BaseSqliteDbConnector::DbNotExists;
        const int works = HostDb::UpgradeWorks, fails = HostDb::UpgradeFails,
                  idle = HostDb::UpgradeDoesNothing;
        const int noRepair = HostDb::NoRepair, repairs = HostDb::RepairCreatesMeta,
                  claims = HostDb::RepairClaimsOnly;

        // clang-format off
        QTest::newRow("missing") << "missing" << false << false << works << noRepair << none << keep << -1 << false;
        QTest::newRow("missing, upgrade form") << "missing" << true << true << works << noRepair << none << keep << -1 << false;
        QTest::newRow("empty file") << "empty" << false << false << works << noRepair << none << keep << -1 << false;
        QTest::newRow("empty file, upgrade form") << "empty" << true << true << works << noRepair << none << keep << -1 << false;
        QTest::newRow("equal") << "3" << false << false << works << noRepair << ok << keep << 3 << false;
        QTest::newRow("equal, upgrade form") << "3" << true << false << works << noRepair << ok << keep << 3 << false;
        QTest::newRow("older") << "2" << false << false << works << noRepair << old << "The database is too old." << 2 << false;
        QTest::newRow("newer") << "4" << false << false << works << noRepair << newer << tooNew << 4 << false;
        QTest::newRow("newer, upgrade form") << "4" << true << true << works << noRepair << newer << tooNew << 4 << false;
        QTest::newRow("older, upgrade refused") << "2" << true << false << works << noRepair << err << restart << 2 << false;
        QTest::newRow("older, upgrade works") << "1" << true << true << works << noRepair << ok << keep << 3 << false;
        QTest::newRow("older, upgrade fails") << "2" << true << true << fails << noRepair << err << restart << 2 << false;
        QTest::newRow("older, upgrade changes nothing") << "2" << true << true << idle << noRepair << err << restart << 2 << false;
        QTest::newRow("unreadable") << "nometa" << false << false << works << noRepair << err << keep << -1 << false;
        QTest::newRow("unreadable, upgrade form") << "nometa" << true << true << works << noRepair << err << keep << -1 << true;
        QTest::newRow("unreadable, repaired") << "nometa" << true << true << works << repairs << ok << keep << 3 << false;
        QTest::newRow("unreadable, repair claimed only") << "nometa" << true << true << works << claims << err << keep << -1 << true;
        // clang-format on
    }
    void checkVersion()
    {
        QFETCH(QString, content);
        QFETCH(bool, withUpgradeArg);
        QFETCH(bool, upgradeAllowed);
        QFETCH(int, upgradeMode);
        QFETCH(int, repairMode);
        QFETCH(int, expected);
        QFETCH(QString, error);
        QFETCH(int, version);
        QFETCH(bool, logged);

        const QString path = dbPath(QStringLiteral("version-%1.db").arg(QTest::currentDataTag()));
        HostDb db(QStringLiteral("ver"), path, &m_counter);
        db.m_upgradeMode = HostDb::UpgradeMode(upgradeMode);
        db.m_repairMode = HostDb::RepairMode(repairMode);
        if (content == "empty") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (content == "nometa") {
            db.init();
            QVERIFY(db.exec("create table other(v)"));
            db.release();
        } else if (content != "missing") {
            db.writeVersion(content.toInt());
        }

        ravixtest::MessageCapture capture;
        qint32 read = -1;
        // A preset text survives where the check has nothing to say.
        QString text = QStringLiteral("keep");
        const int state = withUpgradeArg ? db.checkVersion(read, text, upgradeAllowed)
                                         : db.checkVersion(read, text);
        QCOMPARE(state, expected);
        QCOMPARE(text, error);
        QCOMPARE(read, version);
        QCOMPARE(capture.contains(QtCriticalMsg, error), logged);

        if (content == "1" && upgradeAllowed)
            QCOMPARE(db.m_upgradedFrom, 1);
        if (repairMode != HostDb::NoRepair) {
            // The state the reader reported is the one handed to the repair.
            QCOMPARE(int(db.m_lastState), int(BaseSqliteDbConnector::MetadataStateUser) + 3);
            // A repair that never takes ends in an error instead of endless re-checks.
            QVERIFY(db.m_repairCalls >= 1 && db.m_repairCalls <= 100);
            // Each repair is followed by a check through the host's own checkVersion().
            if (withUpgradeArg)
                QCOMPARE(db.m_checkCalls, db.m_repairCalls + 1);
        }
        // No connection stays behind after the check.
        QVERIFY(!QSqlDatabase::contains(db.objectName()));
    }

    void checkVersionDefaultTexts_data()
    {
        QTest::addColumn<bool>("withUpgradeArg");
        QTest::newRow("plain") << false;
        QTest::newRow("upgrade form") << true;
    }
    void checkVersionDefaultTexts()
    {
        QFETCH(bool, withUpgradeArg);
        const QString restart =
            QStringLiteral("Database checking error. Try restart the application");
        ravixtest::MessageCapture capture;

        // An unreadable version with an empty error text gets the default text.
        const QString path = dbPath(QStringLiteral("defaults-%1.db").arg(withUpgradeArg));
        HostDb db(QStringLiteral("deftext"), path, &m_counter);
        db.init();
        QVERIFY(db.exec("create table other(v)"));
        db.release();
        qint32 read = -1;
        QString text;
        const int state =
            withUpgradeArg ? db.checkVersion(read, text, true) : db.checkVersion(read, text);
        QCOMPARE(state, int(BaseSqliteDbConnector::DbVersionError));
        QCOMPARE(text, restart);
        // Only the upgrade form logs it.
        QCOMPARE(capture.contains(QtCriticalMsg, restart), withUpgradeArg);

        // No path: an error in both forms, always logged.
        capture.clear();
        HostDb noPath(QStringLiteral("deftext"), QString(), &m_counter);
        text = QStringLiteral("old text");
        const int noPathState = withUpgradeArg ? noPath.checkVersion(read, text, true)
                                               : noPath.checkVersion(read, text);
        QCOMPARE(noPathState, int(BaseSqliteDbConnector::DbVersionError));
        QCOMPARE(text, QStringLiteral("Database name is empty"));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Database name is empty")));
    }

    void resetDb()
    {
        const QString path = dbPath(QStringLiteral("reset.db"));
        HostDb db(QStringLiteral("reset"), path, &m_counter);
        db.init();
        QVERIFY(db.exec("create table items(id integer primary key autoincrement, v text)"));
        // A keyword as a table name must not break the reset.
        QVERIFY(db.exec("create table \"order\"(id integer primary key autoincrement, v text)"));
        QVERIFY(db.exec("create table plain(v text)"));
        for (int i = 0; i < 5; ++i) {
            QVERIFY(db.exec("insert into items(v) values('a')"));
            QVERIFY(db.exec("insert into \"order\"(v) values('b')"));
            QVERIFY(db.exec("insert into plain(v) values('c')"));
        }
        QCOMPARE(db.scalar("select max(id) from items"), qint64(5));

        QVERIFY(db.resetDb());
        QCOMPARE(db.scalar("select count(*) from items"), qint64(0));
        QCOMPARE(db.scalar("select count(*) from \"order\""), qint64(0));
        QCOMPARE(db.scalar("select count(*) from plain"), qint64(0));
        // The counters start again from the beginning.
        QVERIFY(db.exec("insert into items(v) values('again')"));
        QCOMPARE(db.scalar("select id from items"), qint64(1));
        QVERIFY(db.exec("insert into \"order\"(v) values('again')"));
        QCOMPARE(db.scalar("select id from \"order\""), qint64(1));

        // An empty list does nothing and succeeds.
        QVERIFY(db.resetDbTables(QStringList()));
        QCOMPARE(db.scalar("select count(*) from items"), qint64(1));
        db.release();
    }

    void resetDbWithoutAutoincrement()
    {
        const QString path = dbPath(QStringLiteral("reset-noauto.db"));
        HostDb db(QStringLiteral("resetnoauto"), path, &m_counter);
        db.init();
        QVERIFY(db.exec("create table a(v text)"));
        QVERIFY(db.exec("create table b(v text)"));
        QVERIFY(db.exec("insert into a values('1')"));
        QVERIFY(db.exec("insert into b values('2')"));

        ravixtest::MessageCapture capture;
        QVERIFY(!db.resetDb());
        QVERIFY(capture.contains(QtCriticalMsg, "UPDATE SQLITE_SEQUENCE SET SEQ=0 WHERE NAME="));
        QVERIFY(capture.contains(QtCriticalMsg, "no such table"));
        // Rolled back: the first table's delete did not stay.
        QCOMPARE(db.scalar("select count(*) from a"), qint64(1));
        QCOMPARE(db.scalar("select count(*) from b"), qint64(1));
        // No transaction is left open.
        QVERIFY(db.dbRef().transaction());
        QVERIFY(db.dbRef().commit());
        db.release();
    }

    void vacuum()
    {
        const QString path = dbPath(QStringLiteral("vacuum.db"));
        HostDb db(QStringLiteral("vacuum"), path, &m_counter);
        {
            ravixtest::MessageCapture capture;
            QVERIFY(!db.vacuum());
            QCOMPARE(capture.messages(QtCriticalMsg), QStringList{"DATABASE IS NOT OPEN"});
        }
        db.init();
        QVERIFY(db.exec("create table t(v text)"));
        QVERIFY(db.exec("create index t_v on t(v)"));
        QVERIFY(db.exec("insert into t values(zeroblob(200000))"));
        QVERIFY(db.exec("delete from t"));
        const qint64 before = QFileInfo(path).size();
        QVERIFY(db.vacuum());
        QVERIFY(QFileInfo(path).size() < before);

        // Inside an open transaction VACUUM is refused and reported.
        ravixtest::MessageCapture capture;
        QVERIFY(db.dbRef().transaction());
        QVERIFY(!db.vacuum());
        QVERIFY(capture.contains(QtCriticalMsg, "VACUUM;"));
        QVERIFY(db.dbRef().rollback());
        db.release();
    }

    void concurrentWriters()
    {
        const QString path = dbPath(QStringLiteral("busy.db"));
        {
            HostDb setup(QStringLiteral("busy"), path, &m_counter);
            setup.init();
            QVERIFY(setup.exec("create table rows(id integer primary key autoincrement, "
                               "writer integer, n integer)"));
            setup.release();
        }
        // Another database whose connection must survive the clean-up.
        QThreadStorage<int> &otherCounter = *newCounter();
        HostDb other(QStringLiteral("unrelated"), dbPath(QStringLiteral("unrelated.db")),
                     &otherCounter);
        other.init();

        constexpr int writers = 4;
        constexpr int rowsEach = 30;
        QAtomicInt failures;
        QAtomicInt writersDone;
        QAtomicInt reads;
        ravixtest::MessageCapture capture;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back(QThread::create([&, w] {
                HostDb db(QStringLiteral("busy"), path, &m_counter);
                db.init();
                for (int n = 0; n < rowsEach; ++n) {
                    QSqlQuery query(db.dbRef());
                    query.prepare("insert into rows(writer, n) values(?, ?)");
                    query.addBindValue(w);
                    query.addBindValue(n);
                    if (!query.exec()) {
                        qWarning() << "insert failed" << query.lastError();
                        failures.ref();
                    }
                }
                writersDone.ref();
                // No release: the connection stays for clearAllConnections().
            }));
        }
        threads.emplace_back(QThread::create([&] {
            HostDb db(QStringLiteral("busy"), path, &m_counter,
                      BaseSqliteDbConnector::ReadOnlyMode);
            db.init();
            do {
                QSqlQuery query(db.dbRef());
                if (!query.exec("select count(*) from rows") || !query.next()) {
                    qWarning() << "read failed" << query.lastError();
                    failures.ref();
                }
                reads.ref();
                // Readers leave the writers room on a busy machine.
                QThread::msleep(2);
            } while (writersDone.loadAcquire() < writers);
        }));
        for (auto &thread : threads)
            thread->start();
        for (auto &thread : threads)
            QVERIFY(thread->wait(300000));
        threads.clear();

        QCOMPARE(failures.loadAcquire(), 0);
        QVERIFY(reads.loadAcquire() > 0);
        QStringList busyNames;
        for (const QString &name : QSqlDatabase::connectionNames()) {
            if (name.startsWith("busy"))
                busyNames << name;
        }
        QCOMPARE(busyNames.size(), writers + 1);

        HostDb main(QStringLiteral("busy"), path, &m_counter);
        main.init();
        QCOMPARE(main.scalar("select count(*) from rows"), qint64(writers * rowsEach));
        QCOMPARE(main.scalar("select count(distinct writer * 1000 + n) from rows"),
                 qint64(writers * rowsEach));

        main.clearAllConnections();
        for (const QString &name : QSqlDatabase::connectionNames())
            QVERIFY2(!name.startsWith("busy"), qPrintable(name));
        QVERIFY(QSqlDatabase::contains(other.objectName()));
        QVERIFY(other.db().isOpen());
        other.release();
    }
};

QTEST_GUILESS_MAIN(TestBaseSqliteDbConnector)
#include "tst_basesqlitedbconnector.moc"
