// The main application's end of the mailboxes, in a process of its own, for
// tests that need a real second process. Messages cross the command line and
// standard output as the hexadecimal of their segment bytes, so null, empty
// and any text survive unchanged.
//
//   ipcpeerhelper command|percent read        print what the mailbox holds
//   ipcpeerhelper command|percent write HEX   write, print "written", then stay
//                                             attached until stdin ends

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include "ipc/tessalyipc.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool percent = args.value(0) == QLatin1String("percent");
    const QString action = args.value(1);

    // The main application's view: it reads the service's outbox.
    TessalyIPC ipc(QStringLiteral("TessalyUpdater"), QStringLiteral("Tessaly"));

    if (action == QLatin1String("read") && args.size() == 2) {
        const QString message = percent ? ipc.IPCReadPercentage(false) : ipc.IPCRead(false);
        std::printf("%s\n", encodeMailboxSegment(message).toHex().constData());
        return 0;
    }
    if (action == QLatin1String("write") && args.size() == 3) {
        const QString message = decodeMailboxSegment(QByteArray::fromHex(args.at(2).toLatin1()));
        if (percent)
            ipc.IPCWritePercentage(message);
        else
            ipc.IPCWrite(message);
        std::printf("written\n");
        std::fflush(stdout);
        // The segment lives only while its writer is attached.
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        input.readAll();
        return 0;
    }
    std::fputs("usage: ipcpeerhelper command|percent read|write HEX\n", stderr);
    return 64;
}
