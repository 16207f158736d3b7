// The fuzz targets' starting corpora and every input kept from a finding
// (inputs/<target>/), run through the same rules as under the fuzzer.

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "checks/fuzzchecks.h"
#include "support/testsupport.h"

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replay_data()
    {
        QTest::addColumn<int>("check");
        QTest::addColumn<QByteArray>("input");
        for (int check = 0; check < 5; ++check) {
            for (const char *folder : { FUZZ_CORPUS_DIR, FUZZ_INPUTS_DIR }) {
                const QDir dir(QString::fromUtf8(folder) + QLatin1Char('/')
                               + QLatin1String(fuzzChecks[check].target));
                for (const QString &name : dir.entryList(QDir::Files))
                    QTest::addRow("%s/%s", fuzzChecks[check].target, qPrintable(name))
                            << check << TestSupport::readFile(dir.filePath(name));
            }
        }
    }

    void replay()
    {
        QFETCH(int, check);
        QFETCH(QByteArray, input);
        QTemporaryDir scratch;
        const QString broken = fuzzChecks[check].run(input, scratch.path());
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
    }
};

TESSALY_TEST_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
