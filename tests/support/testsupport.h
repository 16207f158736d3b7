#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace TestSupport {

// A text of the test's own: short to write where a test holds many.
inline QString u(const char *utf8) { return QString::fromUtf8(utf8); }

// The whole file; a null array when it cannot be read.
QByteArray readFile(const QString &path);
// Creates the missing folders on the way.
bool writeFile(const QString &path, const QByteArray &data);

// Runs a program to its end (60 s at most); true when it exited with 0.
bool run(const QString &program, const QStringList &arguments, QString *output = nullptr);

// Runs one of this build's programs: a cross build's emulator comes first.
QStringList ownProgram(const QString &path, const QStringList &arguments = {});

// A mailbox segment's raw bytes; a null array when there is no segment.
QByteArray segmentBytes(const QString &mailbox);

// Whether a test needs the mailboxes, and so an IPC namespace of its own.
enum class Mailboxes { Unused, Used };

// What a test process runs in: an IPC namespace of its own (when it can have
// one), so that no leaked or foreign System V segment or semaphore can reach
// its mailboxes and everything it made there goes with its last process; and
// a fresh TMPDIR, where Qt keeps the mailboxes' key files. The folder is
// removed at the end, unless a test failed: then it is kept for a look.
class TestProcess
{
public:
    TestProcess();
    ~TestProcess();

    // Empty when the process is in a namespace of its own, else why not.
    QString namespaceRefusal() const { return m_refusal; }
    void keepFolder() { m_keep = true; }

private:
    Q_DISABLE_COPY(TestProcess)
    QString m_path;
    QString m_refusal;
    bool m_keep = false;
};

// ctest reports a test that exits with this code as skipped.
constexpr int skipExitCode = 77;

template<typename TestObject> int runTest(int argc, char **argv, Mailboxes mailboxes)
{
    TestProcess process;
    if (mailboxes == Mailboxes::Used && !process.namespaceRefusal().isEmpty()) {
        std::printf("SKIP: no IPC namespace of its own (%s)\n",
                    qPrintable(process.namespaceRefusal()));
        return skipExitCode;
    }
    QCoreApplication app(argc, argv);
    TestObject test;
    const int failures = QTest::qExec(&test, argc, argv);
    if (failures != 0)
        process.keepFolder();
    return failures;
}

} // namespace TestSupport

#define TESSALY_TEST_MAIN_WITH(TestObject, mailboxes) \
    int main(int argc, char **argv) \
    { \
        QTEST_SET_MAIN_SOURCE_PATH \
        return TestSupport::runTest<TestObject>(argc, argv, mailboxes); \
    }
#define TESSALY_TEST_MAIN(TestObject) \
    TESSALY_TEST_MAIN_WITH(TestObject, TestSupport::Mailboxes::Unused)
#define TESSALY_MAILBOX_TEST_MAIN(TestObject) \
    TESSALY_TEST_MAIN_WITH(TestObject, TestSupport::Mailboxes::Used)

#endif // TESTSUPPORT_H
