#include "shellcommand.h"

#include <QProcess>

#include <signal.h>
#include <unistd.h>

namespace {

// A QProcess whose child leads a process group of its own, so a command that
// overruns its time can be stopped together with everything it started (a
// deploy script's own children included).
class CommandProcess : public QProcess
{
public:
    // Kills the whole group and reaps the child. Returns once it has ended.
    void killGroup()
    {
        const qint64 pid = processId();
        if (pid > 0)
            ::kill(-pid_t(pid), SIGKILL);
        kill();
        waitForFinished(-1);
    }

protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

QString textBeforeZeroByte(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

} // namespace

void excuteShellCommand(const QString &program, const QStringList &arguments, QString &output,
                        QString &error, const int &timeoutMs)
{
    CommandProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    const bool finished = process.waitForFinished(timeoutMs);
    const bool overran = !finished && process.state() != QProcess::NotRunning;
    if (overran)
        process.killGroup();

    output = textBeforeZeroByte(process.readAllStandardOutput());
    error = textBeforeZeroByte(process.readAllStandardError());
    if (overran) {
        if (!error.isEmpty() && !error.endsWith(QLatin1Char('\n')))
            error += QLatin1Char('\n');
        error += QStringLiteral("%1 did not finish within %2 ms and was stopped")
                         .arg(program)
                         .arg(timeoutMs);
    }
}
