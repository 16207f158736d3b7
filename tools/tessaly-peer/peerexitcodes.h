#ifndef PEEREXITCODES_H
#define PEEREXITCODES_H

enum PeerExitCode : int {
    ExitSuccess = 0,
    ExitFailureReported = 1,
    ExitUsage = 2,
    ExitTimedOut = 3,
    ExitMailboxUnusable = 4,
};

// The exit code a status message's "command" ends the wait with, or -1 when
// the message is not a final one.
int exitCodeForCommand(int command);

// Shells report a process ended by a signal the same way.
int exitCodeForSignal(int signalNumber);

#endif // PEEREXITCODES_H
