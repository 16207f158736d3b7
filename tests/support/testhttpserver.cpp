#include "testhttpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/socket.h>

namespace {

// Body bytes are handed to the socket in pieces of this size, and only while
// less than kWriteHighWater is still waiting to leave, so a body of any size
// passes through a little memory and the client's pace is respected.
constexpr qint64 kWriteChunk = 64 * 1024;
constexpr qint64 kWriteHighWater = 256 * 1024;

// How long the client gets to read what reached it before a reset throws
// away whatever its kernel still holds.
constexpr int kResetDelayMs = 200;

struct TlsIdentity
{
    QSslCertificate certificate;
    QSslKey key;
    QString error;
};

TlsIdentity makeTlsIdentity()
{
    TlsIdentity identity;
    if (!QSslSocket::supportsSsl()) {
        identity.error = QStringLiteral("this Qt has no TLS support");
        return identity;
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        identity.error = QStringLiteral("cannot create a folder for the certificate: %1")
                                 .arg(dir.errorString());
        return identity;
    }
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = dir.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   keyPath, QStringLiteral("-out"), certificatePath, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        identity.error = QStringLiteral("openssl could not make a certificate: %1 %2")
                                 .arg(openssl.errorString(),
                                      QString::fromLocal8Bit(openssl.readAll()));
        return identity;
    }
    QFile keyFile(keyPath);
    QFile certificateFile(certificatePath);
    if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly)) {
        identity.error = QStringLiteral("cannot read what openssl made");
        return identity;
    }
    identity.key = QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
    identity.certificate = QSslCertificate(certificateFile.readAll(), QSsl::Pem);
    if (identity.key.isNull() || identity.certificate.isNull())
        identity.error = QStringLiteral("Qt cannot load the certificate or key made by openssl");
    return identity;
}

// One certificate serves every TLS server of the process: making a key takes
// long enough to matter when many tests start servers.
const TlsIdentity &tlsIdentity()
{
    static const TlsIdentity identity = makeTlsIdentity();
    return identity;
}

QByteArray reasonFor(int code)
{
    switch (code) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

// Serves the requests of one client connection one after the other.
class TestHttpConnection : public QObject
{
public:
    TestHttpConnection(QTcpSocket *socket, TestHttpServer *server);
    ~TestHttpConnection() override;

private:
    enum class State { ReadingRequest, Sending, Closing, Resetting, Hanging };

    void readIncoming();
    bool takeRequest();
    void startResponse(const TestHttpServer::Response &response);
    void pump();
    bool allWritten() const;
    void resetSoon();

    TestHttpServer *m_server;
    QTcpSocket *m_socket;
    State m_state = State::ReadingRequest;
    QByteArray m_inbox;
    TestHttpServer::Response m_response;
    qint64 m_sent = 0;
    qint64 m_limit = 0;
    bool m_paused = false;
    bool m_resetScheduled = false;
};

TestHttpConnection::TestHttpConnection(QTcpSocket *socket, TestHttpServer *server)
    : QObject(server), m_server(server), m_socket(socket)
{
    socket->setParent(this);
    connect(socket, &QIODevice::readyRead, this, &TestHttpConnection::readIncoming);
    connect(socket, &QIODevice::bytesWritten, this, &TestHttpConnection::pump);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket))
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &TestHttpConnection::pump);
    connect(socket, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
}

TestHttpConnection::~TestHttpConnection()
{
    m_socket->disconnect(this);
}

void TestHttpConnection::readIncoming()
{
    m_inbox += m_socket->readAll();
    while (m_state == State::ReadingRequest && takeRequest()) {
    }
}

// Takes one complete request off the inbox and starts answering it; false
// while the request is not all there yet.
bool TestHttpConnection::takeRequest()
{
    const int headEnd = m_inbox.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;

    TestHttpServer::Request request;
    request.rawHead = m_inbox.left(headEnd + 4);
    const QList<QByteArray> lines = m_inbox.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.version = requestLine.value(2);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
    }

    const qint64 bodyLength = qMax<qint64>(0, request.header("Content-Length").toLongLong());
    if (m_inbox.size() < headEnd + 4 + bodyLength)
        return false;
    m_inbox.remove(0, int(headEnd + 4 + bodyLength));

    m_server->record(request);
    startResponse(m_server->responseFor(request.target));
    return true;
}

void TestHttpConnection::startResponse(const TestHttpServer::Response &response)
{
    using Behaviour = TestHttpServer::Behaviour;
    m_response = response;
    m_sent = 0;
    m_limit = response.bytesToSend();

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.statusCode) + ' ' + response.reason
            + "\r\n";
    for (const auto &header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    if (response.behaviour == Behaviour::NoContentLength)
        head += "Connection: close\r\n";
    else
        head += "Content-Length: " + QByteArray::number(response.bodySize()) + "\r\n";
    head += "\r\n";

    m_state = State::Sending;
    m_socket->write(head);
    pump();
}

bool TestHttpConnection::allWritten() const
{
    if (m_socket->bytesToWrite() > 0)
        return false;
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        return ssl->encryptedBytesToWrite() == 0;
    return true;
}

void TestHttpConnection::pump()
{
    using Behaviour = TestHttpServer::Behaviour;
    if (m_state == State::Resetting) {
        if (allWritten())
            resetSoon();
        return;
    }
    if (m_state != State::Sending)
        return;

    while (m_sent < m_limit && !m_paused && m_socket->bytesToWrite() < kWriteHighWater) {
        const qint64 length = qMin(kWriteChunk, m_limit - m_sent);
        m_socket->write(m_response.bodyPart(m_sent, length));
        m_sent += length;
        if (m_response.pieceDelayMs > 0 && m_sent < m_limit) {
            m_paused = true;
            QTimer::singleShot(m_response.pieceDelayMs, this, [this] {
                m_paused = false;
                pump();
            });
        }
    }
    if (m_sent < m_limit)
        return;

    switch (m_response.behaviour) {
    case Behaviour::Normal:
        m_state = State::ReadingRequest;
        // A client may have sent its next request already.
        QTimer::singleShot(0, this, &TestHttpConnection::readIncoming);
        break;
    case Behaviour::NoContentLength:
    case Behaviour::CloseBeforeLength:
        m_state = State::Closing;
        m_socket->disconnectFromHost();
        break;
    case Behaviour::ResetMidBody:
        m_state = State::Resetting;
        if (allWritten())
            resetSoon();
        break;
    case Behaviour::Hang:
        m_state = State::Hanging;
        break;
    }
}

void TestHttpConnection::resetSoon()
{
    if (m_resetScheduled)
        return;
    m_resetScheduled = true;
    QTimer::singleShot(kResetDelayMs, this, [this] {
        // A zero linger time makes close() send RST instead of FIN.
        const linger noLinger{1, 0};
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                     sizeof noLinger);
        m_socket->abort();
    });
}

qint64 TestHttpServer::Response::bodySize() const
{
    return generatedSize >= 0 ? generatedSize : body.size();
}

QByteArray TestHttpServer::Response::bodyPart(qint64 offset, qint64 length) const
{
    if (generatedSize >= 0)
        return patternBytes(offset, qBound<qint64>(0, length, generatedSize - offset));
    return body.mid(int(offset), int(length));
}

QByteArray TestHttpServer::Response::wholeBody() const
{
    return bodyPart(0, bodySize());
}

qint64 TestHttpServer::Response::bytesToSend() const
{
    switch (behaviour) {
    case Behaviour::Normal:
    case Behaviour::NoContentLength:
        return bodySize();
    case Behaviour::ResetMidBody:
    case Behaviour::CloseBeforeLength:
    case Behaviour::Hang:
        break;
    }
    return faultOffset >= 0 ? qMin(faultOffset, bodySize()) : bodySize() / 2;
}

TestHttpServer::Response TestHttpServer::Response::withBody(const QByteArray &body,
                                                            Behaviour behaviour)
{
    Response response;
    response.body = body;
    response.behaviour = behaviour;
    return response;
}

TestHttpServer::Response TestHttpServer::Response::generated(qint64 size, Behaviour behaviour)
{
    Response response;
    response.generatedSize = size;
    response.behaviour = behaviour;
    return response;
}

TestHttpServer::Response TestHttpServer::Response::status(int code, const QByteArray &reason,
                                                          const QByteArray &body)
{
    Response response;
    response.statusCode = code;
    response.reason = reason;
    response.body = body;
    return response;
}

TestHttpServer::Response TestHttpServer::Response::redirect(int code, const QUrl &location,
                                                            const QByteArray &body)
{
    Response response = status(code, reasonFor(code), body);
    response.headers.append(qMakePair(QByteArray("Location"), location.toEncoded()));
    return response;
}

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

QList<QByteArray> TestHttpServer::Request::headerNames() const
{
    QList<QByteArray> names;
    for (const auto &header : headers)
        names.append(header.first);
    return names;
}

TestHttpServer::TestHttpServer(Transport transport, QObject *parent)
    : QTcpServer(parent), m_transport(transport)
{
}

TestHttpServer::~TestHttpServer()
{
    close();
}

bool TestHttpServer::start()
{
    if (m_transport == Transport::Tls) {
        const TlsIdentity &identity = tlsIdentity();
        if (!identity.error.isEmpty()) {
            m_errorText = identity.error;
            return false;
        }
        m_certificate = identity.certificate;
        m_key = identity.key;
    }
    if (!listen(QHostAddress::LocalHost, 0)) {
        m_errorText = errorString();
        return false;
    }
    return true;
}

QUrl TestHttpServer::url(const QByteArray &path) const
{
    const QString scheme = m_transport == Transport::Tls ? QStringLiteral("https")
                                                         : QStringLiteral("http");
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(scheme)
                        .arg(serverPort())
                        .arg(QString::fromLatin1(path)));
}

void TestHttpServer::setRoute(const QByteArray &path, const Response &response)
{
    m_routes.insert(path, response);
}

int TestHttpServer::requestCount(const QByteArray &target) const
{
    int count = 0;
    for (const Request &request : m_requests) {
        if (request.target == target)
            ++count;
    }
    return count;
}

QByteArray TestHttpServer::patternBytes(qint64 offset, qint64 length)
{
    QByteArray bytes(int(qMax<qint64>(0, length)), Qt::Uninitialized);
    char *out = bytes.data();
    for (qint64 i = 0; i < length; ++i) {
        // A mixing step of splitmix64 over the position.
        quint64 z = quint64(offset + i) * 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        out[i] = char(z >> 56);
    }
    return bytes;
}

void TestHttpServer::incomingConnection(qintptr socketDescriptor)
{
    if (m_transport == Transport::Tls) {
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(socketDescriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        new TestHttpConnection(socket, this);
        socket->startServerEncryption();
        return;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    new TestHttpConnection(socket, this);
}

TestHttpServer::Response TestHttpServer::responseFor(const QByteArray &target) const
{
    const auto route = m_routes.constFind(target);
    if (route != m_routes.constEnd())
        return route.value();
    return Response::status(404, reasonFor(404), "no such path\n");
}

void TestHttpServer::record(const Request &request)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request.method, request.target);
}
