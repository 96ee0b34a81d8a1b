// SPDX-License-Identifier: MIT
// Linked into the test programs of a ThreadSanitizer build only. Qt from the distribution is
// not instrumented, so the sanitizer cannot see QMutex and QWaitCondition order the threads
// and reports every access they guard as a race. These definitions take the place of Qt's
// out-of-line locking functions for the program and the library (the program exports them),
// call Qt's own, and tell the sanitizer about the acquire and the release. The inline fast
// paths of QBasicMutex are atomics compiled into our code, which the sanitizer sees anyway.
#include <QMutex>
#include <QReadWriteLock>
#include <QWaitCondition>

#include <dlfcn.h>

extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);

namespace {
template <typename F> F real(const char *mangled)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, mangled));
}
} // namespace

void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex12lockInternalEv");
    f(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<bool (*)(QBasicMutex *, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto f = real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    f(this);
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    f(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto f = real<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    f(this);
}

bool QWaitCondition::wait(QMutex *mutex, QDeadlineTimer deadline)
{
    static const auto f = real<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(mutex);
    const bool woken = f(this, mutex, deadline);
    __tsan_acquire(mutex);
    return woken;
}

bool QWaitCondition::wait(QMutex *mutex, unsigned long time)
{
    static const auto f = real<bool (*)(QWaitCondition *, QMutex *, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(mutex);
    const bool woken = f(this, mutex, time);
    __tsan_acquire(mutex);
    return woken;
}

void QReadWriteLock::lockForRead()
{
    static const auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    f(this);
    __tsan_acquire(this);
}

void QReadWriteLock::lockForWrite()
{
    static const auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    f(this);
    __tsan_acquire(this);
}

void QReadWriteLock::unlock()
{
    static const auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    f(this);
}
