#include <QCoreApplication>

#include "common/updaterconfig.h"
#include "common/vovodo_global.h"
#include "logging/logger.h"
#include "update/updateadapter.h"

// Every message of the process, from any thread, ends in the log files.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    Logger::getInstance(UpdaterConfig::applicationName()).log(type, msg);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(UpdaterConfig::applicationName());
    QCoreApplication::setOrganizationName(UpdaterConfig::organizationName());
    QCoreApplication::setOrganizationDomain(UpdaterConfig::organizationDomain());
    QCoreApplication::setApplicationVersion(UpdaterConfig::applicationVersion());

    // The service needs no Qt plugin. Without this, the network bearer
    // plugins load at start-up, open a D-Bus connection thread and poll the
    // network interfaces every 10 s: memory and wake-ups a battery device
    // pays for nothing.
    QCoreApplication::setLibraryPaths(QStringList());

    qInstallMessageHandler(messageHandler);

    UpdateAdapter updateAdapter(nullptr);
    return app.exec();
}
