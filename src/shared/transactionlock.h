#ifndef TRANSACTIONLOCK_H
#define TRANSACTIONLOCK_H

#include <QObject>

// Carries only the meta-object; kept so the set of components shared with
// the main application stays complete.
class TransactionLock : public QObject
{
    Q_OBJECT

public:
    explicit TransactionLock(QObject *parent);
};

#endif // TRANSACTIONLOCK_H
