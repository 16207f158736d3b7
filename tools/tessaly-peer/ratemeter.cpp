#include "ratemeter.h"

#include <cmath>

#include "peerformat.h"

RateMeter::RateMeter(qint64 windowMs)
    : m_windowMs(windowMs)
{
}

void RateMeter::addSample(qint64 elapsedMs, double amount)
{
    if (!std::isfinite(amount))
        return;
    if (!m_samples.isEmpty() && amount < m_samples.constLast().amount)
        m_samples.clear();
    m_samples.append({ elapsedMs, amount });
    // Keep the newest sample that is older than the window as the anchor, so
    // a long pause between two messages still gives a rate.
    while (m_samples.size() > 2 && m_samples.at(1).elapsedMs <= elapsedMs - m_windowMs)
        m_samples.removeFirst();
}

void RateMeter::reset()
{
    m_samples.clear();
}

double RateMeter::perSecond() const
{
    if (m_samples.size() < 2)
        return 0.0;
    const Sample &first = m_samples.constFirst();
    const Sample &last = m_samples.constLast();
    return amountPerSecond(first.elapsedMs, first.amount, last.elapsedMs, last.amount);
}
