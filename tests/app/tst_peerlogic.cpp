// The pure logic of tessaly-peer: argument parsing, the requests it writes,
// the lines it prints and the exit codes it ends with.

#include <QtTest>

#include <cmath>

#include "peerexitcodes.h"
#include "peerformat.h"
#include "peeroptions.h"
#include "ratemeter.h"
#include "support/testmain.h"
#include "update/updatemessages.h"

Q_DECLARE_METATYPE(PeerCommand)

class TestPeerLogic : public QObject
{
    Q_OBJECT

private slots:
    void parsesValidArguments_data();
    void parsesValidArguments();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void writesExactRequest_data();
    void writesExactRequest();
    void mapsCommandsToExitCodes_data();
    void mapsCommandsToExitCodes();
    void escapesForOneLine_data();
    void escapesForOneLine();
    void describesStatusMessages_data();
    void describesStatusMessages();
    void printsPlainProgress_data();
    void printsPlainProgress();
    void roundsPercentDown_data();
    void roundsPercentDown();
    void formatsBytes_data();
    void formatsBytes();
    void computesRate_data();
    void computesRate();
    void rateMeterFollowsRecentSamples();
    void drawsProgressBar_data();
    void drawsProgressBar();
    void bouncesSpinnerWithinBar();
    void helpDocumentsTheContract();
};

void TestPeerLogic::parsesValidArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<PeerCommand>("command");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("rawText");
    QTest::addColumn<bool>("forceInstall");
    QTest::addColumn<qint64>("waitMs");
    QTest::addColumn<qint64>("sizeBytes");
    QTest::addColumn<bool>("verbose");

    const QString url = QStringLiteral("http://127.0.0.1:1/app.tar.gz");
    QTest::newRow("download")
            << QStringList{ "download", "--version", "1.2.3", "--url", url } << PeerCommand::Download
            << "1.2.3" << url << QString() << false << qint64(-1) << qint64(-1) << false;
    QTest::newRow("download, options first, inline values")
            << QStringList{ "--wait=2.5", "--url=" + url, "download", "--version=1.2.3" }
            << PeerCommand::Download << "1.2.3" << url << QString() << false << qint64(2500)
            << qint64(-1) << false;
    QTest::newRow("download force, size, verbose")
            << QStringList{ "download", "--force-install", "--version", "9", "--url", url,
                            "--size", "1048576", "--verbose" }
            << PeerCommand::Download << "9" << url << QString() << true << qint64(-1)
            << qint64(1048576) << true;
    QTest::newRow("url with equals sign in inline value")
            << QStringList{ "download", "--version", "1", "--url=http://h/p?a=b" }
            << PeerCommand::Download << "1" << "http://h/p?a=b" << QString() << false << qint64(-1)
            << qint64(-1) << false;
    QTest::newRow("install-now bare") << QStringList{ "install-now" } << PeerCommand::InstallNow
                                      << QString() << QString() << QString() << false
                                      << qint64(-1) << qint64(-1) << false;
    QTest::newRow("install-now with version and wait")
            << QStringList{ "install-now", "--version", "2.0", "--wait", "30" }
            << PeerCommand::InstallNow << "2.0" << QString() << QString() << false << qint64(30000)
            << qint64(-1) << false;
    QTest::newRow("send json") << QStringList{ "send", "{\"action\":7}" } << PeerCommand::Send
                               << QString() << QString() << "{\"action\":7}" << false << qint64(-1)
                               << qint64(-1) << false;
    QTest::newRow("send text starting with a dash after --")
            << QStringList{ "send", "--wait", "1", "--", "--not-an-option" } << PeerCommand::Send
            << QString() << QString() << "--not-an-option" << false << qint64(1000) << qint64(-1)
            << false;
    QTest::newRow("send empty text") << QStringList{ "send", "" } << PeerCommand::Send << QString()
                                     << QString() << QString() << false << qint64(-1) << qint64(-1)
                                     << false;
    QTest::newRow("send --help after -- is text")
            << QStringList{ "send", "--", "--help" } << PeerCommand::Send << QString() << QString()
            << "--help" << false << qint64(-1) << qint64(-1) << false;
    QTest::newRow("watch") << QStringList{ "watch" } << PeerCommand::Watch << QString() << QString()
                           << QString() << false << qint64(-1) << qint64(-1) << false;
    QTest::newRow("wait fraction rounds up to whole ms")
            << QStringList{ "watch", "--wait", "0.0001" } << PeerCommand::Watch << QString()
            << QString() << QString() << false << qint64(1) << qint64(-1) << false;
    QTest::newRow("wait at the maximum")
            << QStringList{ "watch", "--wait", "1000000" } << PeerCommand::Watch << QString()
            << QString() << QString() << false << qint64(1000000000) << qint64(-1) << false;
    QTest::newRow("help") << QStringList{ "--help" } << PeerCommand::Help << QString() << QString()
                          << QString() << false << qint64(-1) << qint64(-1) << false;
    QTest::newRow("help wins over errors")
            << QStringList{ "bogus", "--nope", "-h" } << PeerCommand::Help << QString() << QString()
            << QString() << false << qint64(-1) << qint64(-1) << false;
}

void TestPeerLogic::parsesValidArguments()
{
    QFETCH(QStringList, arguments);
    const ParsedArguments parsed = parseArguments(arguments);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    const PeerOptions &options = parsed.options;
    QTEST(options.command, "command");
    QTEST(options.version, "version");
    QTEST(options.url, "url");
    QTEST(options.rawText, "rawText");
    QTEST(options.forceInstall, "forceInstall");
    QTEST(options.waitMs, "waitMs");
    QTEST(options.sizeBytes, "sizeBytes");
    QTEST(options.verbose, "verbose");
}

void TestPeerLogic::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    const QString url = QStringLiteral("http://127.0.0.1:1/app.tar.gz");
    QTest::newRow("nothing") << QStringList() << "no command given";
    QTest::newRow("only options") << QStringList{ "--verbose" } << "no command given";
    QTest::newRow("unknown command") << QStringList{ "upgrade" } << "unknown command \"upgrade\"";
    QTest::newRow("command in capitals") << QStringList{ "WATCH" } << "unknown command \"WATCH\"";
    QTest::newRow("unknown option") << QStringList{ "watch", "--fast" } << "unknown option \"--fast\"";
    QTest::newRow("single dash option") << QStringList{ "watch", "-v" } << "unknown option \"-v\"";
    QTest::newRow("unknown inline option") << QStringList{ "watch", "--speed=3" }
                                           << "unknown option \"--speed\"";
    QTest::newRow("download without version") << QStringList{ "download", "--url", url }
                                              << "download needs --version";
    QTest::newRow("download without url") << QStringList{ "download", "--version", "1" }
                                          << "download needs --url";
    QTest::newRow("download without both") << QStringList{ "download" } << "download needs --version";
    QTest::newRow("empty version") << QStringList{ "download", "--version", "", "--url", url }
                                   << "option --version needs a non-empty value";
    QTest::newRow("empty url") << QStringList{ "download", "--version", "1", "--url=" }
                               << "option --url needs a non-empty value";
    QTest::newRow("value missing at the end") << QStringList{ "download", "--version", "1", "--url" }
                                              << "option --url needs a value";
    QTest::newRow("wait without value") << QStringList{ "watch", "--wait" } << "option --wait needs a value";
    QTest::newRow("wait not a number") << QStringList{ "watch", "--wait", "soon" }
                                       << "option --wait needs a number of seconds above 0";
    QTest::newRow("wait zero") << QStringList{ "watch", "--wait", "0" }
                               << "option --wait needs a number of seconds above 0";
    QTest::newRow("wait negative") << QStringList{ "watch", "--wait=-1" }
                                   << "option --wait needs a number of seconds above 0";
    QTest::newRow("wait infinite") << QStringList{ "watch", "--wait", "inf" }
                                   << "option --wait needs a number of seconds above 0";
    QTest::newRow("wait not a number (nan)") << QStringList{ "watch", "--wait", "nan" }
                                             << "option --wait needs a number of seconds above 0";
    QTest::newRow("wait above the maximum") << QStringList{ "watch", "--wait", "1000001" }
                                            << "at most 1000000, not \"1000001\"";
    QTest::newRow("wait with unit") << QStringList{ "watch", "--wait", "5s" }
                                    << "not \"5s\"";
    QTest::newRow("size zero") << QStringList{ "watch", "--size", "0" }
                               << "option --size needs a number of bytes above 0";
    QTest::newRow("size fraction") << QStringList{ "watch", "--size", "1.5" }
                                   << "option --size needs a number of bytes above 0";
    QTest::newRow("wait given twice") << QStringList{ "watch", "--wait", "1", "--wait", "2" }
                                      << "option --wait given twice";
    QTest::newRow("flag with value") << QStringList{ "download", "--force-install=yes" }
                                     << "option --force-install takes no value";
    QTest::newRow("url for install-now") << QStringList{ "install-now", "--url", url }
                                         << "option --url is not used by install-now";
    QTest::newRow("force for install-now") << QStringList{ "install-now", "--force-install" }
                                           << "option --force-install is not used by install-now";
    QTest::newRow("version for watch") << QStringList{ "watch", "--version", "1" }
                                       << "option --version is not used by watch";
    QTest::newRow("version for send") << QStringList{ "send", "{}", "--version", "1" }
                                      << "option --version is not used by send";
    QTest::newRow("send without text") << QStringList{ "send" } << "send needs the text to write";
    QTest::newRow("send with two texts") << QStringList{ "send", "a", "b" }
                                         << "unexpected argument \"b\"";
    QTest::newRow("watch with a text") << QStringList{ "watch", "now" } << "unexpected argument \"now\"";
    QTest::newRow("download with a stray word")
            << QStringList{ "download", "--version", "1", "--url", url, "extra" }
            << "unexpected argument \"extra\"";
}

void TestPeerLogic::refusesBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const ParsedArguments parsed = parseArguments(arguments);
    QVERIFY(!parsed.ok());
    QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
}

void TestPeerLogic::writesExactRequest_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("request");

    QTest::newRow("download")
            << QStringList{ "download", "--version", "1.2.3", "--url", "http://127.0.0.1:1/app.tar.gz" }
            << R"({"action":1,"build_release":"http://127.0.0.1:1/app.tar.gz","version":"1.2.3"})";
    QTest::newRow("download force install")
            << QStringList{ "download", "--force-install", "--version", "2", "--url", "https://h/x.gz" }
            << R"({"action":3,"build_release":"https://h/x.gz","version":"2"})";
    QTest::newRow("quotes and non-latin in version")
            << QStringList{ "download", "--version", "1\"β", "--url", "u" }
            << QString::fromUtf8(R"({"action":1,"build_release":"u","version":"1\"β"})");
    QTest::newRow("install-now") << QStringList{ "install-now" }
                                 << R"({"action":2,"build_release":"","version":""})";
    QTest::newRow("install-now with version") << QStringList{ "install-now", "--version", "4.5" }
                                              << R"({"action":2,"build_release":"","version":"4.5"})";
    QTest::newRow("send keeps the text") << QStringList{ "send", " {\"action\" : 1 ,}\n" }
                                         << " {\"action\" : 1 ,}\n";
    QTest::newRow("watch writes nothing") << QStringList{ "watch" } << QString();
}

void TestPeerLogic::writesExactRequest()
{
    QFETCH(QStringList, arguments);
    const ParsedArguments parsed = parseArguments(arguments);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QTEST(requestText(parsed.options), "request");
}

void TestPeerLogic::mapsCommandsToExitCodes_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("MESSAGE_ONLY is not final") << int(MESSAGE_ONLY) << -1;
    QTest::newRow("DOWNLOAD_STARTED is not final") << int(DOWNLOAD_STARTED) << -1;
    QTest::newRow("DOWNLOAD_ERROR fails") << int(DOWNLOAD_ERROR) << 1;
    QTest::newRow("UPDATE_INSTALLED succeeds") << int(UPDATE_INSTALLED) << 0;
    QTest::newRow("UPDATE_AGAIN is not final") << int(UPDATE_AGAIN) << -1;
    QTest::newRow("unknown 5") << 5 << -1;
    QTest::newRow("negative") << -3 << -1;
}

void TestPeerLogic::mapsCommandsToExitCodes()
{
    QFETCH(int, command);
    QTEST(exitCodeForCommand(command), "exitCode");
}

void TestPeerLogic::escapesForOneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::addColumn<QString>("quoted");

    QTest::newRow("plain") << "abc 1.2" << "abc 1.2" << "\"abc 1.2\"";
    QTest::newRow("quote") << "a\"b" << "a\"b" << "\"a\\\"b\"";
    QTest::newRow("backslash") << "a\\n" << "a\\\\n" << "\"a\\\\n\"";
    QTest::newRow("line breaks and tab") << "x\ny\r\tz" << "x\\ny\\r\\tz" << "\"x\\ny\\r\\tz\"";
    QTest::newRow("other controls") << QString::fromLatin1("a\x01\x1b\x7f", 4) << "a\\x01\\x1b\\x7f"
                                    << "\"a\\x01\\x1b\\x7f\"";
    QTest::newRow("nul") << QString(QChar(0)) << "\\x00" << "\"\\x00\"";
    QTest::newRow("non-latin kept") << QString::fromUtf8("Größe ✓ 😀") << QString::fromUtf8("Größe ✓ 😀")
                                    << QString::fromUtf8("\"Größe ✓ 😀\"");
    QTest::newRow("empty") << "" << "" << "\"\"";
}

void TestPeerLogic::escapesForOneLine()
{
    QFETCH(QString, text);
    QTEST(escapeForLine(text), "escaped");
    QTEST(quoteForLine(text), "quoted");
}

void TestPeerLogic::describesStatusMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("download started") << downloadStartedMessage()
                                      << "status DOWNLOAD_STARTED message=Downloading new version, please wait"
                                      << -1;
    QTest::newRow("installed") << installedMessage(DOWNLOAD_ONLY, "1.2.3")
                               << R"(status UPDATE_INSTALLED action=1 version="1.2.3" message=New version "1.2.3" is ready, please reboot to install.)"
                               << 0;
    QTest::newRow("download failed")
            << downloadFailedMessage(DOWNLOAD_FORCE_INSTALL, "2.0", "Connection refused")
            << R"(status DOWNLOAD_ERROR action=3 version="2.0" message=Version "2.0" download failed, with error "Connection refused" please retry again.)"
            << 1;
    QTest::newRow("installation failed with multi-line error")
            << installFailedMessage(INSTALL_NOW, "", "gzip: x.gz: not in gzip format\ntar: Error\n")
            << R"(status DOWNLOAD_ERROR action=2 version="" message=New version "" failed to download or extract, with error gzip: x.gz: not in gzip format\ntar: Error\n)"
            << 1;
    QTest::newRow("version with quote and backslash")
            << installedMessage(DOWNLOAD_ONLY, "a\"b\\c")
            << R"(status UPDATE_INSTALLED action=1 version="a\"b\\c" message=New version "a"b\\c" is ready, please reboot to install.)"
            << 0;
    QTest::newRow("message only") << R"({"command":0,"message":"hello"})"
                                  << "status MESSAGE_ONLY message=hello" << -1;
    QTest::newRow("update again") << R"({"command":4})" << "status UPDATE_AGAIN" << -1;
    QTest::newRow("unknown command number") << R"({"command":9,"message":"?"})"
                                            << "status 9 message=?" << -1;
    QTest::newRow("extra keys and spacing") << R"( { "version" : "7", "command" : 3, "x" : [1] } )"
                                            << R"(status UPDATE_INSTALLED version="7")" << 0;
    QTest::newRow("mistyped fields left out")
            << R"({"command":2,"action":"1","version":5,"message":null})" << "status DOWNLOAD_ERROR"
            << 1;
    QTest::newRow("not json") << "garbage\nhere" << "error unreadable status message: garbage\\nhere" << -1;
    QTest::newRow("array") << "[3]" << "error unreadable status message: [3]" << -1;
    QTest::newRow("no command") << R"({"message":"x"})"
                                << R"(error unreadable status message: {"message":"x"})" << -1;
    QTest::newRow("fractional command") << R"({"command":3.5})"
                                        << R"(error unreadable status message: {"command":3.5})" << -1;
    QTest::newRow("command as text") << R"({"command":"3"})"
                                     << R"(error unreadable status message: {"command":"3"})" << -1;
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

    QTest::newRow("start") << progressMessage(DOWNLOAD_PERCENTAGE, 0, 1000) << "progress 0%";
    QTest::newRow("42%") << progressMessage(DOWNLOAD_PERCENTAGE, 42, 100) << "progress 42%";
    QTest::newRow("just below whole") << progressMessage(DOWNLOAD_PERCENTAGE, 429, 1000) << "progress 42%";
    QTest::newRow("0.29 is 29 despite binary") << progressMessage(DOWNLOAD_PERCENTAGE, 29, 100)
                                               << "progress 29%";
    QTest::newRow("one byte short stays 99")
            << progressMessage(DOWNLOAD_PERCENTAGE, 999999999, 1000000000) << "progress 99%";
    QTest::newRow("complete") << progressMessage(DOWNLOAD_PERCENTAGE, 5, 5) << "progress 100%";
    QTest::newRow("above one clamps") << R"({"command":1,"message":1.5})" << "progress 100%";
    QTest::newRow("unknown total") << progressMessage(DOWNLOAD_PERCENTAGE, 4096, -1) << "progress unknown";
    QTest::newRow("zero total sent as null") << progressMessage(DOWNLOAD_PERCENTAGE, 0, 0)
                                             << "progress unknown";
    QTest::newRow("upload") << progressMessage(UPLOAD_PERCENTAGE, 1, 4) << "progress upload 25%";
    QTest::newRow("upload unknown") << progressMessage(UPLOAD_PERCENTAGE, 0, 0) << "progress upload unknown";
    QTest::newRow("unknown tag") << R"({"command":2,"message":0.5})"
                                 << R"(error unreadable progress message: {"command":2,"message":0.5})";
    QTest::newRow("fraction as text") << R"({"command":1,"message":"0.5"})"
                                      << R"(error unreadable progress message: {"command":1,"message":"0.5"})";
    QTest::newRow("fraction missing") << R"({"command":1})"
                                      << R"(error unreadable progress message: {"command":1})";
    QTest::newRow("not json") << "50%" << "error unreadable progress message: 50%";
}

void TestPeerLogic::printsPlainProgress()
{
    QFETCH(QString, message);
    QTEST(plainProgressLine(parseProgress(message)), "line");
}

void TestPeerLogic::roundsPercentDown_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("percent");

    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("negative") << -12.0 << 0;
    QTest::newRow("nan") << std::nan("") << 0;
    QTest::newRow("tiny") << 0.0099 << 0;
    QTest::newRow("one percent") << 0.01 << 1;
    QTest::newRow("0.57") << 0.57 << 57;
    QTest::newRow("almost done") << 0.9999999 << 99;
    QTest::newRow("done") << 1.0 << 100;
    QTest::newRow("beyond") << 7.0 << 100;
}

void TestPeerLogic::roundsPercentDown()
{
    QFETCH(double, fraction);
    QTEST(wholePercent(fraction), "percent");
}

void TestPeerLogic::formatsBytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("negative") << qint64(-5) << "0 B";
    QTest::newRow("zero") << qint64(0) << "0 B";
    QTest::newRow("1023") << qint64(1023) << "1023 B";
    QTest::newRow("1 KiB") << qint64(1024) << "1.0 KiB";
    QTest::newRow("1.5 KiB") << qint64(1536) << "1.5 KiB";
    QTest::newRow("just below 1 MiB") << qint64(1048575) << "1.0 MiB";
    QTest::newRow("1023.9 KiB") << qint64(1048473) << "1023.9 KiB";
    QTest::newRow("10 MiB") << qint64(10485760) << "10.0 MiB";
    QTest::newRow("2 GiB") << qint64(2147483648LL) << "2.0 GiB";
    QTest::newRow("3 TiB") << qint64(3298534883328LL) << "3.0 TiB";
    QTest::newRow("beyond TiB stays TiB") << qint64(1125899906842624LL) << "1024.0 TiB";
}

void TestPeerLogic::formatsBytes()
{
    QFETCH(qint64, bytes);
    QTEST(formatBytes(bytes), "text");
}

void TestPeerLogic::computesRate_data()
{
    QTest::addColumn<qint64>("fromMs");
    QTest::addColumn<double>("fromAmount");
    QTest::addColumn<qint64>("toMs");
    QTest::addColumn<double>("toAmount");
    QTest::addColumn<double>("rate");

    QTest::newRow("ten percent in two seconds") << qint64(1000) << 0.1 << qint64(3000) << 0.3 << 0.1;
    QTest::newRow("bytes in half a second") << qint64(0) << 0.0 << qint64(500) << 2048.0 << 4096.0;
    QTest::newRow("no time passed") << qint64(100) << 0.1 << qint64(100) << 0.5 << 0.0;
    QTest::newRow("time runs backwards") << qint64(200) << 0.1 << qint64(100) << 0.5 << 0.0;
    QTest::newRow("no growth") << qint64(0) << 0.4 << qint64(1000) << 0.4 << 0.0;
    QTest::newRow("shrinks") << qint64(0) << 0.4 << qint64(1000) << 0.2 << 0.0;
    QTest::newRow("not a number") << qint64(0) << std::nan("") << qint64(1000) << 0.2 << 0.0;
}

void TestPeerLogic::computesRate()
{
    QFETCH(qint64, fromMs);
    QFETCH(double, fromAmount);
    QFETCH(qint64, toMs);
    QFETCH(double, toAmount);
    QFETCH(double, rate);
    QCOMPARE(amountPerSecond(fromMs, fromAmount, toMs, toAmount), rate);
}

void TestPeerLogic::rateMeterFollowsRecentSamples()
{
    RateMeter meter(3000);
    QCOMPARE(meter.perSecond(), 0.0);
    meter.addSample(0, 0.0);
    QCOMPARE(meter.perSecond(), 0.0); // one sample is no rate

    // Slow start, then fast: once the slow part leaves the window only the
    // fast part counts.
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

    meter.addSample(18000, std::nan("")); // ignored
    QVERIFY(qAbs(meter.perSecond() - 0.2) < 1e-12);

    meter.reset();
    QCOMPARE(meter.perSecond(), 0.0);
}

void TestPeerLogic::drawsProgressBar_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("spinnerStep");
    QTest::addColumn<QString>("line");

    QTest::newRow("empty") << progressMessage(DOWNLOAD_PERCENTAGE, 0, 10) << 0.0 << qint64(-1) << 0
                           << "progress [--------------------]   0.0%";
    QTest::newRow("half with percent rate") << progressMessage(DOWNLOAD_PERCENTAGE, 1, 2) << 0.031
                                            << qint64(-1) << 0
                                            << "progress [##########----------]  50.0%  3.1 %/s";
    QTest::newRow("tenths round down") << progressMessage(DOWNLOAD_PERCENTAGE, 9999, 10000) << 0.0
                                       << qint64(-1) << 0
                                       << "progress [###################-]  99.9%";
    QTest::newRow("a hair short stays below 100")
            << progressMessage(DOWNLOAD_PERCENTAGE, 999999999, 1000000000) << 0.0 << qint64(-1) << 0
            << "progress [###################-]  99.9%";
    QTest::newRow("complete") << progressMessage(DOWNLOAD_PERCENTAGE, 3, 3) << 0.0 << qint64(-1) << 0
                              << "progress [####################] 100.0%";
    QTest::newRow("with size and byte rate")
            << progressMessage(DOWNLOAD_PERCENTAGE, 1, 4) << 0.1 << qint64(10485760) << 0
            << "progress [#####---------------]  25.0%  2.5 MiB / 10.0 MiB  1.0 MiB/s";
    QTest::newRow("with size, no rate yet")
            << progressMessage(DOWNLOAD_PERCENTAGE, 0, 4) << 0.0 << qint64(2048) << 0
            << "progress [--------------------]   0.0%  0 B / 2.0 KiB";
    QTest::newRow("upload") << progressMessage(UPLOAD_PERCENTAGE, 1, 10) << 0.0 << qint64(-1) << 0
                            << "progress upload [##------------------]  10.0%";
    QTest::newRow("unknown size shows bytes received")
            << progressMessage(DOWNLOAD_PERCENTAGE, 1536, -1) << 512.0 << qint64(-1) << 0
            << "progress [<=>                 ]  1.5 KiB received  512 B/s, size unknown";
    QTest::newRow("unknown size, spinner moved, --size ignored")
            << progressMessage(DOWNLOAD_PERCENTAGE, 1048576, -1) << 0.0 << qint64(5000) << 3
            << "progress [   <=>              ]  1.0 MiB received, size unknown";
    QTest::newRow("zero total, nothing to count")
            << progressMessage(DOWNLOAD_PERCENTAGE, 0, 0) << 0.0 << qint64(-1) << 17
            << "progress [                 <=>]  size unknown";
    QTest::newRow("unreadable") << "{}" << 0.0 << qint64(-1) << 0
                                << "error unreadable progress message: {}";
}

void TestPeerLogic::drawsProgressBar()
{
    QFETCH(QString, message);
    QFETCH(double, rate);
    QFETCH(qint64, size);
    QFETCH(int, spinnerStep);
    QTEST(progressBarLine(parseProgress(message), rate, size, spinnerStep), "line");
}

void TestPeerLogic::bouncesSpinnerWithinBar()
{
    const ProgressReport report = parseProgress(progressMessage(DOWNLOAD_PERCENTAGE, 0, 0));
    const int lastPosition = progressBarWidth - 3;
    QVector<int> positions;
    for (int step = 0; step <= 2 * lastPosition + 1; ++step) {
        const QString line = progressBarLine(report, 0.0, -1, step);
        const int open = line.indexOf(QLatin1Char('['));
        QCOMPARE(line.indexOf(QLatin1Char(']')) - open - 1, progressBarWidth);
        positions << line.indexOf(QLatin1String("<=>")) - open - 1;
    }
    QCOMPARE(positions.first(), 0);
    QCOMPARE(positions.at(lastPosition), lastPosition);
    QCOMPARE(positions.at(lastPosition + 1), lastPosition - 1); // turns at the end
    QCOMPARE(positions.at(2 * lastPosition), 0);
    QCOMPARE(positions.at(2 * lastPosition + 1), 1);
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
