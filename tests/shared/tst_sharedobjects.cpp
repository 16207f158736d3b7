#include <QtTest>

#include "shared/filemanager.h"
#include "shared/qmlhelpers.h"
#include "shared/rmusersettings.h"
#include "shared/transactionlock.h"
#include "shared/vovodostats.h"
#include "support/testmain.h"

Q_DECLARE_METATYPE(const QMetaObject *)

class TestSharedObjects : public QObject
{
    Q_OBJECT

private slots:
    void metaObject_data();
    void metaObject();
    void parentIsKept();
};

void TestSharedObjects::metaObject_data()
{
    QTest::addColumn<const QMetaObject *>("meta");
    QTest::addColumn<QByteArray>("className");
    // Every method the class adds, in index order; all of them public slots.
    QTest::addColumn<QByteArrayList>("slotList");

    QTest::newRow("RMUserSettings") << &RMUserSettings::staticMetaObject << QByteArray("RMUserSettings")
                                    << QByteArrayList{ "stopManager()", "deviceRestarting(QString)" };
    QTest::newRow("FileManager") << &FileManager::staticMetaObject << QByteArray("FileManager")
                                 << QByteArrayList{ "loadFile(QString)", "stopManager()" };
    QTest::newRow("VOvodoStats") << &VOvodoStats::staticMetaObject << QByteArray("VOvodoStats") << QByteArrayList();
    QTest::newRow("TransactionLock") << &TransactionLock::staticMetaObject << QByteArray("TransactionLock")
                                     << QByteArrayList();
    QTest::newRow("QmlProperty") << &QmlProperty::staticMetaObject << QByteArray("QmlProperty") << QByteArrayList();
}

void TestSharedObjects::metaObject()
{
    QFETCH(const QMetaObject *, meta);
    QFETCH(QByteArray, className);
    QFETCH(QByteArrayList, slotList);

    QCOMPARE(QByteArray(meta->className()), className);
    QCOMPARE(meta->superClass(), &QObject::staticMetaObject);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->methodCount() - meta->methodOffset(), slotList.size());
    for (int i = 0; i < slotList.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), slotList.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }
}

void TestSharedObjects::parentIsKept()
{
    QObject owner;
    QTemporaryDir dir;
    const auto *lock = new TransactionLock(&owner);
    const auto *stats = new VOvodoStats(dir.path() + QStringLiteral("/s.ini"), QSettings::IniFormat, &owner);
    QCOMPARE(lock->parent(), &owner);
    QCOMPARE(stats->parent(), &owner);
    QCOMPARE(owner.children().size(), 2);
}

TESSALY_TEST_MAIN(TestSharedObjects)
#include "tst_sharedobjects.moc"
