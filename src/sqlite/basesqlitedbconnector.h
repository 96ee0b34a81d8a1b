// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QThreadStorage>

namespace ravix {

/// Base of a host's access to one SQLite database file: one named connection per thread,
/// counted per thread in a host-supplied QThreadStorage<int>, opened read-write or read-only,
/// with version check and upgrade, table reset and vacuum.
///
/// Calling order expected of a host: construct, checkVersion() (on DbNotExists create the
/// schema), init(), work through dbRef()/db(), release(); clearAllConnections() before the
/// file is replaced or deleted. init(), release() and everything that uses the handle run in
/// the thread that ran init().
class RAVIXCORE_EXPORT BaseSqliteDbConnector : public QObject
{
    Q_OBJECT
public:
    enum ConnectionMode { ReadOnlyMode = 0, ReadWriteMode = 1 };
    Q_ENUM(ConnectionMode)

    enum EDbVersionState {
        DbVersionOk = 0,     ///< stored version equals the expected one
        DbVersionError = 1,  ///< no path, unreadable version or failed upgrade; error text set
        DbVersionTooOld = 2, ///< stored version lower (check without upgrade only)
        DbVersionTooNew = 3, ///< stored version higher: the application must be updated
        DbNotExists = 4      ///< file missing or empty; error text untouched
    };
    Q_ENUM(EDbVersionState)

    /// Out-value of readVersion() handed back to processMetadataState(). Its values mean what
    /// the host makes them mean; hosts may use any int value from MetadataStateUser on.
    enum EMetadataState { MetadataStateNone = 0, MetadataStateUser = 0x100 };
    Q_ENUM(EMetadataState)

    /// Read-write object.
    BaseSqliteDbConnector(const QString &dbName, QThreadStorage<int> *counter,
                          QObject *parent = nullptr);
    /// Read-only for ReadOnlyMode, read-write for any other value.
    BaseSqliteDbConnector(const QString &dbName, ConnectionMode mode, QThreadStorage<int> *counter,
                          QObject *parent = nullptr);
    /// Neither releases nor removes the connection.
    ~BaseSqliteDbConnector() override;

    virtual QSqlDatabase &dbRef();
    virtual QSqlDatabase db();

    /// Releases this object's connection, then closes and removes every connection whose name
    /// starts with the database name, in every thread. Run it only while the database is idle.
    virtual void clearAllConnections();
    /// Rebuilds the indexes and compacts the file.
    virtual bool vacuum() const;
    /// Empties every table and restarts the AUTOINCREMENT counters in one transaction.
    virtual bool resetDb();

    /// Checks the stored version; a too old one is upgraded when \a upgradeAllowed.
    virtual EDbVersionState checkVersion(qint32 &version, QString &error, bool upgradeAllowed);
    /// Checks the stored version without upgrading.
    virtual EDbVersionState checkVersion(qint32 &version, QString &error);

    /// Opens (or finds) this thread's connection and counts one more user in this thread.
    virtual void init();
    /// Counts one user less; the last one closes and removes the connection.
    virtual void release();

    /// Called by init() after opening; attach further database files here.
    virtual void attacheDatabases();

    virtual QString databasePath() const = 0;
    /// Must begin with the database name and differ between threads and modes;
    /// objectName() has these properties.
    virtual QString connectionName() const = 0;

    virtual QString driver() const;
    virtual QString host() const;
    virtual qint16 port() const;
    virtual QString user() const;
    virtual QString password() const;

    /// Empties the tables in list order and resets their AUTOINCREMENT counters.
    virtual bool resetDbTables(const QStringList &tables);

    virtual bool readVersion(qint32 &version, EMetadataState &state) = 0;
    virtual qint32 currentVersion() const = 0;
    virtual bool upgrade(qint32 fromVersion) = 0;

    /// Returning true declares the database repaired, so the version check runs again.
    virtual bool processMetadataState(EMetadataState state, QString &error);

    bool isReadOnly() const { return _readOnly; }
    QString dbName() const { return _dbName; }

private:
    QSqlDatabase _db;
    bool _readOnly;
    QString _dbName;
    QThreadStorage<int> *_counter;
};

} // namespace ravix
