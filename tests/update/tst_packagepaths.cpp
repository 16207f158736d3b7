#include <QtTest>

#include "support/testsupport.h"
#include "update/packagepaths.h"

using TestSupport::u;

class TestPackagePaths : public QObject
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
};

TESSALY_TEST_MAIN(TestPackagePaths)
#include "tst_packagepaths.moc"
