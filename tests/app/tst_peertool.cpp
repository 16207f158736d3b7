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
    void exchange_data();
    void exchange();

private:
    void startPeer(const QStringList &arguments, const QString &through = QString());
    bool deliver(bool toStatus, const QString &message);
    QString takeRequest();

    QProcess m_peer;
    TessalyIPC m_service{ u("Tessaly"), u("TessalyUpdater") };
};

void TestPeerTool::startPeer(const QStringList &arguments, const QString &through)
{
    QStringList command = ownProgram(QStringLiteral(TESSALY_PEER_BINARY), arguments);
    if (!through.isEmpty()) // script(1) gives the tool a terminal and ends with its exit code
        command = QStringList{ through, u("-qec"), command.join(QLatin1Char(' ')), u("/dev/null") };
    m_peer.start(command.takeFirst(), command);
    QVERIFY(m_peer.waitForStarted());
}

// One message at a time, each taken out by the tool before the next: a write
// would replace an unread one. A write that went in has a segment of a new id;
// one dropped while the tool was reading the old segment is made again.
bool TestPeerTool::deliver(bool toStatus, const QString &message)
{
    const QString mailbox = toStatus ? u("TessalyUpdater") : u("TessalyUpdaterPercent");
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int before = MailboxWatch::segmentId(mailbox);
        toStatus ? m_service.IPCWrite(message) : m_service.IPCWritePercentage(message);
        if (MailboxWatch::segmentId(mailbox) != before)
            return QTest::qWaitFor(
                    [&] {
                        return segmentBytes(mailbox).count('\0') == segmentBytes(mailbox).size();
                    },
                    5000);
        QTest::qWait(50);
    }
    return false;
}

QString TestPeerTool::takeRequest()
{
    QString request;
    return QTest::qWaitFor([&] { return !(request = m_service.IPCRead(true)).isEmpty(); }, 5000)
            ? request
            : QString();
}

void TestPeerTool::exchange_data()
{
    QTest::addColumn<QStringList>("lines"); // of one exchange in exchanges.txt
    const QString text = QString::fromUtf8(readFile(QStringLiteral(TESSALY_EXCHANGES)))
                                 .replace(u("$TMPDIR"), QDir::tempPath());
    for (const QString &exchange : text.split(u("\n== ")).mid(1)) {
        QStringList lines = exchange.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QTest::newRow(qPrintable(lines.takeFirst())) << lines;
    }
}

void TestPeerTool::exchange()
{
    QFETCH(QStringList, lines);
    const auto given = [&lines](const QString &key) {
        QStringList values;
        for (const QString &line : qAsConst(lines)) {
            if (line.section(QLatin1Char(' '), 0, 0) == key)
                values << line.section(QLatin1Char(' '), 1);
        }
        return values;
    };
    TessalyIPC otherApplication(u("TessalyUpdater"), u("Tessaly"));
    const bool busy = lines.contains(u("busy"));
    if (busy)
        otherApplication.IPCWrite(u("{\"action\":2}"));
    startPeer(given(u("args")),
              lines.contains(u("terminal")) ? QStandardPaths::findExecutable(u("script"))
                                            : QString());
    for (const QString &request : given(u("request")))
        QCOMPARE(takeRequest(), request);
    for (const QString &line : qAsConst(lines)) {
        if (line == QLatin1String("TERM")) {
            QVERIFY(QTest::qWaitFor([] { return !segmentBytes(u("Tessaly")).isNull(); }, 5000));
            m_peer.terminate();
        } else if (line.startsWith(QLatin1String("S ")) || line.startsWith(QLatin1String("P "))) {
            QVERIFY(deliver(line.startsWith(QLatin1Char('S')), line.mid(2)));
        }
    }
    QVERIFY(m_peer.waitForFinished(20000));
    const QString output = QString::fromUtf8(m_peer.readAllStandardOutput())
                                   .replace(QLatin1Char('\r'), u("<CR>"))
                                   .replace(u("\x1b[K"), u("<EL>"));
    QCOMPARE(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts), given(u("out")));
    QCOMPARE(QString::number(m_peer.exitStatus() == QProcess::NormalExit ? m_peer.exitCode() : -1),
             given(u("exit")).value(0));
    // The tool leaves nothing behind in the request mailbox; another writer's request stays.
    if (busy)
        QCOMPARE(m_service.IPCRead(true), u("{\"action\":2}"));
    else
        QVERIFY(segmentBytes(u("Tessaly")).isNull());
}

TESSALY_MAILBOX_TEST_MAIN(TestPeerTool)
#include "tst_peertool.moc"
