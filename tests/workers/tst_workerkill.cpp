// SPDX-License-Identifier: MIT
// Killing threads: kept apart because terminated threads need a sanitizer setting of their own.
#include "testworkers.h"

#include <QtTest>

using namespace ravix;
using namespace workertest;

#ifdef __SANITIZE_ADDRESS__
// A terminated thread is unwound by force; the sanitizer's clean-up of that thread's alternate
// signal stack then trips over the unwound frames. Without the alternate stack it stays clean.
extern "C" const char *__asan_default_options()
{
    return "use_sigaltstack=0";
}
#endif

class TestWorkerKill : public QObject
{
    Q_OBJECT
private slots:
    // Threads that never end by themselves are terminated one after another.
    void killThreads()
    {
        TestController c;
        c.workerCount = 2;
        c.blockWorkers = true;
        c.start();
        QCOMPARE(c.threadList().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            int(c.workers.at(0)->startCalls) == 1 && int(c.workers.at(1)->startCalls) == 1, kWait);
        QSignalSpy stopped(&c, &AbstractWorkerController::stopped);
        c.killThreads();
        QCOMPARE(stopped.count(), 1);
        QVERIFY(c.threadList().isEmpty());
        // The terminated threads took their workers with them.
        for (const auto &w : qAsConst(c.workers))
            QVERIFY(w.isNull());
    }
};

QTEST_GUILESS_MAIN(TestWorkerKill)
#include "tst_workerkill.moc"
