#ifndef PROCESSPROBE_H
#define PROCESSPROBE_H

#include <QList>
#include <QString>

// What /proc says about processes a test's script started.
namespace ProcessProbe {

// A zombie only waits to be reaped, so it does not count as alive.
bool isAlive(qint64 pid);
// The numbers a script wrote one per line into a file.
QList<qint64> pidsFromFile(const QString &path);

} // namespace ProcessProbe

#endif // PROCESSPROBE_H
