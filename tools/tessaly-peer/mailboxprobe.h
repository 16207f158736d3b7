#ifndef MAILBOXPROBE_H
#define MAILBOXPROBE_H

#include <QSharedMemory>
#include <QString>

// Looks into a mailbox's segment without taking its message out, to learn
// whether the reader has consumed it (a consumed segment is all zero).
// It attaches read-only and detaches at once; like any last detach, that
// also removes a segment nobody else is attached to any more.
class MailboxProbe
{
public:
    enum class State {
        Missing,  // no segment: nobody has written, or every writer is gone
        Holding,  // a message waits to be read
        Consumed, // every byte is zero
    };

    explicit MailboxProbe(const QString &mailboxName);

    State inspect();
    QString mailboxName() const { return m_name; }

private:
    Q_DISABLE_COPY(MailboxProbe)

    QString m_name;
    QSharedMemory m_memory;
};

#endif // MAILBOXPROBE_H
