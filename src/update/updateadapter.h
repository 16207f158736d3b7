#ifndef UPDATEADAPTER_H
#define UPDATEADAPTER_H

#include <QObject>
#include <QString>
#include <QTimer>

#include "asyncdownloader.h"
#include "ipc/tessalyipc.h"

// The update service's controller. Once a second it takes a request of the
// main application out of the mailbox, starts a download or installs a
// package already on the device, relays the download's progress and reports
// every outcome back through the mailboxes.
//
// The order of the slots is part of the contract: they are reached through
// the meta-object by index as well as by name.
class UpdateAdapter : public QObject
{
    Q_OBJECT

public:
    explicit UpdateAdapter(QObject *parent = nullptr);
    ~UpdateAdapter() override;

public Q_SLOTS:
    void onIPCWatchDogTimeout();
    void fileDownloaded(QString filePath, QString fileUniqueKey);
    void extractAndInstall(QString filePath);
    bool renameLegacyApp(QString &error_str);
    bool decompress_gz_file(const QString &fileName_extesnion, QString &error_str);
    bool installNewVersion(QString fileName, QString &error_str);
    bool decompress_tar_gz_file(const QString &file_path, QString &error_str);
    bool deployNewVersion(const QString &file_path, QString &error_str);
    void fileDownloadedFailed(QString filePath, QString fileUniqueKey, QString errorString);
    void killAppOldVersion();
    void rebootToInstall();
    void checkForNewVersionAndInstall();
    void uploadProgress(qint64 bytesSent, qint64 bytesTotal);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);

private:
    enum class ErrorLevel { Info, Critical };

    // Writes a status message, with the log on disk first.
    void report(const QString &message);

    // Runs one installation command, logs its output at info level and its
    // error text at errorLevel under the given labels, and on failure puts the
    // error text into error_str.
    bool runStep(const QString &program, const QStringList &arguments, const char *outputLabel,
                 const char *errorLabel, ErrorLevel errorLevel, QString &error_str) const;

    TessalyIPC ipc;
    QTimer ipcWatchDogTimer;
    int updateAction;
    QString appBinPath;
    QString updateVersion;
    AsyncDownloader downloader;
};

#endif // UPDATEADAPTER_H
