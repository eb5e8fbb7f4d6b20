#pragma once

#include <QObject>

#include "engine/services.h"

namespace tavren::app {

// Shows the engine's message boxes on the GUI thread. A worker asking for a
// box blocks until the user presses OK; boxes of several entries stand side
// by side, each on its own, each opening a step away from those still open
// (box_cascade.h). When the program ends, waiting workers are let
// go (through the cancel event they pass) and open boxes simply vanish.
class GuiMessageSink final : public QObject, public engine::MessageSink {
    Q_OBJECT

public:
    // Lives on the GUI thread, the thread that creates it.
    GuiMessageSink();

    void ShowMessage(std::string_view text, const platform::WakeEvent& cancel) override;
    // The same box, but the worker does not wait for it.
    void ReportProblem(std::string_view text) override;

    // Emits statusChanged on the GUI thread; no box for a folder that goes
    // and comes back.
    void StatusChanged(const engine::WatchStatus& status) override;

    // Closes every open box as if OK had been pressed.
    void CloseAll();

signals:
    void statusChanged();
};

}  // namespace tavren::app
