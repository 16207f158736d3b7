#include <QDir>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

#include "common/vovodo_global.h"
#include "processprobe.h"
#include "support/logcapture.h"
#include "support/testmain.h"
#include "update/shellcommand.h"
#include "update/updateadapter.h"
#include "updatetestrig.h"

// The installation half of the controller, driven the way the main
// application drives it: an INSTALL_NOW request through the mailbox for a
// package already on the device, with the real tar, gzip, chmod, mv and sh.
class TestPackageInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void tarGzInstall_data();
    void tarGzInstall();
    void gzInstall_data();
    void gzInstall();
    void gzRenamedOntoItself();
    void unknownPackageTypeReportedInstalled_data();
    void unknownPackageTypeReportedInstalled();
    void deployHangingPastTimeout();
    void deployNewVersionNeedsPackage_data();
    void deployNewVersionNeedsPackage();
    void downloadJudgedAgainstNewestAction_data();
    void downloadJudgedAgainstNewestAction();

private:
    int actionLines() const;
    bool sendAndWaitUntilRead(MainAppPeer &peer, const QString &request);

    std::unique_ptr<LogCapture> m_log;
};

namespace {

const QString installNowRequest =
        QStringLiteral("{\"action\":2,\"version\":\"1.2.3\"}");

// QProcess starts a program by the full path it finds on PATH, and tar, mv
// and sh name themselves by that path in their messages (gzip does not).
QString toolPath(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

QString canonical(const QString &path)
{
    return QDir(path).canonicalPath();
}

// A ".tar.gz" package whose files (and folder) are not yet readable by
// others, so the unpacking step's "chmod -R 755" shows. A null script leaves
// deploy.sh out.
bool makeDeployPackage(const QString &workDir, const QByteArray &script, const QString &archive)
{
    const QString source = workDir + QStringLiteral("/package-source");
    if (!QDir().mkpath(source)
        || !QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner)
        || !TestFiles::write(source + QStringLiteral("/payload.bin"), "payload 1.2.3\n"))
        return false;
    if (!script.isNull() && !TestFiles::write(source + QStringLiteral("/deploy.sh"), script))
        return false;
    return TestFiles::makeTarGz(source, archive);
}

} // namespace

void TestPackageInstall::initTestCase()
{
    // The tools' messages in their untranslated form.
    qputenv("LC_ALL", "C");
}

void TestPackageInstall::init()
{
    m_log.reset(new LogCapture);
}

void TestPackageInstall::cleanup()
{
    const QStringList forbidden = forbiddenLines(*m_log);
    m_log.reset();
    // Nothing in the service stops the old application or reboots the device.
    QCOMPARE(forbidden, QStringList());
}

int TestPackageInstall::actionLines() const
{
    int count = 0;
    const QStringList messages = m_log->messages();
    for (const QString &message : messages)
        count += message.startsWith(QLatin1String("IPC action received:")) ? 1 : 0;
    return count;
}

// The whole tick, installation included, has run once its log line is there.
bool TestPackageInstall::sendAndWaitUntilRead(MainAppPeer &peer, const QString &request)
{
    const int before = actionLines();
    peer.send(request);
    QElapsedTimer clock;
    clock.start();
    while (actionLines() == before && clock.elapsed() < 20000)
        QTest::qWait(5);
    // One more pass so the peer has read what the tick wrote.
    QTest::qWait(10);
    peer.collect();
    return actionLines() > before;
}

void TestPackageInstall::tarGzInstall_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("deployRan");

    const QByteArray marker = "pwd -P > deployed-from.txt\n";

    QTest::newRow("deploy succeeds")
            << marker + "echo deployed\n" << false << QString() << true;
    QTest::newRow("deploy exits non-zero silently")
            << marker + "exit 7\n" << false << QString() << true;
    QTest::newRow("deploy writes to standard error")
            << marker + "echo 'deploy: low disk space' >&2\n" << false
            << QStringLiteral("deploy: low disk space\n") << true;
    QTest::newRow("command in deploy fails")
            << marker + "cp /nonexistent/tessaly.conf .\necho copied\n" << false
            << QStringLiteral(
                       "cp: cannot stat '/nonexistent/tessaly.conf': No such file or directory\n")
            << true;
    QTest::newRow("package without deploy.sh")
            << QByteArray() << false
            << QStringLiteral("%SH%: 0: cannot open %FOLDER%/deploy.sh: No such file\n") << false;
    QTest::newRow("corrupt archive")
            << QByteArray() << true
            << QStringLiteral("\ngzip: stdin: not in gzip format\n"
                              "%TAR%: Child returned status 1\n"
                              "%TAR%: Error is not recoverable: exiting now\n")
            << false;
}

void TestPackageInstall::tarGzInstall()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, corrupt);
    QFETCH(QString, error);
    QFETCH(bool, deployRan);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString package = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.tar.gz");
    const QString folder = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3");
    error.replace(QLatin1String("%FOLDER%"), folder);
    error.replace(QLatin1String("%SH%"), toolPath("sh"));
    error.replace(QLatin1String("%TAR%"), toolPath("tar"));
    if (corrupt)
        QVERIFY(TestFiles::write(package, "this is not a tar.gz archive\n"));
    else
        QVERIFY(makeDeployPackage(rig.root(), script, package));
    const QByteArray packageBytes = TestFiles::read(package);
    rig.options.preplacedPackagePath = package;

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    QVERIFY(sendAndWaitUntilRead(peer, installNowRequest));

    const QString expected = error.isEmpty() ? installedJson(INSTALL_NOW, QStringLiteral("1.2.3"))
                                             : installFailedJson(INSTALL_NOW,
                                                                 QStringLiteral("1.2.3"), error);
    QCOMPARE(peer.statusMessages(), QStringList{ expected });

    // The package goes only after a successful deploy; the folder always stays.
    QCOMPARE(QFile::exists(package), !error.isEmpty());
    if (!error.isEmpty())
        QCOMPARE(TestFiles::read(package), packageBytes);
    QVERIFY(QFileInfo(folder).isDir());
    if (!corrupt) {
        QCOMPARE(TestFiles::mode(folder), 0755);
        QCOMPARE(TestFiles::mode(folder + QStringLiteral("/payload.bin")), 0755);
        QCOMPARE(TestFiles::read(folder + QStringLiteral("/payload.bin")),
                 QByteArray("payload 1.2.3\n"));
    } else {
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // deploy.sh runs in the service's working directory, not in its folder.
    const QString marker = rig.serviceDir() + QStringLiteral("/deployed-from.txt");
    QCOMPARE(QFile::exists(marker), deployRan);
    if (deployRan)
        QCOMPARE(TestFiles::read(marker), (canonical(rig.serviceDir()) + "\n").toUtf8());
    QVERIFY(!QFile::exists(folder + QStringLiteral("/deployed-from.txt")));

    const QStringList log = controllerLog(*m_log);
    QVERIFY(log.contains(QStringLiteral("I|decompress tar file: \"%1\"").arg(package)));
    QVERIFY(log.contains(QStringLiteral("I|tar -xzf file error: \"%1\"")
                                 .arg(corrupt ? QString(error).replace(QLatin1Char('\n'),
                                                                       QLatin1String("\\n"))
                                              : QString())));
    const QString deployLine =
            QStringLiteral("I|deploy new version using: \"%1/deploy.sh\"").arg(folder);
    QCOMPARE(log.contains(deployLine), !corrupt);
}

void TestPackageInstall::gzInstall_data()
{
    QTest::addColumn<bool>("oldExecutable");
    QTest::addColumn<bool>("oldLegacy");
    QTest::addColumn<bool>("binFolderExists");
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<QString>("error");

    QTest::newRow("replaces the old executable") << true << false << true << false << QString();
    QTest::newRow("replaces an earlier legacy copy") << true << true << true << false << QString();
    // Keeping the old executable fails, which must not stop the install.
    QTest::newRow("first install, nothing to keep")
            << false << false << true << false << QString();
    QTest::newRow("bin folder missing")
            << false << false << false << false
            << QStringLiteral("%MV%: cannot move '%UPGRADE%/Tessaly1.2.3' to '%BIN%Tessaly1.2.3': "
                              "No such file or directory\n");
    QTest::newRow("corrupt package")
            << true << false << true << true
            << QStringLiteral("\ngzip: %UPGRADE%/Tessaly1.2.3.gz: not in gzip format\n");
}

void TestPackageInstall::gzInstall()
{
    QFETCH(bool, oldExecutable);
    QFETCH(bool, oldLegacy);
    QFETCH(bool, binFolderExists);
    QFETCH(bool, corrupt);
    QFETCH(QString, error);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString binDir =
            binFolderExists ? rig.binDir() : rig.root() + QStringLiteral("/missing/bin/");
    rig.options.appBinPath = binDir;
    error.replace(QLatin1String("%UPGRADE%"), rig.upgradeDir());
    error.replace(QLatin1String("%BIN%"), binDir);
    error.replace(QLatin1String("%MV%"), toolPath("mv"));

    const QString package = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.gz");
    const QByteArray newExecutable = "#!/bin/sh\necho Tessaly 1.2.3\n";
    if (corrupt) {
        QVERIFY(TestFiles::write(package, "not gzip data\n"));
    } else {
        const QString source = rig.root() + QStringLiteral("/Tessaly-new");
        QVERIFY(TestFiles::write(source, newExecutable));
        QVERIFY(TestFiles::makeGz(source, package));
    }
    const QByteArray oldBytes = "#!/bin/sh\necho Tessaly 1.0.0\n";
    if (oldExecutable)
        QVERIFY(TestFiles::write(binDir + QStringLiteral("Tessaly"), oldBytes,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                         | QFileDevice::ExeOwner));
    if (oldLegacy)
        QVERIFY(TestFiles::write(binDir + QStringLiteral("Tessaly_legacy"), "older\n"));
    rig.options.preplacedPackagePath = package;

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    QVERIFY(sendAndWaitUntilRead(peer, installNowRequest));

    const QString expected = error.isEmpty() ? installedJson(INSTALL_NOW, QStringLiteral("1.2.3"))
                                             : installFailedJson(INSTALL_NOW,
                                                                 QStringLiteral("1.2.3"), error);
    QCOMPARE(peer.statusMessages(), QStringList{ expected });

    const QString installed = binDir + QStringLiteral("Tessaly");
    const QString legacy = binDir + QStringLiteral("Tessaly_legacy");
    const QString unpacked = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3");
    if (error.isEmpty()) {
        QCOMPARE(TestFiles::read(installed), newExecutable);
        QCOMPARE(TestFiles::mode(installed), 0777);
        QVERIFY(!QFile::exists(binDir + QStringLiteral("Tessaly1.2.3")));
        QVERIFY(!QFile::exists(package));
        QVERIFY(!QFile::exists(unpacked));
        if (oldExecutable)
            QCOMPARE(TestFiles::read(legacy), oldBytes);
        else
            QVERIFY(!QFile::exists(legacy));
    } else if (corrupt) {
        // Stopped at the first step: the installed executable is untouched.
        QCOMPARE(TestFiles::read(installed), oldBytes);
        QVERIFY(!QFile::exists(legacy));
        QVERIFY(QFile::exists(package));
    } else {
        // Nothing is rolled back: the unpacked file stays where gzip put it.
        QCOMPARE(TestFiles::read(unpacked), newExecutable);
        QCOMPARE(TestFiles::mode(unpacked), 0755);
        QVERIFY(!QFile::exists(package));
    }

    const QStringList log = controllerLog(*m_log);
    if (!oldExecutable && !corrupt) {
        QVERIFY(log.contains(
                QStringLiteral("C|renaming error: \"%1: cannot stat '%2': No such file or "
                               "directory\\n\"")
                        .arg(toolPath("mv"), installed)));
    }
}

void TestPackageInstall::gzRenamedOntoItself()
{
    // "Tessaly.gz" unpacks to "Tessaly": the new executable is moved in under
    // its final name and the rename step then moves it onto itself, which mv
    // refuses on standard error. The install is reported failed although the
    // new executable is in place (without its 777).
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    QCOMPARE(rig.options.preplacedPackagePath, QStringLiteral("./../../upgrade/Tessaly.gz"));
    const QByteArray newExecutable = "#!/bin/sh\necho Tessaly 2.0.0\n";
    const QByteArray oldBytes = "#!/bin/sh\necho Tessaly 1.0.0\n";
    const QString source = rig.root() + QStringLiteral("/Tessaly-new");
    QVERIFY(TestFiles::write(source, newExecutable));
    QVERIFY(TestFiles::makeGz(source, rig.upgradeDir() + QStringLiteral("/Tessaly.gz")));
    const QString installed = rig.binDir() + QStringLiteral("Tessaly");
    QVERIFY(TestFiles::write(installed, oldBytes));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    QVERIFY(sendAndWaitUntilRead(peer, QStringLiteral("{\"action\":2,\"version\":\"2.0.0\"}")));

    const QString mvError = QStringLiteral("%1: '%2' and '%2' are the same file\n")
                                    .arg(toolPath("mv"), installed);
    QCOMPARE(peer.statusMessages(),
             QStringList{ installFailedJson(INSTALL_NOW, QStringLiteral("2.0.0"), mvError) });

    QCOMPARE(TestFiles::read(installed), newExecutable);
    QCOMPARE(TestFiles::mode(installed), 0755);
    QCOMPARE(TestFiles::read(rig.binDir() + QStringLiteral("Tessaly_legacy")), oldBytes);
    QVERIFY(!QFile::exists(rig.upgradeDir() + QStringLiteral("/Tessaly.gz")));
    QVERIFY(!QFile::exists(rig.upgradeDir() + QStringLiteral("/Tessaly")));

    const QStringList log = controllerLog(*m_log);
    const QStringList expectedTail = {
        QStringLiteral("I|new version already available, start installation"),
        QStringLiteral("I|UpdateAdapter::extractAndInstall: \"./../../upgrade/Tessaly.gz\""),
        QStringLiteral("I|unzip file: \"./../../upgrade/Tessaly.gz\""),
        QStringLiteral("I|unzip file: \"\""),
        QStringLiteral("I|unzip file error: \"\""),
        QStringLiteral("I|chmod file: \"\""),
        QStringLiteral("C|chmod file error: \"\""),
        QStringLiteral("I|renaming old version Tessaly to Tessaly_legacy"),
        QStringLiteral("I|renaming: \"\""),
        QStringLiteral("C|renaming error: \"\""),
        QStringLiteral("I|copy new version to: \"%1\"").arg(rig.binDir()),
        QStringLiteral("I|copying output: \"\""),
        QStringLiteral("C|copying error: \"\""),
        QStringLiteral("I|\"renaming new version Tessaly to Tessaly\""),
        QStringLiteral("I|renaming: \"\""),
        QStringLiteral("I|renaming error: \"%1: '%2' and '%2' are the same file\\n\"")
                .arg(toolPath("mv"), installed),
    };
    QCOMPARE(log.mid(log.size() - expectedTail.size()), expectedTail);
}

void TestPackageInstall::unknownPackageTypeReportedInstalled_data()
{
    QTest::addColumn<QString>("fileName");

    QTest::newRow("zip") << QStringLiteral("Tessaly1.2.3.zip");
    QTest::newRow("jbin") << QStringLiteral("Tessaly1.2.3.jbin");
    QTest::newRow("jpg") << QStringLiteral("Tessaly1.2.3.jpg");
    QTest::newRow("png") << QStringLiteral("Tessaly1.2.3.png");
    QTest::newRow("upper-case TAR.GZ") << QStringLiteral("Tessaly1.2.3.TAR.GZ");
    QTest::newRow("no extension") << QStringLiteral("Tessaly1.2.3");
}

void TestPackageInstall::unknownPackageTypeReportedInstalled()
{
    QFETCH(QString, fileName);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    // A real package inside: had anything run, the marker would be there.
    const QString package = rig.upgradeDir() + QLatin1Char('/') + fileName;
    QVERIFY(makeDeployPackage(rig.root(), "pwd -P > deployed-from.txt\n", package));
    const QByteArray packageBytes = TestFiles::read(package);
    rig.options.preplacedPackagePath = package;

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    m_log->clear();
    QVERIFY(sendAndWaitUntilRead(peer, installNowRequest));

    QCOMPARE(peer.statusMessages(),
             QStringList{ installedJson(INSTALL_NOW, QStringLiteral("1.2.3")) });
    QCOMPARE(controllerLog(*m_log),
             (QStringList{ QStringLiteral("I|IPC action received: \"INSTALL_NOW\""),
                           QStringLiteral("I|new version already available, start installation"),
                           QStringLiteral("I|UpdateAdapter::extractAndInstall: \"%1\"")
                                   .arg(package) }));
    QCOMPARE(TestFiles::read(package), packageBytes);
    QCOMPARE(QDir(rig.upgradeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{ fileName });
    QVERIFY(!QFile::exists(rig.serviceDir() + QStringLiteral("/deployed-from.txt")));
}

void TestPackageInstall::deployHangingPastTimeout()
{
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    QCOMPARE(rig.options.commandTimeoutMs, 3000);
    const QString package = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.tar.gz");
    QVERIFY(makeDeployPackage(rig.root(),
                              "echo $$ > deploy-pids\n"
                              "sleep 30 &\n"
                              "echo $! >> deploy-pids\n"
                              "sleep 30\n",
                              package));
    rig.options.preplacedPackagePath = package;

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sendAndWaitUntilRead(peer, installNowRequest));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(peer.statusMessages(),
             QStringList{ QStringLiteral(
                     "{\"action\":2,\"command\":2,\"message\":\"New version \\\"1.2.3\\\" failed "
                     "to download or extract, with error sh did not finish within 3000 ms and "
                     "was stopped\",\"version\":\"1.2.3\"}") });
    QVERIFY(QFile::exists(package));

    const QList<qint64> pids =
            ProcessProbe::pidsFromFile(rig.serviceDir() + QStringLiteral("/deploy-pids"));
    QCOMPARE(pids.size(), 2);
    // The script itself is reaped before the step returns; its child goes
    // as soon as the kernel delivers the group's SIGKILL.
    QVERIFY(!ProcessProbe::isAlive(pids.first()));
    QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::aliveInGroup(pids.first()), QList<qint64>(), 2000);
    for (qint64 pid : pids)
        QVERIFY2(!ProcessProbe::isAlive(pid), qPrintable(QString::number(pid)));
    QVERIFY(controllerLog(*m_log).contains(
            QStringLiteral("C|deploy error: \"sh did not finish within 3000 ms and was stopped\"")));
}

void TestPackageInstall::deployNewVersionNeedsPackage_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("result");

    QTest::newRow("empty path") << QString() << false << false;
    QTest::newRow("missing package") << QStringLiteral("Tessaly9.9.9.tar.gz") << false << false;
    QTest::newRow("package present") << QStringLiteral("Tessaly9.9.9.tar.gz") << true << true;
}

void TestPackageInstall::deployNewVersionNeedsPackage()
{
    QFETCH(QString, packageName);
    QFETCH(bool, present);
    QFETCH(bool, result);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString path =
            packageName.isEmpty() ? QString() : rig.upgradeDir() + QLatin1Char('/') + packageName;
    // The unpacked folder is there in every row; only the package differs.
    const QString folder = rig.upgradeDir() + QStringLiteral("/Tessaly9.9.9");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(TestFiles::write(folder + QStringLiteral("/deploy.sh"), "pwd -P > deployed-from.txt\n"));
    if (present)
        QVERIFY(TestFiles::write(path, "package"));

    UpdateAdapter adapter(rig.options, nullptr);
    QString error = QStringLiteral("earlier text");
    QCOMPARE(adapter.deployNewVersion(path, error), result);

    if (result) {
        QCOMPARE(error, QStringLiteral("earlier text"));
    } else {
        QCOMPARE(error, QStringLiteral("File path is empty or file does not exist") + path);
        QVERIFY(!controllerLog(*m_log).contains(
                QStringLiteral("I|deploy new version using: \"%1/deploy.sh\"").arg(folder)));
    }
    QCOMPARE(QFile::exists(rig.serviceDir() + QStringLiteral("/deployed-from.txt")), result);
}

void TestPackageInstall::downloadJudgedAgainstNewestAction_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("installedAction");

    const QString request = QStringLiteral("{\"action\":%1,\"version\":\"4.5\"}");
    QTest::newRow("no request yet") << QString() << QStringLiteral("build_release") << -1;
    QTest::newRow("DOWNLOAD_ONLY") << request.arg(1) << QStringLiteral("build_release") << 1;
    QTest::newRow("INSTALL_NOW") << request.arg(2) << QStringLiteral("build_release") << 2;
    QTest::newRow("DOWNLOAD_FORCE_INSTALL")
            << request.arg(3) << QStringLiteral("build_release") << 3;
    QTest::newRow("INVALID") << request.arg(0) << QStringLiteral("build_release") << -1;
    QTest::newRow("unknown action") << request.arg(7) << QStringLiteral("build_release") << -1;
    QTest::newRow("not JSON") << QStringLiteral("install please")
                              << QStringLiteral("build_release") << -1;
    QTest::newRow("other key") << request.arg(1) << QStringLiteral("icons") << -1;
    QTest::newRow("key in other case") << request.arg(1) << QStringLiteral("BUILD_RELEASE") << -1;
    QTest::newRow("key with a space") << request.arg(1) << QStringLiteral("build_release ") << -1;
}

void TestPackageInstall::downloadJudgedAgainstNewestAction()
{
    QFETCH(QString, request);
    QFETCH(QString, key);
    QFETCH(int, installedAction);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    // An unknown type installs without commands: only the message tells.
    const QString package = rig.upgradeDir() + QStringLiteral("/Tessaly4.5.zip");
    QVERIFY(TestFiles::write(package, "zip"));

    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    if (!request.isEmpty())
        QVERIFY(sendAndWaitUntilRead(peer, request));
    // Download requests without a URL only announce the download.
    const QStringList before = peer.statusMessages();
    QVERIFY(before.isEmpty() || before == QStringList{ downloadStartedJson() });

    m_log->clear();
    adapter.fileDownloaded(package, key);
    QTest::qWait(60);
    peer.collect();

    const QStringList written = peer.statusMessages().mid(before.size());
    if (installedAction < 0) {
        QCOMPARE(written, QStringList());
        QCOMPARE(controllerLog(*m_log), QStringList());
    } else {
        QCOMPARE(written, QStringList{ installedJson(installedAction, QStringLiteral("4.5")) });
        QCOMPARE(controllerLog(*m_log),
                 QStringList{ QStringLiteral("I|UpdateAdapter::extractAndInstall: \"%1\"")
                                      .arg(package) });
    }
}

TESSALY_TEST_MAIN(TestPackageInstall)
#include "tst_packageinstall.moc"
