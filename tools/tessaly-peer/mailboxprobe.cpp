#include "mailboxprobe.h"

#include <algorithm>

#include "ipc/tessalyipc.h"

MailboxProbe::MailboxProbe(const QString &mailboxName)
    : m_name(mailboxName)
    , m_memory(TessalyIPC::memoryKey(mailboxName))
{
}

MailboxProbe::State MailboxProbe::inspect()
{
    if (!m_memory.attach(QSharedMemory::ReadOnly))
        return State::Missing;
    // No lock: a reader wipes the segment once and nobody writes into an
    // existing one, so seeing all zero is final and a half-wiped segment
    // only reads as still holding until the next look.
    const char *begin = static_cast<const char *>(m_memory.constData());
    const bool consumed = std::all_of(begin, begin + m_memory.size(), [](char c) { return c == 0; });
    m_memory.detach();
    return consumed ? State::Consumed : State::Holding;
}
