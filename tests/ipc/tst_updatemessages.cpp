#include <QtTest>

#include "support/testmain.h"
#include "update/updatemessages.h"

namespace {

enum StatusKind { Started, DownloadFailed, Installed, InstallFailed };

QString statusMessage(int kind, int action, const QString &version, const QString &error)
{
    switch (kind) {
    case Started:
        return downloadStartedMessage();
    case DownloadFailed:
        return downloadFailedMessage(action, version, error);
    case Installed:
        return installedMessage(action, version);
    case InstallFailed:
        return installFailedMessage(action, version, error);
    }
    return QString();
}

} // namespace

class TestUpdateMessages : public QObject
{
    Q_OBJECT

private slots:
    void statusMessages_data();
    void statusMessages();
    void progressMessages_data();
    void progressMessages();
    void decodeRequest_data();
    void decodeRequest();
    void encodedRequestReadsBack();
};

void TestUpdateMessages::statusMessages_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected");

    QTest::newRow("download started")
            << int(Started) << 0 << QString() << QString()
            << R"({"command":1,"message":"Downloading new version, please wait"})";
    QTest::newRow("download failed")
            << int(DownloadFailed) << 1 << "1.2.3" << "Host 127.0.0.1 not found"
            << R"({"action":1,"command":2,"message":"Version \"1.2.3\" download failed, with error \"Host 127.0.0.1 not found\" please retry again.","version":"1.2.3"})";
    QTest::newRow("installed")
            << int(Installed) << 2 << "1.2.3" << QString()
            << R"({"action":2,"command":3,"message":"New version \"1.2.3\" is ready, please reboot to install.","version":"1.2.3"})";
    QTest::newRow("installation failed")
            << int(InstallFailed) << 3 << "1.2.3" << "gzip: not in gzip format\n"
            << R"({"action":3,"command":2,"message":"New version \"1.2.3\" failed to download or extract, with error gzip: not in gzip format\n","version":"1.2.3"})";

    // Placeholders inside the inserted values stay as they are.
    QTest::newRow("download failed, %2 and quote in version")
            << int(DownloadFailed) << 1 << R"(2.0"%2)" << "timeout %1"
            << R"({"action":1,"command":2,"message":"Version \"2.0\"%2\" download failed, with error \"timeout %1\" please retry again.","version":"2.0\"%2"})";
    QTest::newRow("installed, %2 and quote in version")
            << int(Installed) << 3 << R"(2.0"%2)" << QString()
            << R"({"action":3,"command":3,"message":"New version \"2.0\"%2\" is ready, please reboot to install.","version":"2.0\"%2"})";
    QTest::newRow("installation failed, %2 and quote in version")
            << int(InstallFailed) << 2 << R"(2.0"%2)" << "%1 missing"
            << R"({"action":2,"command":2,"message":"New version \"2.0\"%2\" failed to download or extract, with error %1 missing","version":"2.0\"%2"})";

    QTest::newRow("download failed, no version")
            << int(DownloadFailed) << 0 << QString() << QString()
            << R"({"action":0,"command":2,"message":"Version \"\" download failed, with error \"\" please retry again.","version":""})";
    QTest::newRow("installed, action out of range")
            << int(Installed) << 7 << "1" << QString()
            << R"({"action":7,"command":3,"message":"New version \"1\" is ready, please reboot to install.","version":"1"})";
    QTest::newRow("installed, non-ASCII version")
            << int(Installed) << 1 << QString::fromUtf8("1.0-\u00fc\U0001F600") << QString()
            << QString::fromUtf8("{\"action\":1,\"command\":3,\"message\":\"New version \\\"1.0-\u00fc\U0001F600\\\" "
                                 "is ready, please reboot to install.\",\"version\":\"1.0-\u00fc\U0001F600\"}");
}

void TestUpdateMessages::statusMessages()
{
    QFETCH(int, kind);
    QFETCH(int, action);
    QFETCH(QString, version);
    QFETCH(QString, error);
    QFETCH(QString, expected);

    QCOMPARE(statusMessage(kind, action, version, error), expected);
}

void TestUpdateMessages::progressMessages_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("expected");

    QTest::newRow("complete") << int(DOWNLOAD_PERCENTAGE) << qint64(4) << qint64(4)
                              << R"({"command":1,"message":1})";
    QTest::newRow("a quarter") << int(DOWNLOAD_PERCENTAGE) << qint64(1) << qint64(4)
                               << R"({"command":1,"message":0.25})";
    QTest::newRow("nothing yet") << int(DOWNLOAD_PERCENTAGE) << qint64(0) << qint64(100)
                                 << R"({"command":1,"message":0})";
    QTest::newRow("total 0, nothing done") << int(DOWNLOAD_PERCENTAGE) << qint64(0) << qint64(0)
                                           << R"({"command":1,"message":null})";
    QTest::newRow("total 0, bytes done") << int(DOWNLOAD_PERCENTAGE) << qint64(5) << qint64(0)
                                         << R"({"command":1,"message":null})";
    QTest::newRow("unknown total") << int(DOWNLOAD_PERCENTAGE) << qint64(512) << qint64(-1)
                                   << R"({"command":1,"message":-512})";
    QTest::newRow("beyond 32 bits") << int(DOWNLOAD_PERCENTAGE) << qint64(3000000000)
                                    << qint64(6000000000) << R"({"command":1,"message":0.5})";
    QTest::newRow("upload, a third") << int(UPLOAD_PERCENTAGE) << qint64(1) << qint64(3)
                                     << R"({"command":0,"message":0.3333333333333333})";
}

void TestUpdateMessages::progressMessages()
{
    QFETCH(int, tag);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(QString, expected);

    QCOMPARE(progressMessage(PercentageTags(tag), done, total), expected);
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
    const int notObject = int(UpdateRequest::Form::NotObject);

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
    QTest::newRow("action as name") << R"({"action":"DOWNLOAD_ONLY"})" << object << 0 << "" << "";
    QTest::newRow("action with fraction") << R"({"action":1.5})" << object << 0 << "" << "";
    QTest::newRow("action 1.0") << R"({"action":1.0})" << object << 1 << "" << "";
    QTest::newRow("action 3e0") << R"({"action":3e0})" << object << 3 << "" << "";
    QTest::newRow("action negative") << R"({"action":-1})" << object << -1 << "" << "";
    QTest::newRow("action beyond int") << R"({"action":4294967297})" << object << 0 << "" << "";
    QTest::newRow("action true") << R"({"action":true})" << object << 0 << "" << "";
    QTest::newRow("action null") << R"({"action":null})" << object << 0 << "" << "";
    QTest::newRow("version and URL as numbers")
            << R"({"action":1,"version":1.2,"build_release":5})" << object << 1 << "" << "";
    QTest::newRow("non-ASCII version")
            << QString::fromUtf8("{\"version\":\"1.0-\u00fc\U0001F600\"}") << object << 0
            << QString::fromUtf8("1.0-\u00fc\U0001F600") << "";
    QTest::newRow("escaped version") << R"({"version":"\u00fc\ud83d\ude00 \"q\""})" << object << 0
                                     << QString::fromUtf8("\u00fc\U0001F600 \"q\"") << "";

    QTest::newRow("not JSON") << "action=1&version=2" << notJson << 0 << "" << "";
    QTest::newRow("cut short") << R"({"action":1,"version":"1.2)" << notJson << 0 << "" << "";
    QTest::newRow("empty text") << "" << notJson << 0 << "" << "";
    // Qt 5 accepts only an object or an array as a whole document.
    QTest::newRow("top-level string") << R"("{\"action\":1}")" << notJson << 0 << "" << "";
    QTest::newRow("top-level number") << "1" << notJson << 0 << "" << "";
    QTest::newRow("array") << R"([{"action":1,"version":"v"}])" << notObject << 0 << "" << "";
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

void TestUpdateMessages::encodedRequestReadsBack()
{
    const QString text = encodeUpdateRequest(DOWNLOAD_FORCE_INSTALL, QStringLiteral("1.2\"3"),
                                             QStringLiteral("http://127.0.0.1/a.gz"));
    QCOMPARE(text,
             QStringLiteral("{\"action\":3,\"build_release\":\"http://127.0.0.1/a.gz\",\"version\":\"1.2\\\"3\"}"));
    const UpdateRequest request = decodeUpdateRequest(text);
    QCOMPARE(int(request.form), int(UpdateRequest::Form::Object));
    QCOMPARE(request.action, int(DOWNLOAD_FORCE_INSTALL));
    QCOMPARE(request.version, QStringLiteral("1.2\"3"));
    QCOMPARE(request.buildRelease, QStringLiteral("http://127.0.0.1/a.gz"));
}

TESSALY_TEST_MAIN(TestUpdateMessages)

#include "tst_updatemessages.moc"
