#ifndef QMLHELPERS_H
#define QMLHELPERS_H

#include <QObject>

// Carries only the meta-object; kept so the set of components shared with
// the main application stays complete.
class QmlProperty : public QObject
{
    Q_OBJECT
};

#endif // QMLHELPERS_H
