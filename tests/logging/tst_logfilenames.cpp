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
    void placeholdersInNamesAreNotExpanded();
    void nameDateAndAge_data();
    void nameDateAndAge();
};

void TestLogFileNames::placeholdersInNamesAreNotExpanded()
{
    const QDateTime now = at(2026, 1, 2, 15, 4, 5);
    QCOMPARE(newLogFileName("App%2", "%1", now), QString("App%2_%1_2026_01_02_15_04_05.log"));
    QCOMPARE(todayLogFilePrefix("App%2", "%1", now), QString("App%2_%1_2026_01_02"));
}

void TestLogFileNames::nameDateAndAge_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<qint64>("age");

    // Today is 2026-03-05, 10:00; ages count calendar days.
    const QDateTime invalid;
    QTest::newRow("later today") << "TessalyUpdater_1.0.257_2026_03_05_14_07_09.log"
                                 << at(2026, 3, 5, 14, 7, 9) << qint64(0);
    QTest::newRow("yesterday, 10 hours ago") << "TessalyUpdater_1.0.257_2026_03_04_23_59_59.log"
                                             << at(2026, 3, 4, 23, 59, 59) << qint64(1);
    QTest::newRow("14 days") << "TessalyUpdater_1.0.257_2026_02_19_23_59_59.log"
                             << at(2026, 2, 19, 23, 59, 59) << qint64(14);
    QTest::newRow("15 days") << "TessalyUpdater_1.0.257_2026_02_18_23_59_59.log"
                             << at(2026, 2, 18, 23, 59, 59) << qint64(15);
    QTest::newRow("in the future") << "TessalyUpdater_1.0.257_2026_03_06_00_00_00.log"
                                   << at(2026, 3, 6, 0, 0, 0) << qint64(-1);
    QTest::newRow("other letter case") << "tessalyupdater_1.0.257_2026_02_01_00_00_00.LOG"
                                       << at(2026, 2, 1, 0, 0, 0) << qint64(32);
    QTest::newRow("no extension") << "TessalyUpdater_1.0.257_2026_03_01_14_07_09"
                                  << at(2026, 3, 1, 14, 7, 9) << qint64(4);
    QTest::newRow("extra dot before the extension")
            << "TessalyUpdater_1.0.257_2026_01_01_14_07_09.old.log" << invalid << qint64(0);
    QTest::newRow("version missing")
            << "TessalyUpdater_2026_01_01_14_07_09.log" << invalid << qint64(0);
    QTest::newRow("underscore in the version")
            << "TessalyUpdater_1_0_2026_01_01_14_07_09.log" << invalid << qint64(0);
    QTest::newRow("hour 24")
            << "TessalyUpdater_1.0.257_2026_01_01_24_00_00.log" << invalid << qint64(0);
    QTest::newRow("day 30 of February")
            << "TessalyUpdater_1.0.257_2026_02_30_10_00_00.log" << invalid << qint64(0);
    QTest::newRow("free text") << "TessalyUpdater_crash_dump.log" << invalid << qint64(0);
    QTest::newRow("empty") << "" << invalid << qint64(0);
}

void TestLogFileNames::nameDateAndAge()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, date);
    QFETCH(qint64, age);

    const QDateTime parsed = logFileNameDate(fileName);
    QCOMPARE(parsed.isValid(), date.isValid());
    if (date.isValid()) {
        QCOMPARE(parsed, date);
        QCOMPARE(parsed.timeSpec(), Qt::LocalTime);
    }
    QCOMPARE(logFileAgeInDays(fileName, at(2026, 3, 5, 10, 0, 0)), age);
}

TESSALY_TEST_MAIN(TestLogFileNames)

#include "tst_logfilenames.moc"
