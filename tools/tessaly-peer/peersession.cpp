#include "peersession.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <csignal>
#include <cstring>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"

namespace {

struct StatusLine
{
    QString text;
    int exitCode = -1; // what a final message ends the wait with, -1 for others
};

struct ProgressReport
{
    enum class Kind { Download, Upload, Unreadable };

    Kind kind = Kind::Unreadable;
    // done / total as the service computed it: negative for an unknown total
    // (-1), not a number for a total of 0 (sent as JSON null).
    double fraction = 0.0;
    QString text; // the message as received

    bool sizeKnown() const
    {
        return kind != Kind::Unreadable && std::isfinite(fraction) && fraction >= 0.0;
    }
};

// Backslash, line break, carriage return, tab and other control characters
// as \\ \n \r \t \xHH; with quote, also '"' as \" and the whole in quotes.
QString escapeForLine(const QString &text, bool quote = false);

constexpr int defaultPollIntervalMs = 50;
// Polls in which the request may find its mailbox held, or fail to be written.
constexpr int sendAttempts = 20;
// How long a request may wait to be picked up when --wait is absent.
constexpr qint64 defaultDeliveryTimeoutMs = 10000;

volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void onInterrupt(int signalNumber)
{
    if (receivedSignal == 0)
        receivedSignal = signalNumber;
}

QString seconds(qint64 ms) { return QString::number(double(ms) / 1000.0); }

bool integerValue(const QJsonValue &value, int *result)
{
    const double number = value.toDouble(0.5);
    if (!value.isDouble() || number != std::floor(number) || std::fabs(number) > 2147483647.0)
        return false;
    *result = int(number);
    return true;
}

QString unreadable(QLatin1String what, const QString &message)
{
    return QStringLiteral("error unreadable %1 message: %2").arg(what, escapeForLine(message));
}

// Rounded down, so that short of complete never reads 100; ten-thousandths
// first, so 0.29 (stored as 0.28999...) reads 29.
double percentDown(double fraction, double scale)
{
    if (!(fraction > 0.0)) // also catches NaN
        return 0.0;
    if (fraction >= 1.0)
        return 100.0;
    const double percent = std::floor(std::round(fraction * 1000000.0) / 10000.0 * scale) / scale;
    return qMin(percent, 100.0 - 1.0 / scale);
}

QString prefix(const ProgressReport &report)
{
    return report.kind == ProgressReport::Kind::Upload ? QStringLiteral("progress upload ")
                                                       : QStringLiteral("progress ");
}

// Binary units with one decimal; the rounded value decides the unit, so
// 1048575 bytes reads 1.0 MiB, not 1024.0 KiB.
QString formatBytes(double bytes)
{
    if (bytes < 1024)
        return QString::number(qMax(0.0, std::floor(bytes))) + QStringLiteral(" B");
    const char *const units[] = { "KiB", "MiB", "GiB", "TiB" };
    int unit = 0;
    for (bytes /= 1024; std::round(bytes * 10) >= 10240 && unit < 3; bytes /= 1024)
        ++unit;
    return QString::number(bytes, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString escapeForLine(const QString &text, bool quote)
{
    static const char special[] = "\\\n\r\t\"";
    static const char *const escaped[] = { "\\\\", "\\n", "\\r", "\\t", "\\\"" };
    QString out;
    for (const QChar c : text) {
        const char *found = c.unicode() < 0x80 ? std::strchr(special, c.toLatin1()) : nullptr;
        if (found && *found && (*found != '"' || quote))
            out += QLatin1String(escaped[found - special]);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return quote ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

StatusLine describeStatus(const QString &message)
{
    StatusLine result;
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    int command = 0;
    if (!integerValue(object.value(QLatin1String("command")), &command)) {
        result.text = unreadable(QLatin1String("status"), message);
        return result;
    }
    const QString name = UPDATE_COMMANDS_TO_STR.value(UpdateCommands(command));
    result.text = QStringLiteral("status ") + (name.isEmpty() ? QString::number(command) : name);
    const QJsonValue action = object.value(QLatin1String("action"));
    if (action.isDouble())
        result.text += QStringLiteral(" action=") + QString::number(action.toDouble(), 'g', 17);
    const QJsonValue version = object.value(QLatin1String("version"));
    if (version.isString())
        result.text += QStringLiteral(" version=") + escapeForLine(version.toString(), true);
    const QJsonValue text = object.value(QLatin1String("message"));
    if (text.isString())
        result.text += QStringLiteral(" message=") + escapeForLine(text.toString());
    // A failed download and a failed installation both arrive as DOWNLOAD_ERROR.
    result.exitCode = command == UPDATE_INSTALLED ? 0 : command == DOWNLOAD_ERROR ? 1 : -1;
    return result;
}

ProgressReport parseProgress(const QString &message)
{
    ProgressReport report;
    report.text = message;
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    const QJsonValue fraction = object.value(QLatin1String("message"));
    int command = -1;
    if (!integerValue(object.value(QLatin1String("command")), &command)
        || (command != DOWNLOAD_PERCENTAGE && command != UPLOAD_PERCENTAGE)
        || !(fraction.isDouble() || fraction.isNull()))
        return report;
    report.kind = command == DOWNLOAD_PERCENTAGE ? ProgressReport::Kind::Download
                                                 : ProgressReport::Kind::Upload;
    report.fraction = fraction.isNull() ? std::nan("") : fraction.toDouble();
    return report;
}

QString plainProgressLine(const ProgressReport &report)
{
    if (report.kind == ProgressReport::Kind::Unreadable)
        return unreadable(QLatin1String("progress"), report.text);
    if (!report.sizeKnown())
        return prefix(report) + QStringLiteral("unknown");
    return prefix(report) + QString::number(percentDown(report.fraction, 1)) + QLatin1Char('%');
}

QString progressBarLine(const ProgressReport &report, qint64 sizeBytes)
{
    if (report.kind == ProgressReport::Kind::Unreadable)
        return unreadable(QLatin1String("progress"), report.text);
    if (!report.sizeKnown()) {
        // Over an unknown total (-1) the negated fraction is the bytes received.
        if (std::isfinite(report.fraction))
            return prefix(report) + formatBytes(-report.fraction)
                    + QStringLiteral(", size unknown");
        return prefix(report) + QStringLiteral("size unknown");
    }
    constexpr int width = 20;
    const double fraction = qMin(report.fraction, 1.0);
    const int filled = int(fraction * width);
    QString line = prefix(report) + QLatin1Char('[') + QString(filled, QLatin1Char('#'))
            + QString(width - filled, QLatin1Char('-'))
            + QStringLiteral("] %1%").arg(percentDown(fraction, 10), 5, 'f', 1);
    if (sizeBytes > 0)
        line += QStringLiteral("  %1 / %2")
                        .arg(formatBytes(fraction * sizeBytes), formatBytes(sizeBytes));
    return line;
}

} // namespace

void PeerSession::catchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGINT, SIGTERM, SIGHUP, SIGPIPE })
        sigaction(signalNumber, &action, nullptr);
}

PeerSession::PeerSession(const PeerOptions &options, FILE *out, bool terminal, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_terminal(terminal)
{
    m_pollTimer.setInterval(
            int(options.pollIntervalMs > 0 ? options.pollIntervalMs : defaultPollIntervalMs));
    connect(&m_pollTimer, &QTimer::timeout, this, &PeerSession::poll);
}

void PeerSession::start()
{
    m_clock.start();
    m_phase = m_options.command == PeerOptions::Command::Watch ? Phase::Listening : Phase::Sending;
    m_pollTimer.start();
    poll();
}

// A segment left by a process that died while attached goes away when looked
// into; one that stays has a live owner. Both that and a write that did not go
// in are tried again at the next polls.
void PeerSession::send()
{
    const bool free = m_mailboxes.request() == PeerMailboxes::Request::Missing;
    if (free) {
        // Whatever the service said before belongs to an earlier request.
        m_mailboxes.takeStatus();
        m_mailboxes.takeProgress();
        if (m_mailboxes.write(m_options.request)) {
            m_phase = Phase::Delivering;
            return;
        }
    }
    if (++m_sendAttempts < sendAttempts)
        return;
    fail(free ? QStringLiteral("error the request could not be written: no segment could be "
                               "created for mailbox \"Tessaly\"")
              : QStringLiteral("error mailbox \"Tessaly\" is held by another process (another "
                               "tessaly-peer still waiting?); the request was not sent"),
         ExitMailboxUnusable);
}

void PeerSession::poll()
{
    if (m_phase == Phase::Done)
        return;
    if (receivedSignal != 0) {
        finish(128 + receivedSignal);
        return;
    }
    const qint64 elapsedMs = m_clock.elapsed();

    if (m_phase == Phase::Sending) {
        send();
        return;
    }
    if (m_phase == Phase::Delivering) {
        switch (m_mailboxes.request()) {
        case PeerMailboxes::Request::Taken:
            printLine(QStringLiteral("delivered ") + escapeForLine(m_options.request));
            if (!m_options.hasWait()) {
                finish(ExitSuccess);
                return;
            }
            m_phase = Phase::Listening;
            break;
        case PeerMailboxes::Request::Missing:
            // This process stays attached, so only a forced removal gets here.
            fail(QStringLiteral("error mailbox \"Tessaly\" vanished before the service picked "
                                "up the request"),
                 ExitMailboxUnusable);
            return;
        case PeerMailboxes::Request::Holding: {
            const qint64 timeoutMs =
                    m_options.hasWait() ? m_options.waitMs : defaultDeliveryTimeoutMs;
            if (elapsedMs >= timeoutMs)
                fail(QStringLiteral("error no service picked up the request within %1 s; it is "
                                    "withdrawn. Is TessalyUpdater running as this user, with the "
                                    "temporary folder %2 (TMPDIR)?")
                             .arg(seconds(timeoutMs), QDir::tempPath()),
                     ExitTimedOut);
            return;
        }
        }
    }
    listen(elapsedMs);
}

void PeerSession::listen(qint64 elapsedMs)
{
    const QString progress = m_mailboxes.takeProgress();
    const QString status = m_mailboxes.takeStatus();
    const StatusLine statusLine = status.isEmpty() ? StatusLine() : describeStatus(status);
    const bool final = statusLine.exitCode >= 0;

    // The service sends the started message before any progress and the
    // final one after all of it; when both wait in one look, keep that order.
    if (!status.isEmpty() && !final)
        printLine(statusLine.text);
    if (!progress.isEmpty())
        showProgress(progress);
    if (final)
        printLine(statusLine.text);

    // Plain "watch" keeps listening through results; everything else ends there.
    if (!m_options.hasWait())
        return;
    if (final) {
        finish(statusLine.exitCode);
    } else if (elapsedMs >= m_options.waitMs) {
        fail(QStringLiteral("error no final status message within %1 s")
                     .arg(seconds(m_options.waitMs)),
             ExitTimedOut);
    }
}

void PeerSession::fail(const QString &text, int exitCode)
{
    printLine(text);
    finish(exitCode);
}

void PeerSession::finish(int exitCode)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_pollTimer.stop();
    endBar();
    Q_EMIT finished(exitCode);
}

void PeerSession::printLine(const QString &line)
{
    endBar();
    write(line + QLatin1Char('\n'));
    // The progress of whatever the new status begins is shown from its start.
    m_lastProgressLine.clear();
}

void PeerSession::showProgress(const QString &message)
{
    const ProgressReport report = parseProgress(message);
    if (m_terminal && report.kind != ProgressReport::Kind::Unreadable) {
        // Back to the line's start, draw, clear what a longer bar left behind.
        write(QLatin1Char('\r') + progressBarLine(report, m_options.sizeBytes)
              + QStringLiteral("\x1b[K"));
        m_barShown = true;
        return;
    }
    const QString line = plainProgressLine(report);
    if (line == m_lastProgressLine)
        return;
    endBar();
    write(line + QLatin1Char('\n'));
    m_lastProgressLine = line;
}

void PeerSession::endBar()
{
    if (m_barShown)
        write(QStringLiteral("\n"));
    m_barShown = false;
}

void PeerSession::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}
