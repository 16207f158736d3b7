#include <QtTest>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "logging/logger.h"
#include "support/childprogram.h"
#include "support/logcapture.h"
#include "support/testmain.h"

namespace {

const QString appName = QStringLiteral("TessalyUpdater");
const QString firstFile = QStringLiteral("TessalyUpdater_1.0.257_2026_03_05_14_07_09.log");

QDateTime at(int year, int month, int day, int hour, int minute, int second, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::LocalTime);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read ") + path.toUtf8() + ">";
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &data, const QDateTime &modified = {})
{
    {
        QFile file(path);
        // Flushed before the time is set, or the close would stamp it afresh.
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush())
            return false;
        if (modified.isValid() && !file.setFileTime(modified, QFileDevice::FileModificationTime))
            return false;
    }
    return !modified.isValid() || QFileInfo(path).lastModified() == modified;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QStringList reportsStartingWith(const LogCapture &capture, const QString &start)
{
    const QRegularExpression atStart('^' + QRegularExpression::escape(start));
    return capture.messages(QtInfoMsg).filter(atStart);
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private:
    Logger::Clock clock()
    {
        return [this] { return m_now; };
    }

    QDateTime m_now;
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_folder;

private Q_SLOTS:
    void init();
    void firstStartCreatesFolderAndFile();
    void restartOnTheSameDay_data();
    void restartOnTheSameDay();
    void lineFormat_data();
    void lineFormat();
    void dayChangeAtMidnight_data();
    void dayChangeAtMidnight();
    void retentionByNameDate();
    void currentFileDeleted();
    void fallbackToStandardError();
    void concurrentLinesNeverInterleave_data();
    void concurrentLinesNeverInterleave();
    void directCallsWithTheHandlerInstalled();
};

void TestLogger::init()
{
    m_now = at(2026, 3, 5, 14, 7, 9, 123);
    // Free of "_", unlike QTemporaryDir's default, which carries the binary's name.
    m_tmp = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/logtest-XXXXXX"));
    QVERIFY(m_tmp->isValid());
    m_folder = m_tmp->path() + "/logs/";
}

void TestLogger::firstStartCreatesFolderAndFile()
{
    const QString folder = m_tmp->path() + "/home/corvane/TessalyUpdater/bin/logs/";
    const QString path = folder + firstFile;

    LogCapture capture;
    Logger logger(appName, folder, clock(), nullptr);

    QCOMPARE(filesIn(folder), QStringList { firstFile });
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(capture.messages(),
             (QStringList { "Operating log file :  " + path, "Log file :  " + path }));
    QCOMPARE(capture.messages(QtInfoMsg).size(), 2);
    QCOMPARE(contents(path), QByteArray());

    logger.log(QtInfoMsg, "service started");
    m_now = m_now.addSecs(5);
    logger.log(QtDebugMsg, "tick");
    QCOMPARE(contents(path), QByteArray("2026-03-05T14:07:09.123 [INFO] service started\n"
                                        "2026-03-05T14:07:14.123 [DEBUG] tick\n"));
    // The open file is kept: no further reports for later lines.
    QCOMPARE(capture.messages().size(), 2);
}

void TestLogger::restartOnTheSameDay_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("selected");

    QTest::newRow("earliest of several")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_05_13_00_00.log",
                             "TessalyUpdater_1.0.257_2026_03_05_08_00_00.log",
                             "TessalyUpdater_1.0.257_2026_03_05_11_30_00.log" }
            << "TessalyUpdater_1.0.257_2026_03_05_08_00_00.log";
    QTest::newRow("name order ignores letter case")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_05_10_00_00.log",
                             "tessalyupdater_1.0.257_2026_03_05_09_00_00.log" }
            << "tessalyupdater_1.0.257_2026_03_05_09_00_00.log";
    QTest::newRow("another version's file of today")
            << QStringList { "TessalyUpdater_1.0.256_2026_03_05_08_00_00.log" } << "";
    QTest::newRow("only yesterday's file")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_04_23_59_59.log" } << "";
    QTest::newRow("today's name but not a .log file")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_05_08_00_00.txt" } << "";
}

void TestLogger::restartOnTheSameDay()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, selected);

    QVERIFY(QDir().mkpath(m_folder));
    for (const QString &name : existing)
        QVERIFY(writeFile(m_folder + name, "earlier line of " + name.toUtf8() + "\n"));

    LogCapture capture;
    Logger logger(appName, m_folder, clock(), nullptr);
    logger.log(QtWarningMsg, "after restart");

    const QString path = m_folder + (selected.isEmpty() ? firstFile : selected);
    const QByteArray earlier =
            selected.isEmpty() ? "" : "earlier line of " + selected.toUtf8() + "\n";
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(contents(path), earlier + "2026-03-05T14:07:09.123 [WARNING] after restart\n");
    QCOMPARE(filesIn(m_folder).size(), existing.size() + (selected.isEmpty() ? 1 : 0));
    QCOMPARE(reportsStartingWith(capture, "Selecting"),
             selected.isEmpty() ? QStringList()
                                : QStringList { "Selecting exisitng log file:  " + selected });
    QCOMPARE(reportsStartingWith(capture, "Operating log file"),
             QStringList { "Operating log file :  " + path });
    QCOMPARE(reportsStartingWith(capture, "Log file"), QStringList { "Log file :  " + path });
    for (const QString &name : existing) {
        if (name != selected)
            QCOMPARE(contents(m_folder + name), "earlier line of " + name.toUtf8() + "\n");
    }
}

void TestLogger::lineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("colour");

    const QByteArray stamp = "2026-03-05T14:07:09.123 ";
    QTest::newRow("debug") << int(QtDebugMsg) << "d" << stamp + "[DEBUG] d\n" << "darkBlue";
    QTest::newRow("info") << int(QtInfoMsg) << "i" << stamp + "[INFO] i\n" << "darkBlue";
    QTest::newRow("warning") << int(QtWarningMsg) << "x" << stamp + "[WARNING] x\n" << "red";
    QTest::newRow("critical") << int(QtCriticalMsg) << "c" << stamp + "[ERROR] c\n" << "red";
    QTest::newRow("fatal") << int(QtFatalMsg) << "f" << stamp + "[FATAL] f\n" << "red";
    QTest::newRow("type 5") << 5 << "u" << stamp + "[UNKNOWN] u\n" << "darkBlue";
    QTest::newRow("placeholders and percent signs") << int(QtInfoMsg) << "%1 [%2] %3 %L4 100% %%"
            << stamp + "[INFO] %1 [%2] %3 %L4 100% %%\n" << "darkBlue";
    QTest::newRow("embedded line breaks") << int(QtCriticalMsg) << "first\nsecond\r\nthird"
            << stamp + "[ERROR] first\nsecond\r\nthird\n" << "red";
}

void TestLogger::lineFormat()
{
    QFETCH(int, type);
    QFETCH(QString, msg);
    QFETCH(QByteArray, line);
    QFETCH(QString, colour);

    LogCapture capture;
    Logger logger(appName, m_folder, clock(), nullptr);
    QSignalSpy spy(&logger, &Logger::message);
    // The coloured copy is only for a viewer: nothing goes into the file.
    logger.forward(static_cast<QtMsgType>(type), msg);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), "<font color=\"" + colour + "\"> " + msg);
    QCOMPARE(contents(logger.getLogFileName()), QByteArray());

    logger.log(static_cast<QtMsgType>(type), msg);
    QCOMPARE(contents(logger.getLogFileName()), line);
    QCOMPARE(spy.count(), 1);
}

void TestLogger::dayChangeAtMidnight_data()
{
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("newDayFile");

    QTest::newRow("folder without underscore") << "device/logs/" << "";
    QTest::newRow("underscores in the folder path") << "home_dir/log_dir/logs/" << "";
    QTest::newRow("the new day already has a file")
            << "device/logs/" << "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log";
}

void TestLogger::dayChangeAtMidnight()
{
    QFETCH(QString, subFolder);
    QFETCH(QString, newDayFile);

    const QString folder = m_tmp->path() + "/" + subFolder;
    QCOMPARE(folder.contains('_'), subFolder.contains('_'));
    const QByteArray earlier = newDayFile.isEmpty() ? "" : "written by the other instance\n";
    if (!newDayFile.isEmpty())
        QVERIFY(QDir().mkpath(folder) && writeFile(folder + newDayFile, earlier));

    LogCapture capture;
    m_now = at(2026, 3, 5, 23, 59, 58);
    Logger logger(appName, folder, clock(), nullptr);
    logger.log(QtInfoMsg, "before midnight");
    m_now = at(2026, 3, 5, 23, 59, 59, 999);
    logger.log(QtInfoMsg, "last of the day");
    capture.clear();
    m_now = at(2026, 3, 6, 0, 0, 30, 1);
    logger.log(QtInfoMsg, "first of the new day");
    // A clock set back neither starts a file nor returns to the old one.
    m_now = at(2026, 3, 5, 22, 0, 0);
    logger.log(QtWarningMsg, "clock set back");

    const QString newPath = folder
            + (newDayFile.isEmpty() ? "TessalyUpdater_1.0.257_2026_03_06_00_00_30.log" : newDayFile);
    QCOMPARE(contents(folder + "TessalyUpdater_1.0.257_2026_03_05_23_59_58.log"),
             QByteArray("2026-03-05T23:59:58.000 [INFO] before midnight\n"
                        "2026-03-05T23:59:59.999 [INFO] last of the day\n"));
    QCOMPARE(contents(newPath), earlier
                     + "2026-03-06T00:00:30.001 [INFO] first of the new day\n"
                       "2026-03-05T22:00:00.000 [WARNING] clock set back\n");
    QCOMPARE(logger.getLogFileName(), newPath);
    QCOMPARE(filesIn(folder).size(), 2);
    QCOMPARE(reportsStartingWith(capture, "Operating log file"),
             QStringList { "Operating log file :  " + newPath });
    QCOMPARE(reportsStartingWith(capture, "Log file"), QStringList { "Log file :  " + newPath });
}

void TestLogger::retentionByNameDate()
{
    // Today is 2026-03-05; the modification times say the opposite of the names.
    const QDateTime longAgo = at(2020, 1, 1, 0, 0, 0);
    const QDateTime today = at(2026, 3, 5, 9, 0, 0);
    const QString fourteenDays = "TessalyUpdater_1.0.257_2026_02_19_00_00_00.log";
    // In the order of the walk: by name, ignoring case.
    const QStringList fifteenDaysOrMore { "TessalyUpdater_1.0.1_2026_02_18_00_00_00.log",
                                          "tessalyupdater_1.0.257_2026_01_01_00_00_00.log",
                                          "TessalyUpdater_1.0.257_2026_02_18_23_59_59.log" };
    const QStringList notOurs { "Tessaly_1.0.257_2026_01_01_00_00_00.log",
                                "TessalyUpdater_1.0.257_2026_01_01_00_00_00.txt",
                                "TessalyUpdater_crash.log",
                                "TessalyUpdaterGui_1.0_2026_01_01_00_00_00.log" };
    QVERIFY(QDir().mkpath(m_folder));
    for (const QString &name : notOurs + QStringList { fourteenDays })
        QVERIFY(writeFile(m_folder + name, "x\n", longAgo));
    for (const QString &name : fifteenDaysOrMore)
        QVERIFY(writeFile(m_folder + name, "x\n", today));
    const auto reports = [this](const QStringList &names) {
        QStringList expected;
        for (const QString &name : names)
            expected << "Removing log file older than 14  days, file name= " + m_folder + name;
        return expected;
    };

    LogCapture capture;
    m_now = at(2026, 3, 5, 10, 0, 0);
    Logger logger(appName, m_folder, clock(), nullptr);

    // One walk removes every old file, not just the first.
    QCOMPARE(reportsStartingWith(capture, "Removing"), reports(fifteenDaysOrMore));
    QStringList kept = notOurs
            + QStringList { fourteenDays, "TessalyUpdater_1.0.257_2026_03_05_10_00_00.log" };
    kept.sort();
    QCOMPARE(filesIn(m_folder), kept);
    for (const QString &name : notOurs + QStringList { fourteenDays })
        QCOMPARE(contents(m_folder + name), QByteArray("x\n"));

    // The day change re-initialises, and the file turns 15 days old then.
    capture.clear();
    m_now = at(2026, 3, 6, 0, 0, 0);
    logger.log(QtInfoMsg, "new day");
    QCOMPARE(reportsStartingWith(capture, "Removing"), reports({ fourteenDays }));
    QVERIFY(!QFileInfo::exists(m_folder + fourteenDays));
}

void TestLogger::currentFileDeleted()
{
    LogCapture capture;
    Logger logger(appName, m_folder, clock(), nullptr);
    QVERIFY(QFile::remove(logger.getLogFileName()));

    // Same name: nothing is reopened, and the check repeats with the next line.
    m_now = at(2026, 3, 5, 14, 7, 9, 500);
    logger.log(QtInfoMsg, "same second");
    QCOMPARE(filesIn(m_folder), QStringList());

    m_now = at(2026, 3, 5, 14, 7, 10);
    logger.log(QtInfoMsg, "next second");
    const QString path = m_folder + "TessalyUpdater_1.0.257_2026_03_05_14_07_10.log";
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(contents(path), QByteArray("2026-03-05T14:07:10.000 [INFO] next second\n"));
}

void TestLogger::fallbackToStandardError()
{
    // Tests run as root, so permission bits would not stop the writing; a
    // regular file where a folder should be does.
    const QString blocker = m_tmp->path() + "/bin";
    QVERIFY(writeFile(blocker, "a file, not a folder\n"));
    const QString folder = blocker + "/logs/";
    QFile probe(folder + firstFile);
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text));
    QVERIFY(!probe.errorString().isEmpty());
    const QByteArray failed = probe.errorString().toUtf8() + " Failed to open log file. \n";
    const QByteArray name = folder.toUtf8() + "TessalyUpdater_1.0.257_2026_03_05_";

    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The reports go through Qt's default output in the helper; keep it plain.
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    helper.setProcessEnvironment(environment);
    // The file is tried again once a minute; the folder is freed after the first retry.
    TestSupport::startChild(helper, QStringLiteral(LOGGER_HELPER),
                 { folder, "2026-03-05T14:07:09.000", "log:4:first line", "advance:1",
                   "log:2:second line\nwith a break", "advance:58", "log:7:%1 unexpanded",
                   "advance:1", "log:4:retried at 60 s", "remove:" + blocker, "advance:59",
                   "log:4:at 119 s", "advance:1", "log:4:back in the file", "advance:1",
                   "log:1:and staying there" });
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(helper.readAllStandardError(),
             "Operating log file :  " + name + "14_07_09.log\n" + failed
             + "2026-03-05T14:07:09.000 [INFO] first line\n"
               "2026-03-05T14:07:10.000 [ERROR] second line\nwith a break\n"
               "2026-03-05T14:08:08.000 [UNKNOWN] %1 unexpanded\n"
               "Operating log file :  " + name + "14_08_09.log\n" + failed
             + "2026-03-05T14:08:09.000 [INFO] retried at 60 s\n"
               "2026-03-05T14:09:08.000 [INFO] at 119 s\n"
               "Operating log file :  " + name + "14_09_09.log\n"
               "Log file :  " + name + "14_09_09.log\n");
    QCOMPARE(contents(QString::fromUtf8(name) + "14_09_09.log"),
             QByteArray("2026-03-05T14:09:09.000 [INFO] back in the file\n"
                        "2026-03-05T14:09:10.000 [WARNING] and staying there\n"));
}

void TestLogger::concurrentLinesNeverInterleave_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("files");

    QTest::newRow("within one day") << at(2026, 3, 5, 14, 7, 9) << 1;
    // One millisecond per clock reading: midnight falls while all threads write.
    QTest::newRow("across midnight") << at(2026, 3, 5, 23, 59, 59) << 2;
}

void TestLogger::concurrentLinesNeverInterleave()
{
    QFETCH(QDateTime, start);
    QFETCH(int, files);

    constexpr int threadCount = 8;
    constexpr int linesPerThread = 500;
    const auto payload = [](int thread) { return QString(400, QChar('a' + thread)); };
    std::atomic<qint64> readings { 0 };
    LogCapture capture;
    Logger logger(appName, m_folder, [&] { return start.addMSecs(readings++); }, nullptr);

    std::vector<std::unique_ptr<QThread>> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
        threads.emplace_back(QThread::create([&logger, &payload, thread] {
            for (int line = 0; line < linesPerThread; ++line)
                logger.log(QtInfoMsg,
                           QString::asprintf("thread %d line %04d ", thread, line) + payload(thread));
        }));
    }
    for (const auto &thread : threads)
        thread->start();
    for (const auto &thread : threads)
        QVERIFY(thread->wait(120000));

    const QStringList names = filesIn(m_folder);
    QCOMPARE(names.size(), files);
    const QDateTime midnight(start.date().addDays(1), QTime(0, 0), Qt::LocalTime);
    const QRegularExpression pattern(QStringLiteral(
            "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) \\[INFO\\] thread (\\d) line (\\d{4}) ([a-h]+)$"));
    std::vector<int> lastLine(threadCount, -1);
    int total = 0;
    for (int index = 0; index < names.size(); ++index) {
        QByteArray data = contents(m_folder + names.at(index));
        QVERIFY(data.endsWith('\n'));
        data.chop(1);
        QDateTime previous;
        for (const QByteArray &raw : data.split('\n')) {
            const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(raw));
            QVERIFY2(match.hasMatch(), raw.left(120).constData());
            const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            // Day check and write happen under one lock: every line lies on
            // its file's day, and lines are in clock order.
            QVERIFY(stamp.isValid() && (!previous.isValid() || previous < stamp));
            QCOMPARE(stamp < midnight, index == 0);
            previous = stamp;
            const int thread = match.captured(2).toInt();
            const int line = match.captured(3).toInt();
            QCOMPARE(match.captured(4), payload(thread));
            // Rising per thread, with the total below: every line exactly once.
            QVERIFY(line > lastLine[thread] && line < linesPerThread);
            lastLine[thread] = line;
            ++total;
        }
    }
    QCOMPARE(total, threadCount * linesPerThread);
}

// The service's handler passes every message to the logger; a direct call
// whose reports come back through it must not wait for its own lock.
void TestLogger::directCallsWithTheHandlerInstalled()
{
    static Logger *target = nullptr;
    Logger logger(appName, m_folder, clock(), nullptr);
    target = &logger;
    const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &msg) { target->log(type, msg); });
    std::unique_ptr<QThread> thread(QThread::create([&] {
        logger.init();
        m_now = m_now.addDays(1);
        logger.log(QtInfoMsg, "next day");
    }));
    thread->start();
    const bool finished = thread->wait(20000);
    qInstallMessageHandler(previous);
    QVERIFY2(finished, "Logger::init() or log() never returned");

    const QString nextDay = m_folder + "TessalyUpdater_1.0.257_2026_03_06_14_07_09.log";
    QCOMPARE(contents(nextDay), "2026-03-06T14:07:09.123 [INFO] Operating log file :  " + nextDay.toUtf8()
                     + "\n2026-03-06T14:07:09.123 [INFO] Log file :  " + nextDay.toUtf8()
                     + "\n2026-03-06T14:07:09.123 [INFO] next day\n");
}

TESSALY_TEST_MAIN(TestLogger)

#include "tst_logger.moc"
