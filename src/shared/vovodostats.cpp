#include "vovodostats.h"

VOvodoStats::VOvodoStats(const QString &fileName, QSettings::Format format, QObject *parent)
    : QObject(parent)
    , settings(fileName, format)
{
}

void VOvodoStats::setValue(const QString &key, const QVariant &value)
{
    // An absent key reads as an invalid variant, so setting an invalid value
    // on an absent key is no change either.
    if (settings.value(key, QVariant()) == value)
        return;
    settings.setValue(key, value);
}

QVariant VOvodoStats::value(const QString &key, const QVariant &defaultValue) const
{
    return settings.value(key, defaultValue);
}

void VOvodoStats::sync() { settings.sync(); }
