#ifndef COMMANDPROCESS_H
#define COMMANDPROCESS_H

#include <QProcess>

// A QProcess whose child leads a process group of its own, so a command that
// overruns its time can be stopped together with everything it started
// (a deploy script's own children included).
class CommandProcess : public QProcess
{
public:
    using QProcess::QProcess;

    // Kills the whole group and reaps the child. Returns once it has ended.
    void killGroup();

protected:
    void setupChildProcess() override;
};

#endif // COMMANDPROCESS_H
