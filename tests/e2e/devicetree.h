#ifndef DEVICETREE_H
#define DEVICETREE_H

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away copy of the device's folders under a temporary directory: the
// service binary copied into home/corvane/TessalyUpdater/bin (its download
// folder and the pre-placed package path are derived from there), a web root
// served by a real nginx on 127.0.0.1, and the peer tool.
class DeviceTree
{
public:
    DeviceTree();
    ~DeviceTree();

    bool isValid() const { return m_valid; }
    QString root() const { return m_dir.path(); }
    QString binDir() const;
    QString upgradeDir() const;
    QString webRoot() const;
    QString logDir() const { return binDir() + QStringLiteral("/logs"); }

    // Starts nginx on the web root; returns its base URL, empty on failure.
    QString startWebServer(bool tls);
    void stopWebServer();

    // Starts the service in its bin folder. With a wrapper (a program and its
    // leading arguments) the service is started through it, e.g. inside a
    // private mount namespace.
    bool startService(const QStringList &wrapper = {});
    // Services started from now on, and the commands they run, see the
    // calendar clock moved by a faketime offset such as "-2d". False when
    // faketime is not there.
    bool setClockOffset(const QString &offset);
    void stopService();
    qint64 servicePid() const;

    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Result runPeer(const QStringList &arguments, int timeoutMs = 120000);

    // A .tar.gz in the web root whose deploy.sh writes the working directory
    // it ran in to DEPLOYED_AT in that directory, packed with a plain
    // "tar -czf" (entries dated now) or with tools/tessaly-pack.
    enum class Packer { PlainTar, TessalyPack };
    QString makeTarGzPackage(const QString &name, int payloadBytes,
                             Packer packer = Packer::PlainTar);
    // A gzip-compressed file with the given content.
    bool makeGzFile(const QString &path, const QByteArray &content);

    QStringList logFiles() const;
    QString logText() const;

private:
    bool run(const QString &program, const QStringList &arguments, QString *out = nullptr);

    QTemporaryDir m_dir;
    QProcess m_service;
    QString m_preload;
    QString m_clockOffset;
    bool m_webServerRunning = false;
    bool m_valid = false;
};

#endif // DEVICETREE_H
