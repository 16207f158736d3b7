#include "tessalyipc.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QFile>

#include <cstring>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"

namespace {

const QString memKeySuffix = QStringLiteral("_ipcMemKey");
const QString lockKeySuffix = QStringLiteral("_ipcLockKey");

// The lower-case hexadecimal hash of the UTF-8 of key immediately followed by
// the UTF-8 of suffix.
QString generateKeyHash(const QString &key, const QString &suffix,
                        QCryptographicHash::Algorithm algorithm)
{
    QByteArray data = key.toUtf8();
    data.append(suffix.toUtf8());
    return QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
}

} // namespace

QString TessalyIPC::percentMailbox(const QString &mailboxName)
{
    return mailboxName + UpdaterConfig::percentMailboxSuffix();
}

QString TessalyIPC::memoryKey(const QString &mailboxName)
{
    return generateKeyHash(mailboxName, memKeySuffix, QCryptographicHash::Sha1);
}

QString TessalyIPC::lockKey(const QString &mailboxName)
{
    return generateKeyHash(mailboxName, lockKeySuffix, QCryptographicHash::Sha1);
}

TessalyIPC::TessalyIPC(const QString &readKey, const QString &writeKey)
    : readKey(readKey)
    , writeKey(writeKey)
    , readMemKey(memoryKey(readKey))
    , writeMemKey(memoryKey(writeKey))
    , readMemory(readMemKey)
    , writeMemory(writeMemKey)
    , readLock(lockKey(readKey), 1, QSystemSemaphore::Open)
    , writeLock(lockKey(writeKey), 1, QSystemSemaphore::Open)
    , readPercentKey(percentMailbox(readKey))
    , writePercentKey(percentMailbox(writeKey))
    , readPercentMemKey(memoryKey(readPercentKey))
    , writePercentMemKey(memoryKey(writePercentKey))
    , readPercentMemory(readPercentMemKey)
    , writePercentMemory(writePercentMemKey)
    , readPercentLock(lockKey(readPercentKey), 1, QSystemSemaphore::Open)
    , writePercentLock(lockKey(writePercentKey), 1, QSystemSemaphore::Open)
{
}

TessalyIPC::~TessalyIPC() = default;

QString decodeMailboxSegment(const QByteArray &segment)
{
    QBuffer buffer;
    buffer.setData(segment);
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    QString result;
    in >> result;
    return result;
}

QByteArray encodeMailboxSegment(const QString &message)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    QDataStream out(&buffer);
    out << message;
    return buffer.data();
}

QString TessalyIPC::takeMessage(QSharedMemory &memory, QSystemSemaphore &lock)
{
    QString result;
#ifndef QT_POSIX_IPC
    // Qt's System V backend anchors a segment's key on a file that only the
    // writer's create() makes. Without it attach() would fail anyway, but only
    // after setting up a system semaphore of its own; testing for the file
    // first keeps an idle poll to one stat() call.
    if (!QFile::exists(memory.nativeKey()))
        return result;
#endif
    if (!memory.attach(QSharedMemory::ReadWrite))
        return result;

    lock.acquire();
    const int size = memory.size();
    // A malformed segment decodes as a null or empty string; it is wiped all
    // the same so that it cannot be read again. Qt reports a segment of 2 GiB
    // or more, which only a writer outside Qt can make, with a negative size:
    // that is malformed too, and its real length is the size read as unsigned.
    if (size >= 0) {
        result = decodeMailboxSegment(
                QByteArray(static_cast<const char *>(memory.constData()), size));
    }
    std::memset(memory.data(), 0, size_t(quint32(size)));
    memory.detach();
    lock.release();

    return result;
}

bool TessalyIPC::putMessage(QSharedMemory &memory, QSystemSemaphore &lock, const QString &message)
{
    // Giving up the previous segment lets the system remove it once the
    // reader is detached too; the new message gets a segment of its own size.
    if (memory.isAttached())
        memory.detach();

    const QByteArray segment = encodeMailboxSegment(message);
    const int size = segment.size();

    if (!memory.create(size, QSharedMemory::ReadWrite))
        return false;

    lock.acquire();
    std::memcpy(memory.data(), segment.constData(), size_t(qMin(size, memory.size())));
    lock.release();
    return true;
}

QString TessalyIPC::IPCRead(bool silent)
{
    const QString result = takeMessage(readMemory, readLock);
    if (!silent && !result.isEmpty())
        qInfo() << QString(QStringLiteral("IPC %1 Read message:")).arg(writeKey) << result;
    return result;
}

QString TessalyIPC::IPCReadPercentage(bool silent)
{
    const QString result = takeMessage(readPercentMemory, readPercentLock);
    if (!silent && !result.isEmpty())
        qInfo() << QString(QStringLiteral("IPC %1 Read percentage message:")).arg(writePercentKey)
                << result;
    return result;
}

void TessalyIPC::IPCWrite(const QString &message)
{
    if (!putMessage(writeMemory, writeLock, message)) {
        qInfo() << QString(QStringLiteral("IPC %1 Unable to create shared memory segment."))
                           .arg(writeKey);
        return;
    }
    qInfo() << QString(QStringLiteral("IPC %1 sending message:")).arg(writeKey) << message;
}

void TessalyIPC::IPCWritePercentage(const QString &message)
{
    if (!putMessage(writePercentMemory, writePercentLock, message)) {
        qWarning() << QString(QStringLiteral("IPC %1 Unable to create shared memory segment."))
                              .arg(writePercentKey);
        return;
    }
    qInfo() << QString(QStringLiteral("IPC %1 sending percentage message:")).arg(writePercentKey)
            << message;
}
