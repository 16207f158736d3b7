#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "checks/fuzzchecks.h"
#include "ipc/tessalyipc.h"
#include "support/testmain.h"

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replay_data();
    void replay();
    void mailboxSegmentRead_data();
    void mailboxSegmentRead();
    void mailboxSegmentWritten_data();
    void mailboxSegmentWritten();
};

namespace {

QByteArray segment(const QByteArray &count, const QString &text)
{
    QByteArray bytes = QByteArray::fromHex(count);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xff));
    }
    return bytes;
}

} // namespace

void TestFuzzRegressions::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("input");

    const QStringList folders = { QStringLiteral(FUZZ_CORPUS_DIR),
                                  QStringLiteral(FUZZ_INPUTS_DIR) };
    for (const FuzzCheck &check : fuzzChecks()) {
        const QString target = QLatin1String(check.target);
        int seeds = 0;
        for (const QString &folder : folders) {
            const QDir dir(folder + QLatin1Char('/') + target);
            const QStringList files = dir.entryList(QDir::Files, QDir::Name);
            for (const QString &name : files) {
                QFile file(dir.filePath(name));
                QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
                QTest::addRow("%s/%s", check.target, qPrintable(name)) << target << file.readAll();
                if (folder == folders.first())
                    ++seeds;
            }
        }
        QVERIFY2(seeds > 0, check.target);
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, input);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const FuzzCheckFunction check = fuzzCheck(target);
    QVERIFY(check);
    const QString broken = check(input, scratch.path());
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
}

void TestFuzzRegressions::mailboxSegmentRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("isNull");

    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("message") << segment("00000004", QStringLiteral("Hi")) << "Hi" << false;
    QTest::newRow("surrogate pair") << segment("00000004", face) << face << false;
    QTest::newRow("bytes after the message") << segment("00000004", QStringLiteral("okjunk"))
                                             << "ok" << false;
    QTest::newRow("empty message") << segment("00000000", QString()) << "" << false;
    QTest::newRow("wiped segment") << QByteArray(64, '\0') << "" << false;
    QTest::newRow("too short for a count") << QByteArray::fromHex("0000") << "" << false;
    QTest::newRow("no bytes") << QByteArray() << "" << false;
    QTest::newRow("null marker") << QByteArray::fromHex("ffffffff") << QString() << true;
    QTest::newRow("odd byte count") << segment("00000003", QStringLiteral("ab")) << QString()
                                    << true;
    QTest::newRow("count past the end") << segment("00000008", QStringLiteral("ab"))
                                        << QString() << true;
    QTest::newRow("count of 2 GiB") << segment("7ffffffe", QStringLiteral("ab")) << QString()
                                    << true;
}

void TestFuzzRegressions::mailboxSegmentRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QFETCH(bool, isNull);

    const QString read = decodeMailboxSegment(bytes);
    QCOMPARE(read, message);
    QCOMPARE(read.isNull(), isNull);
}

void TestFuzzRegressions::mailboxSegmentWritten_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("message") << "Hi" << QByteArray::fromHex("0000000400480069");
    QTest::newRow("beyond Latin-1") << QString::fromUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80")
                                    << QByteArray::fromHex("0000000620acd83dde00");
    QTest::newRow("empty") << "" << QByteArray::fromHex("00000000");
    QTest::newRow("null") << QString() << QByteArray::fromHex("ffffffff");
}

void TestFuzzRegressions::mailboxSegmentWritten()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);

    QCOMPARE(encodeMailboxSegment(message).toHex(), bytes.toHex());
}

TESSALY_TEST_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
