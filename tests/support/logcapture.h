#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Installs a message handler that records every Qt message for as long as the
// object lives, then puts the previous handler back. One at a time.
class LogCapture
{
public:
    using Entry = QPair<QtMsgType, QString>;

    LogCapture();
    ~LogCapture();

    QList<Entry> entries() const;
    QStringList messages() const;
    // Messages of one level only.
    QStringList messages(QtMsgType type) const;
    bool contains(QtMsgType type, const QString &message) const;
    void clear();

private:
    Q_DISABLE_COPY(LogCapture)
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &msg);

    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};

#endif // LOGCAPTURE_H
