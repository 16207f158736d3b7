#ifndef PEERSESSION_H
#define PEERSESSION_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "ipc/tessalyipc.h"
#include "mailboxprobe.h"
#include "peeroptions.h"

class ConsoleView;

// One run of the tool on the main application's side of the mailboxes:
// place the request, stay attached until the service has picked it up, then
// (with --wait) show status and progress until a final status message.
class PeerSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int pollIntervalMs = 50;

    PeerSession(const PeerOptions &options, ConsoleView &view, QObject *parent = nullptr);

    // Call once the event loop runs: finished() may follow at once.
    void start();

signals:
    void finished(int exitCode);

private:
    enum class Phase {
        Idle,
        Delivering,
        Listening,
        Done,
    };

    void poll();
    void listen(qint64 elapsedMs);
    bool requestMailboxFree();
    void fail(const QString &text, int exitCode);
    void finish(int exitCode);
    QString serviceHint() const;

    PeerOptions m_options;
    ConsoleView &m_view;
    TessalyIPC m_ipc;
    MailboxProbe m_requestProbe;
    QTimer m_pollTimer;
    QElapsedTimer m_clock;
    Phase m_phase = Phase::Idle;
    QString m_request;
};

#endif // PEERSESSION_H
