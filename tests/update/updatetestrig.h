#ifndef UPDATETESTRIG_H
#define UPDATETESTRIG_H

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include "ipc/tessalyipc.h"
#include "update/updateadapteroptions.h"

class LogCapture;

// The main application's end of the mailboxes, with the names swapped. It
// reads both outgoing mailboxes on every pass of the event loop, so no
// message of the controller is overwritten before it is seen.
class MainAppPeer : public QObject
{
    Q_OBJECT

public:
    MainAppPeer(const QString &mainAppMailbox, const QString &serviceMailbox);

    void send(const QString &request) { m_ipc.IPCWrite(request); }
    void collect();

    QStringList statusMessages() const { return m_status; }
    QStringList progressMessages() const { return m_progress; }

private:
    TessalyIPC m_ipc;
    QTimer m_poll;
    QStringList m_status;
    QStringList m_progress;
};

// The folders of a device in miniature, inside one temporary folder:
//   svc/bin/          the service's folder and working directory
//   upgrade/          where packages land ("./../../upgrade" from svc/bin)
//   Tessaly/bin/      the main application's folder (appBinPath)
// The working directory is svc/bin for the rig's lifetime.
class UpdateTestRig
{
public:
    UpdateTestRig();
    ~UpdateTestRig();

    bool isValid() const { return m_valid; }
    QString root() const { return m_root.path(); }
    QString serviceDir() const { return m_root.filePath(QStringLiteral("svc/bin")); }
    QString upgradeDir() const { return m_root.filePath(QStringLiteral("upgrade")); }
    // With the trailing slash, like the installed value.
    QString binDir() const { return m_root.filePath(QStringLiteral("Tessaly/bin/")); }

    // Fresh mailbox names, a 20 ms poll and the real 3000 ms command time-out.
    UpdateAdapterOptions options;

private:
    Q_DISABLE_COPY(UpdateTestRig)
    QTemporaryDir m_root;
    QString m_previousCwd;
    bool m_valid = false;
};

namespace TestFiles {

// Readable and writable by the owner only, whatever the umask.
bool write(const QString &path, const QByteArray &content);
QByteArray read(const QString &path);
// The permission bits as stat() gives them, e.g. 0755; -1 when missing.
int mode(const QString &path);
// Names in a folder, "." and ".." left out.
QStringList entries(const QString &folder);
bool makeGz(const QString &sourceFile, const QString &archive);
// A ".tar.gz" package holding deploy.sh and payload.bin, made from a folder
// that others may not read, so the unpacking step's "chmod -R 755" shows.
// A payload of random bytes makes the archive as large as wanted.
bool makeDeployPackage(const QString &workDir, const QByteArray &script, const QString &archive,
                       int randomPayloadBytes = 0);

} // namespace TestFiles

// The status messages as the main application must receive them, written
// out by hand: keys sorted, no spaces, quotes and line ends escaped.
QString installedJson(int action, const QString &version);
QString installFailedJson(int action, const QString &version, const QString &error);
QString downloadFailedJson(int action, const QString &version, const QString &error);
QString downloadStartedJson();

// The controller's log lines as "<level>|<text>" (D, I, W, C), without the
// mailboxes' own lines and the downloader's progress lines, which depend on
// timing.
QStringList controllerLog(const LogCapture &log);
// Lines of the two operations nothing in the service may call.
QStringList forbiddenLines(const LogCapture &log);
int actionLines(const LogCapture &log);
// Sends a request and runs the event loop until the controller has logged
// reading it: the tick, a synchronous installation included, has then ended.
bool sendAndWaitUntilRead(MainAppPeer &peer, const LogCapture &log, const QString &request);

#endif // UPDATETESTRIG_H
