#include "fuzzchecks.h"

#include "ipc/tessalyipc.h"

// The input is a segment as a reader finds it in shared memory.
QString checkMailboxSegment(const QByteArray &input, const QString &)
{
    const QString message = decodeMailboxSegment(input);
    // A message that decodes must be the front of the segment, byte for
    // byte; anything after it is ignored. A segment too short to hold the
    // byte count reads as an empty message.
    if (input.size() < 4) {
        if (!message.isEmpty())
            return QStringLiteral("a segment without a byte count gave a message");
    } else if (!message.isNull() && !input.startsWith(encodeMailboxSegment(message))) {
        return QStringLiteral("decoded message is not the front of the segment");
    }

    // Whatever a writer puts in, a reader takes out unchanged. The input
    // read as UTF-16 gives texts no JSON encoder would make, lone
    // surrogates included.
    const QString text(reinterpret_cast<const QChar *>(input.constData()), input.size() / 2);
    const QByteArray written = encodeMailboxSegment(text);
    if (written.size() != 4 + 2 * text.size())
        return QStringLiteral("written segment has %1 bytes for %2 code units")
                .arg(written.size())
                .arg(text.size());
    if (decodeMailboxSegment(written) != text)
        return QStringLiteral("written message does not read back");
    return QString();
}
