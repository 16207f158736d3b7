#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "support/logcapture.h"
#include "support/testhttpserver.h"
#include "support/testmain.h"
#include "update/asyncdownloader.h"

namespace {

using Behaviour = TestHttpServer::Behaviour;
using Response = TestHttpServer::Response;
using Transport = TestHttpServer::Transport;

const QByteArray expectedUserAgent =
        "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/62.0.3202.94 Safari/537.36";

const QString supersededText =
        QStringLiteral("Download superseded by a newer request for the same file");

constexpr int transferTimeoutMs = 20000;
// Long enough for a second outcome to arrive if there were one.
constexpr int settleMs = 200;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// How QDebug prints a QUrl and a QString.
QString debugUrl(const QUrl &url)
{
    return QStringLiteral("QUrl(\"%1\")").arg(url.toString());
}

QString debugString(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QList<QPair<qint64, qint64>> progressPairs(const QSignalSpy &spy)
{
    QList<QPair<qint64, qint64>> pairs;
    for (const QList<QVariant> &arguments : spy)
        pairs.append(qMakePair(arguments.at(0).toLongLong(), arguments.at(1).toLongLong()));
    return pairs;
}

// Finds each network reply of the process when the first event reaches it,
// before it has emitted anything, and records what the reply itself reports.
// The downloader keeps its replies to itself; this is how a test sees them.
class ReplyWatcher : public QObject
{
public:
    struct Record
    {
        QUrl url;
        QList<QPair<qint64, qint64>> downloadProgress;
        int readyReads = 0;
    };

    ReplyWatcher() { QCoreApplication::instance()->installEventFilter(this); }
    ~ReplyWatcher() override { QCoreApplication::instance()->removeEventFilter(this); }

    QList<Record> records() const { return m_records; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Q_UNUSED(event)
        auto *reply = qobject_cast<QNetworkReply *>(watched);
        if (!reply || m_seen.contains(reply))
            return false;
        m_seen.append(reply);
        const int index = m_records.size();
        m_records.append(Record{reply->url(), {}, 0});
        connect(reply, &QNetworkReply::downloadProgress, this,
                [this, index](qint64 received, qint64 total) {
                    m_records[index].downloadProgress.append(qMakePair(received, total));
                });
        connect(reply, &QNetworkReply::readyRead, this,
                [this, index] { ++m_records[index].readyReads; });
        return false;
    }

private:
    QList<QPointer<QNetworkReply>> m_seen;
    QList<Record> m_records;
};

} // namespace

class TestAsyncDownloader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void downloadsWholeFile_data();
    void downloadsWholeFile();
    void reportsFailureOnce_data();
    void reportsFailureOnce();
    void doesNotFollowRedirects_data();
    void doesNotFollowRedirects();
    void rejectsInvalidUrl_data();
    void rejectsInvalidUrl();
    void abandonsUnopenableTarget_data();
    void abandonsUnopenableTarget();
    void presentFile_data();
    void presentFile();
    void relaysReplyProgress_data();
    void relaysReplyProgress();
    void relaysProgressSlots_data();
    void relaysProgressSlots();
    void runsDownloadsToDifferentNamesAtOnce();
    void newerRequestForSameFileSupersedesOlder();
    void folderFollowsSubPath_data();
    void folderFollowsSubPath();
    void errorSlotWithoutSenderDoesNothing();
    void destructionWhileTransferringIsSilent_data();
    void destructionWhileTransferringIsSilent();
};

void TestAsyncDownloader::downloadsWholeFile_data()
{
    QTest::addColumn<Transport>("transport");
    QTest::newRow("http") << Transport::Plain;
    QTest::newRow("https, self-signed certificate") << Transport::Tls;
}

void TestAsyncDownloader::downloadsWholeFile()
{
    QFETCH(Transport, transport);
    // Large enough to arrive in many pieces, odd so no piece size divides it.
    const qint64 size = 3 * 1024 * 1024 + 4099;

    TestHttpServer server(transport);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/pkg/Tessaly1.0.300.tar.gz", Response::generated(size));
    const QUrl url = server.url("/pkg/Tessaly1.0.300.tar.gz");

    QTemporaryDir appDir;
    LogCapture log;
    ReplyWatcher watcher;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    const QString localPath = appDir.path() + QStringLiteral("/data/upgrade/Tessaly1.0.300.tar.gz");

    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);
    qint64 sizeWhenSignalled = -1;
    connect(&downloader, &AsyncDownloader::downloaded, this,
            [&](const QString &path) { sizeWhenSignalled = QFileInfo(path).size(); });

    downloader.downloadFile(url, QStringLiteral("Tessaly1.0.300.tar.gz"),
                            QStringLiteral("build_release"), true);

    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(downloaded.at(0), (QList<QVariant>{localPath, QStringLiteral("build_release")}));
    // Whoever hears the signal finds the whole file on disk already.
    QCOMPARE(sizeWhenSignalled, size);
    QVERIFY(fileBytes(localPath) == TestHttpServer::patternBytes(0, size));

    QCOMPARE(watcher.records().size(), 1);
    QVERIFY2(watcher.records().at(0).readyReads > 1, "the body came in one piece; use a larger one");

    QCOMPARE(server.requests().size(), 1);
    const TestHttpServer::Request request = server.requests().at(0);
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/pkg/Tessaly1.0.300.tar.gz"));
    QCOMPARE(request.version, QByteArray("HTTP/1.1"));
    QCOMPARE(request.header("User-Agent"), expectedUserAgent);
    QCOMPARE(request.header("Host"), "127.0.0.1:" + QByteArray::number(server.serverPort()));
    // What Qt sends on its own, and nothing more: no range, no credentials,
    // no cookies, no caching hints.
    QList<QByteArray> names = request.headerNames();
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (QList<QByteArray>{"Accept-Encoding", "Accept-Language", "Connection", "Host",
                                       "User-Agent"}));

    QCOMPARE(log.messages(QtInfoMsg),
             (QStringList{QStringLiteral("downloading file: ") + debugUrl(url),
                          QStringLiteral("downloading path: ") + debugString(localPath)}));
    const QString downloadedLine = QStringLiteral("downloaded file: ")
            + debugString(QStringLiteral("build_release")) + QStringLiteral(" , local path: ")
            + debugString(localPath);
    QCOMPARE(log.messages(QtDebugMsg).count(downloadedLine), 1);
    QCOMPARE(log.messages(QtWarningMsg), QStringList());
    QCOMPARE(log.messages(QtCriticalMsg), QStringList());
}

void TestAsyncDownloader::reportsFailureOnce_data()
{
    QTest::addColumn<Transport>("transport");
    QTest::addColumn<Response>("response");
    QTest::addColumn<QString>("errorEnum");
    // %1 is the URL.
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QByteArray>("partialFile");

    const QByteArray notFoundPage = "no such package\n";
    const QByteArray brokenPage = "the server broke\n";
    const qint64 size = 256 * 1024;
    const QByteArray firstHalf = TestHttpServer::patternBytes(0, size / 2);

    for (Transport transport : {Transport::Plain, Transport::Tls}) {
        const char *scheme = transport == Transport::Plain ? "http" : "https";
        QTest::addRow("%s 404", scheme)
                << transport << Response::status(404, "Not Found", notFoundPage)
                << "QNetworkReply::ContentNotFoundError"
                << "Error transferring %1 - server replied: Not Found" << notFoundPage;
        QTest::addRow("%s 500", scheme)
                << transport << Response::status(500, "Internal Server Error", brokenPage)
                << "QNetworkReply::InternalServerError"
                << "Error transferring %1 - server replied: Internal Server Error" << brokenPage;
        QTest::addRow("%s reset in the middle of the body", scheme)
                << transport << Response::generated(size, Behaviour::ResetMidBody)
                << "QNetworkReply::RemoteHostClosedError"
                << "Connection closed" << firstHalf;
        QTest::addRow("%s closed before Content-Length", scheme)
                << transport << Response::generated(size, Behaviour::CloseBeforeLength)
                << "QNetworkReply::RemoteHostClosedError"
                << "Connection closed" << firstHalf;
    }
}

void TestAsyncDownloader::reportsFailureOnce()
{
    QFETCH(Transport, transport);
    QFETCH(Response, response);
    QFETCH(QString, errorEnum);
    QFETCH(QString, errorText);
    QFETCH(QByteArray, partialFile);

    TestHttpServer server(transport);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/Tessaly1.0.300.gz", response);
    const QUrl url = server.url("/Tessaly1.0.300.gz");

    QTemporaryDir appDir;
    LogCapture log;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    const QString localPath = downloader.folder() + QStringLiteral("/Tessaly1.0.300.gz");
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    downloader.downloadFile(url, QStringLiteral("Tessaly1.0.300.gz"),
                            QStringLiteral("build_release"), true);

    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(downloaded.count(), 0);
    QCOMPARE(failed.at(0),
             (QList<QVariant>{localPath, QStringLiteral("build_release"),
                              errorText.arg(url.toString())}));
    QCOMPARE(fileBytes(localPath), partialFile);
    QCOMPARE(server.requestCount("/Tessaly1.0.300.gz"), 1);

    QCOMPARE(log.messages(QtCriticalMsg),
             QStringList{QStringLiteral("error in downloading file requested with id: ") + errorEnum});
}

void TestAsyncDownloader::doesNotFollowRedirects_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("302 Found") << 302;
    QTest::newRow("301 Moved Permanently") << 301;
}

void TestAsyncDownloader::doesNotFollowRedirects()
{
    QFETCH(int, status);
    const QByteArray redirectPage = "the package moved\n";

    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/elsewhere.tar.gz", Response::withBody("the real package"));
    server.setRoute("/pkg.tar.gz",
                    Response::redirect(status, server.url("/elsewhere.tar.gz"), redirectPage));

    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    downloader.downloadFile(server.url("/pkg.tar.gz"), QStringLiteral("pkg.tar.gz"),
                            QStringLiteral("build_release"), true);

    // The redirect answer itself ends the transfer without an error, and its
    // page is what gets stored.
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(fileBytes(downloader.folder() + QStringLiteral("/pkg.tar.gz")), redirectPage);
    QCOMPARE(server.requestCount("/elsewhere.tar.gz"), 0);
    QCOMPARE(server.requests().size(), 1);
}

void TestAsyncDownloader::rejectsInvalidUrl_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("empty") << QUrl();
    QTest::newRow("unclosed IPv6 bracket") << QUrl(QStringLiteral("http://[::1/pkg.tar.gz"));
    QTest::newRow("port out of range") << QUrl(QStringLiteral("http://127.0.0.1:99999/pkg.tar.gz"));
}

void TestAsyncDownloader::rejectsInvalidUrl()
{
    QFETCH(QUrl, url);
    QVERIFY(!url.isValid());

    QTemporaryDir appDir;
    LogCapture log;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);
    QSignalSpy progress(&downloader, &AsyncDownloader::downloadProgress);

    downloader.downloadFile(url, QStringLiteral("pkg.tar.gz"), QStringLiteral("build_release"),
                            true);
    QTest::qWait(settleMs);

    QCOMPARE(downloaded.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(progress.count(), 0);
    // An invalid QUrl prints as an empty one.
    QCOMPARE(log.messages(), QStringList{QStringLiteral("invalid URL detected, QUrl(\"\")")});
    QCOMPARE(log.entries().at(0).first, QtWarningMsg);
    QVERIFY(!QFileInfo::exists(downloader.folder() + QStringLiteral("/pkg.tar.gz")));
}

void TestAsyncDownloader::abandonsUnopenableTarget_data()
{
    // Tests run as root, whom permission bits do not stop: these targets
    // cannot be opened for writing by anyone.
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("directoryToMake");
    QTest::addColumn<QString>("regularFileToMake");
    QTest::newRow("a directory in the target's place")
            << "pkg.tar.gz" << "pkg.tar.gz" << QString();
    QTest::newRow("parent is a regular file") << "blocker/pkg.tar.gz" << QString() << "blocker";
}

void TestAsyncDownloader::abandonsUnopenableTarget()
{
    QFETCH(QString, fileName);
    QFETCH(QString, directoryToMake);
    QFETCH(QString, regularFileToMake);

    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/pkg.tar.gz", Response::withBody("package"));

    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    const QString folder = downloader.folder();
    if (!directoryToMake.isEmpty())
        QVERIFY(QDir(folder).mkpath(directoryToMake));
    const QByteArray blockerBytes = "not a folder";
    if (!regularFileToMake.isEmpty())
        QVERIFY(writeFile(folder + QLatin1Char('/') + regularFileToMake, blockerBytes));

    LogCapture log;
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);
    const QString localPath = folder + QLatin1Char('/') + fileName;

    downloader.downloadFile(server.url("/pkg.tar.gz"), fileName, QStringLiteral("build_release"),
                            true);
    QTest::qWait(settleMs);

    QCOMPARE(downloaded.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(server.requests().size(), 0);
    QCOMPARE(log.messages(),
             (QStringList{QStringLiteral("downloading file: ") + debugUrl(server.url("/pkg.tar.gz")),
                          QStringLiteral("downloading path: ") + debugString(localPath)}));
    // What stood in the way is untouched.
    if (!directoryToMake.isEmpty())
        QVERIFY(QFileInfo(folder + QLatin1Char('/') + directoryToMake).isDir());
    if (!regularFileToMake.isEmpty())
        QCOMPARE(fileBytes(folder + QLatin1Char('/') + regularFileToMake), blockerBytes);
}

void TestAsyncDownloader::presentFile_data()
{
    QTest::addColumn<bool>("forceDownload");
    QTest::newRow("kept") << false;
    QTest::newRow("forced") << true;
}

void TestAsyncDownloader::presentFile()
{
    QFETCH(bool, forceDownload);
    // Longer than the new body, so a file that is not truncated shows it.
    const QByteArray oldBytes(4096, 'o');
    const QByteArray newBytes = TestHttpServer::patternBytes(0, 1000);

    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/Tessaly1.0.300.gz", Response::withBody(newBytes));

    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    const QString localPath = downloader.folder() + QStringLiteral("/Tessaly1.0.300.gz");
    QVERIFY(writeFile(localPath, oldBytes));

    LogCapture log;
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    downloader.downloadFile(server.url("/Tessaly1.0.300.gz"), QStringLiteral("Tessaly1.0.300.gz"),
                            QStringLiteral("build_release"), forceDownload);

    if (!forceDownload) {
        // Reported from within the call, without a transfer or a word.
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(downloaded.at(0), (QList<QVariant>{localPath, QStringLiteral("build_release")}));
        QCOMPARE(log.messages(), QStringList());
        QTest::qWait(settleMs);
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(server.requests().size(), 0);
        QCOMPARE(fileBytes(localPath), oldBytes);
        return;
    }

    QCOMPARE(downloaded.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(downloaded.at(0), (QList<QVariant>{localPath, QStringLiteral("build_release")}));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(fileBytes(localPath), newBytes);
}

void TestAsyncDownloader::relaysReplyProgress_data()
{
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<qint64>("totalWhileRunning");
    const qint64 size = 320 * 1024;
    QTest::newRow("Content-Length") << Behaviour::Normal << size;
    QTest::newRow("no Content-Length") << Behaviour::NoContentLength << qint64(-1);
}

void TestAsyncDownloader::relaysReplyProgress()
{
    QFETCH(Behaviour, behaviour);
    QFETCH(qint64, totalWhileRunning);
    const qint64 size = 320 * 1024;

    // Qt reports progress at most every 100 ms, so the body is paced to
    // last long enough for reports to come while it runs.
    Response response = Response::generated(size, behaviour);
    response.pieceDelayMs = 150;
    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/pkg.tar.gz", response);

    QTemporaryDir appDir;
    LogCapture log;
    ReplyWatcher watcher;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy progress(&downloader, &AsyncDownloader::downloadProgress);
    QSignalSpy uploadProgress(&downloader, &AsyncDownloader::uploadProgress);

    downloader.downloadFile(server.url("/pkg.tar.gz"), QStringLiteral("pkg.tar.gz"),
                            QStringLiteral("build_release"), true);
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, transferTimeoutMs);

    const QList<QPair<qint64, qint64>> relayed = progressPairs(progress);
    QCOMPARE(watcher.records().size(), 1);
    QCOMPARE(relayed, watcher.records().at(0).downloadProgress);

    QVERIFY2(relayed.size() >= 2, "no report came while the body was running");
    QCOMPARE(relayed.last(), qMakePair(size, size));
    for (int i = 0; i + 1 < relayed.size(); ++i) {
        QCOMPARE(relayed.at(i).second, totalWhileRunning);
        QVERIFY(relayed.at(i).first <= relayed.at(i + 1).first);
    }
    // A GET sends no body, so there is nothing to report upwards.
    QCOMPARE(uploadProgress.count(), 0);

    QStringList expectedLines;
    for (const auto &pair : relayed)
        expectedLines.append(QStringLiteral("AsyncDownloader::onDownloadProgress: %1 , from: %2")
                                     .arg(pair.first)
                                     .arg(pair.second));
    QStringList progressLines;
    for (const QString &line : log.messages(QtDebugMsg)) {
        if (line.startsWith(QLatin1String("AsyncDownloader::on")))
            progressLines.append(line);
    }
    QCOMPARE(progressLines, expectedLines);
}

void TestAsyncDownloader::relaysProgressSlots_data()
{
    QTest::addColumn<QByteArray>("slotName");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("total");
    QTest::newRow("upload, total unknown") << QByteArray("onUploadProgress") << qint64(5) << qint64(-1);
    QTest::newRow("upload, total known") << QByteArray("onUploadProgress") << qint64(0) << qint64(0);
    QTest::newRow("download, beyond 4 GiB")
            << QByteArray("onDownloadProgress") << qint64(5000000000) << qint64(6000000000);
    QTest::newRow("download, total unknown")
            << QByteArray("onDownloadProgress") << qint64(7) << qint64(-1);
}

// Uploads never happen with a GET, so the upload relay is only reachable
// through the meta-object.
void TestAsyncDownloader::relaysProgressSlots()
{
    QFETCH(QByteArray, slotName);
    QFETCH(qint64, count);
    QFETCH(qint64, total);

    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QSignalSpy upload(&downloader, &AsyncDownloader::uploadProgress);
    QSignalSpy download(&downloader, &AsyncDownloader::downloadProgress);
    const bool isUpload = slotName == "onUploadProgress";

    LogCapture log;
    QVERIFY(QMetaObject::invokeMethod(&downloader, slotName.constData(), Q_ARG(qint64, count),
                                      Q_ARG(qint64, total)));

    QSignalSpy &relayed = isUpload ? upload : download;
    QCOMPARE((isUpload ? download : upload).count(), 0);
    QCOMPARE(relayed.count(), 1);
    QCOMPARE(relayed.at(0), (QList<QVariant>{count, total}));
    QCOMPARE(log.messages(QtDebugMsg),
             QStringList{QStringLiteral("AsyncDownloader::%1: %2 , from: %3")
                                 .arg(QString::fromLatin1(slotName))
                                 .arg(count)
                                 .arg(total)});
}

void TestAsyncDownloader::runsDownloadsToDifferentNamesAtOnce()
{
    const QByteArray secondBody = TestHttpServer::patternBytes(777, 1024 * 1024);
    const qint64 firstSize = 2 * 1024 * 1024 + 1;

    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/a.tar.gz", Response::generated(firstSize));
    server.setRoute("/b.gz", Response::withBody(secondBody));

    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    downloader.downloadFile(server.url("/a.tar.gz"), QStringLiteral("a.tar.gz"),
                            QStringLiteral("key-a"), true);
    downloader.downloadFile(server.url("/b.gz"), QStringLiteral("b.gz"), QStringLiteral("key-b"),
                            true);

    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 2, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(downloaded.count(), 2);
    QCOMPARE(failed.count(), 0);

    QMap<QString, QString> pathByKey;
    for (const QList<QVariant> &arguments : downloaded)
        pathByKey.insert(arguments.at(1).toString(), arguments.at(0).toString());
    const QString pathA = downloader.folder() + QStringLiteral("/a.tar.gz");
    const QString pathB = downloader.folder() + QStringLiteral("/b.gz");
    QCOMPARE(pathByKey, (QMap<QString, QString>{{QStringLiteral("key-a"), pathA},
                                                  {QStringLiteral("key-b"), pathB}}));
    QVERIFY(fileBytes(pathA) == TestHttpServer::patternBytes(0, firstSize));
    QVERIFY(fileBytes(pathB) == secondBody);
    QCOMPARE(server.requestCount("/a.tar.gz"), 1);
    QCOMPARE(server.requestCount("/b.gz"), 1);
}

void TestAsyncDownloader::newerRequestForSameFileSupersedesOlder()
{
    const QByteArray secondBody = QByteArray("the newer package\n").repeated(1000);

    TestHttpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    // The older transfer delivers half of its body and then stalls, so it is
    // still writing into the file when the newer request comes.
    server.setRoute("/old.gz", Response::generated(1024 * 1024, Behaviour::Hang));
    server.setRoute("/new.gz", Response::withBody(secondBody));

    QTemporaryDir appDir;
    LogCapture log;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    const QString localPath = downloader.folder() + QStringLiteral("/Tessaly.gz");
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    downloader.downloadFile(server.url("/old.gz"), QStringLiteral("Tessaly.gz"),
                            QStringLiteral("older"), true);
    // More than the newer body, so bytes left over from the older one would show.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(localPath).size() >= 256 * 1024, transferTimeoutMs);
    QCOMPARE(failed.count(), 0);

    downloader.downloadFile(server.url("/new.gz"), QStringLiteral("Tessaly.gz"),
                            QStringLiteral("newer"), true);
    // The older one hears at once.
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0), (QList<QVariant>{localPath, QStringLiteral("older"), supersededText}));

    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, transferTimeoutMs);
    QTest::qWait(settleMs);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(downloaded.at(0), (QList<QVariant>{localPath, QStringLiteral("newer")}));
    QCOMPARE(fileBytes(localPath), secondBody);
    QCOMPARE(server.requestCount("/old.gz"), 1);
    QCOMPARE(server.requestCount("/new.gz"), 1);
    // Both calls were logged, and the newer one was not mistaken for a failure.
    QCOMPARE(log.messages(QtInfoMsg).size(), 4);
    QCOMPARE(log.messages(QtCriticalMsg).size(), 1);
}

void TestAsyncDownloader::folderFollowsSubPath_data()
{
    QTest::addColumn<QString>("subPath");
    // Relative to the application folder.
    QTest::addColumn<QString>("folderText");
    QTest::addColumn<QString>("createdFolder");
    QTest::newRow("up and sideways") << "../up" << "/data/../up" << "/up";
    QTest::newRow("as the service has it")
            << "../../../upgrade" << "/data/../../../upgrade" << "/../../upgrade";
    QTest::newRow("nested, parents missing") << "a/b/c" << "/data/a/b/c" << "/data/a/b/c";
    QTest::newRow("no separator is inserted") << "x" << "/data/x" << "/data/x";
    QTest::newRow("empty") << "" << "/data/" << "/data";
}

void TestAsyncDownloader::folderFollowsSubPath()
{
    QFETCH(QString, subPath);
    QFETCH(QString, folderText);
    QFETCH(QString, createdFolder);

    // Deep enough that "../../.." stays inside the temporary folder.
    QTemporaryDir base;
    const QString appDir = base.path() + QStringLiteral("/home/corvane/bin");
    QVERIFY(QDir().mkpath(appDir));

    AsyncDownloader downloader(appDir, subPath);
    QCOMPARE(downloader.folder(), appDir + folderText);
    QVERIFY(QFileInfo(QDir::cleanPath(appDir + createdFolder)).isDir());

    // The folder is made again when it has gone away in between.
    QVERIFY(QDir(QDir::cleanPath(appDir + createdFolder)).removeRecursively());
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    // An invalid URL stops the call right after the folder is made.
    QTest::ignoreMessage(QtWarningMsg, "invalid URL detected, QUrl(\"\")");
    downloader.downloadFile(QUrl(), QStringLiteral("pkg.gz"), QStringLiteral("build_release"),
                            false);
    QVERIFY(QFileInfo(QDir::cleanPath(appDir + createdFolder)).isDir());

    // A file present there is reported under the folder's own text + "/" + name.
    QVERIFY(writeFile(downloader.folder() + QStringLiteral("/pkg.gz"), "old"));
    downloader.downloadFile(QUrl(QStringLiteral("http://127.0.0.1:9/unused.gz")),
                            QStringLiteral("pkg.gz"), QStringLiteral("build_release"), false);
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(downloaded.at(0).at(0).toString(), appDir + folderText + QStringLiteral("/pkg.gz"));
}

void TestAsyncDownloader::errorSlotWithoutSenderDoesNothing()
{
    QTemporaryDir appDir;
    AsyncDownloader downloader(appDir.path(), QStringLiteral("upgrade"));
    QVERIFY(QMetaType::type("QNetworkReply::NetworkError") != 0);

    LogCapture log;
    QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
    QSignalSpy failed(&downloader, &AsyncDownloader::failed);

    QVERIFY(QMetaObject::invokeMethod(&downloader, "error",
                                      Q_ARG(QNetworkReply::NetworkError,
                                            QNetworkReply::ContentNotFoundError)));
    // A queued call has to copy the argument, which only a registered type allows.
    QVERIFY(QMetaObject::invokeMethod(&downloader, "error", Qt::QueuedConnection,
                                      Q_ARG(QNetworkReply::NetworkError,
                                            QNetworkReply::RemoteHostClosedError)));
    QVERIFY(QMetaObject::invokeMethod(&downloader, "fileDownloaded"));
    QVERIFY(QMetaObject::invokeMethod(&downloader, "onReadyRead"));
    QTest::qWait(settleMs);

    QCOMPARE(downloaded.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(log.messages(), QStringList());
}

void TestAsyncDownloader::destructionWhileTransferringIsSilent_data()
{
    QTest::addColumn<Transport>("transport");
    QTest::addColumn<bool>("waitForBody");
    QTest::newRow("http, before the answer") << Transport::Plain << false;
    QTest::newRow("http, while the body arrives") << Transport::Plain << true;
    QTest::newRow("https, while the body arrives") << Transport::Tls << true;
}

void TestAsyncDownloader::destructionWhileTransferringIsSilent()
{
    QFETCH(Transport, transport);
    QFETCH(bool, waitForBody);

    TestHttpServer server(transport);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    server.setRoute("/pkg.tar.gz", Response::generated(1024 * 1024, Behaviour::Hang));

    QTemporaryDir appDir;
    auto downloader = std::make_unique<AsyncDownloader>(appDir.path(), QStringLiteral("upgrade"));
    const QString localPath = downloader->folder() + QStringLiteral("/pkg.tar.gz");
    QSignalSpy downloaded(downloader.get(), &AsyncDownloader::downloaded);
    QSignalSpy failed(downloader.get(), &AsyncDownloader::failed);

    downloader->downloadFile(server.url("/pkg.tar.gz"), QStringLiteral("pkg.tar.gz"),
                             QStringLiteral("build_release"), true);
    if (waitForBody)
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(localPath).size() >= 256 * 1024, transferTimeoutMs);

    LogCapture log;
    downloader.reset();
    QTest::qWait(settleMs);

    QCOMPARE(downloaded.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(log.messages(QtCriticalMsg), QStringList());
    // What had arrived stays on disk.
    const QByteArray partial = fileBytes(localPath);
    QVERIFY(partial == TestHttpServer::patternBytes(0, partial.size()));
    if (waitForBody)
        QVERIFY(partial.size() >= 256 * 1024 && partial.size() <= 512 * 1024);
    else
        QCOMPARE(partial.size(), 0);
}

TESSALY_TEST_MAIN(TestAsyncDownloader)

#include "tst_asyncdownloader.moc"
