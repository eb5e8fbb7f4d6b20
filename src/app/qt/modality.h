#pragma once

#include <QObject>

namespace tavren::app {

// Keeps the icon's menu within reach while boxes and dialogs are open. Qt
// makes every box and every dialog run with exec() modal to the whole
// program, which also shuts the notification-area icon out: no menu, so no
// 停止 and no 終了. Installed on the application, this makes each such
// window modal to its own parent window at most (a question of the list
// dialog still holds the list dialog), and a window without a parent not
// modal at all. exec() still waits for the window as before.
class ParentModality final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tavren::app
