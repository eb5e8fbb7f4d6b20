#include "app/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace tavren::app {

bool OpenHelp() {
    // An installed copy first; else the page built into the program, put
    // where a browser can read it.
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/doc/tavren3/index.html"));
    QString page = QFile::exists(installed) ? installed : QString();
    if (page.isEmpty()) {
        QFile builtIn(QStringLiteral(":/help/index.html"));
        if (!builtIn.open(QIODevice::ReadOnly)) return false;
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help");
        QDir().mkpath(folder);
        page = folder + QStringLiteral("/index.html");
        QFile out(page);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        out.write(builtIn.readAll());
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
}

}  // namespace tavren::app
