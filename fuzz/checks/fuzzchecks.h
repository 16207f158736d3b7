#ifndef FUZZCHECKS_H
#define FUZZCHECKS_H

#include <QByteArray>
#include <QString>
#include <QVector>

// One rule set per fuzz target. A check feeds its input to the code under
// test and returns an empty text when every rule held, otherwise what broke.
// The fuzz targets abort on a broken rule; tests/fuzzregressions replays the
// starting corpora and every input kept from a finding through the same checks.
//
// scratchFolder is an existing, empty-at-start folder that a check may use
// for files of its own.
using FuzzCheckFunction = QString (*)(const QByteArray &input, const QString &scratchFolder);

struct FuzzCheck
{
    const char *target; // the fuzz target's name, also its corpus folder's
    FuzzCheckFunction run;
};

QString checkMailboxSegment(const QByteArray &input, const QString &scratchFolder);
QString checkUpdateRequest(const QByteArray &input, const QString &scratchFolder);
QString checkPackagePaths(const QByteArray &input, const QString &scratchFolder);
QString checkLogFileNames(const QByteArray &input, const QString &scratchFolder);
QString checkUserSettings(const QByteArray &input, const QString &scratchFolder);

const QVector<FuzzCheck> &fuzzChecks();
FuzzCheckFunction fuzzCheck(const QString &target);

// Drops every Qt message: code under test logs on most paths, and the
// fuzzer's own output must stay readable.
void silenceQtMessages();

#endif // FUZZCHECKS_H
