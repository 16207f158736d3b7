#ifndef SHELLCOMMAND_H
#define SHELLCOMMAND_H

#include <QString>
#include <QStringList>

// Runs program with arguments directly (no shell), in the caller's working
// directory and environment, and waits up to timeoutMs. output and error get
// what the command wrote to its standard output and standard error, each cut
// at the first zero byte and decoded as UTF-8.
//
// A command still running when its time is up is killed together with its
// process group, and error gets a line saying so, so that the step counts as
// failed: a half-run installation step must never be reported as done.
void excuteShellCommand(const QString &program, const QStringList &arguments, QString &output,
                        QString &error, const int &timeoutMs);

#endif // SHELLCOMMAND_H
