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

static int semaphoreOf(const QByteArray &keyFile, int flags = 0)
{
    return ::semget(::ftok(keyFile.constData(), 'Q'), 1, 0600 | flags);
}

static int setOne(int id)
{
    union {
        int value;
    } argument = { 1 };
    return ::semctl(id, 0, SETVAL, argument);
}

class TestLockRescue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rescue_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("minimumAge");
        QTest::addColumn<int>("value");
        // Made and never set is what the interrupted set-up leaves.
        QTest::newRow("left at 0") << u("made") << 0 << 1;
        QTest::newRow("its maker may still set it") << u("made") << 3600 << 0;
        QTest::newRow("set") << u("set") << 0 << 1;
        QTest::newRow("held by a process") << u("held") << 0 << 0;
        QTest::newRow("no semaphore") << u("none") << 0 << -1;
    }
    void rescue()
    {
        QFETCH(QString, state);
        QFETCH(int, minimumAge);
        QFETCH(int, value);
        const QByteArray keyFile =
                LockRescue::semaphoreKeyFile(QLatin1String(QTest::currentDataTag()));
        QFile file(QFile::decodeName(keyFile));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const int id = state == u("none") ? -1 : semaphoreOf(keyFile, IPC_CREAT | IPC_EXCL);
        struct sembuf take = { 0, -1, 0 };
        QVERIFY(state == u("made") || state == u("none") || setOne(id) == 0);
        QVERIFY(state != u("held") || ::semop(id, &take, 1) == 0);

        QCOMPARE(LockRescue::rescue(keyFile, std::chrono::seconds(minimumAge)),
                 state == u("made") && value == 1);
        QCOMPARE(::semctl(semaphoreOf(keyFile), 0, GETVAL), value);
    }

    // The whole case: a segment whose guarding semaphore was left at 0 stops
    // every attach until the rescue opens it.
    void attachGoesOnOnceRescued()
    {
        const QString key = TessalyIPC::memoryKey(u("TessalyRescue"));
        QSharedMemory writer(key);
        QVERIFY(writer.create(16));
        const QByteArray keyFile = LockRescue::semaphoreKeyFile(key);
        QCOMPARE(::semctl(semaphoreOf(keyFile), 0, IPC_RMID), 0);
        QVERIFY(semaphoreOf(keyFile, IPC_CREAT) != -1);

        std::atomic<bool> attached(false);
        std::thread reader([&] { attached = QSharedMemory(key).attach(QSharedMemory::ReadOnly); });
        const auto letGo = qScopeGuard([&] { setOne(semaphoreOf(keyFile)), reader.join(); });
        QTest::qWait(300);
        QVERIFY2(!attached, "the attach went on without a rescue: the case shows nothing");

        QTest::ignoreMessage(
                QtWarningMsg,
                "IPC TessalyRescue lock was left shut by an interrupted set-up: opened");
        const LockRescue rescue({ u("TessalyRescue") }, 20ms, 0s);
        QTRY_VERIFY(attached);
    }
};

TESSALY_MAILBOX_TEST_MAIN(TestLockRescue)
#include "tst_lockrescue.moc"
