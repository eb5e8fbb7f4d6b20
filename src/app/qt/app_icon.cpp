#include "app/qt/app_icon.h"

#include <QFile>

namespace tavren::app {

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/icons/tavren3-%1.png").arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("tavren3"), QIcon::fromTheme(QStringLiteral("folder")));
    return icon;
}

QIcon StoppedIcon() {
    const QIcon running = AppIcon();
    QIcon stopped;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        stopped.addPixmap(running.pixmap(QSize(size, size), QIcon::Disabled));
    }
    return stopped;
}

}  // namespace tavren::app
