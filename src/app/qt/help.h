#pragma once

#include <QObject>
#include <QUrl>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "platform/wake_event.h"

namespace tavren::app {

// Hands a page to the desktop's opener and, later, calls back with whether
// it opened: true or false.
using PageOpener = std::function<void(const QUrl& page, std::function<void(bool)> opened)>;

// Opens the program's help page in the desktop's browser through `open`.
// When there is no page to open, or (once `open` has called back) nothing
// could open it, says so on standard error and in a box captioned
// "Tavren3" naming the page. False when no page could be had.
bool OpenHelp(const PageOpener& open);

// The desktop's opener (xdg-open on Linux) waited for on a thread of its
// own: it may take its time (it may wait for the browser it starts), and
// the tray's event loop goes on meanwhile. The result comes back on the
// thread that made this object; none once it is gone, and its destructor
// waits for no opener.
class DesktopPageOpener final : public QObject {
public:
    DesktopPageOpener() = default;
    ~DesktopPageOpener() override;
    DesktopPageOpener(const DesktopPageOpener&) = delete;
    DesktopPageOpener& operator=(const DesktopPageOpener&) = delete;

    void Open(const QUrl& page, std::function<void(bool)> opened);

private:
    struct Wait {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    platform::WakeEvent stop_;
    std::list<Wait> waits_;
};

}  // namespace tavren::app
