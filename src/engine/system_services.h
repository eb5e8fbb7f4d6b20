#pragma once

#include <memory>

#include "engine/services.h"

namespace tavren::engine {

// The system's services for the engine of the running program: clock,
// change notifications, programs, moves and sounds, made once and kept for
// as long as the engine that uses them. Only the messages differ between
// the tray program and the headless runner.
class SystemServices {
public:
    SystemServices();
    ~SystemServices();
    SystemServices(const SystemServices&) = delete;
    SystemServices& operator=(const SystemServices&) = delete;

    // The services, with the engine's messages going to `messages`.
    Services services(MessageSink& messages) const;

private:
    std::unique_ptr<platform::Clock> clock_;
    std::unique_ptr<platform::ChangeWatcher> changes_;
    std::unique_ptr<platform::ProcessLauncher> launcher_;
    std::unique_ptr<platform::FileMover> mover_;
    std::unique_ptr<platform::SoundPlayer> sound_;
};

}  // namespace tavren::engine
