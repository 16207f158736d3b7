#ifndef PEEROPTIONS_H
#define PEEROPTIONS_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

enum class PeerCommand {
    Help,
    Download,
    InstallNow,
    Send,
    Watch,
};

struct PeerOptions
{
    PeerCommand command = PeerCommand::Help;
    QString version;
    QString url;
    QString rawText; // the text of "send", written unchanged
    bool forceInstall = false;
    bool verbose = false;
    qint64 waitMs = -1;    // -1 when --wait was not given
    qint64 sizeBytes = -1; // -1 when --size was not given

    bool hasWait() const { return waitMs >= 0; }
};

struct ParsedArguments
{
    PeerOptions options;
    QString error; // empty when the arguments are usable

    bool ok() const { return error.isEmpty(); }
};

// The arguments without the program name. Options may stand before or after
// the command; "--" ends the options, so a text for "send" may begin with "-".
ParsedArguments parseArguments(const QStringList &arguments);

// The text the command puts into the request mailbox; empty for "watch".
QString requestText(const PeerOptions &options);

// The waiting time the delivery of a request is given when --wait is absent.
constexpr qint64 defaultDeliveryTimeoutMs = 10000;

// The largest --wait accepted, in seconds.
constexpr double maximumWaitSeconds = 1000000.0;

QString usageText();

#endif // PEEROPTIONS_H
