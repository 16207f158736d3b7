// tessaly-peer as a real child process, with this test playing the update
// service on real System V mailboxes (the child inherits the private TMPDIR).

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "ipc/mailboxwatch.h"
#include "ipc/tessalyipc.h"
#include "support/testsupport.h"

using namespace TestSupport;

class TestPeerTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exchange_data()
    {
        QTest::addColumn<QStringList>("lines"); // of one exchange in exchanges.txt
        const QString text = QString::fromUtf8(readFile(QStringLiteral(TESSALY_EXCHANGES)))
                                     .replace(u("$TMPDIR"), QDir::tempPath());
        for (const QString &exchange : text.split(u("\n== ")).mid(1)) {
            QStringList lines = exchange.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QTest::newRow(qPrintable(lines.takeFirst())) << lines;
        }
    }

    void exchange()
    {
        QFETCH(QStringList, lines);
        QHash<QString, QStringList> given; // keyword -> the rest of each of its lines
        for (const QString &line : qAsConst(lines))
            given[line.section(QLatin1Char(' '), 0, 0)] << line.section(QLatin1Char(' '), 1);
        TessalyIPC service(u("Tessaly"), u("TessalyUpdater")),
                otherApplication(u("TessalyUpdater"), u("Tessaly"));
        if (given.contains(u("busy")))
            otherApplication.IPCWrite(u("{\"action\":2}"));
        QStringList command = ownProgram(QStringLiteral(TESSALY_PEER_BINARY), given[u("args")]);
        if (given.contains(u("terminal"))) // script(1): a terminal, and the tool's exit code
            command = QStringList{ QStandardPaths::findExecutable(u("script")), u("-qec"),
                                   command.join(QLatin1Char(' ')), u("/dev/null") };
        QProcess peer;
        peer.start(command.takeFirst(), command);
        for (const QString &request : given[u("request")]) {
            QString read;
            QVERIFY(QTest::qWaitFor([&] { return !(read = service.IPCRead(true)).isEmpty(); },
                                    5000));
            QCOMPARE(read, request);
        }
        for (const QString &line : qAsConst(lines)) {
            if (line == QLatin1String("TERM")) {
                QVERIFY(QTest::qWaitFor([] { return !segmentBytes(u("Tessaly")).isNull(); }, 5000));
                peer.terminate();
            } else if (line.startsWith(QLatin1String("S "))
                       || line.startsWith(QLatin1String("P "))) {
                QVERIFY2(deliver(service, line.startsWith(QLatin1Char('S')), line.mid(2)),
                         qPrintable(line));
            }
        }
        QVERIFY2(peer.waitForFinished(20000), "tessaly-peer still running after 20 s");
        const QString output = QString::fromUtf8(peer.readAllStandardOutput())
                                       .replace(QLatin1Char('\r'), u("<CR>"))
                                       .replace(u("\x1b[K"), u("<EL>"));
        QCOMPARE(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts), given[u("out")]);
        QCOMPARE(QString::number(peer.exitStatus() == QProcess::NormalExit ? peer.exitCode() : -1),
                 given[u("exit")].value(0));
        // The tool leaves nothing behind in the request mailbox; another writer's request stays.
        if (given.contains(u("busy")))
            QCOMPARE(service.IPCRead(true), u("{\"action\":2}"));
        else
            QVERIFY(segmentBytes(u("Tessaly")).isNull());
    }

private:
    // One message at a time, each taken out by the tool before the next: a
    // write would replace an unread one. A write that went in has a segment of
    // a new id; one dropped while the tool read the old segment is made again.
    static bool deliver(TessalyIPC &service, bool toStatus, const QString &message)
    {
        const QString mailbox = toStatus ? u("TessalyUpdater") : u("TessalyUpdaterPercent");
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int before = MailboxWatch::segmentId(mailbox);
            toStatus ? service.IPCWrite(message) : service.IPCWritePercentage(message);
            if (MailboxWatch::segmentId(mailbox) != before)
                return QTest::qWaitFor(
                        [&] {
                            return segmentBytes(mailbox).count('\0')
                                    == segmentBytes(mailbox).size();
                        },
                        5000);
            QTest::qWait(50);
        }
        return false;
    }
};

TESSALY_MAILBOX_TEST_MAIN(TestPeerTool)
#include "tst_peertool.moc"
