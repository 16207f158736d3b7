#include "processsetup.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
const char glibSwitch[] = "QT_NO_GLIB";
}

void prepareServiceProcess() { qputenv(glibSwitch, "1"); }

void completeServiceProcess()
{
    qunsetenv(glibSwitch);
    QCoreApplication::setLibraryPaths(QStringList());
}
