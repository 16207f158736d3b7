#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QRandomGenerator>
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
    int actionLines() const;
    bool waitForActionLines(int count, int timeoutMs = 5000) const;
    QString base() const { return m_server.url("").toString(); }
    static QString downloadFolder(const UpdateTestRig &rig);

    TestHttpServer m_server;
    std::unique_ptr<LogCapture> m_log;
};

namespace {

const QByteArray oldExecutable = "#!/bin/sh\necho Tessaly 1.0.0\n";
const QByteArray newExecutable = "#!/bin/sh\necho Tessaly 1.2.3\n";

QStringList expand(QStringList lines, const QString &base, const QString &folder)
{
    for (QString &line : lines) {
        line.replace(QLatin1String("%BASE%"), base);
        line.replace(QLatin1String("%FOLDER%"), folder);
    }
    return lines;
}

// A ".tar.gz" package whose deploy.sh writes the folder it runs in into the
// working directory. Extra bytes make the archive as large as wanted.
QByteArray deployPackage(const QString &workDir, int randomPayloadBytes = 0)
{
    const QString source = workDir + QStringLiteral("/package-source");
    QByteArray payload = "payload 1.2.3\n";
    if (randomPayloadBytes > 0) {
        payload.resize(randomPayloadBytes);
        for (int i = 0; i < randomPayloadBytes; ++i)
            payload[i] = char(QRandomGenerator::global()->bounded(256));
    }
    const QString archive = workDir + QStringLiteral("/package.tar.gz");
    if (!QDir().mkpath(source)
        || !QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner)
        || !TestFiles::write(source + QStringLiteral("/deploy.sh"),
                             "pwd -P > deployed-from.txt\necho deployed\n")
        || !TestFiles::write(source + QStringLiteral("/payload.bin"), payload)
        || !TestFiles::makeTarGz(source, archive))
        return QByteArray();
    return TestFiles::read(archive);
}

QByteArray gzPackage(const QString &workDir)
{
    const QString source = workDir + QStringLiteral("/Tessaly-new");
    const QString archive = workDir + QStringLiteral("/Tessaly-new.gz");
    if (!TestFiles::write(source, newExecutable) || !TestFiles::makeGz(source, archive))
        return QByteArray();
    return TestFiles::read(archive);
}

int indexOfPrefix(const QStringList &lines, const QString &prefix)
{
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}

// True when every expected line occurs in lines, in this order.
bool inOrder(const QStringList &lines, const QStringList &expected)
{
    int from = 0;
    for (const QString &line : expected) {
        from = lines.indexOf(line, from);
        if (from < 0) {
            qWarning() << "missing or out of order:" << line;
            return false;
        }
        ++from;
    }
    return true;
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

int TestUpdateAdapter::actionLines() const
{
    int count = 0;
    const QStringList messages = m_log->messages();
    for (const QString &message : messages)
        count += message.startsWith(QLatin1String("IPC action received:")) ? 1 : 0;
    return count;
}

bool TestUpdateAdapter::waitForActionLines(int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (actionLines() < count && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    return actionLines() >= count;
}

// The downloader's folder as the controller builds it, not cleaned up.
QString TestUpdateAdapter::downloadFolder(const UpdateTestRig &rig)
{
    return rig.serviceDir() + QStringLiteral("/data/../../../upgrade");
}

void TestUpdateAdapter::metaObjectContract_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("declared");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("returnType");
    QTest::addColumn<QList<QByteArray>>("parameterNames");

    using Names = QList<QByteArray>;
    int i = 0;
    QTest::newRow("0") << i++ << QByteArray("onIPCWatchDogTimeout()")
                       << QByteArray("onIPCWatchDogTimeout()") << QByteArray("void")
                       << Names{};
    QTest::newRow("1") << i++ << QByteArray("fileDownloaded(QString filePath, QString fileUniqueKey)")
                       << QByteArray("fileDownloaded(QString,QString)")
                       << QByteArray("void") << Names{ "filePath", "fileUniqueKey" };
    QTest::newRow("2") << i++ << QByteArray("extractAndInstall(QString filePath)")
                       << QByteArray("extractAndInstall(QString)") << QByteArray("void")
                       << Names{ "filePath" };
    QTest::newRow("3") << i++ << QByteArray("renameLegacyApp(QString& error_str)")
                       << QByteArray("renameLegacyApp(QString&)") << QByteArray("bool")
                       << Names{ "error_str" };
    QTest::newRow("4") << i++ << QByteArray("decompress_gz_file(const QString& fileName_extesnion, QString& error_str)")
                       << QByteArray("decompress_gz_file(QString,QString&)")
                       << QByteArray("bool") << Names{ "fileName_extesnion", "error_str" };
    QTest::newRow("5") << i++ << QByteArray("installNewVersion(QString fileName, QString& error_str)")
                       << QByteArray("installNewVersion(QString,QString&)")
                       << QByteArray("bool") << Names{ "fileName", "error_str" };
    QTest::newRow("6") << i++ << QByteArray("decompress_tar_gz_file(const QString& file_path, QString& error_str)")
                       << QByteArray("decompress_tar_gz_file(QString,QString&)")
                       << QByteArray("bool") << Names{ "file_path", "error_str" };
    QTest::newRow("7") << i++ << QByteArray("deployNewVersion(const QString& file_path, QString& error_str)")
                       << QByteArray("deployNewVersion(QString,QString&)")
                       << QByteArray("bool") << Names{ "file_path", "error_str" };
    QTest::newRow("8") << i++ << QByteArray("fileDownloadedFailed(QString filePath, QString fileUniqueKey, QString errorString)")
                       << QByteArray("fileDownloadedFailed(QString,QString,QString)")
                       << QByteArray("void")
                       << Names{ "filePath", "fileUniqueKey", "errorString" };
    QTest::newRow("9") << i++ << QByteArray("killAppOldVersion()")
                       << QByteArray("killAppOldVersion()") << QByteArray("void")
                       << Names{};
    QTest::newRow("10") << i++ << QByteArray("rebootToInstall()")
                       << QByteArray("rebootToInstall()") << QByteArray("void")
                        << Names{};
    QTest::newRow("11") << i++ << QByteArray("checkForNewVersionAndInstall()")
                       << QByteArray("checkForNewVersionAndInstall()")
                        << QByteArray("void") << Names{};
    QTest::newRow("12") << i++ << QByteArray("uploadProgress(qint64 bytesSent, qint64 bytesTotal)")
                       << QByteArray("uploadProgress(qlonglong,qlonglong)")
                        << QByteArray("void") << Names{ "bytesSent", "bytesTotal" };
    QTest::newRow("13") << i++ << QByteArray("downloadProgress(qint64 bytesReceived, qint64 bytesTotal)")
                       << QByteArray("downloadProgress(qlonglong,qlonglong)")
                        << QByteArray("void") << Names{ "bytesReceived", "bytesTotal" };
}

void TestUpdateAdapter::metaObjectContract()
{
    QFETCH(int, index);
    QFETCH(QByteArray, declared);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, returnType);
    QFETCH(QList<QByteArray>, parameterNames);

    const QMetaObject &meta = UpdateAdapter::staticMetaObject;
    QCOMPARE(meta.className(), "UpdateAdapter");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    // Fourteen slots and nothing else of its own: no signal, no property,
    // no invokable constructor.
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 14);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.constructorCount(), 0);

    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), signature);
    // As written in the class, without the names.
    QByteArray withoutNames = declared;
    for (const QByteArray &name : parameterNames)
        withoutNames.replace(" " + name, "");
    // (moc records qint64 as qlonglong; lookups by the declared form still find it.)
    QCOMPARE(meta.indexOfSlot(QMetaObject::normalizedSignature(withoutNames.constData())),
             meta.methodOffset() + index);
    QCOMPARE(meta.indexOfSlot(signature.constData()), meta.methodOffset() + index);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Public);
    QCOMPARE(QByteArray(method.typeName()), returnType);
    QCOMPARE(method.parameterNames(), parameterNames);
}

void TestUpdateAdapter::fixedValues()
{
    const UpdateAdapterOptions defaults = UpdateAdapterOptions::defaults();
    QCOMPARE(defaults.readMailbox, QStringLiteral("Tessaly"));
    QCOMPARE(defaults.writeMailbox, QStringLiteral("TessalyUpdater"));
    QCOMPARE(defaults.appBinPath, QStringLiteral("/home/corvane/Tessaly/bin/"));
    QCOMPARE(defaults.downloadApplicationDir, QCoreApplication::applicationDirPath());
    QCOMPARE(defaults.downloadSubPath, QStringLiteral("../../../upgrade"));
    QCOMPARE(defaults.preplacedPackagePath, QStringLiteral("./../../upgrade/Tessaly.gz"));
    QCOMPARE(defaults.pollIntervalMs, 1000);
    QCOMPARE(defaults.commandTimeoutMs, 3000);

    // The service's own constructor: it reads "Tessaly" on its own timer
    // and answers in "TessalyUpdater".
    const QString constructed = QStringLiteral(
            "D|\"UpdateAdapter::UpdateAdapter 1.0.257, with path /home/corvane/Tessaly/bin/\"");
    const QString destroyed = QStringLiteral(
            "D|\"UpdateAdapter::~UpdateAdapter 1.0.257, with path /home/corvane/Tessaly/bin/\"");
    {
        UpdateAdapter adapter(nullptr);
        MainAppPeer peer(QStringLiteral("Tessaly"), QStringLiteral("TessalyUpdater"));
        QCOMPARE(controllerLog(*m_log), QStringList{ constructed });
        peer.send(QStringLiteral("{\"action\":1,\"version\":\"3.0\"}"));
        QVERIFY(waitForActionLines(1, 5000));
        QTRY_COMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() });
        QVERIFY(m_log->contains(QtInfoMsg,
                                QStringLiteral("\"IPC TessalyUpdater Read message:\" "
                                               "\"{\\\"action\\\":1,\\\"version\\\":\\\"3.0\\\"}\"")));
    }
    const QStringList log = controllerLog(*m_log);
    QCOMPARE(log.last(), destroyed);
}

void TestUpdateAdapter::requestTable_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("status");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("fileName");

    const QStringList started = { downloadStartedJson() };
    const QStringList none;
    const auto downloadLog = [](const QString &action, const QString &url, const QString &name) {
        return QStringList{ QStringLiteral("I|IPC action received: \"%1\"").arg(action),
                            QStringLiteral("I|downloading file: QUrl(\"%1\")").arg(url),
                            QStringLiteral("I|downloading path: \"%FOLDER%/%1\"").arg(name) };
    };
    const QString invalid = QStringLiteral("I|IPC action received: \"INVALID\"");

    QTest::newRow("download request")
            << QStringLiteral("{\"action\":1,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_ONLY"), QStringLiteral("%BASE%/app.tar.gz"),
                           QStringLiteral("Tessaly1.2.3.tar.gz"))
            << QByteArray("/app.tar.gz") << QStringLiteral("Tessaly1.2.3.tar.gz");
    QTest::newRow("force install, spaced, reordered, extra key")
            << QStringLiteral(" {\n \"build_release\" : \"%BASE%/app.tar.gz\", \"note\": [1, 2],"
                              " \"version\": \"1.2.3\", \"action\": 3 }\n")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_FORCE_INSTALL"),
                           QStringLiteral("%BASE%/app.tar.gz"),
                           QStringLiteral("Tessaly1.2.3.tar.gz"))
            << QByteArray("/app.tar.gz") << QStringLiteral("Tessaly1.2.3.tar.gz");
    QTest::newRow("action 1.0 is an integer")
            << QStringLiteral("{\"action\":1.0,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_ONLY"), QStringLiteral("%BASE%/app.tar.gz"),
                           QStringLiteral("Tessaly1.2.3.tar.gz"))
            << QByteArray("/app.tar.gz") << QStringLiteral("Tessaly1.2.3.tar.gz");
    QTest::newRow("query after the extension")
            << QStringLiteral("{\"action\":1,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz?x=1\"}")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_ONLY"),
                           QStringLiteral("%BASE%/app.tar.gz?x=1"),
                           QStringLiteral("Tessaly1.2.3.tar.gz?x=1"))
            << QByteArray("/app.tar.gz?x=1") << QStringLiteral("Tessaly1.2.3.tar.gz?x=1");
    QTest::newRow("no extension")
            << QStringLiteral("{\"action\":1,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/package\"}")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_ONLY"), QStringLiteral("%BASE%/package"),
                           QStringLiteral("Tessaly1.2.3"))
            << QByteArray("/package") << QStringLiteral("Tessaly1.2.3");
    QTest::newRow("no version")
            << QStringLiteral("{\"action\":1,\"build_release\":\"%BASE%/app.tar.gz\"}")
            << started
            << downloadLog(QStringLiteral("DOWNLOAD_ONLY"), QStringLiteral("%BASE%/app.tar.gz"),
                           QStringLiteral("Tessaly.tar.gz"))
            << QByteArray("/app.tar.gz") << QStringLiteral("Tessaly.tar.gz");
    QTest::newRow("no build_release")
            << QStringLiteral("{\"action\":1,\"version\":\"1.2.3\"}") << started
            << QStringList{ QStringLiteral("I|IPC action received: \"DOWNLOAD_ONLY\""),
                            QStringLiteral("W|invalid URL detected, QUrl(\"\")") }
            << QByteArray() << QString();
    QTest::newRow("action as a digit string")
            << QStringLiteral("{\"action\":\"1\",\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << none << QStringList{ invalid } << QByteArray() << QString();
    QTest::newRow("action as a name")
            << QStringLiteral("{\"action\":\"DOWNLOAD_ONLY\",\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << none << QStringList{ invalid } << QByteArray() << QString();
    QTest::newRow("action as a fraction")
            << QStringLiteral("{\"action\":1.5,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << none << QStringList{ invalid } << QByteArray() << QString();
    QTest::newRow("unknown action")
            << QStringLiteral("{\"action\":7,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << none << QStringList{ QStringLiteral("I|IPC action received: \"\"") }
            << QByteArray() << QString();
    QTest::newRow("INSTALL_NOW, nothing pre-placed")
            << QStringLiteral("{\"action\":2,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}")
            << none << QStringList{ QStringLiteral("I|IPC action received: \"INSTALL_NOW\"") }
            << QByteArray() << QString();
    QTest::newRow("not JSON")
            << QStringLiteral("download 1.2.3 please") << none
            << QStringList{ QStringLiteral(
                                    "C|can not form json object, wrong input: "
                                    "\"download 1.2.3 please\""),
                            invalid }
            << QByteArray() << QString();
    QTest::newRow("JSON array")
            << QStringLiteral("[{\"action\":1,\"version\":\"1.2.3\","
                              "\"build_release\":\"%BASE%/app.tar.gz\"}]")
            << none << QStringList{ QStringLiteral("C|Document is not an object"), invalid }
            << QByteArray() << QString();
}

void TestUpdateAdapter::requestTable()
{
    QFETCH(QString, request);
    QFETCH(QStringList, status);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, target);
    QFETCH(QString, fileName);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    log = expand(log, base(), downloadFolder(rig));
    request.replace(QLatin1String("%BASE%"), base());
    // The transfers stay open: only the start of each download is judged here.
    TestHttpServer::Response hanging =
            TestHttpServer::Response::generated(4096, TestHttpServer::Behaviour::Hang);
    hanging.faultOffset = 100;
    m_server.setRoute("/app.tar.gz", hanging);
    m_server.setRoute("/app.tar.gz?x=1", hanging);
    m_server.setRoute("/package", hanging);
    const int requestsBefore = m_server.requests().size();

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    m_log->clear();
    peer.send(request);
    QVERIFY(waitForActionLines(1));

    if (!target.isEmpty()) {
        QTRY_COMPARE(m_server.requests().size(), requestsBefore + 1);
        const TestHttpServer::Request get = m_server.requests().last();
        QCOMPARE(get.method, QByteArray("GET"));
        QCOMPARE(get.target, target);
        QTRY_VERIFY(QFile::exists(rig.upgradeDir() + QLatin1Char('/') + fileName));
    }
    // Some more ticks for anything that should not come.
    QTest::qWait(150);
    peer.collect();

    QCOMPARE(peer.statusMessages(), status);
    QCOMPARE(controllerLog(*m_log), log);
    if (target.isEmpty())
        QCOMPARE(m_server.requests().size(), requestsBefore);
    QCOMPARE(QDir(rig.upgradeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             fileName.isEmpty() ? QStringList() : QStringList{ fileName });
}

void TestUpdateAdapter::tarGzEndToEnd()
{
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QByteArray package = deployPackage(rig.root());
    QVERIFY(!package.isEmpty());
    m_server.setRoute("/releases/app.tar.gz", TestHttpServer::Response::withBody(package));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    peer.send(QStringLiteral("{\"action\":1,\"version\":\"1.2.3\",\"build_release\":\"%1\"}")
                      .arg(base() + QStringLiteral("/releases/app.tar.gz")));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    QCOMPARE(peer.statusMessages(),
             (QStringList{
                     QStringLiteral(
                             "{\"command\":1,\"message\":\"Downloading new version, please wait\"}"),
                     QStringLiteral("{\"action\":1,\"command\":3,\"message\":\"New version "
                                    "\\\"1.2.3\\\" is ready, please reboot to install.\","
                                    "\"version\":\"1.2.3\"}") }));
    QCOMPARE(m_server.requestCount("/releases/app.tar.gz"), 1);
    QVERIFY(!peer.progressMessages().isEmpty());
    QCOMPARE(peer.progressMessages().last(), QStringLiteral("{\"command\":1,\"message\":1}"));

    // Unpacked beside the package, which is gone; the folder stays, 755 throughout.
    const QString folder = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3");
    QCOMPARE(QDir(rig.upgradeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{ QStringLiteral("Tessaly1.2.3") });
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{ QStringLiteral("deploy.sh"), QStringLiteral("payload.bin") }));
    QCOMPARE(TestFiles::mode(folder), 0755);
    QCOMPARE(TestFiles::mode(folder + QStringLiteral("/deploy.sh")), 0755);
    QCOMPARE(TestFiles::mode(folder + QStringLiteral("/payload.bin")), 0755);

    // deploy.sh ran in the service's working directory.
    QCOMPARE(TestFiles::read(rig.serviceDir() + QStringLiteral("/deployed-from.txt")),
             (QDir(rig.serviceDir()).canonicalPath() + "\n").toUtf8());

    const QString path = downloadFolder(rig) + QStringLiteral("/Tessaly1.2.3.tar.gz");
    const QString unpacked = downloadFolder(rig) + QStringLiteral("/Tessaly1.2.3");
    QVERIFY(inOrder(
            controllerLog(*m_log),
            { QStringLiteral("I|IPC action received: \"DOWNLOAD_ONLY\""),
              QStringLiteral("I|downloading path: \"%1\"").arg(path),
              QStringLiteral("I|UpdateAdapter::extractAndInstall: \"%1\"").arg(path),
              QStringLiteral("I|decompress tar file: \"%1\"").arg(path),
              QStringLiteral("I|tar -xzf file: \"\""),
              QStringLiteral("I|tar -xzf file error: \"\""),
              QStringLiteral("I|chmod decompresed folder: \"\""),
              QStringLiteral("C|chmod decompresed folder error: \"\""),
              QStringLiteral("I|deploy new version using: \"%1/deploy.sh\"").arg(unpacked),
              QStringLiteral("I|deploy output: \"deployed\\n\""),
              QStringLiteral("C|deploy error: \"\"") }));
}

void TestUpdateAdapter::gzEndToEnd_data()
{
    QTest::addColumn<int>("action");

    QTest::newRow("DOWNLOAD_ONLY") << 1;
    QTest::newRow("DOWNLOAD_FORCE_INSTALL") << 3;
}

void TestUpdateAdapter::gzEndToEnd()
{
    QFETCH(int, action);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QByteArray package = gzPackage(rig.root());
    QVERIFY(!package.isEmpty());
    m_server.setRoute("/releases/app.gz", TestHttpServer::Response::withBody(package));
    const QString installed = rig.binDir() + QStringLiteral("Tessaly");
    QVERIFY(TestFiles::write(installed, oldExecutable,
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                     | QFileDevice::ExeOwner));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    peer.send(QStringLiteral("{\"action\":%1,\"version\":\"1.2.3\",\"build_release\":\"%2\"}")
                      .arg(action)
                      .arg(base() + QStringLiteral("/releases/app.gz")));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    QCOMPARE(peer.statusMessages(),
             (QStringList{ downloadStartedJson(), installedJson(action, QStringLiteral("1.2.3")) }));

    QCOMPARE(TestFiles::read(installed), newExecutable);
    QCOMPARE(TestFiles::mode(installed), 0777);
    QCOMPARE(TestFiles::read(rig.binDir() + QStringLiteral("Tessaly_legacy")), oldExecutable);
    QCOMPARE(QDir(rig.binDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{ QStringLiteral("Tessaly"), QStringLiteral("Tessaly_legacy") }));
    // gzip replaced the package with the executable, which was moved away.
    QCOMPARE(QDir(rig.upgradeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());

    const QString path = downloadFolder(rig) + QStringLiteral("/Tessaly1.2.3.gz");
    QVERIFY(inOrder(controllerLog(*m_log),
                    { QStringLiteral("I|UpdateAdapter::extractAndInstall: \"%1\"").arg(path),
                      QStringLiteral("I|unzip file: \"%1\"").arg(path),
                      QStringLiteral("I|renaming old version Tessaly to Tessaly_legacy"),
                      QStringLiteral("I|copy new version to: \"%1\"").arg(rig.binDir()),
                      QStringLiteral("I|\"renaming new version Tessaly1.2.3 to Tessaly\""),
                      QStringLiteral("I|new version chmod result: \"\""),
                      QStringLiteral("C|new version chmod result error: \"\"") }));
}

void TestUpdateAdapter::newestRequestWins_data()
{
    QTest::addColumn<QString>("newer");
    QTest::addColumn<QStringList>("laterStatus");

    const QStringList none;
    QTest::newRow("INVALID") << QStringLiteral("{\"action\":0,\"version\":\"9.9\"}") << none;
    QTest::newRow("unknown action") << QStringLiteral("{\"action\":7,\"version\":\"9.9\"}")
                                    << none;
    QTest::newRow("not JSON") << QStringLiteral("cancel") << none;
    QTest::newRow("JSON array") << QStringLiteral("[2]") << none;
    // Nothing pre-placed, but the running download is still installed, and
    // reported with the newer request's action and version.
    QTest::newRow("INSTALL_NOW") << QStringLiteral("{\"action\":2,\"version\":\"9.9\"}")
                                 << QStringList{ installedJson(INSTALL_NOW,
                                                               QStringLiteral("9.9")) };
}

void TestUpdateAdapter::newestRequestWins()
{
    QFETCH(QString, newer);
    QFETCH(QStringList, laterStatus);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    // Large enough to need several pieces, sent with pauses, so the newer
    // request is read on a tick while the body is still on its way.
    const QByteArray package = deployPackage(rig.root(), 400 * 1024);
    QVERIFY(package.size() > 5 * 64 * 1024);
    TestHttpServer::Response slow = TestHttpServer::Response::withBody(package);
    slow.pieceDelayMs = 120;
    m_server.setRoute("/slow/app.tar.gz", slow);

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    bool sent = false;
    const QMetaObject::Connection connection = connect(
            &m_server, &TestHttpServer::requestReceived, this,
            [&](const QByteArray &, const QByteArray &target) {
                if (target == "/slow/app.tar.gz" && !sent) {
                    sent = true;
                    peer.send(newer);
                }
            });
    peer.send(QStringLiteral("{\"action\":1,\"version\":\"1.2.3\",\"build_release\":\"%1\"}")
                      .arg(base() + QStringLiteral("/slow/app.tar.gz")));

    const auto finished = [this] {
        return indexOfPrefix(m_log->messages(), QStringLiteral("downloaded file:")) >= 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(finished(), 20000);
    disconnect(connection);
    QTest::qWait(100);
    peer.collect();

    // The newer request was read while the transfer ran, not after it.
    const QStringList messages = m_log->messages();
    int secondRead = -1;
    for (int i = 0; i < messages.size(); ++i) {
        if (messages.at(i).startsWith(QLatin1String("IPC action received:")))
            secondRead = i;
    }
    const int firstRead = indexOfPrefix(messages, QStringLiteral("IPC action received:"));
    QVERIFY(firstRead >= 0 && secondRead > firstRead);
    QVERIFY2(secondRead < indexOfPrefix(messages, QStringLiteral("downloaded file:")),
             "the newer request was not read while the download ran");

    QCOMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() } + laterStatus);
    const QString packagePath = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.tar.gz");
    const QString folder = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3");
    const QString marker = rig.serviceDir() + QStringLiteral("/deployed-from.txt");
    if (laterStatus.isEmpty()) {
        // Downloaded in full and left alone.
        QCOMPARE(TestFiles::read(packagePath), package);
        QVERIFY(!QFile::exists(folder));
        QVERIFY(!QFile::exists(marker));
        QCOMPARE(indexOfPrefix(controllerLog(*m_log),
                               QStringLiteral("I|UpdateAdapter::extractAndInstall:")),
                 -1);
    } else {
        QVERIFY(!QFile::exists(packagePath));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(QFile::exists(marker));
    }
}

void TestUpdateAdapter::progressRelayedAsQuotient_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("message");

    QTest::newRow("download half") << false << qint64(1) << qint64(2)
                                   << QStringLiteral("{\"command\":1,\"message\":0.5}");
    QTest::newRow("download complete") << false << qint64(4096) << qint64(4096)
                                       << QStringLiteral("{\"command\":1,\"message\":1}");
    QTest::newRow("download third") << false << qint64(1) << qint64(3)
                                    << QStringLiteral(
                                               "{\"command\":1,\"message\":0.3333333333333333}");
    QTest::newRow("beyond 32 bits") << false << qint64(3000000000LL) << qint64(6000000000LL)
                                    << QStringLiteral("{\"command\":1,\"message\":0.5}");
    QTest::newRow("download, total 0") << false << qint64(5) << qint64(0)
                                       << QStringLiteral("{\"command\":1,\"message\":null}");
    QTest::newRow("download, 0 of 0") << false << qint64(0) << qint64(0)
                                      << QStringLiteral("{\"command\":1,\"message\":null}");
    QTest::newRow("download, total unknown") << false << qint64(512) << qint64(-1)
                                             << QStringLiteral("{\"command\":1,\"message\":-512}");
    QTest::newRow("upload quarter") << true << qint64(1) << qint64(4)
                                    << QStringLiteral("{\"command\":0,\"message\":0.25}");
    QTest::newRow("upload, 0 of 0") << true << qint64(0) << qint64(0)
                                    << QStringLiteral("{\"command\":0,\"message\":null}");
    QTest::newRow("upload, total unknown") << true << qint64(3) << qint64(-1)
                                           << QStringLiteral("{\"command\":0,\"message\":-3}");
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
    QTest::addColumn<QString>("fileName");

    QTest::newRow("version") << QStringLiteral("1.2.3") << QStringLiteral("Tessaly1.2.3.tar.gz");
    QTest::newRow("no version") << QString() << QStringLiteral("Tessaly.tar.gz");
    // Both placeholders are filled in one pass.
    QTest::newRow("version holding %2") << QStringLiteral("1.%2")
                                        << QStringLiteral("Tessaly1.%2.tar.gz");
}

void TestUpdateAdapter::failedDownloadReported()
{
    QFETCH(QString, version);
    QFETCH(QString, fileName);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    const QString url = base() + QStringLiteral("/missing/app.tar.gz");
    QJsonObject request{ { QStringLiteral("action"), 1 },
                         { QStringLiteral("build_release"), url } };
    if (!version.isNull())
        request.insert(QStringLiteral("version"), version);
    peer.send(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));

    QTRY_COMPARE_WITH_TIMEOUT(peer.statusMessages().size(), 2, 15000);
    const QString error =
            QStringLiteral("Error transferring %1 - server replied: Not Found").arg(url);
    QCOMPARE(peer.statusMessages(),
             (QStringList{ downloadStartedJson(), downloadFailedJson(1, version, error) }));
    const QStringList log = controllerLog(*m_log);
    QVERIFY(log.contains(
            QStringLiteral("I|\"file Downloaded Failed, filePath=%1/%2, fileUniqueKey=build_release, "
                           "errorString=%3\"")
                    .arg(downloadFolder(rig), fileName, error)));
    QCOMPARE(indexOfPrefix(log, QStringLiteral("I|UpdateAdapter::extractAndInstall:")), -1);
}

void TestUpdateAdapter::emptyMailboxOnEveryTick_data()
{
    QTest::addColumn<QString>("setup");

    QTest::newRow("never written") << QString();
    QTest::newRow("consumed") << QStringLiteral("consumed");
    QTest::newRow("empty text") << QStringLiteral("empty");
    QTest::newRow("null text") << QStringLiteral("null");
}

void TestUpdateAdapter::emptyMailboxOnEveryTick()
{
    QFETCH(QString, setup);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    int action = 0;
    QString version;
    if (setup == QLatin1String("consumed")) {
        peer.send(QStringLiteral("{\"action\":1,\"version\":\"9.9\"}"));
        QVERIFY(waitForActionLines(1));
        QTRY_COMPARE(peer.statusMessages(), QStringList{ downloadStartedJson() });
        action = 1;
        version = QStringLiteral("9.9");
    } else if (setup == QLatin1String("empty")) {
        peer.send(QLatin1String(""));
    } else if (setup == QLatin1String("null")) {
        peer.send(QString());
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
    adapter.fileDownloadedFailed(QStringLiteral("p"), QStringLiteral("build_release"),
                                 QStringLiteral("boom"));
    peer.collect();
    QCOMPARE(peer.statusMessages().mid(statusBefore),
             QStringList{ downloadFailedJson(action, version, QStringLiteral("boom")) });
    // And the timer was running all along.
    peer.send(QStringLiteral("{\"action\":0}"));
    QVERIFY(waitForActionLines(1, 2000));
}

TESSALY_TEST_MAIN(TestUpdateAdapter)
#include "tst_updateadapter.moc"
