#include <QCoreApplication>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"
#include "ipc/lockrescue.h"
#include "logging/logger.h"
#include "processsetup.h"
#include "update/updateadapter.h"

// Every message of the process, from any thread, ends in the log files.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    Logger::getInstance(UpdaterConfig::applicationName()).log(type, msg);
}

int main(int argc, char **argv)
{
    prepareServiceProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(UpdaterConfig::applicationName());
    QCoreApplication::setOrganizationName(UpdaterConfig::organizationName());
    QCoreApplication::setOrganizationDomain(UpdaterConfig::organizationDomain());
    QCoreApplication::setApplicationVersion(UpdaterConfig::applicationVersion());

    completeServiceProcess();

    qInstallMessageHandler(messageHandler);

    const LockRescue lockRescue(
            { UpdaterConfig::mainAppMailbox(), UpdaterConfig::serviceMailbox() },
            UpdaterConfig::lockRescuePeriod, UpdaterConfig::lockRescueMinimumAge);
    UpdateAdapter updateAdapter(nullptr);
    return app.exec();
}
