#include "app/qt/main_frame.h"

#include <QMenu>
#include <QStringList>
#include <algorithm>
#include <QSystemTrayIcon>

#include "app/qt/app_icon.h"

namespace tavren::app {

CMainFrame::CMainFrame(FrameCommands commands, QObject* parent)
    : QObject(parent),
      commands_(std::move(commands)),
      menu_(std::make_unique<QMenu>(QStringLiteral("ポップアップ"))),
      tray_(std::make_unique<QSystemTrayIcon>(AppIcon())) {
    setObjectName(QStringLiteral("mainFrame"));
    menu_->setObjectName(QStringLiteral("menu131"));
    start_ = AddCommand(32771, QStringLiteral("開始(&S)"), commands_.start);
    stop_ = AddCommand(32772, QStringLiteral("停止(&T)"), commands_.stop);
    menu_->addSeparator();
    AddCommand(32773, QStringLiteral("監視設定(&U)..."), commands_.watchSettings);
    menu_->addSeparator();
    AddCommand(57667, QStringLiteral("トピックスの検索(&H)"), commands_.helpTopics);
    AddCommand(57664, QStringLiteral("バージョン情報(&A)..."), commands_.about);
    menu_->addSeparator();
    AddCommand(32774, QStringLiteral("終了(&X)"), commands_.quit);
    connect(menu_.get(), &QMenu::aboutToShow, this, &CMainFrame::UpdateMenu);

    UpdateStatus();
    // The menu opens on the right button only; QSystemTrayIcon::activated
    // (left click, double click) is deliberately left unconnected.
    tray_->setContextMenu(menu_.get());
    UpdateMenu();
}

CMainFrame::~CMainFrame() {
    tray_->hide();  // take the icon out of the notification area
}

QAction* CMainFrame::AddCommand(int id, const QString& text,
                                const std::function<void()>& handler) {
    QAction* action = menu_->addAction(text);
    action->setObjectName(QStringLiteral("action%1").arg(id));
    action->setData(id);
    // Queued, so that the command runs after the menu has closed.
    connect(
        action, &QAction::triggered, this,
        [this, handler] {
            if (handler) handler();
            UpdateStatus();
        },
        Qt::QueuedConnection);
    return action;
}

bool CMainFrame::ShowIcon() {
    // Shown even without a notification area: Qt puts the icon there as
    // soon as one appears.
    tray_->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CMainFrame::UpdateStatus() {
    const bool running = commands_.watchRunning && commands_.watchRunning();
    if (shownRunning_ != static_cast<int>(running)) {
        shownRunning_ = running;
        tray_->setIcon(running ? AppIcon() : StoppedIcon());
    }
    tray_->setToolTip(
        StatusTip(running, commands_.statuses ? commands_.statuses()
                                              : std::vector<engine::WatchStatus>{}));
}

QString StatusTip(bool running, const std::vector<engine::WatchStatus>& statuses) {
    QString tip = QStringLiteral("フォルダ監視");
    if (statuses.empty()) return tip;
    if (!running) return tip + QStringLiteral("\n停止中");
    int watching = 0;
    QStringList others;
    for (const engine::WatchStatus& s : statuses) {
        const QString title = QString::fromStdString(s.title);
        switch (s.mode) {
            case engine::WatchMode::Notified:
                ++watching;
                break;
            case engine::WatchMode::Polled:
                ++watching;
                others << QStringLiteral("一定間隔で監視: %1").arg(title);
                break;
            case engine::WatchMode::Waiting:
                others << QStringLiteral("フォルダ待ち: %1 (%2)")
                              .arg(title, QString::fromStdString(s.reason));
                break;
            case engine::WatchMode::None:
                others << QStringLiteral("監視できません: %1").arg(title);
                break;
        }
    }
    tip += QStringLiteral("\n%1 / %2 件を監視中").arg(watching).arg(statuses.size());
    // Tips are short on most desktops: the first few, then a count.
    constexpr qsizetype kShown = 5;
    for (qsizetype i = 0; i < std::min(kShown, others.size()); ++i) tip += u'\n' + others[i];
    if (others.size() > kShown)
        tip += QStringLiteral("\nほか %1 件").arg(others.size() - kShown);
    return tip;
}

void CMainFrame::UpdateMenu() {
    const bool running = commands_.watchRunning && commands_.watchRunning();
    start_->setEnabled(!running);
    stop_->setEnabled(running);
}

}  // namespace tavren::app
