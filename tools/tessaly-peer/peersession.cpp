#include "peersession.h"

#include <QDir>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

#include "common/updaterconfig.h"
#include "consoleview.h"
#include "interruptflag.h"
#include "peerexitcodes.h"
#include "peerformat.h"

namespace {

QString secondsText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0);
}

QString userName()
{
    if (const passwd *entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(geteuid());
}

} // namespace

// The main application's view of the mailboxes: it reads the service's
// outbox and writes its own, the two names swapped.
PeerSession::PeerSession(const PeerOptions &options, ConsoleView &view, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_view(view)
    , m_ipc(UpdaterConfig::serviceMailbox(), UpdaterConfig::mainAppMailbox())
    , m_requestProbe(UpdaterConfig::mainAppMailbox())
{
    m_pollTimer.setInterval(pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &PeerSession::poll);
}

void PeerSession::start()
{
    m_clock.start();

    if (m_options.command == PeerCommand::Watch) {
        m_phase = Phase::Listening;
    } else {
        if (!requestMailboxFree()) {
            fail(QStringLiteral("error mailbox \"%1\" is held by another process (another "
                                "tessaly-peer still waiting?); the request was not sent")
                         .arg(m_requestProbe.mailboxName()),
                 ExitMailboxUnusable);
            return;
        }
        // Whatever the service said before belongs to an earlier request.
        m_ipc.IPCRead(true);
        m_ipc.IPCReadPercentage(true);

        m_request = requestText(m_options);
        m_ipc.IPCWrite(m_request);
        if (m_requestProbe.inspect() == MailboxProbe::State::Missing) {
            fail(QStringLiteral("error the request could not be written: no segment could be "
                                "created for mailbox \"%1\"")
                         .arg(m_requestProbe.mailboxName()),
                 ExitMailboxUnusable);
            return;
        }
        m_phase = Phase::Delivering;
    }

    m_pollTimer.start();
    poll();
}

// A segment left by a process that died while attached has no process
// attached any more, and looking into it removes it; one that stays has a
// live owner. A few looks ride out a service that is reading just then.
bool PeerSession::requestMailboxFree()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_requestProbe.inspect() == MailboxProbe::State::Missing)
            return true;
        QThread::msleep(20);
    }
    return false;
}

void PeerSession::poll()
{
    if (m_phase == Phase::Done)
        return;
    if (const int signalNumber = receivedInterrupt()) {
        finish(exitCodeForSignal(signalNumber));
        return;
    }
    const qint64 elapsedMs = m_clock.elapsed();

    if (m_phase == Phase::Delivering) {
        switch (m_requestProbe.inspect()) {
        case MailboxProbe::State::Consumed:
            m_view.printLine(deliveredLine(m_request));
            if (!m_options.hasWait()) {
                finish(ExitSuccess);
                return;
            }
            m_phase = Phase::Listening;
            break;
        case MailboxProbe::State::Missing:
            // This process stays attached, so only a forced removal gets here.
            fail(QStringLiteral("error mailbox \"%1\" vanished before the service picked up "
                                "the request")
                         .arg(m_requestProbe.mailboxName()),
                 ExitMailboxUnusable);
            return;
        case MailboxProbe::State::Holding: {
            const qint64 timeoutMs =
                    m_options.hasWait() ? m_options.waitMs : defaultDeliveryTimeoutMs;
            if (elapsedMs >= timeoutMs)
                fail(QStringLiteral("error no service picked up the request within %1 s; it is "
                                    "withdrawn. %2")
                             .arg(secondsText(timeoutMs), serviceHint()),
                     ExitTimedOut);
            return;
        }
        }
    }

    listen(elapsedMs);
}

void PeerSession::listen(qint64 elapsedMs)
{
    const QString progress = m_ipc.IPCReadPercentage(true);
    const QString status = m_ipc.IPCRead(true);

    StatusLine statusLine;
    if (!status.isEmpty())
        statusLine = describeStatus(status);
    const bool final = !status.isEmpty() && statusLine.exitCode >= 0;

    // The service sends the started message before any progress and the
    // final one after all of it; when both wait in one look, keep that order.
    if (!status.isEmpty() && !final)
        m_view.printLine(statusLine.text);
    if (!progress.isEmpty())
        m_view.showProgress(parseProgress(progress), elapsedMs);
    if (final)
        m_view.printLine(statusLine.text);

    // Plain "watch" keeps listening through results; everything else ends there.
    if (!m_options.hasWait())
        return;
    if (final) {
        finish(statusLine.exitCode);
        return;
    }
    if (elapsedMs >= m_options.waitMs) {
        QString text = QStringLiteral("error no final status message within %1 s")
                               .arg(secondsText(m_options.waitMs));
        if (m_options.command == PeerCommand::InstallNow)
            text += QStringLiteral("; the service answers install-now only when a package waits "
                                   "in its upgrade folder");
        fail(text, ExitTimedOut);
    }
}

QString PeerSession::serviceHint() const
{
    return QStringLiteral("Is TessalyUpdater running as user %1 with the temporary folder %2 "
                          "(TMPDIR)?")
            .arg(userName(), QDir::tempPath());
}

void PeerSession::fail(const QString &text, int exitCode)
{
    m_view.printLine(text);
    finish(exitCode);
}

void PeerSession::finish(int exitCode)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_pollTimer.stop();
    m_view.close();
    emit finished(exitCode);
}
