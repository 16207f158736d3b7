#include <QTemporaryDir>
#include <QtTest>

#include "shared/vovodostats.h"
#include "support/testmain.h"

class TestVOvodoStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setValueWritesOnlyChanges_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("next");
        // The line QSettings writes for the key; empty when nothing may be written.
        QTest::addColumn<QByteArray>("writtenLine");

        QTest::newRow("same number") << QVariant(5) << QVariant(5) << QByteArray();
        QTest::newRow("same text") << QVariant("a") << QVariant("a") << QByteArray();
        QTest::newRow("changed number") << QVariant(5) << QVariant(6) << QByteArray("k=6");
        QTest::newRow("absent key, number") << QVariant() << QVariant(5) << QByteArray("k=5");
        QTest::newRow("absent key, empty text") << QVariant() << QVariant(QString("")) << QByteArray("k=");
        QTest::newRow("absent key, invalid") << QVariant() << QVariant() << QByteArray();
    }

    // QSettings merges its pending changes into the file as it finds it on
    // sync(). So when another writer replaces the file after setValue, the file
    // keeps that writer's value exactly when setValue handed nothing on.
    void setValueWritesOnlyChanges()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, next);
        QFETCH(QByteArray, writtenLine);

        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/stats.ini");
        VOvodoStats stats(path, QSettings::IniFormat, nullptr);
        if (stored.isValid()) {
            stats.setValue(QStringLiteral("k"), stored);
            stats.sync();
        }
        stats.setValue(QStringLiteral("k"), next);
        // Longer than anything written above, so QSettings sees the change even
        // within one tick of the file clock.
        const QByteArray external = "[General]\nk=external-value\nmarker=1\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(external), external.size());
        file.close();
        stats.sync();

        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        if (writtenLine.isEmpty()) {
            QCOMPARE(lines, external.split('\n'));
            QCOMPARE(stats.value(QStringLiteral("k"), QVariant()), QVariant("external-value"));
        } else {
            QVERIFY2(lines.contains(writtenLine), lines.join('|').constData());
            QVERIFY(lines.contains("marker=1"));
            QCOMPARE(stats.value(QStringLiteral("k"), QVariant()).toString(), next.toString());
        }
    }
};

TESSALY_TEST_MAIN(TestVOvodoStats)
#include "tst_vovodostats.moc"
