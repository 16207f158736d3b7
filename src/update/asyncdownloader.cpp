#include "asyncdownloader.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>

#include <sys/stat.h>

#include "common/vovodo_global.h"

namespace {

// Fixed by the contract with the device, whatever the server (docs/operator.md,
// "Behaviours fixed by design").
const char fixedUserAgent[] =
        "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/62.0.3202.94 Safari/537.36";

// A plain stat() on the path's UTF-8 bytes, with no file-information cache in
// between: anything the system finds there, of whatever type, counts.
bool pathExists(const QString &path)
{
    struct stat info;
    return ::stat(path.toUtf8().constData(), &info) == 0;
}

// errorString() passed through Latin-1: only its ASCII characters survive
// unchanged, which keeps the text safe for the status message.
QString latin1ErrorText(const QNetworkReply *reply)
{
    return QString::fromLatin1(reply->errorString().toLatin1());
}

} // namespace

AsyncDownloader::AsyncDownloader(QString subPath, QObject *parent)
    : AsyncDownloader(QCoreApplication::applicationDirPath(), subPath, parent)
{
}

AsyncDownloader::AsyncDownloader(const QString &applicationDir, const QString &subPath,
                                 QObject *parent)
    : QObject(parent)
{
    // Lets the error slot be invoked through the meta-object as well.
    qRegisterMetaType<QNetworkReply::NetworkError>();
    userAgent = QByteArray(fixedUserAgent);
    downloadFolder = QStringLiteral("%1/data/").arg(applicationDir) + subPath;
    ensureFolder();
}

AsyncDownloader::~AsyncDownloader()
{
    // Replies still running go down with the manager; none of their last
    // signals may reach a half-destroyed downloader.
    for (QNetworkReply *reply : replyFiles.keys())
        reply->disconnect(this);
}

void AsyncDownloader::ensureFolder() const
{
    if (!QDir(downloadFolder).exists())
        QDir().mkpath(downloadFolder);
}

void AsyncDownloader::downloadFile(QUrl url, QString fileName, QString fileUniqueKey,
                                   bool forceDownload)
{
    ensureFolder();
    const QString localPath = downloadFolder + QLatin1Char('/') + fileName;

    if (pathExists(localPath) && !forceDownload) {
        Q_EMIT downloaded(localPath, fileUniqueKey);
        return;
    }

    if (!url.isValid()) {
        qWarning() << "invalid URL detected," << url;
        return;
    }

    qInfo() << "downloading file:" << url;
    qInfo() << "downloading path:" << localPath;

    // Two transfers must never write into one file: the newer request wins
    // and the older one ends now, reported as failed. The reports go out
    // only once this call is done with the file, so that a receiver asking
    // for the same file again cannot slip a third writer in between.
    const QStringList supersededKeys = stopTransfersTo(localPath);
    const auto reportSuperseded = qScopeGuard([&] {
        for (const QString &key : supersededKeys)
            Q_EMIT failed(
                    localPath, key,
                    QStringLiteral("Download superseded by a newer request for the same file"));
    });

    auto *file = new QFile(localPath, this);
    if (!file->open(QIODevice::WriteOnly)) {
        file->deleteLater();
        return;
    }

    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    // Any certificate and any protocol version: fixed by the contract with the
    // device (docs/operator.md, "TLS peers are not verified").
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    ssl.setProtocol(QSsl::AnyProtocol);
    request.setSslConfiguration(ssl);

    QNetworkReply *reply = manager.get(request);
    reply->setReadBufferSize(replyReadBufferSize);

    replyFiles.insert(reply, file);
    replyInfo.insert(reply, qMakePair(localPath, fileUniqueKey));

    connect(reply, &QNetworkReply::finished, this, &AsyncDownloader::fileDownloaded);
    connect(reply, &QNetworkReply::errorOccurred, this, &AsyncDownloader::error);
    connect(reply, &QNetworkReply::uploadProgress, this, &AsyncDownloader::onUploadProgress);
    connect(reply, &QNetworkReply::downloadProgress, this, &AsyncDownloader::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &AsyncDownloader::onReadyRead);
}

QStringList AsyncDownloader::stopTransfersTo(const QString &localPath)
{
    QStringList keys;
    const QList<QNetworkReply *> running = replyInfo.keys();
    for (QNetworkReply *reply : running) {
        if (replyInfo.value(reply).first != localPath)
            continue;
        keys.append(replyInfo.value(reply).second);
        reply->disconnect(this);
        closeFile(reply);
        release(reply);
        reply->abort();
        qCritical() << "error in downloading file requested:"
                    << "superseded by a newer download of the same file";
    }
    return keys;
}

void AsyncDownloader::closeFile(QNetworkReply *reply)
{
    QFile *file = replyFiles.value(reply);
    if (file && file->isOpen()) {
        file->close();
        file->deleteLater();
    }
}

void AsyncDownloader::release(QNetworkReply *reply)
{
    replyFiles.remove(reply);
    replyInfo.remove(reply);
    // Deferred: the reply may be in the middle of emitting the signal that
    // brought us here.
    reply->deleteLater();
}

void AsyncDownloader::fileDownloaded()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    // A reply whose failure the error slot has already reported is gone from
    // the maps; its finished() must not report it a second time.
    if (!reply || !replyInfo.contains(reply))
        return;

    closeFile(reply);
    const QPair<QString, QString> info = replyInfo.value(reply);

    if (reply->error() != QNetworkReply::NoError) {
        qCritical() << "error in downloading file requested:" << reply->errorString().toLatin1();
        const QString errorText = latin1ErrorText(reply);
        release(reply);
        Q_EMIT failed(info.first, info.second, errorText);
        return;
    }

    qDebug() << "downloaded file:" << info.second << ", local path:" << info.first;
    release(reply);
    Q_EMIT downloaded(info.first, info.second);
}

void AsyncDownloader::error(QNetworkReply::NetworkError network_error)
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || !replyInfo.contains(reply))
        return;

    closeFile(reply);
    qCritical() << "error in downloading file requested with id:" << network_error;

    const QPair<QString, QString> info = replyInfo.value(reply);
    const QString errorText = latin1ErrorText(reply);
    reply->disconnect(this);
    release(reply);
    Q_EMIT failed(info.first, info.second, errorText);
}

void AsyncDownloader::onUploadProgress(qint64 bytesSent, qint64 bytesTotal)
{
    qDebug() << "AsyncDownloader::onUploadProgress:" << bytesSent << ", from:" << bytesTotal;
    Q_EMIT uploadProgress(bytesSent, bytesTotal);
}

void AsyncDownloader::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    qDebug() << "AsyncDownloader::onDownloadProgress:" << bytesReceived << ", from:" << bytesTotal;
    Q_EMIT downloadProgress(bytesReceived, bytesTotal);
}

void AsyncDownloader::onReadyRead()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (QFile *file = replyFiles.value(reply))
        file->write(reply->readAll());
}
