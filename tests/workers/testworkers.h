// SPDX-License-Identifier: MIT
#pragma once

// Workers and a controller whose behaviour the worker tests choose.
#include <ravixcore/workers/abstractworker.h>
#include <ravixcore/workers/abstractworkercontroller.h>
#include <ravixcore/workers/abstractworkerthread.h>

#include <QAtomicInt>
#include <QPointer>
#include <QThread>

namespace workertest {

const int kWait = 60000; // generous: the machine may be loaded

// A worker whose start and stop results are chosen by the test. With block set, doStart never
// returns (only killThreads can end it).
class TestWorker : public ravix::AbstractWorker
{
    Q_OBJECT
public:
    bool startResult = true;
    bool stopResult = true;
    bool block = false;
    QAtomicInt startCalls;
    QAtomicInt stopCalls;
    QThread *startThread = nullptr;
    QThread *stopThread = nullptr;

    void finishWork() { emit needQuit(); }

protected:
    bool doStart() override
    {
        startCalls.ref();
        startThread = QThread::currentThread();
        while (block)
            QThread::msleep(5);
        return startResult;
    }
    bool doStop() override
    {
        stopCalls.ref();
        stopThread = QThread::currentThread();
        return stopResult;
    }
};

class TestController : public ravix::AbstractWorkerController
{
    Q_OBJECT
public:
    int workerCount = 0;
    bool startResult = true;
    bool blockWorkers = false;
    int startedWorkers = 0;
    QList<QPointer<TestWorker>> workers;

    QList<QPointer<ravix::AbstractWorkerThread>> threadList() const { return threads; }

protected:
    bool doStart() override
    {
        for (int i = 0; i < workerCount; ++i) {
            auto *w = new TestWorker;
            w->block = blockWorkers;
            w->setObjectName(QStringLiteral("w%1").arg(i));
            workers.append(w);
            addWorkerToThread(w)->start();
        }
        return startResult;
    }
    void processStartedWorker() override { ++startedWorkers; }
};

} // namespace workertest
