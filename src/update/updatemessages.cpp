#include "updatemessages.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString actionKey = QStringLiteral("action");
const QString commandKey = QStringLiteral("command");
const QString messageKey = QStringLiteral("message");
const QString versionKey = QStringLiteral("version");
const QString buildReleaseKey = QStringLiteral("build_release");

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString statusMessage(int action, UpdateCommands command, const QString &message,
                      const QString &version)
{
    QJsonObject object;
    object.insert(actionKey, action);
    object.insert(commandKey, int(command));
    object.insert(messageKey, message);
    object.insert(versionKey, version);
    return compact(object);
}

} // namespace

UpdateRequest decodeUpdateRequest(const QString &text)
{
    UpdateRequest request;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    QJsonObject object;
    if (document.isNull())
        request.form = UpdateRequest::Form::NotJson;
    else if (!document.isObject())
        request.form = UpdateRequest::Form::NotObject;
    else
        object = document.object();

    request.action = object.value(actionKey).toInt(INVALID);
    request.version = object.value(versionKey).toString();
    request.buildRelease = object.value(buildReleaseKey).toString();
    return request;
}

QString encodeUpdateRequest(int action, const QString &version, const QString &buildRelease)
{
    QJsonObject object;
    object.insert(actionKey, action);
    object.insert(versionKey, version);
    object.insert(buildReleaseKey, buildRelease);
    return compact(object);
}

QString downloadStartedMessage()
{
    QJsonObject object;
    object.insert(commandKey, int(DOWNLOAD_STARTED));
    object.insert(messageKey, QStringLiteral("Downloading new version, please wait"));
    return compact(object);
}

QString downloadFailedMessage(int action, const QString &version, const QString &errorText)
{
    // Both placeholders in one pass: a "%2" inside the version stays literal.
    const QString text =
            QStringLiteral("Version \"%1\" download failed, with error \"%2\" please retry again.")
                    .arg(version, errorText);
    return statusMessage(action, DOWNLOAD_ERROR, text, version);
}

QString installedMessage(int action, const QString &version)
{
    const QString text =
            QStringLiteral("New version \"%1\" is ready, please reboot to install.").arg(version);
    return statusMessage(action, UPDATE_INSTALLED, text, version);
}

QString installFailedMessage(int action, const QString &version, const QString &errorText)
{
    const QString text =
            QStringLiteral("New version \"%1\" failed to download or extract, with error %2")
                    .arg(version, errorText);
    return statusMessage(action, DOWNLOAD_ERROR, text, version);
}

QString progressMessage(PercentageTags tag, qint64 done, qint64 total)
{
    QJsonObject object;
    object.insert(commandKey, int(tag));
    object.insert(messageKey, double(done) / double(total));
    return compact(object);
}
