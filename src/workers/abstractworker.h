// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QObject>

namespace ravix {

/// A unit of work that runs in a thread of its own (see AbstractWorkerThread).
///
/// Subclasses implement doStart() and doStop(); both run in the hosting thread. A worker whose
/// work is done emits needQuit(), which ends the hosting thread's event loop; the thread then
/// calls stop() and deletes the worker.
class RAVIXCORE_EXPORT AbstractWorker : public QObject
{
    Q_OBJECT
public:
    AbstractWorker();
    ~AbstractWorker() override;

protected:
    /// Begins the work; false means the worker could not start.
    virtual bool doStart() = 0;
    /// Ends the work; false means it could not be stopped.
    virtual bool doStop() = 0;

Q_SIGNALS:
    void started();
    void stopped();
    /// Emitted by a subclass when its work is done.
    void needQuit();

public Q_SLOTS:
    /// doStart(); emits started() when it succeeded.
    void start();
    /// doStop(); emits stopped() when it succeeded.
    void stop();
    /// doStop() then doStart(). Emits stopped() only when the stop succeeded and the start
    /// failed; a successful restart emits nothing.
    void restart();
};

} // namespace ravix
