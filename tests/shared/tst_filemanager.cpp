#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

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

    QTemporaryDir dir;

private Q_SLOTS:
    void instanceIsSharedAndRenewed()
    {
        LogCapture log;
        FileManager *first = FileManager::instance();
        QVERIFY(first);
        QCOMPARE(FileManager::instance(), first);
        QCOMPARE(first->parent(), nullptr);
        {
            // One made by hand must not orphan the shared one.
            FileManager stray(nullptr);
        }
        QCOMPARE(FileManager::instance(), first);
        delete first;
        FileManager *second = FileManager::instance();
        QVERIFY(second);
        QCOMPARE(FileManager::instance(), second);
        delete second;

        const LogCapture::Entry made{ QtInfoMsg, QStringLiteral("FileManager::FileManager()") };
        const LogCapture::Entry gone{ QtInfoMsg, QStringLiteral("FileManager::~FileManager()") };
        QCOMPARE(log.entries(), (QList<LogCapture::Entry>{ made, made, gone, gone, made, gone }));
    }

    void loadFile_data()
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
        QTest::newRow("utf-8 text") << "text" << File << QByteArray("line 1\r\nGrüße 日本 ✓\n") << "line 1\r\nGrüße 日本 ✓\n" << QString();
        QTest::newRow("zero byte cuts") << "zero" << File << QByteArray("abc\0def", 7) << "abc" << QString();
        QTest::newRow("leading zero byte") << "lead" << File << QByteArray("\0abc", 4) << "" << QString();
    }

    void loadFile()
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
        QString result;
        QVERIFY(QMetaObject::invokeMethod(&manager, "loadFile", Q_RETURN_ARG(QString, result), Q_ARG(QString, path)));
        QCOMPARE(result, expected);
        // An existing file gives a non-null text unless it holds no byte at all.
        QCOMPARE(result.isNull(), kind != File || bytes.isEmpty());
        QList<LogCapture::Entry> reports;
        if (!reportedName.isEmpty())
            reports.append({ QtWarningMsg, QStringLiteral("\"%1/%2 file can not be opened\"").arg(dir.path(), reportedName) });
        QCOMPARE(log.entries(), reports);
    }

    void stopManagerWaitsForRunningLoad()
    {
        const QByteArray pipePath = QFile::encodeName(dir.path() + QStringLiteral("/pipe"));
        QCOMPARE(::mkfifo(pipePath.constData(), 0600), 0);
        FileManager manager(nullptr);
        LogCapture log;
        auto loader = std::async(std::launch::async, [&] { return manager.loadFile(QFile::decodeName(pipePath)); });
        // The write end opens only once the loader, holding the mutex, has opened
        // the read end; the loader then reads until the write end closes.
        int writeEnd = -1;
        for (int tries = 0; writeEnd < 0 && tries < 2000; ++tries, QThread::msleep(5))
            writeEnd = ::open(pipePath.constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY(writeEnd >= 0);
        auto stopper = std::async(std::launch::async, [&] {
            return QMetaObject::invokeMethod(&manager, "stopManager", Qt::DirectConnection);
        });
        const bool stopperWaited = stopper.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
        const bool silentWhileWaiting = log.entries().isEmpty();
        const ssize_t written = ::write(writeEnd, "piped text", 10);
        ::close(writeEnd);
        QCOMPARE(loader.get(), QStringLiteral("piped text"));
        QVERIFY(stopper.get());
        QCOMPARE(written, ssize_t(10));
        QVERIFY(stopperWaited);
        QVERIFY(silentWhileWaiting);
        const QList<LogCapture::Entry> expected = { { QtInfoMsg, QStringLiteral("FileManager::stopManager()") } };
        QCOMPARE(log.entries(), expected);
    }
};

TESSALY_TEST_MAIN(TestFileManager)
#include "tst_filemanager.moc"
