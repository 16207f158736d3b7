// tessaly-peer: a stand-in for the main application on the update service's
// mailboxes. "tessaly-peer --help" tells how to use it.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <tuple>

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
  watch                       send nothing, show what the service says)";

const char epilog[] = R"(
Output: "delivered TEXT", "status COMMAND ... message=TEXT", "progress N%",
"error TEXT", one per line; on a terminal, progress is a bar redrawn in place.
Exit codes: 0 installed (without --wait: picked up), 1 failure reported,
2 usage error, 3 timed out, 4 request mailbox held or unusable, 128+N signal N.
)";

// The mailboxes log every message they carry; only their warnings matter here.
void peerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "tessaly-peer: %s\n", message.toLocal8Bit().constData());
}

// The checks QCommandLineParser cannot make: the command, the options that go
// with it (others are refused rather than ignored, so a typo in a script shows
// at once) and their values. Returns an error text, or empty.
QString checkArguments(const QCommandLineParser &parser, PeerOptions *options)
{
    QStringList positionals = parser.positionalArguments();
    const QString name = positionals.value(0);
    const QStringList commands = { QStringLiteral("download"), QStringLiteral("install-now"),
                                   QStringLiteral("send"), QStringLiteral("watch") };
    const QStringList optionsOf[] = { { QStringLiteral("version"), QStringLiteral("url"),
                                        QStringLiteral("force-install") },
                                      { QStringLiteral("version") },
                                      {},
                                      {} };
    const int command = commands.indexOf(name);
    if (command < 0)
        return name.isEmpty() ? QStringLiteral("no command given")
                              : QStringLiteral("unknown command \"%1\"").arg(name);
    options->command = PeerOptions::Command(command);
    if (options->command == PeerOptions::Command::Send && positionals.size() == 2)
        options->request = positionals.takeLast();
    if (positionals.size() != 1
        || (options->command == PeerOptions::Command::Send && options->request.isNull()))
        return QStringLiteral("%1 takes %2 text")
                .arg(name, QLatin1String(command == 2 ? "one" : "no"));
    for (const QString &option : parser.optionNames()) {
        if (option != QLatin1String("wait") && option != QLatin1String("size")
            && !optionsOf[command].contains(option))
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
    for (const auto &[name, maximum, target, scale] :
         { std::make_tuple(QStringLiteral("wait"), 1e6, &options->waitMs, 1000.0),
           std::make_tuple(QStringLiteral("size"), 1e15, &options->sizeBytes, 1.0) }) {
        bool ok = true;
        const double number = parser.isSet(name) ? parser.value(name).toDouble(&ok) : -1;
        if (!parser.isSet(name))
            continue;
        if (!ok || !std::isfinite(number) || number <= 0.0 || number > maximum)
            return QStringLiteral("option --%1 needs a number above 0 and at most %2, not \"%3\"")
                    .arg(name, QString::number(maximum, 'g', 16), parser.value(name));
        *target = qint64(std::ceil(number * scale));
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
              text("Wait for the final status too, at most SECONDS (0 to 1000000) in all. "
                   "Without it the tool waits 10 s for the request to be picked up."),
              text("SECONDS") },
            { text("size"), text("The package's size, to show bytes beside the bar."),
              text("BYTES") },
            { { text("h"), text("help") }, text("Show this text.") },
    });

    PeerOptions options;
    QString error;
    if (!parser.parse(app.arguments()))
        error = parser.errorText();
    else if (parser.isSet(QStringLiteral("help"))) {
        const QString usage =
                parser.helpText().replace(app.arguments().constFirst(), text("tessaly-peer"));
        std::fputs(qPrintable(usage + QString::fromUtf8(epilog)), stdout);
        return ExitSuccess;
    } else
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
