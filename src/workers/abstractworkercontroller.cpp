// SPDX-License-Identifier: MIT
#include "workers/abstractworkercontroller.h"

#include <QCoreApplication>

#include <algorithm>

namespace ravix {

AbstractWorkerController::AbstractWorkerController(QObject *parent) : QObject(parent) {}

AbstractWorkerController::~AbstractWorkerController()
{
    // Threads are our children; deleting one that still runs would abort the process.
    // Release those that were started: each deletes itself once it has finished. One never
    // started would never finish, so it goes with us, as any other child.
    for (const QPointer<AbstractWorkerThread> &thread : qAsConst(threads)) {
        if (thread) {
            disconnect(thread, nullptr, this, nullptr);
            if (thread->isRunning() || thread->isFinished())
                thread->setParent(nullptr);
        }
    }
}

AbstractWorkerThread *AbstractWorkerController::addWorkerToThread(AbstractWorker *worker)
{
    if (!worker)
        return nullptr;
    auto *thread = new AbstractWorkerThread(worker, this);
    threads.append(thread);
    connect(this, &AbstractWorkerController::stopWorker, thread, &QThread::quit);
    // Queued: on Windows terminate() emits finished() in the caller's thread, holding the
    // thread's lock, and then delivers the deferred deletes posted so far; a thread deleted
    // right there would wait for that lock forever.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::QueuedConnection);
    connect(worker, &AbstractWorker::started, this, &AbstractWorkerController::workerStarted,
            Qt::QueuedConnection);
    connect(thread, &QObject::destroyed, this, &AbstractWorkerController::workerStopped);
    return thread;
}

void AbstractWorkerController::start()
{
    if (doStart())
        emit started();
    else
        emit stopWorker();
}

void AbstractWorkerController::beginStopping()
{
    emit stopWorker();
}

void AbstractWorkerController::stop()
{
    doStop();
    emit stopped();
}

void AbstractWorkerController::killThreads()
{
    doKillThreads();
    emit stopped();
}

void AbstractWorkerController::workerStarted()
{
    processStartedWorker();
}

void AbstractWorkerController::workerStopped()
{
    processStoppedWorker();
}

bool AbstractWorkerController::doStop()
{
    emit stopWorker();
    while (!threads.isEmpty()) {
        dropUnstartedThreads();
        QThread::msleep(10);
        QCoreApplication::processEvents();
        pruneThreads();
    }
    return true;
}

bool AbstractWorkerController::doKillThreads()
{
    int i = 0;
    while (!threads.isEmpty()) {
        dropUnstartedThreads();
        if (i >= threads.size())
            i = 0;
        if (threads.at(i))
            threads.at(i)->terminate();
        QThread::msleep(100);
        QCoreApplication::processEvents();
        if (i < threads.size() && !threads.at(i))
            threads.removeAt(i);
        else
            ++i;
    }
    return true;
}

void AbstractWorkerController::processStartedWorker() {}

void AbstractWorkerController::processStoppedWorker()
{
    pruneThreads();
}

void AbstractWorkerController::dropUnstartedThreads()
{
    // A thread that was never started would never finish, and waiting for it would never end.
    QList<AbstractWorkerThread *> unstarted;
    for (const QPointer<AbstractWorkerThread> &thread : qAsConst(threads)) {
        if (thread && !thread->isRunning() && !thread->isFinished())
            unstarted.append(thread);
    }
    // Deleting prunes the list through workerStopped(), hence the copy.
    qDeleteAll(unstarted);
}

void AbstractWorkerController::pruneThreads()
{
    threads.erase(std::remove_if(threads.begin(), threads.end(),
                                 [](const QPointer<AbstractWorkerThread> &t) { return !t; }),
                  threads.end());
}

} // namespace ravix
