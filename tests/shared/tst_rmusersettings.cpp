#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "shared/rmusersettings.h"
#include "support/childprogram.h"
#include "support/logcapture.h"
#include "support/testmain.h"

using Table = QMap<QString, QString>;
using Operation = void (RMUserSettings::*)();
Q_DECLARE_METATYPE(Operation)

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList sorted(QStringList lines)
{
    lines.sort();
    return lines;
}

// In the locale's encoding, as the store writes; every line must end in a line feed.
QStringList sortedLines(const QString &path)
{
    const QString text = QTextCodec::codecForLocale()->toUnicode(contents(path));
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        return { QStringLiteral("<no final line feed>") };
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeLast();
    return sorted(lines);
}

void assign(RMUserSettings &settings, const Table &table)
{
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        settings[it.key()] = it.value();
}

// Big enough that a kill lands inside a write: about 200 KB.
Table bigTable(char fill)
{
    Table table;
    for (int i = 0; i < 3000; ++i)
        table.insert(QStringLiteral("KEY_%1").arg(i), QString(60, QLatin1Char(fill)));
    return table;
}

QStringList tableLines(const Table &table)
{
    QStringList result;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        result.append(it.key() + QLatin1String("::") + it.value());
    return sorted(result);
}

// Run as a child: stores one table, says so, then alternates two tables
// until it is killed.
int storeForever(const char *baseDir)
{
    RMUserSettings settings(QString(), QFile::decodeName(baseDir), nullptr);
    assign(settings, bigTable('a'));
    settings.store();
    std::fputs("stored\n", stdout);
    std::fflush(stdout);
    for (char fill = 'b';; fill = fill == 'a' ? 'b' : 'a') {
        assign(settings, bigTable(fill));
        settings.store();
    }
}

} // namespace

class TestRMUserSettings : public QObject
{
    Q_OBJECT

    QString base() const { return dir->path(); }
    QString settingsPath() const { return dir->path() + QStringLiteral("/conf/Tessaly.cbin"); }
    std::unique_ptr<QTemporaryDir> dir;

private Q_SLOTS:
    void init()
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
    }

    void lifecycle()
    {
        // Enough ".." to climb from the executable's folder to the root, so the
        // sibling folder lands in this test's own folder; "%1" must stay as it is.
        const QString appDir = QCoreApplication::applicationDirPath();
        const QString appFolder = QStringLiteral("../").repeated(appDir.count(QLatin1Char('/')) + 4)
                + base().mid(1) + QStringLiteral("/sib%1ling");
        QVERIFY(RMUserSettings::requestNewObj);
        LogCapture log;
        {
            RMUserSettings settings(appFolder, nullptr);
            QVERIFY(!RMUserSettings::requestNewObj);
            settings[QStringLiteral("A")] = QStringLiteral("1");
            settings.store();
            settings[QStringLiteral("B")] = QStringLiteral("pending");
        }
        QVERIFY(RMUserSettings::requestNewObj);
        const QList<LogCapture::Entry> expected = {
            { QtDebugMsg, QStringLiteral("RMUserSettings::RMUserSettings()") },
            { QtInfoMsg, QStringLiteral("user settings path:  \"%1/../../%2/bin/conf/Tessaly.cbin\"").arg(appDir, appFolder) },
            { QtDebugMsg, QStringLiteral("RMUserSettings::~RMUserSettings()") },
        };
        QCOMPARE(log.entries(), expected);
        QCOMPARE(contents(base() + QStringLiteral("/sib%1ling/bin/conf/Tessaly.cbin")), QByteArray("A::1\n"));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Table>("assigned");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<Table>("reloaded");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("refused");

        const QByteArray utf8 = "UTF-8";
        QTest::newRow("empty value not written") << utf8 << QByteArray() << Table{ { "A", "1" }, { "B", "" } }
                << QStringList{ "A::1" } << Table{ { "A", "1" }, { "B", "" } } << 0 << 0;
        QTest::newRow("nothing after separator") << utf8 << QByteArray("K::\nA::1\n") << Table()
                << QStringList{ "A::1" } << Table{ { "K", "" }, { "A", "1" } } << 0 << 0;
        QTest::newRow("line starting with separator") << utf8 << QByteArray("::lead\n") << Table()
                << QStringList{ "::lead" } << Table{ { "", "lead" } } << 0 << 0;
        QTest::newRow("lines without separator skipped, split at first separator") << utf8
                << QByteArray("junk\nA::b::c\n\nB:2\nD:::e\nC::3\nx") << Table() << QStringList{ "A::b::c", "D:::e", "C::3" }
                << Table{ { "A", "b::c" }, { "D", ":e" }, { "C", "3" }, { "junk", "" }, { "B:2", "" } } << 3 << 0;
        // "\r\n" ends a line; any other '\r' is text.
        QTest::newRow("carriage returns") << utf8 << QByteArray("A::1\r\nB::2\r\n") << Table{ { "C", "x\ry" } }
                << QStringList{ "A::1", "B::2", "C::x\ry" } << Table{ { "A", "1" }, { "B", "2" }, { "C", "x\ry" } } << 0 << 0;
        QTest::newRow("entries the file cannot hold refused, others kept") << utf8 << QByteArray("N::old\n")
                << Table{ { "A", "1" }, { "K::x", "v" }, { "N", "a\nb" }, { "C:", "v" }, { "R", "v\r" }, { "L\n", "v" },
                          { "V", "x::y" }, { "", "lead" } }
                << QStringList{ "A::1", "V::x::y", "::lead" }
                << Table{ { "A", "1" }, { "V", "x::y" }, { "", "lead" }, { "N", "" }, { "C:", "" }, { "K", "" }, { "R", "" } }
                << 0 << 5;
        // Text the locale's encoding cannot hold would come back as other text.
        const Table latin{ { "K", "Grüße" }, { "O", "x" } };
        QTest::newRow("latin-1 umlauts") << QByteArray("ISO-8859-1") << QByteArray() << latin
                << QStringList{ "K::Grüße", "O::x" } << latin << 0 << 0;
        QTest::newRow("latin-1 cannot hold CJK") << QByteArray("ISO-8859-1") << QByteArray()
                << Table{ { "K", "日本" }, { "O", "x" } } << QStringList{ "O::x" } << Table{ { "K", "" }, { "O", "x" } } << 0 << 1;
        QTest::newRow("utf-8 lone surrogates") << utf8 << QByteArray()
                << Table{ { "E", QString(QChar(0xd800)) }, { "I", "a" + QString(QChar(0xdc00)) + "b" }, { "O", "x" } }
                << QStringList{ "O::x" } << Table{ { "E", "" }, { "I", "" }, { "O", "x" } } << 0 << 2;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, codec);
        QFETCH(QByteArray, file);
        QFETCH(Table, assigned);
        QFETCH(QStringList, lines);
        QFETCH(Table, reloaded);
        QFETCH(int, skipped);
        QFETCH(int, refused);

        QTextCodec::setCodecForLocale(QTextCodec::codecForName(codec));
        if (!file.isNull())
            writeFile(settingsPath(), file);
        {
            LogCapture log;
            RMUserSettings first(QString(), base(), nullptr);
            assign(first, assigned);
            first.store();
            const QStringList warnings = log.messages(QtWarningMsg);
            const QString report = QStringLiteral(
                    "RMUserSettings::readSettings: lines without separator skipped, count %1");
            QCOMPARE(warnings.filter(QStringLiteral("RMUserSettings::readSettings: ")),
                     skipped ? QStringList{ report.arg(skipped) } : QStringList());
            QCOMPARE(warnings.filter(QStringLiteral("RMUserSettings::writeSettings: ")).size(), refused);
            QCOMPARE(warnings.size(), (skipped ? 1 : 0) + refused);
        }
        QCOMPARE(sortedLines(settingsPath()), sorted(lines));
        RMUserSettings second(QString(), base(), nullptr);
        for (auto it = reloaded.cbegin(); it != reloaded.cend(); ++it)
            QCOMPARE(second[it.key()], it.value());
    }

    void bulkReset_data()
    {
        QTest::addColumn<Operation>("reset");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("reconfigureApp") << &RMUserSettings::reconfigureApp
                << QStringList{ "USER_CODE::d", "TIME_ZONE::b", "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
        QTest::newRow("logoutApp") << &RMUserSettings::logoutApp
                << QStringList{ "STORE_CODE::h", "FACILITY_CODE::l", "UNIT_CODE::c", "TIME_ZONE::b",
                                "UUID_CODE::e", "STORE_NAME::m", "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
        QTest::newRow("appBackFromLoginToConfig") << &RMUserSettings::appBackFromLoginToConfig
                << QStringList{ "UUID_CODE::e", "TIME_ZONE::b", "AUTO_PRINT_ORDER::i", "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
    }

    void bulkReset()
    {
        QFETCH(Operation, reset);
        QFETCH(QStringList, lines);
        // The kept keys of every reset, a lower-case, a padded and a prefixed
        // spelling of a kept key, and keys foreign to the vocabulary.
        const Table table{ { "USER_NAME", "a" }, { "TIME_ZONE", "b" }, { "UNIT_CODE", "c" }, { "USER_CODE", "d" },
                           { "UUID_CODE", "e" }, { "time_zone", "f" }, { "FOREIGN", "g" }, { "STORE_CODE", "h" },
                           { "AUTO_PRINT_ORDER", "i" }, { "MOBILE_URL", "j" }, { "WIFI_MAC_ADDRESS", "k" },
                           { "FACILITY_CODE", "l" }, { "STORE_NAME", "m" }, { " TIME_ZONE", "n" },
                           { "TIME_ZONE_NAME", "o" }, { "", "p" } };
        RMUserSettings settings(QString(), base(), nullptr);
        assign(settings, table);
        settings.store();
        QCOMPARE(sortedLines(settingsPath()).size(), table.size());

        (settings.*reset)();
        QCOMPARE(sortedLines(settingsPath()), sorted(lines));
        // The table itself holds only the kept entries, not just the file.
        writeFile(settingsPath(), QByteArray());
        settings.store();
        QCOMPARE(sortedLines(settingsPath()), sorted(lines));
    }

    void afterRestart_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Table>("table");
        QTest::newRow("store") << &RMUserSettings::store << Table{ { "USER_CODE", "1" }, { "UUID_CODE", "2" }, { "X", "new" } };
        QTest::newRow("clearSettingsFile") << &RMUserSettings::clearSettingsFile << Table{ { "USER_CODE", "" }, { "UUID_CODE", "" }, { "X", "" } };
        QTest::newRow("logoutApp") << &RMUserSettings::logoutApp << Table{ { "USER_CODE", "" }, { "UUID_CODE", "2" }, { "X", "" } };
    }

    void afterRestart()
    {
        QFETCH(Operation, operation);
        QFETCH(Table, table);
        RMUserSettings settings(QString(), base(), nullptr);
        assign(settings, { { "USER_CODE", "1" }, { "UUID_CODE", "2" }, { "X", "3" } });
        settings.store();
        const QByteArray before = contents(settingsPath());

        QVERIFY(QMetaObject::invokeMethod(&settings, "deviceRestarting", Q_ARG(QString, "any")));
        settings[QStringLiteral("X")] = QStringLiteral("new");
        (settings.*operation)();
        QCOMPARE(contents(settingsPath()), before);
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            QCOMPARE(settings[it.key()], it.value());
    }

    void syncMergesAndEraseLeavesFile()
    {
        const QByteArray file = "A::file\nB::\nC::2\n";
        writeFile(settingsPath(), file);
        RMUserSettings settings(QString(), base(), nullptr);
        assign(settings, { { "A", "memory" }, { "B", "memory" }, { "D", "memory" } });
        settings.erase(QStringLiteral("C"));
        settings.erase(QStringLiteral("absent"));
        QCOMPARE(contents(settingsPath()), file);

        settings.sync();
        QCOMPARE(settings[QStringLiteral("A")], QStringLiteral("file"));
        QCOMPARE(settings[QStringLiteral("B")], QString());
        QCOMPARE(settings[QStringLiteral("C")], QStringLiteral("2"));
        QCOMPARE(settings[QStringLiteral("D")], QStringLiteral("memory"));

        settings.erase(QStringLiteral("C"));
        settings.store();
        settings.sync();
        QCOMPARE(settings[QStringLiteral("C")], QString());
        QCOMPARE(sortedLines(settingsPath()), (QStringList{ "A::file", "D::memory" }));
    }

    // Without a usable conf folder the store works in memory, silently, and
    // leaves what stands in the way alone.
    void unusableFolder()
    {
        writeFile(base() + QStringLiteral("/conf"), "A::from-file\n");
        RMUserSettings settings(QString(), base(), nullptr);
        LogCapture log;
        settings[QStringLiteral("A")] = QStringLiteral("1");
        settings.store();
        settings.sync();
        QCOMPARE(settings[QStringLiteral("A")], QStringLiteral("1"));
        settings.clearSettingsFile();
        assign(settings, { { "B", "2" }, { "TIME_ZONE", "3" } });
        settings.logoutApp();
        QCOMPARE(settings[QStringLiteral("A")], QString());
        QCOMPARE(settings[QStringLiteral("B")], QString());
        QCOMPARE(settings[QStringLiteral("TIME_ZONE")], QStringLiteral("3"));
        QCOMPARE(contents(base() + QStringLiteral("/conf")), QByteArray("A::from-file\n"));
        QVERIFY(log.entries().isEmpty());
    }

    void concurrentStoreAndRead()
    {
        // Only keys that logoutApp keeps, so every writer writes the same table.
        const Table table{ { "STORE_CODE", "s1" }, { "FACILITY_CODE", "f1" }, { "UNIT_CODE", "u1" },
                           { "TIME_ZONE", "Europe/Oslo" }, { "UUID_CODE", "0f3c" }, { "STORE_NAME", "Main" },
                           { "WIFI_MAC_ADDRESS", "aa:bb" }, { "MOBILE_URL", "https://x/y" } };
        QStringList lines;
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            lines.append(it.key() + "::" + it.value());
        RMUserSettings settings(QString(), base(), nullptr);
        assign(settings, table);
        settings.store();

        const int rounds = 300;
        const QVector<std::function<void(int)>> steps = {
            [&](int) { settings.store(); },
            [&](int) { settings.sync(); },
            [&](int) { settings.logoutApp(); },
            [&](int) { settings.erase(QStringLiteral("absent")); settings.stopManager(); },
            [&](int round) { if (round == rounds / 2) settings.deviceRestarting(QString()); settings.store(); },
        };
        std::vector<std::future<void>> running;
        for (const auto &step : steps)
            running.push_back(std::async(std::launch::async, [&] { for (int i = 0; i < rounds; ++i) step(i); }));
        for (auto &job : running)
            job.get();
        QCOMPARE(sortedLines(settingsPath()), sorted(lines));
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            QCOMPARE(settings[it.key()], it.value());
    }

    void stopManagerWaitsForRunningOperation()
    {
        RMUserSettings settings(QString(), base(), nullptr);
        // Opening a pipe for reading waits for a writer: sync() stays inside, holding the mutex.
        const QByteArray pipePath = QFile::encodeName(settingsPath());
        QCOMPARE(::mkfifo(pipePath.constData(), 0600), 0);
        auto reader = std::async(std::launch::async, [&] { settings.sync(); });
        QThread::msleep(100);
        auto stopper = std::async(std::launch::async, [&] {
            return QMetaObject::invokeMethod(&settings, "stopManager", Qt::DirectConnection);
        });
        const bool stopperWaited =
                stopper.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
        int writeEnd = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
                writeEnd >= 0 || (writeEnd = ::open(pipePath.constData(), O_WRONLY | O_NONBLOCK)) >= 0,
                10000);
        ::close(writeEnd);
        reader.get();
        QVERIFY(stopper.get());
        QVERIFY(stopperWaited);
    }

    // A kill at any moment of store() leaves the old or the new table, complete.
    void killDuringStore()
    {
        const QStringList first = tableLines(bigTable('a'));
        const QStringList second = tableLines(bigTable('b'));
        int interrupted = 0;
        for (int trial = 0; trial < 30; ++trial) {
            QProcess child;
            TestSupport::startChild(child, QCoreApplication::applicationFilePath(),
                                    { QStringLiteral("--store-forever"), base() });
            QVERIFY(child.waitForReadyRead(10000));
            QThread::usleep(QRandomGenerator::global()->bounded(20000));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));
            const QStringList found = sortedLines(settingsPath());
            QVERIFY2(found == first || found == second,
                     qPrintable(QStringLiteral("trial %1: %2 lines").arg(trial).arg(found.size())));
            interrupted += found == second ? 1 : 0;
        }
        // Only meaningful if the kills landed while the alternating writes ran.
        QVERIFY(interrupted > 0);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--store-forever") == 0)
        return storeForever(argv[2]);
    QTEST_SET_MAIN_SOURCE_PATH
    return TestSupport::runTest<TestRMUserSettings>(argc, argv);
}

#include "tst_rmusersettings.moc"
