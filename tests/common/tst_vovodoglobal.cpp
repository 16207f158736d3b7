#include <QDateTime>
#include <QtTest>

#include "common/vovodo_global.h"
#include "support/testmain.h"

namespace {

// One "value text" line per row, in the table's iteration order.
template <typename Enum>
QStringList rowsOf(const QMap<Enum, QString> &table)
{
    QStringList rows;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        rows << QStringLiteral("%1 %2").arg(int(it.key())).arg(it.value());
    return rows;
}

template <typename... Tables>
QStringList textsOf(const Tables &...tables)
{
    QStringList texts;
    (texts.append(tables.values()), ...);
    return texts;
}

} // namespace

class TestVovodoGlobal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tables_data();
    void tables();
    void lookups_data();
    void lookups();
    void noTextTwice();
    void supportedFileTypes();
    void datePatterns_data();
    void datePatterns();
};

void TestVovodoGlobal::tables_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstValue");
    QTest::addColumn<QStringList>("spots");

    // Spot rows: the ends of each table and the misspellings both sides rely on.
#define TABLE(table, count, first, ...)                                                            \
    QTest::newRow(#table) << rowsOf(table) << count << first << QStringList{ __VA_ARGS__ }
    TABLE(APIPROCESS_TO_STR, 30, 0, "0 CHECK_VALID_USER", "20 CHANE_PASSWORD", "29 SIG_INFO");
    TABLE(PRIORITY_TO_STR, 5, 0, "0 DynamicSync", "4 High");
    TABLE(TRANSACTION_TO_STR, 2, 0, "0 PRESCRIPTION", "1 ADMISSION");
    TABLE(UPDATE_ACTION_TO_STR, 4, 0, "0 INVALID", "1 DOWNLOAD_ONLY", "2 INSTALL_NOW");
    TABLE(UPDATE_COMMANDS_TO_STR, 5, 0, "0 MESSAGE_ONLY", "2 DOWNLOAD_ERROR", "4 UPDATE_AGAIN");
    TABLE(PERCENTAGE_TAGS_TO_STR, 2, 0, "0 UPLOAD_PERCENTAGE", "1 DOWNLOAD_PERCENTAGE");
    TABLE(BATTERY_TO_STR, 21, 0, "0 CHARGING", "1 HEALTH5");
    TABLE(CLOUD_STATE_TO_STR, 5, 0, "0 OFFLINE", "4 SYNC_FINISHED");
    TABLE(LOCK_STATUS_TO_STR, 3, 0, "0 UNLOCKED", "2 IDLE_LOCK");
    TABLE(RESTART_TARGET_FIELD_TO_STR, 2, 0, "0 Application", "1 Device");
    TABLE(SETTINGS_KEYS_TO_STR, 50, 0, "0 MACHINE_ID", "20 DARFT_COUNT", "39 LOACL_IP",
          "49 ROOT_PASS");
    TABLE(STATISTICS_KEYS_TO_STR, 27, 0, "0 LAST_LOGIN_DATE", "26 RESIDENT_SYNC_TIMESTAMP");
    TABLE(ACTIVITY_SWITCHER_TO_STR, 3, 0, "0 Adapter", "2 Backend");
    TABLE(WIFI_STATUS_TO_STR, 3, 0, "0 Connected", "2 Disconnected");
    TABLE(RECONF_TARGET_TO_STR, 3, 1, "1 Reconfigure", "3 EraseAllData");
#undef TABLE
}

void TestVovodoGlobal::tables()
{
    QFETCH(QStringList, rows);
    QFETCH(int, count);
    QFETCH(int, firstValue);
    QFETCH(QStringList, spots);

    QCOMPARE(rows.size(), count);
    // The numbers cross to the main application: consecutive from the first,
    // iterated in ascending order.
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i).section(QLatin1Char(' '), 0, 0).toInt(), firstValue + i);
    for (const QString &spot : qAsConst(spots))
        QVERIFY2(rows.contains(spot), qPrintable(spot));
}

void TestVovodoGlobal::lookups_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("action 3") << UPDATE_ACTION_TO_STR.value(UpdateActions(3))
                              << "DOWNLOAD_FORCE_INSTALL";
    QTest::newRow("action 7") << UPDATE_ACTION_TO_STR.value(UpdateActions(7)) << "";
    QTest::newRow("battery 10") << BATTERY_TO_STR.value(BatterHealth(10)) << "HEALTH50";
    QTest::newRow("battery 20") << BATTERY_TO_STR.value(BatterHealth(20)) << "HEALTHFULL";
    QTest::newRow("battery 21") << BATTERY_TO_STR.value(BatterHealth(21)) << "";
    QTest::newRow("settings WIFI_MAC_ADDRESS") << SETTINGS_KEYS_TO_STR.value(WIFI_MAC_ADDRESS)
                                               << "WIFI_MAC_ADDRESS";
    QTest::newRow("settings past the end")
            << SETTINGS_KEYS_TO_STR.value(SettingsKeys(ROOT_PASS + 1)) << "";
    QTest::newRow("reconfigure 0") << RECONF_TARGET_TO_STR.value(ReconfigureTarget(0)) << "";
    QTest::newRow("field Email") << QString::number(INFO_FIELD_TO_STR.value("Email")) << "1";
    // Case-sensitive: an unknown text reads as the default value, which is Name's.
    QTest::newRow("field email") << QString::number(INFO_FIELD_TO_STR.value("email")) << "0";
}

void TestVovodoGlobal::lookups()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestVovodoGlobal::noTextTwice()
{
    QStringList texts = textsOf(APIPROCESS_TO_STR, PRIORITY_TO_STR, TRANSACTION_TO_STR,
                                UPDATE_ACTION_TO_STR, UPDATE_COMMANDS_TO_STR,
                                PERCENTAGE_TAGS_TO_STR, BATTERY_TO_STR, CLOUD_STATE_TO_STR,
                                LOCK_STATUS_TO_STR, RESTART_TARGET_FIELD_TO_STR,
                                SETTINGS_KEYS_TO_STR, STATISTICS_KEYS_TO_STR,
                                ACTIVITY_SWITCHER_TO_STR, WIFI_STATUS_TO_STR, RECONF_TARGET_TO_STR);
    QCOMPARE(INFO_FIELD_TO_STR.keys(), QStringList({ "Email", "Name", "Password", "Phone" }));
    texts += INFO_FIELD_TO_STR.keys();
    QCOMPARE(texts.size(), 169);
    QCOMPARE(texts.removeDuplicates(), 0);
}

void TestVovodoGlobal::supportedFileTypes()
{
    // Walked from the front by the path helpers: ".tar.gz" must come before ".gz".
    QCOMPARE(SupportedFileTypes,
             QStringList({ ".jpg", ".png", ".tar.gz", ".gz", ".zip", ".jbin" }));
}

void TestVovodoGlobal::datePatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    QTest::newRow("FILE_DATE_TIME_FORMAT") << FILE_DATE_TIME_FORMAT << "_2024_03_05_14_07_09";
    QTest::newRow("LOG_FILE_DATE_TIME_FORMAT")
            << LOG_FILE_DATE_TIME_FORMAT << "2024_03_05_14_07_09";
    QTest::newRow("LOG_FILE_DATE_FORMAT") << LOG_FILE_DATE_FORMAT << "2024_03_05";
    // Built from RESIDENT_DATE_FORMAT of the same file during static initialisation.
    QTest::newRow("DATE_WATCH_DOG_FORMAT") << DATE_WATCH_DOG_FORMAT << "05/03/2024";
}

void TestVovodoGlobal::datePatterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, expected);

    const QDateTime moment(QDate(2024, 3, 5), QTime(14, 7, 9, 45));
    QCOMPARE(moment.toString(pattern), expected);
    // The log retention reads dates back from file names.
    QCOMPARE(QDateTime::fromString(expected, pattern).date(), moment.date());
}

TESSALY_TEST_MAIN(TestVovodoGlobal)

#include "tst_vovodoglobal.moc"
