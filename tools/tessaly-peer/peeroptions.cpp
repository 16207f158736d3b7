#include "peeroptions.h"

#include <QSet>

#include <cmath>

#include "update/updatemessages.h"

namespace {

struct OptionSpec
{
    const char *name;
    bool takesValue;
};

const OptionSpec knownOptions[] = {
    { "--version", true },  { "--url", true },      { "--force-install", false },
    { "--wait", true },     { "--size", true },     { "--verbose", false },
};

const OptionSpec *findOption(const QString &name)
{
    for (const OptionSpec &option : knownOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

// Which options make sense with which command; anything else is refused
// rather than silently ignored, so a typo in a script shows at once.
bool optionAllowed(PeerCommand command, const QString &option)
{
    static const QSet<QString> common = { QStringLiteral("--wait"), QStringLiteral("--size"),
                                          QStringLiteral("--verbose") };
    if (common.contains(option))
        return true;
    switch (command) {
    case PeerCommand::Download:
        return option == QLatin1String("--version") || option == QLatin1String("--url")
                || option == QLatin1String("--force-install");
    case PeerCommand::InstallNow:
        return option == QLatin1String("--version");
    case PeerCommand::Send:
    case PeerCommand::Watch:
    case PeerCommand::Help:
        return false;
    }
    return false;
}

bool commandFromName(const QString &name, PeerCommand *command)
{
    if (name == QLatin1String("download"))
        *command = PeerCommand::Download;
    else if (name == QLatin1String("install-now"))
        *command = PeerCommand::InstallNow;
    else if (name == QLatin1String("send"))
        *command = PeerCommand::Send;
    else if (name == QLatin1String("watch"))
        *command = PeerCommand::Watch;
    else
        return false;
    return true;
}

ParsedArguments failure(const QString &error)
{
    ParsedArguments result;
    result.error = error;
    return result;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    // Help wins over everything else before "--", even over mistakes, so
    // "tessaly-peer download --help" is never an error.
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return ParsedArguments();
    }

    QStringList positionals;
    QList<QPair<QString, QString>> given; // option name, value
    QSet<QString> seen;
    bool optionsEnded = false;

    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            positionals << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }

        QString name = argument;
        QString value;
        bool hasInlineValue = false;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasInlineValue = true;
        }

        const OptionSpec *known = findOption(name);
        if (!known)
            return failure(QStringLiteral("unknown option \"%1\"").arg(name));
        if (seen.contains(name))
            return failure(QStringLiteral("option %1 given twice").arg(name));
        seen.insert(name);

        if (known->takesValue) {
            if (!hasInlineValue) {
                if (i + 1 >= arguments.size())
                    return failure(QStringLiteral("option %1 needs a value").arg(name));
                value = arguments.at(++i);
            }
        } else if (hasInlineValue) {
            return failure(QStringLiteral("option %1 takes no value").arg(name));
        }
        given.append(qMakePair(name, value));
    }

    if (positionals.isEmpty())
        return failure(QStringLiteral("no command given"));

    ParsedArguments result;
    PeerOptions &options = result.options;
    const QString commandName = positionals.takeFirst();
    if (!commandFromName(commandName, &options.command))
        return failure(QStringLiteral("unknown command \"%1\"").arg(commandName));

    if (options.command == PeerCommand::Send) {
        if (positionals.isEmpty())
            return failure(QStringLiteral("send needs the text to write"));
        options.rawText = positionals.takeFirst();
    }
    if (!positionals.isEmpty())
        return failure(QStringLiteral("unexpected argument \"%1\"").arg(positionals.first()));

    for (const auto &option : qAsConst(given)) {
        const QString &name = option.first;
        const QString &value = option.second;
        if (!optionAllowed(options.command, name))
            return failure(QStringLiteral("option %1 is not used by %2").arg(name, commandName));

        if (name == QLatin1String("--version")) {
            if (value.isEmpty())
                return failure(QStringLiteral("option --version needs a non-empty value"));
            options.version = value;
        } else if (name == QLatin1String("--url")) {
            if (value.isEmpty())
                return failure(QStringLiteral("option --url needs a non-empty value"));
            options.url = value;
        } else if (name == QLatin1String("--force-install")) {
            options.forceInstall = true;
        } else if (name == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (name == QLatin1String("--wait")) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0.0 || seconds > maximumWaitSeconds)
                return failure(QStringLiteral("option --wait needs a number of seconds above 0 and "
                                              "at most %1, not \"%2\"")
                                       .arg(qint64(maximumWaitSeconds))
                                       .arg(value));
            options.waitMs = qMax<qint64>(1, qint64(std::ceil(seconds * 1000.0)));
        } else if (name == QLatin1String("--size")) {
            bool ok = false;
            const qint64 bytes = value.toLongLong(&ok);
            if (!ok || bytes <= 0)
                return failure(QStringLiteral("option --size needs a number of bytes above 0, "
                                              "not \"%1\"")
                                       .arg(value));
            options.sizeBytes = bytes;
        }
    }

    if (options.command == PeerCommand::Download) {
        if (options.version.isEmpty())
            return failure(QStringLiteral("download needs --version"));
        if (options.url.isEmpty())
            return failure(QStringLiteral("download needs --url"));
    }
    return result;
}

QString requestText(const PeerOptions &options)
{
    switch (options.command) {
    case PeerCommand::Download:
        return encodeUpdateRequest(options.forceInstall ? DOWNLOAD_FORCE_INSTALL : DOWNLOAD_ONLY,
                                   options.version, options.url);
    case PeerCommand::InstallNow:
        return encodeUpdateRequest(INSTALL_NOW, options.version, QString());
    case PeerCommand::Send:
        return options.rawText;
    case PeerCommand::Watch:
    case PeerCommand::Help:
        break;
    }
    return QString();
}

QString usageText()
{
    return QStringLiteral(
R"(Usage: tessaly-peer COMMAND [OPTIONS]

Stands in for the main application "Tessaly" on the mailboxes of the update
service TessalyUpdater: sends it one request and shows what it answers.

Commands:
  download --version V --url U [--force-install]
        Ask the service to download the package at URL U as version V and to
        install it. Writes {"action":1,"build_release":U,"version":V}, with
        "action":3 when --force-install is given.
  install-now [--version V]
        Ask the service to install the package already placed in its upgrade
        folder ("action":2). The service answers only when such a package is
        there.
  send TEXT
        Write TEXT into the request mailbox exactly as given, JSON or not, to
        try the service with any input. Put -- before a TEXT beginning with -.
        An empty TEXT looks picked up at once, as a picked-up mailbox reads
        empty too.
  watch
        Send nothing; only show the service's status and progress messages.
        Without --wait it runs until interrupted and does not stop at a final
        message.

Options:
  --wait SECONDS
        Also wait for the service's final status message and show status and
        progress until then. SECONDS (above 0, fractions allowed, at most
        1000000) bounds the whole run, including the time until the service
        picks up the request. Without --wait the tool ends as soon as the
        service has picked up the request, and gives it 10 seconds for that.
  --size BYTES
        The package's size, if you know it. The progress messages carry only
        the fraction done, so by default the bar shows the percentage and a
        rate in percent per second; with --size it also shows the bytes
        received and a rate in bytes per second. Plain lines are not affected.
  --verbose
        Show the mailboxes' own log lines on standard error.
  -h, --help
        Show this text.

Mailboxes:
  Requests go to the mailbox "Tessaly"; status messages come from
  "TessalyUpdater" and progress messages from "TessalyUpdaterPercent". Each is
  a System V shared-memory segment whose key Qt derives from a key file in the
  temporary folder (TMPDIR, or /tmp when TMPDIR is unset). Run tessaly-peer as
  the same user and with the same TMPDIR as the service, or the two never meet.
  The service looks into its mailbox once a second. A mailbox lives only while
  a process is attached to it, so the tool stays until the service has picked
  up the request; if it ends sooner (time-out or interrupt) the request is
  withdrawn. Before sending, it silently discards any status or progress
  message left over from earlier, so an old result is not taken for the new.
  One request at a time: while another process holds the request mailbox
  (another tessaly-peer still waiting), nothing is sent.

Output (standard output, one line each, the first word fixed):
  delivered TEXT
        The service has picked up the request TEXT.
  status COMMAND [action=N] [version="V"] message=TEXT
        A status message. COMMAND is DOWNLOAD_STARTED, DOWNLOAD_ERROR,
        UPDATE_INSTALLED (or MESSAGE_ONLY, UPDATE_AGAIN, or the plain number of
        an unknown command). Fields the message lacks are left out; message=
        is always last and runs to the end of the line.
  progress N%
  progress unknown
        Download progress, printed when the whole percentage changes;
        "unknown" (printed once) when the server did not give the size.
        Upload progress reads "progress upload N%" or "progress upload unknown".
  error TEXT
        A time-out, a mailbox problem or a message that cannot be read.
  In V and TEXT a backslash, line break, carriage return and tab are written as
  \\, \n, \r and \t, other control characters as \xHH; in V also a double
  quote as \". Usage errors go to standard error.
  On a terminal the progress is instead one bar redrawn in place, with the
  percentage (to a tenth, rounded down) and the rate; when the size is unknown
  it shows a moving marker and the bytes received so far (the service then
  sends the byte count as a negative fraction).

Exit codes:
  0  the service reported the update installed (UPDATE_INSTALLED); without
     --wait: the service picked up the request
  1  the service reported a failure (DOWNLOAD_ERROR: download or installation)
  2  usage error: unknown command or option, a missing --version or --url,
     a bad --wait or --size
  3  time-out: no service picked up the request, or no final status message
     came within --wait
  4  the request mailbox could not be used: held by another process, or the
     segment could not be created
  128+N  ended by signal N (SIGINT, SIGTERM, SIGHUP or SIGPIPE)
)");
}
