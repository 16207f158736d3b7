#include "filemanager.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QMutexLocker>

FileManager *FileManager::_instance = nullptr;

FileManager *FileManager::instance()
{
    if (!_instance)
        _instance = new FileManager(nullptr);
    return _instance;
}

FileManager::FileManager(QObject *parent)
    : QObject(parent)
{
    qInfo() << "FileManager::FileManager()";
}

FileManager::~FileManager()
{
    qInfo() << "FileManager::~FileManager()";
    // A FileManager made by hand must not orphan the shared one.
    if (_instance == this)
        _instance = nullptr;
}

QString FileManager::loadFile(const QString &fileName)
{
    QMutexLocker locker(&mutex);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << QString(fileName + QStringLiteral(" file can not be opened"));
        return QString();
    }
    QString result;
    const QByteArray bytes = file.readAll();
    if (!bytes.isNull()) {
        const int zero = bytes.indexOf('\0');
        result = QString::fromUtf8(bytes.constData(), zero < 0 ? bytes.size() : zero);
    }
    file.close();
    return result;
}

void FileManager::stopManager()
{
    QMutexLocker locker(&mutex);
    qInfo() << "FileManager::stopManager()";
}
