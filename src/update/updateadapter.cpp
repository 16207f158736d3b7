#include "updateadapter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QUrl>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"
#include "packagepaths.h"
#include "shellcommand.h"
#include "updatemessages.h"

namespace {

const QString packageKey = QStringLiteral("build_release");
const QString installedName = QStringLiteral("Tessaly");
const QString legacyName = QStringLiteral("Tessaly_legacy");

QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

UpdateAdapter::UpdateAdapter(QObject *parent)
    : UpdateAdapter(UpdateAdapterOptions::defaults(), parent)
{
}

UpdateAdapter::UpdateAdapter(const UpdateAdapterOptions &options, QObject *parent)
    : QObject(parent)
    , ipc(options.readMailbox, options.writeMailbox)
    , ipcWatchDogTimer()
    , updateAction(INVALID)
    , downloader(options.downloadApplicationDir, options.downloadSubPath)
    , preplacedPackagePath(options.preplacedPackagePath)
    , commandTimeoutMs(options.commandTimeoutMs)
{
    appBinPath = options.appBinPath;
    qDebug() << QStringLiteral("UpdateAdapter::UpdateAdapter %1, with path %2")
                        .arg(UpdaterConfig::applicationVersion(), appBinPath);

    ipcWatchDogTimer.setInterval(options.pollIntervalMs);

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
        ipc.IPCWrite(downloadStartedMessage());
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
    qInfo() << QStringLiteral("file Downloaded Failed, filePath=%1, fileUniqueKey=%2, errorString=%3")
                       .arg(filePath, fileUniqueKey, errorString);
    ipc.IPCWrite(downloadFailedMessage(updateAction, updateVersion, errorString));
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
    if (!QFile::exists(preplacedPackagePath))
        return;
    qInfo() << "new version already available, start installation";
    extractAndInstall(preplacedPackagePath);
}

void UpdateAdapter::runCommand(const QString &program, const QStringList &arguments,
                               QString &output, QString &error) const
{
    excuteShellCommand(program, arguments, output, error, commandTimeoutMs);
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

    ipc.IPCWrite(installed ? installedMessage(updateAction, updateVersion)
                           : installFailedMessage(updateAction, updateVersion, error_str));
}

bool UpdateAdapter::decompress_tar_gz_file(const QString &file_path, QString &error_str)
{
    qInfo() << "decompress tar file:" << file_path;
    const QString folder = getFileName(file_path, true);
    QDir().mkdir(folder);

    QString output;
    QString error;
    runCommand(QStringLiteral("tar"),
               { QStringLiteral("-xzf"), file_path, QStringLiteral("-C"), folder }, output, error);
    qInfo() << "tar -xzf file:" << output;
    qInfo() << "tar -xzf file error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }

    runCommand(QStringLiteral("chmod"), { QStringLiteral("-R"), QStringLiteral("755"), folder },
               output, error);
    qInfo() << "chmod decompresed folder:" << output;
    qCritical() << "chmod decompresed folder error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }
    return true;
}

bool UpdateAdapter::deployNewVersion(const QString &file_path, QString &error_str)
{
    if (file_path.isEmpty() || !QFile::exists(file_path)) {
        error_str = QStringLiteral("File path is empty or file does not exist") + file_path;
        return false;
    }

    const QString script = getFileName(file_path, true) + QStringLiteral("/deploy.sh");
    qInfo() << "deploy new version using:" << script;

    QString output;
    QString error;
    runCommand(QStringLiteral("sh"), { script }, output, error);
    qInfo() << "deploy output:" << output;
    qCritical() << "deploy error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }
    return true;
}

bool UpdateAdapter::decompress_gz_file(const QString &fileName_extesnion, QString &error_str)
{
    qInfo() << "unzip file:" << fileName_extesnion;

    QString output;
    QString error;
    runCommand(QStringLiteral("gzip"),
               { QStringLiteral("-d"), QStringLiteral("-f"), fileName_extesnion }, output, error);
    qInfo() << "unzip file:" << output;
    qInfo() << "unzip file error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }

    runCommand(QStringLiteral("chmod"),
               { QStringLiteral("755"), getFileName(fileName_extesnion, true) }, output, error);
    qInfo() << "chmod file:" << output;
    qCritical() << "chmod file error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }
    return true;
}

bool UpdateAdapter::renameLegacyApp(QString &error_str)
{
    qInfo() << "renaming old version Tessaly to Tessaly_legacy";

    QString output;
    QString error;
    runCommand(QStringLiteral("mv"), { appBinPath + installedName, appBinPath + legacyName },
               output, error);
    qInfo() << "renaming:" << output;
    qCritical() << "renaming error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }
    return true;
}

bool UpdateAdapter::installNewVersion(QString fileName, QString &error_str)
{
    qInfo() << "copy new version to:" << appBinPath;

    fileName = getFileName(fileName, true);
    const QString base = baseName(fileName);

    QString output;
    QString error;
    runCommand(QStringLiteral("mv"), { QStringLiteral("-f"), fileName, appBinPath + base },
               output, error);
    qInfo() << "copying output:" << output;
    qCritical() << "copying error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }

    qInfo() << QStringLiteral("renaming new version %1 to Tessaly").arg(base);
    runCommand(QStringLiteral("mv"), { appBinPath + base, appBinPath + installedName }, output,
               error);
    qInfo() << "renaming:" << output;
    qInfo() << "renaming error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }

    runCommand(QStringLiteral("chmod"), { QStringLiteral("777"), appBinPath + installedName },
               output, error);
    qInfo() << "new version chmod result:" << output;
    qCritical() << "new version chmod result error:" << error;
    if (!error.isEmpty()) {
        error_str = error;
        return false;
    }
    return true;
}

void UpdateAdapter::killAppOldVersion()
{
    qInfo() << "killing app old version";

    QString output;
    QString error;
    runCommand(QStringLiteral("systemctl"), { QStringLiteral("stop"), installedName }, output,
               error);
    qInfo() << "Kill legacy version:" << output;
    qCritical() << "Kill legacy version error:" << error;

    runCommand(QStringLiteral("killall"), { installedName }, output, error);
    qInfo() << "killing Tessaly:" << output;
    qCritical() << "killing Tessaly error:" << error;
}

void UpdateAdapter::rebootToInstall()
{
    qInfo() << "installing new version Tessaly, rebooting device";

    QString output;
    QString error;
    runCommand(QStringLiteral("reboot"), {}, output, error);
    qInfo() << "starting Tessaly:" << output;
    qCritical() << "starting Tessaly error:" << error;
}
