#ifndef PROCESSSETUP_H
#define PROCESSSETUP_H

// How the service's process is set up around its QCoreApplication, so that a
// battery device pays as little as possible for an idle service and for each
// network event. The benchmarks use the same set-up, so they measure what the
// device runs.

// Before the QCoreApplication is built: use Qt's own event dispatcher rather
// than GLib's. GLib's wakes the loop through an eventfd for every event it
// passes on; with TLS that is one write and one read per 4 KiB decrypted.
void prepareServiceProcess();

// Right after the QCoreApplication is built: children (a package's
// deploy.sh may start the main application) must not inherit the dispatcher
// choice, and no Qt plugin is loaded. The network bearer plugins would
// otherwise start a D-Bus connection thread and poll the network interfaces
// every 10 s.
void completeServiceProcess();

#endif // PROCESSSETUP_H
