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
    QTest::addColumn<QString>("name");

    QTest::newRow("tar.gz package") << QStringLiteral("upgrade/Tessaly1.2.3.tar.gz")
                                    << QStringLiteral(".tar.gz")
                                    << QStringLiteral("upgrade/Tessaly1.2.3");
    QTest::newRow("gz package") << QStringLiteral("/home/corvane/upgrade/Tessaly1.2.3.gz")
                                << QStringLiteral(".gz")
                                << QStringLiteral("/home/corvane/upgrade/Tessaly1.2.3");
    QTest::newRow("pre-placed package") << QStringLiteral("./../../upgrade/Tessaly.gz")
                                        << QStringLiteral(".gz")
                                        << QStringLiteral("./../../upgrade/Tessaly");
    QTest::newRow(".gz alone") << QStringLiteral(".gz") << QString() << QStringLiteral(".gz");
    // The first occurrence decides: one at position 0 hides a later one.
    QTest::newRow(".gz at 0 hides a later .gz")
            << QStringLiteral(".gzx.gz") << QString() << QStringLiteral(".gzx.gz");
    QTest::newRow(".tar.gz at 0, .gz found inside it")
            << QStringLiteral(".tar.gz") << QStringLiteral(".gz") << QStringLiteral(".tar");
    QTest::newRow(".gz at 0, .tar.gz further on")
            << QStringLiteral(".gzx.tar.gz") << QStringLiteral(".tar.gz")
            << QStringLiteral(".gzx");
    QTest::newRow("query after the extension")
            << QStringLiteral("http://127.0.0.1:8080/app.tar.gz?x=1")
            << QStringLiteral(".tar.gz?x=1") << QStringLiteral("http://127.0.0.1:8080/app");
    QTest::newRow("upper-case .GZ") << QStringLiteral("upgrade/Tessaly1.2.3.GZ") << QString()
                                    << QStringLiteral("upgrade/Tessaly1.2.3.GZ");
    QTest::newRow("upper-case .TAR.GZ") << QStringLiteral("upgrade/Tessaly1.2.3.TAR.GZ")
                                        << QString()
                                        << QStringLiteral("upgrade/Tessaly1.2.3.TAR.GZ");
    // List order first, position second: ".png" is tried before ".tar.gz".
    QTest::newRow(".png folder before the package")
            << QStringLiteral("/data/icons.png/upgrade/Tessaly1.2.3.tar.gz")
            << QStringLiteral(".png/upgrade/Tessaly1.2.3.tar.gz") << QStringLiteral("/data/icons");
    QTest::newRow(".gz folder, .tar.gz package")
            << QStringLiteral("/data/old.gz/Tessaly1.2.3.tar.gz") << QStringLiteral(".tar.gz")
            << QStringLiteral("/data/old.gz/Tessaly1.2.3");
    QTest::newRow(".jpg before .png") << QStringLiteral("/a.png/b.jpg")
                                      << QStringLiteral(".jpg") << QStringLiteral("/a.png/b");
    QTest::newRow(".tar.gz.gz") << QStringLiteral("Tessaly.tar.gz.gz")
                                << QStringLiteral(".tar.gz.gz") << QStringLiteral("Tessaly");
    QTest::newRow("zip") << QStringLiteral("upgrade/Tessaly1.2.3.zip") << QStringLiteral(".zip")
                         << QStringLiteral("upgrade/Tessaly1.2.3");
    QTest::newRow("jbin") << QStringLiteral("upgrade/Tessaly1.2.3.jbin")
                          << QStringLiteral(".jbin") << QStringLiteral("upgrade/Tessaly1.2.3");
    QTest::newRow("jpg") << QStringLiteral("splash.jpg") << QStringLiteral(".jpg")
                         << QStringLiteral("splash");
    QTest::newRow("png") << QStringLiteral("splash.png") << QStringLiteral(".png")
                         << QStringLiteral("splash");
    QTest::newRow("no extension") << QStringLiteral("http://127.0.0.1/package") << QString()
                                  << QStringLiteral("http://127.0.0.1/package");
    QTest::newRow("unlisted extension") << QStringLiteral("Tessaly.tgz") << QString()
                                        << QStringLiteral("Tessaly.tgz");
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestPackagePaths::extensionAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QFETCH(QString, name);

    QCOMPARE(getFileExtension(path), extension);
    QCOMPARE(getFileName(path, true), name);
    // Whatever the extension, the two halves put together give the path back.
    QCOMPARE(getFileName(path, true) + getFileExtension(path), path);
}

TESSALY_TEST_MAIN(TestPackagePaths)
#include "tst_packagepaths.moc"
