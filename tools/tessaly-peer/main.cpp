// tessaly-peer: a stand-in for the main application on the update service's
// mailboxes. "tessaly-peer --help" tells how to use it.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <unistd.h>

#include "peersession.h"
#include "update/updatemessages.h"

namespace {

const char description[] = R"(
Plays the main application on the update service's mailboxes. Run it as the
service's user, with its TMPDIR (Qt finds the mailboxes through key files there).

Commands:
  download --version V --url U [--force-install]   request action 1 (3 forced)
  install-now [--version V]   install what is placed in the upgrade folder
  send TEXT                   write TEXT as it is (-- before a TEXT with -)
  watch                       send nothing, show what the service says

Output: "delivered TEXT", "status COMMAND ... message=TEXT", "progress N%",
"error TEXT", one per line; on a terminal, progress is a bar redrawn in place.
Exit codes: 0 installed (without --wait: picked up), 1 failure reported,
2 usage error, 3 timed out, 4 request mailbox held or unusable, 128+N signal N.)";

// The mailboxes log every message they carry; only their warnings matter here.
void peerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "tessaly-peer: %s\n", message.toLocal8Bit().constData());
}

struct CommandSyntax
{
    const char *name;
    PeerOptions::Command command;
    std::vector<const char *> options; // besides --wait, --size and --interval
    bool takesText;
};

const CommandSyntax commands[] = {
    { "download", PeerOptions::Command::Download, { "version", "url", "force-install" }, false },
    { "install-now", PeerOptions::Command::InstallNow, { "version" }, false },
    { "send", PeerOptions::Command::Send, {}, true },
    { "watch", PeerOptions::Command::Watch, {}, false },
};

// The checks QCommandLineParser cannot make: the command, the options that go
// with it (others are refused rather than ignored, so a typo in a script shows
// at once) and their values. Returns an error text, or empty.
QString checkArguments(const QCommandLineParser &parser, PeerOptions *options)
{
    const QStringList positionals = parser.positionalArguments();
    const QString name = positionals.value(0);
    const auto syntax =
            std::find_if(std::begin(commands), std::end(commands),
                         [&name](const CommandSyntax &c) { return name == QLatin1String(c.name); });
    if (syntax == std::end(commands))
        return name.isEmpty() ? QStringLiteral("no command given")
                              : QStringLiteral("unknown command \"%1\"").arg(name);
    options->command = syntax->command;
    if (positionals.size() != (syntax->takesText ? 2 : 1))
        return QStringLiteral("%1 takes %2 text")
                .arg(name, QLatin1String(syntax->takesText ? "one" : "no"));
    for (const QString &option : parser.optionNames()) {
        const auto own =
                std::find_if(syntax->options.cbegin(), syntax->options.cend(),
                             [&option](const char *o) { return option == QLatin1String(o); });
        if (option != QLatin1String("wait") && option != QLatin1String("size")
            && option != QLatin1String("interval") && own == syntax->options.cend())
            return QStringLiteral("option --%1 is not used by %2").arg(option, name);
    }
    const QString version = parser.value(QStringLiteral("version"));
    const QString url = parser.value(QStringLiteral("url"));
    switch (options->command) {
    case PeerOptions::Command::Download:
        if (version.isEmpty() || url.isEmpty())
            return QStringLiteral("download needs --version and --url, not empty");
        options->request = encodeUpdateRequest(parser.isSet(QStringLiteral("force-install"))
                                                       ? DOWNLOAD_FORCE_INSTALL
                                                       : DOWNLOAD_ONLY,
                                               version, url);
        break;
    case PeerOptions::Command::InstallNow:
        options->request = encodeUpdateRequest(INSTALL_NOW, version, QString());
        break;
    case PeerOptions::Command::Send:
        options->request = positionals.at(1);
        break;
    case PeerOptions::Command::Watch:
        break;
    }
    const struct
    {
        const char *name;
        double maximum;
        qint64 *value; // scaled, rounded up; stays -1 when the option is absent
        double scale;
    } numbers[] = { { "wait", 1e6, &options->waitMs, 1000.0 },
                    { "size", 1e15, &options->sizeBytes, 1.0 },
                    { "interval", 60000, &options->pollIntervalMs, 1.0 } };
    for (const auto &number : numbers) {
        const QString option = QLatin1String(number.name);
        if (!parser.isSet(option))
            continue;
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || !std::isfinite(value) || value <= 0.0 || value > number.maximum)
            return QStringLiteral("option --%1 needs a number above 0 and at most %2, not \"%3\"")
                    .arg(option, QString::number(number.maximum, 'g', 16), parser.value(option));
        *number.value = qint64(std::ceil(value * number.scale));
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
              text("Wait for the final status too, at most SECONDS (above 0, at most 1000000) "
                   "in all. Without it the tool waits 10 s for the request to be picked up."),
              text("SECONDS") },
            { text("size"), text("The package's size, to show bytes beside the bar."),
              text("BYTES") },
            { text("interval"), text("Look into the mailboxes every MS milliseconds (default 50)."),
              text("MS") },
    });
    parser.addHelpOption();

    PeerOptions options;
    QString error;
    if (!parser.parse(app.arguments()))
        error = parser.errorText();
    else if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitSuccess);
    else
        error = checkArguments(parser, &options);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "tessaly-peer: %s\nSee \"tessaly-peer --help\".\n", qPrintable(error));
        return ExitUsage;
    }

    qInstallMessageHandler(peerMessageHandler);
    PeerSession::catchInterrupts();

    PeerSession session(options, stdout, isatty(STDOUT_FILENO) == 1);
    QObject::connect(&session, &PeerSession::finished, &app, &QCoreApplication::exit);
    QTimer::singleShot(0, &session, &PeerSession::start);
    return app.exec();
}
