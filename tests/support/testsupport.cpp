#include "testsupport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSharedMemory>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sched.h>
#include <unistd.h>

#include "ipc/tessalyipc.h"

namespace TestSupport {

namespace {

// Empty once the process is in an IPC namespace of its own, else why not.
QString enterIpcNamespace()
{
    return ::unshare(CLONE_NEWIPC) == 0
            ? QString()
            : u("unshare(CLONE_NEWIPC): %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

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

int runTest(int argc, char **argv, bool usesMailboxes, const std::function<int()> &exec)
{
    const QString refusal = enterIpcNamespace();
    if (usesMailboxes && !refusal.isEmpty()) {
        std::printf("SKIP: no IPC namespace of its own (%s)\n", qPrintable(refusal));
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
