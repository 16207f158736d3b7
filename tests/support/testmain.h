#ifndef TESTMAIN_H
#define TESTMAIN_H

#include <QCoreApplication>
#include <QtTest>

namespace TestSupport {

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

#endif // TESTMAIN_H
