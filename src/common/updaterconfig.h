#ifndef UPDATERCONFIG_H
#define UPDATERCONFIG_H

// The fixed values of the update service. Nothing at run time changes them:
// no option, environment variable or file is read. Tests that need other
// values pass them to the constructors made for that purpose.

#include <QString>

#include <chrono>

namespace UpdaterConfig {

inline QString applicationName() { return QStringLiteral("TessalyUpdater"); }
inline QString organizationName() { return QStringLiteral("Corvane"); }
inline QString organizationDomain() { return QStringLiteral("Halvorn"); }
inline QString applicationVersion() { return QStringLiteral(TESSALY_VERSION); }

// Mailbox names: the service reads the main application's outbox and writes
// its own. The main application uses the same two names swapped.
inline QString mainAppMailbox() { return QStringLiteral("Tessaly"); }
inline QString serviceMailbox() { return QStringLiteral("TessalyUpdater"); }
inline QString percentMailboxSuffix() { return QStringLiteral("Percent"); }

// Where the main application's executable is installed (trailing slash kept).
inline QString appBinPath() { return QStringLiteral("/home/corvane/Tessaly/bin/"); }

// Appended to "<application dir>/data/"; with the service installed in
// /home/corvane/TessalyUpdater/bin this resolves to /home/corvane/upgrade.
inline QString downloadSubPath() { return QStringLiteral("../../../upgrade"); }

// A package placed by hand, relative to the working directory (the
// executable's folder on the device).
inline QString preplacedPackagePath() { return QStringLiteral("./../../upgrade/Tessaly.gz"); }

constexpr int pollIntervalMs = 1000;

// How often the service looks for a mailbox semaphore that Qt made and left
// at 0, and how long such a one must have waited before it is opened.
constexpr std::chrono::milliseconds lockRescuePeriod{ 1000 };
constexpr std::chrono::seconds lockRescueMinimumAge{ 1 };
constexpr int commandTimeoutMs = 3000;

// Log files whose name date is this many days old or less are kept.
constexpr int logRetentionDays = 14;

} // namespace UpdaterConfig

#endif // UPDATERCONFIG_H
