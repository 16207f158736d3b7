#include "processprobe.h"

#include <QDir>
#include <QFile>

namespace {

struct ProcStat
{
    bool valid = false;
    char state = 0;
    qint64 pgrp = -1;
};

// "pid (comm) S ppid pgrp ...": comm may hold spaces and parentheses, so the
// fields are counted from the last ')'.
ProcStat readStat(qint64 pid)
{
    ProcStat stat;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return stat;
    const QByteArray line = file.readAll();
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return stat;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 3 || fields.at(0).isEmpty())
        return stat;
    stat.state = fields.at(0).at(0);
    stat.pgrp = fields.at(2).toLongLong();
    stat.valid = true;
    return stat;
}

bool running(const ProcStat &stat)
{
    return stat.valid && stat.state != 'Z' && stat.state != 'X';
}

} // namespace

namespace ProcessProbe {

bool isAlive(qint64 pid)
{
    return running(readStat(pid));
}

QList<qint64> aliveInGroup(qint64 pgid)
{
    QList<qint64> alive;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        const ProcStat stat = readStat(pid);
        if (running(stat) && stat.pgrp == pgid)
            alive.append(pid);
    }
    return alive;
}

QList<qint64> pidsFromFile(const QString &path)
{
    QList<qint64> pids;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return pids;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        bool isNumber = false;
        const qint64 pid = line.trimmed().toLongLong(&isNumber);
        if (isNumber && pid > 0)
            pids.append(pid);
    }
    return pids;
}

} // namespace ProcessProbe
