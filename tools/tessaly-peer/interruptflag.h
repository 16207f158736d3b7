#ifndef INTERRUPTFLAG_H
#define INTERRUPTFLAG_H

// SIGINT, SIGTERM, SIGHUP and SIGPIPE only set a flag that the polling loop
// looks at, so the tool still detaches from its mailboxes on the way out: a
// request not yet picked up is then withdrawn instead of lingering.
void installInterruptHandlers();

// The number of the first signal received, 0 when none.
int receivedInterrupt();

#endif // INTERRUPTFLAG_H
