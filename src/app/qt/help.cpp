#include "app/qt/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

#include "platform/path_text.h"
#include "platform/process.h"
#include "ui/qt/prompts.h"
#include "ui/qt/qt_text.h"
#include "ui/rules/dialog_texts.h"

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

bool OpenHelp(const PageOpener& open) {
    // An installed copy first; else the page built into the program, put
    // where a browser can read it.
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/doc/tavren3/index.html"));
    QString page = QFile::exists(installed) ? installed : QString();
    if (page.isEmpty()) {
        QFile builtIn(QStringLiteral(":/help/index.html"));
        if (!builtIn.open(QIODevice::ReadOnly)) return Fail(ui::Q(rules::text::kHelpMissing));
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                               QStringLiteral("/help");
        QDir().mkpath(folder);
        page = folder + QStringLiteral("/index.html");
        QFile out(page);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(builtIn.readAll()) < 0 || !out.flush()) {
            return Fail(ui::Q(rules::text::kHelpNotWritten)
                            .arg(QDir::toNativeSeparators(page), out.errorString()));
        }
    }
    page = QDir::cleanPath(QFileInfo(page).absoluteFilePath());
    open(QUrl::fromLocalFile(page), [page](bool opened) {
        if (!opened) Fail(ui::Q(rules::text::kHelpNotOpened) + QDir::toNativeSeparators(page));
    });
    return true;
}

DesktopPageOpener::~DesktopPageOpener() {
    stop_.Set();
    for (Wait& wait : waits_) wait.thread.join();
}

void DesktopPageOpener::Open(const QUrl& page, std::function<void(bool)> opened) {
    std::erase_if(waits_, [](Wait& wait) {
        if (!*wait.done) return false;
        wait.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    const std::filesystem::path path = platform::PathFromUtf8(page.toLocalFile().toStdString());
    std::thread thread([this, path, done, opened = std::move(opened)] {
        const bool ok = platform::OpenPageAndWait(path, stop_);
        // Posted to this object: dropped if it is gone by then.
        if (!stop_.IsSet()) {
            QMetaObject::invokeMethod(
                this, [opened, ok] { opened(ok); }, Qt::QueuedConnection);
        }
        *done = true;
    });
    waits_.push_back({std::move(thread), std::move(done)});
}

}  // namespace tavren::app
