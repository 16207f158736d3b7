#include <QProcess>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QtEndian>
#include <QtTest>

#include "ipc/tessalyipc.h"
#include "support/childprogram.h"
#include "support/logcapture.h"
#include "support/testmain.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

namespace {

// The service reads the main application's outbox and writes its own.
const QString appOutbox = QStringLiteral("Tessaly");
const QString serviceOutbox = QStringLiteral("TessalyUpdater");

// Both ends in this process, the main application's with the names swapped.
struct Ends
{
    TessalyIPC service{ appOutbox, serviceOutbox };
    TessalyIPC app{ serviceOutbox, appOutbox };
};

QString mailboxName(const QString &base, bool percent)
{
    return percent ? base + QStringLiteral("Percent") : base;
}

void write(TessalyIPC &ipc, bool percent, const QString &message)
{
    if (percent)
        ipc.IPCWritePercentage(message);
    else
        ipc.IPCWrite(message);
}

QString read(TessalyIPC &ipc, bool percent, bool silent = false)
{
    return percent ? ipc.IPCReadPercentage(silent) : ipc.IPCRead(silent);
}

// The segment layout worked out by hand, without QDataStream.
QByteArray frame(const QString &message)
{
    if (message.isNull())
        return QByteArray::fromHex("ffffffff");
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(quint32(message.size()) * 2, bytes.data());
    for (const QChar c : message)
        bytes.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xff));
    return bytes;
}

// A null array when the mailbox's segment does not exist.
QByteArray segmentBytes(const QString &mailbox)
{
    QSharedMemory raw(TessalyIPC::memoryKey(mailbox));
    if (!raw.attach(QSharedMemory::ReadOnly))
        return QByteArray();
    return QByteArray(static_cast<const char *>(raw.constData()), raw.size());
}

// What a read of a mailbox that exists but holds no message gives.
bool isConsumedRead(const QString &result)
{
    return result.isEmpty() && !result.isNull();
}

// Keeps a hand-filled segment in the service's incoming mailbox alive.
struct RawSegment : QSharedMemory
{
    explicit RawSegment(const QByteArray &bytes) : QSharedMemory(TessalyIPC::memoryKey(appOutbox))
    {
        if (create(bytes.size()))
            std::memcpy(data(), bytes.constData(), size_t(bytes.size()));
    }
};

// A System V segment made without Qt under the key Qt maps the service's
// incoming mailbox to (ftok on its key file, project id 'Q'). Removed in
// every path, also when a check fails.
struct NativeSegment
{
    explicit NativeSegment(size_t size)
        : keyFile(QSharedMemory(TessalyIPC::memoryKey(appOutbox)).nativeKey())
    {
        QFile file(keyFile);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.close();
        id = ::shmget(::ftok(QFile::encodeName(keyFile).constData(), 'Q'), size,
                      IPC_CREAT | IPC_EXCL | 0600);
        error = errno;
        if (id >= 0 && (address = ::shmat(id, nullptr, 0)) == reinterpret_cast<void *>(-1)) {
            error = errno;
            address = nullptr;
        }
    }
    ~NativeSegment()
    {
        if (address)
            ::shmdt(address);
        if (id >= 0)
            ::shmctl(id, IPC_RMID, nullptr);
        QFile::remove(keyFile);
    }
    Q_DISABLE_COPY(NativeSegment)

    QString keyFile;
    int id = -1;
    int error = 0;
    void *address = nullptr;
};

qint64 availableMemory()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line; !(line = meminfo.readLine()).isEmpty();) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

void startPeer(QProcess &peer, bool percent, QStringList arguments)
{
    arguments.prepend(percent ? QStringLiteral("percent") : QStringLiteral("command"));
    TestSupport::startChild(peer, QStringLiteral(IPC_PEER_HELPER), arguments);
}

} // namespace

class TestTessalyIPC : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyDerivation_data();
    void keyDerivation();
    void keysOfOneNameDiffer();
    void segmentLayoutAndReadOnce_data();
    void segmentLayoutAndReadOnce();
    void exchangeBothWaysLogsOwnNames();
    void independentMailboxesLastWriteWins();
    void neverWrittenReadsNullSilently();
    void createFailsWhilePeerAttached_data();
    void createFailsWhilePeerAttached();
    void malformedSegment_data();
    void malformedSegment();
    void randomSegments();
    void segmentOverTwoGiB();
    void peerProcess_data();
    void peerProcess();
};

void TestTessalyIPC::keyDerivation_data()
{
    QTest::addColumn<QString>("memoryKey");
    QTest::addColumn<QString>("lockKey");

    // The row's tag is the mailbox name. Worked out with:
    //   printf '%s' "${name}_ipcMemKey" | sha1sum
    QTest::newRow("Tessaly") << "dc7fb34096a395cc6046c500e4ae8def86d04508"
                             << "90ea48caec749b2041587dc291823a605d5086b3";
    QTest::newRow("TessalyUpdater") << "bd52456bc8867e5b6a4f2a77566f42902efdb952"
                                    << "8bc94603a22b44883c4dc4ff844b5cc4e4c6eda9";
    QTest::newRow("TessalyPercent") << "67f5b69ef2fb966c0ff7e8309017db6d4732fc84"
                                    << "dd213b2e3a9313507b55959c0a82ab083f46be5a";
    QTest::newRow("TessalyUpdaterPercent") << "954570d3463b8ac25defe0d86ed9a7fa2f343235"
                                           << "cf25872fc8664eb8022fd45670f206cc7a0f6eac";
    // Hashed as UTF-8, not Latin-1 or UTF-16.
    QTest::newRow("\u03a9\u03bc\u03ad\u03b3\u03b1_\u65e5\u672c")
            << "2f9a3e04b9ebb4311cacd1316c7616e1deac75ae"
            << "295f36211e2be90fa014b9c97aa7b038e5a67306";
}

void TestTessalyIPC::keyDerivation()
{
    const QString name = QString::fromUtf8(QTest::currentDataTag());
    QFETCH(QString, memoryKey);
    QFETCH(QString, lockKey);

    QCOMPARE(TessalyIPC::memoryKey(name), memoryKey);
    QCOMPARE(TessalyIPC::lockKey(name), lockKey);
}

void TestTessalyIPC::keysOfOneNameDiffer()
{
    QSet<QString> keys;
    for (const QString &name : { appOutbox, serviceOutbox }) {
        for (bool percent : { false, true })
            keys << TessalyIPC::memoryKey(mailboxName(name, percent))
                 << TessalyIPC::lockKey(mailboxName(name, percent));
    }
    QCOMPARE(keys.size(), 8);
}

void TestTessalyIPC::segmentLayoutAndReadOnce_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty JSON object") << QStringLiteral("{}")
                                       << QByteArray::fromHex("00 00 00 04 00 7B 00 7D");
    QTest::newRow("empty") << QString(QLatin1String("")) << QByteArray::fromHex("00 00 00 00");
    QTest::newRow("null") << QString() << QByteArray::fromHex("FF FF FF FF");
    QTest::newRow("surrogate pair") << QString::fromUtf8("A\u00e9\U0001F600")
                                    << QByteArray::fromHex("00 00 00 08 00 41 00 E9 D8 3D DE 00");
    // frame() is held against the hand-written bytes above.
    const QString controls(QLatin1String("a\0b\nc\td", 7));
    QTest::newRow("NUL and controls") << controls << frame(controls);
    const QString large(100000, QChar(0x4e2d));
    QTest::newRow("large") << large << frame(large);
}

void TestTessalyIPC::segmentLayoutAndReadOnce()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);
    QCOMPARE(frame(message), bytes);

    Ends ipc;
    for (bool percent : { false, true }) {
        write(ipc.service, percent, message);
        QCOMPARE(segmentBytes(mailboxName(serviceOutbox, percent)), bytes);

        LogCapture log;
        const QString received = read(ipc.app, percent);
        QCOMPARE(received, message);
        QCOMPARE(received.isNull(), message.isNull());
        QCOMPARE(segmentBytes(mailboxName(serviceOutbox, percent)), QByteArray(bytes.size(), '\0'));
        // Taken once: the wiped segment stays, reads as empty, not null, and logs nothing.
        for (int i = 0; i < 2; ++i)
            QVERIFY(isConsumedRead(read(ipc.app, percent)));
        QCOMPARE(log.messages().size(), message.isEmpty() ? 0 : 1);
    }
}

void TestTessalyIPC::exchangeBothWaysLogsOwnNames()
{
    Ends ipc;
    LogCapture log;

    ipc.app.IPCWrite(QStringLiteral(R"({"action":1,"version":"1.2"})"));
    QCOMPARE(ipc.service.IPCRead(false), QStringLiteral(R"({"action":1,"version":"1.2"})"));
    ipc.service.IPCWrite(QStringLiteral(R"({"command":1})"));
    QCOMPARE(ipc.app.IPCRead(false), QStringLiteral(R"({"command":1})"));
    ipc.service.IPCWritePercentage(QStringLiteral(R"({"message":0.5})"));
    QCOMPARE(ipc.app.IPCReadPercentage(false), QStringLiteral(R"({"message":0.5})"));
    ipc.app.IPCWritePercentage(QStringLiteral("up"));
    QCOMPARE(ipc.service.IPCReadPercentage(false), QStringLiteral("up"));
    // Silent reads drop their log line and nothing else.
    ipc.app.IPCWrite(QStringLiteral("quiet"));
    QCOMPARE(ipc.service.IPCRead(true), QStringLiteral("quiet"));
    QVERIFY(isConsumedRead(ipc.service.IPCRead(false)));
    ipc.service.IPCWritePercentage(QStringLiteral("hush"));
    QCOMPARE(ipc.app.IPCReadPercentage(true), QStringLiteral("hush"));
    QVERIFY(isConsumedRead(ipc.app.IPCReadPercentage(false)));

    const QStringList expected = {
        QStringLiteral(R"("IPC Tessaly sending message:" "{\"action\":1,\"version\":\"1.2\"}")"),
        QStringLiteral(R"("IPC TessalyUpdater Read message:" "{\"action\":1,\"version\":\"1.2\"}")"),
        QStringLiteral(R"("IPC TessalyUpdater sending message:" "{\"command\":1}")"),
        QStringLiteral(R"("IPC Tessaly Read message:" "{\"command\":1}")"),
        QStringLiteral(R"("IPC TessalyUpdaterPercent sending percentage message:" "{\"message\":0.5}")"),
        QStringLiteral(R"("IPC TessalyPercent Read percentage message:" "{\"message\":0.5}")"),
        QStringLiteral(R"("IPC TessalyPercent sending percentage message:" "up")"),
        QStringLiteral(R"("IPC TessalyUpdaterPercent Read percentage message:" "up")"),
        QStringLiteral(R"("IPC Tessaly sending message:" "quiet")"),
        QStringLiteral(R"("IPC TessalyUpdaterPercent sending percentage message:" "hush")"),
    };
    QCOMPARE(log.messages(), expected);
    QCOMPARE(log.messages(QtInfoMsg).size(), expected.size());
}

void TestTessalyIPC::independentMailboxesLastWriteWins()
{
    Ends ipc;
    ipc.service.IPCWrite(QStringLiteral("status"));
    for (int i = 0; i < 5; ++i)
        ipc.service.IPCWritePercentage(QString::number(i));
    QCOMPARE(ipc.app.IPCReadPercentage(true), QStringLiteral("4"));
    QVERIFY(isConsumedRead(ipc.app.IPCReadPercentage(true)));
    QCOMPARE(ipc.app.IPCRead(true), QStringLiteral("status"));

    ipc.service.IPCWritePercentage(QStringLiteral("progress"));
    ipc.service.IPCWrite(QStringLiteral("a longer first message"));
    ipc.service.IPCWrite(QStringLiteral("two"));
    // A fresh segment sized to the new message, not the old one reused.
    QCOMPARE(segmentBytes(serviceOutbox), frame(QStringLiteral("two")));
    QCOMPARE(ipc.app.IPCRead(true), QStringLiteral("two"));
    QVERIFY(isConsumedRead(ipc.app.IPCRead(true)));
    QCOMPARE(ipc.app.IPCReadPercentage(true), QStringLiteral("progress"));
}

void TestTessalyIPC::neverWrittenReadsNullSilently()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    LogCapture log;
    QVERIFY(serviceIpc.IPCRead(false).isNull());
    QVERIFY(serviceIpc.IPCReadPercentage(false).isNull());
    QVERIFY(log.entries().isEmpty());
    QVERIFY(segmentBytes(appOutbox).isNull());
}

void TestTessalyIPC::createFailsWhilePeerAttached_data()
{
    QTest::addColumn<bool>("percent");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("failureLine");

    QTest::newRow("command") << false << int(QtInfoMsg)
                             << R"("IPC TessalyUpdater Unable to create shared memory segment.")";
    QTest::newRow("percent")
            << true << int(QtWarningMsg)
            << R"("IPC TessalyUpdaterPercent Unable to create shared memory segment.")";
}

void TestTessalyIPC::createFailsWhilePeerAttached()
{
    QFETCH(bool, percent);
    QFETCH(int, level);
    QFETCH(QString, failureLine);
    const QString mailbox = mailboxName(serviceOutbox, percent);

    Ends ipc;
    write(ipc.service, percent, QStringLiteral("first"));

    // The peer is in the middle of a read: the old segment outlives the
    // writer's detach, and a segment under the same key cannot be created.
    QSharedMemory peer(TessalyIPC::memoryKey(mailbox));
    QVERIFY2(peer.attach(), qPrintable(peer.errorString()));
    {
        LogCapture log;
        write(ipc.service, percent, QStringLiteral("second"));
        QCOMPARE(log.messages(), QStringList{ failureLine });
        QCOMPARE(log.messages(QtMsgType(level)).size(), 1);
    }
    QCOMPARE(segmentBytes(mailbox), frame(QStringLiteral("first")));
    QCOMPARE(read(ipc.app, percent, true), QStringLiteral("first"));
    peer.detach();
    // Dropped, not queued: with the peer gone nothing is left to read.
    QVERIFY(read(ipc.app, percent, true).isNull());

    write(ipc.service, percent, QStringLiteral("third"));
    QCOMPARE(read(ipc.app, percent, true), QStringLiteral("third"));
}

void TestTessalyIPC::malformedSegment_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // null and empty differ

    QTest::newRow("odd count") << QByteArray::fromHex("00000003 0041 00") << QString();
    QTest::newRow("count past the end") << QByteArray::fromHex("00000008 0041 0042") << QString();
    QTest::newRow("huge count") << QByteArray::fromHex("7ffffffe 0041") << QString();
    QTest::newRow("null marker, text after it") << QByteArray::fromHex("ffffffff 0041")
                                                << QString();
    QTest::newRow("3 bytes") << QByteArray::fromHex("ffffff") << QString("");
    QTest::newRow("short count, junk after it") << QByteArray::fromHex("00000002 0041 ffff 1234")
                                                << QStringLiteral("A");
}

void TestTessalyIPC::malformedSegment()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    RawSegment segment(bytes);
    QVERIFY(segment.isAttached());

    LogCapture log;
    const QString result = serviceIpc.IPCRead(false);
    QCOMPARE(result, expected);
    QCOMPARE(result.isNull(), expected.isNull());
    QCOMPARE(log.messages().size(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(segmentBytes(appOutbox), QByteArray(bytes.size(), '\0'));
}

void TestTessalyIPC::randomSegments()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    QRandomGenerator random(20240305);
    int decoded = 0;
    int rejected = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes(random.bounded(1, 40), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        // Half of the rounds get a count near the real length, so that some
        // decode and some just miss.
        if (bytes.size() >= 4 && random.bounded(2))
            qToBigEndian(random.bounded(quint32(bytes.size() + 2)), bytes.data());
        RawSegment segment(bytes);
        QVERIFY(segment.isAttached());
        const QString result = serviceIpc.IPCRead(true);
        const QByteArray context = "round " + QByteArray::number(round) + ": " + bytes.toHex();
        const quint32 count = bytes.size() < 4 ? 0 : qFromBigEndian<quint32>(bytes.constData());
        if (bytes.size() < 4) {
            QVERIFY2(isConsumedRead(result), context);
        } else if (count % 2 == 0 && count <= quint32(bytes.size() - 4)) {
            QVERIFY2(frame(result) == bytes.left(4 + int(count)), context);
            decoded += result.isEmpty() ? 0 : 1;
        } else {
            QVERIFY2(result.isNull(), context);
            ++rejected;
        }
        QVERIFY2(segmentBytes(appOutbox) == QByteArray(bytes.size(), '\0'), context);
    }
    // Both outcomes must have been exercised for the loop to mean anything.
    QVERIFY(decoded > 50);
    QVERIFY(rejected > 50);
}

void TestTessalyIPC::segmentOverTwoGiB()
{
    // size() of such a segment is negative; the wipe touches every page of it.
    const size_t size = (size_t(1) << 31) + 4096;
    if (availableMemory() < qint64(size) + (qint64(1) << 30))
        QSKIP("less than 3 GiB of memory available for a segment over 2 GiB");
    NativeSegment segment(size);
    if (segment.id < 0 || !segment.address) {
        QSKIP(qPrintable(QStringLiteral("the system refuses a segment over 2 GiB: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(segment.error)))));
    }
    volatile char *nearEnd = static_cast<char *>(segment.address) + size - 100;
    *nearEnd = 0x5a;

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    LogCapture log;
    QVERIFY(serviceIpc.IPCRead(false).isEmpty());
    QVERIFY(log.entries().isEmpty());
    QCOMPARE(int(*nearEnd), 0);
}

void TestTessalyIPC::peerProcess_data()
{
    QTest::addColumn<bool>("percent");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("peerLog");
    QTest::addColumn<QString>("serviceLog");

    QTest::newRow("command") << false << QStringLiteral(R"({"command":3})")
                             << QByteArray(R"("IPC Tessaly Read message:" "{\"command\":3}")")
                             << R"("IPC TessalyUpdater Read message:" "{\"command\":3}")";
    // The peer's log passes through its locale's encoding: checked up to the message.
    QTest::newRow("percent, surrogate pair")
            << true << QString::fromUtf8("\u00e9\U0001F600\u4e2d")
            << QByteArray(R"("IPC TessalyPercent Read percentage message:")")
            << QString::fromUtf8("\"IPC TessalyUpdaterPercent Read percentage message:\" "
                                 "\"\u00e9\U0001F600\u4e2d\"");
}

void TestTessalyIPC::peerProcess()
{
    QFETCH(bool, percent);
    QFETCH(QString, message);
    QFETCH(QByteArray, peerLog);
    QFETCH(QString, serviceLog);
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);

    // The peer reads what the service wrote...
    write(serviceIpc, percent, message);
    QProcess reader;
    startPeer(reader, percent, { QStringLiteral("read") });
    QVERIFY2(reader.waitForFinished(10000), qPrintable(reader.errorString()));
    QCOMPARE(reader.exitCode(), 0);
    QCOMPARE(reader.readAllStandardOutput().trimmed(), frame(message).toHex());
    QVERIFY2(reader.readAllStandardError().contains(peerLog), peerLog.constData());
    // Consumed by the other process, still held alive by the writer.
    QCOMPARE(segmentBytes(mailboxName(serviceOutbox, percent)),
             QByteArray(frame(message).size(), '\0'));

    // ...and writes it back.
    QProcess writer;
    startPeer(writer, percent,
              { QStringLiteral("write"), QString::fromLatin1(frame(message).toHex()) });
    QVERIFY2(writer.waitForStarted(10000), qPrintable(writer.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(writer.canReadLine() || writer.state() == QProcess::NotRunning,
                             10000);
    QCOMPARE(writer.readLine().trimmed(), QByteArray("written"));
    QCOMPARE(segmentBytes(mailboxName(appOutbox, percent)), frame(message));
    {
        LogCapture log;
        QCOMPARE(read(serviceIpc, percent), message);
        QCOMPARE(log.messages(), QStringList{ serviceLog });
        QCOMPARE(log.messages(QtInfoMsg).size(), 1);
    }
    QVERIFY(isConsumedRead(read(serviceIpc, percent)));

    writer.closeWriteChannel();
    QVERIFY(writer.waitForFinished(10000));
    QCOMPARE(writer.exitCode(), 0);
    QVERIFY(read(serviceIpc, percent).isNull());
}

TESSALY_TEST_MAIN(TestTessalyIPC)

#include "tst_tessalyipc.moc"
