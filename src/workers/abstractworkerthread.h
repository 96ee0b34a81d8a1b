// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/workers/abstractworker.h>

#include <QPointer>
#include <QThread>

namespace ravix {

/// A thread that hosts exactly one worker for its whole life.
///
/// The constructor moves the worker into this thread. run() starts the worker, runs the event
/// loop until quit() (or the worker's needQuit()), stops the worker and deletes it later.
/// The thread is named after the worker: its object name when set, else "AWT" and its class.
class RAVIXCORE_EXPORT AbstractWorkerThread : public QThread
{
    Q_OBJECT
public:
    AbstractWorkerThread(AbstractWorker *worker, QObject *parent = nullptr);
    /// Deletes the worker too when the thread never ran it to the end (never started, or
    /// terminated).
    ~AbstractWorkerThread() override;

protected:
    void run() override;

public Q_SLOTS:
    void threadStarted();
    void threadFinished();
    /// Follows renames of the worker: "AWT" and the new name, or "AWT" and the worker's class
    /// when the name became empty.
    void workerObjectNameChanged(QString oName);

protected:
    /// The hosted worker; null once it has been destroyed.
    QPointer<AbstractWorker> worker;
};

} // namespace ravix
