#include "processprobe.h"

#include <QFile>

namespace ProcessProbe {

bool isAlive(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // "pid (comm) S ...": comm may hold spaces and parentheses, so the state
    // is found after the last ')'.
    const QByteArray line = file.readAll();
    const int close = line.lastIndexOf(')');
    const char state = close >= 0 && line.size() > close + 2 ? line.at(close + 2) : 'X';
    return state != 'Z' && state != 'X';
}

QList<qint64> pidsFromFile(const QString &path)
{
    QList<qint64> pids;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.trimmed().toLongLong() > 0)
                pids.append(line.trimmed().toLongLong());
        }
    }
    return pids;
}

} // namespace ProcessProbe
