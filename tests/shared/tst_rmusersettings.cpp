#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "shared/rmusersettings.h"
#include "support/logcapture.h"
#include "support/testmain.h"

using Table = QMap<QString, QString>;
using Operation = void (RMUserSettings::*)();

namespace {

const QHash<QString, Operation> operations = {
    { QStringLiteral("store"), &RMUserSettings::store },
    { QStringLiteral("clearSettingsFile"), &RMUserSettings::clearSettingsFile },
    { QStringLiteral("reconfigureApp"), &RMUserSettings::reconfigureApp },
    { QStringLiteral("logoutApp"), &RMUserSettings::logoutApp },
    { QStringLiteral("appBackFromLoginToConfig"), &RMUserSettings::appBackFromLoginToConfig },
};

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

// The file's lines in sorted order; every line must end in a line feed.
QStringList sortedLines(const QString &path)
{
    const QString text = QString::fromUtf8(contents(path));
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        return { QStringLiteral("<no final line feed>") };
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeLast();
    lines.sort();
    return lines;
}

QStringList sorted(QStringList lines)
{
    lines.sort();
    return lines;
}

int countStartingWith(const QStringList &messages, const QString &prefix)
{
    return int(std::count_if(messages.cbegin(), messages.cend(),
                             [&](const QString &m) { return m.startsWith(prefix); }));
}

} // namespace

class TestRMUserSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void filePath_data();
    void filePath();
    void lifecycle();
    void roundTrip_data();
    void roundTrip();
    void encoding_data();
    void encoding();
    void bulkReset_data();
    void bulkReset();
    void afterRestart_data();
    void afterRestart();
    void loadMergesIntoTable_data();
    void loadMergesIntoTable();
    void eraseNeverTouchesFile();
    void unusableFolder_data();
    void unusableFolder();
    void concurrentStoreAndRead();
    void stopManagerWaitsForRunningWrite();

private:
    QString base() const { return dir->path(); }
    QString settingsPath() const { return dir->path() + QStringLiteral("/conf/Tessaly.cbin"); }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestRMUserSettings::init()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
}

void TestRMUserSettings::filePath_data()
{
    QTest::addColumn<QString>("appFolder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("own folder") << QString() << "/opt/app/bin/conf/Tessaly.cbin";
    QTest::newRow("sibling") << "Other" << "/opt/app/bin/../../Other/bin/conf/Tessaly.cbin";
    QTest::newRow("placeholder in name") << "%1x" << "/opt/app/bin/../../%1x/bin/conf/Tessaly.cbin";
}

void TestRMUserSettings::filePath()
{
    QFETCH(QString, appFolder);
    QFETCH(QString, expected);
    QCOMPARE(userSettingsFilePath(QStringLiteral("/opt/app/bin"), appFolder), expected);
}

void TestRMUserSettings::lifecycle()
{
    // Enough ".." to climb from the executable's folder to the root, so the
    // sibling folder lands in this test's own folder, not in the build tree.
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString appFolder = QStringLiteral("../").repeated(appDir.count(QLatin1Char('/')) + 4)
            + base().mid(1) + QStringLiteral("/sibling");
    const QString written = base() + QStringLiteral("/sibling/bin/conf/Tessaly.cbin");

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
        { QtInfoMsg, QStringLiteral("user settings path:  \"%1\"")
                             .arg(userSettingsFilePath(appDir, appFolder)) },
        { QtDebugMsg, QStringLiteral("RMUserSettings::~RMUserSettings()") },
    };
    QCOMPARE(log.entries(), expected);
    QCOMPARE(contents(written), QByteArray("A::1\n"));
}

void TestRMUserSettings::roundTrip_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Table>("assigned");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Table>("reloaded");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("refused");

    QTest::newRow("empty value not written")
            << QByteArray() << Table{ { "A", "1" }, { "B", "" } } << QStringList{ "A::1" }
            << Table{ { "A", "1" }, { "B", "" } } << 0 << 0;
    QTest::newRow("nothing after separator")
            << QByteArray("K::\nA::1\n") << Table() << QStringList{ "A::1" }
            << Table{ { "K", "" }, { "A", "1" } } << 0 << 0;
    QTest::newRow("line starting with separator")
            << QByteArray("::lead\n") << Table() << QStringList{ "::lead" }
            << Table{ { "", "lead" } } << 0 << 0;
    QTest::newRow("split at first separator")
            << QByteArray("A::b::c\nD:::e\n") << Table() << QStringList{ "A::b::c", "D:::e" }
            << Table{ { "A", "b::c" }, { "D", ":e" } } << 0 << 0;
    QTest::newRow("lines without separator skipped")
            << QByteArray("junk\nA::1\n\nB:2\nC::3") << Table() << QStringList{ "A::1", "C::3" }
            << Table{ { "A", "1" }, { "C", "3" }, { "junk", "" }, { "B:2", "" } } << 2 << 0;
    QTest::newRow("crlf terminators")
            << QByteArray("A::1\r\nB::2\r\n") << Table() << QStringList{ "A::1", "B::2" }
            << Table{ { "A", "1" }, { "B", "2" } } << 0 << 0;
    QTest::newRow("inner carriage return kept")
            << QByteArray() << Table{ { "A", "x\ry" } } << QStringList{ "A::x\ry" }
            << Table{ { "A", "x\ry" } } << 0 << 0;
    QTest::newRow("entries the file cannot hold refused, others kept")
            << QByteArray("N::old\n")
            << Table{ { "A", "1" }, { "K::x", "v" }, { "N", "a\nb" }, { "C:", "v" },
                      { "R", "v\r" }, { "L\n", "v" }, { "V", "x::y" }, { "", "lead" } }
            << QStringList{ "A::1", "V::x::y", "::lead" }
            << Table{ { "A", "1" }, { "V", "x::y" }, { "", "lead" }, { "N", "" }, { "C:", "" },
                      { "K", "" }, { "R", "" } }
            << 0 << 5;
}

void TestRMUserSettings::roundTrip()
{
    QFETCH(QByteArray, file);
    QFETCH(Table, assigned);
    QFETCH(QStringList, lines);
    QFETCH(Table, reloaded);
    QFETCH(int, skipped);
    QFETCH(int, refused);

    if (!file.isNull())
        writeFile(settingsPath(), file);
    {
        LogCapture log;
        RMUserSettings first(QString(), base(), nullptr);
        for (auto it = assigned.cbegin(); it != assigned.cend(); ++it)
            first[it.key()] = it.value();
        first.store();
        const QStringList warnings = log.messages(QtWarningMsg);
        QCOMPARE(countStartingWith(warnings, "RMUserSettings::readSettings: "), skipped);
        QCOMPARE(countStartingWith(warnings, "RMUserSettings::writeSettings: "), refused);
        QCOMPARE(warnings.size(), skipped + refused);
    }
    QCOMPARE(sortedLines(settingsPath()), sorted(lines));

    RMUserSettings second(QString(), base(), nullptr);
    for (auto it = reloaded.cbegin(); it != reloaded.cend(); ++it)
        QCOMPARE(second[it.key()], it.value());
}

void TestRMUserSettings::encoding_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("stored");
    QTest::newRow("latin-1 umlauts") << QByteArray("ISO-8859-1") << "Grüße" << true;
    QTest::newRow("latin-1 cannot hold CJK") << QByteArray("ISO-8859-1") << "日本" << false;
    QTest::newRow("utf-8 CJK") << QByteArray("UTF-8") << "日本 ✓" << true;
    QTest::newRow("utf-8 lone surrogate at end") << QByteArray("UTF-8") << QString(QChar(0xd800)) << false;
    QTest::newRow("utf-8 lone surrogate inside") << QByteArray("UTF-8") << "a" + QString(QChar(0xdc00)) + "b" << false;
}

// The file is written in the locale's encoding; a value it cannot hold would
// come back as other text, so it is not written at all.
void TestRMUserSettings::encoding()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, value);
    QFETCH(bool, stored);

    QTextCodec::setCodecForLocale(QTextCodec::codecForName(codec));
    {
        RMUserSettings first(QString(), base(), nullptr);
        first[QStringLiteral("K")] = value;
        first[QStringLiteral("OTHER")] = QStringLiteral("x");
        LogCapture log;
        first.store();
        QCOMPARE(log.messages(QtWarningMsg).size(), stored ? 0 : 1);
    }
    RMUserSettings second(QString(), base(), nullptr);
    QCOMPARE(second[QStringLiteral("K")], stored ? value : QString());
    QCOMPARE(second[QStringLiteral("OTHER")], QStringLiteral("x"));
}

void TestRMUserSettings::bulkReset_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("reset");
    QTest::addColumn<QStringList>("lines");

    const Table small{ { "USER_NAME", "a" }, { "TIME_ZONE", "b" }, { "UNIT_CODE", "c" } };
    QTest::newRow("small, reconfigureApp") << small << "reconfigureApp" << QStringList{ "TIME_ZONE::b" };
    QTest::newRow("small, logoutApp")
            << small << "logoutApp" << QStringList{ "TIME_ZONE::b", "UNIT_CODE::c" };
    QTest::newRow("small, appBackFromLoginToConfig")
            << small << "appBackFromLoginToConfig" << QStringList{ "TIME_ZONE::b" };

    // Kept keys of every reset, a lower-case, a padded and a prefixed spelling
    // of a kept key, and keys foreign to the vocabulary.
    const Table full{ { "USER_NAME", "a" },        { "TIME_ZONE", "b" },      { "UNIT_CODE", "c" },
                      { "USER_CODE", "d" },        { "UUID_CODE", "e" },      { "time_zone", "f" },
                      { "FOREIGN", "g" },          { "STORE_CODE", "h" },     { "AUTO_PRINT_ORDER", "i" },
                      { "MOBILE_URL", "j" },       { "WIFI_MAC_ADDRESS", "k" }, { "FACILITY_CODE", "l" },
                      { "STORE_NAME", "m" },       { " TIME_ZONE", "n" },     { "TIME_ZONE_NAME", "o" },
                      { "", "p" } };
    QTest::newRow("full, reconfigureApp")
            << full << "reconfigureApp"
            << QStringList{ "USER_CODE::d", "TIME_ZONE::b", "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
    QTest::newRow("full, logoutApp")
            << full << "logoutApp"
            << QStringList{ "STORE_CODE::h", "FACILITY_CODE::l", "UNIT_CODE::c", "TIME_ZONE::b",
                            "UUID_CODE::e", "STORE_NAME::m", "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
    QTest::newRow("full, appBackFromLoginToConfig")
            << full << "appBackFromLoginToConfig"
            << QStringList{ "UUID_CODE::e", "TIME_ZONE::b", "AUTO_PRINT_ORDER::i",
                            "WIFI_MAC_ADDRESS::k", "MOBILE_URL::j" };
}

void TestRMUserSettings::bulkReset()
{
    QFETCH(Table, table);
    QFETCH(QString, reset);
    QFETCH(QStringList, lines);

    RMUserSettings settings(QString(), base(), nullptr);
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        settings[it.key()] = it.value();
    settings.store();
    QCOMPARE(sortedLines(settingsPath()).size(), table.size());

    (settings.*operations.value(reset))();
    QCOMPARE(sortedLines(settingsPath()), sorted(lines));

    // The table itself holds only the kept entries, not just the file.
    writeFile(settingsPath(), QByteArray());
    settings.store();
    QCOMPARE(sortedLines(settingsPath()), sorted(lines));
}

void TestRMUserSettings::afterRestart_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Table>("table");
    QTest::newRow("store") << "store" << Table{ { "USER_CODE", "1" }, { "UUID_CODE", "2" }, { "X", "new" } };
    QTest::newRow("clearSettingsFile") << "clearSettingsFile" << Table{ { "USER_CODE", "" }, { "UUID_CODE", "" }, { "X", "" } };
    QTest::newRow("reconfigureApp") << "reconfigureApp" << Table{ { "USER_CODE", "1" }, { "UUID_CODE", "" }, { "X", "" } };
    QTest::newRow("logoutApp") << "logoutApp" << Table{ { "USER_CODE", "" }, { "UUID_CODE", "2" }, { "X", "" } };
    QTest::newRow("appBackFromLoginToConfig") << "appBackFromLoginToConfig" << Table{ { "USER_CODE", "" }, { "UUID_CODE", "2" }, { "X", "" } };
}

void TestRMUserSettings::afterRestart()
{
    QFETCH(QString, operation);
    QFETCH(Table, table);

    RMUserSettings settings(QString(), base(), nullptr);
    settings[QStringLiteral("USER_CODE")] = QStringLiteral("1");
    settings[QStringLiteral("UUID_CODE")] = QStringLiteral("2");
    settings[QStringLiteral("X")] = QStringLiteral("3");
    settings.store();
    const QByteArray before = contents(settingsPath());

    QVERIFY(QMetaObject::invokeMethod(&settings, "deviceRestarting", Q_ARG(QString, "any")));
    settings[QStringLiteral("X")] = QStringLiteral("new");
    (settings.*operations.value(operation))();

    QCOMPARE(contents(settingsPath()), before);
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        QCOMPARE(settings[it.key()], it.value());
}

void TestRMUserSettings::loadMergesIntoTable_data()
{
    QTest::addColumn<bool>("viaSync");
    QTest::newRow("sync") << true;
    QTest::newRow("readSettings") << false;
}

void TestRMUserSettings::loadMergesIntoTable()
{
    QFETCH(bool, viaSync);
    writeFile(settingsPath(), "A::file\nB::\n");
    RMUserSettings settings(QString(), base(), nullptr);
    for (const char *key : { "A", "B", "C" })
        settings[QString::fromLatin1(key)] = QStringLiteral("memory");
    if (viaSync)
        settings.sync();
    else
        settings.readSettings();
    QCOMPARE(settings[QStringLiteral("A")], QStringLiteral("file"));
    QCOMPARE(settings[QStringLiteral("B")], QString());
    QCOMPARE(settings[QStringLiteral("C")], QStringLiteral("memory"));
}

void TestRMUserSettings::eraseNeverTouchesFile()
{
    writeFile(settingsPath(), "A::1\nB::2\n");
    RMUserSettings settings(QString(), base(), nullptr);
    settings.erase(QStringLiteral("A"));
    settings.erase(QStringLiteral("absent"));
    QCOMPARE(contents(settingsPath()), QByteArray("A::1\nB::2\n"));
    settings.sync();
    QCOMPARE(settings[QStringLiteral("A")], QStringLiteral("1"));

    settings.erase(QStringLiteral("A"));
    settings.store();
    settings.sync();
    QCOMPARE(settings[QStringLiteral("A")], QString());
    QCOMPARE(sortedLines(settingsPath()), QStringList{ "B::2" });
}

void TestRMUserSettings::unusableFolder_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<bool>("blockerIsFolder");
    QTest::newRow("conf folder cannot be made") << "/conf" << false;
    QTest::newRow("settings file is a folder") << "/conf/Tessaly.cbin" << true;
}

void TestRMUserSettings::unusableFolder()
{
    QFETCH(QString, blocker);
    QFETCH(bool, blockerIsFolder);
    if (blockerIsFolder)
        QVERIFY(QDir().mkpath(base() + blocker));
    else
        writeFile(base() + blocker, "A::from-file\n");

    RMUserSettings settings(QString(), base(), nullptr);
    LogCapture log;
    settings[QStringLiteral("A")] = QStringLiteral("1");
    settings.store();
    settings.sync();
    settings.clearSettingsFile();
    settings[QStringLiteral("B")] = QStringLiteral("2");
    settings.logoutApp();
    QCOMPARE(settings[QStringLiteral("B")], QString());
    settings[QStringLiteral("TIME_ZONE")] = QStringLiteral("3");
    settings.store();
    QCOMPARE(settings[QStringLiteral("TIME_ZONE")], QStringLiteral("3"));
    QCOMPARE(QFileInfo(base() + blocker).isDir(), blockerIsFolder);
    if (!blockerIsFolder)
        QCOMPARE(contents(base() + blocker), QByteArray("A::from-file\n"));
    QVERIFY(log.entries().isEmpty());
}

void TestRMUserSettings::concurrentStoreAndRead()
{
    // Only keys that logoutApp keeps, so every writer writes the same table.
    const Table table{ { "STORE_CODE", "s1" }, { "FACILITY_CODE", "f1" }, { "UNIT_CODE", "u1" },
                       { "TIME_ZONE", "Europe/Oslo" }, { "UUID_CODE", "0f3c" }, { "STORE_NAME", "Main" },
                       { "WIFI_MAC_ADDRESS", "aa:bb" }, { "MOBILE_URL", "https://x/y" } };
    QStringList lines;
    RMUserSettings settings(QString(), base(), nullptr);
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        settings[it.key()] = it.value();
        lines.append(it.key() + "::" + it.value());
    }
    settings.store();

    const int rounds = 300;
    const QVector<std::function<void()>> work = {
        [&] { for (int i = 0; i < rounds; ++i) settings.store(); },
        [&] { for (int i = 0; i < rounds; ++i) settings.sync(); },
        [&] { for (int i = 0; i < rounds; ++i) settings.readSettings(); },
        [&] { for (int i = 0; i < rounds; ++i) settings.logoutApp(); },
        [&] {
            for (int i = 0; i < rounds; ++i) {
                settings.erase(QStringLiteral("absent"));
                settings.stopManager();
            }
        },
        [&] {
            for (int i = 0; i < rounds; ++i) {
                if (i == rounds / 2)
                    settings.deviceRestarting(QString());
                settings.store();
            }
        },
    };
    std::vector<std::future<void>> running;
    for (const auto &job : work)
        running.push_back(std::async(std::launch::async, job));
    for (auto &job : running)
        job.get();

    QCOMPARE(sortedLines(settingsPath()), sorted(lines));
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        QCOMPARE(settings[it.key()], it.value());
}

void TestRMUserSettings::stopManagerWaitsForRunningWrite()
{
    RMUserSettings settings(QString(), base(), nullptr);
    // More than a pipe holds: the writer stays inside store(), holding the
    // mutex, until the test drains the pipe.
    const QString big(200000, QLatin1Char('x'));
    settings[QStringLiteral("K")] = big;
    const QByteArray pipePath = QFile::encodeName(settingsPath());
    QCOMPARE(::mkfifo(pipePath.constData(), 0600), 0);
    const int readEnd = ::open(pipePath.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(readEnd >= 0);

    std::future<void> writer;
    std::future<void> stopper;
    QByteArray drained;
    // Reads until the writer closes its end; only called once it has one.
    auto drain = [&] {
        pollfd ready{ readEnd, POLLIN, 0 };
        while (::poll(&ready, 1, 10000) > 0) {
            char chunk[65536];
            const ssize_t got = ::read(readEnd, chunk, sizeof chunk);
            if (got > 0)
                drained.append(chunk, int(got));
            else if (got == 0 || errno != EAGAIN)
                break;
        }
    };
    // Runs before the futures wait for their threads, whatever fails below.
    auto release = qScopeGuard([&] {
        if (writer.valid() && writer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            drain();
        ::close(readEnd);
    });
    writer = std::async(std::launch::async, [&] { settings.store(); });
    pollfd ready{ readEnd, POLLIN, 0 };
    QCOMPARE(::poll(&ready, 1, 10000), 1);
    stopper = std::async(std::launch::async, [&] { settings.stopManager(); });
    QVERIFY(stopper.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout);

    drain();
    QVERIFY(writer.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QVERIFY(stopper.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QCOMPARE(drained, "K::" + big.toLatin1() + '\n');
}

TESSALY_TEST_MAIN(TestRMUserSettings)
#include "tst_rmusersettings.moc"
