#include <QtTest>

#include "logging/logfilenames.h"
#include "support/testmain.h"

namespace {

QDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime);
}

} // namespace

class TestLogFileNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newFileNameAndTodayPrefix_data();
    void newFileNameAndTodayPrefix();
    void nameDate_data();
    void nameDate();
    void ageInDays_data();
    void ageInDays();
};

void TestLogFileNames::newFileNameAndTodayPrefix_data()
{
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("todayPrefix");

    QTest::newRow("afternoon hour in 24-hour form")
            << "TessalyUpdater" << "1.0.257" << at(2026, 3, 5, 14, 7, 9)
            << "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log" << "TessalyUpdater_1.0.257_2026_03_05";
    QTest::newRow("midnight")
            << "TessalyUpdater" << "1.0.257" << at(2026, 3, 6, 0, 0, 0)
            << "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log" << "TessalyUpdater_1.0.257_2026_03_06";
    QTest::newRow("last second of the year")
            << "TessalyUpdater" << "1.0.257" << at(2025, 12, 31, 23, 59, 59)
            << "TessalyUpdater_1.0.257_2025_12_31_23_59_59.log" << "TessalyUpdater_1.0.257_2025_12_31";
    QTest::newRow("single digits are zero-padded")
            << "TessalyUpdater" << "1.0.257" << at(2026, 1, 2, 3, 4, 5)
            << "TessalyUpdater_1.0.257_2026_01_02_03_04_05.log" << "TessalyUpdater_1.0.257_2026_01_02";
    QTest::newRow("noon is 12, not 00")
            << "TessalyUpdater" << "1.0.257" << at(2026, 7, 15, 12, 30, 0)
            << "TessalyUpdater_1.0.257_2026_07_15_12_30_00.log" << "TessalyUpdater_1.0.257_2026_07_15";
    QTest::newRow("placeholders in the name are not expanded")
            << "App%2" << "%1" << at(2026, 3, 5, 14, 7, 9)
            << "App%2_%1_2026_03_05_14_07_09.log" << "App%2_%1_2026_03_05";
}

void TestLogFileNames::newFileNameAndTodayPrefix()
{
    QFETCH(QString, appName);
    QFETCH(QString, version);
    QFETCH(QDateTime, now);
    QFETCH(QString, fileName);
    QFETCH(QString, todayPrefix);

    QCOMPARE(newLogFileName(appName, version, now), fileName);
    QCOMPARE(todayLogFilePrefix(appName, version, now), todayPrefix);
    // A file started at any moment of the day belongs to that day.
    QVERIFY(fileName.startsWith(todayPrefix));
}

void TestLogFileNames::nameDate_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("date");

    const QDateTime invalid;
    QTest::newRow("own file") << "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log"
                              << at(2026, 3, 5, 14, 7, 9);
    QTest::newRow("another version") << "TessalyUpdater_2.10.3_2025_11_30_23_59_59.log"
                                     << at(2025, 11, 30, 23, 59, 59);
    QTest::newRow("other letter case") << "tessalyupdater_1.0.257_2026_03_05_00_00_00.LOG"
                                       << at(2026, 3, 5, 0, 0, 0);
    QTest::newRow("another program with the same pattern") << "Tessaly_4.2_2026_01_01_08_00_00.log"
                                                           << at(2026, 1, 1, 8, 0, 0);
    QTest::newRow("no extension") << "TessalyUpdater_1.0.257_2026_03_05_14_07_09"
                                  << at(2026, 3, 5, 14, 7, 9);
    QTest::newRow("extra dot before the extension")
            << "TessalyUpdater_1.0.257_2026_03_05_14_07_09.old.log" << invalid;
    QTest::newRow("extra extension after .log")
            << "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log.1" << invalid;
    QTest::newRow("version missing") << "TessalyUpdater_2026_03_05_14_07_09.log" << invalid;
    QTest::newRow("underscore in the version")
            << "TessalyUpdater_1_0_2026_03_05_14_07_09.log" << invalid;
    QTest::newRow("date only") << "TessalyUpdater_1.0.257_2026_03_05.log" << invalid;
    QTest::newRow("hour 24") << "TessalyUpdater_1.0.257_2026_03_05_24_00_00.log" << invalid;
    QTest::newRow("day 30 of February") << "TessalyUpdater_1.0.257_2026_02_30_10_00_00.log"
                                        << invalid;
    QTest::newRow("no underscore") << "notes.log" << invalid;
    QTest::newRow("free text") << "TessalyUpdater_crash_dump.log" << invalid;
    QTest::newRow("empty") << "" << invalid;
}

void TestLogFileNames::nameDate()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, date);

    const QDateTime parsed = logFileNameDate(fileName);
    QCOMPARE(parsed.isValid(), date.isValid());
    if (date.isValid()) {
        QCOMPARE(parsed, date);
        QCOMPARE(parsed.timeSpec(), Qt::LocalTime);
        // The hour field is read as 24-hour time.
        QCOMPARE(parsed.time().hour(), date.time().hour());
    }
}

void TestLogFileNames::ageInDays_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<qint64>("age");

    const QDateTime now = at(2026, 3, 5, 10, 0, 0);
    QTest::newRow("started today") << "TessalyUpdater_1.0.257_2026_03_05_09_59_59.log" << now
                                   << qint64(0);
    QTest::newRow("yesterday, less than 24 hours ago")
            << "TessalyUpdater_1.0.257_2026_03_04_23_59_59.log" << at(2026, 3, 5, 0, 0, 1)
            << qint64(1);
    QTest::newRow("14 days") << "TessalyUpdater_1.0.257_2026_02_19_23_59_59.log" << now
                             << qint64(14);
    QTest::newRow("15 days") << "TessalyUpdater_1.0.257_2026_02_18_23_59_59.log" << now
                             << qint64(15);
    QTest::newRow("across a year end") << "TessalyUpdater_1.0.257_2025_12_31_12_00_00.log"
                                       << at(2026, 1, 15, 11, 0, 0) << qint64(15);
    QTest::newRow("name in the future") << "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log" << now
                                        << qint64(-1);
    QTest::newRow("name without a date") << "TessalyUpdater_crash_dump.log" << now << qint64(0);
    QTest::newRow("extra dot") << "TessalyUpdater_1.0.257_2020_01_01_00_00_00.log.gz" << now
                               << qint64(0);
}

void TestLogFileNames::ageInDays()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, now);
    QFETCH(qint64, age);

    QCOMPARE(logFileAgeInDays(fileName, now), age);
}

TESSALY_TEST_MAIN(TestLogFileNames)

#include "tst_logfilenames.moc"
