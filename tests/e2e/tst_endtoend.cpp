// The whole update path with the real service, nginx, tar, gzip and sh, this
// test on the main application's side of the mailboxes. Each file in cases/
// is one run: packages placed and served, requests sent, then the messages as
// written, the last progress, the files left and the log (times masked).

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>

#include "common/updaterconfig.h"
#include "ipc/peermailboxes.h"
#include "support/testsupport.h"

using namespace TestSupport;

namespace {

QString serviceBin(const QString &root) { return root + u("/home/corvane/TessalyUpdater/bin"); }

QString word(const QString &line, int index)
{
    return line.section(QLatin1Char(' '), index, index);
}

// An expected line, each "$*" in it standing for any text.
bool matches(const QString &actual, const QString &expected)
{
    const QString pattern = QRegularExpression::escape(expected).replace(u("\\$\\*"), u(".*"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
            .match(actual)
            .hasMatch();
}

// The expected lines, each one that matches the actual line at its place
// replaced by it, so that a comparison shows only the lines that differ.
QStringList wildcards(const QStringList &actual, QStringList expected)
{
    for (int i = 0; i < qMin(actual.size(), expected.size()); ++i) {
        if (matches(actual.at(i), expected.at(i)))
            expected[i] = actual.at(i);
    }
    return expected;
}

const QString missing = u("(no such line after the one above)");

// For each expected line, the first actual line after the previous one's that
// matches it: the lines must come in this order, anything may stand between.
QStringList inOrder(const QStringList &actual, const QStringList &expected)
{
    QStringList found;
    int from = 0;
    for (const QString &line : expected) {
        int at = from;
        while (at < actual.size() && !matches(actual.at(at), line))
            ++at;
        found << (at < actual.size() ? actual.at(at) : missing);
        from = at < actual.size() ? at + 1 : from;
    }
    return found;
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
    // with a plain tar, entries dated now; slow: packages/deploy with 16 KiB
    // that do not compress, four seconds at the server's rate; pack:
    // packages/deploy with tessaly-pack; gz: a gzipped file "new build";
    // junk: not an archive at all.
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
        QStringList arguments = { u("--mtime=now"), u("-czf"), path };
        if (kind == u("slow")) {
            QByteArray padding(16 * 1024, '\0');
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(padding.data()),
                                                  padding.size() / 4);
            if (!writeFile(m_root + u("/padding/padding.bin"), padding))
                return false;
            arguments << u("-C") << m_root + u("/padding") << u("padding.bin");
        }
        return run(u("tar"),
                   arguments << u("-C") << packages + (kind == u("stderr") ? kind : u("deploy"))
                             << u("."));
    }

    // A real nginx on 127.0.0.1 that ends with this test, whatever ends it. At
    // 4 KiB/s the downloads last long enough to read the started message, or
    // to send a second request, before the outcome.
    QString startWebServer(bool tls)
    {
        QStringList arguments = { u("--pdeathsig"),
                                  u("KILL"),
                                  u("--"),
                                  u(TESSALY_SOURCE_DIR "/scripts/nginx-loopback"),
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
    // installation folder on a tmpfs, with an old build in it. Returns why
    // the service is not up, or nothing.
    QString startService(const QString &clock, bool inNamespace)
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
                       "/usr/lib/*/faketime/libfaketime.so.1) FAKETIME='%1' "
                       "FAKETIME_DONT_FAKE_MONOTONIC=1")
                             .arg(clock);
            environment.insert(u("TZ"), u("UTC")); // a clock set to a date is set in UTC
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
        if (!m_service.waitForStarted(10000))
            return u("%1 did not start: %2").arg(program, m_service.errorString());
        if (!QTest::qWaitFor([this] { return !logLines().isEmpty(); }, 10000))
            return u("no log line within 10 s");
        return m_service.state() == QProcess::Running ? QString() : u("the service ended");
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

    // $URL, $ROOT, $VERSION (the service's) and $(program), the full path Qt
    // starts a program by.
    QStringList expand(const QStringList &lines) const
    {
        QStringList result;
        const QRegularExpression program(u("\\$\\((\\w+)\\)"));
        for (QString line : lines) {
            line.replace(u("$URL"), m_url).replace(u("$ROOT"), m_root);
            line.replace(u("$VERSION"), UpdaterConfig::applicationVersion());
            for (auto match = program.match(line); match.hasMatch(); match = program.match(line))
                line.replace(match.captured(0), QStandardPaths::findExecutable(match.captured(1)));
            result << line;
        }
        return result;
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

// A case's lines by their first word: "place" and "serve" packages, "clock"
// (libfaketime's FAKETIME), "namespace" (the installation folder on a tmpfs),
// "tls", "request"s sent one after the other, each once the service has taken
// the one before; then the "message"s written, the last "progress", the
// "file"s left, and the "log" whole or the lines "logged" in this order.
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
    device.setAutoRemove(false); // the test's folder goes at the end, or stays after a failure
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
    QVERIFY2(!m_url.isEmpty(), "nginx did not answer on 127.0.0.1 within 20 s");
    const QString serviceDown = startService(given("clock").value(0), inNamespace);
    QVERIFY2(serviceDown.isEmpty(), qPrintable(serviceDown));

    // The main application's side, reading and writing with care.
    PeerMailboxes mainApp;
    QStringList messages;
    QString progress;
    const auto take = [&] {
        const QString status = mainApp.takeStatus(), percent = mainApp.takeProgress();
        if (!status.isEmpty())
            messages << status;
        if (!percent.isEmpty())
            progress = percent;
    };
    for (const QString &request : expand(given("request"))) {
        QVERIFY2(QTest::qWaitFor([&] { return mainApp.write(request); }, 5000),
                 qPrintable(u("no segment could be made for the request ") + request));
        QVERIFY2(QTest::qWaitFor(
                         [&] { return take(), mainApp.request() == PeerMailboxes::Request::Taken; },
                         10000),
                 qPrintable(u("the service did not take the request within 10 s: ") + request));
    }

    // What a run logs comes in bursts after a request: once the last message
    // and the log lines are there, a short wait shows a message or line too many.
    const QStringList expectedMessages = expand(given("message"));
    const bool wholeLog = run.contains(u("log"));
    const QStringList expectedLog = expand(given(wholeLog ? "log" : "logged"));
    const auto logged = [&] {
        const QStringList log = logLines();
        return wholeLog ? log : inOrder(log, expectedLog);
    };
    const auto settled = [&] {
        return (expectedMessages.isEmpty()
                || (!messages.isEmpty() && matches(messages.last(), expectedMessages.last())))
                && (wholeLog ? logged().size() >= expectedLog.size() : !logged().contains(missing));
    };
    QDeadlineTimer settle(30000);
    for (QDeadlineTimer end(30000); !end.hasExpired() && !settle.hasExpired(); QTest::qWait(20)) {
        take();
        if (settle.remainingTime() > 200 && settled())
            settle.setRemainingTime(200);
    }
    const QStringList expectedFiles = expand(given("file"));
    const QStringList files = actualFiles(expectedFiles, inNamespace);
    for (QProcess *child : { &m_service, &m_nginx }) {
        child->kill();
        child->waitForFinished();
    }

    // A mailbox holds one message: the started message that a quick outcome
    // replaces within milliseconds may never be seen (the log shows it sent).
    const bool startedUnseen = messages.size() == expectedMessages.size() - 1;
    const QStringList log = logged();
    const struct
    {
        const char *what;
        QStringList seen, expected;
    } comparisons[] = {
        { "messages", messages, expectedMessages.mid(startedUnseen ? 1 : 0) },
        { "last progress", { progress }, { given("progress").value(0) } },
        { "files", files, expectedFiles },
        { wholeLog ? "log" : "lines logged in this order", log, expectedLog },
    };
    for (const auto &comparison : comparisons) {
        const QStringList expected = wildcards(comparison.seen, comparison.expected);
        QVERIFY2(comparison.seen == expected,
                 qPrintable(u("%1 differ (service log and files kept in %2):%3")
                                    .arg(u(comparison.what), m_root,
                                         sideBySide(expected, comparison.seen))));
    }
    device.remove();
}

TESSALY_MAILBOX_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
