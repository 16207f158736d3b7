#include "updatetestrig.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "support/logcapture.h"
#include "update/updateadapteroptions.h"

#include <sys/stat.h>

MainAppPeer::MainAppPeer(const QString &mainAppMailbox, const QString &serviceMailbox)
    : m_ipc(serviceMailbox, mainAppMailbox)
{
    connect(&m_poll, &QTimer::timeout, this, &MainAppPeer::collect);
    m_poll.start(0);
}

void MainAppPeer::send(const QString &request)
{
    m_ipc.IPCWrite(request);
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
    options.downloadSubPath = QStringLiteral("../../../upgrade");
    options.preplacedPackagePath = QStringLiteral("./../../upgrade/Tessaly.gz");
    options.pollIntervalMs = 20;

    QDir root(m_root.path());
    m_valid = m_root.isValid() && root.mkpath(QStringLiteral("svc/bin"))
            && root.mkpath(QStringLiteral("upgrade")) && root.mkpath(QStringLiteral("Tessaly/bin"));
    m_previousCwd = QDir::currentPath();
    if (m_valid)
        m_valid = QDir::setCurrent(serviceDir());
}

UpdateTestRig::~UpdateTestRig()
{
    QDir::setCurrent(m_previousCwd);
}

QString UpdateTestRig::serviceDir() const
{
    return m_root.filePath(QStringLiteral("svc/bin"));
}

QString UpdateTestRig::upgradeDir() const
{
    return m_root.filePath(QStringLiteral("upgrade"));
}

QString UpdateTestRig::binDir() const
{
    return m_root.filePath(QStringLiteral("Tessaly/bin/"));
}

namespace TestFiles {

bool write(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

int mode(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

bool run(const QString &program, const QStringList &arguments, const QString &standardOutputFile)
{
    QProcess process;
    if (!standardOutputFile.isEmpty())
        process.setStandardOutputFile(standardOutputFile);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning() << "test tool failed:" << program << arguments
                   << process.readAllStandardError();
        return false;
    }
    return true;
}

bool makeTarGz(const QString &sourceDir, const QString &archive)
{
    return run(QStringLiteral("tar"),
               { QStringLiteral("-czf"), archive, QStringLiteral("-C"), sourceDir,
                 QStringLiteral(".") });
}

bool makeGz(const QString &sourceFile, const QString &archive)
{
    return run(QStringLiteral("gzip"), { QStringLiteral("-c"), QStringLiteral("-n"), sourceFile },
               archive);
}

} // namespace TestFiles

QString jsonString(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

namespace {

QString statusJson(int action, int command, const QString &message, const QString &version)
{
    return QStringLiteral("{\"action\":%1,\"command\":%2,\"message\":%3,\"version\":%4}")
            .arg(QString::number(action), QString::number(command), jsonString(message),
                 jsonString(version));
}

} // namespace

QString installedJson(int action, const QString &version)
{
    return statusJson(action, 3,
                      QStringLiteral("New version \"") + version
                              + QStringLiteral("\" is ready, please reboot to install."),
                      version);
}

QString installFailedJson(int action, const QString &version, const QString &error)
{
    return statusJson(action, 2,
                      QStringLiteral("New version \"") + version
                              + QStringLiteral("\" failed to download or extract, with error ")
                              + error,
                      version);
}

QString downloadFailedJson(int action, const QString &version, const QString &error)
{
    return statusJson(action, 2,
                      QStringLiteral("Version \"") + version
                              + QStringLiteral("\" download failed, with error \"") + error
                              + QStringLiteral("\" please retry again."),
                      version);
}

QString downloadStartedJson()
{
    return QStringLiteral("{\"command\":1,\"message\":\"Downloading new version, please wait\"}");
}

QStringList controllerLog(const LogCapture &log)
{
    QStringList lines;
    const QList<LogCapture::Entry> entries = log.entries();
    for (const LogCapture::Entry &entry : entries) {
        const QString &text = entry.second;
        if (text.startsWith(QLatin1String("\"IPC "))
            || text.startsWith(QLatin1String("AsyncDownloader::on"))
            || text.startsWith(QLatin1String("test tool failed:")))
            continue;
        QString level;
        switch (entry.first) {
        case QtDebugMsg: level = QStringLiteral("D"); break;
        case QtInfoMsg: level = QStringLiteral("I"); break;
        case QtWarningMsg: level = QStringLiteral("W"); break;
        case QtCriticalMsg: level = QStringLiteral("C"); break;
        case QtFatalMsg: level = QStringLiteral("F"); break;
        }
        lines.append(level + QLatin1Char('|') + text);
    }
    return lines;
}

QStringList forbiddenLines(const LogCapture &log)
{
    QStringList lines;
    const QStringList messages = log.messages();
    for (const QString &text : messages) {
        if (text.contains(QLatin1String("killing app old version"))
            || text.contains(QLatin1String("rebooting device"))
            || text.contains(QLatin1String("Kill legacy version"))
            || text.contains(QLatin1String("starting Tessaly")))
            lines.append(text);
    }
    return lines;
}
