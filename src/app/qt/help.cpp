#include "app/qt/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

#include "ui/qt/prompts.h"

namespace tavren::app {
namespace {

// Started from the icon's menu, the program has no terminal: standard error
// alone would leave the user wondering why nothing happened.
bool Fail(const QString& text) {
    std::fprintf(stderr, "tavren3: %s\n", qUtf8Printable(QString(text).replace(u'\n', u' ')));
    ui::ShowNotice(nullptr, text);
    return false;
}

}  // namespace

bool OpenHelp(const std::function<bool(const QUrl&)>& open) {
    // An installed copy first; else the page built into the program, put
    // where a browser can read it.
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/doc/tavren3/index.html"));
    QString page = QFile::exists(installed) ? installed : QString();
    if (page.isEmpty()) {
        QFile builtIn(QStringLiteral(":/help/index.html"));
        if (!builtIn.open(QIODevice::ReadOnly)) {
            return Fail(QStringLiteral("ヘルプ ページがこのプログラムに含まれていません。"));
        }
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help");
        QDir().mkpath(folder);
        page = folder + QStringLiteral("/index.html");
        QFile out(page);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(builtIn.readAll()) < 0 || !out.flush()) {
            return Fail(QStringLiteral("ヘルプ ページを %1 に書き出せません: %2")
                            .arg(QDir::toNativeSeparators(page), out.errorString()));
        }
    }
    page = QDir::cleanPath(QFileInfo(page).absoluteFilePath());
    const QUrl url = QUrl::fromLocalFile(page);
    if (!(open ? open(url) : QDesktopServices::openUrl(url))) {
        return Fail(QStringLiteral("ヘルプ ページを開けませんでした。ブラウザーで次のファイルを"
                                   "開いてください。\n%1")
                        .arg(QDir::toNativeSeparators(page)));
    }
    return true;
}

}  // namespace tavren::app
