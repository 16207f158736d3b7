#include <QProcess>
#include <QtEndian>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QtTest>

#include "ipc/tessalyipc.h"
#include "support/logcapture.h"
#include "support/testmain.h"

#include <cstring>

namespace {

// The service reads the main application's outbox and writes its own.
const QString appOutbox = QStringLiteral("Tessaly");
const QString serviceOutbox = QStringLiteral("TessalyUpdater");

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
    const quint32 count = quint32(message.size()) * 2;
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((count >> shift) & 0xff));
    for (const QChar c : message) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xff));
    }
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

bool isAllZero(const QByteArray &bytes)
{
    return !bytes.isEmpty() && bytes.count('\0') == bytes.size();
}

// A test segment in the service's incoming mailbox, filled byte by byte.
class RawSegment
{
public:
    explicit RawSegment(const QByteArray &bytes)
        : m_memory(TessalyIPC::memoryKey(appOutbox))
    {
        if (m_memory.create(bytes.size()))
            std::memcpy(m_memory.data(), bytes.constData(), size_t(bytes.size()));
    }
    bool isValid() const { return m_memory.isAttached(); }
    QByteArray bytes() const
    {
        return QByteArray(static_cast<const char *>(m_memory.constData()), m_memory.size());
    }

private:
    QSharedMemory m_memory;
};

} // namespace

class TestTessalyIPC : public QObject
{
    Q_OBJECT

private slots:
    void keyDerivation_data();
    void keyDerivation();
    void keysOfOneNameDiffer();

    void segmentLayout_data();
    void segmentLayout();
    void textsSurviveRoundTrip_data();
    void textsSurviveRoundTrip();

    void exchangeBothWaysLogsOwnNames();
    void readTakesMessageOnce_data();
    void readTakesMessageOnce();
    void independentMailboxesLastWriteWins();
    void neverWrittenReadsNullSilently();
    void mailboxGoesWithItsWriter();
    void silentSuppressesOnlyTheLog_data();
    void silentSuppressesOnlyTheLog();

    void createFailsWhilePeerAttached_data();
    void createFailsWhilePeerAttached();
    void malformedSegment_data();
    void malformedSegment();
    void randomSegments();

    void peerProcessReads_data();
    void peerProcessReads();
    void peerProcessWrites_data();
    void peerProcessWrites();
    void peerProcessWaitsForMessage();
};

void TestTessalyIPC::keyDerivation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("memoryKey");
    QTest::addColumn<QString>("lockKey");

    // Worked out with: printf '%s' "${name}_ipcMemKey" | sha1sum
    QTest::newRow("Tessaly") << "Tessaly"
                             << "dc7fb34096a395cc6046c500e4ae8def86d04508"
                             << "90ea48caec749b2041587dc291823a605d5086b3";
    QTest::newRow("TessalyUpdater") << "TessalyUpdater"
                                    << "bd52456bc8867e5b6a4f2a77566f42902efdb952"
                                    << "8bc94603a22b44883c4dc4ff844b5cc4e4c6eda9";
    QTest::newRow("TessalyPercent") << "TessalyPercent"
                                    << "67f5b69ef2fb966c0ff7e8309017db6d4732fc84"
                                    << "dd213b2e3a9313507b55959c0a82ab083f46be5a";
    QTest::newRow("TessalyUpdaterPercent") << "TessalyUpdaterPercent"
                                           << "954570d3463b8ac25defe0d86ed9a7fa2f343235"
                                           << "cf25872fc8664eb8022fd45670f206cc7a0f6eac";
    // Greek and CJK: hashed as UTF-8, not Latin-1 or UTF-16.
    QTest::newRow("non-ASCII") << QString::fromUtf8("\u03a9\u03bc\u03ad\u03b3\u03b1_\u65e5\u672c")
                               << "2f9a3e04b9ebb4311cacd1316c7616e1deac75ae"
                               << "295f36211e2be90fa014b9c97aa7b038e5a67306";
}

void TestTessalyIPC::keyDerivation()
{
    QFETCH(QString, name);
    QFETCH(QString, memoryKey);
    QFETCH(QString, lockKey);

    QCOMPARE(generateKeyHash(name, QStringLiteral("_ipcMemKey"), QCryptographicHash::Sha1),
             memoryKey);
    QCOMPARE(generateKeyHash(name, QStringLiteral("_ipcLockKey"), QCryptographicHash::Sha1),
             lockKey);
    QCOMPARE(TessalyIPC::memoryKey(name), memoryKey);
    QCOMPARE(TessalyIPC::lockKey(name), lockKey);
}

void TestTessalyIPC::keysOfOneNameDiffer()
{
    QSet<QString> keys;
    for (const QString &name : { appOutbox, serviceOutbox }) {
        for (bool percent : { false, true }) {
            keys.insert(TessalyIPC::memoryKey(mailboxName(name, percent)));
            keys.insert(TessalyIPC::lockKey(mailboxName(name, percent)));
        }
    }
    QCOMPARE(keys.size(), 8);
}

void TestTessalyIPC::segmentLayout_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty JSON object") << QStringLiteral("{}")
                                       << QByteArray::fromHex("00 00 00 04 00 7B 00 7D");
    QTest::newRow("empty") << QString(QLatin1String("")) << QByteArray::fromHex("00 00 00 00");
    QTest::newRow("null") << QString() << QByteArray::fromHex("FF FF FF FF");
    QTest::newRow("surrogate pair")
            << QString::fromUtf8("A\u00e9\U0001F600")
            << QByteArray::fromHex("00 00 00 08 00 41 00 E9 D8 3D DE 00");
}

void TestTessalyIPC::segmentLayout()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);
    QCOMPARE(frame(message), bytes); // the hand-made frame used below is checked here once

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    serviceIpc.IPCWrite(message);
    QCOMPARE(segmentBytes(serviceOutbox), bytes);

    LogCapture log;
    const QString received = appIpc.IPCRead(false);
    QCOMPARE(received, message);
    QCOMPARE(received.isNull(), message.isNull());
    QCOMPARE(log.messages().size(), message.isEmpty() ? 0 : 1);
    QCOMPARE(segmentBytes(serviceOutbox), QByteArray(bytes.size(), '\0'));
}

void TestTessalyIPC::textsSurviveRoundTrip_data()
{
    QTest::addColumn<QString>("message");

    QTest::newRow("Greek and CJK")
            << QString::fromUtf8("\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac "
                                 "\u65e5\u672c\u8a9e");
    QTest::newRow("emoji pairs") << QString::fromUtf8("\U0001F600\U0001F4E6 ok \U00010348");
    QTest::newRow("JSON with quotes")
            << QString::fromUtf8("{\"message\":\"New version \\\"1.2\\\" \u00fcber %2\","
                                 "\"version\":\"1.2\"}");
    QTest::newRow("control and NUL") << QString(QLatin1String("a\0b\nc\td", 7));
    QTest::newRow("large") << QString(100000, QChar(0x4e2d));
}

void TestTessalyIPC::textsSurviveRoundTrip()
{
    QFETCH(QString, message);

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    for (bool percent : { false, true }) {
        write(serviceIpc, percent, message);
        QCOMPARE(segmentBytes(mailboxName(serviceOutbox, percent)), frame(message));
        QCOMPARE(read(appIpc, percent, true), message);
        write(appIpc, percent, message);
        QCOMPARE(read(serviceIpc, percent, true), message);
    }
}

void TestTessalyIPC::exchangeBothWaysLogsOwnNames()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    LogCapture log;

    appIpc.IPCWrite(QStringLiteral(R"({"action":1,"version":"1.2"})"));
    QCOMPARE(serviceIpc.IPCRead(false), QStringLiteral(R"({"action":1,"version":"1.2"})"));
    serviceIpc.IPCWrite(QStringLiteral(R"({"command":1})"));
    QCOMPARE(appIpc.IPCRead(false), QStringLiteral(R"({"command":1})"));
    serviceIpc.IPCWritePercentage(QStringLiteral(R"({"message":0.5})"));
    QCOMPARE(appIpc.IPCReadPercentage(false), QStringLiteral(R"({"message":0.5})"));
    appIpc.IPCWritePercentage(QStringLiteral("up"));
    QCOMPARE(serviceIpc.IPCReadPercentage(false), QStringLiteral("up"));

    const QStringList expected = {
        QStringLiteral(R"("IPC Tessaly sending message:" "{\"action\":1,\"version\":\"1.2\"}")"),
        QStringLiteral(R"("IPC TessalyUpdater Read message:" "{\"action\":1,\"version\":\"1.2\"}")"),
        QStringLiteral(R"("IPC TessalyUpdater sending message:" "{\"command\":1}")"),
        QStringLiteral(R"("IPC Tessaly Read message:" "{\"command\":1}")"),
        QStringLiteral(R"("IPC TessalyUpdaterPercent sending percentage message:" "{\"message\":0.5}")"),
        QStringLiteral(R"("IPC TessalyPercent Read percentage message:" "{\"message\":0.5}")"),
        QStringLiteral(R"("IPC TessalyPercent sending percentage message:" "up")"),
        QStringLiteral(R"("IPC TessalyUpdaterPercent Read percentage message:" "up")"),
    };
    QCOMPARE(log.messages(), expected);
    QCOMPARE(log.messages(QtInfoMsg).size(), expected.size());
}

void TestTessalyIPC::readTakesMessageOnce_data()
{
    QTest::addColumn<bool>("percent");
    QTest::newRow("command") << false;
    QTest::newRow("percent") << true;
}

void TestTessalyIPC::readTakesMessageOnce()
{
    QFETCH(bool, percent);
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    write(appIpc, percent, QStringLiteral("once"));

    LogCapture log;
    QCOMPARE(read(serviceIpc, percent), QStringLiteral("once"));
    QCOMPARE(log.messages().size(), 1);
    for (int i = 0; i < 2; ++i) {
        const QString again = read(serviceIpc, percent);
        QVERIFY(again.isEmpty());
        QVERIFY(!again.isNull()); // the segment is still there, only consumed
    }
    QCOMPARE(log.messages().size(), 1);
}

void TestTessalyIPC::independentMailboxesLastWriteWins()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);

    serviceIpc.IPCWrite(QStringLiteral("status"));
    for (int i = 0; i < 5; ++i)
        serviceIpc.IPCWritePercentage(QString::number(i));
    QCOMPARE(appIpc.IPCReadPercentage(true), QStringLiteral("4"));
    QVERIFY(isConsumedRead(appIpc.IPCReadPercentage(true)));
    QCOMPARE(appIpc.IPCRead(true), QStringLiteral("status"));

    serviceIpc.IPCWritePercentage(QStringLiteral("progress"));
    serviceIpc.IPCWrite(QStringLiteral("a longer first message"));
    serviceIpc.IPCWrite(QStringLiteral("two"));
    // A fresh segment sized to the new message, not the old one reused.
    QCOMPARE(segmentBytes(serviceOutbox), frame(QStringLiteral("two")));
    QCOMPARE(appIpc.IPCRead(true), QStringLiteral("two"));
    QVERIFY(isConsumedRead(appIpc.IPCRead(true)));
    QCOMPARE(appIpc.IPCReadPercentage(true), QStringLiteral("progress"));

    // Nothing written towards the service, in either of its mailboxes.
    QVERIFY(serviceIpc.IPCRead(true).isNull());
    QVERIFY(serviceIpc.IPCReadPercentage(true).isNull());
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

void TestTessalyIPC::mailboxGoesWithItsWriter()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    {
        TessalyIPC appIpc(serviceOutbox, appOutbox);
        appIpc.IPCWrite(QStringLiteral("never read"));
        appIpc.IPCWritePercentage(QStringLiteral("0.5"));
    }
    QVERIFY(serviceIpc.IPCRead(false).isNull());
    QVERIFY(serviceIpc.IPCReadPercentage(false).isNull());
}

void TestTessalyIPC::silentSuppressesOnlyTheLog_data()
{
    readTakesMessageOnce_data();
}

void TestTessalyIPC::silentSuppressesOnlyTheLog()
{
    QFETCH(bool, percent);
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    write(appIpc, percent, QStringLiteral("quiet"));

    LogCapture log;
    QCOMPARE(read(serviceIpc, percent, true), QStringLiteral("quiet"));
    QVERIFY(log.entries().isEmpty());
    QVERIFY(isAllZero(segmentBytes(mailboxName(appOutbox, percent))));
    QVERIFY(isConsumedRead(read(serviceIpc, percent, false)));
    QVERIFY(log.entries().isEmpty());
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

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    TessalyIPC appIpc(serviceOutbox, appOutbox);
    write(serviceIpc, percent, QStringLiteral("first"));

    // The peer is in the middle of a read: the old segment outlives the
    // writer's detach, and a segment under the same key cannot be created.
    QSharedMemory peer(TessalyIPC::memoryKey(mailbox));
    QVERIFY2(peer.attach(), qPrintable(peer.errorString()));
    {
        LogCapture log;
        write(serviceIpc, percent, QStringLiteral("second"));
        QCOMPARE(log.messages(), QStringList{ failureLine });
        QCOMPARE(log.messages(QtMsgType(level)).size(), 1);
    }
    QCOMPARE(segmentBytes(mailbox), frame(QStringLiteral("first")));
    QCOMPARE(read(appIpc, percent, true), QStringLiteral("first"));
    peer.detach();
    // Dropped, not queued: with the peer gone nothing is left to read.
    QVERIFY(read(appIpc, percent, true).isNull());

    write(serviceIpc, percent, QStringLiteral("third"));
    QCOMPARE(read(appIpc, percent, true), QStringLiteral("third"));
}

void TestTessalyIPC::malformedSegment_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("expectNull");

    QTest::newRow("odd count") << QByteArray::fromHex("00000003 0041 00") << QString() << true;
    QTest::newRow("odd count, room to spare")
            << QByteArray::fromHex("00000005 0041 0042 0043") << QString() << true;
    QTest::newRow("count past the end")
            << QByteArray::fromHex("00000008 0041 0042") << QString() << true;
    QTest::newRow("huge count") << QByteArray::fromHex("7ffffffe 0041") << QString() << true;
    QTest::newRow("null marker, text after it")
            << QByteArray::fromHex("ffffffff 0041") << QString() << true;
    QTest::newRow("1 byte") << QByteArray::fromHex("00") << QString("") << false;
    QTest::newRow("3 bytes") << QByteArray::fromHex("ffffff") << QString("") << false;
    QTest::newRow("consumed") << QByteArray(16, '\0') << QString("") << false;
    QTest::newRow("short count, junk after it")
            << QByteArray::fromHex("00000002 0041 ffff 1234") << QStringLiteral("A") << false;
    QTest::newRow("lone surrogate") << QByteArray::fromHex("00000002 d800")
                                    << QString(QChar(0xd800)) << false;
}

void TestTessalyIPC::malformedSegment()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(bool, expectNull);

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    RawSegment segment(bytes);
    QVERIFY(segment.isValid());

    LogCapture log;
    const QString result = serviceIpc.IPCRead(false);
    QCOMPARE(result, expected);
    QCOMPARE(result.isNull(), expectNull);
    QCOMPARE(log.messages().size(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(segment.bytes(), QByteArray(bytes.size(), '\0'));
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
        if (bytes.size() >= 4 && random.bounded(2)) {
            const quint32 count = random.bounded(quint32(bytes.size() + 2));
            for (int i = 0; i < 4; ++i)
                bytes[i] = char((count >> (24 - 8 * i)) & 0xff);
        }
        RawSegment segment(bytes);
        QVERIFY(segment.isValid());
        const QString result = serviceIpc.IPCRead(true);
        const QString context = QStringLiteral("round %1, bytes %2")
                                        .arg(round)
                                        .arg(QString::fromLatin1(bytes.toHex()));
        if (bytes.size() < 4) {
            QVERIFY2(isConsumedRead(result), qPrintable(context));
        } else {
            const quint32 count = qFromBigEndian<quint32>(bytes.constData());
            if (count % 2 == 0 && count <= quint32(bytes.size() - 4)) {
                QVERIFY2(frame(result) == bytes.left(4 + int(count)), qPrintable(context));
                decoded += result.isEmpty() ? 0 : 1;
            } else {
                QVERIFY2(result.isNull(), qPrintable(context));
                ++rejected;
            }
        }
        QVERIFY2(isAllZero(segment.bytes()), qPrintable(context));
    }
    // Both outcomes must have been exercised for the loop to mean anything.
    QVERIFY(decoded > 50);
    QVERIFY(rejected > 50);
}

void TestTessalyIPC::peerProcessReads_data()
{
    QTest::addColumn<bool>("percent");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("logLine");

    QTest::newRow("command") << false << QStringLiteral(R"({"command":3})")
                             << QByteArray(R"("IPC Tessaly Read message:" "{\"command\":3}")");
    QTest::newRow("percent, surrogate pair")
            << true << QString::fromUtf8("\u00e9\U0001F600\u4e2d")
            << QByteArray(R"("IPC TessalyPercent Read percentage message:")");
}

void TestTessalyIPC::peerProcessReads()
{
    QFETCH(bool, percent);
    QFETCH(QString, message);
    QFETCH(QByteArray, logLine);

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    write(serviceIpc, percent, message);

    QProcess peer;
    peer.start(QStringLiteral(IPC_PEER_HELPER),
               { percent ? QStringLiteral("percent") : QStringLiteral("command"),
                 QStringLiteral("read") });
    QVERIFY2(peer.waitForFinished(10000), qPrintable(peer.errorString()));
    QCOMPARE(peer.exitCode(), 0);
    QCOMPARE(peer.readAllStandardOutput().trimmed(), frame(message).toHex());
    QVERIFY2(peer.readAllStandardError().contains(logLine), logLine.constData());
    // Consumed by the other process, still held alive by the writer.
    QCOMPARE(segmentBytes(mailboxName(serviceOutbox, percent)),
             QByteArray(frame(message).size(), '\0'));
}

void TestTessalyIPC::peerProcessWrites_data()
{
    QTest::addColumn<bool>("percent");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("command") << false << QStringLiteral(R"({"action":2,"version":"1.2"})")
                             << R"("IPC TessalyUpdater Read message:" "{\"action\":2,\"version\":\"1.2\"}")";
    QTest::newRow("percent") << true << QStringLiteral("0.25")
                             << R"("IPC TessalyUpdaterPercent Read percentage message:" "0.25")";
}

void TestTessalyIPC::peerProcessWrites()
{
    QFETCH(bool, percent);
    QFETCH(QString, message);
    QFETCH(QString, logLine);

    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    QProcess peer;
    peer.start(QStringLiteral(IPC_PEER_HELPER),
               { percent ? QStringLiteral("percent") : QStringLiteral("command"),
                 QStringLiteral("write"), QString::fromLatin1(frame(message).toHex()) });
    QVERIFY2(peer.waitForStarted(10000), qPrintable(peer.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(peer.canReadLine() || peer.state() == QProcess::NotRunning, 10000);
    QCOMPARE(peer.readLine().trimmed(), QByteArray("written"));

    QCOMPARE(segmentBytes(mailboxName(appOutbox, percent)), frame(message));
    {
        LogCapture log;
        QCOMPARE(read(serviceIpc, percent), message);
        QCOMPARE(log.messages(), QStringList{ logLine });
        QCOMPARE(log.messages(QtInfoMsg).size(), 1);
    }
    QVERIFY(isConsumedRead(read(serviceIpc, percent)));

    peer.closeWriteChannel();
    QVERIFY(peer.waitForFinished(10000));
    QCOMPARE(peer.exitCode(), 0);
    QVERIFY(read(serviceIpc, percent).isNull());
}

void TestTessalyIPC::peerProcessWaitsForMessage()
{
    TessalyIPC serviceIpc(appOutbox, serviceOutbox);
    QProcess peer;
    peer.start(QStringLiteral(IPC_PEER_HELPER),
               { QStringLiteral("command"), QStringLiteral("wait"), QStringLiteral("20000") });
    QVERIFY2(peer.waitForStarted(10000), qPrintable(peer.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(peer.canReadLine() || peer.state() == QProcess::NotRunning, 10000);
    QCOMPARE(peer.readLine().trimmed(), QByteArray("waiting"));

    const QString message = QStringLiteral(R"({"command":2,"message":"Version \"\" failed"})");
    serviceIpc.IPCWrite(message);
    QVERIFY(peer.waitForFinished(20000));
    QCOMPARE(peer.exitCode(), 0);
    QCOMPARE(peer.readAllStandardOutput().trimmed(), frame(message).toHex());
    QVERIFY(isAllZero(segmentBytes(serviceOutbox)));
}

TESSALY_TEST_MAIN(TestTessalyIPC)

#include "tst_tessalyipc.moc"
