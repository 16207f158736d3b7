#include "logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTextStream>

#include <cstdio>
#include <iostream>

#include "common/updaterconfig.h"
#include "logfilenames.h"

namespace {

// While the log goes to standard error, the file is tried again at most this
// often, so a storage that comes back is used again without a restart.
constexpr int reopenRetrySeconds = 60;

} // namespace

Logger::Logger(const QString &appName, QObject *parent)
    : Logger(appName, QStringLiteral("%1/logs/").arg(QCoreApplication::applicationDirPath()),
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
    QMutexLocker locker(&writeLock);
    initLocked();
}

void Logger::initLocked()
{
    const QDateTime now = clock();
    const QString version = UpdaterConfig::applicationVersion();
    QString fileName = newLogFileName(appName, version, now);
    const QString todayPrefix = todayLogFilePrefix(appName, version, now);

    QDir folder(logFolder);
    if (!folder.exists())
        QDir().mkpath(logFolder);
    folder.setNameFilters({ QStringLiteral("*.log") });

    // A restart on the same day goes on in the day's earliest file.
    const QStringList existing = folder.entryList();
    for (const QString &entry : existing) {
        if (entry.startsWith(todayPrefix, Qt::CaseInsensitive)) {
            fileName = entry;
            qInfo().noquote() << "Selecting exisitng log file: " << fileName;
            break;
        }
    }

    const QString fullPath = folder.filePath(fileName);
    if (logFile.fileName().isEmpty() || logFile.fileName() != fullPath || reopenDue(now)) {
        qInfo().noquote() << "Operating log file : " << fullPath;
        logFile.close();
        logFile.setFileName(fullPath);
        if (logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            onStandardError = false;
            qInfo().noquote() << "Log file : " << fullPath;
        } else {
            std::cerr << logFile.errorString().toUtf8().constData()
                      << " Failed to open log file. " << std::endl;
            logFile.open(stderr, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
            onStandardError = true;
            lastReopenAttempt = now;
        }
    }

    const QString ownPrefix = QStringLiteral("%1_").arg(appName);
    const QStringList afterOpen = folder.entryList();
    for (const QString &entry : afterOpen) {
        if (!entry.startsWith(ownPrefix, Qt::CaseInsensitive))
            continue;
        if (logFileAgeInDays(entry, now) > UpdaterConfig::logRetentionDays) {
            qInfo().noquote() << "Removing log file older than" << UpdaterConfig::logRetentionDays
                              << " days, file name=" << folder.absoluteFilePath(entry);
            folder.remove(entry);
        }
    }
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
    // One lock for the day check, a re-initialisation and the line itself:
    // two threads never reopen the file at once, and lines never interleave.
    QMutexLocker locker(&writeLock);
    const QDateTime now = clock();
    const QString timestamp = now.toString(Qt::ISODateWithMs);

    // Opened on standard error, the file object has an empty name and always
    // exists, so neither of the first two checks would ever lead back to the file.
    if (dayChanged(now) || !logFile.exists() || reopenDue(now))
        initLocked();

    const QString line = QStringLiteral("%1 [%2] %3").arg(timestamp, levelToString(type), msg);
    QTextStream stream(&logFile);
    stream << line << "\n";
    stream.flush();
    logFile.flush();
}

void Logger::forward(QtMsgType type, const QString &msg)
{
    emit message(QStringLiteral("<font color=\"%1\"> %2").arg(getColor(type), msg));
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

QString Logger::getLogFileName() const
{
    return logFile.fileName();
}
