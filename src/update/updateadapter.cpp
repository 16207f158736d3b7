#include "updateadapter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QVector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"
#include "logging/logger.h"
#include "packagepaths.h"
#include "shellcommand.h"
#include "updatemessages.h"

namespace {

const QString packageKey = QStringLiteral("build_release");
const QString installedName = QStringLiteral("Tessaly");
const QString legacyName = QStringLiteral("Tessaly_legacy");

QString baseName(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

// Syncs each file system that holds one of the folders, once. None of the
// fixed commands syncs what it writes, and ext4 keeps a renamed or unpacked
// file's data in memory for up to half a minute: without this, a power cut
// right after "please reboot" could leave the new executable empty.
void syncFileSystemsOf(const QStringList &folders)
{
    QVector<dev_t> synced;
    for (const QString &folder : folders) {
        const int fd =
                ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0 && !synced.contains(info.st_dev)) {
            ::syncfs(fd);
            synced << info.st_dev;
        }
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace

UpdateAdapter::UpdateAdapter(QObject *parent)
    : QObject(parent)
    , ipc(UpdaterConfig::mainAppMailbox(), UpdaterConfig::serviceMailbox())
    , ipcWatchDogTimer()
    , updateAction(INVALID)
    , downloader(UpdaterConfig::downloadSubPath())
{
    appBinPath = UpdaterConfig::appBinPath();
    qDebug() << QStringLiteral("UpdateAdapter::UpdateAdapter %1, with path %2")
                        .arg(UpdaterConfig::applicationVersion(), appBinPath);

    ipcWatchDogTimer.setInterval(UpdaterConfig::pollIntervalMs);

    connect(&ipcWatchDogTimer, &QTimer::timeout, this, &UpdateAdapter::onIPCWatchDogTimeout);
    connect(&downloader, &AsyncDownloader::downloaded, this, &UpdateAdapter::fileDownloaded);
    connect(&downloader, &AsyncDownloader::uploadProgress, this, &UpdateAdapter::uploadProgress);
    connect(&downloader, &AsyncDownloader::downloadProgress, this,
            &UpdateAdapter::downloadProgress);
    connect(&downloader, &AsyncDownloader::failed, this, &UpdateAdapter::fileDownloadedFailed);

    ipcWatchDogTimer.start();
}

UpdateAdapter::~UpdateAdapter()
{
    qDebug() << QStringLiteral("UpdateAdapter::~UpdateAdapter %1, with path %2")
                        .arg(UpdaterConfig::applicationVersion(), appBinPath);
}

void UpdateAdapter::onIPCWatchDogTimeout()
{
    const QString msg = ipc.IPCRead(false);
    if (msg.isEmpty())
        return;

    const UpdateRequest request = decodeUpdateRequest(msg);
    if (request.form == UpdateRequest::Form::NotJson)
        qCritical() << "can not form json object, wrong input:" << msg;
    else if (request.form == UpdateRequest::Form::NotObject)
        qCritical() << "Document is not an object";

    // The newest request always wins, also when it does not parse.
    updateAction = request.action;
    updateVersion = request.version;
    qInfo() << "IPC action received:" << UPDATE_ACTION_TO_STR.value(UpdateActions(updateAction));

    switch (updateAction) {
    case INSTALL_NOW:
        checkForNewVersionAndInstall();
        return;
    case DOWNLOAD_ONLY:
    case DOWNLOAD_FORCE_INSTALL: {
        const QUrl url(request.buildRelease, QUrl::TolerantMode);
        const QString fileName =
                installedName + request.version + getFileExtension(request.buildRelease);
        downloader.downloadFile(url, fileName, packageKey, true);
        report(downloadStartedMessage());
        return;
    }
    default:
        return;
    }
}

void UpdateAdapter::uploadProgress(qint64 bytesSent, qint64 bytesTotal)
{
    ipc.IPCWritePercentage(progressMessage(UPLOAD_PERCENTAGE, bytesSent, bytesTotal));
}

void UpdateAdapter::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    ipc.IPCWritePercentage(progressMessage(DOWNLOAD_PERCENTAGE, bytesReceived, bytesTotal));
}

void UpdateAdapter::fileDownloadedFailed(QString filePath, QString fileUniqueKey,
                                         QString errorString)
{
    qInfo() << QStringLiteral(
                       "file Downloaded Failed, filePath=%1, fileUniqueKey=%2, errorString=%3")
                       .arg(filePath, fileUniqueKey, errorString);
    report(downloadFailedMessage(updateAction, updateVersion, errorString));
}

void UpdateAdapter::fileDownloaded(QString filePath, QString fileUniqueKey)
{
    // Judged against the newest request: one that arrived while the download
    // ran and asked for nothing cancels the installation.
    if (fileUniqueKey != packageKey)
        return;
    if (updateAction == DOWNLOAD_ONLY || updateAction == INSTALL_NOW
        || updateAction == DOWNLOAD_FORCE_INSTALL)
        extractAndInstall(filePath);
}

void UpdateAdapter::checkForNewVersionAndInstall()
{
    const QString package = UpdaterConfig::preplacedPackagePath();
    if (!QFile::exists(package))
        return;
    qInfo() << "new version already available, start installation";
    extractAndInstall(package);
}

// After a power cut the log holds every line written before the last report.
void UpdateAdapter::report(const QString &message)
{
    Logger::getInstance(UpdaterConfig::applicationName()).syncToDisk();
    ipc.IPCWrite(message);
}

bool UpdateAdapter::runStep(const QString &program, const QStringList &arguments,
                            const char *outputLabel, const char *errorLabel, ErrorLevel errorLevel,
                            QString &error_str) const
{
    QString output;
    QString error;
    excuteShellCommand(program, arguments, output, error, UpdaterConfig::commandTimeoutMs);
    qInfo() << outputLabel << output;
    if (errorLevel == ErrorLevel::Info)
        qInfo() << errorLabel << error;
    else
        qCritical() << errorLabel << error;

    // Anything on standard error fails the step, whatever the exit code.
    if (error.isEmpty())
        return true;
    error_str = error;
    return false;
}

void UpdateAdapter::extractAndInstall(QString filePath)
{
    qInfo() << "UpdateAdapter::extractAndInstall:" << filePath;
    QString error_str;
    bool installed = true;

    const QString ext = getFileExtension(filePath);
    if (ext == QLatin1String(".tar.gz")) {
        installed = decompress_tar_gz_file(filePath, error_str)
                && deployNewVersion(filePath, error_str);
        if (installed)
            QFile::remove(filePath);
    } else if (ext == QLatin1String(".gz")) {
        installed = decompress_gz_file(filePath, error_str);
        if (installed) {
            // Keeping the old executable is a courtesy; the install goes on
            // without it.
            renameLegacyApp(error_str);
            installed = installNewVersion(filePath, error_str);
        }
    }
    // Any other extension, or none, has no installation step and is reported
    // installed all the same: fixed by the contract with the main application
    // (docs/operator.md, "What a package looks like").

    // What the steps changed, in the upgrade folder, the installation folder
    // and (through deploy.sh) the working folder, is on disk before it is
    // reported.
    syncFileSystemsOf({ QFileInfo(filePath).absolutePath(), appBinPath, QDir::currentPath() });
    report(installed ? installedMessage(updateAction, updateVersion)
                     : installFailedMessage(updateAction, updateVersion, error_str));
}

bool UpdateAdapter::decompress_tar_gz_file(const QString &file_path, QString &error_str)
{
    qInfo() << "decompress tar file:" << file_path;
    const QString folder = getFileName(file_path, true);
    QDir().mkdir(folder);

    return runStep(QStringLiteral("tar"),
                   { QStringLiteral("-xzf"), file_path, QStringLiteral("-C"), folder },
                   "tar -xzf file:", "tar -xzf file error:", ErrorLevel::Info, error_str)
            && runStep(QStringLiteral("chmod"),
                       { QStringLiteral("-R"), QStringLiteral("755"), folder },
                       "chmod decompresed folder:", "chmod decompresed folder error:",
                       ErrorLevel::Critical, error_str);
}

bool UpdateAdapter::deployNewVersion(const QString &file_path, QString &error_str)
{
    if (file_path.isEmpty() || !QFile::exists(file_path)) {
        error_str = QStringLiteral("File path is empty or file does not exist") + file_path;
        return false;
    }

    const QString script = getFileName(file_path, true) + QStringLiteral("/deploy.sh");
    qInfo() << "deploy new version using:" << script;
    return runStep(QStringLiteral("sh"), { script },
                   "deploy output:", "deploy error:", ErrorLevel::Critical, error_str);
}

bool UpdateAdapter::decompress_gz_file(const QString &fileName_extesnion, QString &error_str)
{
    qInfo() << "unzip file:" << fileName_extesnion;
    return runStep(QStringLiteral("gzip"),
                   { QStringLiteral("-d"), QStringLiteral("-f"), fileName_extesnion },
                   "unzip file:", "unzip file error:", ErrorLevel::Info, error_str)
            && runStep(QStringLiteral("chmod"),
                       { QStringLiteral("755"), getFileName(fileName_extesnion, true) },
                       "chmod file:", "chmod file error:", ErrorLevel::Critical, error_str);
}

bool UpdateAdapter::renameLegacyApp(QString &error_str)
{
    qInfo() << "renaming old version Tessaly to Tessaly_legacy";
    return runStep(QStringLiteral("mv"), { appBinPath + installedName, appBinPath + legacyName },
                   "renaming:", "renaming error:", ErrorLevel::Critical, error_str);
}

bool UpdateAdapter::installNewVersion(QString fileName, QString &error_str)
{
    qInfo() << "copy new version to:" << appBinPath;

    fileName = getFileName(fileName, true);
    const QString base = baseName(fileName);

    if (!runStep(QStringLiteral("mv"), { QStringLiteral("-f"), fileName, appBinPath + base },
                 "copying output:", "copying error:", ErrorLevel::Critical, error_str))
        return false;

    qInfo() << QStringLiteral("renaming new version %1 to Tessaly").arg(base);
    return runStep(QStringLiteral("mv"), { appBinPath + base, appBinPath + installedName },
                   "renaming:", "renaming error:", ErrorLevel::Info, error_str)
            && runStep(QStringLiteral("chmod"),
                       { QStringLiteral("777"), appBinPath + installedName },
                       "new version chmod result:", "new version chmod result error:",
                       ErrorLevel::Critical, error_str);
}

void UpdateAdapter::killAppOldVersion()
{
    qInfo() << "killing app old version";
    QString ignored;
    runStep(QStringLiteral("systemctl"), { QStringLiteral("stop"), installedName },
            "Kill legacy version:", "Kill legacy version error:", ErrorLevel::Critical, ignored);
    runStep(QStringLiteral("killall"), { installedName },
            "killing Tessaly:", "killing Tessaly error:", ErrorLevel::Critical, ignored);
}

void UpdateAdapter::rebootToInstall()
{
    qInfo() << "installing new version Tessaly, rebooting device";
    QString ignored;
    runStep(QStringLiteral("reboot"), {},
            "starting Tessaly:", "starting Tessaly error:", ErrorLevel::Critical, ignored);
}
