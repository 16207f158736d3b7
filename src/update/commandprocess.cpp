#include "commandprocess.h"

#include <signal.h>
#include <unistd.h>

void CommandProcess::setupChildProcess() { ::setpgid(0, 0); }

void CommandProcess::killGroup()
{
    const qint64 pid = processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    kill();
    waitForFinished(-1);
}
