#ifndef CHILDPROGRAM_H
#define CHILDPROGRAM_H

#include <QIODevice>
#include <QStringList>

class QProcess;

namespace TestSupport {

// Tests start this build's own programs (helpers, tessaly-peer, the service,
// the test binary itself) as child processes. In a cross build the suite runs
// under a user-mode emulator, and a child built for the same machine as the
// test needs that emulator in front of it: nothing in the kernel is set up to
// run foreign binaries. Host programs (tar, sh, nginx) and scripts run as they
// are, so every child may go through these functions.

// The emulator command of a cross build (program and its arguments), empty in
// a native build.
QStringList childEmulator();

// Program and arguments that run `program` with `arguments`: the emulator
// first when `program` is an executable for the same machine as this test.
QStringList childCommand(const QString &program, const QStringList &arguments = {});

// childCommand() as one line for a shell (sh -c, script -c), every word
// quoted.
QString childShellCommand(const QString &program, const QStringList &arguments = {});

// The words of a command as one line for a POSIX shell, each word single-quoted
// so that the shell passes it on unchanged.
QString shellCommandLine(const QStringList &command);

// childCommand() with a given emulator command: the rule on its own, so that
// it can be checked in a native build too.
QStringList commandThroughEmulator(const QStringList &emulator, const QString &program,
                                   const QStringList &arguments);

// process.start(program, arguments, mode) through childCommand().
void startChild(QProcess &process, const QString &program, const QStringList &arguments = {},
                QIODevice::OpenMode mode = QIODevice::ReadWrite);

} // namespace TestSupport

#endif // CHILDPROGRAM_H
