#include "transactionlock.h"

TransactionLock::TransactionLock(QObject *parent)
    : QObject(parent)
{
}
