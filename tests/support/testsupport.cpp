#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSharedMemory>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sched.h>
#include <unistd.h>

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

int runTest(int argc, char **argv, bool usesMailboxes, const std::function<int()> &exec)
{
    if (::unshare(CLONE_NEWIPC) != 0 && usesMailboxes) {
        std::printf("SKIP: no IPC namespace of its own (unshare: %s)\n", std::strerror(errno));
        return 77;
    }
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/tessaly-test-XXXXXX";
    if (!mkdtemp(folder.data()))
        qFatal("cannot create a private temporary folder under %s", folder.constData());
    qputenv("TMPDIR", folder);
    QCoreApplication app(argc, argv);
    const int failures = exec();
    if (failures == 0)
        QDir(QString::fromLocal8Bit(folder)).removeRecursively();
    else
        std::printf("The test's folder is kept: %s\n", folder.constData());
    return failures;
}

} // namespace TestSupport
