#ifndef TESTHTTPSERVER_H
#define TESTHTTPSERVER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class TestHttpConnection;

// An HTTP/1.1 server on 127.0.0.1, plain or over TLS, for tests that need a
// real peer which can also misbehave on purpose: cut a body short, reset the
// connection, stop answering. Every request is recorded. Paths without a route
// are answered with 404.
class TestHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Transport { Plain, Tls };
    Q_ENUM(Transport)

    enum class Behaviour {
        // Content-Length and the whole body; the connection stays open.
        Normal,
        // No Content-Length: the body ends where the server closes.
        NoContentLength,
        // Content-Length, part of the body, then a TCP reset.
        ResetMidBody,
        // Content-Length, part of the body, then an orderly close.
        CloseBeforeLength,
        // Headers and part of the body, then silence with the connection open.
        Hang,
    };
    Q_ENUM(Behaviour)

    struct Response
    {
        int statusCode = 200;
        QByteArray reason = "OK";
        // Sent after the status line in this order; Content-Length is added
        // by the server unless the behaviour leaves it out.
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // At least 0: the body is patternBytes(0, generatedSize) instead of
        // `body`, made piece by piece while it is sent.
        qint64 generatedSize = -1;
        Behaviour behaviour = Behaviour::Normal;
        // Bytes of body sent before a fault (reset, close, hang); -1 is half.
        qint64 faultOffset = -1;
        // A pause after each piece of body, to stretch a transfer over time.
        int pieceDelayMs = 0;

        qint64 bodySize() const;
        QByteArray bodyPart(qint64 offset, qint64 length) const;
        QByteArray wholeBody() const;
        // Where the body stops for this behaviour.
        qint64 bytesToSend() const;

        static Response withBody(const QByteArray &body, Behaviour behaviour = Behaviour::Normal);
        static Response generated(qint64 size, Behaviour behaviour = Behaviour::Normal);
        static Response status(int code, const QByteArray &reason, const QByteArray &body);
        static Response redirect(int code, const QUrl &location, const QByteArray &body);
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;
        QByteArray version;
        // As received, in order.
        QList<QPair<QByteArray, QByteArray>> headers;
        // The request line and header lines exactly as received.
        QByteArray rawHead;

        // The first value of a header, the name compared case-insensitively;
        // a null array when the request has no such header.
        QByteArray header(const QByteArray &name) const;
        QList<QByteArray> headerNames() const;
    };

    explicit TestHttpServer(Transport transport = Transport::Plain, QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on a free port of 127.0.0.1. In TLS mode a self-signed
    // certificate for 127.0.0.1 is made first with the openssl command (once
    // per process). On false, errorText() says why.
    bool start();
    QString errorText() const { return m_errorText; }
    Transport transport() const { return m_transport; }

    QUrl url(const QByteArray &path) const;

    void setRoute(const QByteArray &path, const Response &response);

    QList<Request> requests() const { return m_requests; }
    int requestCount(const QByteArray &target) const;

    // Deterministic bytes that differ with their offset, so a body that is
    // stored out of order, doubled or shifted never compares equal.
    static QByteArray patternBytes(qint64 offset, qint64 length);

Q_SIGNALS:
    void requestReceived(const QByteArray &method, const QByteArray &target);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class TestHttpConnection;
    Response responseFor(const QByteArray &target) const;
    void record(const Request &request);

    Transport m_transport;
    QString m_errorText;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QMap<QByteArray, Response> m_routes;
    QList<Request> m_requests;
};

Q_DECLARE_METATYPE(TestHttpServer::Response)

#endif // TESTHTTPSERVER_H
