// The components shared with the main application: the settings store, the file loader and
// the statistics store.

#include <sys/wait.h>

#include <csignal>
#include <memory>

#include "shared/filemanager.h"
#include "shared/rmusersettings.h"
#include "shared/vovodostats.h"
#include "support/testsupport.h"

using TestSupport::u;

class TestSharedComponents : public QObject
{
    Q_OBJECT

    static QString base() { return QDir::temp().filePath(QLatin1String(QTest::currentDataTag())); }
    static QString path() { return base() + u("/conf/Tessaly.cbin"); }

private Q_SLOTS:
    void loadFile()
    {
        const QString path = QDir::tempPath() + u("/file");
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(u("\"%1 file can not be opened\"").arg(path)));
        QVERIFY(FileManager::instance()->loadFile(path).isNull());
        QVERIFY(TestSupport::writeFile(path, QByteArray()));
        QVERIFY(FileManager::instance()->loadFile(path).isNull());
        QVERIFY(TestSupport::writeFile(path, QByteArray("a\r\n\xc3\xbc\0b", 7)));
        QCOMPARE(FileManager::instance()->loadFile(path), u("a\r\n\u00fc"));
        delete FileManager::instance();
        QTest::ignoreMessage(QtInfoMsg, "FileManager::FileManager()"); // a new one, not the deleted
        QVERIFY(FileManager::instance()->loadFile(path).startsWith(QLatin1Char('a')));
    }

    void scenario_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QByteArray cases = TestSupport::readFile(QStringLiteral(SETTINGS_CASES));
        for (const QString &block : QString::fromUtf8(cases).split(u("\n\n"))) {
            QStringList steps = block.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QTest::newRow(qPrintable(steps.takeFirst())) << steps;
        }
    }

    void scenario()
    {
        QFETCH(QStringList, steps);
#define OP(name) \
    { \
        QStringLiteral(#name), &RMUserSettings::name \
    }
        const QHash<QString, void (RMUserSettings::*)()> operations{
            OP(store),          OP(sync),      OP(clearSettingsFile),
            OP(reconfigureApp), OP(logoutApp), OP(appBackFromLoginToConfig)
        };
        const auto sorted = [](QStringList list) { return list.sort(), list; };
        std::unique_ptr<RMUserSettings> settings;
        for (QString step : steps) {
            step.replace(u("\\n"), u("\n"));
            step.replace(u("\\r"), u("\r"));
            QStringList field = step.split(QLatin1Char('|'));
            const QString op = field.takeFirst();
            if (operations.contains(op)) {
                (settings.get()->*operations.value(op))();
            } else if (op == QLatin1String("new")) {
                settings = std::make_unique<RMUserSettings>(QString(), base(), nullptr);
            } else if (op == QLatin1String("file")) {
                QVERIFY(TestSupport::writeFile(path(), field.first().toUtf8()));
            } else if (op == QLatin1String("lines")) { // the final line feed gives an empty line
                const QString file = QString::fromUtf8(TestSupport::readFile(path()));
                QCOMPARE(sorted(file.split(QLatin1Char('\n'))), sorted(field << QString()));
            } else if (op == QLatin1String("warning")) {
                QTest::ignoreMessage(QtWarningMsg, qPrintable(field.first()));
            } else if (op == QLatin1String("erase")) {
                settings->erase(field.first());
            } else if (op == QLatin1String("set")) {
                for (int i = 0; i + 1 < field.size(); i += 2)
                    (*settings)[field.at(i)] = field.at(i + 1);
            } else if (op == QLatin1String("value")) {
                for (int i = 0; i + 1 < field.size(); i += 2)
                    QCOMPARE((*settings)[field.at(i)], field.at(i + 1));
            } else {
                QVERIFY2(QMetaObject::invokeMethod(&*settings, op.toLatin1(), Q_ARG(QString, op)),
                         qPrintable(op)); // deviceRestarting
            }
        }
    }

    // A value equal to the stored one as QVariant compares them, across types, is not handed
    // on, so the file on flash is not written again; another one is written at sync(), not before.
    void statistics_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("written");
        QTest::newRow("the same text") << QVariant(u("5")) << false;
        QTest::newRow("the same as a number") << QVariant(5) << false;
        QTest::newRow("another number") << QVariant(6) << true;
    }

    void statistics()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, written);
        const QString path = QDir::tempPath() + u("/stats.ini");
        const QByteArray file = "[General]\ncount = 5\n"; // QSettings writes no spaces
        QVERIFY(TestSupport::writeFile(path, file));
        VOvodoStats stats(path, QSettings::IniFormat, nullptr);
        stats.setValue(u("count"), value);
        QCOMPARE(TestSupport::readFile(path), file);
        stats.sync();
        QCOMPARE(TestSupport::readFile(path) != file, written);
        QCOMPARE(stats.value(u("count"), QVariant()), written ? value : QVariant(u("5")));
    }

    // A kill at any moment of store() leaves the old or the new table, complete.
    void killDuringStore()
    {
        for (int trial = 0; trial < 20; ++trial) {
            QFile::remove(path());
            const pid_t child = ::fork();
            for (char fill = 'a'; child == 0; fill ^= 'a' ^ 'b') { // the child, until killed
                RMUserSettings settings(QString(), base(), nullptr);
                for (int i = 0; i < 3000; ++i)
                    settings[u("KEY_%1").arg(i)] = QString(60, QLatin1Char(fill));
                settings.store();
            }
            QVERIFY(child > 0); // from here on nothing may fail before the kill
            if (QTest::qWaitFor([] { return QFile::exists(path()); }, 10000))
                QTest::qSleep(1 + QRandomGenerator::global()->bounded(20));
            QCOMPARE(::kill(child, SIGKILL), 0);
            QCOMPARE(::waitpid(child, nullptr, 0), child);
            const QByteArray file = TestSupport::readFile(path()); // 3000 complete a or b lines
            QVERIFY(file.count('a') == 3000 * 60 || file.count('b') == 3000 * 60);
        }
    }
};

TESSALY_TEST_MAIN(TestSharedComponents)
#include "tst_sharedcomponents.moc"
