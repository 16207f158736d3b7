#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>

#include "devicetree.h"
#include "support/testmain.h"

Q_DECLARE_METATYPE(DeviceTree::Packer)

// The whole update path with the real parts: the service binary in a
// throw-away device tree, nginx on loopback and tessaly-peer as the main
// application.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tarGzPackageIsInstalled_data();
    void tarGzPackageIsInstalled();
    void deviceClockBehindThePackage_data();
    void deviceClockBehindThePackage();
    void missingPackageIsReportedAsDownloadFailure();
    void textThatIsNotJsonIsLogged();
    void installNowWithoutInstallationFolderFails();
    void gzPackageReplacesTheInstalledExecutable_data();
    void gzPackageReplacesTheInstalledExecutable();

private:
    static void verifyLogFormat(const DeviceTree &device);
};

void TestEndToEnd::verifyLogFormat(const DeviceTree &device)
{
    const QStringList files = device.logFiles();
    QCOMPARE(files.size(), 1);
    const QRegularExpression name(
            QStringLiteral("^TessalyUpdater_1\\.0\\.257_\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.log$"));
    QVERIFY2(name.match(files.first()).hasMatch(), qPrintable(files.first()));

    const QRegularExpression line(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[(DEBUG|INFO|WARNING|ERROR)\\] "));
    const QStringList lines = device.logText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    for (const QString &text : lines)
        QVERIFY2(line.match(text).hasMatch(), qPrintable(text));
    QVERIFY(lines.first().endsWith(
            QStringLiteral("[DEBUG] \"UpdateAdapter::UpdateAdapter 1.0.257, with path "
                           "/home/corvane/Tessaly/bin/\"")));
}

void TestEndToEnd::tarGzPackageIsInstalled_data()
{
    QTest::addColumn<bool>("tls");
    QTest::newRow("http") << false;
    QTest::newRow("https, self-signed") << true;
}

void TestEndToEnd::tarGzPackageIsInstalled()
{
    QFETCH(bool, tls);
    DeviceTree device;
    QVERIFY(device.isValid());
    QVERIFY(!device.makeTarGzPackage(QStringLiteral("app.tar.gz"), 3 * 1024 * 1024).isEmpty());
    const QString url = device.startWebServer(tls);
    QVERIFY(!url.isEmpty());
    QVERIFY(device.startService());

    const auto peer = device.runPeer({ QStringLiteral("download"), QStringLiteral("--version"),
                                       QStringLiteral("2.0.0"), QStringLiteral("--url"),
                                       url + QStringLiteral("/app.tar.gz"),
                                       QStringLiteral("--wait"), QStringLiteral("60") });
    QVERIFY2(peer.exitCode == 0, qPrintable(peer.out + peer.err));
    QVERIFY2(peer.out.contains(QStringLiteral("UPDATE_INSTALLED")), qPrintable(peer.out));

    // Unpacked beside the package, deploy.sh run in the service's working
    // directory, the package removed.
    const QString unpacked = device.upgradeDir() + QStringLiteral("/Tessaly2.0.0");
    QVERIFY(QFile::exists(unpacked + QStringLiteral("/payload.bin")));
    QVERIFY(!QFile::exists(device.upgradeDir() + QStringLiteral("/Tessaly2.0.0.tar.gz")));
    QFile marker(device.binDir() + QStringLiteral("/DEPLOYED_AT"));
    QVERIFY(marker.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(marker.readAll()).trimmed(),
             QFileInfo(device.binDir()).canonicalFilePath());

    const QString log = device.logText();
    QVERIFY(log.contains(QStringLiteral("[INFO] IPC action received: \"DOWNLOAD_ONLY\"")));
    QVERIFY(log.contains(QStringLiteral(
            "[INFO] \"IPC TessalyUpdater sending message:\" \"{\\\"action\\\":1,\\\"command\\\":3,"
            "\\\"message\\\":\\\"New version \\\\\\\"2.0.0\\\\\\\" is ready, please reboot to "
            "install.\\\",\\\"version\\\":\\\"2.0.0\\\"}\"")));
    verifyLogFormat(device);
}

void TestEndToEnd::deviceClockBehindThePackage_data()
{
    QTest::addColumn<DeviceTree::Packer>("packer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("reported");

    QTest::newRow("tessaly-pack tar") << DeviceTree::Packer::TessalyPack << 0
                                      << QStringList{ QStringLiteral("UPDATE_INSTALLED") };
    // The service's own tar sees the old clock and says so on standard error.
    QTest::newRow("plain tar czf")
            << DeviceTree::Packer::PlainTar << 1
            << QStringList{ QStringLiteral("failed to download or extract, with error %1: ")
                                    .arg(QStandardPaths::findExecutable(QStringLiteral("tar"))),
                            QStringLiteral(" s in the future") };
}

void TestEndToEnd::deviceClockBehindThePackage()
{
    QFETCH(DeviceTree::Packer, packer);
    QFETCH(int, exitCode);
    QFETCH(QStringList, reported);

    DeviceTree device;
    QVERIFY(device.isValid());
    QVERIFY(!device.makeTarGzPackage(QStringLiteral("app.tar.gz"), 64 * 1024, packer).isEmpty());
    const QString url = device.startWebServer(false);
    QVERIFY(!url.isEmpty());
    QVERIFY2(device.setClockOffset(QStringLiteral("-2d")),
             "faketime is missing (scripts/bootstrap installs it)");
    QVERIFY(device.startService());

    const auto peer = device.runPeer({ QStringLiteral("download"), QStringLiteral("--version"),
                                       QStringLiteral("2.0.0"), QStringLiteral("--url"),
                                       url + QStringLiteral("/app.tar.gz"),
                                       QStringLiteral("--wait"), QStringLiteral("60") });
    QVERIFY2(peer.exitCode == exitCode, qPrintable(peer.out + peer.err));
    for (const QString &text : reported)
        QVERIFY2(peer.out.contains(text), qPrintable(peer.out));
    QCOMPARE(QFile::exists(device.binDir() + QStringLiteral("/DEPLOYED_AT")), exitCode == 0);
}

void TestEndToEnd::missingPackageIsReportedAsDownloadFailure()
{
    DeviceTree device;
    QVERIFY(device.isValid());
    const QString url = device.startWebServer(false);
    QVERIFY(!url.isEmpty());
    QVERIFY(device.startService());

    const auto peer = device.runPeer({ QStringLiteral("download"), QStringLiteral("--version"),
                                       QStringLiteral("2.0.1"), QStringLiteral("--url"),
                                       url + QStringLiteral("/missing.tar.gz"),
                                       QStringLiteral("--wait"), QStringLiteral("30") });
    QCOMPARE(peer.exitCode, 1);
    QVERIFY2(peer.out.contains(QStringLiteral("DOWNLOAD_ERROR")), qPrintable(peer.out));
    QVERIFY2(peer.out.contains(QStringLiteral("Not Found")), qPrintable(peer.out));

    const QString log = device.logText();
    QVERIFY(log.contains(QStringLiteral("[INFO] \"file Downloaded Failed, filePath=")));
    QVERIFY(log.contains(QStringLiteral("[ERROR] error in downloading file requested with id:")));
    verifyLogFormat(device);
}

void TestEndToEnd::textThatIsNotJsonIsLogged()
{
    DeviceTree device;
    QVERIFY(device.isValid());
    QVERIFY(device.startService());

    const auto peer = device.runPeer({ QStringLiteral("send"), QStringLiteral("update please") });
    QCOMPARE(peer.exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(device.logText().contains(QStringLiteral(
                                     "[ERROR] can not form json object, wrong input: \"update please\"")),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(
            device.logText().contains(QStringLiteral("[INFO] IPC action received: \"INVALID\"")),
            10000);
    verifyLogFormat(device);
}

void TestEndToEnd::installNowWithoutInstallationFolderFails()
{
    if (QFileInfo::exists(QStringLiteral("/home/corvane")))
        QSKIP("/home/corvane exists on this machine; this case runs only where it does not");
    DeviceTree device;
    QVERIFY(device.isValid());
    QVERIFY(device.makeGzFile(device.upgradeDir() + QStringLiteral("/Tessaly"), "new build\n"));
    QVERIFY(device.startService());

    const auto peer = device.runPeer({ QStringLiteral("install-now"), QStringLiteral("--wait"),
                                       QStringLiteral("30") });
    QCOMPARE(peer.exitCode, 1);
    // Qt starts a program by the full path it finds, which is how tar, mv and
    // sh then name themselves in their messages.
    QVERIFY2(peer.out.contains(QStringLiteral("failed to download or extract, with error %1: cannot move")
                                       .arg(QStandardPaths::findExecutable(QStringLiteral("mv")))),
             qPrintable(peer.out));
    const QString log = device.logText();
    QVERIFY(log.contains(QStringLiteral("[INFO] new version already available, start installation")));
    QVERIFY(log.contains(QStringLiteral("[INFO] unzip file: \"./../../upgrade/Tessaly.gz\"")));
    verifyLogFormat(device);
}

void TestEndToEnd::gzPackageReplacesTheInstalledExecutable_data()
{
    QTest::addColumn<bool>("preplaced");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reported");
    QTest::addColumn<int>("mode");

    QTest::newRow("downloaded Tessaly3.0.0.gz")
            << false << 0 << QStringLiteral("UPDATE_INSTALLED") << 0777;
    // Its base name is Tessaly already, so the final rename moves the file
    // onto itself; GNU mv says so on standard error and the step fails after
    // the executable was replaced, before its mode is set to 777.
    QTest::newRow("pre-placed Tessaly.gz")
            << true << 1
            << QStringLiteral("with error %1: '/home/corvane/Tessaly/bin/Tessaly' and "
                              "'/home/corvane/Tessaly/bin/Tessaly' are the same file")
                       .arg(QStandardPaths::findExecutable(QStringLiteral("mv")))
            << 0755;
}

void TestEndToEnd::gzPackageReplacesTheInstalledExecutable()
{
    QFETCH(bool, preplaced);
    QFETCH(int, exitCode);
    QFETCH(QString, reported);
    QFETCH(int, mode);

    // /home/corvane/Tessaly/bin is fixed in the service. It is made only on a
    // tmpfs over /home inside a private mount namespace of the service's own.
    QProcess probe;
    probe.start(QStringLiteral("unshare"),
                { QStringLiteral("--mount"), QStringLiteral("--propagation"),
                  QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                  QStringLiteral("mount -t tmpfs tmpfs /home") });
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit
        || probe.exitCode() != 0)
        QSKIP("no private mount namespace here (unshare --mount with a tmpfs was refused)");
    const bool machineHadCorvane = QFileInfo::exists(QStringLiteral("/home/corvane"));

    DeviceTree device;
    QVERIFY(device.isValid());
    QStringList request;
    if (preplaced) {
        QVERIFY(device.makeGzFile(device.upgradeDir() + QStringLiteral("/Tessaly"), "new build\n"));
        request = QStringList{ QStringLiteral("install-now") };
    } else {
        QVERIFY(device.makeGzFile(device.webRoot() + QStringLiteral("/app"), "new build\n"));
        const QString url = device.startWebServer(false);
        QVERIFY(!url.isEmpty());
        request = QStringList{ QStringLiteral("download"), QStringLiteral("--version"),
                    QStringLiteral("3.0.0"), QStringLiteral("--url"), url + QStringLiteral("/app.gz") };
    }
    const QString setUp = QStringLiteral(
            "mount -t tmpfs tmpfs /home && mkdir -p /home/corvane/Tessaly/bin && "
            "printf 'old build\\n' > /home/corvane/Tessaly/bin/Tessaly && exec \"$0\" \"$@\"");
    QVERIFY(device.startService({ QStringLiteral("unshare"), QStringLiteral("--mount"),
                                  QStringLiteral("--propagation"), QStringLiteral("private"),
                                  QStringLiteral("sh"), QStringLiteral("-c"), setUp }));

    const auto peer = device.runPeer(request << QStringLiteral("--wait") << QStringLiteral("30"));
    QVERIFY2(peer.exitCode == exitCode, qPrintable(peer.out + peer.err));
    QVERIFY2(peer.out.contains(reported), qPrintable(peer.out));

    // The service's view of /home, through its own mount namespace.
    const QString bin = QStringLiteral("/proc/%1/root/home/corvane/Tessaly/bin/")
                                .arg(device.servicePid());
    QFile installed(bin + QStringLiteral("Tessaly"));
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), QByteArray("new build\n"));
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(installed.fileName()).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
    QFile legacy(bin + QStringLiteral("Tessaly_legacy"));
    QVERIFY(legacy.open(QIODevice::ReadOnly));
    QCOMPARE(legacy.readAll(), QByteArray("old build\n"));
    QCOMPARE(QDir(device.upgradeDir()).entryList(QDir::Files), QStringList());
    // Nothing of it reached the machine's own /home.
    if (!machineHadCorvane)
        QVERIFY(!QFileInfo::exists(QStringLiteral("/home/corvane")));
    verifyLogFormat(device);
}

TESSALY_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
