#ifndef LOGFILENAMES_H
#define LOGFILENAMES_H

#include <QDateTime>
#include <QString>

// "<app>_<version>_<yyyy_MM_dd_HH_mm_ss>.log" for a file started at `now`.
QString newLogFileName(const QString &appName, const QString &version, const QDateTime &now);

// "<app>_<version>_<yyyy_MM_dd>": every file of this version started that day.
QString todayLogFilePrefix(const QString &appName, const QString &version, const QDateTime &now);

// The date-time in a log file's bare name: the text after the second "_" up
// to the last ".", read with the log file date-time pattern as local time.
// Invalid for a name that does not follow the pattern.
QDateTime logFileNameDate(const QString &fileName);

// Whole calendar days from the name date to `now`; 0 for a name without a date.
qint64 logFileAgeInDays(const QString &fileName, const QDateTime &now);

#endif // LOGFILENAMES_H
