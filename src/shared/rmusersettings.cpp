#include "rmusersettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStringList>
#include <QTextCodec>
#include <QTextStream>

#include "common/vovodo_global.h"

namespace {

const QString separator = QStringLiteral("::");

// Splits one line of the settings file at its first "::". False when the
// line holds no separator at all.
bool splitSettingsLine(const QString &line, QString *key, QString *value)
{
    const int at = line.indexOf(separator);
    if (at < 0)
        return false;
    *key = line.left(at);
    *value = line.mid(at + separator.size());
    return true;
}

// Whether the line written for this entry reads back as the very same key and
// value through codec. The format has no escaping, so a line break, a key
// holding "::" or ending in ':', a value ending in a carriage return, or a
// character the file's encoding lacks would come back as other entries or
// other text.
bool settingsEntryFitsFile(const QString &key, const QString &value, const QTextCodec *codec)
{
    const QLatin1Char lineFeed('\n');
    if (key.contains(lineFeed) || value.contains(lineFeed))
        return false;
    const QString line = key + separator + value;
    // The reader takes "\r\n" as one terminator.
    if (line.endsWith(QLatin1Char('\r')))
        return false;
    QString readKey;
    QString readValue;
    if (!splitSettingsLine(line, &readKey, &readValue) || readKey != key || readValue != value)
        return false;
    // canEncode() misses a surrogate left open at the end of the text.
    return !codec || codec->toUnicode(codec->fromUnicode(line)) == line;
}

} // namespace

bool RMUserSettings::requestNewObj = true;

QString userSettingsFolder(const QString &applicationDir, const QString &appFolder)
{
    QString dir = applicationDir;
    if (!appFolder.isEmpty())
        dir.append(QStringLiteral("/../../%1/bin").arg(appFolder));
    return QStringLiteral("%1/conf/").arg(dir);
}

QString userSettingsFilePath(const QString &applicationDir, const QString &appFolder)
{
    return userSettingsFolder(applicationDir, appFolder) + QStringLiteral("Tessaly.cbin");
}

RMUserSettings::RMUserSettings(const QString &appFolder, QObject *parent)
    : RMUserSettings(appFolder, QCoreApplication::applicationDirPath(), parent)
{
}

RMUserSettings::RMUserSettings(const QString &appFolder, const QString &baseDir, QObject *parent)
    : QObject(parent)
    , restartPending(false)
{
    qDebug() << "RMUserSettings::RMUserSettings()";
    requestNewObj = false;

    const QString confDir = userSettingsFolder(baseDir, appFolder);
    if (!QDir(confDir).exists())
        QDir().mkpath(confDir);
    settingsFile.setFileName(confDir + QStringLiteral("Tessaly.cbin"));
    qInfo() << "user settings path: " << settingsFile.fileName();

    readSettings();
}

RMUserSettings::~RMUserSettings()
{
    QMutexLocker locker(&mutex);
    qDebug() << "RMUserSettings::~RMUserSettings()";
    requestNewObj = true;
}

void RMUserSettings::readSettings()
{
    QMutexLocker locker(&mutex);
    loadFile();
}

void RMUserSettings::sync()
{
    QMutexLocker locker(&mutex);
    loadFile();
}

void RMUserSettings::loadFile()
{
    // Opened without Text mode: that would drop every '\r', not only those of
    // "\r\n" terminators.
    if (!settingsFile.open(QIODevice::ReadOnly))
        return;
    QTextStream in(&settingsFile);
    int skipped = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        QString key;
        QString value;
        if (splitSettingsLine(line, &key, &value))
            settings.insert(key, value);
        else if (!line.isEmpty())
            ++skipped;
    }
    settingsFile.close();
    // Counted, not quoted: a damaged line may hold a secret, and a badly
    // damaged file would otherwise flood the log.
    if (skipped > 0)
        qWarning() << "RMUserSettings::readSettings: lines without separator skipped, count"
                   << skipped;
}

void RMUserSettings::writeSettings()
{
    if (restartPending)
        return;
    // Written beside the file and renamed over it, so that a crash or a full
    // disk leaves the old content whole. A file in a folder that cannot take
    // a new file is still written, in place: then a crash or a full disk can
    // leave it part-written, and cancelling cannot undo that.
    QSaveFile file(settingsFile.fileName());
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QTextStream out(&file);
    const QTextCodec *codec = out.codec();
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        // Written as it stands, such an entry would read back as another
        // entry or another text; it stays in memory only.
        if (!settingsEntryFitsFile(it.key(), it.value(), codec)) {
            qWarning() << "RMUserSettings::writeSettings: entry not written, the file can not hold "
                          "it, key"
                       << it.key();
            continue;
        }
        out << it.key() << separator << it.value() << '\n';
    }
    out.flush();
    // commit() would miss a failure of the last buffered write; cancelling
    // keeps the old file only where the new one went beside it.
    if (out.status() != QTextStream::Ok || !file.flush())
        file.cancelWriting();
    file.commit();
}

void RMUserSettings::store()
{
    QMutexLocker locker(&mutex);
    writeSettings();
}

void RMUserSettings::erase(const QString &key)
{
    QMutexLocker locker(&mutex);
    settings.remove(key);
}

QString &RMUserSettings::operator[](const QString &key)
{
    QMutexLocker locker(&mutex);
    return settings[key];
}

void RMUserSettings::clearSettingsFile()
{
    QMutexLocker locker(&mutex);
    settings.clear();
    writeSettings();
}

void RMUserSettings::keepOnly(std::initializer_list<SettingsKeys> keptKeys)
{
    QStringList kept;
    for (SettingsKeys key : keptKeys)
        kept.append(SETTINGS_KEYS_TO_STR.value(key));
    for (auto it = settings.begin(); it != settings.end();) {
        if (kept.contains(it.key()))
            ++it;
        else
            it = settings.erase(it);
    }
}

void RMUserSettings::reconfigureApp()
{
    QMutexLocker locker(&mutex);
    keepOnly({ USER_CODE, TIME_ZONE, WIFI_MAC_ADDRESS, MOBILE_URL });
    writeSettings();
}

void RMUserSettings::logoutApp()
{
    QMutexLocker locker(&mutex);
    keepOnly({ STORE_CODE, FACILITY_CODE, UNIT_CODE, TIME_ZONE, UUID_CODE, STORE_NAME,
               WIFI_MAC_ADDRESS, MOBILE_URL });
    writeSettings();
}

void RMUserSettings::appBackFromLoginToConfig()
{
    QMutexLocker locker(&mutex);
    keepOnly({ UUID_CODE, TIME_ZONE, AUTO_PRINT_ORDER, WIFI_MAC_ADDRESS, MOBILE_URL });
    writeSettings();
}

void RMUserSettings::stopManager()
{
    // Only waits until no other thread is inside an operation.
    mutex.lock();
    mutex.unlock();
}

void RMUserSettings::deviceRestarting(const QString &message)
{
    Q_UNUSED(message)
    restartPending = true;
}
