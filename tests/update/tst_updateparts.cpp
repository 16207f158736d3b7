// The pure parts of the update: the texts of the messages, package paths and the command runner.

#include <QtTest>

#include "support/testsupport.h"
#include "update/packagepaths.h"
#include "update/shellcommand.h"
#include "update/updatemessages.h"

using TestSupport::u;

class TestUpdateParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Placeholders inside inserted values stay; requests are read leniently.
    void texts()
    {
        QStringList texts = { downloadFailedMessage(1, u("2.0\"%2"), u("timeout %1")),
                              installedMessage(2, u("2.0%2")),
                              installFailedMessage(3, u("2.0%2"), u("%1 missing")),
                              progressMessage(UPLOAD_PERCENTAGE, 1, 3),
                              progressMessage(DOWNLOAD_PERCENTAGE, 5, 0),
                              progressMessage(DOWNLOAD_PERCENTAGE, 512, -1) };
        for (const char *request :
             { R"({"action":2,"x":[],"version":"v","build_release":"u"})", R"({"action":"1"})",
               R"({"action":1.5})", R"({"action":1.0})", "{}", "action=1", R"([{"action":1}])" }) {
            const UpdateRequest r = decodeUpdateRequest(u(request));
            texts << u("%1|%2|%3|%4").arg(int(r.form)).arg(r.action).arg(r.version, r.buildRelease);
        }
        QCOMPARE(texts,
                 QString::fromUtf8(TestSupport::readFile(QStringLiteral(MESSAGE_TEXTS)))
                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    }
    void extensionAndName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        const char *const rows[][2] = {
            { "upgrade/Tessaly1.2.3.tar.gz", ".tar.gz" },
            { "upgrade/Tessaly1.2.3.TAR.GZ.gz", ".gz" }, // case-sensitive
            { ".gzx.gz", "" }, // at 0 it does not count, nor does its later occurrence
            { ".tar.gz", ".gz" }, // .tar.gz at 0 does not count; the .gz inside it does
            { "http://127.0.0.1:8080/app.tar.gz?x=1", ".tar.gz?x=1" },
            { "/d/i.png/T1.tar.gz", ".png/T1.tar.gz" }, // list order: .png first
            { "/d/old.gz/T1.tar.gz", ".tar.gz" }, // list order: .tar.gz before .gz
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << u(row[0]) << u(row[1]);
    }

    void extensionAndName()
    {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QCOMPARE(getFileExtension(path), extension);
        QCOMPARE(getFileName(path, true) + extension, path); // the rest of the path
    }

    void run_data()
    {
        QTest::addColumn<QString>("command"); // program and arguments, separated by '|'
        QTest::addColumn<QString>("outputs"); // output|error
        QTest::newRow("cut at a zero byte") << "sh|-c|printf '\\303\\251\\0c'; printf 'e\\0f' >&2"
                                            << QString::fromUtf8("\xc3\xa9|e");
        QTest::newRow("no shell between") << "printf|%s.|a b|$HOME;*"
                                          << "a b.$HOME;*.|";
        QTest::newRow("child left running") << "sh|-c|sleep 2 & echo ok"
                                            << "ok\n|"; // pipes held
        QTest::newRow("overrun")
                << "sh|-c|sleep 30 & echo /proc/$!/stat >$TMPDIR/child; printf a >&2; sleep 30"
                << "|a\nsh did not finish within 1000 ms and was stopped"; // child: gone/zombie
        QTest::newRow("silent overrun") << "sleep|30"
                                        << "|sleep did not finish within 1000 ms and was stopped";
    }

    void run()
    {
        QFETCH(QString, command);
        QFETCH(QString, outputs);
        QStringList arguments = command.split(QLatin1Char('|'));
        QString output = u("stale"), error = output;
        excuteShellCommand(arguments.takeFirst(), arguments, output, error, 1000);
        QCOMPARE(output + QLatin1Char('|') + error, outputs);
        const QByteArray child = TestSupport::readFile(QDir::tempPath() + u("/child"));
        QTRY_VERIFY(!TestSupport::readFile(QString::fromLatin1(child.trimmed())).contains(") S"));
    }
};

TESSALY_TEST_MAIN(TestUpdateParts)
#include "tst_updateparts.moc"
