#include "devicetree.h"

#include "support/childprogram.h"

#include "common/updaterconfig.h"
#include "ipc/tessalyipc.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

QString nginxScript()
{
    return QStringLiteral(TESSALY_SOURCE_DIR "/scripts/nginx-loopback");
}

} // namespace

DeviceTree::DeviceTree()
{
    if (!m_dir.isValid())
        return;
    m_valid = QDir().mkpath(binDir()) && QDir().mkpath(upgradeDir()) && QDir().mkpath(webRoot())
            && QFile::copy(QStringLiteral(TESSALY_SERVICE_BINARY),
                           binDir() + QStringLiteral("/TessalyUpdater"));
}

DeviceTree::~DeviceTree()
{
    stopService();
    stopWebServer();
}

QString DeviceTree::binDir() const
{
    return root() + QStringLiteral("/home/corvane/TessalyUpdater/bin");
}

QString DeviceTree::upgradeDir() const
{
    return root() + QStringLiteral("/home/corvane/upgrade");
}

QString DeviceTree::webRoot() const
{
    return root() + QStringLiteral("/www");
}

bool DeviceTree::run(const QString &program, const QStringList &arguments, QString *out)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << "failed:"
                             << process.readAllStandardError();
        return false;
    }
    return true;
}

QString DeviceTree::startWebServer(bool tls)
{
    QStringList arguments = { QStringLiteral("start"), root() + QStringLiteral("/nginx"),
                              webRoot() };
    if (tls)
        arguments << QStringLiteral("--tls");
    QString url;
    if (!run(nginxScript(), arguments, &url))
        return QString();
    m_webServerRunning = true;
    return url.section(QLatin1Char('\n'), -1);
}

void DeviceTree::stopWebServer()
{
    if (!m_webServerRunning)
        return;
    run(nginxScript(), { QStringLiteral("stop"), root() + QStringLiteral("/nginx") });
    m_webServerRunning = false;
}

bool DeviceTree::startService(const QStringList &wrapper)
{
    const QString service = binDir() + QStringLiteral("/TessalyUpdater");
    m_service.setWorkingDirectory(binDir());
    m_service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The commands' error texts end up in the messages the tests compare.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    if (!m_clockOffset.isEmpty()) {
        // Inherited by tar and sh. Qt's timers run on the monotonic clock,
        // which stays real: only the calendar moves.
        environment.insert(QStringLiteral("LD_PRELOAD"), m_preload);
        environment.insert(QStringLiteral("FAKETIME"), m_clockOffset);
        environment.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    }
    m_service.setProcessEnvironment(environment);
    const QStringList command = wrapper + TestSupport::childCommand(service);
    m_service.start(command.first(), command.mid(1));
    if (!m_service.waitForStarted(10000))
        return false;
    // The first log line is written while the controller is built; once the
    // file is there the service polls its mailbox.
    QDeadlineTimer deadline(10000);
    while (logFiles().isEmpty() && m_service.state() == QProcess::Running && !deadline.hasExpired())
        QTest::qWait(20);
    return m_service.state() == QProcess::Running && !logFiles().isEmpty();
}

bool DeviceTree::setClockOffset(const QString &offset)
{
    // The faketime program would stay between the test and the service and
    // does not pass a termination on; only the library it preloads is used.
    const QStringList arguments = { QStringLiteral("-m"), QStringLiteral("-f"), offset,
                                    QStringLiteral("printenv"), QStringLiteral("LD_PRELOAD") };
    if (!run(QStringLiteral("faketime"), arguments, &m_preload) || m_preload.isEmpty())
        return false;
    m_clockOffset = offset;
    return true;
}

void DeviceTree::stopService()
{
    if (m_service.state() == QProcess::NotRunning)
        return;
    m_service.terminate();
    if (!m_service.waitForFinished(5000)) {
        m_service.kill();
        m_service.waitForFinished(5000);
    }
    // A killed service never detaches its outgoing segments. Taking out what
    // they hold detaches the last user, so the system removes them instead of
    // leaving them for a later key file that happens to map to the same key.
    TessalyIPC peer(UpdaterConfig::serviceMailbox(), UpdaterConfig::mainAppMailbox());
    peer.IPCRead(true);
    peer.IPCReadPercentage(true);
}

qint64 DeviceTree::servicePid() const
{
    return m_service.processId();
}

DeviceTree::Result DeviceTree::runPeer(const QStringList &arguments, int timeoutMs)
{
    Result result;
    QProcess peer;
    TestSupport::startChild(peer, QStringLiteral(TESSALY_PEER_BINARY), arguments);
    if (!peer.waitForStarted(10000))
        return result;
    // Waiting on the peer keeps this process's own event loop out of the way;
    // the service runs in a process of its own.
    if (!peer.waitForFinished(timeoutMs)) {
        peer.kill();
        peer.waitForFinished();
    }
    result.exitCode = peer.exitStatus() == QProcess::NormalExit ? peer.exitCode() : -1;
    result.out = QString::fromUtf8(peer.readAllStandardOutput());
    result.err = QString::fromUtf8(peer.readAllStandardError());
    return result;
}

QString DeviceTree::makeTarGzPackage(const QString &name, int payloadBytes, Packer packer)
{
    const QString source = root() + QStringLiteral("/package-") + name;
    QDir().mkpath(source);
    QFile script(source + QStringLiteral("/deploy.sh"));
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("pwd > DEPLOYED_AT\n");
    script.close();

    QByteArray payload(payloadBytes, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &byte : payload)
        byte = char(generator.generate());
    QFile payloadFile(source + QStringLiteral("/payload.bin"));
    if (!payloadFile.open(QIODevice::WriteOnly) || payloadFile.write(payload) != payloadBytes)
        return QString();
    payloadFile.close();

    const QString archive = webRoot() + QLatin1Char('/') + name;
    if (packer == Packer::TessalyPack) {
        const bool packed = run(QStringLiteral(TESSALY_SOURCE_DIR "/tools/tessaly-pack"),
                                { QStringLiteral("tar"), source, QStringLiteral("1"),
                                  QStringLiteral("-o"), root() });
        return packed && QFile::rename(root() + QStringLiteral("/Tessaly-1.tar.gz"), archive)
                ? archive
                : QString();
    }
    if (!run(QStringLiteral("tar"), { QStringLiteral("-czf"), archive, QStringLiteral("-C"),
                                      source, QStringLiteral(".") }))
        return QString();
    return archive;
}

bool DeviceTree::makeGzFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return run(QStringLiteral("gzip"), { QStringLiteral("-f"), path });
}

QStringList DeviceTree::logFiles() const
{
    return QDir(logDir()).entryList({ QStringLiteral("*.log") }, QDir::Files, QDir::Name);
}

QString DeviceTree::logText() const
{
    QString text;
    for (const QString &name : logFiles()) {
        QFile file(logDir() + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}
