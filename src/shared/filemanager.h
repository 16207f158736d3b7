#ifndef FILEMANAGER_H
#define FILEMANAGER_H

#include <QMutex>
#include <QObject>
#include <QString>

// Process-wide loader of whole text files. Loads are serialised by one
// mutex, so two threads never read through the same FileManager at once.
class FileManager : public QObject
{
    Q_OBJECT

public:
    // Not locked: the first call must not happen on two threads at once. The
    // instance has no parent and nothing here deletes it; once it is deleted
    // the next call makes a new one.
    static FileManager *instance();

    explicit FileManager(QObject *parent);
    ~FileManager() override;

public Q_SLOTS:
    // The file as UTF-8 text up to its first zero byte; null when the file
    // cannot be opened or is empty.
    QString loadFile(const QString &fileName);
    // Returns once no loadFile is running on another thread.
    void stopManager();

private:
    Q_DISABLE_COPY(FileManager)

    QMutex mutex;

    static FileManager *_instance;
};

#endif // FILEMANAGER_H
