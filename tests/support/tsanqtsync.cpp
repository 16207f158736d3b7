// Linked into the test programs of the ThreadSanitizer run (scripts/sanitize)
// with ld --wrap: tells ThreadSanitizer about the ordering that Qt's own,
// uninstrumented QMutex and QThread::wait() give, and nothing else.

#include <QMutex>
#include <QThread>

#include <sanitizer/tsan_interface.h>

extern "C" {
void __real__ZN6QMutex4lockEv(QMutex *mutex);
void __real__ZN6QMutex6unlockEv(QMutex *mutex);
void __real__ZN7QThread5startENS_8PriorityE(QThread *thread, QThread::Priority priority);
bool __real__ZN7QThread4waitEm(QThread *thread, unsigned long time);

void __wrap__ZN6QMutex4lockEv(QMutex *mutex)
{
    __real__ZN6QMutex4lockEv(mutex);
    __tsan_acquire(mutex);
}

void __wrap__ZN6QMutex6unlockEv(QMutex *mutex)
{
    __tsan_release(mutex);
    __real__ZN6QMutex6unlockEv(mutex);
}

// finished() is emitted on the thread itself after its last work.
void __wrap__ZN7QThread5startENS_8PriorityE(QThread *thread, QThread::Priority priority)
{
    QObject::connect(
            thread, &QThread::finished, thread, [thread] { __tsan_release(thread); },
            Qt::DirectConnection);
    __real__ZN7QThread5startENS_8PriorityE(thread, priority);
}

bool __wrap__ZN7QThread4waitEm(QThread *thread, unsigned long time)
{
    const bool finished = __real__ZN7QThread4waitEm(thread, time);
    if (finished)
        __tsan_acquire(thread);
    return finished;
}
}
