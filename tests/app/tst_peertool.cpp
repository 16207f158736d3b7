// tessaly-peer as a real child process against this test playing the update
// service on real System V mailboxes (the child inherits the private TMPDIR).

#include <QElapsedTimer>
#include <QProcess>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

#include "ipc/tessalyipc.h"
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
    QByteArray bytes;
    const quint32 count = quint32(text.size()) * 2;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((count >> shift) & 0xff));
    for (const QChar c : text) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xff));
    }
    return bytes;
}

// A null array when the mailbox has no segment.
QByteArray segmentBytes(const QString &mailbox)
{
    QSharedMemory memory(TessalyIPC::memoryKey(mailbox));
    if (!memory.attach(QSharedMemory::ReadOnly))
        return QByteArray();
    QByteArray bytes(static_cast<const char *>(memory.constData()), memory.size());
    memory.detach();
    return bytes;
}

// Reading takes the message out, so it must not sit inside QTRY_*, which
// evaluates its expression once more after it first held.
QString takeRequest(TessalyIPC &service, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    do {
        const QString request = service.IPCRead(true);
        if (!request.isEmpty())
            return request;
        QTest::qWait(20);
    } while (clock.elapsed() < timeoutMs);
    return QString();
}

bool segmentConsumed(const QString &mailbox)
{
    const QByteArray bytes = segmentBytes(mailbox);
    return !bytes.isNull() && bytes.count('\0') == bytes.size();
}

// One run of the tool; the spy exists before the start so no end is missed.
class PeerRun
{
public:
    explicit PeerRun(const QStringList &arguments, const QString &program = peerPath,
                     const QStringList &programArguments = QStringList())
        : finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished))
    {
        process.start(program, programArguments.isEmpty() ? arguments : programArguments);
    }

    bool waitForEnd(int timeoutMs)
    {
        return !finished.isEmpty() || finished.wait(timeoutMs);
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

private slots:
    void initTestCase();
    void writesExactRequestBytes_data();
    void writesExactRequestBytes();
    void endsAtFinalMessage_data();
    void endsAtFinalMessage();
    void printsExactPlainLines_data();
    void printsExactPlainLines();
    void discardsStaleResults();
    void timesOutWithoutFinalMessage_data();
    void timesOutWithoutFinalMessage();
    void timesOutWithoutService_data();
    void timesOutWithoutService();
    void refusesUsageErrors_data();
    void refusesUsageErrors();
    void leavesAnotherWritersRequestAlone();
    void withdrawsRequestWhenInterrupted();
    void watchRunsUntilInterrupted();
    void verboseShowsMailboxLogLines();
    void drawsBarOnTerminal();

private:
    // The service's own writes log at info level; keep them out of the report.
    LogCapture m_quiet;
};

void TestPeerTool::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    QVERIFY2(QFileInfo(peerPath).isExecutable(), qPrintable(peerPath));
}

void TestPeerTool::writesExactRequestBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("request");

    QTest::newRow("download") << QStringList{ "download", "--version", "1.2.3", "--url", packageUrl }
                              << downloadRequest;
    QTest::newRow("download force install")
            << QStringList{ "download", "--version", "1.2.3", "--url", packageUrl, "--force-install" }
            << QString::fromUtf8(R"({"action":3,"build_release":"http://127.0.0.1:1/app.tar.gz","version":"1.2.3"})");
    QTest::newRow("install-now") << QStringList{ "install-now" }
                                 << QString::fromUtf8(R"({"action":2,"build_release":"","version":""})");
    QTest::newRow("send not json") << QStringList{ "send", "not json {" } << "not json {";
    QTest::newRow("send array with spacing and line break")
            << QStringList{ "send", "[ 1,\n 2 ]" } << "[ 1,\n 2 ]";
    QTest::newRow("send text beyond latin-1")
            << QStringList{ "send", QString::fromUtf8("{\"version\":\"β😀\"}") }
            << QString::fromUtf8("{\"version\":\"β😀\"}");
}

void TestPeerTool::writesExactRequestBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, request);

    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer(arguments);

    QByteArray written;
    QTRY_VERIFY_WITH_TIMEOUT(!(written = segmentBytes(requestMailbox)).isNull(), 5000);
    QCOMPARE(written.toHex(' '), frame(request).toHex(' '));
    QVERIFY(peer.finished.isEmpty()); // still there to keep the segment alive

    QCOMPARE(service.IPCRead(true), request);
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process.exitCode(), 0);
    QCOMPARE(peer.output(), QStringLiteral("delivered ") + request.replace('\n', "\\n") + '\n');
    QCOMPARE(peer.errors(), QString());
    // Once the tool is gone the request segment is gone with it.
    QVERIFY(segmentBytes(requestMailbox).isNull());
}

void TestPeerTool::endsAtFinalMessage_data()
{
    QTest::addColumn<QString>("finalMessage");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");

    QTest::newRow("installed") << installedMessage(DOWNLOAD_ONLY, "1.2.3") << 0
                               << R"(status UPDATE_INSTALLED action=1 version="1.2.3" message=New version "1.2.3" is ready, please reboot to install.)";
    QTest::newRow("download failed")
            << downloadFailedMessage(DOWNLOAD_ONLY, "1.2.3", "Connection refused") << 1
            << R"(status DOWNLOAD_ERROR action=1 version="1.2.3" message=Version "1.2.3" download failed, with error "Connection refused" please retry again.)";
    QTest::newRow("installation failed")
            << installFailedMessage(DOWNLOAD_ONLY, "1.2.3", "tar: not a tar\n") << 1
            << R"(status DOWNLOAD_ERROR action=1 version="1.2.3" message=New version "1.2.3" failed to download or extract, with error tar: not a tar\n)";
}

void TestPeerTool::endsAtFinalMessage()
{
    QFETCH(QString, finalMessage);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);

    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer({ "download", "--version", "1.2.3", "--url", packageUrl, "--wait", "20" });

    QCOMPARE(takeRequest(service), downloadRequest);
    service.IPCWrite(downloadStartedMessage());
    QTRY_VERIFY_WITH_TIMEOUT(segmentConsumed(statusMailbox), 5000);
    QVERIFY(peer.finished.isEmpty()); // a started download is not the end
    service.IPCWrite(finalMessage);

    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process.exitCode(), exitCode);
    const QStringList lines = peer.output().split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last break
    QCOMPARE(lines.at(1), QStringLiteral("status DOWNLOAD_STARTED message=Downloading new version, please wait"));
    QCOMPARE(lines.at(2), lastLine);
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

    QTest::newRow("download to installed")
            << QStringList{ "download", "--version", "1.2.3", "--url", packageUrl, "--wait", "30" }
            << QStringList{ status(downloadStartedMessage()),
                            progress(0, 1000),
                            progress(5, 1000), // still 0%: not repeated
                            progress(420, 1000),
                            progress(429, 1000), // still 42%
                            progress(999, 1000),
                            progress(1000, 1000),
                            status(installedMessage(DOWNLOAD_ONLY, "1.2.3")) }
            << QStringList{ "delivered " + downloadRequest,
                            "status DOWNLOAD_STARTED message=Downloading new version, please wait",
                            "progress 0%",
                            "progress 42%",
                            "progress 99%",
                            "progress 100%",
                            R"(status UPDATE_INSTALLED action=1 version="1.2.3" message=New version "1.2.3" is ready, please reboot to install.)" }
            << 0;
    QTest::newRow("watch: unknown size, bad messages, upload, failure")
            << QStringList{ "watch", "--wait", "30" }
            << QStringList{ status(downloadStartedMessage()),
                            progress(100, -1),
                            progress(9000, -1), // unknown once is enough
                            "P\tnot json",
                            "P\tnot json", // the same complaint once
                            "S\t{\"command\":\"2\"}", // not final: a text, not a number
                            progress(1, 10),
                            QStringLiteral("P\t") + progressMessage(UPLOAD_PERCENTAGE, 1, 2),
                            progress(0, 0),
                            status(downloadFailedMessage(DOWNLOAD_FORCE_INSTALL, "", "Host \"x\" not found")) }
            << QStringList{ "status DOWNLOAD_STARTED message=Downloading new version, please wait",
                            "progress unknown",
                            "error unreadable progress message: not json",
                            R"(error unreadable status message: {"command":"2"})",
                            "progress 10%",
                            "progress upload 50%",
                            "progress unknown",
                            R"(status DOWNLOAD_ERROR action=3 version="" message=Version "" download failed, with error "Host "x" not found" please retry again.)" }
            << 1;
    QTest::newRow("a second download starts its progress afresh")
            << QStringList{ "watch", "--wait", "30" }
            << QStringList{ status(downloadStartedMessage()), progress(1, 2),
                            status(downloadStartedMessage()), progress(1, 2),
                            status(installedMessage(INSTALL_NOW, "9")) }
            << QStringList{ "status DOWNLOAD_STARTED message=Downloading new version, please wait",
                            "progress 50%",
                            "status DOWNLOAD_STARTED message=Downloading new version, please wait",
                            "progress 50%",
                            R"(status UPDATE_INSTALLED action=2 version="9" message=New version "9" is ready, please reboot to install.)" }
            << 0;
}

void TestPeerTool::printsExactPlainLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    QFETCH(int, exitCode);

    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer(arguments);
    // watch sends nothing and drains nothing: a message written before it
    // looks is still there when it does.
    if (arguments.first() != QLatin1String("watch"))
        QVERIFY(!takeRequest(service).isEmpty());

    for (const QString &step : qAsConst(steps)) {
        const QString text = step.mid(2);
        const bool toStatus = step.startsWith(QLatin1Char('S'));
        if (toStatus)
            service.IPCWrite(text);
        else
            service.IPCWritePercentage(text);
        // One message at a time: the next write would replace an unread one.
        QTRY_VERIFY_WITH_TIMEOUT(segmentConsumed(toStatus ? statusMailbox : progressMailbox), 5000);
    }

    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitCode(), exitCode);
    QCOMPARE(peer.output(), expected.join('\n') + '\n');
    QCOMPARE(peer.errors(), QString());
}

void TestPeerTool::discardsStaleResults()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    // Left over from an earlier request nobody read.
    service.IPCWrite(installedMessage(DOWNLOAD_ONLY, "0.9"));
    service.IPCWritePercentage(progressMessage(DOWNLOAD_PERCENTAGE, 1, 2));

    PeerRun peer({ "install-now", "--version", "1.0", "--wait", "20" });
    QCOMPARE(takeRequest(service), QString::fromUtf8(R"({"action":2,"build_release":"","version":"1.0"})"));
    // Drained before the request was written, silently.
    QVERIFY(segmentConsumed(statusMailbox));
    QVERIFY(segmentConsumed(progressMailbox));
    QVERIFY(peer.finished.isEmpty());

    service.IPCWrite(installFailedMessage(INSTALL_NOW, "1.0", "gzip: bad\n"));
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitCode(), 1);
    QCOMPARE(peer.output(),
             QStringLiteral("delivered {\"action\":2,\"build_release\":\"\",\"version\":\"1.0\"}\n"
                            "status DOWNLOAD_ERROR action=2 version=\"1.0\" message=New version "
                            "\"1.0\" failed to download or extract, with error gzip: bad\\n\n"));
}

void TestPeerTool::timesOutWithoutFinalMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("lastLine");

    QTest::newRow("download") << QStringList{ "download", "--version", "1", "--url", packageUrl, "--wait", "1" }
                              << "error no final status message within 1 s";
    QTest::newRow("install-now explains")
            << QStringList{ "install-now", "--wait", "1" }
            << "error no final status message within 1 s; the service answers install-now only "
               "when a package waits in its upgrade folder";
    QTest::newRow("watch") << QStringList{ "watch", "--wait", "1" }
                           << "error no final status message within 1 s";
}

void TestPeerTool::timesOutWithoutFinalMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, lastLine);

    TessalyIPC service(requestMailbox, statusMailbox);
    QElapsedTimer clock;
    clock.start();
    PeerRun peer(arguments);
    if (arguments.first() != QLatin1String("watch"))
        QVERIFY(!takeRequest(service).isEmpty());
    // A started download is not final either.
    service.IPCWrite(downloadStartedMessage());

    QVERIFY(peer.waitForEnd(10000));
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(peer.process.exitCode(), 3);
    QVERIFY2(peer.output().endsWith(lastLine + '\n'), qPrintable(lastLine));
}

void TestPeerTool::timesOutWithoutService_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("seconds");

    QTest::newRow("with --wait 1") << QStringList{ "download", "--version", "1", "--url", packageUrl, "--wait", "1" }
                                   << "1";
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
    QVERIFY(peer.waitForEnd(20000));
    QVERIFY(clock.elapsed() >= qint64(seconds.toDouble() * 1000));
    QCOMPARE(peer.process.exitCode(), 3);
    const QString expected = QStringLiteral("error no service picked up the request within %1 s; it "
                                            "is withdrawn. Is TessalyUpdater running as user ")
                                     .arg(seconds);
    const QString output = peer.output();
    QVERIFY2(output.startsWith(expected), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("with the temporary folder %1 (TMPDIR)?").arg(QDir::tempPath())),
             qPrintable(output));
    QCOMPARE(output.count('\n'), 1);

    // The request went with the tool: a service starting now finds nothing.
    TessalyIPC service(requestMailbox, statusMailbox);
    QVERIFY(service.IPCRead(true).isNull());
}

void TestPeerTool::refusesUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("no arguments") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList{ "reboot" } << "unknown command \"reboot\"";
    QTest::newRow("unknown option") << QStringList{ "watch", "--quiet" } << "unknown option \"--quiet\"";
    QTest::newRow("missing version") << QStringList{ "download", "--url", packageUrl, "--wait", "5" }
                                     << "download needs --version";
    QTest::newRow("missing url") << QStringList{ "download", "--version", "1" } << "download needs --url";
    QTest::newRow("bad wait") << QStringList{ "download", "--version", "1", "--url", packageUrl, "--wait", "x" }
                              << "option --wait needs a number of seconds above 0 and at most 1000000, not \"x\"";
    QTest::newRow("option of another command") << QStringList{ "install-now", "--url", packageUrl }
                                               << "option --url is not used by install-now";
    QTest::newRow("send without text") << QStringList{ "send" } << "send needs the text to write";
}

void TestPeerTool::refusesUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    PeerRun peer(arguments);
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process.exitCode(), 2);
    QCOMPARE(peer.output(), QString());
    QCOMPARE(peer.errors(), QStringLiteral("tessaly-peer: %1\nRun \"tessaly-peer --help\" for the "
                                           "commands and options.\n")
                                    .arg(message));
    QVERIFY(segmentBytes(requestMailbox).isNull()); // nothing was sent
}

void TestPeerTool::leavesAnotherWritersRequestAlone()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    TessalyIPC otherApplication(statusMailbox, requestMailbox);
    otherApplication.IPCWrite(QStringLiteral("{\"action\":2}"));

    PeerRun peer({ "download", "--version", "1", "--url", packageUrl, "--wait", "5" });
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitCode(), 4);
    QCOMPARE(peer.output(), QStringLiteral("error mailbox \"Tessaly\" is held by another process "
                                           "(another tessaly-peer still waiting?); the request was "
                                           "not sent\n"));
    QCOMPARE(service.IPCRead(true), QStringLiteral("{\"action\":2}"));
}

void TestPeerTool::withdrawsRequestWhenInterrupted()
{
    PeerRun peer({ "download", "--version", "1", "--url", packageUrl });
    QTRY_VERIFY_WITH_TIMEOUT(!segmentBytes(requestMailbox).isNull(), 5000);
    peer.process.terminate();
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process.exitCode(), 128 + SIGTERM);
    QCOMPARE(peer.output(), QString());

    TessalyIPC service(requestMailbox, statusMailbox);
    QVERIFY(service.IPCRead(true).isNull());
}

void TestPeerTool::watchRunsUntilInterrupted()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer({ "watch" });
    QTRY_VERIFY_WITH_TIMEOUT(peer.process.state() == QProcess::Running, 5000);
    // A final message does not end a watch without --wait.
    service.IPCWrite(installedMessage(DOWNLOAD_ONLY, "3"));
    QTRY_VERIFY_WITH_TIMEOUT(segmentConsumed(statusMailbox), 5000);
    QTest::qWait(300);
    QVERIFY(peer.finished.isEmpty());

    ::kill(pid_t(peer.process.processId()), SIGINT);
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process.exitCode(), 128 + SIGINT);
    QVERIFY(peer.output().startsWith(QStringLiteral("status UPDATE_INSTALLED action=1 version=\"3\"")));
}

void TestPeerTool::verboseShowsMailboxLogLines()
{
    TessalyIPC service(requestMailbox, statusMailbox);
    PeerRun peer({ "download", "--version", "1.2.3", "--url", packageUrl, "--verbose" });
    QCOMPARE(takeRequest(service), downloadRequest);
    QVERIFY(peer.waitForEnd(5000));
    QCOMPARE(peer.process.exitCode(), 0);
    QCOMPARE(peer.output(), QStringLiteral("delivered ") + downloadRequest + '\n');
    const QString errors = peer.errors();
    QVERIFY2(errors.contains(QStringLiteral("tessaly-peer: \"IPC Tessaly sending message:\" \"")),
             qPrintable(errors));
}

void TestPeerTool::drawsBarOnTerminal()
{
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    QVERIFY2(!script.isEmpty(), "script (util-linux) is needed to give the tool a terminal");

    TessalyIPC service(requestMailbox, statusMailbox);
    // script runs the tool on a pseudo-terminal and ends with its exit code.
    const QString command = peerPath + QStringLiteral(" watch --wait 30 --size 2048");
    PeerRun peer({}, script, { "-q", "-e", "-c", command, "/dev/null" });

    service.IPCWrite(downloadStartedMessage());
    QTRY_VERIFY_WITH_TIMEOUT(segmentConsumed(statusMailbox), 5000);
    for (qint64 done : { 512, 1024, 2048 }) {
        service.IPCWritePercentage(progressMessage(DOWNLOAD_PERCENTAGE, done, 2048));
        QTRY_VERIFY_WITH_TIMEOUT(segmentConsumed(progressMailbox), 5000);
    }
    service.IPCWrite(installedMessage(DOWNLOAD_ONLY, "5"));

    QVERIFY(peer.waitForEnd(10000));
    QCOMPARE(peer.process.exitCode(), 0);
    const QString output = peer.output();
    // The terminal turns each line break into CR LF.
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
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing %1 in %2").arg(piece.toUtf8().toHex().constData(),
                                                                          output.toUtf8().toHex().constData())));
        from = at + piece.size();
    }
    QVERIFY(!output.contains(QStringLiteral("progress 25%"))); // no plain lines on a terminal
}

TESSALY_TEST_MAIN(TestPeerTool)
#include "tst_peertool.moc"
