#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "app/tray_commands.h"
#include "engine/services.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tavren::app {


// The program's presence on the desktop: the icon in the notification area
// with the tip "フォルダ監視" (and how many entries are watched, naming each
// that is not watched as it should be) and its pop-up menu. The icon is
// greyed while watching is stopped. Releasing the right button
// over the icon opens the menu; other clicks do nothing. Start and Stop are
// enabled by the engine's state each time the menu opens. Each menu item's
// objectName is "action" followed by its command id.
class CMainFrame final : public QObject {
    Q_OBJECT

public:
    explicit CMainFrame(TrayCommands commands, QObject* parent = nullptr);
    ~CMainFrame() override;

    // Puts the icon into the notification area. False when the desktop has
    // none yet: the icon then appears as soon as one does (at login the
    // panel often starts after the programs started with the desktop).
    bool ShowIcon();

    // Refreshes the enabled state of Start and Stop.
    void UpdateMenu();

    // Refreshes the icon (one picture while watching runs, a greyed one
    // while it is stopped) and its tip from the engine's statuses; called
    // after every command and whenever an entry's folder goes or comes back.
    void UpdateStatus();

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

private:
    QAction* AddCommand(int id, const QString& text, const std::function<void()>& handler);

    TrayCommands commands_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    int shownRunning_ = -1;  // the state the icon shows: 1 running, 0 stopped
};

}  // namespace tavren::app
