#ifndef TESSALYIPC_H
#define TESSALYIPC_H

#include <QSharedMemory>
#include <QString>
#include <QSystemSemaphore>

// The string a mailbox segment holds, decoded exactly as a reader takes it
// out: QDataStream's encoding at the stream's default version. A segment too
// short for its byte count, or with an odd count, decodes as a null string;
// one too short to hold the count, as an empty string.
QString decodeMailboxSegment(const QByteArray &segment);

// The segment contents a writer puts in for message.
QByteArray encodeMailboxSegment(const QString &message);

// The four one-way mailboxes between the update service and the main
// application. Each holds at most one string in QDataStream's encoding
// (4-byte big-endian byte count, then UTF-16BE code units) in a segment of
// exactly that size, guarded by a system semaphore used as a lock.
//
// A reader takes the message out and wipes the segment; a writer replaces
// the segment with a fresh one sized to its message and stays attached to it,
// which keeps it alive until the next write or until this object goes away.
class TessalyIPC
{
public:
    TessalyIPC(const QString &readKey, const QString &writeKey);
    ~TessalyIPC();

    // Null when the mailbox does not exist, empty when it holds no message.
    QString IPCRead(bool silent);
    QString IPCReadPercentage(bool silent);

    void IPCWrite(const QString &message);
    void IPCWritePercentage(const QString &message);

    // The mailbox that carries the progress messages beside a command mailbox.
    static QString percentMailbox(const QString &mailboxName);
    static QString memoryKey(const QString &mailboxName);
    static QString lockKey(const QString &mailboxName);

private:
    Q_DISABLE_COPY(TessalyIPC)

    static QString takeMessage(QSharedMemory &memory, QSystemSemaphore &lock);
    static bool putMessage(QSharedMemory &memory, QSystemSemaphore &lock, const QString &message);

    QString readKey;
    QString writeKey;
    QString readMemKey;
    QString writeMemKey;
    QSharedMemory readMemory;
    QSharedMemory writeMemory;
    QSystemSemaphore readLock;
    QSystemSemaphore writeLock;
    QString readPercentKey;
    QString writePercentKey;
    QString readPercentMemKey;
    QString writePercentMemKey;
    QSharedMemory readPercentMemory;
    QSharedMemory writePercentMemory;
    QSystemSemaphore readPercentLock;
    QSystemSemaphore writePercentLock;
};

#endif // TESSALYIPC_H
