#include "mailboxwatch.h"

#ifndef QT_POSIX_IPC

#include <QFile>
#include <QSharedMemory>

#include <sys/ipc.h>
#include <sys/shm.h>

#include "tessalyipc.h"

namespace {

QByteArray keyFile(const QString &mailboxName)
{
    return QFile::encodeName(QSharedMemory(TessalyIPC::memoryKey(mailboxName)).nativeKey());
}

// Qt 5's System V backend keys a segment by ftok() of its key file, with the
// id 'Q'; the key file exists exactly as long as the segment.
int segmentIdOf(const QByteArray &keyFile)
{
    const key_t key = ::ftok(keyFile.constData(), 'Q');
    return key == -1 ? -1 : ::shmget(key, 0, 0);
}

} // namespace

MailboxWatch::MailboxWatch(const QString &mailboxName)
    : m_keyFile(keyFile(mailboxName))
{
}

int MailboxWatch::segmentId(const QString &mailboxName)
{
    return segmentIdOf(keyFile(mailboxName));
}

bool MailboxWatch::worthReading()
{
    const int id = segmentIdOf(m_keyFile);
    struct shmid_ds info;
    if (id == -1 || ::shmctl(id, IPC_STAT, &info) != 0)
        return false;
    m_currentId = id;
    return id != m_readId || info.shm_nattch == 0 || m_readAgain;
}

QString MailboxWatch::take(const std::function<QString()> &read)
{
    if (!worthReading())
        return QString();
    const QString message = read();
    m_readAgain = m_currentId != m_readId && message.isEmpty();
    m_readId = m_currentId;
    return message;
}

#else // POSIX IPC has no ids to go by: every poll reads.

MailboxWatch::MailboxWatch(const QString &) { }
int MailboxWatch::segmentId(const QString &) { return -1; }
QString MailboxWatch::take(const std::function<QString()> &read) { return read(); }

#endif
