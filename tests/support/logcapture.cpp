#include "logcapture.h"

#include <QMutexLocker>

namespace {
LogCapture *activeCapture = nullptr;
}

LogCapture::LogCapture()
{
    Q_ASSERT(!activeCapture);
    activeCapture = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    activeCapture = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (!activeCapture)
        return;
    QMutexLocker locker(&activeCapture->m_mutex);
    activeCapture->m_entries.append(qMakePair(type, msg));
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries;
}

QStringList LogCapture::messages() const
{
    QStringList result;
    for (const Entry &entry : entries())
        result.append(entry.second);
    return result;
}

QStringList LogCapture::messages(QtMsgType type) const
{
    QStringList result;
    for (const Entry &entry : entries()) {
        if (entry.first == type)
            result.append(entry.second);
    }
    return result;
}

bool LogCapture::contains(QtMsgType type, const QString &message) const
{
    return entries().contains(qMakePair(type, message));
}

void LogCapture::clear()
{
    QMutexLocker locker(&m_mutex);
    m_entries.clear();
}
