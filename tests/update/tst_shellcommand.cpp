#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "processprobe.h"
#include "support/testmain.h"
#include "update/shellcommand.h"

#include <signal.h>

namespace {

QString sh()
{
    return QStringLiteral("sh");
}

QStringList shellLine(const QString &line)
{
    return { QStringLiteral("-c"), line };
}

} // namespace

class TestShellCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void capturesOutputs_data();
    void capturesOutputs();
    void runsInCallersWorkingDirectory();
    void stopsOverrunningCommandWithItsGroup_data();
    void stopsOverrunningCommandWithItsGroup();
    void childOutlivingTheCommandIsNotAnOverrun();
    void timeoutText();
};

void TestShellCommand::initTestCase()
{
    // Messages of the system tools in their untranslated form.
    qputenv("LC_ALL", "C");
}

void TestShellCommand::capturesOutputs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    QTest::newRow("stdout cut at the first zero byte")
            << sh() << shellLine(QStringLiteral("printf 'ab\\0cd'")) << QStringLiteral("ab")
            << QString();
    QTest::newRow("stderr cut at the first zero byte")
            << sh() << shellLine(QStringLiteral("printf 'ef\\0gh' >&2")) << QString()
            << QStringLiteral("ef");
    QTest::newRow("both streams apart")
            << sh() << shellLine(QStringLiteral("echo out; echo err >&2; echo more"))
            << QStringLiteral("out\nmore\n") << QStringLiteral("err\n");
    QTest::newRow("UTF-8 decoded")
            << sh() << shellLine(QStringLiteral("printf '\\303\\251\\342\\202\\254'; "
                                                "printf '\\303\\274' >&2"))
            << QString::fromUtf8("\xc3\xa9\xe2\x82\xac") << QString::fromUtf8("\xc3\xbc");
    QTest::newRow("non-zero exit, silent")
            << sh() << shellLine(QStringLiteral("exit 3")) << QString() << QString();
    QTest::newRow("non-zero exit, output kept")
            << sh() << shellLine(QStringLiteral("echo partial; exit 4"))
            << QStringLiteral("partial\n") << QString();
    QTest::newRow("killed by a signal, silent")
            << sh() << shellLine(QStringLiteral("kill -9 $$")) << QString() << QString();
    // Started directly: no shell expands or splits anything.
    QTest::newRow("arguments passed unchanged")
            << QStringLiteral("printf")
            << QStringList{ QStringLiteral("%s|%s|"), QStringLiteral("a b"),
                            QStringLiteral("$HOME;*") }
            << QStringLiteral("a b|$HOME;*|") << QString();
    // More than a pipe holds: the output must be drained while waiting.
    QTest::newRow("large output")
            << sh() << shellLine(QStringLiteral("head -c 300000 /dev/zero | tr '\\0' a"))
            << QString(300000, QLatin1Char('a')) << QString();
    QTest::newRow("program that cannot start")
            << QStringLiteral("/nonexistent/tessaly-no-such-program") << QStringList()
            << QString() << QString();
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

void TestShellCommand::runsInCallersWorkingDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("here")));
    QFile script(dir.filePath(QStringLiteral("here/script.sh")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("pwd -P\n");
    script.close();

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("here"))));
    QString output;
    QString error;
    excuteShellCommand(sh(), { QStringLiteral("script.sh") }, output, error, 3000);
    QVERIFY(QDir::setCurrent(previous));

    QCOMPARE(error, QString());
    QCOMPARE(output, QDir(dir.filePath(QStringLiteral("here"))).canonicalPath() + "\n");
}

void TestShellCommand::stopsOverrunningCommandWithItsGroup_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errorBeforeStop");

    // %1 is the file the script writes its own and its children's ids to.
    QTest::newRow("silent, with a background child")
            << QStringLiteral("echo $$ > '%1'; sleep 30 & echo $! >> '%1'; sleep 30")
            << QString() << QString();
    QTest::newRow("output before the hang")
            << QStringLiteral("echo $$ > '%1'; echo started; sleep 30") << QStringLiteral("started\n")
            << QString();
    QTest::newRow("error line before the hang")
            << QStringLiteral("echo $$ > '%1'; echo 'half done' >&2; sleep 30 & "
                              "echo $! >> '%1'; wait")
            << QString() << QStringLiteral("half done\n");
    QTest::newRow("error text without a line end")
            << QStringLiteral("echo $$ > '%1'; printf 'half done' >&2; sleep 30")
            << QString() << QStringLiteral("half done\n");
}

void TestShellCommand::stopsOverrunningCommandWithItsGroup()
{
    QFETCH(QString, line);
    QFETCH(QString, output);
    QFETCH(QString, errorBeforeStop);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    const int timeoutMs = 400;

    QString gotOutput;
    QString gotError;
    QElapsedTimer clock;
    clock.start();
    excuteShellCommand(sh(), shellLine(line.arg(pidFile)), gotOutput, gotError, timeoutMs);
    // Far below the 30 s the command would have run.
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(gotOutput, output);
    QCOMPARE(gotError, errorBeforeStop + QStringLiteral("sh did not finish within 400 ms and was stopped"));

    const QList<qint64> pids = ProcessProbe::pidsFromFile(pidFile);
    QVERIFY(!pids.isEmpty());
    // The command led a group of its own and the whole group got SIGKILL.
    // The command itself has been reaped; a child of it dies as soon as the
    // kernel delivers the signal, which may be a moment after the return.
    QVERIFY(!ProcessProbe::isAlive(pids.first()));
    QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::aliveInGroup(pids.first()), QList<qint64>(), 2000);
    for (qint64 pid : pids)
        QVERIFY2(!ProcessProbe::isAlive(pid), qPrintable(QString::number(pid)));
}

void TestShellCommand::childOutlivingTheCommandIsNotAnOverrun()
{
    // A script that leaves a daemon behind (holding the output pipes) has
    // still finished in time.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pids"));

    QString output;
    QString error;
    QElapsedTimer clock;
    clock.start();
    excuteShellCommand(sh(),
                       shellLine(QStringLiteral("sleep 30 & echo $! > '%1'; echo done").arg(pidFile)),
                       output, error, 3000);
    const qint64 elapsed = clock.elapsed();

    const QList<qint64> pids = ProcessProbe::pidsFromFile(pidFile);
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGKILL);

    QCOMPARE(pids.size(), 1);
    QCOMPARE(output, QStringLiteral("done\n"));
    QCOMPARE(error, QString());
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
}

void TestShellCommand::timeoutText()
{
    QCOMPARE(commandTimeoutText(QStringLiteral("sh"), 3000),
             QStringLiteral("sh did not finish within 3000 ms and was stopped"));
}

TESSALY_TEST_MAIN(TestShellCommand)
#include "tst_shellcommand.moc"
