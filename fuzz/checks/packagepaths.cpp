#include "fuzzchecks.h"

#include "common/vovodo_global.h"
#include "update/packagepaths.h"

// The input is a package URL or path as it arrives in a request.
QString checkPackagePaths(const QByteArray &input, const QString &)
{
    const QString path = QString::fromUtf8(input);
    const QString extension = getFileExtension(path);
    const QString name = getFileName(path, true);

    if (name + extension != path)
        return QStringLiteral("name and extension do not make up the path");
    if (extension.isEmpty())
        return QString();
    if (name.isEmpty())
        return QStringLiteral("an extension was found at the start of the path");
    for (const QString &suffix : SupportedFileTypes) {
        if (extension.startsWith(suffix))
            return QString();
    }
    return QStringLiteral("the extension starts with no recognised suffix");
}
