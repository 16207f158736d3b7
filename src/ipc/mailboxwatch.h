#ifndef MAILBOXWATCH_H
#define MAILBOXWATCH_H

#include <QByteArray>
#include <QString>

#include <functional>

// How the reading side of a mailbox polls it without making the writer lose
// messages. A writer gives up its previous segment and creates a new one under
// the same key; while a reader is attached to the previous one, that creation
// fails and the message is dropped. So a reader should attach only to a
// segment it has not read yet: this asks the kernel for the segment's System V
// id and attach count, which needs no attach. A loss then needs two writes
// within one read. Where Qt uses POSIX IPC instead of System V, every poll
// reads.
class MailboxWatch
{
public:
    explicit MailboxWatch(const QString &mailboxName);

    // What read (the mailbox's own read) returns, called only for a segment
    // not read yet, for one read empty only once (its writer may have been
    // between creating it and filling it), and for one that no process is
    // attached to any more (its writer died: reading it lets the system
    // remove it, so that a new writer can create it again). Else nothing.
    //
    //     const QString status = watch.take([&] { return ipc.IPCRead(true); });
    QString take(const std::function<QString()> &read);

    // The System V id of the segment that holds the mailbox's message now, or
    // -1 when there is none. A writer whose new segment got an id of its own
    // knows that its message went in.
    static int segmentId(const QString &mailboxName);

private:
    bool worthReading();

    QByteArray m_keyFile;
    int m_currentId = -1;
    int m_readId = -1;
    bool m_readAgain = false;
};

#endif // MAILBOXWATCH_H
