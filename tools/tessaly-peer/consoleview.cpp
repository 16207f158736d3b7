#include "consoleview.h"

ConsoleView::ConsoleView(FILE *stream, bool terminal, qint64 sizeBytes)
    : m_stream(stream)
    , m_terminal(terminal)
    , m_sizeBytes(sizeBytes)
{
}

void ConsoleView::printLine(const QString &line)
{
    endBar();
    write(line + QLatin1Char('\n'));
    // The progress of whatever the new status begins is shown from its start.
    m_lastProgressLine.clear();
}

void ConsoleView::showProgress(const ProgressReport &report, qint64 elapsedMs)
{
    if (!m_terminal || report.kind == ProgressReport::Kind::Unreadable) {
        const QString line = plainProgressLine(report);
        if (line == m_lastProgressLine)
            return;
        endBar();
        write(line + QLatin1Char('\n'));
        m_lastProgressLine = line;
        return;
    }

    if (report.kind != m_rateKind || report.sizeKnown() != m_rateSizeKnown) {
        m_rate.reset();
        m_rateKind = report.kind;
        m_rateSizeKnown = report.sizeKnown();
    }
    if (report.sizeKnown())
        m_rate.addSample(elapsedMs, report.fraction);
    else if (report.bytesWithoutSize() >= 0)
        m_rate.addSample(elapsedMs, double(report.bytesWithoutSize()));

    const QString bar = progressBarLine(report, m_rate.perSecond(), m_sizeBytes, m_spinnerStep++);
    // Back to the line's start, draw, clear what a longer bar left behind.
    write(QLatin1Char('\r') + bar + QStringLiteral("\x1b[K"));
    m_barShown = true;
    m_lastProgressLine.clear();
}

void ConsoleView::close()
{
    endBar();
}

void ConsoleView::endBar()
{
    if (!m_barShown)
        return;
    write(QStringLiteral("\n"));
    m_barShown = false;
}

void ConsoleView::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}
