#include "fuzzchecks.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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
// nothing; a request survives encoding, and the answers carry its version.
QString checkUpdateRequest(const QByteArray &input, const QString &)
{
    const UpdateRequest request = decodeUpdateRequest(QString::fromUtf8(input));
    if (request.form != UpdateRequest::Form::Object)
        return request.action == INVALID && request.version.isEmpty()
                        && request.buildRelease.isEmpty()
                ? QString()
                : QStringLiteral("a request that is no JSON object carries values");
    // JSON escapes can make lone surrogates, which no writer can give back.
    if (!request.version.isValidUtf16() || !request.buildRelease.isValidUtf16())
        return QString();
    const UpdateRequest again = decodeUpdateRequest(
            encodeUpdateRequest(request.action, request.version, request.buildRelease));
    if (again.action != request.action || again.version != request.version
        || again.buildRelease != request.buildRelease)
        return QStringLiteral("a decoded request does not survive encoding");
    const QString answer =
            installFailedMessage(request.action, request.version, request.buildRelease);
    if (QJsonDocument::fromJson(answer.toUtf8()).object().value(QLatin1String("version")).toString()
        != request.version)
        return QStringLiteral("a status message does not carry the request's version");
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

QByteArray storedAgain(const QString &folder, const QString &path)
{
    RMUserSettings(QString(), folder, nullptr).store();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QList<QByteArray> lines = file.readAll().split('\n');
    std::sort(lines.begin(), lines.end()); // the table has no order of its own
    return lines.join('\n');
}

// The contents of "Tessaly.cbin" as the store finds them: what it writes
// reads back as the same entries.
QString checkUserSettings(const QByteArray &input, const QString &scratchFolder)
{
    const QString path = userSettingsFilePath(scratchFolder, QString());
    QDir().mkpath(userSettingsFolder(scratchFolder, QString()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
        return QStringLiteral("cannot prepare %1").arg(path);
    file.close();
    const QByteArray first = storedAgain(scratchFolder, path);
    if (storedAgain(scratchFolder, path) != first)
        return QStringLiteral("the written settings do not read back as the same entries");
    QFile::remove(path);
    return QString();
}

} // namespace

const FuzzCheck fuzzChecks[5] = {
    { "fuzz_mailboxsegment", checkMailboxSegment }, { "fuzz_updaterequest", checkUpdateRequest },
    { "fuzz_packagepaths", checkPackagePaths },     { "fuzz_logfilenames", checkLogFileNames },
    { "fuzz_usersettings", checkUserSettings },
};
