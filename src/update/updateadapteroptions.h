#ifndef UPDATEADAPTEROPTIONS_H
#define UPDATEADAPTEROPTIONS_H

#include <QString>

// Where the controller meets the outside world. The service always runs with
// defaults(); tests build other values to run the same code against their own
// mailboxes and folders.
struct UpdateAdapterOptions
{
    QString readMailbox;
    QString writeMailbox;
    QString appBinPath;
    // Downloads go to "<downloadApplicationDir>/data/" + downloadSubPath.
    QString downloadApplicationDir;
    QString downloadSubPath;
    QString preplacedPackagePath;
    int pollIntervalMs = 0;
    int commandTimeoutMs = 0;

    static UpdateAdapterOptions defaults();
};

#endif // UPDATEADAPTEROPTIONS_H
