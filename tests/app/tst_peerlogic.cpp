// The pure logic of tessaly-peer: argument parsing and the lines it prints.

#include <QtTest>

#include <cmath>

#include "peerformat.h"
#include "peeroptions.h"
#include "ratemeter.h"
#include "support/testmain.h"
#include "update/updatemessages.h"

namespace {

// Every field that differs from its default, so one string states a whole parse.
QString summary(const PeerOptions &options)
{
    static const char *const commands[] = { "help", "download", "install-now", "send", "watch" };
    QStringList parts{ QLatin1String(commands[int(options.command)]) };
    auto add = [&parts](bool given, const QString &part) {
        if (given)
            parts << part;
    };
    add(!options.version.isEmpty(), "version=" + options.version);
    add(!options.url.isEmpty(), "url=" + options.url);
    add(options.command == PeerCommand::Send || !options.rawText.isEmpty(), "text=" + options.rawText);
    add(options.forceInstall, "force");
    add(options.waitMs != -1, "wait=" + QString::number(options.waitMs));
    add(options.sizeBytes != -1, "size=" + QString::number(options.sizeBytes));
    add(options.verbose, "verbose");
    return parts.join(' ');
}

QString download(qint64 done, qint64 total)
{
    return progressMessage(DOWNLOAD_PERCENTAGE, done, total);
}

} // namespace

class TestPeerLogic : public QObject
{
    Q_OBJECT

private slots:
    void parsesArguments_data();
    void parsesArguments();
    void describesStatusMessages_data();
    void describesStatusMessages();
    void printsPlainProgress_data();
    void printsPlainProgress();
    void formatsBytes_data();
    void formatsBytes();
    void rateMeterFollowsRecentSamples();
    void drawsProgressBar_data();
    void drawsProgressBar();
    void helpDocumentsTheContract();
};

void TestPeerLogic::parsesArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("parsed"); // the options, or the error after "error "

    const QString url = QStringLiteral("http://127.0.0.1:1/app.tar.gz");
    auto badWait = [](const char *value) {
        return QStringLiteral("error option --wait needs a number of seconds above 0 and at most 1000000, not \"%1\"")
                .arg(QLatin1String(value));
    };
    auto badSize = [](const char *value) {
        return QStringLiteral("error option --size needs a number of bytes above 0, not \"%1\"").arg(QLatin1String(value));
    };
    QTest::newRow("download") << QStringList{ "download", "--version", "1.2.3", "--url", url }
                              << "download version=1.2.3 url=" + url;
    QTest::newRow("options first, inline values, '=' inside a value")
            << QStringList{ "--wait=2.5", "--url=http://h/p?a=b", "download", "--version=1.2.3" }
            << "download version=1.2.3 url=http://h/p?a=b wait=2500";
    QTest::newRow("force, size, verbose")
            << QStringList{ "download", "--force-install", "--version", "9", "--url", url, "--size",
                            "1048576", "--verbose" }
            << "download version=9 url=" + url + " force size=1048576 verbose";
    QTest::newRow("install-now") << QStringList{ "install-now" } << "install-now";
    QTest::newRow("install-now with version and wait")
            << QStringList{ "install-now", "--version", "2.0", "--wait", "30" }
            << "install-now version=2.0 wait=30000";
    QTest::newRow("send empty text") << QStringList{ "send", "" } << "send text=";
    QTest::newRow("--help after -- is text") << QStringList{ "send", "--wait", "1", "--", "--help" }
                                             << "send text=--help wait=1000";
    QTest::newRow("wait fraction rounds up to whole ms") << QStringList{ "watch", "--wait", "0.0001" }
                                                         << "watch wait=1";
    QTest::newRow("wait at the maximum") << QStringList{ "watch", "--wait", "1000000" }
                                         << "watch wait=1000000000";
    QTest::newRow("help") << QStringList{ "--help" } << "help";
    QTest::newRow("-h wins over errors") << QStringList{ "bogus", "--nope", "-h" } << "help";
    QTest::newRow("nothing") << QStringList() << "error no command given";
    QTest::newRow("command in capitals") << QStringList{ "WATCH" } << "error unknown command \"WATCH\"";
    QTest::newRow("single dash option") << QStringList{ "watch", "-v" } << "error unknown option \"-v\"";
    QTest::newRow("unknown inline option") << QStringList{ "watch", "--speed=3" } << "error unknown option \"--speed\"";
    QTest::newRow("download without version") << QStringList{ "download", "--url", url } << "error download needs --version";
    QTest::newRow("download without url") << QStringList{ "download", "--version", "1" } << "error download needs --url";
    QTest::newRow("empty url") << QStringList{ "download", "--version", "1", "--url=" }
                               << "error option --url needs a non-empty value";
    QTest::newRow("value missing at the end") << QStringList{ "download", "--version", "1", "--url" }
                                              << "error option --url needs a value";
    QTest::newRow("wait zero") << QStringList{ "watch", "--wait", "0" } << badWait("0");
    QTest::newRow("wait nan") << QStringList{ "watch", "--wait", "nan" } << badWait("nan");
    QTest::newRow("wait above the maximum") << QStringList{ "watch", "--wait", "1000001" } << badWait("1000001");
    QTest::newRow("wait with unit") << QStringList{ "watch", "--wait", "5s" } << badWait("5s");
    QTest::newRow("size zero") << QStringList{ "watch", "--size", "0" } << badSize("0");
    QTest::newRow("size fraction") << QStringList{ "watch", "--size", "1.5" } << badSize("1.5");
    QTest::newRow("given twice") << QStringList{ "watch", "--wait", "1", "--wait", "2" } << "error option --wait given twice";
    QTest::newRow("flag with value") << QStringList{ "download", "--force-install=yes" }
                                     << "error option --force-install takes no value";
    QTest::newRow("url for install-now") << QStringList{ "install-now", "--url", url }
                                         << "error option --url is not used by install-now";
    QTest::newRow("version for watch") << QStringList{ "watch", "--version", "1" }
                                       << "error option --version is not used by watch";
    QTest::newRow("send without text") << QStringList{ "send" } << "error send needs the text to write";
    QTest::newRow("send with two texts") << QStringList{ "send", "a", "b" } << "error unexpected argument \"b\"";
}

void TestPeerLogic::parsesArguments()
{
    QFETCH(QStringList, arguments);
    const ParsedArguments parsed = parseArguments(arguments);
    QTEST(parsed.ok() ? summary(parsed.options) : "error " + parsed.error, "parsed");
}

// The common messages are pinned end to end in tst_peertool; these are the odd ones.
// Lines never break: controls are escaped, the version quoted.
void TestPeerLogic::describesStatusMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("version with quote and backslash") << installedMessage(DOWNLOAD_ONLY, "a\"b\\c")
            << R"(status UPDATE_INSTALLED action=1 version="a\"b\\c" message=New version "a"b\\c" is ready, please reboot to install.)"
            << 0;
    QTest::newRow("controls escaped, non-latin kept")
            << QString::fromUtf8(R"({"command":0,"message":"x\ny\r\tz\u0001\u001b\u007f\u0000 Größe ✓ 😀"})")
            << QString::fromUtf8(R"(status MESSAGE_ONLY message=x\ny\r\tz\x01\x1b\x7f\x00 Größe ✓ 😀)") << -1;
    QTest::newRow("no message") << R"({"command":4})" << "status UPDATE_AGAIN" << -1;
    QTest::newRow("unknown command number") << R"({"command":9,"message":"?"})" << "status 9 message=?" << -1;
    QTest::newRow("extra keys and spacing") << R"( { "version" : "7", "command" : 3, "x" : [1] } )"
                                            << R"(status UPDATE_INSTALLED version="7")" << 0;
    QTest::newRow("mistyped fields left out") << R"({"command":2,"action":"1","version":5,"message":null})"
                                              << "status DOWNLOAD_ERROR" << 1;
    QTest::newRow("not json") << "garbage\nhere" << "error unreadable status message: garbage\\nhere" << -1;
    QTest::newRow("array") << "[3]" << "error unreadable status message: [3]" << -1;
    QTest::newRow("no command") << R"({"message":"x"})" << R"(error unreadable status message: {"message":"x"})" << -1;
    QTest::newRow("fractional command") << R"({"command":3.5})"
                                        << R"(error unreadable status message: {"command":3.5})" << -1;
}

void TestPeerLogic::describesStatusMessages()
{
    QFETCH(QString, message);
    const StatusLine line = describeStatus(message);
    QTEST(line.text, "line");
    QTEST(line.exitCode, "exitCode");
}

void TestPeerLogic::printsPlainProgress_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");

    QTest::newRow("0.29 is 29 despite binary") << R"({"command":1,"message":0.29})" << "progress 29%";
    QTest::newRow("one byte short stays 99") << download(999999999, 1000000000) << "progress 99%";
    QTest::newRow("above one clamps") << R"({"command":1,"message":1.5})" << "progress 100%";
    QTest::newRow("upload unknown") << progressMessage(UPLOAD_PERCENTAGE, 0, 0) << "progress upload unknown";
    QTest::newRow("unknown tag") << R"({"command":2,"message":0.5})"
                                 << R"(error unreadable progress message: {"command":2,"message":0.5})";
    QTest::newRow("fraction as text") << R"({"command":1,"message":"0.5"})"
                                      << R"(error unreadable progress message: {"command":1,"message":"0.5"})";
    QTest::newRow("fraction missing") << R"({"command":1})" << R"(error unreadable progress message: {"command":1})";
}

void TestPeerLogic::printsPlainProgress()
{
    QFETCH(QString, message);
    QTEST(plainProgressLine(parseProgress(message)), "line");
}

void TestPeerLogic::formatsBytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("negative") << qint64(-5) << "0 B";
    QTest::newRow("1023") << qint64(1023) << "1023 B";
    QTest::newRow("1 KiB") << qint64(1024) << "1.0 KiB";
    QTest::newRow("1023.9 KiB") << qint64(1048473) << "1023.9 KiB";
    QTest::newRow("rounds up into MiB") << qint64(1048575) << "1.0 MiB";
    QTest::newRow("beyond TiB stays TiB") << qint64(1125899906842624LL) << "1024.0 TiB";
}

void TestPeerLogic::formatsBytes()
{
    QFETCH(qint64, bytes);
    QTEST(formatBytes(bytes), "text");
}

void TestPeerLogic::rateMeterFollowsRecentSamples()
{
    RateMeter meter(3000);
    meter.addSample(0, 0.0);
    QCOMPARE(meter.perSecond(), 0.0); // one sample is no rate
    meter.addSample(0, 0.005);
    QCOMPARE(meter.perSecond(), 0.0); // nor two at the same time

    // Slow start, then fast: once the slow part leaves the window only the fast part counts.
    meter.addSample(1000, 0.01);
    meter.addSample(2000, 0.02);
    QCOMPARE(meter.perSecond(), 0.01);
    meter.addSample(3000, 0.22);
    meter.addSample(4000, 0.42);
    meter.addSample(5000, 0.62);
    meter.addSample(6000, 0.82);
    QVERIFY(qAbs(meter.perSecond() - 0.2) < 1e-12);

    // A long silence keeps the last sample before it as the anchor.
    meter.addSample(16000, 0.92);
    QVERIFY(qAbs(meter.perSecond() - 0.01) < 1e-12);

    // Going back means a new transfer; the old samples must not mix in.
    meter.addSample(17000, 0.05);
    QCOMPARE(meter.perSecond(), 0.0);
    meter.addSample(17500, 0.15);
    QVERIFY(qAbs(meter.perSecond() - 0.2) < 1e-12);

    meter.addSample(18000, std::nan(""));
    QVERIFY(qAbs(meter.perSecond() - 0.2) < 1e-12);
}

void TestPeerLogic::drawsProgressBar_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("spinnerStep");
    QTest::addColumn<QString>("line");

    QTest::newRow("half with percent rate") << download(1, 2) << 0.031 << qint64(-1) << 0
                                            << "progress [##########----------]  50.0%  3.1 %/s";
    QTest::newRow("tenths round down") << download(9999, 10000) << 0.0 << qint64(-1) << 0
                                       << "progress [###################-]  99.9%";
    QTest::newRow("with size and byte rate") << download(1, 4) << 0.1 << qint64(10485760) << 0
            << "progress [#####---------------]  25.0%  2.5 MiB / 10.0 MiB  1.0 MiB/s";
    QTest::newRow("upload") << progressMessage(UPLOAD_PERCENTAGE, 1, 10) << 0.0 << qint64(-1) << 0
                            << "progress upload [##------------------]  10.0%";
    QTest::newRow("unknown size shows bytes received") << download(1536, -1) << 512.0 << qint64(-1) << 0
            << "progress [<=>                 ]  1.5 KiB received  512 B/s, size unknown";
    QTest::newRow("spinner moved, --size ignored") << download(1048576, -1) << 0.0 << qint64(5000) << 3
            << "progress [   <=>              ]  1.0 MiB received, size unknown";
    // The spinner runs to the end of the bar, turns, and comes back.
    QTest::newRow("spinner at the end") << download(0, 0) << 0.0 << qint64(-1) << 17
                                        << "progress [                 <=>]  size unknown";
    QTest::newRow("spinner turned") << download(0, 0) << 0.0 << qint64(-1) << 18
                                    << "progress [                <=> ]  size unknown";
    QTest::newRow("spinner round again") << download(0, 0) << 0.0 << qint64(-1) << 35
                                         << "progress [ <=>                ]  size unknown";
    QTest::newRow("unreadable") << "{}" << 0.0 << qint64(-1) << 0 << "error unreadable progress message: {}";
}

void TestPeerLogic::drawsProgressBar()
{
    QFETCH(QString, message);
    QFETCH(double, rate);
    QFETCH(qint64, size);
    QFETCH(int, spinnerStep);
    QTEST(progressBarLine(parseProgress(message), rate, size, spinnerStep), "line");
}

void TestPeerLogic::helpDocumentsTheContract()
{
    const QString help = usageText();
    const QStringList mustMention = {
        "download --version V --url U [--force-install]", "install-now [--version V]", "send TEXT",
        "watch", "--wait SECONDS", "--size BYTES", "--verbose", "TMPDIR", "same user",
        "\"Tessaly\"", "\"TessalyUpdater\"", "\"TessalyUpdaterPercent\"", "delivered TEXT",
        "status COMMAND [action=N] [version=\"V\"] message=TEXT", "progress N%", "progress unknown",
        "error TEXT", "  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "128+N",
    };
    for (const QString &text : mustMention)
        QVERIFY2(help.contains(text), qPrintable(text));
}

TESSALY_TEST_MAIN(TestPeerLogic)
#include "tst_peerlogic.moc"
