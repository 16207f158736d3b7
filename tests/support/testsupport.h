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

// A fresh TMPDIR of this process's own while the object lives: Qt keys shared
// memory and semaphores by files there, so a test's mailboxes (and its
// children's) stay apart from every other test's and from a live service. On
// the way out the segments and semaphores keyed there are removed.
class PrivateTempDir
{
public:
    PrivateTempDir();
    ~PrivateTempDir();

private:
    Q_DISABLE_COPY(PrivateTempDir)
    QString m_path;
};

template<typename TestObject> int runTest(int argc, char **argv)
{
    PrivateTempDir tempDir;
    QCoreApplication app(argc, argv);
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace TestSupport

#define TESSALY_TEST_MAIN(TestObject) \
    int main(int argc, char **argv) \
    { \
        QTEST_SET_MAIN_SOURCE_PATH \
        return TestSupport::runTest<TestObject>(argc, argv); \
    }

#endif // TESTSUPPORT_H
