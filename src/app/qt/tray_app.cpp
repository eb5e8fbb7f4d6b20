#include "app/qt/tray_app.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSessionManager>
#include <atomic>
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
#include "platform/process.h"
#include "platform/signals.h"
#include "ui/qt/dir_list_dlg.h"
#include "ui/qt/history_dlg.h"

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

// What a second start, or 監視設定 while they are open, brings forward:
// the open settings, restored when minimized (watching waits for them), with
// the editor or a question over them on top, else the window last active.
void RaiseSettingsOrActiveWindow() {
    QDialog* list = SettingsDialog();
    if (!list) return RaiseActiveWindow();
    QWidget* front = list;
    RestoreWindow(list);
    for (QDialog* above : list->findChildren<QDialog*>()) {
        if (!above->isVisible()) continue;
        RestoreWindow(above);
        front = above;  // the deepest one open
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

// Closes the watch settings without their question and without saving,
// and first whatever they have open above them, each as if cancelled.
void DiscardSettingsDialog() {
    QDialog* list = SettingsDialog();
    if (!list) return;
    QList<QDialog*> above = list->findChildren<QDialog*>();
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        if ((*it)->isVisible()) (*it)->done(QDialog::Rejected);
    }
    list->done(QDialog::Rejected);
}

// Qt ends the program with exit() when its X connection breaks (the X
// server went with the session). The engine is shut down on that way out
// too, so that the next start does not take it for a crash. Only the GUI
// thread, which owns the engine, calls exit().
class ShutdownAtExit {
public:
    explicit ShutdownAtExit(engine::CTavrenDoc& doc) {
        static const bool registered = std::atexit(&AtExit) == 0;
        if (registered) doc_ = &doc;
    }
    ~ShutdownAtExit() { doc_ = nullptr; }
    ShutdownAtExit(const ShutdownAtExit&) = delete;
    ShutdownAtExit& operator=(const ShutdownAtExit&) = delete;

private:
    static void AtExit() {
        engine::CTavrenDoc* doc = doc_.exchange(nullptr);
        if (doc && !doc->Shutdown(std::chrono::milliseconds(1000))) {
            // A worker still busy must not meet the static destructors.
            std::fflush(nullptr);
            std::_Exit(EXIT_FAILURE);
        }
    }
    static inline std::atomic<engine::CTavrenDoc*> doc_{nullptr};
};

}  // namespace

int RunTray(int& argc, char** argv, const store::DataFolder& data) {
    platform::ControlSignals controlSignals;  // before Qt starts any thread
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
    const ShutdownAtExit shutdownAtExit(doc);

    TrayCommands commands;
    TrayState state;
    BindEngineCommands(
        commands, doc, state, data, [&] { ui::RunWatchSettingsDialog(data, nullptr); },
        &RaiseSettingsOrActiveWindow);
    DesktopPageOpener pageOpener;
    commands.helpTopics = [&pageOpener] {
        OpenHelp([&](const QUrl& page, std::function<void(bool)> opened) {
            pageOpener.Open(page, std::move(opened));
        });
    };
    commands.about = [] {
        CAboutDlg box;
        box.exec();
    };
    // One history window, made when first asked for; asked again, it comes
    // forward as it is.
    const std::unique_ptr<platform::ProcessLauncher> launcher = platform::MakeProcessLauncher();
    std::unique_ptr<ui::CHistoryDlg> history;
    commands.history = [&] {
        if (!history) history = std::make_unique<ui::CHistoryDlg>(data, *launcher);
        history->show();
        RestoreWindow(history.get());
        history->raise();
        history->activateWindow();
    };
    const auto leave = [&] {
        state.quitting = true;
        // The engine's exit first, without waiting: a worker whose box is
        // closed below takes it as cut short (its file is still owed to the
        // next start), not as the user's OK, and starts nothing more.
        doc.Shutdown(std::chrono::milliseconds(0));
        sink.CloseAll();
        // Every dialog and box still open ends with its event loop.
        QCoreApplication::exit(0);
    };
    commands.quit = [&, leave] {
        // The settings dialog goes first: it asks whether unsaved changes may
        // be lost, and いいえ keeps it, and the program, as they were.
        if (state.settingsOpen && !CloseSettingsDialog()) return;
        leave();
    };
    commands.end = [&, leave] {
        if (state.quitting) return;  // a second request while ending
        if (state.settingsOpen) DiscardSettingsDialog();
        leave();
    };
    CMainFrame frame(commands);
    QObject::connect(&sink, &GuiMessageSink::statusChanged, &frame, &CMainFrame::UpdateStatus);
    if (!frame.ShowIcon()) {
        std::fputs(
            "tavren3: 通知領域がまだありません。できしだいアイコンを表示します。"
            "監視は続けます。\n",
            stderr);
    }

    // The session manager's logout. Nothing may be asked now, and the
    // program is not to leave within the signal: the engine stops here, so
    // that a session that kills the program next leaves no mark of a crash,
    // and the event loop ends once Qt has answered the manager. The program
    // starts with the desktop, not again from a restored session.
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &frame,
        [&](QSessionManager& manager) {
            manager.setRestartHint(QSessionManager::RestartNever);
            commands.end();
        },
        Qt::DirectConnection);
    QObject::connect(
        &app, &QGuiApplication::saveStateRequest, &frame,
        [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); },
        Qt::DirectConnection);

    // SIGHUP: the command line changed the settings; SIGINT, SIGTERM: end.
    // Posted to the frame, so that none runs once it is gone.
    const SignalWaiter signalWaiter(controlSignals, [&](platform::ControlSignal signal) {
        QMetaObject::invokeMethod(
            &frame,
            [&commands, signal] {
                if (signal == platform::ControlSignal::Reload) {
                    commands.reload();
                } else {
                    commands.end();
                }
            },
            Qt::QueuedConnection);
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
