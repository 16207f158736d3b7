#ifndef PEERSESSION_H
#define PEERSESSION_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>

#include "ipc/peermailboxes.h"

enum PeerExitCode : int {
    ExitSuccess = 0,
    ExitFailureReported = 1,
    ExitUsage = 2,
    ExitTimedOut = 3,
    ExitMailboxUnusable = 4, // and 128 + N when ended by signal N, as shells report it
};

struct PeerOptions
{
    enum class Command { Download, InstallNow, Send, Watch };

    Command command = Command::Watch;
    QString request; // the text put into the request mailbox; unused by watch
    qint64 waitMs = -1; // -1 without --wait
    qint64 sizeBytes = -1; // -1 without --size
    qint64 pollIntervalMs = -1; // -1 without --interval: 50

    bool hasWait() const { return waitMs >= 0; }
};

// One run of the tool on the main application's side of the mailboxes:
// place the request, stay attached until the service has picked it up, then
// (with --wait) show status and progress until a final status message.
class PeerSession : public QObject
{
    Q_OBJECT

public:
    // On a terminal progress is a bar redrawn in place, elsewhere a line per percent.
    PeerSession(const PeerOptions &options, FILE *out, bool terminal, QObject *parent = nullptr);

    // Call once the event loop runs: finished() may follow at once.
    void start();

    // SIGINT, SIGTERM, SIGHUP and SIGPIPE end the run at the next poll, so a
    // request still waiting is withdrawn on the way out.
    static void catchInterrupts();

Q_SIGNALS:
    void finished(int exitCode);

private:
    enum class Phase { Sending, Delivering, Listening, Done };

    void poll();
    void send();
    void listen(qint64 elapsedMs);
    void fail(const QString &text, int exitCode);
    void finish(int exitCode);
    void printLine(const QString &line); // a bar being shown is left standing above it
    void showProgress(const QString &message);
    void endBar();
    void write(const QString &text);

    PeerOptions m_options;
    FILE *m_out;
    bool m_terminal;
    bool m_barShown = false;
    QString m_lastProgressLine;
    PeerMailboxes m_mailboxes;
    int m_sendAttempts = 0;
    QTimer m_pollTimer;
    QElapsedTimer m_clock;
    Phase m_phase = Phase::Listening;
};

#endif // PEERSESSION_H
