#ifndef PEERMAILBOXES_H
#define PEERMAILBOXES_H

#include <QSharedMemory>
#include <QString>

#include "mailboxwatch.h"
#include "tessalyipc.h"

// The main application's side of the update service's mailboxes, used with
// the care the fixed protocol asks of it: the service's messages are read
// through MailboxWatch, so that this side is never attached to an old segment
// when the service writes a new one, and a request counts as written only
// once it has a segment of its own. tessaly-peer and the tests play the main
// application with it.
class PeerMailboxes
{
public:
    enum class Request {
        Missing, // no request segment at all
        Holding, // a request the service has not taken yet
        Taken, // the service took the request and wiped the segment
    };

    PeerMailboxes();

    // One try at writing a request; false when it did not go in (the service
    // was reading the previous segment just then): try again a little later.
    bool write(const QString &request);
    // Looks into the request segment without taking the message out.
    Request request();

    QString takeStatus();
    QString takeProgress();

private:
    Q_DISABLE_COPY(PeerMailboxes)

    TessalyIPC m_ipc;
    MailboxWatch m_statusWatch;
    MailboxWatch m_progressWatch;
    QSharedMemory m_requestProbe;
};

#endif // PEERMAILBOXES_H
