#include <QtTest>

#include "common/updaterconfig.h"
#include "logging/logfilenames.h"
#include "logging/logger.h"
#include "support/testsupport.h"

using TestSupport::readFile;

using TestSupport::u;

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each line of the table: a file name, a tab, the date-time its name carries.
    void nameDates()
    {
        const QString table = QString::fromUtf8(readFile(QStringLiteral(LOG_NAMES_TABLE)));
        QVERIFY(!table.isEmpty());
        for (const QString &line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString name = line.section(QLatin1Char('\t'), 0, 0);
            QCOMPARE(name + QLatin1Char('\t') + logFileNameDate(name).toString(Qt::ISODate), line);
        }
    }

    // Today's earliest file of this version is continued; name dates 15 or more days old
    // go, also at a day change; other programs' files stay. With the service's handler
    // installed, reports of a direct call come back to the logger: not under its lock.
    void restartRetentionAndDayChange()
    {
        const QString folder = QDir::tempPath() + u("/logs/");
        const QString ours =
                u("TessalyUpdater_%1_2026_%2.log").arg(UpdaterConfig::applicationVersion());
        const QStringList before = { u("Tessaly_1.0_2026_01_01_00_00_00.log"),
                                     u("TessalyUpdaterGui_1.0_2026_01_01_00_00_00.log"),
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
        QVERIFY(QFile::exists(folder + before.at(5)));
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            logger.log(type, text);
        });
        logger.init();
        logger.log(QtCriticalMsg, u("%1 [%2] 100%"));
        logger.log(QtMsgType(5), u("restarted"));
        now = QDateTime(QDate(2026, 3, 6), QTime(0, 0, 30, 1));
        logger.log(QtWarningMsg, u("new day"));
        qInstallMessageHandler(nullptr);

        QCOMPARE(readFile(folder + before.at(4)),
                 "old\n2026-03-05T14:07:09.123 [INFO] Selecting exisitng log file:  "
                         + before.at(4).toUtf8()
                         + "\n2026-03-05T14:07:09.123 [ERROR] %1 [%2] 100%\n"
                           "2026-03-05T14:07:09.123 [UNKNOWN] restarted\n");
        QStringList after = before.mid(0, 5) << ours.arg(u("03_06_00_00_30"));
        QVERIFY(readFile(folder + after.last()).endsWith(" [WARNING] new day\n"));
        after.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), after);
    }
};

TESSALY_TEST_MAIN(TestLogger)

#include "tst_logger.moc"
