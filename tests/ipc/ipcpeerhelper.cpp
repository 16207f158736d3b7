// The main application's end of the mailboxes, in a process of its own, for
// tests that need a real second process. Messages cross the command line and
// standard output as the hexadecimal of their data-stream frame (4-byte count,
// UTF-16BE), so null, empty and any text survive unchanged.
//
//   ipcpeerhelper command|percent read         print what the mailbox holds
//   ipcpeerhelper command|percent write HEX    write, print "written", then
//                                              stay attached until stdin ends
//   ipcpeerhelper command|percent wait MS      print "waiting", poll until a
//                                              message arrives, print it

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

#include "ipc/tessalyipc.h"

namespace {

QByteArray frameHex(const QString &message)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    out << message;
    return buffer.data().toHex();
}

QString fromFrameHex(const QByteArray &hex)
{
    QDataStream in(QByteArray::fromHex(hex));
    QString message;
    in >> message;
    return message;
}

void printLine(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage()
{
    std::fputs("usage: ipcpeerhelper command|percent read|write HEX|wait MS\n", stderr);
    return 64;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return usage();
    const bool percent = args.at(0) == QLatin1String("percent");
    const QString &action = args.at(1);

    // The main application's view: it reads the service's outbox.
    TessalyIPC ipc(QStringLiteral("TessalyUpdater"), QStringLiteral("Tessaly"));
    auto read = [&](bool silent) {
        return percent ? ipc.IPCReadPercentage(silent) : ipc.IPCRead(silent);
    };

    if (action == QLatin1String("read")) {
        printLine(frameHex(read(false)));
        return 0;
    }
    if (action == QLatin1String("write") && args.size() == 3) {
        const QString message = fromFrameHex(args.at(2).toLatin1());
        if (percent)
            ipc.IPCWritePercentage(message);
        else
            ipc.IPCWrite(message);
        printLine("written");
        // The segment lives only while its writer is attached.
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        input.readAll();
        return 0;
    }
    if (action == QLatin1String("wait") && args.size() == 3) {
        const int timeoutMs = args.at(2).toInt();
        printLine("waiting");
        QElapsedTimer timer;
        timer.start();
        while (!timer.hasExpired(timeoutMs)) {
            const QString message = read(false);
            if (!message.isEmpty()) {
                printLine(frameHex(message));
                return 0;
            }
            QThread::msleep(5);
        }
        return 2;
    }
    return usage();
}
