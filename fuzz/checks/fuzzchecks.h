#ifndef FUZZCHECKS_H
#define FUZZCHECKS_H

#include <QByteArray>
#include <QString>

// One rule set per fuzz target: a check feeds its input to the code under
// test and returns an empty text when every rule held, else what broke. The
// fuzz targets abort on a broken rule; tests/fuzzregressions replays the
// corpora and every input kept from a finding through the same checks.
// scratchFolder is an existing folder a check may use for files of its own.
using FuzzCheckFunction = QString (*)(const QByteArray &input, const QString &scratchFolder);

struct FuzzCheck
{
    const char *target; // the fuzz target's name, also its corpus folder's
    FuzzCheckFunction run;
};

extern const FuzzCheck fuzzChecks[5];

#endif // FUZZCHECKS_H
