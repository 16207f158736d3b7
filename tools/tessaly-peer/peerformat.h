#ifndef PEERFORMAT_H
#define PEERFORMAT_H

// How the tool turns the service's messages into output lines. Every line
// starts with a fixed word ("delivered", "status", "progress", "error") and
// holds no line break, so scripts can read the output line by line.

#include <QString>
#include <QtGlobal>

// Backslash, line break, carriage return and tab as \\ \n \r \t, any other
// control character as \xHH; the result is one line.
QString escapeForLine(const QString &text);

// escapeForLine, also a double quote as \", inside double quotes.
QString quoteForLine(const QString &text);

QString deliveredLine(const QString &request);

struct StatusLine
{
    QString text;
    int exitCode = -1; // the exit code of a final message, -1 otherwise
};

// A message from the status mailbox. Text that is not a JSON object with an
// integer "command" becomes an "error" line.
StatusLine describeStatus(const QString &message);

struct ProgressReport
{
    enum class Kind {
        Download,
        Upload,
        Unreadable,
    };

    Kind kind = Kind::Unreadable;
    // done / total as the service computed it: negative when the total was
    // unknown (-1), not a number when it was 0 (sent as JSON null).
    double fraction = 0.0;
    QString text; // the message as received

    bool sizeKnown() const;
    // With an unknown total the service divides by -1, so the negated
    // fraction is the count of bytes received; -1 when that is not the case.
    qint64 bytesWithoutSize() const;
};

ProgressReport parseProgress(const QString &message);

// The whole percentage, rounded down and kept within 0..100, so 100 only
// shows once the transfer is complete.
int wholePercent(double fraction);

// The line for a log or a pipe; printed only when it differs from the last.
QString plainProgressLine(const ProgressReport &report);

// Bytes as "512 B", "1.5 KiB", "10.0 MiB", "2.0 GiB" (binary units, one decimal).
QString formatBytes(qint64 bytes);

// How fast an amount grows between two samples, per second; 0 when it does
// not grow or no time passed.
double amountPerSecond(qint64 fromMs, double fromAmount, qint64 toMs, double toAmount);

constexpr int progressBarWidth = 20;

// The line of the bar redrawn in place on a terminal. ratePerSecond is the
// growth of the fraction (known size) or of the byte count (unknown size);
// sizeBytes is --size or -1; spinnerStep moves the marker of an unknown size.
QString progressBarLine(const ProgressReport &report, double ratePerSecond, qint64 sizeBytes,
                        int spinnerStep);

#endif // PEERFORMAT_H
