#include <QtTest>

#include "support/testmain.h"
#include "update/updatemessages.h"

class TestUpdateMessages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outgoingMessages_data();
    void outgoingMessages();
    void decodeRequest_data();
    void decodeRequest();
};

void TestUpdateMessages::outgoingMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("download started") << downloadStartedMessage()
            << R"({"command":1,"message":"Downloading new version, please wait"})";
    QTest::newRow("download failed")
            << downloadFailedMessage(1, "1.2.3", "Host 127.0.0.1 not found")
            << R"({"action":1,"command":2,"message":"Version \"1.2.3\" download failed, with error \"Host 127.0.0.1 not found\" please retry again.","version":"1.2.3"})";
    QTest::newRow("installed") << installedMessage(2, "1.2.3")
            << R"({"action":2,"command":3,"message":"New version \"1.2.3\" is ready, please reboot to install.","version":"1.2.3"})";
    QTest::newRow("installation failed")
            << installFailedMessage(3, "1.2.3", "gzip: not in gzip format\n")
            << R"({"action":3,"command":2,"message":"New version \"1.2.3\" failed to download or extract, with error gzip: not in gzip format\n","version":"1.2.3"})";

    // Placeholders inside the inserted values stay as they are.
    QTest::newRow("download failed, %2 and quote in version")
            << downloadFailedMessage(1, R"(2.0"%2)", "timeout %1")
            << R"({"action":1,"command":2,"message":"Version \"2.0\"%2\" download failed, with error \"timeout %1\" please retry again.","version":"2.0\"%2"})";
    QTest::newRow("installed, %2 and quote in version") << installedMessage(3, R"(2.0"%2)")
            << R"({"action":3,"command":3,"message":"New version \"2.0\"%2\" is ready, please reboot to install.","version":"2.0\"%2"})";
    QTest::newRow("installation failed, %2 and quote in version")
            << installFailedMessage(2, R"(2.0"%2)", "%1 missing")
            << R"({"action":2,"command":2,"message":"New version \"2.0\"%2\" failed to download or extract, with error %1 missing","version":"2.0\"%2"})";
    QTest::newRow("download failed, no version") << downloadFailedMessage(0, QString(), QString())
            << R"({"action":0,"command":2,"message":"Version \"\" download failed, with error \"\" please retry again.","version":""})";
    QTest::newRow("installed, non-ASCII version")
            << installedMessage(1, QString::fromUtf8("\u00fc\U0001F600"))
            << QString::fromUtf8("{\"action\":1,\"command\":3,\"message\":\"New version \\\"\u00fc\U0001F600\\\" "
                                 "is ready, please reboot to install.\",\"version\":\"\u00fc\U0001F600\"}");

    QTest::newRow("progress complete") << progressMessage(DOWNLOAD_PERCENTAGE, 4, 4)
                                       << R"({"command":1,"message":1})";
    QTest::newRow("progress a quarter") << progressMessage(DOWNLOAD_PERCENTAGE, 1, 4)
                                        << R"({"command":1,"message":0.25})";
    QTest::newRow("progress total 0, nothing done") << progressMessage(DOWNLOAD_PERCENTAGE, 0, 0)
                                                    << R"({"command":1,"message":null})";
    QTest::newRow("progress total 0, bytes done") << progressMessage(DOWNLOAD_PERCENTAGE, 5, 0)
                                                  << R"({"command":1,"message":null})";
    QTest::newRow("progress unknown total") << progressMessage(DOWNLOAD_PERCENTAGE, 512, -1)
                                            << R"({"command":1,"message":-512})";
    QTest::newRow("progress beyond 32 bits")
            << progressMessage(DOWNLOAD_PERCENTAGE, 3000000000, 6000000000)
            << R"({"command":1,"message":0.5})";
    QTest::newRow("upload progress, a third") << progressMessage(UPLOAD_PERCENTAGE, 1, 3)
                                              << R"({"command":0,"message":0.3333333333333333})";

    QTest::newRow("request")
            << encodeUpdateRequest(DOWNLOAD_FORCE_INSTALL, "1.2\"3", "http://127.0.0.1/a.gz")
            << R"({"action":3,"build_release":"http://127.0.0.1/a.gz","version":"1.2\"3"})";
}

void TestUpdateMessages::outgoingMessages()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(message, expected);
}

void TestUpdateMessages::decodeRequest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("form");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("buildRelease");

    const int object = int(UpdateRequest::Form::Object);
    const int notJson = int(UpdateRequest::Form::NotJson);

    QTest::newRow("download request")
            << "{\"action\":1,\"version\":\"1.2.3\",\"build_release\":\"http://127.0.0.1/app.tar.gz\"}"
            << object << 1 << "1.2.3" << "http://127.0.0.1/app.tar.gz";
    QTest::newRow("key order and white space")
            << "\n { \"build_release\" : \"u\" ,\t\"version\":\"v\",\r\n \"action\" : 3 }\n"
            << object << 3 << "v" << "u";
    QTest::newRow("extra keys")
            << R"({"command":9,"action":2,"extra":{"action":1,"list":[1,2]},"version":"v"})"
            << object << 2 << "v" << "";
    QTest::newRow("missing keys") << "{}" << object << 0 << "" << "";
    QTest::newRow("action as digit text") << R"({"action":"1","version":"v"})"
                                          << object << 0 << "v" << "";
    QTest::newRow("action with fraction") << R"({"action":1.5})" << object << 0 << "" << "";
    QTest::newRow("action 1.0") << R"({"action":1.0})" << object << 1 << "" << "";
    QTest::newRow("action negative") << R"({"action":-1})" << object << -1 << "" << "";
    QTest::newRow("action beyond int") << R"({"action":4294967297})" << object << 0 << "" << "";
    QTest::newRow("action true") << R"({"action":true})" << object << 0 << "" << "";
    QTest::newRow("version and URL as numbers")
            << R"({"action":1,"version":1.2,"build_release":5})" << object << 1 << "" << "";
    QTest::newRow("escaped version") << R"({"version":"\u00fc\ud83d\ude00 \"q\""})" << object << 0
                                     << QString::fromUtf8("\u00fc\U0001F600 \"q\"") << "";
    QTest::newRow("not JSON") << "action=1&version=2" << notJson << 0 << "" << "";
    QTest::newRow("empty text") << "" << notJson << 0 << "" << "";
    QTest::newRow("array") << R"([{"action":1,"version":"v"}])"
                           << int(UpdateRequest::Form::NotObject) << 0 << "" << "";
}

void TestUpdateMessages::decodeRequest()
{
    QFETCH(QString, text);
    QFETCH(int, form);
    QFETCH(int, action);
    QFETCH(QString, version);
    QFETCH(QString, buildRelease);

    const UpdateRequest request = decodeUpdateRequest(text);
    QCOMPARE(int(request.form), form);
    QCOMPARE(request.action, action);
    QCOMPARE(request.version, version);
    QCOMPARE(request.buildRelease, buildRelease);
}

TESSALY_TEST_MAIN(TestUpdateMessages)

#include "tst_updatemessages.moc"
