#ifndef CONSOLEVIEW_H
#define CONSOLEVIEW_H

#include <QString>
#include <QtGlobal>

#include <cstdio>

#include "peerformat.h"
#include "ratemeter.h"

// Writes the tool's output. On a terminal progress is one bar redrawn in
// place; elsewhere it is a plain line whenever that line would change, so a
// log gets at most one line per whole percent.
class ConsoleView
{
public:
    ConsoleView(FILE *stream, bool terminal, qint64 sizeBytes);

    // A line of its own; a bar being shown is left standing above it.
    void printLine(const QString &line);
    void showProgress(const ProgressReport &report, qint64 elapsedMs);
    // Ends a bar's line, so whatever comes next starts on a fresh one.
    void close();

private:
    Q_DISABLE_COPY(ConsoleView)

    void write(const QString &text);
    void endBar();

    FILE *m_stream;
    bool m_terminal;
    qint64 m_sizeBytes;
    bool m_barShown = false;
    QString m_lastProgressLine;
    RateMeter m_rate;
    ProgressReport::Kind m_rateKind = ProgressReport::Kind::Unreadable;
    bool m_rateSizeKnown = false;
    int m_spinnerStep = 0;
};

#endif // CONSOLEVIEW_H
