// tessaly-peer: a stand-in for the main application on the update service's
// mailboxes. "tessaly-peer --help" tells how to use it.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <unistd.h>

#include "peersession.h"
#include "update/updatemessages.h"

namespace {

const char description[] = R"(
Stands in for the main application "Tessaly" on the update service's mailboxes:
sends one request and shows the answers. Run it as the same user and with the
same TMPDIR as the service (Qt finds the mailboxes through key files there).

Commands:
  download --version V --url U [--force-install]   request actions 1 or 3
  install-now [--version V]   install the package placed in the upgrade folder
  send TEXT                   write TEXT as it is (-- before a TEXT with -)
  watch                       send nothing, show what the service says)";

const char epilog[] = R"(
Output lines: "delivered TEXT", "status COMMAND [action=N] [version="V"]
message=TEXT", "progress N%", "progress unknown", "error TEXT"; control
characters escaped. On a terminal, progress is one bar redrawn in place.
Exit codes: 0 installed (without --wait: picked up), 1 failure reported,
2 usage error, 3 timed out, 4 request mailbox held or unusable, 128+N signal N.
)";

bool showInfo = false;

void peerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !showInfo)
        return;
    std::fprintf(stderr, "tessaly-peer: %s\n", message.toLocal8Bit().constData());
}

QString positiveNumber(const QCommandLineParser &parser, const QString &name, double maximum,
                       double *number)
{
    bool ok = false;
    const QString value = parser.value(name);
    *number = value.toDouble(&ok);
    if (ok && std::isfinite(*number) && *number > 0.0 && *number <= maximum)
        return QString();
    return QStringLiteral("option --%1 needs a number above 0 and at most %2, not \"%3\"")
            .arg(name, QString::number(maximum, 'g', 16), value);
}

// The checks QCommandLineParser cannot make: the command, the options that go
// with it (others are refused rather than ignored, so a typo in a script shows
// at once) and their values. Returns an error text, or empty.
QString checkArguments(const QCommandLineParser &parser, PeerOptions *options)
{
    struct CommandSpec
    {
        QLatin1String name;
        PeerOptions::Command command;
        QStringList options;
    };
    const CommandSpec commands[] = {
        { QLatin1String("download"), PeerOptions::Command::Download,
          { QStringLiteral("version"), QStringLiteral("url"), QStringLiteral("force-install") } },
        { QLatin1String("install-now"), PeerOptions::Command::InstallNow,
          { QStringLiteral("version") } },
        { QLatin1String("send"), PeerOptions::Command::Send, {} },
        { QLatin1String("watch"), PeerOptions::Command::Watch, {} },
    };
    QStringList positionals = parser.positionalArguments();
    if (positionals.isEmpty())
        return QStringLiteral("no command given");
    const QString name = positionals.takeFirst();
    const auto spec = std::find_if(std::begin(commands), std::end(commands),
                                   [&](const CommandSpec &c) { return c.name == name; });
    if (spec == std::end(commands))
        return QStringLiteral("unknown command \"%1\"").arg(name);
    options->command = spec->command;
    if (options->command == PeerOptions::Command::Send && !positionals.isEmpty())
        options->request = positionals.takeFirst();
    else if (options->command == PeerOptions::Command::Send)
        return QStringLiteral("send needs the text to write");
    if (!positionals.isEmpty())
        return QStringLiteral("unexpected argument \"%1\"").arg(positionals.first());
    for (const QString &option : parser.optionNames()) {
        const bool common = option == QLatin1String("wait") || option == QLatin1String("size")
                || option == QLatin1String("verbose");
        if (!common && !spec->options.contains(option))
            return QStringLiteral("option --%1 is not used by %2").arg(option, name);
    }

    const QString version = parser.value(QStringLiteral("version"));
    const QString url = parser.value(QStringLiteral("url"));
    if (options->command == PeerOptions::Command::Download) {
        if (version.isEmpty() || url.isEmpty())
            return QStringLiteral("download needs --version and --url, not empty");
        const bool force = parser.isSet(QStringLiteral("force-install"));
        options->request =
                encodeUpdateRequest(force ? DOWNLOAD_FORCE_INSTALL : DOWNLOAD_ONLY, version, url);
    } else if (options->command == PeerOptions::Command::InstallNow) {
        options->request = encodeUpdateRequest(INSTALL_NOW, version, QString());
    }
    double number = 0;
    if (parser.isSet(QStringLiteral("wait"))) {
        const QString error = positiveNumber(parser, QStringLiteral("wait"), 1e6, &number);
        if (!error.isEmpty())
            return error;
        options->waitMs = qint64(std::ceil(number * 1000.0));
    }
    if (parser.isSet(QStringLiteral("size"))) {
        const QString error = positiveNumber(parser, QStringLiteral("size"), 1e15, &number);
        if (!error.isEmpty())
            return error;
        options->sizeBytes = qint64(number);
    }
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    const auto text = [](const char *latin1) { return QString::fromLatin1(latin1); };
    parser.addPositionalArgument(text("command"), text("download, install-now, send or watch"));
    parser.addPositionalArgument(text("text"), text("the text of send"), text("[text]"));
    parser.addOptions({
            { text("version"), text("The version V being requested."), text("V") },
            { text("url"), text("The package's URL U."), text("U") },
            { text("force-install"), text("Request action 3 instead of 1.") },
            { text("wait"),
              text("Also wait for the final status, showing status and progress; SECONDS "
                   "(above 0, at most 1000000) bound the whole run. Without it the tool ends "
                   "once the request is picked up, and gives that 10 seconds."),
              text("SECONDS") },
            { text("size"), text("The package's size, to show bytes beside the bar."),
              text("BYTES") },
            { text("verbose"), text("Show the mailboxes' own log lines on standard error.") },
            { { text("h"), text("help") }, text("Show this text.") },
    });

    PeerOptions options;
    QString error;
    if (!parser.parse(app.arguments()))
        error = parser.errorText();
    else if (parser.isSet(QStringLiteral("help"))) {
        const QString usage = parser.helpText().replace(app.arguments().constFirst(), text("tessaly-peer"));
        std::fputs(qPrintable(usage + QString::fromUtf8(epilog)), stdout);
        return ExitSuccess;
    } else
        error = checkArguments(parser, &options);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "tessaly-peer: %s\nRun \"tessaly-peer --help\" for the commands and "
                             "options.\n",
                     qPrintable(error));
        return ExitUsage;
    }

    showInfo = parser.isSet(QStringLiteral("verbose"));
    qInstallMessageHandler(peerMessageHandler);
    PeerSession::catchInterrupts();

    PeerSession session(options, stdout, isatty(STDOUT_FILENO) == 1);
    QObject::connect(&session, &PeerSession::finished, &app, &QCoreApplication::exit);
    QTimer::singleShot(0, &session, &PeerSession::start);
    return app.exec();
}
