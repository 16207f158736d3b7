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
#include "support/logcapture.h"
#include "support/testmain.h"

namespace {

const QString appName = QStringLiteral("TessalyUpdater");

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

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QStringList reportsStartingWith(const LogCapture &capture, const QString &start)
{
    QStringList found;
    for (const QString &message : capture.messages(QtInfoMsg)) {
        if (message.startsWith(start))
            found.append(message);
    }
    return found;
}

// A temporary folder whose path is free of "_", unlike QTemporaryDir's
// default, which carries the test binary's name.
QString plainTemplate()
{
    return QDir::tempPath() + QStringLiteral("/logtest-XXXXXX");
}

struct HelperResult
{
    bool finished = false;
    int exitCode = -1;
    QByteArray standardError;
};

HelperResult runHelper(const QString &folder, const QString &start, const QStringList &steps)
{
    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The reports go through Qt's default output in the helper; keep it plain.
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    helper.setProcessEnvironment(environment);
    helper.start(QStringLiteral(LOGGER_HELPER), QStringList { folder, start } + steps);
    HelperResult result;
    result.finished = helper.waitForFinished(60000);
    result.exitCode = helper.exitCode();
    result.standardError = helper.readAllStandardError();
    return result;
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

private Q_SLOTS:
    void init();

    void levelAndColourTables_data();
    void levelAndColourTables();
    void forwardEmitsColouredText_data();
    void forwardEmitsColouredText();

    void firstStartCreatesFolderAndFile();
    void restartOnTheSameDay_data();
    void restartOnTheSameDay();

    void lineFormat_data();
    void lineFormat();
    void timestampFormat_data();
    void timestampFormat();

    void dayChangeAtMidnight_data();
    void dayChangeAtMidnight();
    void clockSetBackKeepsTheFile();

    void retentionByNameDate_data();
    void retentionByNameDate();
    void retentionOnEveryInitialisation();

    void currentFileDeleted_data();
    void currentFileDeleted();
    void currentFileDeletedWithinTheSameSecond();

    void fallbackToStandardError();
    void fallbackRetriesAtMostOncePerMinute();
    void fallbackReturnsToTheFile();

    void concurrentLinesNeverInterleave_data();
    void concurrentLinesNeverInterleave();
};

void TestLogger::init()
{
    m_now = at(2026, 3, 5, 14, 7, 9, 123);
}

void TestLogger::levelAndColourTables_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("colour");

    QTest::newRow("debug") << int(QtDebugMsg) << "DEBUG" << "darkBlue";
    QTest::newRow("warning") << int(QtWarningMsg) << "WARNING" << "red";
    QTest::newRow("critical") << int(QtCriticalMsg) << "ERROR" << "red";
    QTest::newRow("fatal") << int(QtFatalMsg) << "FATAL" << "red";
    QTest::newRow("info") << int(QtInfoMsg) << "INFO" << "darkBlue";
    QTest::newRow("5") << 5 << "UNKNOWN" << "darkBlue";
    QTest::newRow("6") << 6 << "UNKNOWN" << "darkBlue";
    QTest::newRow("7") << 7 << "UNKNOWN" << "darkBlue";
}

void TestLogger::levelAndColourTables()
{
    QFETCH(int, type);
    QFETCH(QString, level);
    QFETCH(QString, colour);

    QCOMPARE(Logger::levelToString(static_cast<QtMsgType>(type)), level);
    QCOMPARE(Logger::getColor(static_cast<QtMsgType>(type)), colour);
}

void TestLogger::forwardEmitsColouredText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("html");

    QTest::newRow("warning") << int(QtWarningMsg) << "x" << "<font color=\"red\"> x";
    QTest::newRow("critical") << int(QtCriticalMsg) << "disk full"
                              << "<font color=\"red\"> disk full";
    QTest::newRow("info") << int(QtInfoMsg) << "x" << "<font color=\"darkBlue\"> x";
    QTest::newRow("unknown type") << 6 << "x" << "<font color=\"darkBlue\"> x";
    QTest::newRow("placeholders in the text") << int(QtDebugMsg) << "%1 of %2"
                                              << "<font color=\"darkBlue\"> %1 of %2";
    QTest::newRow("empty text") << int(QtFatalMsg) << "" << "<font color=\"red\"> ";
}

void TestLogger::forwardEmitsColouredText()
{
    QFETCH(int, type);
    QFETCH(QString, msg);
    QFETCH(QString, html);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    LogCapture capture;
    Logger logger(appName, tmp.path() + "/logs/", clock(), nullptr);
    QSignalSpy spy(&logger, &Logger::message);

    logger.forward(static_cast<QtMsgType>(type), msg);

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), html);
    // Only a copy for a viewer: nothing goes into the file.
    QCOMPARE(contents(logger.getLogFileName()), QByteArray());
}

void TestLogger::firstStartCreatesFolderAndFile()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/home/corvane/TessalyUpdater/bin/logs/";
    const QString path = folder + "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log";
    QVERIFY(!QFileInfo::exists(tmp.path() + "/home"));

    LogCapture capture;
    Logger logger(appName, folder, clock(), nullptr);

    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(filesIn(folder), QStringList { "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log" });
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(capture.messages(),
             (QStringList { "Operating log file :  " + path, "Log file :  " + path }));
    QCOMPARE(capture.messages(QtInfoMsg).size(), 2);
    QCOMPARE(contents(path), QByteArray());

    logger.log(QtInfoMsg, "service started");
    QCOMPARE(contents(path), QByteArray("2026-03-05T14:07:09.123 [INFO] service started\n"));
    // The open file is kept: no further reports for later lines.
    m_now = m_now.addSecs(5);
    logger.log(QtDebugMsg, "tick");
    QCOMPARE(contents(path), QByteArray("2026-03-05T14:07:09.123 [INFO] service started\n"
                                        "2026-03-05T14:07:14.123 [DEBUG] tick\n"));
    QCOMPARE(capture.messages().size(), 2);
}

void TestLogger::restartOnTheSameDay_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("selected");

    QTest::newRow("one file of today")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_05_08_00_00.log" }
            << "TessalyUpdater_1.0.257_2026_03_05_08_00_00.log";
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
    QTest::newRow("version that extends ours")
            << QStringList { "TessalyUpdater_1.0.2570_2026_03_05_08_00_00.log" } << "";
    QTest::newRow("other version sorts first")
            << QStringList { "TessalyUpdater_1.0.25_2026_03_05_07_00_00.log",
                             "TessalyUpdater_1.0.257_2026_03_05_09_00_00.log" }
            << "TessalyUpdater_1.0.257_2026_03_05_09_00_00.log";
    QTest::newRow("only yesterday's file")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_04_23_59_59.log" } << "";
    QTest::newRow("another program's file of today")
            << QStringList { "Tessaly_1.0.257_2026_03_05_08_00_00.log" } << "";
    QTest::newRow("today's name but not a .log file")
            << QStringList { "TessalyUpdater_1.0.257_2026_03_05_08_00_00.txt" } << "";
}

void TestLogger::restartOnTheSameDay()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, selected);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    QVERIFY(QDir().mkpath(folder));
    for (const QString &name : existing)
        QVERIFY(writeFile(folder + name, "earlier line of " + name.toUtf8() + "\n"));

    LogCapture capture;
    Logger logger(appName, folder, clock(), nullptr);
    logger.log(QtWarningMsg, "after restart");

    const QString fileName =
            selected.isEmpty() ? "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log" : selected;
    const QString path = folder + fileName;
    const QByteArray line = "2026-03-05T14:07:09.123 [WARNING] after restart\n";
    QCOMPARE(logger.getLogFileName(), path);

    if (selected.isEmpty()) {
        QCOMPARE(reportsStartingWith(capture, "Selecting"), QStringList());
        QCOMPARE(contents(path), line);
        QCOMPARE(filesIn(folder).size(), existing.size() + 1);
    } else {
        QCOMPARE(reportsStartingWith(capture, "Selecting"),
                 QStringList { "Selecting exisitng log file:  " + selected });
        QCOMPARE(contents(path), "earlier line of " + selected.toUtf8() + "\n" + line);
        QCOMPARE(filesIn(folder).size(), existing.size());
    }
    QCOMPARE(reportsStartingWith(capture, "Operating log file"),
             QStringList { "Operating log file :  " + path });
    QCOMPARE(reportsStartingWith(capture, "Log file"), QStringList { "Log file :  " + path });

    for (const QString &name : existing) {
        if (name != selected)
            QCOMPARE(contents(folder + name), "earlier line of " + name.toUtf8() + "\n");
    }
}

void TestLogger::lineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QByteArray>("line");

    const QByteArray stamp = "2026-03-05T14:07:09.123 ";
    QTest::newRow("debug") << int(QtDebugMsg) << "d" << stamp + "[DEBUG] d\n";
    QTest::newRow("info") << int(QtInfoMsg) << "i" << stamp + "[INFO] i\n";
    QTest::newRow("warning") << int(QtWarningMsg) << "w" << stamp + "[WARNING] w\n";
    QTest::newRow("critical") << int(QtCriticalMsg) << "c" << stamp + "[ERROR] c\n";
    QTest::newRow("fatal") << int(QtFatalMsg) << "f" << stamp + "[FATAL] f\n";
    QTest::newRow("type 5") << 5 << "u" << stamp + "[UNKNOWN] u\n";
    QTest::newRow("type 7") << 7 << "u" << stamp + "[UNKNOWN] u\n";
    QTest::newRow("placeholders") << int(QtInfoMsg) << "%1 [%2] %3 %4"
                                  << stamp + "[INFO] %1 [%2] %3 %4\n";
    QTest::newRow("localised placeholder and percent signs")
            << int(QtInfoMsg) << "%L1 100% %% done" << stamp + "[INFO] %L1 100% %% done\n";
    QTest::newRow("embedded line breaks") << int(QtCriticalMsg) << "first\nsecond\r\nthird"
                                          << stamp + "[ERROR] first\nsecond\r\nthird\n";
    QTest::newRow("trailing line break") << int(QtInfoMsg) << "ends here\n"
                                         << stamp + "[INFO] ends here\n\n";
    QTest::newRow("quotes and tabs") << int(QtDebugMsg) << "\"quoted\"\tand tabbed"
                                     << stamp + "[DEBUG] \"quoted\"\tand tabbed\n";
    QTest::newRow("empty") << int(QtInfoMsg) << "" << stamp + "[INFO] \n";
}

void TestLogger::lineFormat()
{
    QFETCH(int, type);
    QFETCH(QString, msg);
    QFETCH(QByteArray, line);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    LogCapture capture;
    Logger logger(appName, tmp.path() + "/logs/", clock(), nullptr);

    logger.log(static_cast<QtMsgType>(type), msg);
    QCOMPARE(contents(logger.getLogFileName()), line);

    // Lines are appended one after another.
    logger.log(static_cast<QtMsgType>(type), msg);
    QCOMPARE(contents(logger.getLogFileName()), line + line);
}

void TestLogger::timestampFormat_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("afternoon") << at(2026, 3, 5, 14, 7, 9, 123)
                               << QByteArray("2026-03-05T14:07:09.123 [INFO] t\n");
    QTest::newRow("whole second") << at(2026, 3, 5, 14, 7, 9, 0)
                                  << QByteArray("2026-03-05T14:07:09.000 [INFO] t\n");
    QTest::newRow("just after midnight") << at(2026, 1, 2, 0, 0, 0, 7)
                                         << QByteArray("2026-01-02T00:00:00.007 [INFO] t\n");
    QTest::newRow("last millisecond of the day") << at(2025, 12, 31, 23, 59, 59, 999)
                                                 << QByteArray("2025-12-31T23:59:59.999 [INFO] t\n");
}

void TestLogger::timestampFormat()
{
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, line);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    m_now = now;
    LogCapture capture;
    Logger logger(appName, tmp.path() + "/logs/", clock(), nullptr);
    logger.log(QtInfoMsg, "t");
    QCOMPARE(contents(logger.getLogFileName()), line);
}

void TestLogger::dayChangeAtMidnight_data()
{
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("newDayFile");

    QTest::newRow("folder without underscore") << "device/logs/" << "";
    QTest::newRow("underscore in the folder path") << "log_dir/logs/" << "";
    QTest::newRow("underscores in several folders") << "home_dir/log_dir/app_1/logs/" << "";
    QTest::newRow("the new day already has a file")
            << "device/logs/" << "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log";
}

void TestLogger::dayChangeAtMidnight()
{
    QFETCH(QString, subFolder);
    QFETCH(QString, newDayFile);

    QTemporaryDir tmp(plainTemplate());
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/" + subFolder;
    QCOMPARE(folder.contains('_'), subFolder.contains('_'));
    if (!newDayFile.isEmpty()) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeFile(folder + newDayFile, "written by the other instance\n"));
    }

    LogCapture capture;
    m_now = at(2026, 3, 5, 23, 59, 58);
    Logger logger(appName, folder, clock(), nullptr);
    logger.log(QtInfoMsg, "before midnight");
    m_now = at(2026, 3, 5, 23, 59, 59, 999);
    logger.log(QtInfoMsg, "last of the day");
    capture.clear();
    m_now = at(2026, 3, 6, 0, 0, 30, 1);
    logger.log(QtInfoMsg, "first of the new day");
    m_now = at(2026, 3, 6, 0, 0, 31);
    logger.log(QtWarningMsg, "second of the new day");

    const QString oldPath = folder + "TessalyUpdater_1.0.257_2026_03_05_23_59_58.log";
    const QString newPath = folder
            + (newDayFile.isEmpty() ? "TessalyUpdater_1.0.257_2026_03_06_00_00_30.log" : newDayFile);
    QCOMPARE(contents(oldPath), QByteArray("2026-03-05T23:59:58.000 [INFO] before midnight\n"
                                           "2026-03-05T23:59:59.999 [INFO] last of the day\n"));
    const QByteArray earlier = newDayFile.isEmpty() ? "" : "written by the other instance\n";
    QCOMPARE(contents(newPath), earlier
                     + "2026-03-06T00:00:30.001 [INFO] first of the new day\n"
                       "2026-03-06T00:00:31.000 [WARNING] second of the new day\n");
    QCOMPARE(logger.getLogFileName(), newPath);
    QCOMPARE(filesIn(folder).size(), 2);
    QCOMPARE(reportsStartingWith(capture, "Operating log file"),
             QStringList { "Operating log file :  " + newPath });
    QCOMPARE(reportsStartingWith(capture, "Log file"), QStringList { "Log file :  " + newPath });
}

void TestLogger::clockSetBackKeepsTheFile()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    LogCapture capture;
    m_now = at(2026, 3, 6, 10, 0, 0);
    Logger logger(appName, folder, clock(), nullptr);
    const QString path = logger.getLogFileName();

    m_now = at(2026, 3, 4, 9, 0, 0);
    logger.log(QtInfoMsg, "two days back");
    m_now = at(2026, 3, 5, 23, 59, 59);
    logger.log(QtInfoMsg, "one day back");
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(filesIn(folder).size(), 1);
    QCOMPARE(contents(path), QByteArray("2026-03-04T09:00:00.000 [INFO] two days back\n"
                                        "2026-03-05T23:59:59.000 [INFO] one day back\n"));

    m_now = at(2026, 3, 7, 0, 0, 1);
    logger.log(QtInfoMsg, "the day after");
    QCOMPARE(logger.getLogFileName(), folder + "TessalyUpdater_1.0.257_2026_03_07_00_00_01.log");
    QCOMPARE(filesIn(folder).size(), 2);
}

void TestLogger::retentionByNameDate_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<bool>("removed");

    // Today is 2026-03-05.
    const QDateTime longAgo = at(2020, 1, 1, 0, 0, 0);
    const QDateTime today = at(2026, 3, 5, 9, 0, 0);
    QTest::newRow("14 days by name, old modification time")
            << "TessalyUpdater_1.0.257_2026_02_19_00_00_00.log" << longAgo << false;
    QTest::newRow("15 days by name, fresh modification time")
            << "TessalyUpdater_1.0.257_2026_02_18_23_59_59.log" << today << true;
    QTest::newRow("a year by name")
            << "TessalyUpdater_1.0.257_2025_03_05_10_00_00.log" << today << true;
    QTest::newRow("another version, 15 days")
            << "TessalyUpdater_1.0.1_2026_02_18_00_00_00.log" << today << true;
    QTest::newRow("own prefix in other letter case")
            << "tessalyupdater_1.0.257_2026_01_01_00_00_00.log" << today << true;
    QTest::newRow("another program's old log")
            << "Tessaly_1.0.257_2026_01_01_00_00_00.log" << longAgo << false;
    QTest::newRow("program name that extends ours")
            << "TessalyUpdaterGui_1.0_2026_01_01_00_00_00.log" << longAgo << false;
    QTest::newRow("not a .log file")
            << "TessalyUpdater_1.0.257_2026_01_01_00_00_00.txt" << longAgo << false;
    QTest::newRow("rotated copy")
            << "TessalyUpdater_1.0.257_2026_01_01_00_00_00.log.1" << longAgo << false;
    QTest::newRow("name without a date") << "TessalyUpdater_crash.log" << longAgo << false;
    QTest::newRow("name date in the future")
            << "TessalyUpdater_1.0.257_2027_01_01_00_00_00.log" << longAgo << false;
}

void TestLogger::retentionByNameDate()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, modified);
    QFETCH(bool, removed);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + fileName;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("old line\n") > 0);
        // Written out first, or the close would stamp the time afresh.
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    QCOMPARE(QFileInfo(path).lastModified(), modified);

    LogCapture capture;
    m_now = at(2026, 3, 5, 10, 0, 0);
    Logger logger(appName, folder, clock(), nullptr);

    QCOMPARE(QFileInfo::exists(path), !removed);
    QCOMPARE(reportsStartingWith(capture, "Removing"),
             removed ? QStringList { "Removing log file older than 14  days, file name= " + path }
                     : QStringList());
    if (!removed)
        QCOMPARE(contents(path), QByteArray("old line\n"));
    QVERIFY(QFileInfo::exists(logger.getLogFileName()));
}

void TestLogger::retentionOnEveryInitialisation()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    QVERIFY(QDir().mkpath(folder));
    const QStringList old { "TessalyUpdater_1.0.1_2025_01_01_00_00_00.log",
                            "TessalyUpdater_1.0.257_2026_01_10_00_00_00.log",
                            "TessalyUpdater_1.0.257_2026_02_18_12_00_00.log" };
    const QString ageingToday = "TessalyUpdater_1.0.257_2026_02_19_12_00_00.log";
    for (const QString &name : old + QStringList { ageingToday })
        QVERIFY(writeFile(folder + name, "x\n"));

    LogCapture capture;
    m_now = at(2026, 3, 5, 23, 0, 0);
    Logger logger(appName, folder, clock(), nullptr);

    // One walk removes every old file, not just the first.
    QStringList expected;
    for (const QString &name : old)
        expected.append("Removing log file older than 14  days, file name= " + folder + name);
    QCOMPARE(reportsStartingWith(capture, "Removing"), expected);
    for (const QString &name : old)
        QVERIFY2(!QFileInfo::exists(folder + name), qPrintable(name));
    QVERIFY(QFileInfo::exists(folder + ageingToday));

    // The day change re-initialises, and the file turns 15 days old then.
    capture.clear();
    m_now = at(2026, 3, 6, 0, 0, 0);
    logger.log(QtInfoMsg, "new day");
    QVERIFY(!QFileInfo::exists(folder + ageingToday));
    QCOMPARE(reportsStartingWith(capture, "Removing"),
             QStringList { "Removing log file older than 14  days, file name= " + folder
                           + ageingToday });
    QCOMPARE(filesIn(folder),
             (QStringList { "TessalyUpdater_1.0.257_2026_03_05_23_00_00.log",
                            "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log" }));
}

void TestLogger::currentFileDeleted_data()
{
    QTest::addColumn<QString>("otherFileOfToday");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no other file: a new one")
            << "" << "TessalyUpdater_1.0.257_2026_03_05_10_00_05.log";
    QTest::newRow("another file of the day is chosen")
            << "TessalyUpdater_1.0.257_2026_03_05_10_00_03.log"
            << "TessalyUpdater_1.0.257_2026_03_05_10_00_03.log";
}

void TestLogger::currentFileDeleted()
{
    QFETCH(QString, otherFileOfToday);
    QFETCH(QString, expected);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    LogCapture capture;
    m_now = at(2026, 3, 5, 10, 0, 0);
    Logger logger(appName, folder, clock(), nullptr);
    logger.log(QtInfoMsg, "before");
    const QString deleted = logger.getLogFileName();
    QVERIFY(QFile::remove(deleted));
    const QByteArray earlier = otherFileOfToday.isEmpty() ? "" : "other instance\n";
    if (!otherFileOfToday.isEmpty())
        QVERIFY(writeFile(folder + otherFileOfToday, earlier));

    m_now = at(2026, 3, 5, 10, 0, 5);
    logger.log(QtInfoMsg, "after deletion");
    m_now = at(2026, 3, 5, 10, 0, 6);
    logger.log(QtInfoMsg, "and on");

    QCOMPARE(logger.getLogFileName(), folder + expected);
    QCOMPARE(contents(folder + expected), earlier
                     + "2026-03-05T10:00:05.000 [INFO] after deletion\n"
                       "2026-03-05T10:00:06.000 [INFO] and on\n");
    QVERIFY(!QFileInfo::exists(deleted));
    QCOMPARE(filesIn(folder), QStringList { expected });
}

void TestLogger::currentFileDeletedWithinTheSameSecond()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    LogCapture capture;
    m_now = at(2026, 3, 5, 10, 0, 0);
    Logger logger(appName, folder, clock(), nullptr);
    QVERIFY(QFile::remove(logger.getLogFileName()));

    // Same name: nothing is reopened, and the check repeats with the next line.
    m_now = at(2026, 3, 5, 10, 0, 0, 500);
    logger.log(QtInfoMsg, "same second");
    QCOMPARE(filesIn(folder), QStringList());

    m_now = at(2026, 3, 5, 10, 0, 1);
    logger.log(QtInfoMsg, "next second");
    const QString path = folder + "TessalyUpdater_1.0.257_2026_03_05_10_00_01.log";
    QCOMPARE(logger.getLogFileName(), path);
    QCOMPARE(contents(path), QByteArray("2026-03-05T10:00:01.000 [INFO] next second\n"));
}

void TestLogger::fallbackToStandardError()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // Tests run as root, so permission bits would not stop the writing; a
    // regular file where a folder should be does.
    const QString blocker = tmp.path() + "/bin";
    QVERIFY(writeFile(blocker, "a file, not a folder\n"));
    const QString folder = blocker + "/logs/";
    const QString path = folder + "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log";
    QFile probe(path);
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text));
    const QByteArray error = probe.errorString().toUtf8();
    QVERIFY(!error.isEmpty());

    const HelperResult result = runHelper(folder, "2026-03-05T14:07:09.000",
                                          { "log:4:first line", "advance:1",
                                            "log:2:second line\nwith a break", "advance:1",
                                            "log:7:%1 unexpanded" });
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.standardError,
             "Operating log file :  " + path.toUtf8() + "\n"
             + error + " Failed to open log file. \n"
             "2026-03-05T14:07:09.000 [INFO] first line\n"
             "2026-03-05T14:07:10.000 [ERROR] second line\nwith a break\n"
             "2026-03-05T14:07:11.000 [UNKNOWN] %1 unexpanded\n");
    QCOMPARE(contents(blocker), QByteArray("a file, not a folder\n"));
}

void TestLogger::fallbackRetriesAtMostOncePerMinute()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString blocker = tmp.path() + "/bin";
    QVERIFY(writeFile(blocker, "a file, not a folder\n"));
    const QString folder = blocker + "/logs/";

    const HelperResult result = runHelper(
            folder, "2026-03-05T14:07:09.000",
            { "log:4:at 0 s", "advance:30", "log:4:at 30 s", "advance:29", "log:4:at 59 s",
              "advance:1", "log:4:at 60 s", "advance:59", "log:4:at 119 s", "advance:1",
              "log:4:at 120 s" });
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);

    QFile probe(folder + "x.log");
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text));
    const QByteArray failed = probe.errorString().toUtf8() + " Failed to open log file. \n";
    const QByteArray operating = "Operating log file :  " + folder.toUtf8() + "TessalyUpdater_1.0.257_";
    QCOMPARE(result.standardError,
             operating + "2026_03_05_14_07_09.log\n" + failed
             + "2026-03-05T14:07:09.000 [INFO] at 0 s\n"
               "2026-03-05T14:07:39.000 [INFO] at 30 s\n"
               "2026-03-05T14:08:08.000 [INFO] at 59 s\n"
             + operating + "2026_03_05_14_08_09.log\n" + failed
             + "2026-03-05T14:08:09.000 [INFO] at 60 s\n"
               "2026-03-05T14:09:08.000 [INFO] at 119 s\n"
             + operating + "2026_03_05_14_09_09.log\n" + failed
             + "2026-03-05T14:09:09.000 [INFO] at 120 s\n");
}

void TestLogger::fallbackReturnsToTheFile()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString blocker = tmp.path() + "/bin";
    QVERIFY(writeFile(blocker, "a file, not a folder\n"));
    const QString folder = blocker + "/logs/";
    const QString path = folder + "TessalyUpdater_1.0.257_2026_03_05_14_08_09.log";

    const HelperResult result = runHelper(
            folder, "2026-03-05T14:07:09.000",
            { "log:4:on standard error", "remove:" + blocker, "advance:30",
              "log:4:still on standard error", "advance:30", "log:4:back in the file",
              "advance:1", "log:1:and staying there" });
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);

    const QList<QByteArray> lines = result.standardError.split('\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.at(1).endsWith(" Failed to open log file. "));
    QCOMPARE(lines.mid(2), (QList<QByteArray> { "2026-03-05T14:07:09.000 [INFO] on standard error",
                                                "2026-03-05T14:07:39.000 [INFO] still on standard error",
                                                "Operating log file :  " + path.toUtf8(),
                                                "Log file :  " + path.toUtf8(),
                                                "" }));
    QCOMPARE(contents(path), QByteArray("2026-03-05T14:08:09.000 [INFO] back in the file\n"
                                        "2026-03-05T14:08:10.000 [WARNING] and staying there\n"));
}

void TestLogger::concurrentLinesNeverInterleave_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("files");

    QTest::newRow("within one day") << at(2026, 3, 5, 14, 7, 9) << 1;
    // The clock moves one millisecond per reading, so midnight falls while
    // all threads are writing.
    QTest::newRow("across midnight") << at(2026, 3, 5, 23, 59, 59) << 2;
}

void TestLogger::concurrentLinesNeverInterleave()
{
    QFETCH(QDateTime, start);
    QFETCH(int, files);

    constexpr int threadCount = 8;
    constexpr int linesPerThread = 500;
    const auto payload = [](int thread) { return QString(400, QChar('a' + thread)); };

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + "/logs/";
    std::atomic<qint64> readings { 0 };
    LogCapture capture;
    Logger logger(appName, folder, [&] { return start.addMSecs(readings++); }, nullptr);

    std::vector<std::unique_ptr<QThread>> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
        threads.emplace_back(QThread::create([&logger, &payload, thread] {
            for (int line = 0; line < linesPerThread; ++line) {
                logger.log(QtInfoMsg,
                           QStringLiteral("thread %1 line %2 %3")
                                   .arg(thread)
                                   .arg(line, 4, 10, QLatin1Char('0'))
                                   .arg(payload(thread)));
            }
        }));
    }
    for (const auto &thread : threads)
        thread->start();
    for (const auto &thread : threads)
        QVERIFY(thread->wait(120000));

    const QStringList names = filesIn(folder);
    QCOMPARE(names.size(), files);
    const QDateTime midnight(start.date().addDays(1), QTime(0, 0), Qt::LocalTime);
    const QRegularExpression pattern(QStringLiteral(
            "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) \\[INFO\\] thread (\\d) line (\\d{4}) ([a-h]+)$"));
    std::vector<std::vector<bool>> seen(threadCount, std::vector<bool>(linesPerThread, false));
    std::vector<int> lastLine(threadCount, -1);
    int total = 0;
    for (int index = 0; index < names.size(); ++index) {
        QByteArray data = contents(folder + names.at(index));
        QVERIFY(data.endsWith('\n'));
        data.chop(1);
        QDateTime previous;
        for (const QByteArray &raw : data.split('\n')) {
            const QString text = QString::fromUtf8(raw);
            const QRegularExpressionMatch match = pattern.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text.left(120)));
            const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            QVERIFY(stamp.isValid());
            // Day check and write happen under one lock: every line lies on
            // its file's day, and lines are in clock order.
            QVERIFY(!previous.isValid() || previous < stamp);
            previous = stamp;
            QCOMPARE(stamp < midnight, index == 0);
            const int thread = match.captured(2).toInt();
            const int line = match.captured(3).toInt();
            QVERIFY(thread < threadCount && line < linesPerThread);
            QCOMPARE(match.captured(4), payload(thread));
            QVERIFY2(!seen[thread][line], qPrintable(text.left(40)));
            seen[thread][line] = true;
            QVERIFY(line > lastLine[thread]);
            lastLine[thread] = line;
            ++total;
        }
    }
    QCOMPARE(total, threadCount * linesPerThread);
}

TESSALY_TEST_MAIN(TestLogger)

#include "tst_logger.moc"
