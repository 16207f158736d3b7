#include "shared/filemanager.h"
#include "support/testsupport.h"

using TestSupport::u;

class TestFileManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadFile()
    {
        const QString path = QDir::tempPath() + u("/file");
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(u("\"%1 file can not be opened\"").arg(path)));
        QVERIFY(FileManager::instance()->loadFile(path).isNull());
        QVERIFY(TestSupport::writeFile(path, QByteArray()));
        QVERIFY(FileManager::instance()->loadFile(path).isNull());
        QVERIFY(TestSupport::writeFile(path, QByteArray("a\r\n\xc3\xbc\0b", 7)));
        QCOMPARE(FileManager::instance()->loadFile(path), u("a\r\n\u00fc"));
        delete FileManager::instance();
        QTest::ignoreMessage(QtInfoMsg, "FileManager::FileManager()"); // a new one, not the deleted
        QVERIFY(FileManager::instance()->loadFile(path).startsWith(QLatin1Char('a')));
    }
};

TESSALY_TEST_MAIN(TestFileManager)
#include "tst_filemanager.moc"
