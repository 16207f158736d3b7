#ifndef PEERLOGHANDLER_H
#define PEERLOGHANDLER_H

// The mailboxes log every message they send or read at info level; that
// would drown the tool's own output. Debug and info lines are dropped, or
// with verbose written to standard error; warnings and worse always are.
void installPeerMessageHandler(bool verbose);

#endif // PEERLOGHANDLER_H
