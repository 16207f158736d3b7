#include <QtTest>

#include <cstring>

#include "ipc/tessalyipc.h"
#include "support/testsupport.h"

using TestSupport::u;
const QString app = u("Tessaly"), service = u("TessalyUpdater");

class TestTessalyIPC : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keys()
    {
        // printf '%s' "${name}_ipcMemKey" | sha1sum, and so on.
        QCOMPARE(TessalyIPC::memoryKey(app), u("dc7fb34096a395cc6046c500e4ae8def86d04508"));
        QCOMPARE(TessalyIPC::lockKey(app), u("90ea48caec749b2041587dc291823a605d5086b3"));
    }

    void segments_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("wellFormed");
        QTest::newRow("{}") << QByteArray::fromHex("00000004 007B 007D") << u("{}") << true;
        QTest::newRow("empty") << QByteArray::fromHex("00000000") << u("") << true;
        QTest::newRow("null") << QByteArray::fromHex("FFFFFFFF") << QString() << true;
        QTest::newRow("pair") << QByteArray::fromHex("00000006 0041 D83DDE00") << u("A😀") << true;
        QTest::newRow("odd count") << QByteArray::fromHex("00000003 0041 00") << QString() << false;
        QTest::newRow("past the end") << QByteArray::fromHex("00000004 0041") << QString() << false;
        QTest::newRow("3 bytes") << QByteArray::fromHex("FFFFFF") << u("") << false;
    }
    void segments()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(bool, wellFormed);
        TessalyIPC updater(app, service);
        TessalyIPC mainApp(service, app);
        QSharedMemory raw(TessalyIPC::memoryKey(app));
        if (wellFormed)
            mainApp.IPCWrite(message);
        else if (raw.create(bytes.size()))
            std::memcpy(raw.data(), bytes.constData(), size_t(bytes.size()));
        QCOMPARE(TestSupport::segmentBytes(app), bytes);
        const QString read = updater.IPCRead(false);
        QCOMPARE(qMakePair(read, read.isNull()), qMakePair(message, message.isNull()));
        QCOMPARE(TestSupport::segmentBytes(app), QByteArray(bytes.size(), '\0')); // taken once
        QVERIFY(updater.IPCRead(true).isEmpty() && !updater.IPCRead(true).isNull());
    }

    // A reader still attached keeps the old segment: the new message is dropped, and logged.
    void writeFailsWhileReaderAttached()
    {
        TessalyIPC updater(app, service);
        TessalyIPC mainApp(service, app);
        QVERIFY(mainApp.IPCReadPercentage(true).isNull());
        updater.IPCWritePercentage(u("first"));
        QSharedMemory reader(TessalyIPC::memoryKey(service + u("Percent")));
        QVERIFY(reader.attach());
        QTest::ignoreMessage(QtWarningMsg,
                             "\"IPC TessalyUpdaterPercent Unable to create shared "
                             "memory segment.\"");
        updater.IPCWritePercentage(u("second"));
        QCOMPARE(mainApp.IPCReadPercentage(true), u("first"));
        reader.detach();
        QVERIFY(mainApp.IPCReadPercentage(true).isNull());
    }
};

TESSALY_MAILBOX_TEST_MAIN(TestTessalyIPC)

#include "tst_tessalyipc.moc"
