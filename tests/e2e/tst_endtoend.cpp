// The whole update path with the real service, nginx, tar, gzip and sh, this
// test on the main application's side of the mailboxes. Each file in cases/
// is one run: packages placed and served, requests sent, then the messages as
// written, the last progress, the files left and the whole log (times masked).

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>

#include "common/updaterconfig.h"
#include "ipc/tessalyipc.h"
#include "support/testsupport.h"

using namespace TestSupport;

namespace {

QString serviceBin(const QString &root) { return root + u("/home/corvane/TessalyUpdater/bin"); }

QString word(const QString &line, int index)
{
    return line.section(QLatin1Char(' '), index, index);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void updatePath_data();
    void updatePath();

private:
    // "NAME KIND" made in folder. KIND deploy or stderr: packages/KIND packed
    // with a plain tar, entries dated now; pack: packages/deploy with
    // tessaly-pack; gz: a gzipped file "new build"; junk: not an archive at all.
    bool makePackage(const QString &entry, const QString &folder)
    {
        const QString path = folder + QLatin1Char('/') + word(entry, 0);
        const QString kind = word(entry, 1);
        const QString packages = QStringLiteral(TESSALY_SOURCE_DIR "/tests/e2e/packages/");
        if (kind == u("junk"))
            return writeFile(path, "not a package\n");
        if (kind == u("gz"))
            return writeFile(path.chopped(3), "new build\n")
                    && run(u("gzip"), { u("-f"), path.chopped(3) });
        if (kind == u("pack"))
            return run(QStringLiteral(TESSALY_SOURCE_DIR "/tools/tessaly-pack"),
                       { u("tar"), packages + u("deploy"), u("1"), u("-o"), m_root })
                    && QFile::rename(m_root + u("/Tessaly-1.tar.gz"), path);
        return run(u("tar"),
                   { u("--mtime=now"), u("-czf"), path, u("-C"), packages + kind, u(".") });
    }

    // A real nginx on 127.0.0.1 that ends with this test, whatever ends it. It
    // sends a second's worth at once and the rest a second later: time enough to
    // read the started message before the outcome replaces it.
    QString startWebServer(bool tls)
    {
        QStringList arguments = { u("--pdeathsig"),
                                  u("KILL"),
                                  u("--"),
                                  u(TESSALY_SOURCE_DIR "/tests/support/nginx-loopback"),
                                  u("run"),
                                  m_root + u("/nginx"),
                                  m_root + u("/www"),
                                  u("--limit-rate"),
                                  u("4k") };
        if (tls)
            arguments << u("--tls");
        m_nginx.start(u("setpriv"), arguments);
        return m_nginx.waitForReadyRead(20000) ? QString::fromUtf8(m_nginx.readLine()).trimmed()
                                               : QString();
    }

    // Ends with this test, whatever ends it. The namespace holds the fixed
    // installation folder on a tmpfs, with an old build in it.
    bool startService(const QString &clock, bool inNamespace)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u("LC_ALL"), u("C")); // tar's texts as expected
        QStringList setUp; // in a mount namespace of the service's own
        if (inNamespace)
            setUp << u("mount -t tmpfs tmpfs /home && mkdir -p /home/corvane/Tessaly/bin && echo "
                       "'old build' > /home/corvane/Tessaly/bin/Tessaly");
        if (!clock.isEmpty()) {
            // Only the calendar moves: Qt's timers run on the monotonic clock.
            // libfaketime leaves files in /dev/shm, a private tmpfs here.
            // The library is looked up by the shell, a program of this machine: a test
            // under an emulator with a library prefix would see the prefix's /usr/lib.
            setUp << u("mount -t tmpfs tmpfs /dev/shm && export LD_PRELOAD=$(ls "
                       "/usr/lib/*/faketime/libfaketime.so.1) FAKETIME=%1 "
                       "FAKETIME_DONT_FAKE_MONOTONIC=1")
                             .arg(clock);
            // A sanitized build wants its runtime first; the preloaded clock comes before it.
            environment.insert(u("ASAN_OPTIONS"),
                               environment.value(u("ASAN_OPTIONS"))
                                       + u(":verify_asan_link_order=0"));
        }
        QStringList command = { u("setpriv"), u("--pdeathsig"), u("KILL"), u("--") };
        if (!setUp.isEmpty())
            command << u("unshare") << u("--mount") << u("sh") << u("-c")
                    << setUp.join(u(" && ")) + u(" && exec \"$0\" \"$@\"");
        command << ownProgram(serviceBin(m_root) + u("/TessalyUpdater"));
        m_service.setProcessEnvironment(environment);
        m_service.setWorkingDirectory(serviceBin(m_root));
        m_service.setStandardErrorFile(QProcess::nullDevice()); // the log file tells it all
        const QString program = command.takeFirst();
        m_service.start(program, command);
        // The first log line comes with the controller; from then on it polls.
        return m_service.waitForStarted(10000)
                && QTest::qWaitFor([this] { return !logLines().isEmpty(); }, 10000)
                && m_service.state() == QProcess::Running;
    }

    // "PATH MODE [CONTENT]" or "PATH absent", in the form the cases give. A path
    // from / is the service's own view, through /proc in its namespace.
    QStringList actualFiles(const QStringList &entries, bool inNamespace) const
    {
        QStringList files;
        for (const QString &entry : entries) {
            const QString path = word(entry, 0);
            const QString full = path.startsWith(QLatin1Char('/'))
                    ? (inNamespace ? u("/proc/%1/root").arg(m_service.processId()) : QString())
                            + path
                    : m_root + QLatin1Char('/') + path;
            struct stat info;
            if (::stat(QFile::encodeName(full).constData(), &info) != 0) {
                files << path + u(" absent");
                continue;
            }
            QString line = u("%1 %2").arg(path).arg(info.st_mode & 07777, 0, 8);
            if (entry.count(QLatin1Char(' ')) > 1)
                line += QLatin1Char(' ') + QString::fromUtf8(readFile(full)).trimmed();
            files << line;
        }
        return files;
    }

    // The day's one log file, with the time stamps masked. Progress lines come in
    // numbers that depend on the network: of each run of them only the last two
    // (the last relay and its message) are kept.
    QStringList logLines() const
    {
        const QDir logs(serviceBin(m_root) + u("/logs"));
        const QStringList names = logs.entryList({ u("*.log") }, QDir::Files);
        const QRegularExpression name(
                u("^TessalyUpdater_%1_\\d{4}(_\\d\\d){5}\\.log$")
                        .arg(QRegularExpression::escape(UpdaterConfig::applicationVersion())));
        if (names.size() != 1 || !name.match(names.first()).hasMatch())
            return names;
        QString text = QString::fromUtf8(readFile(logs.filePath(names.first())));
        text.replace(QRegularExpression(u("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "),
                                        QRegularExpression::MultilineOption),
                     u("T "));
        const QRegularExpression progress(u("Progress: |percentage message:"));
        QStringList lines;
        int run = 0;
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            run = line.contains(progress) ? run + 1 : 0;
            if (run > 2)
                lines.removeAt(lines.size() - 2);
            lines << line;
        }
        return lines;
    }

    // $URL, $ROOT and $(program), the full path Qt starts a program by.
    QStringList expand(const QStringList &lines) const
    {
        QStringList result;
        const QRegularExpression program(u("\\$\\((\\w+)\\)"));
        for (QString line : lines) {
            line.replace(u("$URL"), m_url).replace(u("$ROOT"), m_root);
            for (auto match = program.match(line); match.hasMatch(); match = program.match(line))
                line.replace(match.captured(0), QStandardPaths::findExecutable(match.captured(1)));
            result << line;
        }
        return result;
    }

    // The expected lines, each "$*" in them standing for any text: where a line
    // matches, it is replaced by the actual one, so that a comparison shows only
    // the lines that differ.
    static QStringList wildcards(const QStringList &actual, QStringList expected)
    {
        for (int i = 0; i < qMin(actual.size(), expected.size()); ++i) {
            QString pattern = QRegularExpression::escape(expected.at(i));
            pattern.replace(u("\\$\\*"), u(".*"));
            if (QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                        .match(actual.at(i))
                        .hasMatch())
                expected[i] = actual.at(i);
        }
        return expected;
    }

    QString m_root; // stands for / on the device
    QString m_url;
    QProcess m_service;
    QProcess m_nginx;
};

void TestEndToEnd::updatePath_data()
{
    QTest::addColumn<QStringList>("lines");
    const QDir cases(QStringLiteral(TESSALY_SOURCE_DIR "/tests/e2e/cases"));
    for (const QString &name : cases.entryList(QDir::Files)) {
        const QString text = QString::fromUtf8(readFile(cases.filePath(name)));
        QTest::newRow(qPrintable(name)) << text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
}

void TestEndToEnd::updatePath()
{
    QFETCH(QStringList, lines);
    QHash<QString, QStringList> run; // keyword -> the rest of each of its lines
    for (const QString &line : qAsConst(lines))
        run[word(line, 0)] << line.section(QLatin1Char(' '), 1);
    const auto given = [&run](const char *key) { return run.value(u(key)); };
    const bool inNamespace = run.contains(u("namespace"));
    if ((inNamespace || given("clock").size())
        && !TestSupport::run(u("unshare"), { u("--mount"), u("true") }))
        QSKIP("no private mount namespace here (unshare --mount was refused)");

    QTemporaryDir device(QDir::tempPath() + u("/device-XXXXXX"));
    m_root = device.path();
    QVERIFY(QDir().mkpath(m_root + u("/home/corvane/upgrade")));
    QVERIFY(QDir().mkpath(m_root + u("/www")));
    QVERIFY(QDir().mkpath(serviceBin(m_root)));
    QVERIFY(QFile::copy(QStringLiteral(TESSALY_SERVICE_BINARY),
                        serviceBin(m_root) + u("/TessalyUpdater")));
    for (const QString &entry : given("place"))
        QVERIFY2(makePackage(entry, m_root), qPrintable(entry));
    for (const QString &entry : given("serve"))
        QVERIFY2(makePackage(entry, m_root + u("/www")), qPrintable(entry));
    m_url = startWebServer(run.contains(u("tls")));
    QVERIFY(!m_url.isEmpty());
    QVERIFY(startService(given("clock").value(0), inNamespace));

    TessalyIPC mainApp(UpdaterConfig::serviceMailbox(), UpdaterConfig::mainAppMailbox());
    QStringList messages;
    QString progress;
    const auto take = [&] {
        const QString status = mainApp.IPCRead(true);
        const QString percent = mainApp.IPCReadPercentage(true);
        if (!status.isEmpty())
            messages << status;
        if (!percent.isEmpty())
            progress = percent;
    };
    for (const QString &request : expand(given("request"))) {
        mainApp.IPCWrite(request);
        QTRY_VERIFY_WITH_TIMEOUT(segmentBytes(UpdaterConfig::mainAppMailbox()).count('\0')
                                         == segmentBytes(UpdaterConfig::mainAppMailbox()).size(),
                                 10000);
    }
    // Whatever the run logs comes in one burst after the request: once the
    // expected numbers are there, a short wait shows a message or line too many.
    const QStringList expectedMessages = expand(given("message"));
    const QStringList expectedLog = expand(given("log"));
    QDeadlineTimer settle(30000);
    for (QDeadlineTimer end(30000); !end.hasExpired() && !settle.hasExpired(); QTest::qWait(20)) {
        take();
        if (settle.remainingTime() > 200 && messages.size() >= qMin(expectedMessages.size(), 1)
            && logLines().size() >= expectedLog.size())
            settle.setRemainingTime(200);
    }
    const QStringList expectedFiles = expand(given("file"));
    const QStringList files = actualFiles(expectedFiles, inNamespace);
    for (QProcess *child : { &m_service, &m_nginx }) {
        child->kill();
        child->waitForFinished();
    }
    take(); // the killed service's segments go with the last reader

    const QStringList log = logLines();
    // A mailbox holds one message: the started message that a quick outcome
    // replaces within milliseconds may never be seen (the log shows it sent).
    const bool startedUnseen = messages.size() == expectedMessages.size() - 1;
    QCOMPARE(messages, wildcards(messages, expectedMessages.mid(startedUnseen ? 1 : 0)));
    QCOMPARE(progress, given("progress").value(0));
    QCOMPARE(files, wildcards(files, expectedFiles));
    QCOMPARE(log, wildcards(log, expectedLog));
}

TESSALY_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
