// Runs a Logger in a process of its own, so that tests can read what it writes
// to standard error. The logger's clock starts at START and moves only when a
// step says so.
//
//   loggerhelper FOLDER START STEP...
//
//   FOLDER            the log folder handed to the Logger
//   START             the clock's first reading, "yyyy-MM-ddTHH:mm:ss.zzz"
//   log:TYPE:TEXT     log TEXT with message type TYPE (a number)
//   advance:SECONDS   move the clock forward
//   remove:PATH       delete a file, e.g. one that blocks the log folder

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

#include "logging/logger.h"

namespace {

int usage()
{
    std::fputs("usage: loggerhelper FOLDER START log:TYPE:TEXT|advance:SECONDS|remove:PATH...\n",
               stdout);
    return 64;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return usage();

    QDateTime now = QDateTime::fromString(args.at(1), Qt::ISODateWithMs);
    if (!now.isValid())
        return usage();

    Logger logger(QStringLiteral("TessalyUpdater"), args.at(0), [&now] { return now; }, nullptr);

    for (const QString &step : args.mid(2)) {
        const QString verb = step.section(QLatin1Char(':'), 0, 0);
        const QString rest = step.section(QLatin1Char(':'), 1);
        if (verb == QLatin1String("log")) {
            const int type = rest.section(QLatin1Char(':'), 0, 0).toInt();
            logger.log(static_cast<QtMsgType>(type), rest.section(QLatin1Char(':'), 1));
        } else if (verb == QLatin1String("advance")) {
            now = now.addSecs(rest.toLongLong());
        } else if (verb == QLatin1String("remove")) {
            if (!QFile::remove(rest))
                return 65;
        } else {
            return usage();
        }
    }
    return 0;
}
