// SPDX-License-Identifier: MIT
#include "eventdb.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadStorage>
#include <QVariant>

namespace {

QThreadStorage<int> connectionUsers;

} // namespace

EventDb::EventDb(const QString &path, QObject *parent)
    : BaseSqliteDbConnector(QStringLiteral("events"), &connectionUsers, parent), _path(path)
{
}

bool EventDb::open(QString &error)
{
    QDir().mkpath(QFileInfo(_path).absolutePath());
    qint32 version = 0;
    EDbVersionState state = checkVersion(version, error, true);
    if (state == DbNotExists) {
        // A new file starts at the first schema and is brought up to date like any old one.
        if (!exec({QStringLiteral("CREATE TABLE events (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                  "at TEXT NOT NULL, kind TEXT NOT NULL, text TEXT)"),
                   QStringLiteral("PRAGMA user_version = 1")})) {
            error = tr("Cannot create the event database %1").arg(_path);
            return false;
        }
        qInfo().noquote() << "Event database created at schema version 1:" << _path;
        state = checkVersion(version, error, true);
    }
    if (state != DbVersionOk)
        return false;
    init();
    _open = true;
    return true;
}

void EventDb::close()
{
    if (_open)
        release();
    _open = false;
}

bool EventDb::addEvent(const QString &source, const QString &kind, const QString &text)
{
    if (!_open)
        return false;
    QSqlQuery query(dbRef());
    query.prepare(
        QStringLiteral("INSERT INTO events (at, source, kind, text) VALUES (?, ?, ?, ?)"));
    query.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    query.addBindValue(source);
    query.addBindValue(kind);
    query.addBindValue(text);
    if (!query.exec()) {
        qWarning().noquote() << "Event not recorded:" << query.lastError().text();
        return false;
    }
    return true;
}

qint64 EventDb::eventCount()
{
    if (!_open)
        return -1;
    QSqlQuery query(dbRef());
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM events")) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

bool EventDb::readVersion(qint32 &version, EMetadataState &state)
{
    state = MetadataStateNone;
    init();
    bool ok = false;
    {
        QSqlQuery query(dbRef());
        if (query.exec(QStringLiteral("PRAGMA user_version")) && query.next()) {
            version = query.value(0).toInt();
            ok = true;
        }
    }
    release();
    return ok;
}

bool EventDb::upgrade(qint32 fromVersion)
{
    if (fromVersion != 1)
        return false;
    const bool ok = exec({QStringLiteral("ALTER TABLE events ADD COLUMN source TEXT NOT NULL "
                                         "DEFAULT 'agent'"),
                          QStringLiteral("CREATE INDEX events_source ON events (source, at)"),
                          QStringLiteral("PRAGMA user_version = 2")});
    if (ok)
        qInfo().noquote() << "Event database upgraded from schema version" << fromVersion << "to"
                          << VERSION;
    return ok;
}

bool EventDb::exec(const QStringList &statements)
{
    init();
    bool ok = dbRef().transaction();
    {
        QSqlQuery query(dbRef());
        for (const QString &statement : statements) {
            if (!ok)
                break;
            ok = query.exec(statement);
            if (!ok)
                qWarning().noquote() << statement << ':' << query.lastError().text();
        }
    }
    ok = ok ? dbRef().commit() : (dbRef().rollback(), false);
    release();
    return ok;
}
