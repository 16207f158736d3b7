#include "common/updaterconfig.h"
#include "common/vovodo_global.h"
#include "support/testsupport.h"

class TestVovodoGlobal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wholeVocabulary()
    {
        // The process's identity too: the other tests take the version from the build.
        QStringList lines{
            QStringList{ UpdaterConfig::applicationName(), UpdaterConfig::organizationName(),
                         UpdaterConfig::organizationDomain(), UpdaterConfig::applicationVersion() }
                    .join(QLatin1Char(' ')),
            SupportedFileTypes.join(QLatin1Char(' '))
        };
        const auto dump = [&lines](const char *name, const auto &table) {
            for (auto it = table.cbegin(); it != table.cend(); ++it)
                lines << QStringLiteral("%1 %2 %3")
                                 .arg(QLatin1String(name))
                                 .arg(it.key())
                                 .arg(it.value());
        };
#define T(table) dump(#table, table)
        T(APIPROCESS_TO_STR), T(PRIORITY_TO_STR), T(TRANSACTION_TO_STR), T(UPDATE_ACTION_TO_STR);
        T(UPDATE_COMMANDS_TO_STR), T(PERCENTAGE_TAGS_TO_STR), T(BATTERY_TO_STR);
        T(CLOUD_STATE_TO_STR), T(INFO_FIELD_TO_STR), T(LOCK_STATUS_TO_STR);
        T(RESTART_TARGET_FIELD_TO_STR), T(SETTINGS_KEYS_TO_STR), T(STATISTICS_KEYS_TO_STR);
        T(ACTIVITY_SWITCHER_TO_STR), T(WIFI_STATUS_TO_STR), T(RECONF_TARGET_TO_STR);
#define S(name) lines << QStringLiteral(#name " ") + name
        S(SUPER_USER_PIN), S(SUPER_USER), S(SUPPORT_USER), S(TIME_STAMP_FORMAT);
        S(TIME_STAMP_DISP_FORMAT), S(DETAILED_TIME_STAMP_FORMAT), S(ORDER_TIME_STAMP_FORMAT);
        S(FILE_DATE_TIME_FORMAT), S(FILE_DATE_TIME_DETAILED_FORMAT), S(DATE_FORMAT);
        S(RESIDENT_DATE_FORMAT), S(CRCL_DATE_DISPLAY_FORMAT), S(DATE_SEND_FORMAT), S(TIME_FORMAT);
        S(DATE_WATCH_DOG_FORMAT), S(TIME_WATCH_DOG_FORMAT), S(VIEW_MORE_IDENTIFIER);
        S(DEFAULT_WPA_IDENTIFIER), S(LOG_FILE_DATE_TIME_FORMAT), S(LOG_FILE_DATE_FORMAT);
        S(PRINT_FILES_FORMATE), S(PRINT_THUMBNAILS_FORMATE), S(INITIAL_BATTERY_STATUS);
        const QByteArray golden = TestSupport::readFile(QStringLiteral(VOCABULARY_FILE));
        QCOMPARE(lines, QString::fromUtf8(golden).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    }
};

TESSALY_TEST_MAIN(TestVovodoGlobal)
#include "tst_vovodoglobal.moc"
