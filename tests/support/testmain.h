#ifndef TESTMAIN_H
#define TESTMAIN_H

#include <QCoreApplication>
#include <QtTest>

namespace TestSupport {

// Points TMPDIR at a fresh folder of this process's own for as long as the
// object lives. Qt maps shared-memory and semaphore keys through files in
// QDir::tempPath(), so this keeps a test's mailboxes apart from every other
// test's and from a service running on the machine; children inherit it.
// On the way out the segments and semaphores keyed there are removed too.
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
