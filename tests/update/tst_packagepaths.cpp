#include <QtTest>

#include "support/testmain.h"
#include "update/packagepaths.h"

class TestPackagePaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void extensionAndName_data();
    void extensionAndName();
};

void TestPackagePaths::extensionAndName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");

    QTest::newRow("tar.gz") << "upgrade/Tessaly1.2.3.tar.gz" << ".tar.gz";
    QTest::newRow("gz") << "/home/corvane/upgrade/Tessaly1.2.3.gz" << ".gz";
    // Only the first occurrence counts, and one at position 0 does not.
    QTest::newRow(".gz alone") << ".gz" << "";
    QTest::newRow(".gz at 0 hides a later .gz") << ".gzx.gz" << "";
    QTest::newRow(".tar.gz at 0, .gz inside it") << ".tar.gz" << ".gz";
    QTest::newRow("query after the extension") << "http://127.0.0.1:8080/app.tar.gz?x=1"
                                               << ".tar.gz?x=1";
    QTest::newRow("upper case") << "upgrade/Tessaly1.2.3.TAR.GZ" << "";
    // List order before position: ".png" is tried before ".tar.gz", which
    // is tried before ".gz".
    QTest::newRow(".png folder") << "/data/icons.png/Tessaly1.2.3.tar.gz"
                                 << ".png/Tessaly1.2.3.tar.gz";
    QTest::newRow(".gz folder") << "/data/old.gz/Tessaly1.2.3.tar.gz" << ".tar.gz";
    QTest::newRow("unlisted extension") << "http://127.0.0.1/Tessaly.tgz" << "";
    QTest::newRow("empty") << "" << "";
}

void TestPackagePaths::extensionAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);

    QCOMPARE(getFileExtension(path), extension);
    // The name is the rest of the path, the path unchanged without extension.
    QCOMPARE(getFileName(path, true) + extension, path);
}

TESSALY_TEST_MAIN(TestPackagePaths)
#include "tst_packagepaths.moc"
