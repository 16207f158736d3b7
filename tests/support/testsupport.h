#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

namespace TestSupport {

// A text of the test's own: short to write where a test holds many.
inline QString u(const char *utf8) { return QString::fromUtf8(utf8); }

// The whole file; a null array when it cannot be read.
QByteArray readFile(const QString &path);
// Creates the missing folders on the way.
bool writeFile(const QString &path, const QByteArray &data);

// Runs one of this build's programs: a cross build's emulator comes first.
QStringList ownProgram(const QString &path, const QStringList &arguments = {});

// A mailbox segment's raw bytes; a null array when there is no segment.
QByteArray segmentBytes(const QString &mailbox);

// Runs a test (exec) in an IPC namespace of the process's own where it can
// have one, so that no leaked or foreign System V segment or semaphore can
// reach its mailboxes and everything it made there goes with its last
// process, and with a fresh TMPDIR, where Qt keeps the mailboxes' key files;
// the folder is removed at the end, unless a test failed. A test that uses
// the mailboxes and can have no namespace exits with 77: ctest's "skipped".
int runTest(int argc, char **argv, bool usesMailboxes, const std::function<int()> &exec);

} // namespace TestSupport

#define TESSALY_TEST_MAIN_WITH(TestObject, usesMailboxes) \
    int main(int argc, char **argv) \
    { \
        QTEST_SET_MAIN_SOURCE_PATH \
        return TestSupport::runTest(argc, argv, usesMailboxes, [&] { \
            TestObject test; \
            return QTest::qExec(&test, argc, argv); \
        }); \
    }
#define TESSALY_TEST_MAIN(TestObject) TESSALY_TEST_MAIN_WITH(TestObject, false)
#define TESSALY_MAILBOX_TEST_MAIN(TestObject) TESSALY_TEST_MAIN_WITH(TestObject, true)

#endif // TESTSUPPORT_H
