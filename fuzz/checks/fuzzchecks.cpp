#include "fuzzchecks.h"

#include <QtGlobal>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

const QVector<FuzzCheck> &fuzzChecks()
{
    static const QVector<FuzzCheck> checks = {
        { "fuzz_mailboxsegment", checkMailboxSegment },
        { "fuzz_updaterequest", checkUpdateRequest },
        { "fuzz_packagepaths", checkPackagePaths },
        { "fuzz_logfilenames", checkLogFileNames },
        { "fuzz_usersettings", checkUserSettings },
    };
    return checks;
}

FuzzCheckFunction fuzzCheck(const QString &target)
{
    for (const FuzzCheck &check : fuzzChecks()) {
        if (target == QLatin1String(check.target))
            return check.run;
    }
    return nullptr;
}

void silenceQtMessages()
{
    qInstallMessageHandler(dropMessage);
}
