#ifndef PROCESSPROBE_H
#define PROCESSPROBE_H

#include <QList>
#include <QString>

// What /proc says about processes the tests started. A zombie has stopped
// running and only waits to be reaped (by init, for an orphan), so it does
// not count as alive.
namespace ProcessProbe {

bool isAlive(qint64 pid);
QList<qint64> aliveInGroup(qint64 pgid);
// The numbers written one per line into a file by a test's script.
QList<qint64> pidsFromFile(const QString &path);

} // namespace ProcessProbe

#endif // PROCESSPROBE_H
