#include "testmain.h"

#include <QDir>

#include <cstdlib>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

namespace TestSupport {

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
