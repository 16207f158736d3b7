#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/ipc.h>
#include <sys/sem.h>

#include "ipc/lockrescue.h"
#include "ipc/tessalyipc.h"
#include "support/testsupport.h"

using namespace std::chrono_literals;
using TestSupport::u;

namespace {

union SemaphoreArgument {
    int value;
};

int semaphoreOf(const QByteArray &keyFile, int flags = 0)
{
    return ::semget(::ftok(keyFile.constData(), 'Q'), 1, 0600 | flags);
}

int valueOf(const QByteArray &keyFile) { return ::semctl(semaphoreOf(keyFile), 0, GETVAL); }

void setValue(int id, int value)
{
    SemaphoreArgument argument;
    argument.value = value;
    QCOMPARE(::semctl(id, 0, SETVAL, argument), 0);
}

} // namespace

class TestLockRescue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rescue_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("minimumAge");
        QTest::addColumn<bool>("rescued");
        QTest::addColumn<int>("value");
        // A semaphore made and never set is what the interrupted set-up leaves.
        QTest::newRow("left at 0") << u("made") << 0 << true << 1;
        QTest::newRow("its maker may still set it") << u("made") << 3600 << false << 0;
        QTest::newRow("set") << u("set") << 0 << false << 1;
        QTest::newRow("held by a process") << u("held") << 0 << false << 0;
        QTest::newRow("no semaphore") << u("none") << 0 << false << -1;
    }
    void rescue()
    {
        QFETCH(QString, state);
        QFETCH(int, minimumAge);
        QFETCH(bool, rescued);
        QFETCH(int, value);
        const QByteArray keyFile = LockRescue::semaphoreKeyFile(u("rescue-") + QLatin1String(QTest::currentDataTag()));
        QFile file(QFile::decodeName(keyFile));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (state != u("none")) {
            const int id = semaphoreOf(keyFile, IPC_CREAT | IPC_EXCL);
            QVERIFY(id != -1);
            if (state != u("made"))
                setValue(id, 1);
            struct sembuf take = {0, -1, 0};
            if (state == u("held"))
                QCOMPARE(::semop(id, &take, 1), 0);
        }

        QCOMPARE(LockRescue::rescue(keyFile, std::chrono::seconds(minimumAge)), rescued);
        QCOMPARE(valueOf(keyFile), value);
    }

    // The whole case: a mailbox's segment whose guarding semaphore was left at
    // 0 stops every attach until the rescue opens it.
    void attachGoesOnOnceRescued()
    {
        const QString mailbox = u("TessalyRescue");
        QSharedMemory writer(TessalyIPC::memoryKey(mailbox));
        QVERIFY(writer.create(16));
        const QByteArray keyFile = LockRescue::semaphoreKeyFile(TessalyIPC::memoryKey(mailbox));
        QCOMPARE(::semctl(semaphoreOf(keyFile), 0, IPC_RMID), 0);
        QVERIFY(semaphoreOf(keyFile, IPC_CREAT) != -1);

        std::atomic<bool> attached(false);
        std::thread reader([&] {
            QSharedMemory memory(TessalyIPC::memoryKey(mailbox));
            attached = memory.attach(QSharedMemory::ReadOnly);
        });
        // Whatever happens, the reader is let go before the test ends.
        const auto release = qScopeGuard([&] {
            setValue(semaphoreOf(keyFile), 1);
            reader.join();
        });
        QTest::qWait(300);
        QVERIFY2(!attached, "the attach went on before any rescue: the case shows nothing");

        QTest::ignoreMessage(QtWarningMsg, "IPC TessalyRescue lock was left shut by an interrupted set-up: opened");
        const LockRescue rescue({mailbox}, 20ms, 0s);
        QTRY_VERIFY(attached);
    }
};

TESSALY_MAILBOX_TEST_MAIN(TestLockRescue)
#include "tst_lockrescue.moc"
