#include "app/qt/tray_app.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/command_args.h"
#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/gui_message_sink.h"
#include "app/qt/help.h"
#include "app/qt/main_frame.h"
#include "app/qt/modality.h"
#include "app/qt/single_instance.h"
#include "app/qt/translations.h"
#include "engine/system_services.h"
#include "engine/tavren_doc.h"
#include "platform/env.h"
#include "platform/reload_request.h"
#include "ui/qt/dir_list_dlg.h"

namespace tavren::app {

bool HasDisplay() {
    return platform::GetEnv("DISPLAY") || platform::GetEnv("WAYLAND_DISPLAY") ||
           platform::GetEnv("QT_QPA_PLATFORM");
}

namespace {

// The watch settings dialog while it is open, else nothing.
QDialog* SettingsDialog() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* list = qobject_cast<QDialog*>(w);
        if (list && list->objectName() == QLatin1String("dialog132") && list->isVisible())
            return list;
    }
    return nullptr;
}

// What a second start brings forward: the open settings (the editor or a
// question over them, where one is open), else the window last active.
void RaiseSettingsOrActiveWindow() {
    QDialog* list = SettingsDialog();
    if (!list) return RaiseActiveWindow();
    QWidget* front = list;
    for (QDialog* above : list->findChildren<QDialog*>()) {
        if (above->isVisible()) front = above;  // the deepest one open
    }
    front->raise();
    front->activateWindow();
}

// Closes the watch settings dialog, and first whatever it has open above it
// (the editor, a question); false when it stays open because the user
// would rather keep its unsaved changes.
bool CloseSettingsDialog() {
    QDialog* list = SettingsDialog();
    if (!list) return true;
    // Deepest first: a question of the editor before the editor.
    QList<QDialog*> above = list->findChildren<QDialog*>();
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        if ((*it)->isVisible()) (*it)->reject();
    }
    list->reject();
    return !list->isVisible();
}

}  // namespace

int RunTray(int& argc, char** argv, const store::DataFolder& data) {
    platform::ReloadRequests reloadRequests;  // before Qt starts any thread
    QApplication app(argc, argv);
    LoadQtTranslations();
    QApplication::setOrganizationName(QStringLiteral("QUORVALE"));
    QApplication::setApplicationName(QStringLiteral("Tavren3"));
    QApplication::setQuitOnLastWindowClosed(false);  // closing a dialog must not end the program
    QApplication::setWindowIcon(AppIcon());
    ParentModality parentModality;  // the icon's menu stays within reach
    app.installEventFilter(&parentModality);

    // The instance name is the program file's name without its extension.
    SingleInstance instance(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    if (!instance.Claim()) return 0;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &RaiseSettingsOrActiveWindow);
    const DataFolderLock lock = LockDataFolder(data);
    if (!lock.busy.empty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Tavren3"), QString::fromStdString(lock.busy));
        return 1;
    }

    const engine::SystemServices system;
    GuiMessageSink sink;
    engine::CTavrenDoc doc(data, system.services(sink));

    TrayCommands commands;
    TrayState state;
    BindEngineCommands(
        commands, doc, state, data, [&] { ui::RunWatchSettingsDialog(data, nullptr); },
        [] { RaiseActiveWindow(); });
    commands.helpTopics = [] { OpenHelp(); };
    commands.about = [] {
        CAboutDlg box;
        box.exec();
    };
    commands.quit = [&] {
        // The settings dialog goes first: it asks whether unsaved changes may
        // be lost, and いいえ keeps it, and the program, as they were.
        if (state.settingsOpen && !CloseSettingsDialog()) return;
        state.quitting = true;
        doc.StopWatching();
        sink.CloseAll();
        // Every dialog and box still open ends with its event loop.
        QCoreApplication::exit(0);
    };
    CMainFrame frame(commands);
    QObject::connect(&sink, &GuiMessageSink::statusChanged, &frame, &CMainFrame::UpdateStatus);
    if (!frame.ShowIcon()) {
        std::fputs(
            "tavren3: 通知領域がまだありません。できしだいアイコンを表示します。"
            "監視は続けます。\n",
            stderr);
    }

    // The command line changed the settings (SIGHUP).
    const ReloadWaiter reloadWaiter(reloadRequests, [&] {
        QMetaObject::invokeMethod(
            &app, [&] { commands.reload(); }, Qt::QueuedConnection);
    });

    const int status = QApplication::exec();
    // Workers waiting on a box or a program are let go; one that is playing
    // a sound cannot be, and is not worth waiting for.
    if (!doc.Shutdown(std::chrono::milliseconds(1000))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace tavren::app
