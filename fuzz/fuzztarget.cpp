// The libFuzzer targets: each checks rules of the code under test on its
// input, not only that it does not crash, and aborts when one breaks.
// FUZZ_TARGET names the target, FUZZ_CHECK its rules (the others go unused);
// scripts/fuzz builds and runs them all.

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFile>

#include "common/vovodo_global.h"
#include "ipc/tessalyipc.h"
#include "logging/logfilenames.h"
#include "shared/rmusersettings.h"
#include "update/packagepaths.h"
#include "update/updatemessages.h"

namespace {

QString broken(bool held, const char *rule) { return held ? QString() : QString::fromLatin1(rule); }

// A segment as a reader finds it decodes to its own front; any text (lone
// surrogates included) written into one reads back unchanged.
[[maybe_unused]] QString checkMailboxSegment(const QByteArray &input, const QString &)
{
    const QString message = decodeMailboxSegment(input);
    const QString text(reinterpret_cast<const QChar *>(input.constData()), input.size() / 2);
    return broken((input.size() < 4 || message.isNull()
                   || input.startsWith(encodeMailboxSegment(message)))
                          && decodeMailboxSegment(encodeMailboxSegment(text)) == text,
                  "a segment does not read as it was written");
}

// Any text in the request mailbox: what is no JSON object carries nothing; a
// request survives encoding (but for lone surrogates, which no writer keeps).
[[maybe_unused]] QString checkUpdateRequest(const QByteArray &input, const QString &)
{
    const UpdateRequest r = decodeUpdateRequest(QString::fromUtf8(input));
    const UpdateRequest again =
            decodeUpdateRequest(encodeUpdateRequest(r.action, r.version, r.buildRelease));
    if (r.form != UpdateRequest::Form::Object)
        return broken(r.action == INVALID && r.version.isEmpty() && r.buildRelease.isEmpty(),
                      "a request that is no JSON object carries values");
    return broken(!r.version.isValidUtf16() || !r.buildRelease.isValidUtf16()
                          || (again.action == r.action && again.version == r.version
                              && again.buildRelease == r.buildRelease),
                  "a request does not survive encoding");
}

// A package URL or path is its name and its extension, which starts with a
// recognised suffix and never at the start.
[[maybe_unused]] QString checkPackagePaths(const QByteArray &input, const QString &)
{
    const QString path = QString::fromUtf8(input), extension = getFileExtension(path);
    bool known = extension.isEmpty();
    for (const QString &suffix : SupportedFileTypes)
        known = known || (extension.startsWith(suffix) && extension != path);
    return broken(getFileName(path, true) + extension == path && known,
                  "name and extension do not make up the path");
}

// Any name in the logs folder is 0 days old without a date, else its age in
// calendar days.
[[maybe_unused]] QString checkLogFileNames(const QByteArray &input, const QString &)
{
    const QString name = QString::fromUtf8(input);
    const QDateTime now(QDate(2026, 3, 14), QTime(12, 0), Qt::LocalTime);
    const QDateTime date = logFileNameDate(name);
    return broken(logFileAgeInDays(name, now) == (date.isValid() ? date.daysTo(now) : 0),
                  "a name's age is not its calendar days");
}

// "Tessaly.cbin" as the store finds it: what the store writes, it reads back
// as the same entries, in any order (the table has none).
[[maybe_unused]] QString checkUserSettings(const QByteArray &input, const QString &folder)
{
    const QString path = userSettingsFilePath(folder, QString());
    QByteArray stored[3] = { input };
    for (int round = 1; round < 3; ++round) {
        QDir().mkpath(userSettingsFolder(folder, QString()));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(stored[round - 1]);
        file.close();
        RMUserSettings(QString(), folder, nullptr).store();
        file.open(QIODevice::ReadOnly);
        QList<QByteArray> lines = file.readAll().split('\n');
        std::sort(lines.begin(), lines.end());
        stored[round] = lines.join('\n');
    }
    return broken(stored[1] == stored[2], "the written settings do not read back the same");
}

QTemporaryDir *scratch = nullptr; // under the caller's TMPDIR, for the whole run

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The code under test logs on most paths; the fuzzer's output stays readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    scratch = new QTemporaryDir;
    return scratch->isValid() ? 0 : (std::abort(), 0);
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QString broken = FUZZ_CHECK(QByteArray(reinterpret_cast<const char *>(data), int(size)),
                                      scratch->path());
    if (!broken.isEmpty()) {
        std::fprintf(stderr, "%s: rule broken: %s\n", FUZZ_TARGET, qPrintable(broken));
        std::abort();
    }
    return 0;
}
