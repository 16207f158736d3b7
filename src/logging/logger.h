#ifndef LOGGER_H
#define LOGGER_H

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

// The one sink of the process's diagnostic output: one line per message into
// a file per calendar day and program version, in "logs" beside the
// executable. Files whose name date is 15 or more days old are removed.
class Logger : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    static Logger &getInstance(const QString &appName)
    {
        static Logger instance(appName, nullptr);
        return instance;
    }

    Logger(const QString &appName, QObject *parent);
    // Another folder and clock, for tests.
    Logger(const QString &appName, const QString &logFolder, Clock clock, QObject *parent);
    ~Logger() override;

    void init();
    void log(QtMsgType type, const QString &msg);
    // Makes every line written so far durable, so that a power cut loses
    // none of them (and leaves no unwritten gap before them).
    void syncToDisk();
    void forward(QtMsgType type, const QString &msg);

    static QString levelToString(QtMsgType type);
    static QString getColor(QtMsgType type);

    QString getLogFileName() const;

Q_SIGNALS:
    void message(const QString &msg);

private:
    // What (re)initialisation tells: info messages, or a line written
    // directly to standard error.
    struct Report
    {
        bool toStandardError;
        QString text;
    };
    using Reports = QVector<Report>;

    Reports initLocked(const QDateTime &now);
    Reports chooseLogFile(const QDir &folder, const QDateTime &now, QString *fileName) const;
    Reports openLogFile(const QString &fullPath, const QDateTime &now);
    Reports pruneOldLogFiles(const QDir &folder, const QDateTime &now) const;
    static void report(const Reports &reports);
    bool dayChanged(const QDateTime &now) const;
    bool reopenDue(const QDateTime &now) const;

    QString appName;
    QString logFolder;
    QFile logFile;
    QMutex writeLock;
    Clock clock;
    bool onStandardError = false;
    QDateTime lastReopenAttempt;
};

#endif // LOGGER_H
