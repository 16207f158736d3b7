#include "lockrescue.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSharedMemory>

#include "tessalyipc.h"

#ifndef QT_POSIX_IPC
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>
#endif

LockRescue::LockRescue(const QStringList &mailboxNames, std::chrono::milliseconds period,
                       std::chrono::seconds minimumAge)
    : m_period(period)
    , m_minimumAge(minimumAge)
{
    for (const QString &commandMailbox : mailboxNames) {
        for (const QString &name : { commandMailbox, TessalyIPC::percentMailbox(commandMailbox) }) {
            m_semaphores.emplace_back(name, semaphoreKeyFile(TessalyIPC::memoryKey(name)));
            m_semaphores.emplace_back(name, semaphoreKeyFile(TessalyIPC::lockKey(name)));
        }
    }
    m_thread = std::thread(&LockRescue::watch, this);
}

LockRescue::~LockRescue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopRequested.notify_one();
    m_thread.join();
}

QByteArray LockRescue::semaphoreKeyFile(const QString &qtKey)
{
    // Qt names the key files of a segment and of a semaphore with the same key
    // alike but for the prefix.
    const QFileInfo segmentKeyFile(QSharedMemory(qtKey).nativeKey());
    const QString name = segmentKeyFile.fileName().replace(QLatin1String("qipc_sharedmemory_"),
                                                           QLatin1String("qipc_systemsem_"));
    return QFile::encodeName(segmentKeyFile.dir().filePath(name));
}

#ifndef QT_POSIX_IPC

namespace {
union SemaphoreArgument {
    int value;
    struct semid_ds *info;
};
} // namespace

bool LockRescue::rescue(const QByteArray &keyFile, std::chrono::seconds minimumAge)
{
    const key_t key = ::ftok(keyFile.constData(), 'Q');
    const int id = key == -1 ? -1 : ::semget(key, 1, 0);
    struct semid_ds info;
    SemaphoreArgument argument;
    argument.info = &info;
    if (id == -1 || ::semctl(id, 0, IPC_STAT, argument) != 0)
        return false;
    if (info.sem_otime != 0 || ::semctl(id, 0, GETVAL) != 0
        || std::time(nullptr) - info.sem_ctime < minimumAge.count())
        return false;
    argument.value = 1;
    return ::semctl(id, 0, SETVAL, argument) == 0;
}

#else // POSIX semaphores are made and set in one step.

bool LockRescue::rescue(const QByteArray &, std::chrono::seconds) { return false; }

#endif

void LockRescue::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopRequested.wait_for(lock, m_period, [this] { return m_stopping; })) {
        for (const auto &semaphore : m_semaphores) {
            if (rescue(semaphore.second, m_minimumAge))
                qWarning().noquote() << "IPC" << semaphore.first
                                     << "lock was left shut by an interrupted set-up: opened";
        }
    }
}
