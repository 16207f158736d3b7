#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

#include <initializer_list>

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

// The same lines built from the enumerators themselves, their names taken
// from the source text, so that every text is held against its identifier.
QStringList enumeratorRows(std::initializer_list<int> values, const char *names)
{
    const QStringList nameList = QString::fromLatin1(names).split(QLatin1Char(','));
    QStringList rows;
    int index = 0;
    for (int value : values)
        rows << QStringLiteral("%1 %2").arg(value).arg(nameList.value(index++).trimmed());
    return rows;
}

#define ENUMERATORS(...) enumeratorRows({ __VA_ARGS__ }, #__VA_ARGS__)

template <typename Enum>
void collectTexts(const QMap<Enum, QString> &table, QStringList &texts)
{
    texts += table.values();
}

} // namespace

class TestVovodoGlobal : public QObject
{
    Q_OBJECT

private slots:
    void tables_data();
    void tables();
    void infoFieldTable();
    void lookups_data();
    void lookups();
    void noTextTwice();
    void supportedFileTypes();
    void scalarConstants_data();
    void scalarConstants();
    void superUserPin();
    void datePatterns_data();
    void datePatterns();
};

void TestVovodoGlobal::tables_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstValue");

    QTest::newRow("APIPROCESS_TO_STR")
            << rowsOf(APIPROCESS_TO_STR)
            << ENUMERATORS(CHECK_VALID_USER, STORES, FACILITIES, UNITS, USERS, CONFIGURE_DEVICE,
                           PAPER_TYPES, PATIENT_LIST, PATIENT_DETAILS,
                           PATIENT_ORDER_DETAILS_PRESCRIPTION, PATIENT_ORDER_DETAILS_ADMISSION,
                           BINDER_ADMISSION, BINDER_PRESCRIPTION, UPDATE_DEVICE_HEALTH,
                           PATIENT_NEXT_PREV_PAGE_INFO, PRINT_FILE, LOCAL_PRINT_SERVICE,
                           FORGOT_USER_PASSWORD, CHECK_OTP, RESET_PASSWORD, CHANE_PASSWORD,
                           UPDATE_USER, LU_CODE, USER_GUIDE, DASHBOARD, GET_COMMAND_QUEUE,
                           UPDATE_COMMAND_QUEUE, RECONFIGURE_DEVICE, BINDER_VIEWER, SIG_INFO)
            << 30 << 0;
    QTest::newRow("PRIORITY_TO_STR")
            << rowsOf(PRIORITY_TO_STR)
            << ENUMERATORS(DynamicSync, HighDynamicSync, TotalSync, MidHigh, High) << 5 << 0;
    QTest::newRow("TRANSACTION_TO_STR")
            << rowsOf(TRANSACTION_TO_STR) << ENUMERATORS(PRESCRIPTION, ADMISSION) << 2 << 0;
    QTest::newRow("UPDATE_ACTION_TO_STR")
            << rowsOf(UPDATE_ACTION_TO_STR)
            << ENUMERATORS(INVALID, DOWNLOAD_ONLY, INSTALL_NOW, DOWNLOAD_FORCE_INSTALL) << 4 << 0;
    QTest::newRow("UPDATE_COMMANDS_TO_STR")
            << rowsOf(UPDATE_COMMANDS_TO_STR)
            << ENUMERATORS(MESSAGE_ONLY, DOWNLOAD_STARTED, DOWNLOAD_ERROR, UPDATE_INSTALLED,
                           UPDATE_AGAIN)
            << 5 << 0;
    QTest::newRow("PERCENTAGE_TAGS_TO_STR")
            << rowsOf(PERCENTAGE_TAGS_TO_STR)
            << ENUMERATORS(UPLOAD_PERCENTAGE, DOWNLOAD_PERCENTAGE) << 2 << 0;
    QTest::newRow("BATTERY_TO_STR")
            << rowsOf(BATTERY_TO_STR)
            << ENUMERATORS(CHARGING, HEALTH5, HEALTH10, HEALTH15, HEALTH20, HEALTH25, HEALTH30,
                           HEALTH35, HEALTH40, HEALTH45, HEALTH50, HEALTH55, HEALTH60, HEALTH65,
                           HEALTH70, HEALTH75, HEALTH80, HEALTH85, HEALTH90, HEALTH95, HEALTHFULL)
            << 21 << 0;
    QTest::newRow("CLOUD_STATE_TO_STR")
            << rowsOf(CLOUD_STATE_TO_STR)
            << ENUMERATORS(OFFLINE, ONLINE, SYNC_DOWNLOAD, SYNC_UPLOAD, SYNC_FINISHED) << 5 << 0;
    QTest::newRow("LOCK_STATUS_TO_STR")
            << rowsOf(LOCK_STATUS_TO_STR)
            << ENUMERATORS(UNLOCKED, LOCKED_WRONG_ATTEMPTS, IDLE_LOCK) << 3 << 0;
    QTest::newRow("RESTART_TARGET_FIELD_TO_STR")
            << rowsOf(RESTART_TARGET_FIELD_TO_STR) << ENUMERATORS(Application, Device) << 2 << 0;
    QTest::newRow("SETTINGS_KEYS_TO_STR")
            << rowsOf(SETTINGS_KEYS_TO_STR)
            << ENUMERATORS(MACHINE_ID, ROLE_GROUP_CODE, RESET_PASSCODE_ROLE, PRINT_PORT, USER_NAME,
                           FACILITY_CODE, TIME_ZONE, TIME_ZONE_NAME, USER_CODE, AUTO_PRINT_ORDER,
                           USB_MAC_ADDRESS, PATIENTS_COUNT, ROLE_TYPE, UNIT_CODE, ROLE_CODE,
                           PRINT_IP, MACHINE_NO, UNIT_NAME, TOTAL_SYNC, UUID_CODE, DARFT_COUNT,
                           PRESCRIPTION_COUNT, BOOK_COUNT, SHOW_PRINT_ORDER_DIALOG,
                           PRINTER_ENABLED, CENTRAL_UPDATE, CENTRAL_PRINT, STORE_CODE, STORE_NAME,
                           MOBILE_URL, FACILITY_NAME, PRINTER_NAME, PRINT_COUNT,
                           BROADCAST_MESSAGE, INFORMATION_TITLE, INFORMATION_MESSAGE, SWITCH_USER,
                           LOGOUT, PUBLIC_IP, LOACL_IP, USB_IP, WIFI_MAC_ADDRESS, FIREWALL_STATUS,
                           FIREWALL_LAST_UPDATE, FIREWALL_VERSION, AUTO_UPDATE_STATUS,
                           LAST_DOWNLOADED_APP_VERSION, COMMAND_NAME, LAST_INTERNET_DOWN,
                           ROOT_PASS)
            << 50 << 0;
    QTest::newRow("STATISTICS_KEYS_TO_STR")
            << rowsOf(STATISTICS_KEYS_TO_STR)
            << ENUMERATORS(LAST_LOGIN_DATE, LAST_SYNC_DATE, LAST_RESTART_DATE,
                           LAST_PRESCRIPTION_WRITTEN, LAST_ADMISSION_WRITTEN, LAST_PRINT_DATE,
                           LOGIN_ATTEMPTS, WIFI_DRIVER_VERSION, OS_LAST_UPDATE,
                           APPLICATION_VERSION, APPLICATION_VERSION_TYPE, OS_VERSION,
                           PENDING_ORDERS, PENDING_PRINT_ORDERS, BATTERY_HEALTH, BATTERY_STATUS,
                           TOTAL_STORAGE, USED_STORAGE, FREE_STORAGE, DOCTOR_DAY, DEVICE_STATUS,
                           DEVICE_HEALTH, PRINT_SERVICE_HEALTH, LOCK_STATUS,
                           FACILITY_SYNC_TIMESTAMP, UNIT_SYNC_TIMESTAMP, RESIDENT_SYNC_TIMESTAMP)
            << 27 << 0;
    QTest::newRow("ACTIVITY_SWITCHER_TO_STR")
            << rowsOf(ACTIVITY_SWITCHER_TO_STR) << ENUMERATORS(Adapter, Transaction, Backend)
            << 3 << 0;
    QTest::newRow("WIFI_STATUS_TO_STR")
            << rowsOf(WIFI_STATUS_TO_STR) << ENUMERATORS(Connected, Connecting, Disconnected)
            << 3 << 0;
    QTest::newRow("RECONF_TARGET_TO_STR")
            << rowsOf(RECONF_TARGET_TO_STR)
            << ENUMERATORS(Reconfigure, FactoryReset, EraseAllData) << 3 << 1;
}

void TestVovodoGlobal::tables()
{
    QFETCH(QStringList, rows);
    QFETCH(QStringList, expected);
    QFETCH(int, count);
    QFETCH(int, firstValue);

    QCOMPARE(rows.size(), count);
    QCOMPARE(rows, expected);
    // Consecutive values from the first one: the numbers are part of the
    // contract, and the map iterates in ascending order.
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i).section(QLatin1Char(' '), 0, 0).toInt(), firstValue + i);
}

void TestVovodoGlobal::infoFieldTable()
{
    QCOMPARE(INFO_FIELD_TO_STR.keys(),
             QStringList({ "Email", "Name", "Password", "Phone" }));
    const QList<EditableInfo> values = { Email, Name, Password, Phone };
    QCOMPARE(INFO_FIELD_TO_STR.values(), values);
    QCOMPARE(int(Name), 0);
    QCOMPARE(int(Email), 1);
    QCOMPARE(int(Phone), 2);
    QCOMPARE(int(Password), 3);
    QCOMPARE(sizeof(EditableInfo), size_t(4));

    QCOMPARE(INFO_FIELD_TO_STR.value(QStringLiteral("Email")), Email);
    // Case-sensitive: an unknown text reads as the default value, which is Name's.
    QCOMPARE(INFO_FIELD_TO_STR.value(QStringLiteral("email")), Name);
    QCOMPARE(INFO_FIELD_TO_STR.value(QString()), Name);
}

void TestVovodoGlobal::lookups_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("action 3") << UPDATE_ACTION_TO_STR.value(UpdateActions(3))
                              << "DOWNLOAD_FORCE_INSTALL";
    QTest::newRow("action 7") << UPDATE_ACTION_TO_STR.value(UpdateActions(7)) << "";
    QTest::newRow("action -1") << UPDATE_ACTION_TO_STR.value(UpdateActions(-1)) << "";
    QTest::newRow("command 5") << UPDATE_COMMANDS_TO_STR.value(UpdateCommands(5)) << "";
    QTest::newRow("percentage 2") << PERCENTAGE_TAGS_TO_STR.value(PercentageTags(2)) << "";
    QTest::newRow("battery 10") << BATTERY_TO_STR.value(BatterHealth(10)) << "HEALTH50";
    QTest::newRow("battery 20") << BATTERY_TO_STR.value(BatterHealth(20)) << "HEALTHFULL";
    QTest::newRow("battery 21") << BATTERY_TO_STR.value(BatterHealth(21)) << "";
    QTest::newRow("settings WIFI_MAC_ADDRESS") << SETTINGS_KEYS_TO_STR.value(WIFI_MAC_ADDRESS)
                                               << "WIFI_MAC_ADDRESS";
    QTest::newRow("settings past the end")
            << SETTINGS_KEYS_TO_STR.value(SettingsKeys(ROOT_PASS + 1)) << "";
    QTest::newRow("reconfigure 0") << RECONF_TARGET_TO_STR.value(ReconfigureTarget(0)) << "";
}

void TestVovodoGlobal::lookups()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestVovodoGlobal::noTextTwice()
{
    QStringList texts;
    collectTexts(APIPROCESS_TO_STR, texts);
    collectTexts(PRIORITY_TO_STR, texts);
    collectTexts(TRANSACTION_TO_STR, texts);
    collectTexts(UPDATE_ACTION_TO_STR, texts);
    collectTexts(UPDATE_COMMANDS_TO_STR, texts);
    collectTexts(PERCENTAGE_TAGS_TO_STR, texts);
    collectTexts(BATTERY_TO_STR, texts);
    collectTexts(CLOUD_STATE_TO_STR, texts);
    texts += INFO_FIELD_TO_STR.keys();
    collectTexts(LOCK_STATUS_TO_STR, texts);
    collectTexts(RESTART_TARGET_FIELD_TO_STR, texts);
    collectTexts(SETTINGS_KEYS_TO_STR, texts);
    collectTexts(STATISTICS_KEYS_TO_STR, texts);
    collectTexts(ACTIVITY_SWITCHER_TO_STR, texts);
    collectTexts(WIFI_STATUS_TO_STR, texts);
    collectTexts(RECONF_TARGET_TO_STR, texts);

    QCOMPARE(texts.size(), 169);
    QStringList twice;
    for (const QString &text : qAsConst(texts)) {
        if (texts.count(text) > 1 && !twice.contains(text))
            twice << text;
    }
    QCOMPARE(twice, QStringList());
}

void TestVovodoGlobal::supportedFileTypes()
{
    QCOMPARE(SupportedFileTypes,
             QStringList({ ".jpg", ".png", ".tar.gz", ".gz", ".zip", ".jbin" }));

    const QString path = QStringLiteral("/home/corvane/upgrade/Tessaly1.2.tar.gz");
    const auto first = std::find_if(SupportedFileTypes.cbegin(), SupportedFileTypes.cend(),
                                    [&](const QString &suffix) { return path.contains(suffix); });
    QVERIFY(first != SupportedFileTypes.cend());
    QCOMPARE(*first, QStringLiteral(".tar.gz"));
}

void TestVovodoGlobal::scalarConstants_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

#define CONSTANT(name, text) QTest::newRow(#name) << name << text
    CONSTANT(SUPER_USER, "SUPER_USER");
    CONSTANT(SUPPORT_USER, "support_user");
    CONSTANT(TIME_STAMP_FORMAT, "yyyy-MM-dd hh:mm:ss");
    CONSTANT(TIME_STAMP_DISP_FORMAT, "MM-dd-yyyy hh:mm:ss");
    CONSTANT(DETAILED_TIME_STAMP_FORMAT, "yyyy-MM-dd hh:mm:ss.zzz");
    CONSTANT(ORDER_TIME_STAMP_FORMAT, "yyyyMMddhhmmsszzz");
    CONSTANT(FILE_DATE_TIME_FORMAT, "_yyyy_MM_dd_HH_mm_ss");
    CONSTANT(FILE_DATE_TIME_DETAILED_FORMAT, "_yyyy_MM_dd_HH_mm_ss_zzz");
    CONSTANT(DATE_FORMAT, "yyyy-MM-dd");
    CONSTANT(RESIDENT_DATE_FORMAT, "dd/MM/yyyy");
    CONSTANT(CRCL_DATE_DISPLAY_FORMAT, "MM/dd/yyyy");
    CONSTANT(DATE_SEND_FORMAT, "yyyy-MM-dd");
    CONSTANT(TIME_FORMAT, "hh:mm");
    CONSTANT(DATE_WATCH_DOG_FORMAT, RESIDENT_DATE_FORMAT);
    CONSTANT(TIME_WATCH_DOG_FORMAT, "hh:mm:ss");
    CONSTANT(VIEW_MORE_IDENTIFIER, "VIEW MORE");
    CONSTANT(DEFAULT_WPA_IDENTIFIER, "VovodoDefaultWF");
    CONSTANT(LOG_FILE_DATE_TIME_FORMAT, "yyyy_MM_dd_HH_mm_ss");
    CONSTANT(LOG_FILE_DATE_FORMAT, "yyyy_MM_dd");
    CONSTANT(PRINT_FILES_FORMATE, ".png");
    CONSTANT(PRINT_THUMBNAILS_FORMATE, ".ico");
    CONSTANT(INITIAL_BATTERY_STATUS, "Discharging");
#undef CONSTANT
    QTest::newRow("DATE_WATCH_DOG_FORMAT literally") << DATE_WATCH_DOG_FORMAT << "dd/MM/yyyy";
}

void TestVovodoGlobal::scalarConstants()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(value, expected);
}

void TestVovodoGlobal::superUserPin()
{
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9]{4}$")).match(SUPER_USER_PIN).hasMatch());
}

void TestVovodoGlobal::datePatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    QTest::newRow("FILE_DATE_TIME_FORMAT") << FILE_DATE_TIME_FORMAT << "_2024_03_05_14_07_09";
    QTest::newRow("FILE_DATE_TIME_DETAILED_FORMAT")
            << FILE_DATE_TIME_DETAILED_FORMAT << "_2024_03_05_14_07_09_045";
    QTest::newRow("LOG_FILE_DATE_TIME_FORMAT")
            << LOG_FILE_DATE_TIME_FORMAT << "2024_03_05_14_07_09";
    QTest::newRow("LOG_FILE_DATE_FORMAT") << LOG_FILE_DATE_FORMAT << "2024_03_05";
    QTest::newRow("ORDER_TIME_STAMP_FORMAT") << ORDER_TIME_STAMP_FORMAT << "20240305140709045";
    QTest::newRow("TIME_STAMP_DISP_FORMAT") << TIME_STAMP_DISP_FORMAT << "03-05-2024 14:07:09";
    QTest::newRow("RESIDENT_DATE_FORMAT") << RESIDENT_DATE_FORMAT << "05/03/2024";
    QTest::newRow("CRCL_DATE_DISPLAY_FORMAT") << CRCL_DATE_DISPLAY_FORMAT << "03/05/2024";
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
