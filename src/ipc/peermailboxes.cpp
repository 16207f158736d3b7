#include "peermailboxes.h"

#include <algorithm>

#include "common/updaterconfig.h"

PeerMailboxes::PeerMailboxes()
    : m_ipc(UpdaterConfig::serviceMailbox(), UpdaterConfig::mainAppMailbox())
    , m_statusWatch(UpdaterConfig::serviceMailbox())
    , m_progressWatch(TessalyIPC::percentMailbox(UpdaterConfig::serviceMailbox()))
    , m_requestProbe(TessalyIPC::memoryKey(UpdaterConfig::mainAppMailbox()))
{
}

bool PeerMailboxes::write(const QString &request)
{
    const QString mailbox = UpdaterConfig::mainAppMailbox();
    const int before = MailboxWatch::segmentId(mailbox);
    m_ipc.IPCWrite(request);
    const int after = MailboxWatch::segmentId(mailbox);
    // Without System V ids to go by, a segment holding the request tells it.
    return after != -1 ? after != before : this->request() == Request::Holding;
}

// No lock: the service wipes a segment once and nobody writes into an
// existing one, so all zero is final and a half-wiped segment reads as holding
// until the next look.
PeerMailboxes::Request PeerMailboxes::request()
{
    // attach() also fails on its own lock (the segment's system semaphore),
    // which the service takes and frees as it reads: only a segment that is
    // not there is missing, anything else is looked at again.
    if (!m_requestProbe.attach(QSharedMemory::ReadOnly))
        return m_requestProbe.error() == QSharedMemory::NotFound ? Request::Missing
                                                                 : Request::Holding;
    const char *begin = static_cast<const char *>(m_requestProbe.constData());
    const bool taken =
            std::all_of(begin, begin + m_requestProbe.size(), [](char c) { return c == 0; });
    m_requestProbe.detach();
    return taken ? Request::Taken : Request::Holding;
}

QString PeerMailboxes::takeStatus()
{
    return m_statusWatch.take([this] { return m_ipc.IPCRead(true); });
}

QString PeerMailboxes::takeProgress()
{
    return m_progressWatch.take([this] { return m_ipc.IPCReadPercentage(true); });
}
