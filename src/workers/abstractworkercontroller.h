// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>
#include <ravixcore/workers/abstractworker.h>
#include <ravixcore/workers/abstractworkerthread.h>

#include <QList>
#include <QObject>
#include <QPointer>

namespace ravix {

/// Owns a set of worker threads and starts, stops or kills them together.
///
/// A subclass decides in doStart() which workers to create; addWorkerToThread() wraps each in
/// an AbstractWorkerThread that deletes itself once finished. stop() and killThreads() block
/// until every thread is gone but keep the calling thread's events flowing meanwhile.
/// Destroying the controller neither stops nor waits for its threads; those still alive
/// are released and delete themselves when they finish.
class RAVIXCORE_EXPORT AbstractWorkerController : public QObject
{
    Q_OBJECT
public:
    explicit AbstractWorkerController(QObject *parent = nullptr);
    ~AbstractWorkerController() override;

    // The virtual functions are declared in the order subclasses built elsewhere expect in the
    // virtual table, hence the changes of access.
protected:
    /// Creates and starts the workers; false asks every hosted thread to quit.
    virtual bool doStart() = 0;
    /// Asks every thread to quit and waits, without a time limit, until all are destroyed.
    virtual bool doStop();
    /// Terminates the threads one after another until all are destroyed.
    virtual bool doKillThreads();

public:
    /// Hosts the worker in a new thread, not yet started. Null for a null worker.
    virtual AbstractWorkerThread *addWorkerToThread(AbstractWorker *worker);

protected:
    /// Called when a hosted worker has started; does nothing by default.
    virtual void processStartedWorker();
    /// Called when a hosted thread was destroyed; prunes the thread list.
    virtual void processStoppedWorker();

Q_SIGNALS:
    void started();
    void stopped();
    /// Asks every hosted thread to quit.
    void stopWorker();

public Q_SLOTS:
    void start();
    /// Emits stopWorker() only, without waiting.
    void beginStopping();
    void stop();
    void killThreads();
    void workerStarted();
    void workerStopped();

protected:
    /// Removes the entries whose thread no longer exists, keeping the order of the others.
    void pruneThreads();
    /// Deletes the threads that were never started; their workers go with them.
    void dropUnstartedThreads();

    /// The threads created by addWorkerToThread(); destroyed ones read null until pruned.
    QList<QPointer<AbstractWorkerThread>> threads;
};

} // namespace ravix
