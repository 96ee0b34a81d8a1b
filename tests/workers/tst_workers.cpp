// SPDX-License-Identifier: MIT
#include <ravixcore/workers/abstractworker.h>
#include <ravixcore/workers/abstractworkercontroller.h>
#include <ravixcore/workers/abstractworkerthread.h>

#include "testworkers.h"

#include <QtTest>

using namespace ravix;
using namespace workertest;

class TestWorkers : public QObject
{
    Q_OBJECT
private slots:
    void workerSignals_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<bool>("startOk");
        QTest::addColumn<bool>("stopOk");
        QTest::addColumn<int>("startedCount");
        QTest::addColumn<int>("stoppedCount");
        QTest::addColumn<int>("startCalls");
        QTest::addColumn<int>("stopCalls");
        QTest::newRow("start ok") << "start" << true << true << 1 << 0 << 1 << 0;
        QTest::newRow("start fails") << "start" << false << true << 0 << 0 << 1 << 0;
        QTest::newRow("stop ok") << "stop" << true << true << 0 << 1 << 0 << 1;
        QTest::newRow("stop fails") << "stop" << true << false << 0 << 0 << 0 << 1;
        QTest::newRow("restart ok") << "restart" << true << true << 0 << 0 << 1 << 1;
        QTest::newRow("restart, stop fails") << "restart" << true << false << 0 << 0 << 0 << 1;
        QTest::newRow("restart, start fails") << "restart" << false << true << 0 << 1 << 1 << 1;
    }
    void workerSignals()
    {
        QFETCH(QString, op);
        QFETCH(bool, startOk);
        QFETCH(bool, stopOk);
        TestWorker w;
        w.startResult = startOk;
        w.stopResult = stopOk;
        QSignalSpy started(&w, &AbstractWorker::started);
        QSignalSpy stopped(&w, &AbstractWorker::stopped);
        QVERIFY(QMetaObject::invokeMethod(&w, op.toLatin1().constData()));
        QTEST(started.count(), "startedCount");
        QTEST(stopped.count(), "stoppedCount");
        QTEST(int(w.startCalls), "startCalls");
        QTEST(int(w.stopCalls), "stopCalls");
    }

    void threadNames()
    {
        auto *w = new TestWorker;
        w->setObjectName("loader");
        QPointer<TestWorker> guard(w);
        AbstractWorkerThread thread(w);
        QCOMPARE(thread.objectName(), QString("loader"));
        QCOMPARE(w->thread(), &thread);
        w->setObjectName("x");
        QCOMPARE(thread.objectName(), QString("AWTx"));
        w->setObjectName(QString());
        QCOMPARE(thread.objectName(), QString("AWTworkertest::TestWorker"));

        auto *unnamed = new TestWorker;
        AbstractWorkerThread other(unnamed);
        QCOMPARE(other.objectName(), QString("AWTworkertest::TestWorker"));
        // Neither thread ever ran: each deletes its worker with itself.
    }

    // The worker starts in its own thread, needQuit ends the thread, and the thread stops and
    // deletes the worker there. The worker's signals come from its thread: the test takes them
    // over with atomics, as a signal spy must not be fed from another thread.
    void threadRunsWorker()
    {
        auto *w = new TestWorker;
        QPointer<TestWorker> guard(w);
        QAtomicPointer<QThread> startedIn;
        QAtomicPointer<QThread> stoppedIn;
        connect(
            w, &AbstractWorker::started, this,
            [&] { startedIn.storeRelease(QThread::currentThread()); }, Qt::DirectConnection);
        connect(
            w, &AbstractWorker::stopped, this, [&] { stoppedIn.storeRelease(w->stopThread); },
            Qt::DirectConnection);
        AbstractWorkerThread thread(w);
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(startedIn.loadAcquire(), kWait);
        QCOMPARE(startedIn.loadRelaxed(), &thread);
        QCOMPARE(w->startThread, &thread);
        QVERIFY(thread.isRunning());
        QMetaObject::invokeMethod(w, &TestWorker::finishWork, Qt::QueuedConnection);
        // needQuit reaches the thread object through this thread's event queue.
        QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), kWait);
        QVERIFY(thread.wait(kWait));
        QVERIFY(guard.isNull());
        QCOMPARE(stoppedIn.loadAcquire(), &thread);
    }

    void threadWithoutWorker()
    {
        auto *w = new TestWorker;
        AbstractWorkerThread thread(w);
        delete w;
        thread.start();
        QVERIFY(thread.wait(kWait));
        QCOMPARE(thread.objectName(), QString("AWTworkertest::TestWorker"));
    }

    void controllerStartStop_data()
    {
        QTest::addColumn<bool>("startOk");
        QTest::newRow("doStart succeeds") << true;
        QTest::newRow("doStart fails") << false;
    }
    void controllerStartStop()
    {
        QFETCH(bool, startOk);
        TestController c;
        c.workerCount = 3;
        c.startResult = startOk;
        QSignalSpy started(&c, &AbstractWorkerController::started);
        QSignalSpy stopped(&c, &AbstractWorkerController::stopped);
        QSignalSpy stopWorker(&c, &AbstractWorkerController::stopWorker);
        c.start();
        QCOMPARE(started.count(), startOk ? 1 : 0);
        QCOMPARE(stopWorker.count(), startOk ? 0 : 1);
        QCOMPARE(c.threadList().size(), 3);
        if (startOk) {
            // The workers' started() reaches the controller through its event queue.
            QTRY_COMPARE_WITH_TIMEOUT(c.startedWorkers, 3, kWait);
            for (const auto &t : c.threadList())
                QVERIFY(t->isRunning());
        }
        c.stop();
        QCOMPARE(stopped.count(), 1);
        QVERIFY(c.threadList().isEmpty());
        for (const auto &w : qAsConst(c.workers))
            QVERIFY(w.isNull());
    }

    void stopWithoutThreads()
    {
        TestController c;
        QSignalSpy stopped(&c, &AbstractWorkerController::stopped);
        c.stop();
        QCOMPARE(stopped.count(), 1);
        c.killThreads();
        QCOMPARE(stopped.count(), 2);
    }

    void addNullWorker()
    {
        TestController c;
        QVERIFY(!c.addWorkerToThread(nullptr));
        QVERIFY(c.threadList().isEmpty());
    }

    // A thread that ends is pruned from the list; the others keep their order.
    void pruneDestroyedThreads()
    {
        TestController c;
        c.workerCount = 3;
        c.start();
        const auto all = c.threadList();
        QTRY_COMPARE_WITH_TIMEOUT(c.startedWorkers, 3, kWait);
        QPointer<AbstractWorkerThread> middle = all.at(1);
        QMetaObject::invokeMethod(c.workers.at(1).data(), &TestWorker::finishWork,
                                  Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(middle.isNull(), kWait);
        const auto left = c.threadList();
        QCOMPARE(left.size(), 2);
        QCOMPARE(left.at(0), all.at(0));
        QCOMPARE(left.at(1), all.at(2));
        QVERIFY(c.workers.at(1).isNull());
        c.stop();
    }

    void beginStoppingDoesNotWait()
    {
        TestController c;
        c.workerCount = 2;
        c.start();
        QTRY_COMPARE_WITH_TIMEOUT(c.startedWorkers, 2, kWait);
        QSignalSpy stopWorker(&c, &AbstractWorkerController::stopWorker);
        QSignalSpy stopped(&c, &AbstractWorkerController::stopped);
        c.beginStopping();
        QCOMPARE(stopWorker.count(), 1);
        QCOMPARE(stopped.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(c.threadList().isEmpty(), kWait);
        QCOMPARE(stopped.count(), 0);
    }

    // A thread the caller never started must not make stop() wait for ever.
    void stopWithUnstartedThread()
    {
        TestController c;
        auto *w = new TestWorker;
        QPointer<TestWorker> guard(w);
        QVERIFY(c.addWorkerToThread(w));
        c.stop();
        QVERIFY(c.threadList().isEmpty());
        QVERIFY(guard.isNull());
    }

    // Destroying the controller leaves its threads running; they still clean up after
    // themselves.
    void controllerDestroyedFirst()
    {
        auto *c = new TestController;
        c->workerCount = 1;
        c->start();
        QTRY_COMPARE_WITH_TIMEOUT(c->startedWorkers, 1, kWait);
        QPointer<AbstractWorkerThread> thread = c->threadList().at(0);
        QPointer<TestWorker> worker = c->workers.at(0);
        delete c;
        QVERIFY(thread);
        QVERIFY(thread->isRunning());
        thread->quit();
        QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), kWait);
        QVERIFY(worker.isNull());
    }

    // A thread never started goes with its controller, worker and all, instead of leaking.
    void controllerDestroyedWithUnstartedThread()
    {
        auto *c = new TestController;
        auto *w = new TestWorker;
        QPointer<TestWorker> worker(w);
        QPointer<AbstractWorkerThread> thread = c->addWorkerToThread(w);
        QVERIFY(thread);
        delete c;
        QVERIFY(thread.isNull());
        QVERIFY(worker.isNull());
    }
};

QTEST_GUILESS_MAIN(TestWorkers)
#include "tst_workers.moc"
