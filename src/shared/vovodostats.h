#ifndef VOVODOSTATS_H
#define VOVODOSTATS_H

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

// The device's statistics on top of a settings file. Values that did not
// change are not handed to QSettings, so they never cause a rewrite of the
// file on flash. Takes no lock of its own.
class VOvodoStats : public QObject
{
    Q_OBJECT

public:
    VOvodoStats(const QString &fileName, QSettings::Format format, QObject *parent);

    // Stored without a sync; QSettings writes at its own time or on sync().
    void setValue(const QString &key, const QVariant &value);
    QVariant value(const QString &key, const QVariant &defaultValue) const;
    void sync();

private:
    Q_DISABLE_COPY(VOvodoStats)

    QSettings settings;
};

#endif // VOVODOSTATS_H
