// The whole update path with the real service, nginx, tar, gzip and sh, this
// test on the main application's side of the mailboxes. Each file in cases/
// is one run: packages placed and served, requests sent, then the messages as
// written, the last progress, the files left and the log (times masked).

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <cstdio>

#include <sys/stat.h>

#include "common/updaterconfig.h"
#include "ipc/peermailboxes.h"
#include "support/testsupport.h"

using namespace TestSupport;

namespace {

QString word(const QString &line, int index)
{
    return line.section(QLatin1Char(' '), index, index);
}

// Whether actual is the expected line, each "$*" in it standing for any text.
bool matches(const QString &actual, const QString &expected)
{
    const QString pattern = QRegularExpression::escape(expected).replace(u("\\$\\*"), u(".*"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
            .match(actual)
            .hasMatch();
}

QString sideBySide(const QStringList &expected, const QStringList &seen)
{
    int width = 8;
    for (const QString &line : expected)
        width = qMax(width, line.size());
    QString text = u("\n  %1 | seen\n").arg(u("expected"), -width);
    for (int i = 0; i < qMax(expected.size(), seen.size()); ++i)
        text += u("%1 %2 | %3\n")
                        .arg(QLatin1Char(matches(seen.value(i), expected.value(i)) ? ' ' : '!'))
                        .arg(expected.value(i), -width)
                        .arg(seen.value(i));
    return text;
}

// Nothing when the expected lines are all seen, in this order, with anything
// between them, or, when whole, with nothing else; else both side by side.
QString differences(const QStringList &seen, const QStringList &expected, bool whole)
{
    QStringList found; // the line seen for each expected one
    int from = 0;
    for (const QString &line : expected) {
        int at = from;
        while (at < seen.size() && !matches(seen.at(at), line))
            ++at;
        found << (at < seen.size() ? seen.at(at) : u("(not seen)"));
        from = at < seen.size() ? at + 1 : from;
    }
    if (!found.contains(u("(not seen)")) && (!whole || seen.size() == expected.size()))
        return QString();
    return sideBySide(expected, whole ? seen : found);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void updatePath_data();
    void updatePath();

private:
    QString bin() const { return m_root + u("/home/corvane/TessalyUpdater/bin"); }

    // "NAME ENTRY [pack]" made in folder from packages/ENTRY: a file as it is,
    // a folder packed with a plain tar (entries dated now) or with tessaly-pack.
    bool makePackage(const QString &entry, const QString &folder)
    {
        const QString path = folder + QLatin1Char('/') + word(entry, 0);
        const QString from = u(TESSALY_SOURCE_DIR "/tests/e2e/packages/") + word(entry, 1);
        if (QFileInfo(from).isFile())
            return QFile::copy(from, path);
        if (word(entry, 2) == u("pack"))
            return QProcess::execute(u(TESSALY_SOURCE_DIR "/tools/tessaly-pack"),
                                     { u("tar"), from, u("1"), u("-o"), m_root })
                    == 0
                    && QFile::rename(m_root + u("/Tessaly-1.tar.gz"), path);
        return QProcess::execute(u("tar"),
                                 { u("--mtime=now"), u("-czf"), path, u("-C"), from, u(".") })
                == 0;
    }

    // A real nginx on 127.0.0.1 that ends with this test, whatever ends it. At
    // 4 KiB/s the downloads last long enough to read the started message, or
    // to send a second request, before the outcome.
    QString startWebServer(bool tls)
    {
        const QStringList tlsOption = tls ? QStringList{ u("--tls") } : QStringList();
        m_nginx.start(u(TESSALY_SOURCE_DIR "/tools/nginx-loopback"),
                      QStringList{ u("run"), m_root + u("/nginx"), m_root + u("/www"),
                                   u("--limit-rate"), u("4k") }
                              + tlsOption);
        return m_nginx.waitForReadyRead(20000) ? QString::fromUtf8(m_nginx.readLine()).trimmed()
                                               : QString();
    }

    // Ends with this test, whatever ends it. In a namespace the fixed
    // installation folder is on a tmpfs, with an old build in it. Returns why
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
            // libfaketime leaves files in /dev/shm, a private tmpfs here. The
            // shell looks the library up: under an emulator with a library
            // prefix, this test would see the prefix's /usr/lib.
            setUp << u("mount -t tmpfs tmpfs /dev/shm && export LD_PRELOAD=$(ls "
                       "/usr/lib/*/faketime/libfaketime.so.1) FAKETIME='%1' "
                       "FAKETIME_DONT_FAKE_MONOTONIC=1 TZ=UTC")
                             .arg(clock);
            // A sanitized build wants its runtime first; the preloaded clock comes before it.
            environment.insert(u("ASAN_OPTIONS"),
                               environment.value(u("ASAN_OPTIONS"))
                                       + u(":verify_asan_link_order=0"));
        }
        QStringList command = { u("--pdeathsig"), u("KILL"), u("--") };
        if (!setUp.isEmpty())
            command << u("unshare") << u("--mount") << u("sh") << u("-c")
                    << setUp.join(u(" && ")) + u(" && exec \"$0\" \"$@\"");
        m_service.setProcessEnvironment(environment);
        m_service.setWorkingDirectory(bin());
        m_service.setStandardErrorFile(QProcess::nullDevice()); // the log file tells it all
        m_service.start(u("setpriv"), command << ownProgram(bin() + u("/TessalyUpdater")));
        if (!m_service.waitForStarted(10000))
            return u("the service did not start: %1").arg(m_service.errorString());
        // The first log line comes with the controller; from then on it polls.
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
        const QDir logs(bin() + u("/logs"));
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

    // $URL, $ROOT and $VERSION (the service's).
    QStringList expand(QStringList lines) const
    {
        for (QString &line : lines)
            line.replace(u("$URL"), m_url)
                    .replace(u("$ROOT"), m_root)
                    .replace(u("$VERSION"), UpdaterConfig::applicationVersion());
        return lines;
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
// the one before; then the "message"s written, the last "progress" (where
// given), the "file"s left, and the "log" whole or the lines "logged" in order.
void TestEndToEnd::updatePath()
{
    QFETCH(QStringList, lines);
    QHash<QString, QStringList> run; // keyword -> the rest of each of its lines
    for (const QString &line : qAsConst(lines))
        run[word(line, 0)] << line.section(QLatin1Char(' '), 1);
    const auto given = [&](const char *key) { return expand(run.value(u(key))); };
    const bool inNamespace = run.contains(u("namespace"));
    if ((inNamespace || run.contains(u("clock")))
        && QProcess::execute(u("unshare"), { u("--mount"), u("true") }) != 0)
        QSKIP("no private mount namespace here (unshare --mount was refused)");

    QTemporaryDir device(QDir::tempPath() + u("/device-XXXXXX"));
    device.setAutoRemove(false); // removed at the end, or kept after a failure
    m_root = device.path();
    for (const QString &folder :
         { u("/home/corvane/upgrade"), u("/www"), u("/home/corvane/TessalyUpdater/bin") })
        QVERIFY(QDir().mkpath(m_root + folder));
    QVERIFY(QFile::copy(QStringLiteral(TESSALY_SERVICE_BINARY), bin() + u("/TessalyUpdater")));
    for (const QString &entry : given("place"))
        QVERIFY2(makePackage(entry, m_root), qPrintable(entry));
    for (const QString &entry : given("serve"))
        QVERIFY2(makePackage(entry, m_root + u("/www")), qPrintable(entry));
    m_url = startWebServer(run.contains(u("tls")));
    QVERIFY2(!m_url.isEmpty(), "nginx did not answer on 127.0.0.1 within 20 s");
    const QString serviceDown = startService(run.value(u("clock")).value(0), inNamespace);
    QVERIFY2(serviceDown.isEmpty(), qPrintable(serviceDown));

    PeerMailboxes mainApp; // the main application's side, read and written with care
    QStringList messages, progress;
    const auto take = [&] {
        const QString status = mainApp.takeStatus(), percent = mainApp.takeProgress();
        if (!status.isEmpty())
            messages << status;
        if (!percent.isEmpty())
            progress = QStringList{ percent };
    };
    for (const QString &request : given("request")) {
        QVERIFY2(QTest::qWaitFor([&] { return mainApp.write(request); }, 5000),
                 qPrintable(u("no segment could be made for the request ") + request));
        QVERIFY2(QTest::qWaitFor(
                         [&] { return take(), mainApp.request() == PeerMailboxes::Request::Taken; },
                         10000),
                 qPrintable(u("the service did not take the request within 10 s: ") + request));
    }

    // Each failed expectation, its lines side by side with those seen. A
    // mailbox holds one message: the started message that a quick outcome
    // replaces within milliseconds may go unseen (the log shows it sent).
    const bool wholeLog = run.contains(u("log"));
    const auto failures = [&](bool withFiles) {
        QStringList expectedMessages = given("message");
        if (!messages.isEmpty() && messages.size() == expectedMessages.size() - 1)
            expectedMessages.removeFirst();
        QString text;
        const auto note = [&text](const char *what, const QString &found) {
            text += found.isEmpty() ? QString() : u("%1 differ:%2").arg(u(what), found);
        };
        note("messages", differences(messages, expectedMessages, true));
        if (run.contains(u("progress"))) // the progress of an error page comes or not
            note("last progress", differences(progress, given("progress"), true));
        if (withFiles)
            note("files",
                 differences(actualFiles(given("file"), inNamespace), given("file"), true));
        note(wholeLog ? "log" : "lines logged",
             differences(logLines(), given(wholeLog ? "log" : "logged"), wholeLog));
        return text;
    };
    // What a run logs comes in bursts: once all is there, a short wait shows a
    // message or line too many. The bound only ends a failing case; a machine
    // busy with emulators took 30 s for the two-request cases.
    for (QDeadlineTimer end(90000); !end.hasExpired() && !failures(false).isEmpty();) {
        QTest::qWait(20);
        take();
    }
    QTest::qWait(200);
    take();
    const QString failed = failures(true);
    for (QProcess *child : { &m_service, &m_nginx }) {
        child->kill();
        child->waitForFinished();
    }
    if (!failed.isEmpty()) // whole, where QtTest would cut a long message short
        std::printf("%s\n", qPrintable(failed));
    QVERIFY2(failed.isEmpty(), qPrintable(u("see above; service log and files kept in ") + m_root));
    device.remove();
}

TESSALY_MAILBOX_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
