#include "updatetestrig.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include "support/logcapture.h"

#include <sys/stat.h>

MainAppPeer::MainAppPeer(const QString &mainAppMailbox, const QString &serviceMailbox)
    : m_ipc(serviceMailbox, mainAppMailbox)
{
    connect(&m_poll, &QTimer::timeout, this, &MainAppPeer::collect);
    m_poll.start(0);
}

void MainAppPeer::collect()
{
    const QString status = m_ipc.IPCRead(true);
    if (!status.isEmpty())
        m_status.append(status);
    const QString progress = m_ipc.IPCReadPercentage(true);
    if (!progress.isEmpty())
        m_progress.append(progress);
}

UpdateTestRig::UpdateTestRig()
{
    static int serial = 0;
    ++serial;
    options = UpdateAdapterOptions::defaults();
    options.readMailbox = QStringLiteral("TstMain%1").arg(serial);
    options.writeMailbox = QStringLiteral("TstService%1").arg(serial);
    options.appBinPath = binDir();
    options.downloadApplicationDir = serviceDir();
    options.pollIntervalMs = 20;

    QDir root(m_root.path());
    m_valid = m_root.isValid() && root.mkpath(QStringLiteral("svc/bin"))
            && root.mkpath(QStringLiteral("upgrade")) && root.mkpath(QStringLiteral("Tessaly/bin"));
    m_previousCwd = QDir::currentPath();
    m_valid = m_valid && QDir::setCurrent(serviceDir());
}

UpdateTestRig::~UpdateTestRig()
{
    QDir::setCurrent(m_previousCwd);
}

namespace {

bool run(const QString &program, const QStringList &arguments,
         const QString &standardOutputFile = QString())
{
    QProcess process;
    if (!standardOutputFile.isEmpty())
        process.setStandardOutputFile(standardOutputFile);
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    qWarning() << "test tool failed:" << program << arguments << process.readAllStandardError();
    return false;
}

QString jsonString(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('"'), QLatin1String("\\\""))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString statusJson(int action, int command, const QString &message, const QString &version)
{
    return QStringLiteral("{\"action\":%1,\"command\":%2,\"message\":%3,\"version\":%4}")
            .arg(QString::number(action), QString::number(command), jsonString(message),
                 jsonString(version));
}

} // namespace

namespace TestFiles {

bool write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int mode(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

bool makeGz(const QString &sourceFile, const QString &archive)
{
    return run(QStringLiteral("gzip"), { QStringLiteral("-c"), QStringLiteral("-n"), sourceFile },
               archive);
}

bool makeDeployPackage(const QString &workDir, const QByteArray &script, const QString &archive,
                       int randomPayloadBytes)
{
    const QString source = workDir + QStringLiteral("/package-source");
    QByteArray payload = "payload 1.2.3\n";
    if (randomPayloadBytes > 0) {
        payload.resize(randomPayloadBytes);
        for (char &byte : payload)
            byte = char(QRandomGenerator::global()->bounded(256));
    }
    // "." goes into the archive too, so the folder's own mode travels.
    return QDir().mkpath(source)
            && QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner)
            && write(source + QStringLiteral("/deploy.sh"), script)
            && write(source + QStringLiteral("/payload.bin"), payload)
            && run(QStringLiteral("tar"), { QStringLiteral("-czf"), archive, QStringLiteral("-C"),
                                            source, QStringLiteral(".") });
}

} // namespace TestFiles

QString installedJson(int action, const QString &version)
{
    return statusJson(action, 3,
                      "New version \"" + version + "\" is ready, please reboot to install.",
                      version);
}

QString installFailedJson(int action, const QString &version, const QString &error)
{
    return statusJson(action, 2,
                      "New version \"" + version + "\" failed to download or extract, with error "
                              + error,
                      version);
}

QString downloadFailedJson(int action, const QString &version, const QString &error)
{
    return statusJson(action, 2,
                      "Version \"" + version + "\" download failed, with error \"" + error
                              + "\" please retry again.",
                      version);
}

QString downloadStartedJson()
{
    return QStringLiteral(R"({"command":1,"message":"Downloading new version, please wait"})");
}

QStringList controllerLog(const LogCapture &log)
{
    QStringList lines;
    const QList<LogCapture::Entry> entries = log.entries();
    for (const LogCapture::Entry &entry : entries) {
        const QString &text = entry.second;
        // QtMsgType runs debug, warning, critical, fatal, info.
        if (!text.startsWith(QLatin1String("\"IPC "))
            && !text.startsWith(QLatin1String("AsyncDownloader::on"))
            && !text.startsWith(QLatin1String("test tool failed:")))
            lines.append(QStringLiteral("DWCFI").at(entry.first) + QLatin1Char('|') + text);
    }
    return lines;
}

QStringList forbiddenLines(const LogCapture &log)
{
    // Each of the two logs this line before anything else it does.
    static const QRegularExpression first(
            QStringLiteral("^(killing app old version|installing new version Tessaly, rebooting)"));
    return log.messages().filter(first);
}

int actionLines(const LogCapture &log)
{
    static const QRegularExpression received(QStringLiteral("^IPC action received:"));
    return log.messages().filter(received).size();
}

bool sendAndWaitUntilRead(MainAppPeer &peer, const LogCapture &log, const QString &request)
{
    const int before = actionLines(log);
    peer.send(request);
    QElapsedTimer clock;
    clock.start();
    while (actionLines(log) == before && clock.elapsed() < 20000)
        QTest::qWait(5);
    // One more pass so the peer has read what the tick wrote.
    QTest::qWait(10);
    peer.collect();
    return actionLines(log) > before;
}
