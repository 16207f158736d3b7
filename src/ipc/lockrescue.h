#ifndef LOCKRESCUE_H
#define LOCKRESCUE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Qt 5's System V QSharedMemory guards every attach, create and detach with a
// semaphore of its own, which it makes in two steps: semget(), then the count
// of 1. When the semaphore it found is removed between those steps (a process
// that made it removes it on its next attach), it makes a new one and leaves
// it at 0; every lock on that one then waits for ever, the service's poll of
// its mailbox among them. Such a semaphore was never taken by anyone (no
// semop ever ran on it) and is at 0. This looks at the mailboxes' semaphores
// from a thread of its own, since the thread that needs one may be the one
// waiting on it, and sets one found so, and old enough that its maker is not
// still about to set it, to 1: what its maker would have done. The mailboxes'
// own locks are System V semaphores made the same way, and are looked at too.
class LockRescue
{
public:
    // Watches the command mailboxes named and the progress mailbox of each.
    LockRescue(const QStringList &mailboxNames, std::chrono::milliseconds period,
               std::chrono::seconds minimumAge);
    ~LockRescue();

    LockRescue(const LockRescue &) = delete;
    LockRescue &operator=(const LockRescue &) = delete;

    // The key file by which Qt names the System V semaphore of a Qt key: that
    // of a QSystemSemaphore, or of the one guarding a QSharedMemory's segment.
    static QByteArray semaphoreKeyFile(const QString &qtKey);

    // Sets the semaphore of keyFile to 1 when it is at 0, was never taken and
    // was made (or last set) at least minimumAge ago; true when it did.
    static bool rescue(const QByteArray &keyFile, std::chrono::seconds minimumAge);

private:
    void watch();

    std::vector<std::pair<QString, QByteArray>> m_semaphores;
    const std::chrono::milliseconds m_period;
    const std::chrono::seconds m_minimumAge;
    std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif // LOCKRESCUE_H
