#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QWidget;

namespace tavren::app {

// One tray program per user. The first instance listens on a local socket
// named after the instance name and the user, in a folder only the user can
// enter ($XDG_RUNTIME_DIR, else one in the user's cache); a later one
// connects, asks the first to bring its open window forward, and ends.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& instanceName);
    ~SingleInstance() override;

    // True when this process is now the one instance; false when another
    // runs (it has been asked to raise its window).
    bool Claim();

    // The socket's full path; empty when the user has no private folder for
    // it, and Claim() then lets every instance run.
    const QString& serverName() const { return serverName_; }

signals:
    // Another instance was started and asks this one to come forward.
    void raiseRequested();

private:
    bool AskRunningInstance();

    QString serverName_;
    std::unique_ptr<QLocalServer> server_;
};

// Un-minimizes `window` if the window manager minimized it.
void RestoreWindow(QWidget* window);

// Brings the program's active window (an open dialog or message box)
// to the front, if it has one.
void RaiseActiveWindow();

}  // namespace tavren::app
