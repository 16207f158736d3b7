#include <QtTest>

#include "support/testmain.h"
#include "update/packagepaths.h"

class TestPackagePaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void extensionAndName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::newRow("tar.gz") << "upgrade/Tessaly1.2.3.tar.gz"
                                << ".tar.gz";
        QTest::newRow("gz, case-sensitive") << "upgrade/Tessaly1.2.3.TAR.GZ.gz"
                                            << ".gz";
        QTest::newRow("at 0, not counted") << ".gzx.gz"
                                           << ""; // nor its later occurrence
        QTest::newRow("query kept") << "http://127.0.0.1:8080/app.tar.gz?x=1"
                                    << ".tar.gz?x=1";
        QTest::newRow("list order: .png first") << "/d/i.png/T1.tar.gz"
                                                << ".png/T1.tar.gz";
        QTest::newRow("list order: .tar.gz before .gz") << "/d/old.gz/T1.tar.gz"
                                                        << ".tar.gz";
    }

    void extensionAndName()
    {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QCOMPARE(getFileExtension(path), extension);
        QCOMPARE(getFileName(path, true) + extension, path); // the rest of the path
    }
};

TESSALY_TEST_MAIN(TestPackagePaths)
#include "tst_packagepaths.moc"
