#ifndef PEERSESSION_H
#define PEERSESSION_H

#include <QElapsedTimer>
#include <QObject>
#include <QSharedMemory>
#include <QTimer>

#include <cstdio>

#include "ipc/tessalyipc.h"

// How the tool shows the service's messages. Every plain line starts with a
// fixed word ("delivered", "status", "progress", "error") and holds no line
// break, so scripts can read the output line by line.

// Backslash, line break, carriage return, tab and other control characters
// as \\ \n \r \t \xHH; with quote, also '"' as \" and the whole in quotes.
QString escapeForLine(const QString &text, bool quote = false);

struct StatusLine
{
    QString text;
    int exitCode = -1; // what a final message ends the wait with, -1 for others
};

// Text that is not a JSON object with an integer "command" gives an "error" line.
StatusLine describeStatus(const QString &message);

struct ProgressReport
{
    enum class Kind { Download, Upload, Unreadable };

    Kind kind = Kind::Unreadable;
    // done / total as the service computed it: negative for an unknown total
    // (-1), not a number for a total of 0 (sent as JSON null).
    double fraction = 0.0;
    QString text; // the message as received

    bool sizeKnown() const;
};

ProgressReport parseProgress(const QString &message);
QString plainProgressLine(const ProgressReport &report);
// The line redrawn in place on a terminal; sizeBytes is --size or -1.
QString progressBarLine(const ProgressReport &report, qint64 sizeBytes);

enum PeerExitCode : int {
    ExitSuccess = 0,
    ExitFailureReported = 1,
    ExitUsage = 2,
    ExitTimedOut = 3,
    ExitMailboxUnusable = 4,
    // 128 + N when ended by signal N, as shells report it
};

struct PeerOptions
{
    enum class Command { Download, InstallNow, Send, Watch };

    Command command = Command::Watch;
    QString request; // the text put into the request mailbox; unused by watch
    qint64 waitMs = -1; // -1 without --wait
    qint64 sizeBytes = -1; // -1 without --size

    bool hasWait() const { return waitMs >= 0; }
};

// One run of the tool on the main application's side of the mailboxes:
// place the request, stay attached until the service has picked it up, then
// (with --wait) show status and progress until a final status message.
class PeerSession : public QObject
{
    Q_OBJECT

public:
    // On a terminal progress is one bar redrawn in place; elsewhere a plain
    // line whenever that line changes, so a log gets one line per percent.
    PeerSession(const PeerOptions &options, FILE *out, bool terminal, QObject *parent = nullptr);

    // Call once the event loop runs: finished() may follow at once.
    void start();

    // SIGINT, SIGTERM, SIGHUP and SIGPIPE end the run at the next poll, so
    // that a request still waiting is withdrawn on the way out.
    static void catchInterrupts();

Q_SIGNALS:
    void finished(int exitCode);

private:
    enum class Phase { Idle, Delivering, Listening, Done };
    enum class Mailbox { Missing, Holding, Consumed };

    void poll();
    void listen(qint64 elapsedMs);
    Mailbox requestMailbox();
    void fail(const QString &text, int exitCode);
    void finish(int exitCode);
    void printLine(const QString &line); // a bar being shown is left standing above it
    void showProgress(const ProgressReport &report);
    void endBar();
    void write(const QString &text);

    PeerOptions m_options;
    FILE *m_out;
    bool m_terminal;
    bool m_barShown = false;
    QString m_lastProgressLine;
    TessalyIPC m_ipc;
    QSharedMemory m_requestProbe;
    QTimer m_pollTimer;
    QElapsedTimer m_clock;
    Phase m_phase = Phase::Idle;
};

#endif // PEERSESSION_H
