#include <QtNetwork>
#include <QtTest>

#include <sys/socket.h>

#include "support/testsupport.h"
#include "update/asyncdownloader.h"

using TestSupport::u;

static const QByteArray body = QByteArray("0123456789abcdefghij-").repeated(10000); // odd period
static const QByteArray half = body.left(body.size() / 2);
static const QByteArray old(body.size() + 1, 'o'); // shows a file that is not truncated
static const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 210000\r\n\r\n";
// Any other path gets half the body, then a reset (/reset), a close (/short) or nothing.
static const QMap<QByteArray, QByteArray> answers = {
    { "/whole", ok + body },
    { "/missing", "HTTP/1.1 404 Not Found\r\nContent-Length: 16\r\n\r\nno such package\n" },
    { "/redirect", "HTTP/1.1 302 Found\r\nLocation: /whole\r\nContent-Length: 6\r\n\r\nmoved\n" },
};

class TestAsyncDownloader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<QString>("call"); // name, URLs (earlier: key old; last: new)
        QTest::addColumn<QString>("outcomes"); // key and error text, those downloaded first
        QTest::addColumn<QByteArray>("file"); // null: none; old: present, not forced
        QTest::addColumn<int>("connections");

        QTest::newRow("whole") << "pkg %1/whole"
                               << "new" << body << 1;
        QTest::newRow("404") << "pkg %1/missing"
                             << "new Error transferring %1/missing - server replied: Not Found"
                             << QByteArray("no such package\n") << 1;
        QTest::newRow("reset") << "pkg %1/reset"
                               << "new Connection closed" << half << 1;
        QTest::newRow("short") << "pkg %1/short"
                               << "new Connection closed" << half << 1;
        QTest::newRow("redirect") << "pkg %1/redirect"
                                  << "new" << QByteArray("moved\n") << 1;
        QTest::newRow("bad URL") << "pkg http://[::1/pkg"
                                 << "" << QByteArray() << 0;
        QTest::newRow("unopenable") << "no/pkg %1/whole"
                                    << "" << QByteArray() << 0;
        QTest::newRow("present") << "pkg %1/whole"
                                 << "new" << old << 0;
        QTest::newRow("superseded")
                << "pkg %1/stall %1/whole"
                << "new; old Download superseded by a newer request for the same file" << body << 2;
    }

    void outcomes()
    {
        QFETCH(QString, call);
        QFETCH(QString, outcomes);
        QFETCH(QByteArray, file);
        QFETCH(int, connections);

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [socket] {
                const QByteArray path = socket->readAll().split(' ').value(1);
                socket->write(answers.value(path, ok + half));
                const linger reset = { path == "/reset", 0 }; // then a close sends a reset
                setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                           sizeof reset);
                if (path == "/reset" || path == "/short")
                    socket->disconnectFromHost(); // once all is written
            });
        });
        const QString base = u("http://127.0.0.1:%1").arg(server.serverPort());
        QStringList urls = call.replace(u("%1"), base).split(QLatin1Char(' '));
        const QString name = urls.takeFirst();
        QTemporaryDir appDir;
        AsyncDownloader downloader(appDir.path(), u("upgrade"));
        const QString localPath = downloader.folder() + QLatin1Char('/') + name;
        QVERIFY(file.isNull() || TestSupport::writeFile(localPath, old));
        QSignalSpy downloaded(&downloader, &AsyncDownloader::downloaded);
        QSignalSpy failed(&downloader, &AsyncDownloader::failed);
        if (urls.size() > 1) {
            downloader.downloadFile(QUrl(urls.first()), name, u("old"), true);
            QTRY_COMPARE(server.findChildren<QTcpSocket *>().size(), 1);
        }
        downloader.downloadFile(QUrl(urls.last()), name, u("new"), file != old);
        const int expected = outcomes.split(QLatin1Char(';'), Qt::SkipEmptyParts).size();
        if (connections == 0) // then all is decided at once
            QCOMPARE(downloaded.count() + failed.count(), expected);
        QTRY_COMPARE_WITH_TIMEOUT(downloaded.count() + failed.count(), expected, 10000);
        QTest::qWait(300); // the one settle wait, for an extra outcome to show

        QStringList got; // key and error text of each; a wrong path stays in
        for (const QVariant outcome : downloaded + failed)
            got << outcome.toStringList().join(QLatin1Char(' ')).remove(localPath).trimmed();
        QCOMPARE(got.join(u("; ")), outcomes.replace(u("%1"), base));
        QCOMPARE(TestSupport::readFile(localPath), file);
        QCOMPARE(server.findChildren<QTcpSocket *>().size(), connections);
    }
};

TESSALY_TEST_MAIN(TestAsyncDownloader)
#include "tst_asyncdownloader.moc"
