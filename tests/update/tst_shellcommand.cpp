#include <QtTest>

#include "support/testsupport.h"
#include "update/shellcommand.h"

using TestSupport::u;

class TestShellCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void run_data()
    {
        QTest::addColumn<QString>("command"); // program and arguments, separated by '|'
        QTest::addColumn<QString>("outputs"); // output|error
        QTest::newRow("cut at a zero byte") << "sh|-c|printf '\\303\\251\\0c'; printf 'e\\0f' >&2"
                                            << QString::fromUtf8("\xc3\xa9|e");
        QTest::newRow("no shell between") << "printf|%s.|a b|$HOME;*"
                                          << "a b.$HOME;*.|";
        QTest::newRow("child left running") << "sh|-c|sleep 2 & echo ok"
                                            << "ok\n|"; // pipes held
        QTest::newRow("overrun")
                << "sh|-c|sleep 30 & echo /proc/$!/stat >$TMPDIR/child; printf a >&2; sleep 30"
                << "|a\nsh did not finish within 1000 ms and was stopped"; // child: gone/zombie
    }

    void run()
    {
        QFETCH(QString, command);
        QFETCH(QString, outputs);
        QStringList arguments = command.split(QLatin1Char('|'));
        QString output = u("stale"), error = output;
        excuteShellCommand(arguments.takeFirst(), arguments, output, error, 1000);
        QCOMPARE(output + QLatin1Char('|') + error, outputs);
        const QByteArray child = TestSupport::readFile(QDir::tempPath() + u("/child"));
        QTRY_VERIFY(!TestSupport::readFile(QString::fromLatin1(child.trimmed())).contains(") S"));
    }
};

TESSALY_TEST_MAIN(TestShellCommand)
#include "tst_shellcommand.moc"
