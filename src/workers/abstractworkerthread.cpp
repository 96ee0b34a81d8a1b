// SPDX-License-Identifier: MIT
#include "workers/abstractworkerthread.h"

namespace ravix {

namespace {
const QString kPrefix = QStringLiteral("AWT");
}

AbstractWorkerThread::AbstractWorkerThread(AbstractWorker *worker, QObject *parent)
    : QThread(parent), worker(worker)
{
    if (!worker)
        return;
    const QString name = worker->objectName();
    setObjectName(name.isEmpty() ? kPrefix + QLatin1String(worker->metaObject()->className())
                                 : name);
    worker->moveToThread(this);
    connect(worker, &QObject::objectNameChanged, this,
            &AbstractWorkerThread::workerObjectNameChanged);
    connect(this, &QThread::started, this, &AbstractWorkerThread::threadStarted);
    connect(this, &QThread::finished, this, &AbstractWorkerThread::threadFinished);
    connect(worker, &AbstractWorker::needQuit, this, &QThread::quit);
}

AbstractWorkerThread::~AbstractWorkerThread()
{
    // run() deletes the worker; when it never ran or was terminated the worker is left to us.
    // It is safe to delete here because no thread executes it any more.
    if (worker && (isFinished() || !isRunning())) {
        wait(); // a terminated thread may still be winding down
        delete worker.data();
    }
}

void AbstractWorkerThread::run()
{
    if (!worker)
        return;
    worker->start();
    exec();
    if (worker) {
        worker->stop();
        // Deleted in this thread when it finishes.
        worker->deleteLater();
    }
    worker.clear();
}

void AbstractWorkerThread::threadStarted() {}

void AbstractWorkerThread::threadFinished() {}

void AbstractWorkerThread::workerObjectNameChanged(QString oName)
{
    if (!oName.isEmpty()) {
        setObjectName(kPrefix + oName);
        return;
    }
    const QObject *source = sender() ? sender() : worker.data();
    setObjectName(kPrefix +
                  (source ? QLatin1String(source->metaObject()->className()) : QLatin1String()));
}

} // namespace ravix
