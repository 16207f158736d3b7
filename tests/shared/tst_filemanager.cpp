#include <QPointer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <vector>

#include "shared/filemanager.h"
#include "support/logcapture.h"
#include "support/testmain.h"

namespace {
enum Kind { Missing, Folder, File };
}
Q_DECLARE_METATYPE(Kind)

class TestFileManager : public QObject
{
    Q_OBJECT

private slots:
    void instanceIsSharedAndRenewed();
    void strayManagerLeavesSharedOne();
    void loadFile_data();
    void loadFile();
    void concurrentLoads();
    void stopManagerWaitsForRunningLoad();

private:
    QTemporaryDir dir;
};

void TestFileManager::instanceIsSharedAndRenewed()
{
    LogCapture log;
    FileManager *first = FileManager::instance();
    QVERIFY(first);
    QCOMPARE(FileManager::instance(), first);
    QCOMPARE(first->parent(), nullptr);

    QPointer<FileManager> firstAlive(first);
    delete first;
    QVERIFY(firstAlive.isNull());
    FileManager *second = FileManager::instance();
    QVERIFY(second);
    QCOMPARE(FileManager::instance(), second);
    delete second;

    const QList<LogCapture::Entry> expected = {
        { QtInfoMsg, QStringLiteral("FileManager::FileManager()") },
        { QtInfoMsg, QStringLiteral("FileManager::~FileManager()") },
        { QtInfoMsg, QStringLiteral("FileManager::FileManager()") },
        { QtInfoMsg, QStringLiteral("FileManager::~FileManager()") },
    };
    QCOMPARE(log.entries(), expected);
}

void TestFileManager::strayManagerLeavesSharedOne()
{
    FileManager *shared = FileManager::instance();
    auto cleanup = qScopeGuard([&] { delete shared; });
    {
        FileManager stray(nullptr);
    }
    LogCapture log;
    QCOMPARE(FileManager::instance(), shared);
    QVERIFY(log.entries().isEmpty());
}

void TestFileManager::loadFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    // The name as the debug stream escapes it; empty when nothing is reported.
    QTest::addColumn<QString>("reportedName");

    QTest::newRow("missing") << "missing.txt" << Missing << QByteArray() << QString() << "missing.txt";
    QTest::newRow("missing, quote in name") << "we\"ird" << Missing << QByteArray() << QString() << "we\\\"ird";
    QTest::newRow("folder") << "folder" << Folder << QByteArray() << QString() << "folder";
    QTest::newRow("empty file") << "empty" << File << QByteArray("") << QString() << QString();
    QTest::newRow("text") << "text" << File << QByteArray("line 1\r\nline 2\n") << "line 1\r\nline 2\n" << QString();
    QTest::newRow("utf-8") << "utf8" << File << QByteArray("Grüße 日本 ✓") << "Grüße 日本 ✓" << QString();
    QTest::newRow("zero byte cuts") << "zero" << File << QByteArray("abc\0def", 7) << "abc" << QString();
    QTest::newRow("leading zero byte") << "lead" << File << QByteArray("\0abc", 4) << "" << QString();
}

void TestFileManager::loadFile()
{
    QFETCH(QString, name);
    QFETCH(Kind, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(QString, reportedName);

    const QString path = dir.path() + QLatin1Char('/') + name;
    if (kind == Folder) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == File) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    FileManager manager(nullptr);
    LogCapture log;
    const QString result = manager.loadFile(path);
    QCOMPARE(result, expected);
    // An existing file gives a non-null text unless it holds no byte at all.
    QCOMPARE(result.isNull(), kind != File || bytes.isEmpty());

    QList<LogCapture::Entry> reports;
    if (!reportedName.isEmpty())
        reports.append({ QtWarningMsg, QStringLiteral("\"%1/%2 file can not be opened\"")
                                               .arg(dir.path(), reportedName) });
    QCOMPARE(log.entries(), reports);
}

void TestFileManager::concurrentLoads()
{
    const QString path = dir.path() + QStringLiteral("/shared.txt");
    const QByteArray bytes = QByteArray("Grüße 日本\n").repeated(500);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    const QString expected = QString::fromUtf8(bytes);
    FileManager manager(nullptr);
    std::vector<std::future<int>> running;
    for (int t = 0; t < 4; ++t) {
        running.push_back(std::async(std::launch::async, [&] {
            int mismatches = 0;
            for (int i = 0; i < 100; ++i)
                mismatches += manager.loadFile(path) != expected;
            return mismatches;
        }));
    }
    for (auto &job : running)
        QCOMPARE(job.get(), 0);
}

void TestFileManager::stopManagerWaitsForRunningLoad()
{
    const QByteArray pipePath = QFile::encodeName(dir.path() + QStringLiteral("/pipe"));
    QCOMPARE(::mkfifo(pipePath.constData(), 0600), 0);
    FileManager manager(nullptr);
    LogCapture log;
    std::future<QString> loader;
    std::future<void> stopper;
    int writeEnd = -1;
    // Runs before the futures wait for their threads, whatever fails below:
    // the loader must be let go.
    auto release = qScopeGuard([&] {
        if (writeEnd == -1 && loader.valid())
            writeEnd = ::open(pipePath.constData(), O_WRONLY);
        if (writeEnd >= 0)
            ::close(writeEnd);
    });
    loader = std::async(std::launch::async, [&] { return manager.loadFile(QFile::decodeName(pipePath)); });
    // The write end opens only once the loader, holding the mutex, has opened
    // the read end; it then blocks in reading until the write end closes.
    QElapsedTimer waited;
    waited.start();
    while ((writeEnd = ::open(pipePath.constData(), O_WRONLY | O_NONBLOCK)) < 0 && waited.elapsed() < 10000)
        QThread::msleep(5);
    QVERIFY(writeEnd >= 0);
    stopper = std::async(std::launch::async, [&] { manager.stopManager(); });
    QVERIFY(stopper.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout);
    QVERIFY(log.entries().isEmpty());

    const QByteArray text = "piped text";
    QCOMPARE(::write(writeEnd, text.constData(), size_t(text.size())), ssize_t(text.size()));
    ::close(writeEnd);
    writeEnd = -2;
    QVERIFY(loader.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QVERIFY(stopper.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QCOMPARE(loader.get(), QStringLiteral("piped text"));
    const QList<LogCapture::Entry> expected = { { QtInfoMsg, QStringLiteral("FileManager::stopManager()") } };
    QCOMPARE(log.entries(), expected);
}

TESSALY_TEST_MAIN(TestFileManager)
#include "tst_filemanager.moc"
