// SPDX-License-Identifier: MIT
#include "sqlite/basesqlitedbconnector.h"

#include "appframe/dircreator.h"
#include "logger/logwrappers.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace ravix {

namespace {

const QString BUSY_TIMEOUT_OPTION = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
const QString READ_ONLY_OPTIONS = QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");

// A host whose repair never takes would otherwise re-check without end.
constexpr int MAX_METADATA_REPAIRS = 8;
thread_local int repairDepth = 0;

QString objectNameFor(const QString &dbName, bool readOnly)
{
    QThread *thread = QThread::currentThread();
    return dbName + QString::number(quintptr(QThread::currentThreadId()), 16) +
           (thread ? thread->objectName() : QStringLiteral("========")) +
           (readOnly ? QStringLiteral("-RO") : QStringLiteral("-RW"));
}

// SQLite's URI of a file to be read only, with a private cache that keeps the handle apart
// from the writers' shared one. An absolute path goes after an empty authority ("file:///x";
// a Windows drive "file:///C:/x"), so that a path beginning with two slashes (a share) stays
// a path instead of turning into a host name; '%', '#' and '?' are escaped.
QString readOnlyUri(const QString &path)
{
#ifdef Q_OS_WIN
    QString p = QDir::fromNativeSeparators(path);
    if (p.size() > 2 && p.at(0).isLetter() && p.at(1) == QLatin1Char(':') &&
        p.at(2) == QLatin1Char('/'))
        p.prepend(QLatin1Char('/'));
#else
    QString p = path;
#endif
    p.replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('#'), QLatin1String("%23"))
        .replace(QLatin1Char('?'), QLatin1String("%3F"));
    const QString authority = p.startsWith(QLatin1Char('/')) ? QStringLiteral("//") : QString();
    return QStringLiteral("file:") + authority + p + QStringLiteral("?mode=ro&cache=private");
}

// Table names are quoted, so that names that are keywords or hold quotes reach the
// statements intact.
QString quoted(const QString &text, QChar quote)
{
    QString escaped = text;
    escaped.replace(quote, QString(2, quote));
    return quote + escaped + quote;
}

// Where both version checks stop before reading: no path is an error, a missing or empty
// file is a database still to be created.
bool checkFile(const QString &path, QString &error, BaseSqliteDbConnector::EDbVersionState &state)
{
    if (path.isEmpty()) {
        error = BaseSqliteDbConnector::tr("Database name is empty");
        qCritical().noquote() << error;
        state = BaseSqliteDbConnector::DbVersionError;
        return false;
    }
    const QFileInfo file(path);
    if (!file.exists() || file.size() == 0) {
        state = BaseSqliteDbConnector::DbNotExists;
        return false;
    }
    return true;
}

} // namespace

BaseSqliteDbConnector::BaseSqliteDbConnector(const QString &dbName, QThreadStorage<int> *counter,
                                             QObject *parent)
    : BaseSqliteDbConnector(dbName, ReadWriteMode, counter, parent)
{
}

BaseSqliteDbConnector::BaseSqliteDbConnector(const QString &dbName, ConnectionMode mode,
                                             QThreadStorage<int> *counter, QObject *parent)
    : QObject(parent), _readOnly(mode == ReadOnlyMode), _dbName(dbName), _counter(counter)
{
    setObjectName(objectNameFor(_dbName, _readOnly));
}

BaseSqliteDbConnector::~BaseSqliteDbConnector() = default;

QSqlDatabase &BaseSqliteDbConnector::dbRef()
{
    return _db;
}

QSqlDatabase BaseSqliteDbConnector::db()
{
    return _db;
}

void BaseSqliteDbConnector::clearAllConnections()
{
    release();
    if (_dbName.isEmpty())
        return;
    const QStringList names = QSqlDatabase::connectionNames();
    for (const QString &name : names) {
        if (!name.startsWith(_dbName))
            continue;
        {
            QSqlDatabase connection = QSqlDatabase::database(name, true);
            if (connection.isOpen())
                connection.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

bool BaseSqliteDbConnector::vacuum() const
{
    if (!_db.isOpen()) {
        qCritical() << "DATABASE IS NOT OPEN";
        return false;
    }
    QSqlQuery query(_db);
    for (const QString &statement : {QStringLiteral("reindex;"), QStringLiteral("VACUUM;")}) {
        if (!query.exec(statement)) {
            qCritical().noquote() << query.lastQuery() << query.lastError();
            return false;
        }
    }
    return true;
}

bool BaseSqliteDbConnector::resetDb()
{
    const QStringList tables = _db.tables(QSql::Tables);
    if (!_db.transaction()) {
        qCritical() << _db.lastError();
        return false;
    }
    if (resetDbTables(tables) && _db.commit())
        return true;
    qCritical() << _db.lastError();
    _db.rollback();
    return false;
}

BaseSqliteDbConnector::EDbVersionState
BaseSqliteDbConnector::checkVersion(qint32 &version, QString &error, bool upgradeAllowed)
{
    EDbVersionState fileState = DbVersionOk;
    if (!checkFile(databasePath(), error, fileState))
        return fileState;

    EMetadataState state = MetadataStateNone;
    if (!readVersion(version, state)) {
        // The check after a repair starts again through the host's own checkVersion(); the
        // depth of repairs on this thread bounds a repair that never takes.
        if (repairDepth < MAX_METADATA_REPAIRS && processMetadataState(state, error)) {
            ++repairDepth;
            const EDbVersionState again = checkVersion(version, error, upgradeAllowed);
            --repairDepth;
            return again;
        }
        if (error.isEmpty())
            error = tr("Database checking error. Try restart the application");
        qCritical().noquote() << error;
        return DbVersionError;
    }

    const qint32 expected = currentVersion();
    if (version == expected)
        return DbVersionOk;
    if (version > expected) {
        error = tr("The database requires a application update.");
        return DbVersionTooNew;
    }
    if (!upgradeAllowed || !upgrade(version)) {
        error = tr("Database checking error. Try restart the application");
        return DbVersionError;
    }
    // The upgrade must have moved the stored version; a database still too old is an error.
    return checkVersion(version, error, false);
}

BaseSqliteDbConnector::EDbVersionState BaseSqliteDbConnector::checkVersion(qint32 &version,
                                                                           QString &error)
{
    EDbVersionState fileState = DbVersionOk;
    if (!checkFile(databasePath(), error, fileState))
        return fileState;

    EMetadataState state = MetadataStateNone;
    if (!readVersion(version, state)) {
        if (error.isEmpty())
            error = tr("Database checking error. Try restart the application");
        return DbVersionError;
    }

    const qint32 expected = currentVersion();
    if (version == expected)
        return DbVersionOk;
    if (version < expected) {
        error = tr("The database is too old.");
        return DbVersionTooOld;
    }
    error = tr("The database requires a application update.");
    return DbVersionTooNew;
}

void BaseSqliteDbConnector::init()
{
    const QString path = databasePath();
    if (path.isEmpty())
        return;

    const QFileInfo file(path);
    if (!DirCreator::checkAndCreate(file.absolutePath(), DirCreator::DEFAULT_ALL)) {
        qCritical().noquote()
            << tr("Can't create the database directory %1").arg(file.absoluteFilePath());
        return;
    }

    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        _db = QSqlDatabase::database(name, true);
    } else {
        _db = QSqlDatabase::addDatabase(driver(), name);
        _db.setConnectOptions(_readOnly ? BUSY_TIMEOUT_OPTION + READ_ONLY_OPTIONS
                                        : BUSY_TIMEOUT_OPTION);
    }

    if (!_db.isOpen()) {
        _db.setDatabaseName(_readOnly ? readOnlyUri(path) : path);
        _db.setHostName(host());
        _db.setPort(port());
        _db.setUserName(user());
        _db.setPassword(password());

        if (_db.open()) {
            QSqlQuery pragma(_db);
            if (!pragma.exec(QStringLiteral("PRAGMA foreign_keys = true;")))
                qWarning() << pragma.lastError();
        } else {
            // The password itself never goes into a log file.
            const QString maskedPassword =
                _db.password().isEmpty() ? QString() : QStringLiteral("****");
            qCritical().noquote().nospace()
                << loglist({tr("Database {"),
                            _db.hostName() + QLatin1Char(':') + QString::number(_db.port()) +
                                QStringLiteral("//") + _db.databaseName(),
                            _db.userName(), maskedPassword, _db.driverName(),
                            tr("} opening error: "), _db.lastError().databaseText()});
        }
    }

    attacheDatabases();

    if (!_counter)
        return;
    _counter->setLocalData(_counter->hasLocalData() ? _counter->localData() + 1 : 1);
}

void BaseSqliteDbConnector::release()
{
    if (_counter && _counter->hasLocalData()) {
        const int count = _counter->localData();
        if (count > 0) {
            _counter->setLocalData(count - 1);
            if (count - 1 != 0)
                return;
        } else {
            _counter->setLocalData(0);
        }
    }
    if (_db.isOpen())
        _db.close();
    _db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName());
}

void BaseSqliteDbConnector::attacheDatabases() {}

QString BaseSqliteDbConnector::driver() const
{
    return QStringLiteral("QSQLITE");
}

QString BaseSqliteDbConnector::host() const
{
    return QStringLiteral("localhost");
}

qint16 BaseSqliteDbConnector::port() const
{
    return 0;
}

QString BaseSqliteDbConnector::user() const
{
    return QString();
}

QString BaseSqliteDbConnector::password() const
{
    return QString();
}

bool BaseSqliteDbConnector::resetDbTables(const QStringList &tables)
{
    QSqlQuery query(_db);
    for (const QString &table : tables) {
        const QStringList statements = {
            QStringLiteral("delete from ") + quoted(table, QLatin1Char('"')),
            QStringLiteral("UPDATE SQLITE_SEQUENCE SET SEQ=0 WHERE NAME=%1")
                .arg(quoted(table, QLatin1Char('\'')))};
        for (const QString &statement : statements) {
            if (!query.exec(statement)) {
                qCritical().noquote() << query.lastError() << logtab << query.lastQuery() << logtab
                                      << query.executedQuery() << logvariant(query.boundValues());
                return false;
            }
        }
    }
    return true;
}

bool BaseSqliteDbConnector::processMetadataState(EMetadataState state, QString &error)
{
    Q_UNUSED(state)
    Q_UNUSED(error)
    return false;
}

} // namespace ravix
