#include "updateadapteroptions.h"

#include <QCoreApplication>

#include "common/updaterconfig.h"

UpdateAdapterOptions UpdateAdapterOptions::defaults()
{
    UpdateAdapterOptions options;
    options.readMailbox = UpdaterConfig::mainAppMailbox();
    options.writeMailbox = UpdaterConfig::serviceMailbox();
    options.appBinPath = UpdaterConfig::appBinPath();
    options.downloadApplicationDir = QCoreApplication::applicationDirPath();
    options.downloadSubPath = UpdaterConfig::downloadSubPath();
    options.preplacedPackagePath = UpdaterConfig::preplacedPackagePath();
    options.pollIntervalMs = UpdaterConfig::pollIntervalMs;
    options.commandTimeoutMs = UpdaterConfig::commandTimeoutMs;
    return options;
}
