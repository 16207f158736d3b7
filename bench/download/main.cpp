// bench-download URL FOLDER
//
// Fetches URL with AsyncDownloader into FOLDER/data/download/ under the last
// segment of the URL's path, the way the service fetches a package. Exits 0
// on downloaded(), 1 on failed() (the error text goes to standard error), 2
// on wrong arguments. Prints nothing else: the time it takes is what counts.

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include <cstdio>

#include "processsetup.h"
#include "update/asyncdownloader.h"

namespace {

// The downloader logs every progress report; writing them to a terminal
// would be timed along with the download.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
    prepareServiceProcess();
    QCoreApplication app(argc, argv);
    completeServiceProcess();
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench-download URL FOLDER\n");
        return 2;
    }
    const QUrl url(arguments.at(1));
    const QString fileName = QFileInfo(url.path()).fileName();
    if (!url.isValid() || fileName.isEmpty()) {
        std::fprintf(stderr, "bench-download: not a URL of a file: %s\n",
                     qPrintable(arguments.at(1)));
        return 2;
    }
    qInstallMessageHandler(quietMessages);

    AsyncDownloader downloader(arguments.at(2), QStringLiteral("download"));
    QObject::connect(&downloader, &AsyncDownloader::downloaded, &app, [&app] { app.exit(0); });
    QObject::connect(&downloader, &AsyncDownloader::failed, &app,
                     [&app](const QString &path, const QString &, const QString &error) {
                         std::fprintf(stderr, "bench-download: %s: %s\n", qPrintable(path),
                                      qPrintable(error));
                         app.exit(1);
                     });
    downloader.downloadFile(url, fileName, QStringLiteral("bench"), true);
    return app.exec();
}
