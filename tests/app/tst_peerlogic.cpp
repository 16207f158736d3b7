// How tessaly-peer turns the service's messages into lines: the odd cases.
// The common messages are pinned end to end in tst_peertool.

#include <QtTest>

#include "peersession.h"
#include "support/testmain.h"
#include "update/updatemessages.h"

class TestPeerLogic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void describesStatusMessages_data();
    void describesStatusMessages();
    void describesProgress_data();
    void describesProgress();
};

// Lines never break: controls are escaped, the version quoted.
void TestPeerLogic::describesStatusMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("version with quote and backslash")
            << installedMessage(DOWNLOAD_ONLY, QStringLiteral("a\"b\\c"))
            << QStringLiteral(R"(status UPDATE_INSTALLED action=1 version="a\"b\\c" message=New version "a"b\\c" is ready, please reboot to install.)")
            << 0;
    QTest::newRow("controls escaped, non-latin kept")
            << QString::fromUtf8(R"({"command":0,"message":"x\ny\r\tz\u0001\u007f\u0000 Größe 😀"})")
            << QString::fromUtf8(R"(status MESSAGE_ONLY message=x\ny\r\tz\x01\x7f\x00 Größe 😀)") << -1;
    QTest::newRow("unknown command number")
            << QStringLiteral(R"({"command":9,"message":"?"})") << QStringLiteral("status 9 message=?")
            << -1;
    QTest::newRow("mistyped fields left out")
            << QStringLiteral(R"({"command":2,"action":"1","version":5,"message":null})")
            << QStringLiteral("status DOWNLOAD_ERROR") << 1;
    QTest::newRow("not json") << QStringLiteral("garbage\nhere")
                              << QStringLiteral("error unreadable status message: garbage\\nhere") << -1;
    QTest::newRow("fractional command") << QStringLiteral(R"({"command":3.5})")
                                        << QStringLiteral(R"(error unreadable status message: {"command":3.5})")
                                        << -1;
}

void TestPeerLogic::describesStatusMessages()
{
    QFETCH(QString, message);
    const StatusLine line = describeStatus(message);
    QTEST(line.text, "line");
    QTEST(line.exitCode, "exitCode");
}

void TestPeerLogic::describesProgress_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("bar");

    const auto download = [](qint64 done, qint64 total) {
        return progressMessage(DOWNLOAD_PERCENTAGE, done, total);
    };
    QTest::newRow("0.29 is 29 despite binary")
            << QStringLiteral(R"({"command":1,"message":0.29})") << qint64(-1)
            << QStringLiteral("progress 29%") << QStringLiteral("progress [#####---------------]  29.0%");
    QTest::newRow("one byte short is not done")
            << download(999999999, 1000000000) << qint64(1000000000) << QStringLiteral("progress 99%")
            << QStringLiteral("progress [###################-]  99.9%  953.7 MiB / 953.7 MiB");
    QTest::newRow("above one clamps") << QStringLiteral(R"({"command":1,"message":1.5})") << qint64(1536)
                                      << QStringLiteral("progress 100%")
                                      << QStringLiteral("progress [####################] 100.0%  1.5 KiB / 1.5 KiB");
    QTest::newRow("unknown size: bytes received")
            << download(1048575, -1) << qint64(-1) << QStringLiteral("progress unknown")
            << QStringLiteral("progress 1.0 MiB, size unknown");
    QTest::newRow("upload, total 0") << progressMessage(UPLOAD_PERCENTAGE, 0, 0) << qint64(-1)
                                     << QStringLiteral("progress upload unknown")
                                     << QStringLiteral("progress upload size unknown");
    QTest::newRow("unknown tag") << QStringLiteral(R"({"command":2,"message":0.5})") << qint64(-1)
                                 << QStringLiteral(R"(error unreadable progress message: {"command":2,"message":0.5})")
                                 << QStringLiteral(R"(error unreadable progress message: {"command":2,"message":0.5})");
}

void TestPeerLogic::describesProgress()
{
    QFETCH(QString, message);
    QFETCH(qint64, size);
    const ProgressReport report = parseProgress(message);
    QTEST(plainProgressLine(report), "plain");
    QTEST(progressBarLine(report, size), "bar");
}

TESSALY_TEST_MAIN(TestPeerLogic)
#include "tst_peerlogic.moc"
