#ifndef UPDATEMESSAGES_H
#define UPDATEMESSAGES_H

// The JSON texts exchanged with the main application through the mailboxes.
// Status and progress messages are written in compact form (sorted keys, no
// white space); requests are read leniently.

#include <QString>
#include <QtGlobal>

#include "common/vovodo_global.h"

struct UpdateRequest
{
    enum class Form {
        Object, // a JSON object, read normally
        NotJson, // the text did not parse; read as an empty object
        NotObject, // valid JSON but not an object; read as an empty object
    };

    Form form = Form::Object;
    int action = INVALID;
    QString version;
    QString buildRelease;
};

// A missing or mistyped key reads as 0 or empty text; a fractional action as 0.
UpdateRequest decodeUpdateRequest(const QString &text);

// Builds a request as the main application would send it.
QString encodeUpdateRequest(int action, const QString &version, const QString &buildRelease);

QString downloadStartedMessage();
QString downloadFailedMessage(int action, const QString &version, const QString &errorText);
QString installedMessage(int action, const QString &version);
QString installFailedMessage(int action, const QString &version, const QString &errorText);

// The quotient done / total in double precision: 1 when complete, JSON null
// for a total of 0, negative for an unknown total (-1).
QString progressMessage(PercentageTags tag, qint64 done, qint64 total);

#endif // UPDATEMESSAGES_H
