#include "fuzzchecks.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include "shared/rmusersettings.h"

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(data) == data.size();
}

// Loads the file the store finds in baseDir and writes it back.
void loadAndStore(const QString &baseDir)
{
    RMUserSettings settings(QString(), baseDir, nullptr);
    settings.store();
}

QStringList sortedLines(const QByteArray &data)
{
    QStringList lines = QString::fromLatin1(data).split(QLatin1Char('\n'));
    lines.sort();
    return lines;
}

} // namespace

// The input is the contents of "Tessaly.cbin" as the store finds it.
QString checkUserSettings(const QByteArray &input, const QString &scratchFolder)
{
    const QString filePath = userSettingsFilePath(scratchFolder, QString());
    if (!QDir().mkpath(userSettingsFolder(scratchFolder, QString())) || !writeAll(filePath, input))
        return QStringLiteral("cannot prepare the settings file in %1").arg(scratchFolder);

    // Whatever the store writes out, it must read back as the same entries:
    // writing the file it wrote once more gives the same lines (in any
    // order, since the table has none).
    loadAndStore(scratchFolder);
    const QByteArray first = readAll(filePath);
    loadAndStore(scratchFolder);
    const QByteArray second = readAll(filePath);
    QFile::remove(filePath);

    if (sortedLines(first) != sortedLines(second))
        return QStringLiteral("the written settings do not read back as the same entries");
    return QString();
}
