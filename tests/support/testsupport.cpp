#include "testsupport.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSharedMemory>

#include <cstdlib>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include "ipc/tessalyipc.h"

namespace TestSupport {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool run(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    if (!finished)
        process.kill();
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const bool ok =
            finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok)
        qWarning().noquote() << program << arguments << "failed:" << process.readAllStandardError();
    return ok;
}

QStringList ownProgram(const QString &path, const QStringList &arguments)
{
    QStringList command =
            QString::fromUtf8(TESSALY_EMULATOR).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    return command << path << arguments;
}

QByteArray segmentBytes(const QString &mailbox)
{
    QSharedMemory memory(TessalyIPC::memoryKey(mailbox));
    if (!memory.attach(QSharedMemory::ReadOnly))
        return QByteArray();
    return QByteArray(static_cast<const char *>(memory.constData()), memory.size());
}

PrivateTempDir::PrivateTempDir()
{
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/tessaly-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        qFatal("cannot create a private temporary folder under %s", pattern.constData());
    m_path = QString::fromLocal8Bit(pattern);
    qputenv("TMPDIR", pattern);
}

PrivateTempDir::~PrivateTempDir()
{
    // Qt's System V keys are ftok() of these key files, with the id 'Q'.
    const QStringList keyFiles = QDir(m_path).entryList({ QStringLiteral("qipc_*") }, QDir::Files);
    for (const QString &name : keyFiles) {
        const key_t key =
                ftok(QFile::encodeName(m_path + QLatin1Char('/') + name).constData(), 'Q');
        if (key == -1)
            continue;
        if (name.startsWith(QLatin1String("qipc_sharedmemory_")))
            shmctl(shmget(key, 0, 0), IPC_RMID, nullptr); // an id of -1 is refused, harmlessly
        else
            semctl(semget(key, 0, 0), 0, IPC_RMID);
    }
    QDir(m_path).removeRecursively();
}

} // namespace TestSupport
