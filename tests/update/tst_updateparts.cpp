// The pure parts of the installation: package paths and the command runner.

#include <QtTest>

#include "support/testsupport.h"
#include "update/packagepaths.h"
#include "update/shellcommand.h"

using TestSupport::u;

class TestPackageSteps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

TESSALY_TEST_MAIN(TestPackageSteps)
#include "tst_packagesteps.moc"
