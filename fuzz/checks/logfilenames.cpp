#include "fuzzchecks.h"

#include <QtEndian>

#include "logging/logfilenames.h"

namespace {

// Any name found in the logs folder, against a fixed day.
QString checkFoundName(const QString &fileName)
{
    const QDateTime now(QDate(2026, 3, 14), QTime(12, 0), Qt::LocalTime);
    const QDateTime date = logFileNameDate(fileName);
    const qint64 age = logFileAgeInDays(fileName, now);
    if (!date.isValid() && age != 0)
        return QStringLiteral("a name without a date has an age of %1 days").arg(age);
    if (date.isValid() && age != date.date().daysTo(now.date()))
        return QStringLiteral("the age is not counted in calendar days");
    return QString();
}

// A name the logger makes itself for an application name, a version and a
// start time taken from the input. The names carry no "_" of their own, as
// the service's do.
QString checkMadeName(const QByteArray &input)
{
    if (input.size() < 4)
        return QString();
    // Seconds from 1970 to the end of 9999, the years the pattern can hold.
    const qint64 lastSecond = 253402300799;
    const qint64 seconds = qint64(qFromBigEndian<quint32>(input.constData())) * 59 % lastSecond;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);

    const QString rest = QString::fromUtf8(input.mid(4)).remove(QLatin1Char('_'));
    const QString appName = rest.section(QLatin1Char('/'), 0, 0);
    const QString version = rest.section(QLatin1Char('/'), 1);

    const QString fileName = newLogFileName(appName, version, start);
    if (!fileName.startsWith(todayLogFilePrefix(appName, version, start)))
        return QStringLiteral("a new file does not carry the prefix of its day");
    // Wall-clock time: in the hour a zone repeats, either instant is right.
    const QDateTime named = logFileNameDate(fileName);
    if (named.date() != start.date() || named.time() != start.time())
        return QStringLiteral("a new file's name does not give back its start time");
    if (logFileAgeInDays(fileName, start.addDays(14)) != 14)
        return QStringLiteral("a file started 14 days ago is not 14 days old");
    return QString();
}

} // namespace

QString checkLogFileNames(const QByteArray &input, const QString &)
{
    const QString found = checkFoundName(QString::fromUtf8(input));
    if (!found.isEmpty())
        return found;
    return checkMadeName(input);
}
