#include "fuzzchecks.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "update/updatemessages.h"

namespace {

QString versionIn(const QString &statusMessage)
{
    return QJsonDocument::fromJson(statusMessage.toUtf8())
            .object()
            .value(QStringLiteral("version"))
            .toString();
}

} // namespace

// The input is any text the main application might leave in the mailbox.
QString checkUpdateRequest(const QByteArray &input, const QString &)
{
    const QString text = QString::fromUtf8(input);
    const UpdateRequest request = decodeUpdateRequest(text);

    if (request.form != UpdateRequest::Form::Object) {
        if (request.action != INVALID || !request.version.isEmpty()
            || !request.buildRelease.isEmpty())
            return QStringLiteral("a request that is no JSON object carries values");
        return QString();
    }

    // JSON escapes can make lone surrogates, which no UTF-8 text carries;
    // they cannot come back through any JSON writer.
    if (!request.version.isValidUtf16() || !request.buildRelease.isValidUtf16())
        return QString();

    const UpdateRequest again = decodeUpdateRequest(
            encodeUpdateRequest(request.action, request.version, request.buildRelease));
    if (again.form != UpdateRequest::Form::Object || again.action != request.action
        || again.version != request.version || again.buildRelease != request.buildRelease)
        return QStringLiteral("a decoded request does not survive encoding");

    // The answers carry the version from the request back unchanged,
    // whatever placeholders or quotes it holds.
    const QString errorText = request.buildRelease;
    if (versionIn(installedMessage(request.action, request.version)) != request.version
        || versionIn(installFailedMessage(request.action, request.version, errorText))
                != request.version
        || versionIn(downloadFailedMessage(request.action, request.version, errorText))
                != request.version)
        return QStringLiteral("a status message does not carry the request's version");
    return QString();
}
