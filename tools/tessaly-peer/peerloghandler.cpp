#include "peerloghandler.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace {

bool showInfo = false;

void peerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !showInfo)
        return;
    std::fprintf(stderr, "tessaly-peer: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void installPeerMessageHandler(bool verbose)
{
    showInfo = verbose;
    qInstallMessageHandler(peerMessageHandler);
}
