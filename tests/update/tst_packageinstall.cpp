#include <QDir>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

#include "common/vovodo_global.h"
#include "processprobe.h"
#include "support/logcapture.h"
#include "support/testmain.h"
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

    void installOutcome_data();
    void installOutcome();
    void gzRenamedOntoItself();
    void deployHangingPastTimeout();
    void deployNewVersionNeedsPackage_data();
    void deployNewVersionNeedsPackage();

private:
    // Installs the package at path as the answer to an INSTALL_NOW request
    // and returns the status messages the main application received.
    QStringList installNow(UpdateTestRig &rig, const QString &path,
                           const QString &version = QStringLiteral("1.2.3"));

    std::unique_ptr<LogCapture> m_log;
};

namespace {

// QProcess starts a program by the full path it finds on PATH, and tar, mv
// and sh name themselves by that path in their messages (gzip does not).
QString toolPath(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

const QByteArray oldExecutable = "#!/bin/sh\necho Tessaly 1.0.0\n";
const QByteArray newExecutable = "#!/bin/sh\necho Tessaly 1.2.3\n";
const QByteArray deployMarker = "pwd -P > deployed-from.txt\n";

enum class Package { Bytes, TarGz, Gz };

} // namespace

Q_DECLARE_METATYPE(Package)

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
    QCOMPARE(forbidden, QStringList());
}

QStringList TestPackageInstall::installNow(UpdateTestRig &rig, const QString &path,
                                           const QString &version)
{
    rig.options.preplacedPackagePath = path;
    UpdateAdapter adapter(rig.options, nullptr);
    MainAppPeer peer(rig.options.readMailbox, rig.options.writeMailbox);
    if (!sendAndWaitUntilRead(peer, *m_log,
                              QStringLiteral("{\"action\":2,\"version\":\"%1\"}").arg(version)))
        return { QStringLiteral("request not read") };
    return peer.statusMessages();
}

void TestPackageInstall::installOutcome_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<Package>("kind");
    // The deploy script, or the package's bytes.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("binFolderMissing");
    // Empty when the install is reported done.
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("upgradeAfter");
    QTest::addColumn<bool>("deployRan");

    const QString tarGz = QStringLiteral("Tessaly1.2.3.tar.gz");
    const QString gz = QStringLiteral("Tessaly1.2.3.gz");
    const QString unpacked = QStringLiteral("Tessaly1.2.3");
    // Nothing is cleaned up after a failure.
    QTest::newRow("deploy writes to standard error")
            << tarGz << Package::TarGz << deployMarker + "echo 'low disk space' >&2\n" << false
            << "low disk space\n" << QStringList{ unpacked, tarGz } << true;
    QTest::newRow("corrupt .tar.gz")
            << tarGz << Package::Bytes << QByteArray("not an archive\n") << false
            << "\ngzip: stdin: not in gzip format\n%TAR%: Child returned status 1\n"
               "%TAR%: Error is not recoverable: exiting now\n"
            << QStringList{ unpacked, tarGz } << false;
    QTest::newRow("corrupt .gz")
            << gz << Package::Bytes << QByteArray("not an archive\n") << false
            << "\ngzip: %UPGRADE%/Tessaly1.2.3.gz: not in gzip format\n" << QStringList{ gz }
            << false;
    QTest::newRow("bin folder missing")
            << gz << Package::Gz << QByteArray() << true
            << "%MV%: cannot move '%UPGRADE%/Tessaly1.2.3' to '%BIN%Tessaly1.2.3': "
               "No such file or directory\n"
            << QStringList{ unpacked } << false;
    // Reported installed, although nothing was unpacked or run.
    for (const char *name : { "Tessaly1.2.3.zip", "Tessaly1.2.3.TAR.GZ", "Tessaly1.2.3" })
        QTest::newRow(name) << name << Package::TarGz << deployMarker << false << ""
                            << QStringList{ name } << false;
}

void TestPackageInstall::installOutcome()
{
    QFETCH(QString, fileName);
    QFETCH(Package, kind);
    QFETCH(QByteArray, content);
    QFETCH(bool, binFolderMissing);
    QFETCH(QString, error);
    QFETCH(QStringList, upgradeAfter);
    QFETCH(bool, deployRan);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString installed = rig.binDir() + QStringLiteral("Tessaly");
    QVERIFY(TestFiles::write(installed, oldExecutable));
    if (binFolderMissing)
        rig.options.appBinPath = rig.root() + "/missing/bin/";
    error.replace("%UPGRADE%", rig.upgradeDir()).replace("%BIN%", rig.options.appBinPath);
    error.replace("%MV%", toolPath("mv")).replace("%TAR%", toolPath("tar"));
    const QString package = rig.upgradeDir() + '/' + fileName;
    if (kind == Package::Bytes) {
        QVERIFY(TestFiles::write(package, content));
    } else if (kind == Package::TarGz) {
        QVERIFY(TestFiles::makeDeployPackage(rig.root(), content, package));
    } else {
        QVERIFY(TestFiles::write(rig.root() + "/Tessaly-new", newExecutable));
        QVERIFY(TestFiles::makeGz(rig.root() + "/Tessaly-new", package));
    }
    const QByteArray packageBytes = TestFiles::read(package);

    QCOMPARE(installNow(rig, package),
             QStringList{ error.isEmpty() ? installedJson(INSTALL_NOW, "1.2.3")
                                          : installFailedJson(INSTALL_NOW, "1.2.3", error) });
    QCOMPARE(TestFiles::entries(rig.upgradeDir()), upgradeAfter);
    if (upgradeAfter.contains(fileName))
        QCOMPARE(TestFiles::read(package), packageBytes);
    QCOMPARE(QFile::exists(rig.serviceDir() + QStringLiteral("/deployed-from.txt")), deployRan);
    // The installed executable is untouched.
    QCOMPARE(TestFiles::entries(rig.binDir()), QStringList{ "Tessaly" });
    QCOMPARE(TestFiles::read(installed), oldExecutable);
}

void TestPackageInstall::gzRenamedOntoItself()
{
    // "Tessaly.gz" unpacks to "Tessaly": the new executable is moved in under
    // its final name and the rename step then moves it onto itself, which mv
    // refuses on standard error. The install is reported failed although the
    // new executable is in place (without its 777).
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    const QString installed = rig.binDir() + QStringLiteral("Tessaly");
    QVERIFY(TestFiles::write(rig.root() + "/Tessaly-new", newExecutable));
    QVERIFY(TestFiles::makeGz(rig.root() + "/Tessaly-new", rig.upgradeDir() + "/Tessaly.gz"));
    QVERIFY(TestFiles::write(installed, oldExecutable));

    const QString mvError =
            QStringLiteral("%1: '%2' and '%2' are the same file\n").arg(toolPath("mv"), installed);
    // The service's own path for a package placed by hand.
    QCOMPARE(installNow(rig, UpdateAdapterOptions::defaults().preplacedPackagePath, "2.0.0"),
             QStringList{ installFailedJson(INSTALL_NOW, "2.0.0", mvError) });

    QCOMPARE(TestFiles::read(installed), newExecutable);
    QCOMPARE(TestFiles::mode(installed), 0755);
    QCOMPARE(TestFiles::read(rig.binDir() + QStringLiteral("Tessaly_legacy")), oldExecutable);
    QCOMPARE(TestFiles::entries(rig.upgradeDir()), QStringList());

    const QStringList log = controllerLog(*m_log);
    const QStringList expectedTail = {
        "I|new version already available, start installation",
        "I|UpdateAdapter::extractAndInstall: \"./../../upgrade/Tessaly.gz\"",
        "I|unzip file: \"./../../upgrade/Tessaly.gz\"",
        "I|unzip file: \"\"",
        "I|unzip file error: \"\"",
        "I|chmod file: \"\"",
        "C|chmod file error: \"\"",
        "I|renaming old version Tessaly to Tessaly_legacy",
        "I|renaming: \"\"",
        "C|renaming error: \"\"",
        "I|copy new version to: \"" + rig.binDir() + '"',
        "I|copying output: \"\"",
        "C|copying error: \"\"",
        "I|\"renaming new version Tessaly to Tessaly\"",
        "I|renaming: \"\"",
        "I|renaming error: \"" + QString(mvError).replace("\n", "\\n") + '"',
        "D|\"UpdateAdapter::~UpdateAdapter 1.0.257, with path " + rig.binDir() + '"',
    };
    QCOMPARE(log.mid(log.size() - expectedTail.size()), expectedTail);
}

void TestPackageInstall::deployHangingPastTimeout()
{
    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    QCOMPARE(rig.options.commandTimeoutMs, 3000);
    const QString package = rig.upgradeDir() + QStringLiteral("/Tessaly1.2.3.tar.gz");
    QVERIFY(TestFiles::makeDeployPackage(
            rig.root(), "echo $$ > deploy-pids\nsleep 30 &\necho $! >> deploy-pids\nsleep 30\n",
            package));

    QCOMPARE(installNow(rig, package),
             QStringList{ installFailedJson(INSTALL_NOW, "1.2.3",
                                            "sh did not finish within 3000 ms and was stopped") });
    QVERIFY(QFile::exists(package));
    const QList<qint64> pids =
            ProcessProbe::pidsFromFile(rig.serviceDir() + QStringLiteral("/deploy-pids"));
    QCOMPARE(pids.size(), 2);
    // The script is reaped before the step returns; its child goes as soon
    // as the kernel delivers the group's SIGKILL.
    QVERIFY(!ProcessProbe::isAlive(pids.at(0)));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessProbe::isAlive(pids.at(1)), 2000);
}

void TestPackageInstall::deployNewVersionNeedsPackage_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("empty path") << "";
    QTest::newRow("missing package") << "../../upgrade/Tessaly9.9.9.tar.gz";
}

void TestPackageInstall::deployNewVersionNeedsPackage()
{
    QFETCH(QString, path);

    UpdateTestRig rig;
    QVERIFY(rig.isValid());
    // The unpacked folder is there; only the package is missing.
    QVERIFY(QDir().mkpath(rig.upgradeDir() + "/Tessaly9.9.9"));
    QVERIFY(TestFiles::write(rig.upgradeDir() + "/Tessaly9.9.9/deploy.sh", deployMarker));

    UpdateAdapter adapter(rig.options, nullptr);
    QString error;
    QVERIFY(!adapter.deployNewVersion(path, error));
    QCOMPARE(error, "File path is empty or file does not exist" + path);
    QVERIFY(!QFile::exists(rig.serviceDir() + QStringLiteral("/deployed-from.txt")));
}

TESSALY_TEST_MAIN(TestPackageInstall)
#include "tst_packageinstall.moc"
