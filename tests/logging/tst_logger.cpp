#include <QtTest>

#include <iostream>
#include <thread>
#include <vector>

#include <unistd.h>

#include "common/updaterconfig.h"
#include "logging/logger.h"
#include "support/testsupport.h"

using TestSupport::readFile;
using TestSupport::u;

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Today's earliest file of this version is continued; name dates 15 or more days old
    // go, also at a day change; other programs' files stay, and so do files whose name
    // carries no date that could be read. With the service's handler
    // installed, reports of a direct call come back to the logger: not under its lock.
    void restartRetentionAndDayChange()
    {
        const QString folder = QDir::tempPath() + u("/logs/");
        const QString ours =
                u("TessalyUpdater_%1_2026_%2.log").arg(UpdaterConfig::applicationVersion());
        const QStringList before = { u("Tessaly_1.0_2026_01_01_00_00_00.log"),
                                     u("TessalyUpdaterGui_1.0_2026_01_01_00_00_00.log"),
                                     u("TessalyUpdater_1.0_2026_01_01_24_00_00.log"),
                                     u("TessalyUpdater_1.0_2026_02_30_10_00_00.log"),
                                     u("TessalyUpdater_crash_dump.log"),
                                     u("TessalyUpdater_1.0.256_2026_03_05_07_00_00.log"),
                                     ours.arg(u("03_05_13_00_00")),
                                     ours.arg(u("03_05_08_00_00")),
                                     ours.arg(u("02_19_00_00_00")),
                                     ours.arg(u("02_18_23_00_00")) };
        for (const QString &name : before)
            QVERIFY(TestSupport::writeFile(folder + name, "old\n"));
        static QDateTime now(QDate(2026, 3, 5), QTime(14, 7, 9, 123));
        static Logger logger(
                u("TessalyUpdater"), folder, [] { return now; }, nullptr);
        QVERIFY(QFile::exists(folder + before.at(8)));
        const QtMessageHandler testsHandler =
                qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &,
                                          const QString &text) { logger.log(type, text); });
        logger.init();
        logger.log(QtCriticalMsg, u("%1 [%2] 100%"));
        logger.log(QtMsgType(5), u("restarted"));
        now = QDateTime(QDate(2026, 3, 6), QTime(0, 0, 30, 1));
        logger.log(QtWarningMsg, u("new day"));
        qInstallMessageHandler(testsHandler);

        QCOMPARE(readFile(folder + before.at(7)),
                 "old\n2026-03-05T14:07:09.123 [INFO] Selecting exisitng log file:  "
                         + before.at(7).toUtf8()
                         + "\n2026-03-05T14:07:09.123 [ERROR] %1 [%2] 100%\n"
                           "2026-03-05T14:07:09.123 [UNKNOWN] restarted\n");
        QStringList after = before.mid(0, 8) << ours.arg(u("03_06_00_00_30"));
        QVERIFY(readFile(folder + after.last()).endsWith(" [WARNING] new day\n"));
        after.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), after);
    }

    // When the day's file cannot be opened, or a line cannot be written to it, the lines go
    // to standard error; the file is tried again, after a failed open only once a minute.
    void standardError_data()
    {
        QTest::addColumn<QString>("breakage"); // what stands where the logs or the day's file go
        QTest::addColumn<QString>("onStandardError"); // with the time stamps masked
        QTest::newRow("folder unusable")
                << u("logs") << u("$* Failed to open log file. \nT [INFO] one\nT [ERROR] two\n");
        QTest::newRow("disk full")
                << u("logs/") + ours(u("03_05_09_00_00")) << u("T [INFO] one\nT [ERROR] two\n");
    }

    void standardError()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, onStandardError);
        const QString folder = QDir::tempPath() + u("/") + QLatin1String(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(QFileInfo(folder + u("/") + breakage).path()));
        QVERIFY(QFile::link(u("/dev/full"), folder + u("/") + breakage));
        QFile capture(folder + u("/stderr"));
        const int standardError = ::dup(STDERR_FILENO);
        QVERIFY(capture.open(QIODevice::WriteOnly) && ::dup2(capture.handle(), STDERR_FILENO) >= 0);
        QDateTime now(QDate(2026, 3, 5), QTime(10, 0));
        Logger logger(
                u("TessalyUpdater"), folder + u("/logs/"), [&now] { return now; }, nullptr);
        logger.log(QtInfoMsg, u("one"));
        now = now.addSecs(59);
        logger.log(QtCriticalMsg, u("two"));
        // The storage is back; a day's file whose write failed is still there.
        QVERIFY(QFile::remove(folder + u("/") + breakage));
        QVERIFY(!breakage.contains(QLatin1Char('/'))
                || QFile(folder + u("/") + breakage).open(QIODevice::WriteOnly));
        now = now.addSecs(1);
        logger.log(QtWarningMsg, u("three"));
        std::cerr.flush();
        ::dup2(standardError, STDERR_FILENO);
        const QString seen =
                QString::fromUtf8(readFile(capture.fileName()))
                        .replace(QRegularExpression(u("^.* Failed to open")),
                                 u("$* Failed to open"))
                        .replace(QRegularExpression(u("2026-03-05T10:00:..\\.000")), u("T"));
        QCOMPARE(seen, onStandardError);
        const QString logs = folder + u("/logs/");
        QCOMPARE(readFile(logs + QDir(logs).entryList(QDir::Files).value(0)),
                 QByteArray("2026-03-05T10:01:00.000 [WARNING] three\n"));
    }

    // Lines of several threads at once are all written, each whole.
    void severalThreads()
    {
        const QString time = u("2026-03-05T10:00:00.000 [INFO] ");
        QStringList expected;
        for (int i = 0; i < 4000; ++i)
            expected << time + u("line %1 of thread %2 ").arg(i).arg(i % 8)
                            + QString(100, QLatin1Char('x'));
        Logger logger(
                u("TessalyUpdater"), QDir::tempPath() + u("/threads/"),
                [] { return QDateTime(QDate(2026, 3, 5), QTime(10, 0)); }, nullptr);
        // std::thread, whose join ThreadSanitizer sees; QThread::wait() it would not.
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < expected.size(); i += 8)
                    logger.log(QtInfoMsg, expected.at(i).mid(time.size()));
            });
        for (std::thread &thread : threads)
            thread.join();
        QStringList lines = QString::fromUtf8(readFile(logger.getLogFileName()))
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.sort();
        expected.sort();
        QCOMPARE(lines, expected);
    }

private:
    static QString ours(const QString &time)
    {
        return u("TessalyUpdater_%1_2026_%2.log").arg(UpdaterConfig::applicationVersion(), time);
    }
};

TESSALY_TEST_MAIN(TestLogger)

#include "tst_logger.moc"
