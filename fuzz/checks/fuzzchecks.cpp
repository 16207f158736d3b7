#include "fuzzchecks.h"

#include <QDir>
#include <QFile>

#include "common/vovodo_global.h"
#include "ipc/tessalyipc.h"
#include "logging/logfilenames.h"
#include "shared/rmusersettings.h"
#include "update/packagepaths.h"
#include "update/updatemessages.h"

namespace {

// A segment as a reader finds it: what decodes is the front of the segment;
// and any text a writer puts in comes back unchanged (the input read as
// UTF-16 gives texts no JSON writer would make, lone surrogates included).
QString checkMailboxSegment(const QByteArray &input, const QString &)
{
    const QString message = decodeMailboxSegment(input);
    if (input.size() >= 4 && !message.isNull() && !input.startsWith(encodeMailboxSegment(message)))
        return QStringLiteral("decoded message is not the front of the segment");
    const QString text(reinterpret_cast<const QChar *>(input.constData()), input.size() / 2);
    const QByteArray written = encodeMailboxSegment(text);
    if (written.size() != 4 + 2 * text.size() || decodeMailboxSegment(written) != text)
        return QStringLiteral("a written message does not read back");
    return QString();
}

// Any text left in the request mailbox: what is not a JSON object carries
// nothing, and a request survives encoding (but for lone surrogates, which
// JSON escapes can make and no writer gives back).
QString checkUpdateRequest(const QByteArray &input, const QString &)
{
    const UpdateRequest request = decodeUpdateRequest(QString::fromUtf8(input));
    const UpdateRequest again = decodeUpdateRequest(
            encodeUpdateRequest(request.action, request.version, request.buildRelease));
    if (request.form != UpdateRequest::Form::Object
                ? request.action != INVALID || !request.version.isEmpty()
                        || !request.buildRelease.isEmpty()
                : request.version.isValidUtf16() && request.buildRelease.isValidUtf16()
                        && (again.action != request.action || again.version != request.version
                            || again.buildRelease != request.buildRelease))
        return QStringLiteral("a request does not read as it was written");
    return QString();
}

// A package URL or path: name and extension make it up, and an extension
// starts with a recognised suffix, never at the start.
QString checkPackagePaths(const QByteArray &input, const QString &)
{
    const QString path = QString::fromUtf8(input);
    const QString extension = getFileExtension(path);
    const QString name = getFileName(path, true);
    if (name + extension != path || (!extension.isEmpty() && name.isEmpty()))
        return QStringLiteral("name and extension do not make up the path");
    for (const QString &suffix : SupportedFileTypes) {
        if (extension.isEmpty() || extension.startsWith(suffix))
            return QString();
    }
    return QStringLiteral("the extension starts with no recognised suffix");
}

// Any name in the logs folder: without a date it is 0 days old, else its age
// is counted in calendar days.
QString checkLogFileNames(const QByteArray &input, const QString &)
{
    const QString name = QString::fromUtf8(input);
    const QDateTime now(QDate(2026, 3, 14), QTime(12, 0), Qt::LocalTime);
    const QDateTime date = logFileNameDate(name);
    const qint64 expected = date.isValid() ? date.date().daysTo(now.date()) : 0;
    if (logFileAgeInDays(name, now) != expected)
        return QStringLiteral("a name's age is not its calendar days");
    return QString();
}

// The contents of "Tessaly.cbin" as the store finds them: what it writes
// reads back as the same entries (in any order: the table has none).
QString checkUserSettings(const QByteArray &input, const QString &scratchFolder)
{
    const QString path = userSettingsFilePath(scratchFolder, QString());
    QByteArray stored[3] = { input };
    for (int round = 1; round < 3; ++round) {
        QDir().mkpath(userSettingsFolder(scratchFolder, QString()));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(stored[round - 1]) < 0)
            return QStringLiteral("cannot prepare %1").arg(path);
        file.close();
        RMUserSettings(QString(), scratchFolder, nullptr).store();
        file.open(QIODevice::ReadOnly);
        QList<QByteArray> lines = file.readAll().split('\n');
        std::sort(lines.begin(), lines.end());
        stored[round] = lines.join('\n');
    }
    return stored[1] == stored[2]
            ? QString()
            : QStringLiteral("the written settings do not read back the same");
}

} // namespace

const FuzzCheck fuzzChecks[5] = {
    { "fuzz_mailboxsegment", checkMailboxSegment }, { "fuzz_updaterequest", checkUpdateRequest },
    { "fuzz_packagepaths", checkPackagePaths },     { "fuzz_logfilenames", checkLogFileNames },
    { "fuzz_usersettings", checkUserSettings },
};
