#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/services.h"

namespace tavren::app::win32 {

// Shows the engine's messages as warning boxes captioned "Tavren3", each on
// the thread that asks: a worker waits for its own box while the icon's
// menu, the dialogs and the other boxes stay usable. Boxes close as if OK
// had been pressed when the asking worker is cancelled or CloseAll() runs.
// Each box opens a step away from those still open (box_cascade.h).
class BoxMessageSink final : public engine::MessageSink {
public:
    // `statusChanged` is called on the worker's thread; it must not wait.
    explicit BoxMessageSink(std::function<void()> statusChanged = {});
    ~BoxMessageSink() override;  // closes every box and waits for their threads
    BoxMessageSink(const BoxMessageSink&) = delete;
    BoxMessageSink& operator=(const BoxMessageSink&) = delete;

    void ShowMessage(std::string_view text, const platform::WakeEvent& cancel) override;
    // The same box on a thread of its own: the worker goes on at once.
    void ReportProblem(std::string_view text) override;
    void StatusChanged(const engine::WatchStatus& status) override;

    // Closes every open box, and every box asked for from now on at once.
    void CloseAll();

    // Whether boxes are to close now (for the boxes' own timers).
    bool closing() const;

private:
    void ShowBox(std::string_view text, const platform::WakeEvent* cancel);

    std::function<void()> statusChanged_;
    mutable std::mutex mutex_;
    bool closing_ = false;
    std::multiset<unsigned long> boxThreads_;  // threads showing a box now
    std::set<int> places_;                     // where open boxes stand (box_cascade.h)
    std::vector<std::thread> reports_;
};

}  // namespace tavren::app::win32
