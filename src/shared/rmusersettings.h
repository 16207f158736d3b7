#ifndef RMUSERSETTINGS_H
#define RMUSERSETTINGS_H

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <initializer_list>

class QTextCodec;
enum SettingsKeys : int;

// Where the settings file of an application folder lives: the executable
// folder itself for an empty appFolder, otherwise the bin folder of the
// sibling application folder of that name. The path is left as built, with
// its "..", exactly as the main application builds it.
QString userSettingsFolder(const QString &applicationDir, const QString &appFolder);
QString userSettingsFilePath(const QString &applicationDir, const QString &appFolder);

// The device's user and configuration settings: a table of text keys and
// values kept in memory and in "Tessaly.cbin", one "key::value" line per
// entry with a non-empty value. One non-recursive mutex serialises every
// operation, so no operation may call another one that locks.
class RMUserSettings : public QObject
{
    Q_OBJECT

public:
    RMUserSettings(const QString &appFolder, QObject *parent);
    // Takes the folder that stands in for the executable's own folder, so
    // tests keep their files in a folder of their own.
    RMUserSettings(const QString &appFolder, const QString &baseDir, QObject *parent);
    ~RMUserSettings() override;

    void readSettings();
    // The caller holds the mutex.
    void writeSettings();
    void store();
    void sync();
    void erase(const QString &key);
    // Locks only for the lookup: the caller must not use the reference while
    // another thread changes the table.
    QString &operator[](const QString &key);
    void clearSettingsFile();
    void reconfigureApp();
    void logoutApp();
    void appBackFromLoginToConfig();

    // True exactly while no instance exists.
    static bool requestNewObj;

public Q_SLOTS:
    void stopManager();
    void deviceRestarting(const QString &message);

private:
    Q_DISABLE_COPY(RMUserSettings)

    void loadFile();
    void keepOnly(std::initializer_list<SettingsKeys> keptKeys);

    QFile settingsFile;
    QHash<QString, QString> settings;
    // Set from any thread without the mutex; atomic so that a writer on
    // another thread sees it without a data race.
    std::atomic<bool> restartPending;
    QMutex mutex;
};

#endif // RMUSERSETTINGS_H
