#include "support/childprogram.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace TestSupport;

class TestChildProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void commandThroughEmulator_data();
    void commandThroughEmulator();
    void noEmulatorLeavesEveryCommandAlone();

    void shellCommandLineKeepsEveryWord_data();
    void shellCommandLineKeepsEveryWord();

    void startChildRunsThisBuildsProgram();
    void startChildRunsHostProgram();
    void shellRunsThisBuildsProgram();

private:
    bool writeFile(const QString &path, const QByteArray &content);

    QTemporaryDir m_dir;
    QByteArray m_ownHeader;
};

static const QStringList fakeEmulator = { QStringLiteral("/opt/emulator/qemu-arm"),
                                          QStringLiteral("-cpu"), QStringLiteral("cortex-a9") };

bool TestChildProgram::writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

void TestChildProgram::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile self(QStringLiteral("/proc/self/exe"));
    QVERIFY(self.open(QIODevice::ReadOnly));
    m_ownHeader = self.read(64);
    QCOMPARE(m_ownHeader.size(), 64);
    QVERIFY(m_ownHeader.startsWith("\x7f" "ELF"));

    QByteArray otherMachine = m_ownHeader;
    otherMachine[18] = static_cast<char>(otherMachine.at(18) ^ 0x01);

    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("same-machine")), m_ownHeader));
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("other-machine")), otherMachine));
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("truncated")), m_ownHeader.left(19)));
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("script")), "#!/bin/sh\necho hello\n"));
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("empty")), QByteArray()));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("onpath"))));
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("onpath/tessaly-own-tool")), m_ownHeader));
    QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("onpath/tessaly-own-tool")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestChildProgram::commandThroughEmulator_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("expected");

    const QStringList args = { QStringLiteral("--flag"), QStringLiteral("value with space") };
    const QString dir = m_dir.path();
    const QString same = dir + QStringLiteral("/same-machine");

    QTest::newRow("this test binary") << QCoreApplication::applicationFilePath()
                                      << fakeEmulator + QStringList { QCoreApplication::applicationFilePath() } + args;
    QTest::newRow("same machine") << same << fakeEmulator + QStringList { same } + args;
    QTest::newRow("same machine, path with dot-dot")
        << dir + QStringLiteral("/onpath/../same-machine")
        << fakeEmulator + QStringList { dir + QStringLiteral("/onpath/../same-machine") } + args;
    QTest::newRow("same machine, found on PATH")
        << QStringLiteral("tessaly-own-tool")
        << fakeEmulator + QStringList { dir + QStringLiteral("/onpath/tessaly-own-tool") } + args;
    QTest::newRow("other machine") << dir + QStringLiteral("/other-machine")
                                   << QStringList { dir + QStringLiteral("/other-machine") } + args;
    QTest::newRow("header cut short") << dir + QStringLiteral("/truncated")
                                      << QStringList { dir + QStringLiteral("/truncated") } + args;
    QTest::newRow("script") << dir + QStringLiteral("/script")
                            << QStringList { dir + QStringLiteral("/script") } + args;
    QTest::newRow("empty file") << dir + QStringLiteral("/empty")
                                << QStringList { dir + QStringLiteral("/empty") } + args;
    QTest::newRow("folder") << dir << QStringList { dir } + args;
    QTest::newRow("missing file") << dir + QStringLiteral("/missing")
                                  << QStringList { dir + QStringLiteral("/missing") } + args;
    QTest::newRow("name not on PATH") << QStringLiteral("tessaly-no-such-program")
                                      << QStringList { QStringLiteral("tessaly-no-such-program") } + args;
}

void TestChildProgram::commandThroughEmulator()
{
    QFETCH(QString, program);
    QFETCH(QStringList, expected);

    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("onpath"))) + ':' + oldPath);
    const QStringList command = TestSupport::commandThroughEmulator(
        fakeEmulator, program, { QStringLiteral("--flag"), QStringLiteral("value with space") });
    qputenv("PATH", oldPath);

    QCOMPARE(command, expected);
}

void TestChildProgram::noEmulatorLeavesEveryCommandAlone()
{
    const QStringList programs = { QCoreApplication::applicationFilePath(),
                                   m_dir.filePath(QStringLiteral("same-machine")),
                                   QStringLiteral("sh") };
    for (const QString &program : programs) {
        QCOMPARE(TestSupport::commandThroughEmulator({}, program, { QStringLiteral("-x") }),
                 (QStringList { program, QStringLiteral("-x") }));
    }
}

void TestChildProgram::shellCommandLineKeepsEveryWord_data()
{
    QTest::addColumn<QStringList>("words");

    QTest::newRow("plain") << QStringList { QStringLiteral("plain"), QStringLiteral("words") };
    QTest::newRow("spaces and tabs") << QStringList { QStringLiteral("a b"), QStringLiteral("\tc  ") };
    QTest::newRow("single quotes") << QStringList { QStringLiteral("it's"), QStringLiteral("''"), QStringLiteral("'") };
    QTest::newRow("double quotes and backslashes")
        << QStringList { QStringLiteral("\"x\""), QStringLiteral("back\\slash\\") };
    QTest::newRow("expansions") << QStringList { QStringLiteral("$HOME"), QStringLiteral("$(echo no)"),
                                                 QStringLiteral("`echo no`"), QStringLiteral("*"),
                                                 QStringLiteral("~") };
    QTest::newRow("operators") << QStringList { QStringLiteral("a;b"), QStringLiteral("|"), QStringLiteral("&&"),
                                                QStringLiteral(">out"), QStringLiteral("#comment") };
    QTest::newRow("empty word") << QStringList { QString(), QStringLiteral("after empty") };
    QTest::newRow("line break and non-ASCII")
        << QStringList { QStringLiteral("two\nlines"), QString::fromUtf8("\xce\xb2\xf0\x9f\x98\x80") };
}

// The shell itself is the judge: it must hand every word back unchanged.
void TestChildProgram::shellCommandLineKeepsEveryWord()
{
    QFETCH(QStringList, words);

    const QString line = shellCommandLine(QStringList { QStringLiteral("printf"), QStringLiteral("[%s]") } + words);
    QProcess shell;
    shell.setWorkingDirectory(m_dir.path());
    shell.start(QStringLiteral("sh"), { QStringLiteral("-c"), line });
    QVERIFY(shell.waitForFinished(30000));
    QCOMPARE(shell.readAllStandardError(), QByteArray());
    QString expected;
    for (const QString &word : qAsConst(words))
        expected += QLatin1Char('[') + word + QLatin1Char(']');
    QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()), expected);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("out"))));
}

// The test binary started as a child lists its own test functions: that only
// works when the child runs, under the emulator in a cross build.
void TestChildProgram::startChildRunsThisBuildsProgram()
{
    QProcess child;
    startChild(child, QCoreApplication::applicationFilePath(), { QStringLiteral("-functions") });
    QVERIFY2(child.waitForStarted(30000), qPrintable(child.errorString()));
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QByteArray listed = child.readAllStandardOutput();
    QVERIFY2(listed.contains("startChildRunsThisBuildsProgram()"), listed.constData());
    QCOMPARE(child.program(), childCommand(QCoreApplication::applicationFilePath()).first());
}

void TestChildProgram::startChildRunsHostProgram()
{
    QProcess child;
    startChild(child, QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("printf 'host %s' \"$0\""), QStringLiteral("ok") });
    QVERIFY2(child.waitForStarted(30000), qPrintable(child.errorString()));
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.readAllStandardOutput(), QByteArray("host ok"));
    QCOMPARE(child.program(), QStringLiteral("sh"));
}

// A child started from a shell command line, as `script -c` and `sh -c` do.
void TestChildProgram::shellRunsThisBuildsProgram()
{
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                { QStringLiteral("-c"),
                  childShellCommand(QCoreApplication::applicationFilePath(), { QStringLiteral("-functions") }) });
    QVERIFY(shell.waitForFinished(120000));
    QCOMPARE(shell.exitCode(), 0);
    const QByteArray listed = shell.readAllStandardOutput();
    QVERIFY2(listed.contains("shellRunsThisBuildsProgram()"), listed.constData());
}

TESSALY_TEST_MAIN(TestChildProgram)

#include "tst_childprogram.moc"
