// Runs a Logger in a process of its own, so that tests can read what it writes
// to standard error. The clock starts at START and moves only on "advance".
//
//   loggerhelper FOLDER START (log:TYPE:TEXT | advance:SECONDS | remove:PATH)...

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include "logging/logger.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QDateTime now = args.size() < 2 ? QDateTime()
                                    : QDateTime::fromString(args.at(1), Qt::ISODateWithMs);
    if (!now.isValid())
        return 64;

    Logger logger(QStringLiteral("TessalyUpdater"), args.at(0), [&now] { return now; }, nullptr);

    for (const QString &step : args.mid(2)) {
        const QString verb = step.section(QLatin1Char(':'), 0, 0);
        const QString rest = step.section(QLatin1Char(':'), 1);
        if (verb == QLatin1String("log"))
            logger.log(static_cast<QtMsgType>(rest.section(QLatin1Char(':'), 0, 0).toInt()),
                       rest.section(QLatin1Char(':'), 1));
        else if (verb == QLatin1String("advance"))
            now = now.addSecs(rest.toLongLong());
        else if (verb != QLatin1String("remove") || !QFile::remove(rest))
            return 65;
    }
    return 0;
}
