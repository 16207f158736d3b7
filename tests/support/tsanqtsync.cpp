// Linked into the test programs of the ThreadSanitizer run (scripts/sanitize)
// with ld --wrap: tells ThreadSanitizer about the ordering that Qt's own,
// uninstrumented QMutex gives, and nothing else. Threads the tests start are
// std::threads, whose start and join it sees by itself.

#include <QMutex>

#include <sanitizer/tsan_interface.h>

extern "C" {
void __real__ZN6QMutex4lockEv(QMutex *mutex);
void __real__ZN6QMutex6unlockEv(QMutex *mutex);

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
}
