// SPDX-License-Identifier: MIT
#pragma once

#include "eventdb.h"
#include "updatefetcher.h"

#include <ravixcore/srvmanifest/srvwrapper.h>

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>

// What the agent does once the root object has started the process: it supervises the
// services of its manifest, keeps the event journal, prepares updates and reports its state.
class Agent : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString workDir;
        QString updateUrl;
        // The update publisher's public key file; empty: update documents are not signed.
        QString updateKeyFile;
        int durationSeconds = 0;
        int statusIntervalMs = 5000;
        int updateIntervalMs = 15000;
    };

    explicit Agent(const Options &options, QObject *parent = nullptr);
    ~Agent() override;

    // False when the event journal cannot be opened.
    bool start();

public slots:
    // Stops the services and the downloads, records the stop and leaves the event loop.
    void shutdown(const QString &reason);

private slots:
    void serviceStarted(const QString &exe);
    void serviceFinished(const QString &exe);
    void logStatus();
    void recordEvent(const QString &kind, const QString &text);

private:
    void startServices();

    Options _options;
    EventDb _db;
    UpdateFetcher _updates;
    QTimer _statusTimer;
    QList<QPointer<ravix::BaseSrvWrapper>> _services;
    QMap<QString, int> _starts;
    int _statusCount = 0;
    bool _stopping = false;
};
