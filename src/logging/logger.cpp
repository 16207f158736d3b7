#include "logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTextStream>

#include <cstdio>
#include <iostream>

#include <unistd.h>

#include "common/updaterconfig.h"
#include "logfilenames.h"

namespace {

// While the log goes to standard error, the file is tried again at most this
// often, so a storage that comes back is used again without a restart.
constexpr int reopenRetrySeconds = 60;

} // namespace

Logger::Logger(const QString &appName, QObject *parent)
    : Logger(
            appName, QStringLiteral("%1/logs/").arg(QCoreApplication::applicationDirPath()),
            [] { return QDateTime::currentDateTime(); }, parent)
{
}

Logger::Logger(const QString &appName, const QString &logFolder, Clock clock, QObject *parent)
    : QObject(parent)
    , appName(appName)
    , logFolder(logFolder)
    , clock(std::move(clock))
{
    init();
}

Logger::~Logger() = default;

void Logger::init()
{
    Reports reports;
    {
        QMutexLocker locker(&writeLock);
        reports = initLocked(clock());
    }
    report(reports);
}

// Reports are made once the lock is released: with the message handler
// installed, a report made by a direct call comes back into log().
void Logger::report(const Reports &reports)
{
    for (const Report &report : reports) {
        if (report.toStandardError)
            std::cerr << report.text.toUtf8().constData() << std::endl;
        else
            qInfo().noquote() << report.text;
    }
}

Logger::Reports Logger::initLocked(const QDateTime &now)
{
    QDir folder(logFolder);
    if (!folder.exists())
        QDir().mkpath(logFolder);
    folder.setNameFilters({ QStringLiteral("*.log") });

    QString fileName;
    Reports reports = chooseLogFile(folder, now, &fileName);
    const QString fullPath = folder.filePath(fileName);
    if (logFile.fileName() != fullPath || !logFile.isOpen() || reopenDue(now))
        reports += openLogFile(fullPath, now);
    return reports + pruneOldLogFiles(folder, now);
}

// A report's text is what QDebug makes of its pieces: one space between them,
// no quotes.
Logger::Reports Logger::chooseLogFile(const QDir &folder, const QDateTime &now,
                                      QString *fileName) const
{
    const QString version = UpdaterConfig::applicationVersion();
    const QString todayPrefix = todayLogFilePrefix(appName, version, now);
    // A restart on the same day goes on in the day's earliest file.
    const QStringList existing = folder.entryList();
    for (const QString &entry : existing) {
        if (entry.startsWith(todayPrefix, Qt::CaseInsensitive)) {
            *fileName = entry;
            return { { false, QStringLiteral("Selecting exisitng log file:  ") + entry } };
        }
    }
    *fileName = newLogFileName(appName, version, now);
    return {};
}

Logger::Reports Logger::openLogFile(const QString &fullPath, const QDateTime &now)
{
    Reports reports{ { false, QStringLiteral("Operating log file :  ") + fullPath } };
    logFile.close();
    logFile.setFileName(fullPath);
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        onStandardError = false;
        reports.append({ false, QStringLiteral("Log file :  ") + fullPath });
    } else {
        reports.append(
                { true, logFile.errorString() + QStringLiteral(" Failed to open log file. ") });
        logFile.open(stderr, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
        onStandardError = true;
        lastReopenAttempt = now;
    }
    return reports;
}

Logger::Reports Logger::pruneOldLogFiles(const QDir &folder, const QDateTime &now) const
{
    Reports reports;
    const QString ownPrefix = QStringLiteral("%1_").arg(appName);
    // Listed again: the list now holds a file just created.
    const QStringList entries = folder.entryList();
    for (const QString &entry : entries) {
        if (entry.startsWith(ownPrefix, Qt::CaseInsensitive)
            && logFileAgeInDays(entry, now) > UpdaterConfig::logRetentionDays) {
            reports.append({ false,
                             QStringLiteral("Removing log file older than %1  days, file name= %2")
                                     .arg(UpdaterConfig::logRetentionDays)
                                     .arg(folder.absoluteFilePath(entry)) });
            QDir(folder).remove(entry);
        }
    }
    return reports;
}

bool Logger::dayChanged(const QDateTime &now) const
{
    // The bare name, so that an underscore in the folder's path cannot hide
    // the date.
    return logFileAgeInDays(QFileInfo(logFile.fileName()).fileName(), now) >= 1;
}

bool Logger::reopenDue(const QDateTime &now) const
{
    if (!onStandardError)
        return false;
    const qint64 sinceLastAttempt = lastReopenAttempt.secsTo(now);
    return !lastReopenAttempt.isValid() || sinceLastAttempt >= reopenRetrySeconds
            || sinceLastAttempt < 0;
}

void Logger::log(QtMsgType type, const QString &msg)
{
    QMutexLocker locker(&writeLock);
    QDateTime now = clock();
    // Opened on standard error, the file object has an empty name and always
    // exists, so neither of the first two checks would lead back to the file;
    // a file closed after a failed write is opened again.
    if (dayChanged(now) || !logFile.exists() || !logFile.isOpen() || reopenDue(now)) {
        const Reports reports = initLocked(now);
        if (!reports.isEmpty()) {
            // Reported without the lock, then the line under it again, with
            // the time read anew: a file's lines stay in time order.
            locker.unlock();
            report(reports);
            locker.relock();
            now = clock();
        }
    }

    const QString line = QStringLiteral("%1 [%2] %3\n")
                                 .arg(now.toString(Qt::ISODateWithMs), levelToString(type), msg);
    QTextStream stream(&logFile);
    stream << line;
    stream.flush();
    if (!logFile.flush() || stream.status() != QTextStream::Ok) {
        // A full disk: the line goes to standard error, and closing drops
        // what is still buffered, so it is not written twice later.
        std::cerr << line.toLocal8Bit().constData() << std::flush;
        logFile.close();
    }
}

void Logger::syncToDisk()
{
    QMutexLocker locker(&writeLock);
    if (logFile.isOpen() && !onStandardError)
        ::fdatasync(logFile.handle());
}

void Logger::forward(QtMsgType type, const QString &msg)
{
    Q_EMIT message(QStringLiteral("<font color=\"%1\"> %2").arg(getColor(type), msg));
}

QString Logger::levelToString(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("DEBUG");
    case QtWarningMsg:
        return QStringLiteral("WARNING");
    case QtCriticalMsg:
        return QStringLiteral("ERROR");
    case QtFatalMsg:
        return QStringLiteral("FATAL");
    case QtInfoMsg:
        return QStringLiteral("INFO");
    }
    return QStringLiteral("UNKNOWN");
}

QString Logger::getColor(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
    case QtCriticalMsg:
    case QtFatalMsg:
        return QStringLiteral("red");
    case QtDebugMsg:
    case QtInfoMsg:
        break;
    }
    return QStringLiteral("darkBlue");
}

QString Logger::getLogFileName() const { return logFile.fileName(); }
