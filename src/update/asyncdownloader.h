#ifndef ASYNCDOWNLOADER_H
#define ASYNCDOWNLOADER_H

#include <QByteArray>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

class QFile;

// Fetches files over HTTP(S) into a download folder, streaming each one to
// disk as it arrives. downloadFile() never blocks; every transfer that
// reaches the network ends with exactly one downloaded() or failed().
class AsyncDownloader : public QObject
{
    Q_OBJECT

public:
    // The folder is "<application dir>/data/" followed directly by subPath.
    explicit AsyncDownloader(QString subPath, QObject *parent = nullptr);
    // The same rule with another application folder, for tests.
    AsyncDownloader(const QString &applicationDir, const QString &subPath,
                    QObject *parent = nullptr);
    ~AsyncDownloader() override;

    void downloadFile(QUrl url, QString fileName, QString fileUniqueKey, bool forceDownload);

    QString folder() const { return downloadFolder; }

    // Bytes a reply may buffer before the socket stops reading, so a package
    // of any size passes through a bounded amount of memory.
    static constexpr qint64 replyReadBufferSize = 1024 * 1024;

Q_SIGNALS:
    void failed(QString file_name, QString file_path, QString error_string);
    void downloaded(QString file_name, QString file_path);
    void uploadProgress(qint64 bytesSent, qint64 bytesTotal);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);

private Q_SLOTS:
    void fileDownloaded();
    void error(QNetworkReply::NetworkError network_error);
    void onUploadProgress(qint64 bytesSent, qint64 bytesTotal);
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();

private:
    void ensureFolder() const;
    // Ends every running transfer into localPath; returns their keys.
    QStringList stopTransfersTo(const QString &localPath);
    void closeFile(QNetworkReply *reply);
    void release(QNetworkReply *reply);

    QString downloadFolder;
    QNetworkAccessManager manager;
    QMap<QNetworkReply *, QFile *> replyFiles;
    QMap<QNetworkReply *, QPair<QString, QString>> replyInfo;
    QByteArray userAgent;
};

#endif // ASYNCDOWNLOADER_H
