#ifndef PACKAGEPATHS_H
#define PACKAGEPATHS_H

#include <QString>

// The package extension of a path: from the first occurrence of the first
// recognised suffix (in SupportedFileTypes order) that lies past position 0,
// to the end of the text; empty when there is none. The whole text is
// searched, so "http://h/app.tar.gz?x=1" gives ".tar.gz?x=1".
QString getFileExtension(const QString &path);

// The path cut before that same position, or unchanged when there is none.
// keepFolders is accepted for the callers' sake; every caller passes true and
// the folders are always kept.
QString getFileName(const QString &path, bool keepFolders);

#endif // PACKAGEPATHS_H
