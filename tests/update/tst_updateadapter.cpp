#include <QDir>
#include <QMetaMethod>
#include <QtTest>

#include <memory>

#include "common/vovodo_global.h"
#include "support/logcapture.h"
#include "support/testhttpserver.h"
#include "support/testmain.h"
#include "update/updateadapter.h"
#include "updatetestrig.h"

// The controller as the main application meets it: requests through the
// mailbox, read by the controller's own timer, packages fetched from a local
// server and installed with the real tools.
class TestUpdateAdapter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void metaObjectContract_data();
    void metaObjectContract();
    void fixedValues();
    void requestTable_data();
    void requestTable();
    void tarGzEndToEnd();
    void gzEndToEnd_data();
    void gzEndToEnd();
    void newestRequestWins_data();
    void newestRequestWins();
    void progressRelayedAsQuotient_data();
    void progressRelayedAsQuotient();
    void failedDownloadReported_data();
    void failedDownloadReported();
    void emptyMailboxOnEveryTick_data();
    void emptyMailboxOnEveryTick();

private:
    QString base() const { return m_server.url("").toString(); }
    QString downloadRequest(int action, const QString &path) const
    {
        return QStringLiteral(R"({"action":%1,"version":"1.2.3","build_release":"%2"})")
                .arg(QString::number(action), base() + path);
    }

    TestHttpServer m_server;
    std::unique_ptr<LogCapture> m_log;
};

namespace {

const QByteArray oldExecutable = "#!/bin/sh\necho Tessaly 1.0.0\n";
const QByteArray newExecutable = "#!/bin/sh\necho Tessaly 1.2.3\n";
// Its exit code is not looked at, only its standard error.
const QByteArray deployScript = "pwd -P > deployed-from.txt\necho deployed\nexit 7\n";

// The downloader's folder as the controller builds it, not cleaned up.
QString downloadFolder(const UpdateTestRig &rig)
{
    return rig.serviceDir() + QStringLiteral("/data/../../../upgrade");
}

} // namespace

void TestUpdateAdapter::initTestCase()
{
    qputenv("LC_ALL", "C");
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
}

void TestUpdateAdapter::init()
{
    m_log.reset(new LogCapture);
}

void TestUpdateAdapter::cleanup()
{
    const QStringList forbidden = forbiddenLines(*m_log);
    m_log.reset();
    // Nothing in the service stops the old application or reboots the device.
    QCOMPARE(forbidden, QStringList());
}

void TestUpdateAdapter::metaObjectContract_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("returnType");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("names");

    // In declaration order, which is the method index order. moc records
    // const QString& as QString and qint64 as qlonglong.
    const QList<QByteArrayList> table = {
        { "void", "onIPCWatchDogTimeout()", "" },
        { "void", "fileDownloaded(QString,QString)", "filePath fileUniqueKey" },
        { "void", "extractAndInstall(QString)", "filePath" },
        { "bool", "renameLegacyApp(QString&)", "error_str" },
        { "bool", "decompress_gz_file(QString,QString&)", "fileName_extesnion error_str" },
        { "bool", "installNewVersion(QString,QString&)", "fileName error_str" },
        { "bool", "decompress_tar_gz_file(QString,QString&)", "file_path error_str" },
        { "bool", "deployNewVersion(QString,QString&)", "file_path error_str" },
        { "void", "fileDownloadedFailed(QString,QString,QString)",
          "filePath fileUniqueKey errorString" },
        { "void", "killAppOldVersion()", "" },
        { "void", "rebootToInstall()", "" },
        { "void", "checkForNewVersionAndInstall()", "" },
        { "void", "uploadProgress(qlonglong,qlonglong)", "bytesSent bytesTotal" },
        { "void", "downloadProgress(qlonglong,qlonglong)", "bytesReceived bytesTotal" },
    };
    for (int i = 0; i < table.size(); ++i)
        QTest::newRow(table.at(i).at(1).constData())
                << i << table.at(i).at(0) << table.at(i).at(1) << table.at(i).at(2);
}

void TestUpdateAdapter::metaObjectContract()
{
    QFETCH(int, index);
    QFETCH(QByteArray, returnType);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, names);

    const QMetaObject &meta = UpdateAdapter::staticMetaObject;
    QCOMPARE(meta.className(), "UpdateAdapter");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    // Fourteen slots and nothing else of its own.
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 14);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.constructorCount(), 0);

    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), signature);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Public);
    QCOMPARE(QByteArray(method.typeName()), returnType);
    QCOMPARE(method.parameterNames(), names.isEmpty() ? QList<QByteArray>() : names.split(' '));
}

void TestUpdateAdapter::fixedValues()
{
    // The service's own constructor reads "Tessaly" on its own timer and
    // answers in "TessalyUpdater".
    {
        UpdateAdapter adapter(nullptr);
        MainAppPeer peer(QStringLiteral("Tessaly"), QStringLiteral("TessalyUpdater"));
        QCOMPARE(controllerLog(*m_log),
                 QStringList{ "D|\"UpdateAdapter::UpdateAdapter 1.0.257, with path "
                              "/home/corvane/Tessaly/bin/\"" });
        peer.send(QStringLiteral(R"({"action":1,"version":"3.0"})"));
        QTRY_COMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() });
        // The mailbox's own line of the received message stays on.
        const QString readLine = R"("IPC TessalyUpdater Read message:" )"
                                 R"("{\"action\":1,\"version\":\"3.0\"}")";
        QVERIFY(m_log->contains(QtInfoMsg, readLine));
    }
    QCOMPARE(controllerLog(*m_log).last(),
             "D|\"UpdateAdapter::~UpdateAdapter 1.0.257, with path /home/corvane/Tessaly/bin/\"");
}

void TestUpdateAdapter::requestTable_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("fileName");

    const auto downloadLog = [](const QString &url, const QString &name) {
        return QStringList{ "I|IPC action received: \"DOWNLOAD_ONLY\"",
                            "I|downloading file: QUrl(\"%BASE%" + url + "\")",
                            "I|downloading path: \"%FOLDER%/" + name + '"' };
    };
    const QStringList invalid = { "I|IPC action received: \"INVALID\"" };

    QTest::newRow("download request")
            << R"({"action":1,"version":"1.2.3","build_release":"%BASE%/app.tar.gz"})" << true
            << downloadLog("/app.tar.gz", "Tessaly1.2.3.tar.gz") << QByteArray("/app.tar.gz")
            << "Tessaly1.2.3.tar.gz";
    QTest::newRow("query after the extension")
            << R"({"action":1,"version":"1.2.3","build_release":"%BASE%/app.tar.gz?x=1"})"
            << true << downloadLog("/app.tar.gz?x=1", "Tessaly1.2.3.tar.gz?x=1")
            << QByteArray("/app.tar.gz?x=1") << "Tessaly1.2.3.tar.gz?x=1";
    QTest::newRow("no extension")
            << R"({"action":1,"version":"1.2.3","build_release":"%BASE%/package"})" << true
            << downloadLog("/package", "Tessaly1.2.3") << QByteArray("/package")
            << "Tessaly1.2.3";
    QTest::newRow("no version") << R"({"action":1,"build_release":"%BASE%/app.tar.gz"})" << true
                                << downloadLog("/app.tar.gz", "Tessaly.tar.gz")
                                << QByteArray("/app.tar.gz") << "Tessaly.tar.gz";
    QTest::newRow("no build_release")
            << R"({"action":1,"version":"1.2.3"})" << true
            << QStringList{ "I|IPC action received: \"DOWNLOAD_ONLY\"",
                            "W|invalid URL detected, QUrl(\"\")" }
            << QByteArray() << "";
    QTest::newRow("action as a string")
            << R"({"action":"1","version":"1.2.3","build_release":"%BASE%/app.tar.gz"})" << false
            << invalid << QByteArray() << "";
    QTest::newRow("action as a fraction")
            << R"({"action":1.5,"version":"1.2.3","build_release":"%BASE%/app.tar.gz"})" << false
            << invalid << QByteArray() << "";
    QTest::newRow("unknown action")
            << R"({"action":7,"version":"1.2.3","build_release":"%BASE%/app.tar.gz"})" << false
            << QStringList{ "I|IPC action received: \"\"" } << QByteArray() << "";
    QTest::newRow("not JSON")
            << "download 1.2.3 please" << false
            << QStringList{ "C|can not form json object, wrong input: \"download 1.2.3 please\"" }
                    + invalid
            << QByteArray() << "";
    QTest::newRow("JSON array")
            << R"([{"action":1,"version":"1.2.3","build_release":"%BASE%/app.tar.gz"}])" << false
            << QStringList{ "C|Document is not an object" } + invalid << QByteArray() << "";
}

void TestUpdateAdapter::requestTable()
{
    QFETCH(QString, request);
    QFETCH(bool, started);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, target);
    QFETCH(QString, fileName);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    request.replace("%BASE%", base());
    log.replaceInStrings("%BASE%", base()).replaceInStrings("%FOLDER%", downloadFolder(rig));
    // The transfers stay open: only the start of each download is judged here.
    TestHttpServer::Response hanging =
            TestHttpServer::Response::generated(4096, TestHttpServer::Behaviour::Hang);
    hanging.faultOffset = 100;
    for (const char *path : { "/app.tar.gz", "/app.tar.gz?x=1", "/package" })
        m_server.setRoute(path, hanging);
    const int requestsBefore = m_server.requests().size();

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    m_log->clear();
    peer.send(request);
    QTRY_COMPARE(actionLines(*m_log), 1);
    if (!target.isEmpty()) {
        QTRY_COMPARE(m_server.requests().size(), requestsBefore + 1);
        QCOMPARE(m_server.requests().last().method, QByteArray("GET"));
        QCOMPARE(m_server.requests().last().target, target);
        QTRY_VERIFY(QFile::exists(rig.upgradeDir() + '/' + fileName));
    }
    // Some more ticks for anything that should not come.
    QTest::qWait(150);
    peer.collect();

    QCOMPARE(peer.statusMessages(), started ? QStringList{ downloadStartedJson() } : QStringList());
    QCOMPARE(controllerLog(*m_log), log);
    QCOMPARE(m_server.requests().size(), requestsBefore + (target.isEmpty() ? 0 : 1));
    QCOMPARE(TestFiles::entries(rig.upgradeDir()),
             fileName.isEmpty() ? QStringList() : QStringList{ fileName });
}

void TestUpdateAdapter::tarGzEndToEnd()
{
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString archive = rig.root() + QStringLiteral("/package.tar.gz");
    QVERIFY(TestFiles::makeDeployPackage(rig.root(), deployScript, archive));
    m_server.setRoute("/releases/app.tar.gz",
                      TestHttpServer::Response::withBody(TestFiles::read(archive)));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    peer.send(downloadRequest(1, QStringLiteral("/releases/app.tar.gz")));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    // Written out in full: the two messages exact to the byte.
    const QStringList messages = {
        R"({"command":1,"message":"Downloading new version, please wait"})",
        R"({"action":1,"command":3,"message":"New version \"1.2.3\" is ready, )"
        R"(please reboot to install.","version":"1.2.3"})"
    };
    QCOMPARE(peer.statusMessages(), messages);
    QCOMPARE(m_server.requestCount("/releases/app.tar.gz"), 1);
    QVERIFY(!peer.progressMessages().isEmpty());
    QCOMPARE(peer.progressMessages().last(), QStringLiteral("{\"command\":1,\"message\":1}"));

    // Unpacked beside the package, which is gone; the folder stays, 755 throughout.
    const QString folder = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3");
    QCOMPARE(TestFiles::entries(rig.upgradeDir()), QStringList{ "Tessaly1.2.3" });
    QCOMPARE(TestFiles::entries(folder), (QStringList{ "deploy.sh", "payload.bin" }));
    for (const QString &path : { folder, folder + "/deploy.sh", folder + "/payload.bin" })
        QCOMPARE(TestFiles::mode(path), 0755);
    // deploy.sh ran in the service's working directory.
    QCOMPARE(TestFiles::read(rig.serviceDir() + QStringLiteral("/deployed-from.txt")),
             QDir(rig.serviceDir()).canonicalPath().toUtf8() + '\n');

    const QString path = downloadFolder(rig) + QStringLiteral("/Tessaly1.2.3.tar.gz");
    const QStringList expected = { "I|UpdateAdapter::extractAndInstall: \"" + path + '"',
                                   "I|decompress tar file: \"" + path + '"',
                                   "I|tar -xzf file: \"\"",
                                   "I|tar -xzf file error: \"\"",
                                   "I|chmod decompresed folder: \"\"",
                                   "C|chmod decompresed folder error: \"\"",
                                   "I|deploy new version using: \"" + downloadFolder(rig)
                                           + "/Tessaly1.2.3/deploy.sh\"",
                                   "I|deploy output: \"deployed\\n\"",
                                   "C|deploy error: \"\"" };
    const QStringList log = controllerLog(*m_log);
    QCOMPARE(log.mid(log.indexOf(expected.first()), expected.size()), expected);
}

void TestUpdateAdapter::gzEndToEnd_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("hasOld");

    QTest::newRow("DOWNLOAD_ONLY, old executable kept") << 1 << true;
    // Keeping the old executable fails, which must not stop the install.
    QTest::newRow("DOWNLOAD_FORCE_INSTALL, first install") << 3 << false;
}

void TestUpdateAdapter::gzEndToEnd()
{
    QFETCH(int, action);
    QFETCH(bool, hasOld);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString source = rig.root() + QStringLiteral("/Tessaly-new");
    QVERIFY(TestFiles::write(source, newExecutable));
    QVERIFY(TestFiles::makeGz(source, source + ".gz"));
    m_server.setRoute("/releases/app.gz",
                      TestHttpServer::Response::withBody(TestFiles::read(source + ".gz")));
    const QString installed = rig.binDir() + QStringLiteral("Tessaly");
    if (hasOld)
        QVERIFY(TestFiles::write(installed, oldExecutable));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    peer.send(downloadRequest(action, QStringLiteral("/releases/app.gz")));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    QCOMPARE(peer.statusMessages(),
             (QStringList{ downloadStartedJson(), installedJson(action, "1.2.3") }));
    QCOMPARE(TestFiles::read(installed), newExecutable);
    QCOMPARE(TestFiles::mode(installed), 0777);
    if (hasOld) {
        QCOMPARE(TestFiles::read(rig.binDir() + QStringLiteral("Tessaly_legacy")), oldExecutable);
        QCOMPARE(TestFiles::entries(rig.binDir()), (QStringList{ "Tessaly", "Tessaly_legacy" }));
    } else {
        QCOMPARE(TestFiles::entries(rig.binDir()), QStringList{ "Tessaly" });
    }
    // gzip replaced the package with the executable, which was moved away.
    QCOMPARE(TestFiles::entries(rig.upgradeDir()), QStringList());
}

void TestUpdateAdapter::newestRequestWins_data()
{
    QTest::addColumn<QString>("newer");
    QTest::addColumn<QStringList>("laterStatus");

    QTest::newRow("INVALID") << R"({"action":0,"version":"9.9"})" << QStringList();
    QTest::newRow("unknown action") << R"({"action":7,"version":"9.9"})" << QStringList();
    QTest::newRow("not JSON") << "cancel" << QStringList();
    // Nothing placed by hand, but the running download is still installed,
    // and reported with the newer request's action and version.
    QTest::newRow("INSTALL_NOW") << R"({"action":2,"version":"9.9"})"
                                 << QStringList{ installedJson(INSTALL_NOW, "9.9") };
}

void TestUpdateAdapter::newestRequestWins()
{
    QFETCH(QString, newer);
    QFETCH(QStringList, laterStatus);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    // Large enough to need several pieces, sent with pauses, so the newer
    // request is read on a tick while the body is still on its way.
    const QString archive = rig.root() + QStringLiteral("/package.tar.gz");
    QVERIFY(TestFiles::makeDeployPackage(rig.root(), deployScript, archive, 400 * 1024));
    const QByteArray package = TestFiles::read(archive);
    QVERIFY(package.size() > 5 * 64 * 1024);
    TestHttpServer::Response slow = TestHttpServer::Response::withBody(package);
    slow.pieceDelayMs = 120;
    m_server.setRoute("/slow/app.tar.gz", slow);

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    bool sent = false;
    const QMetaObject::Connection connection =
            connect(&m_server, &TestHttpServer::requestReceived, this,
                    [&](const QByteArray &, const QByteArray &target) {
                        if (target == "/slow/app.tar.gz" && !sent) {
                            sent = true;
                            peer.send(newer);
                        }
                    });
    peer.send(downloadRequest(1, QStringLiteral("/slow/app.tar.gz")));
    const auto lineOf = [this](const char *prefix) {
        const QStringList messages = m_log->messages();
        int last = -1;
        for (int i = 0; i < messages.size(); ++i)
            last = messages.at(i).startsWith(QLatin1String(prefix)) ? i : last;
        return last;
    };
    QTRY_VERIFY_WITH_TIMEOUT(lineOf("downloaded file:") >= 0, 20000);
    disconnect(connection);
    QTest::qWait(100);
    peer.collect();

    // The newer request was read while the transfer ran, not after it.
    QCOMPARE(actionLines(*m_log), 2);
    QVERIFY(lineOf("IPC action received:") < lineOf("downloaded file:"));

    QCOMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() } + laterStatus);
    const QString packagePath = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.tar.gz");
    const QString marker = rig.serviceDir() + QStringLiteral("/deployed-from.txt");
    if (laterStatus.isEmpty()) {
        // Downloaded in full and left alone.
        QCOMPARE(TestFiles::read(packagePath), package);
        QCOMPARE(TestFiles::entries(rig.upgradeDir()), QStringList{ "Tessaly1.2.3.tar.gz" });
        QVERIFY(!QFile::exists(marker));
    } else {
        QCOMPARE(TestFiles::entries(rig.upgradeDir()), QStringList{ "Tessaly1.2.3" });
        QVERIFY(QFile::exists(marker));
    }
}

void TestUpdateAdapter::progressRelayedAsQuotient_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("message");

    QTest::newRow("upload") << true << qint64(1) << qint64(4) << R"({"command":0,"message":0.25})";
    QTest::newRow("download, total 0")
            << false << qint64(5) << qint64(0) << R"({"command":1,"message":null})";
    QTest::newRow("download, total unknown")
            << false << qint64(512) << qint64(-1) << R"({"command":1,"message":-512})";
}

void TestUpdateAdapter::progressRelayedAsQuotient()
{
    QFETCH(bool, upload);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(QString, message);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    // Every call is one write: the same value twice is not held back.
    for (int i = 0; i < 2; ++i) {
        if (upload)
            adapter.uploadProgress(done, total);
        else
            adapter.downloadProgress(done, total);
        peer.collect();
    }
    QCOMPARE(peer.progressMessages(), (QStringList{ message, message }));
    QCOMPARE(peer.statusMessages(), QStringList());
}

void TestUpdateAdapter::failedDownloadReported_data()
{
    QTest::addColumn<QString>("version");

    QTest::newRow("version") << "1.2.3";
    // Both placeholders are filled in one pass.
    QTest::newRow("version holding %2") << "1.%2";
}

void TestUpdateAdapter::failedDownloadReported()
{
    QFETCH(QString, version);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    const QString url = base() + QStringLiteral("/missing/app.tar.gz");
    peer.send(QStringLiteral(R"({"action":1,"version":"%1","build_release":"%2"})")
                      .arg(version, url));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    const QString error = "Error transferring " + url + " - server replied: Not Found";
    QCOMPARE(peer.statusMessages(),
             (QStringList{ downloadStartedJson(), downloadFailedJson(1, version, error) }));
    const QStringList log = controllerLog(*m_log);
    QVERIFY(log.contains("I|\"file Downloaded Failed, filePath=" + downloadFolder(rig)
                         + "/Tessaly" + version
                         + ".tar.gz, fileUniqueKey=build_release, errorString=" + error + '"'));
    QCOMPARE(log.filter("extractAndInstall"), QStringList());
}

void TestUpdateAdapter::emptyMailboxOnEveryTick_data()
{
    QTest::addColumn<QString>("setup");

    QTest::newRow("never written") << "";
    QTest::newRow("consumed") << "consumed";
    QTest::newRow("empty text") << "empty";
}

void TestUpdateAdapter::emptyMailboxOnEveryTick()
{
    QFETCH(QString, setup);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    const bool consumed = setup == QLatin1String("consumed");
    if (consumed) {
        QVERIFY(sendAndWaitUntilRead(peer, *m_log, "{\"action\":1,\"version\":\"9.9\"}"));
        QCOMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() });
    } else if (setup == QLatin1String("empty")) {
        peer.send(QLatin1String(""));
    }
    const int statusBefore = peer.statusMessages().size();

    m_log->clear();
    // About twenty ticks.
    QTest::qWait(20 * rig.options.pollIntervalMs + 40);
    peer.collect();
    QCOMPARE(m_log->messages(), QStringList());
    QCOMPARE(peer.statusMessages().size(), statusBefore);
    QCOMPARE(peer.progressMessages(), QStringList());

    // The stored request is as it was.
    adapter.fileDownloadedFailed("p", "build_release", "boom");
    peer.collect();
    QCOMPARE(peer.statusMessages().mid(statusBefore),
             QStringList{ downloadFailedJson(consumed ? 1 : 0, consumed ? "9.9" : "", "boom") });
    // And the timer was running all along.
    peer.send(QStringLiteral(R"({"action":0})"));
    QTRY_COMPARE(actionLines(*m_log), 1);
}

TESSALY_TEST_MAIN(TestUpdateAdapter)
#include "tst_updateadapter.moc"
