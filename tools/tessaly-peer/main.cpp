// tessaly-peer: a stand-in for the main application on the update service's
// mailboxes. "tessaly-peer --help" tells how to use it.

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

#include "consoleview.h"
#include "interruptflag.h"
#include "peerexitcodes.h"
#include "peerloghandler.h"
#include "peeroptions.h"
#include "peersession.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    const ParsedArguments parsed = parseArguments(app.arguments().mid(1));
    if (!parsed.ok()) {
        std::fprintf(stderr, "tessaly-peer: %s\nRun \"tessaly-peer --help\" for the commands and options.\n",
                     parsed.error.toUtf8().constData());
        return ExitUsage;
    }
    if (parsed.options.command == PeerCommand::Help) {
        std::fputs(usageText().toUtf8().constData(), stdout);
        return ExitSuccess;
    }

    installPeerMessageHandler(parsed.options.verbose);
    installInterruptHandlers();

    ConsoleView view(stdout, isatty(STDOUT_FILENO) == 1, parsed.options.sizeBytes);
    PeerSession session(parsed.options, view);
    QObject::connect(&session, &PeerSession::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &session, &PeerSession::start);
    return app.exec();
}
