#include "packagepaths.h"

#include "common/vovodo_global.h"

namespace {

// A suffix found only at position 0 does not count, even if it occurs again
// further on: the first occurrence decides.
int packageExtensionPosition(const QString &path)
{
    for (const QString &suffix : SupportedFileTypes) {
        const int position = path.indexOf(suffix, 0, Qt::CaseSensitive);
        if (position > 0)
            return position;
    }
    return -1;
}

} // namespace

QString getFileExtension(const QString &path)
{
    const int position = packageExtensionPosition(path);
    return position > 0 ? path.mid(position) : QString(QLatin1String(""));
}

QString getFileName(const QString &path, bool keepFolders)
{
    Q_UNUSED(keepFolders)
    const int position = packageExtensionPosition(path);
    return position > 0 ? path.left(position) : path;
}
