#ifndef RATEMETER_H
#define RATEMETER_H

#include <QVector>
#include <QtGlobal>

// The growth rate of an amount (a fraction done, or a byte count) over the
// last few seconds of samples, so one burst or stall does not swing it.
class RateMeter
{
public:
    explicit RateMeter(qint64 windowMs = 3000);

    // An amount below the previous one means a new transfer: start afresh.
    void addSample(qint64 elapsedMs, double amount);
    void reset();
    // Per second; 0 until two samples lie apart in time.
    double perSecond() const;

private:
    struct Sample
    {
        qint64 elapsedMs;
        double amount;
    };

    qint64 m_windowMs;
    QVector<Sample> m_samples;
};

#endif // RATEMETER_H
