#include "shellcommand.h"

#include "commandprocess.h"

QString textBeforeZeroByte(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

QString commandTimeoutText(const QString &program, int timeoutMs)
{
    return QStringLiteral("%1 did not finish within %2 ms and was stopped")
            .arg(program)
            .arg(timeoutMs);
}

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
        error += commandTimeoutText(program, timeoutMs);
    }
}
