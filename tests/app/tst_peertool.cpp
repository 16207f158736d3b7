// tessaly-peer as a real child process against this test playing the update
// service on real System V mailboxes (the child inherits the private TMPDIR).

#include <QElapsedTimer>
#include <QProcess>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

#include <unistd.h>

#include "ipc/tessalyipc.h"
#include "support/childprogram.h"
#include "support/logcapture.h"
#include "support/testmain.h"
#include "update/updatemessages.h"

namespace {

const QString peerPath = QStringLiteral(TESSALY_PEER_PATH);
const QString requestMailbox = QStringLiteral("Tessaly");
const QString statusMailbox = QStringLiteral("TessalyUpdater");
const QString progressMailbox = QStringLiteral("TessalyUpdaterPercent");
const QString packageUrl = QStringLiteral("http://127.0.0.1:1/app.tar.gz");
const QString downloadRequest =
        QString::fromUtf8(R"({"action":1,"build_release":"http://127.0.0.1:1/app.tar.gz","version":"1.2.3"})");

// The segment as stored: byte count (big-endian), then UTF-16BE code units.
QByteArray frame(const QString &text)
{
    const quint32 count = quint32(text.size()) * 2;
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char(count >> shift));
    for (const QChar c : text)
        bytes.append(char(c.unicode() >> 8)).append(char(c.unicode()));
    return bytes;
}

// A null array when the mailbox has no segment.
QByteArray segmentBytes(const QString &mailbox)
{
    QSharedMemory memory(TessalyIPC::memoryKey(mailbox));
    if (!memory.attach(QSharedMemory::ReadOnly))
        return QByteArray();
    return QByteArray(static_cast<const char *>(memory.constData()), memory.size());
}

bool segmentConsumed(const QString &mailbox)
{
    const QByteArray bytes = segmentBytes(mailbox);
    return !bytes.isNull() && bytes.count('\0') == bytes.size();
}

// Writes one message and waits until the peer has taken it out. A write
// made while the peer is still attached to the previous segment (wiped, not
// yet detached) cannot create its own and is dropped, as the mailbox
// contract says; the segment is then gone and the message is written again.
bool deliver(TessalyIPC &service, bool toStatus, const QString &message)
{
    const QString mailbox = toStatus ? statusMailbox : progressMailbox;
    for (int attempt = 0; attempt < 20; ++attempt) {
        toStatus ? service.IPCWrite(message) : service.IPCWritePercentage(message);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            const QByteArray bytes = segmentBytes(mailbox);
            if (bytes.isNull())
                break;
            if (bytes.count('\0') == bytes.size())
                return true;
            QTest::qWait(10);
        }
    }
    return false;
}

// Reading takes the message out, so it must not sit inside QTRY_*, which
// evaluates its expression once more after it first held.
QString takeRequest(TessalyIPC &service)
{
    QElapsedTimer clock;
    clock.start();
    do {
        const QString request = service.IPCRead(true);
        if (!request.isEmpty())
            return request;
        QTest::qWait(20);
    } while (clock.elapsed() < 5000);
    return QString();
}

// One run of the tool; the spy exists before the start so no end is missed.
class PeerRun
{
public:
    explicit PeerRun(const QStringList &arguments, const QString &program = peerPath)
        : finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished))
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        TestSupport::startChild(process, program, arguments);
    }

    // -1 unless the tool ended by itself in time.
    int exitCode(int timeoutMs = 5000)
    {
        if (finished.isEmpty() && !finished.wait(timeoutMs))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString output() { return QString::fromUtf8(process.readAllStandardOutput()); }
    QString errors() { return QString::fromUtf8(process.readAllStandardError()); }

    QProcess process;
    QSignalSpy finished;
};

} // namespace

class TestPeerTool : public QObject
{
    Q_OBJECT

    // The service's own writes log at info level; keep them out of the report.
    LogCapture m_quiet;

private Q_SLOTS:
    void writesExactRequestBytes_data();
    void writesExactRequestBytes();
    void printsExactPlainLines_data();
    void printsExactPlainLines();
    void discardsStaleResults();
    void timesOutWithoutService_data();
    void timesOutWithoutService();
    void refusesUsageErrors();
    void leavesAnotherWritersRequestAlone();
    void withdrawsRequestWhenInterrupted();
    void watchRunsUntilInterrupted();
    void drawsBarOnTerminal();
};

void TestPeerTool::writesExactRequestBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("errors");

    QTest::newRow("download") << QStringList{ "download", "--version", "1.2.3", "--url", packageUrl }
                              << downloadRequest << QString();
    QTest::newRow("force install, quote and non-latin in version")
            << QStringList{ "download", "--version", "1\"β", "--url", packageUrl, "--force-install" }
            << QString::fromUtf8(R"({"action":3,"build_release":"http://127.0.0.1:1/app.tar.gz","version":"1\"β"})")
            << QString();
    QTest::newRow("install-now, verbose") << QStringList{ "install-now", "--verbose" }
            << R"({"action":2,"build_release":"","version":""})"
            << R"(tessaly-peer: "IPC Tessaly sending message:" "{\"action\":2,\"build_release\":\"\",\"version\":\"\"}")" "\n";
    const QString raw = QString::fromUtf8("[ 1,\n 2 ] not json { \"β😀\"");
    QTest::newRow("send: raw text unchanged") << QStringList{ "send", raw } << raw << QString();
}

void TestPeerTool::writesExactRequestBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, request);

    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer(arguments);
    QTRY_COMPARE_WITH_TIMEOUT(segmentBytes(requestMailbox).toHex(' '), frame(request).toHex(' '), 5000);
    QVERIFY(peer.finished.isEmpty()); // keeps the segment alive until it is read

    QCOMPARE(service.IPCRead(true), request);
    QCOMPARE(peer.exitCode(), 0);
    QCOMPARE(peer.output(), "delivered " + request.replace('\\', "\\\\").replace('\n', "\\n") + '\n');
    QTEST(peer.errors(), "errors");
    QVERIFY(segmentBytes(requestMailbox).isNull()); // gone with the tool
}

void TestPeerTool::printsExactPlainLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Each step: "S" or "P" for the status or progress mailbox, a tab, the text.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("exitCode");

    auto status = [](const QString &text) { return QStringLiteral("S\t") + text; };
    auto progress = [](qint64 done, qint64 total) {
        return QStringLiteral("P\t") + progressMessage(DOWNLOAD_PERCENTAGE, done, total);
    };
    const QString started = QStringLiteral("status DOWNLOAD_STARTED message=Downloading new version, please wait");

    QTest::newRow("download to installed")
            << QStringList{ "download", "--version", "1.2.3", "--url", packageUrl, "--wait", "30" }
            // A line is printed only when it changes: 5/1000 is still 0%, 429/1000 still 42%.
            << QStringList{ status(downloadStartedMessage()), progress(0, 1000), progress(5, 1000),
                            progress(420, 1000), progress(429, 1000), progress(999, 1000), progress(1000, 1000),
                            status(installedMessage(DOWNLOAD_ONLY, "1.2.3")) }
            << QStringList{ "delivered " + downloadRequest, started, "progress 0%", "progress 42%",
                            "progress 99%", "progress 100%",
                            R"(status UPDATE_INSTALLED action=1 version="1.2.3" message=New version "1.2.3" is ready, please reboot to install.)" }
            << 0;
    // A new download starts its progress afresh, so the second 50% is printed; an unknown size
    // and the same complaint show once; a command given as text is not final.
    QTest::newRow("watch: restart, unknown size, bad messages, upload, failure")
            << QStringList{ "watch", "--wait", "30" }
            << QStringList{ status(downloadStartedMessage()), progress(1, 2), status(downloadStartedMessage()),
                            progress(1, 2), progress(100, -1), progress(9000, -1), "P\tnot json", "P\tnot json",
                            "S\t{\"command\":\"2\"}", progress(1, 10),
                            QStringLiteral("P\t") + progressMessage(UPLOAD_PERCENTAGE, 1, 2), progress(0, 0),
                            status(downloadFailedMessage(DOWNLOAD_FORCE_INSTALL, "", "Host \"x\" not found")) }
            << QStringList{ started, "progress 50%", started, "progress 50%", "progress unknown",
                            "error unreadable progress message: not json",
                            R"(error unreadable status message: {"command":"2"})",
                            "progress 10%", "progress upload 50%", "progress unknown",
                            R"(status DOWNLOAD_ERROR action=3 version="" message=Version "" download failed, with error "Host "x" not found" please retry again.)" }
            << 1;
    QTest::newRow("install-now times out and explains") << QStringList{ "install-now", "--wait", "1" }
            << QStringList{ status(downloadStartedMessage()) }
            << QStringList{ R"(delivered {"action":2,"build_release":"","version":""})", started,
                            "error no final status message within 1 s; the service answers install-now "
                            "only when a package waits in its upgrade folder" }
            << 3;
    QTest::newRow("watch times out") << QStringList{ "watch", "--wait", "1" }
            << QStringList{ status(downloadStartedMessage()) }
            << QStringList{ started, "error no final status message within 1 s" } << 3;
}

void TestPeerTool::printsExactPlainLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    QFETCH(int, exitCode);

    TessalyIPC service(requestMailbox, statusMailbox);
    QElapsedTimer clock;
    clock.start();
    PeerRun peer(arguments);
    const bool sends = arguments.first() != QLatin1String("watch");
    if (sends)
        QVERIFY(!takeRequest(service).isEmpty());
    for (const QString &step : qAsConst(steps)) {
        const bool toStatus = step.startsWith(QLatin1Char('S'));
        // One message at a time: the next write would replace an unread one.
        QVERIFY(deliver(service, toStatus, step.mid(2)));
        QVERIFY(sends || segmentBytes(requestMailbox).isNull());
    }

    QCOMPARE(peer.exitCode(), exitCode);
    QCOMPARE(peer.output(), expected.join('\n') + '\n');
    QCOMPARE(peer.errors(), QString());
    if (exitCode == 3) // not a moment before --wait
        QVERIFY(clock.elapsed() >= 1000);
}

void TestPeerTool::discardsStaleResults()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    // Results of an earlier request nobody read.
    service.IPCWrite(installedMessage(DOWNLOAD_ONLY, "0.9"));
    service.IPCWritePercentage(progressMessage(DOWNLOAD_PERCENTAGE, 1, 2));

    PeerRun peer({ "install-now", "--version", "1.0", "--wait", "20" });
    QCOMPARE(takeRequest(service), QString::fromUtf8(R"({"action":2,"build_release":"","version":"1.0"})"));
    // Drained before the request was written, silently.
    QVERIFY(segmentConsumed(statusMailbox));
    QVERIFY(segmentConsumed(progressMailbox));
    QVERIFY(peer.finished.isEmpty());

    service.IPCWrite(installFailedMessage(INSTALL_NOW, "1.0", "gzip: bad\n"));
    QCOMPARE(peer.exitCode(), 1);
    QCOMPARE(peer.output(),
             QStringLiteral("delivered {\"action\":2,\"build_release\":\"\",\"version\":\"1.0\"}\n"
                            "status DOWNLOAD_ERROR action=2 version=\"1.0\" message=New version "
                            "\"1.0\" failed to download or extract, with error gzip: bad\\n\n"));
}

void TestPeerTool::timesOutWithoutService_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("seconds");

    QTest::newRow("with --wait 0.5") << QStringList{ "send", "{}", "--wait", "0.5" } << "0.5";
    QTest::newRow("default 10 s without --wait") << QStringList{ "install-now" } << "10";
}

void TestPeerTool::timesOutWithoutService()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, seconds);

    QElapsedTimer clock;
    clock.start();
    PeerRun peer(arguments);
    QCOMPARE(peer.exitCode(20000), 3);
    QVERIFY(clock.elapsed() >= qint64(seconds.toDouble() * 1000));
    QCOMPARE(peer.output(), QStringLiteral("error no service picked up the request within %1 s; it is withdrawn. Is "
                                           "TessalyUpdater running as this user, with the temporary folder %2 (TMPDIR)?\n")
                                    .arg(seconds, QDir::tempPath()));

    // A service starting now finds nothing.
    TessalyIPC service(requestMailbox, statusMailbox);
    QVERIFY(service.IPCRead(true).isNull());
}

void TestPeerTool::refusesUsageErrors()
{
    PeerRun peer({ "download", "--version", "1", "--url", packageUrl, "--wait", "x" });
    QCOMPARE(peer.exitCode(), 2);
    QCOMPARE(peer.output(), QString());
    QCOMPARE(peer.errors(), QStringLiteral("tessaly-peer: option --wait needs a number above 0 and at most "
                                           "1000000, not \"x\"\nRun \"tessaly-peer --help\" for the commands and "
                                           "options.\n"));
    QVERIFY(segmentBytes(requestMailbox).isNull()); // nothing was sent
}

void TestPeerTool::leavesAnotherWritersRequestAlone()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    TessalyIPC otherApplication(statusMailbox, requestMailbox);
    otherApplication.IPCWrite(QStringLiteral("{\"action\":2}"));

    PeerRun peer({ "download", "--version", "1", "--url", packageUrl, "--wait", "5" });
    QCOMPARE(peer.exitCode(), 4);
    QCOMPARE(peer.output(), QStringLiteral("error mailbox \"Tessaly\" is held by another process (another "
                                           "tessaly-peer still waiting?); the request was not sent\n"));
    QCOMPARE(service.IPCRead(true), QStringLiteral("{\"action\":2}"));
}

void TestPeerTool::withdrawsRequestWhenInterrupted()
{
    PeerRun peer({ "download", "--version", "1", "--url", packageUrl });
    QTRY_VERIFY_WITH_TIMEOUT(segmentBytes(requestMailbox).count('\0') < segmentBytes(requestMailbox).size(), 5000);
    peer.process.terminate();
    QCOMPARE(peer.exitCode(), 128 + SIGTERM);
    QCOMPARE(peer.output(), QString());

    TessalyIPC service(requestMailbox, statusMailbox);
    QVERIFY(service.IPCRead(true).isNull());
}

void TestPeerTool::watchRunsUntilInterrupted()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer({ "watch" });
    // A final message does not end a watch without --wait.
    QVERIFY(deliver(service, true, installedMessage(DOWNLOAD_ONLY, "3")));
    QTest::qWait(300);
    QVERIFY(peer.finished.isEmpty());

    ::kill(pid_t(peer.process.processId()), SIGINT);
    QCOMPARE(peer.exitCode(), 128 + SIGINT);
    QCOMPARE(peer.output(), QStringLiteral("status UPDATE_INSTALLED action=1 version=\"3\" message=New "
                                           "version \"3\" is ready, please reboot to install.\n"));
}

void TestPeerTool::drawsBarOnTerminal()
{
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    QVERIFY2(!script.isEmpty(), "script (util-linux) is needed to give the tool a terminal");

    TessalyIPC service(requestMailbox, statusMailbox);
    // script runs the tool on a pseudo-terminal and ends with its exit code.
    const QString command = TestSupport::childShellCommand(
            peerPath, { "watch", "--wait", "30", "--size", "2048" });
    PeerRun peer({ "-q", "-e", "-c", command, "/dev/null" }, script);
    QVERIFY(deliver(service, true, downloadStartedMessage()));
    for (qint64 done : { 512, 1024, 2048 })
        QVERIFY(deliver(service, false, progressMessage(DOWNLOAD_PERCENTAGE, done, 2048)));
    QVERIFY(deliver(service, true, installedMessage(DOWNLOAD_ONLY, "5")));

    QCOMPARE(peer.exitCode(10000), 0);
    const QString output = peer.output();
    // The terminal turns each line break into CR LF; the rates in between depend on timing.
    const QStringList expectedInOrder = {
        "status DOWNLOAD_STARTED message=Downloading new version, please wait\r\n",
        "\rprogress [#####---------------]  25.0%  512 B / 2.0 KiB\x1b[K",
        "\rprogress [##########----------]  50.0%  1.0 KiB / 2.0 KiB",
        "\rprogress [####################] 100.0%  2.0 KiB / 2.0 KiB",
        "\r\nstatus UPDATE_INSTALLED action=1 version=\"5\" message=New version \"5\" is ready, "
        "please reboot to install.\r\n",
    };
    int from = 0;
    for (const QString &piece : expectedInOrder) {
        const int at = output.indexOf(piece, from);
        QVERIFY2(at >= 0, qPrintable("missing " + piece.toUtf8().toHex() + " in " + output.toUtf8().toHex()));
        from = at + piece.size();
    }
    QVERIFY(!output.contains(QStringLiteral("progress 25%"))); // no plain lines on a terminal
}

TESSALY_TEST_MAIN(TestPeerTool)
#include "tst_peertool.moc"
