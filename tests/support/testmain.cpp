#include "testmain.h"

#include <QDir>

#include <cstdlib>

namespace TestSupport {

PrivateTempDir::PrivateTempDir()
{
    m_hadPrevious = qEnvironmentVariableIsSet("TMPDIR");
    m_previous = qgetenv("TMPDIR");
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/tessaly-test-XXXXXX";
    if (char *made = mkdtemp(pattern.data())) {
        m_path = QString::fromLocal8Bit(made);
        qputenv("TMPDIR", made);
    } else {
        qFatal("cannot create a private temporary folder under %s", pattern.constData());
    }
}

PrivateTempDir::~PrivateTempDir()
{
    if (m_hadPrevious)
        qputenv("TMPDIR", m_previous);
    else
        qunsetenv("TMPDIR");
    QDir(m_path).removeRecursively();
}

} // namespace TestSupport
