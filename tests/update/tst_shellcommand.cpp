#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "processprobe.h"
#include "support/testmain.h"
#include "update/shellcommand.h"

class TestShellCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void capturesOutputs_data();
    void capturesOutputs();
    void stopsOverrunningCommandWithItsGroup_data();
    void stopsOverrunningCommandWithItsGroup();
};

void TestShellCommand::capturesOutputs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    const QString sh = QStringLiteral("sh");
    const QString c = QStringLiteral("-c");
    QTest::newRow("each stream cut at its first zero byte")
            << sh << QStringList{ c, "printf 'ab\\0cd'; printf 'ef\\0gh' >&2" } << "ab" << "ef";
    QTest::newRow("UTF-8")
            << sh << QStringList{ c, "printf '\\303\\251'; printf '\\342\\202\\254' >&2" }
            << QString::fromUtf8("\xc3\xa9") << QString::fromUtf8("\xe2\x82\xac");
    QTest::newRow("exit code not looked at")
            << sh << QStringList{ c, "echo partial; exit 4" } << "partial\n" << "";
    // Started directly: no shell expands or splits anything.
    QTest::newRow("arguments passed unchanged")
            << "printf" << QStringList{ "%s|%s|", "a b", "$HOME;*" } << "a b|$HOME;*|" << "";
    // A daemon holding the output pipes does not make its parent overrun.
    QTest::newRow("background child outliving the command")
            << sh << QStringList{ c, "sleep 5 & echo done" } << "done\n" << "";
    QTest::newRow("program that cannot start")
            << "/nonexistent/tessaly-no-such-program" << QStringList() << "" << "";
}

void TestShellCommand::capturesOutputs()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QString, error);

    // Both texts are overwritten, also when the command wrote nothing.
    QString gotOutput = QStringLiteral("stale output");
    QString gotError = QStringLiteral("stale error");
    excuteShellCommand(program, arguments, gotOutput, gotError, 3000);
    QCOMPARE(gotOutput, output);
    QCOMPARE(gotError, error);
}

void TestShellCommand::stopsOverrunningCommandWithItsGroup_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errorBeforeStop");

    // %1 is the file the script writes its own and its child's ids to.
    const QString hang = QStringLiteral("sleep 30 & echo $! >> '%1'; sleep 30");
    QTest::newRow("output, then a hang with a background child")
            << "echo $$ > '%1'; echo started; " + hang << "started\n" << "";
    QTest::newRow("error line, then a hang")
            << "echo $$ > '%1'; echo 'half done' >&2; " + hang << "" << "half done\n";
    QTest::newRow("error text without a line end")
            << "echo $$ > '%1'; printf 'half done' >&2; " + hang << "" << "half done\n";
}

void TestShellCommand::stopsOverrunningCommandWithItsGroup()
{
    QFETCH(QString, line);
    QFETCH(QString, output);
    QFETCH(QString, errorBeforeStop);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    QString gotOutput;
    QString gotError;
    QElapsedTimer clock;
    clock.start();
    excuteShellCommand(QStringLiteral("sh"), { QStringLiteral("-c"), line.arg(pidFile) },
                       gotOutput, gotError, 400);
    // Far below the 30 s the command would have run.
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(gotOutput, output);
    QCOMPARE(gotError, errorBeforeStop + "sh did not finish within 400 ms and was stopped");
    const QList<qint64> pids = ProcessProbe::pidsFromFile(pidFile);
    QCOMPARE(pids.size(), 2);
    // The command has been reaped; its child dies as soon as the kernel
    // delivers the group's SIGKILL, which may be a moment later.
    QVERIFY(!ProcessProbe::isAlive(pids.at(0)));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessProbe::isAlive(pids.at(1)), 2000);
}

TESSALY_TEST_MAIN(TestShellCommand)
#include "tst_shellcommand.moc"
