#include "logfilenames.h"

#include <QCoreApplication>

#include "common/vovodo_constants.h"

QString newLogFileName(const QString &appName, const QString &version, const QDateTime &now)
{
    return QCoreApplication::translate("Logger", "%1_%2_%3.log")
            .arg(appName, version, now.toString(LOG_FILE_DATE_TIME_FORMAT));
}

QString todayLogFilePrefix(const QString &appName, const QString &version, const QDateTime &now)
{
    return QStringLiteral("%1_%2_%3").arg(appName, version, now.toString(LOG_FILE_DATE_FORMAT));
}

QDateTime logFileNameDate(const QString &fileName)
{
    QString text = fileName;
    // Drops the application name, then the version.
    text = text.mid(text.indexOf(QLatin1Char('_')) + 1);
    text = text.mid(text.indexOf(QLatin1Char('_')) + 1);
    text = text.left(text.lastIndexOf(QLatin1Char('.')));
    QDateTime date = QDateTime::fromString(text, LOG_FILE_DATE_TIME_FORMAT);
    date.setTimeSpec(Qt::LocalTime);
    return date;
}

qint64 logFileAgeInDays(const QString &fileName, const QDateTime &now)
{
    return logFileNameDate(fileName).daysTo(now);
}
