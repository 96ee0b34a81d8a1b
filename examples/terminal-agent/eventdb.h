// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/sqlite/basesqlitedbconnector.h>

#include <QString>

// The agent's event journal in an SQLite file. Version 1 had the time, kind and text of each
// event; version 2 adds the source that reported it, with an index for look-ups by source.
class EventDb : public ravix::BaseSqliteDbConnector
{
    Q_OBJECT
public:
    static constexpr qint32 VERSION = 2;

    EventDb(const QString &path, QObject *parent = nullptr);

    // Creates or upgrades the file as needed and opens this thread's connection; false with
    // a reason in \a error when the file cannot be used.
    bool open(QString &error);
    void close();

    bool addEvent(const QString &source, const QString &kind, const QString &text);
    qint64 eventCount();

    QString databasePath() const override { return _path; }
    QString connectionName() const override { return objectName(); }
    bool readVersion(qint32 &version, EMetadataState &state) override;
    qint32 currentVersion() const override { return VERSION; }
    bool upgrade(qint32 fromVersion) override;

private:
    bool exec(const QStringList &statements);

    QString _path;
    bool _open = false;
};
