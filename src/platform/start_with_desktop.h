#pragma once

#include <string>
#include <vector>

namespace tavren::platform {

// The user's choice to start the program with the desktop session (on
// Windows: at logon), and the entry that carries it out: an XDG autostart
// entry on Linux, a shortcut in the Startup folder on Windows.
class StartSetting {
public:
    virtual ~StartSetting() = default;

    // The stored choice; 0 when none is stored. Other values than 0 and 1
    // are returned as they are stored.
    virtual int Read() = 0;

    // Stores `enabled` (0 or 1) first, then creates the entry for the
    // running program and the start arguments, or deletes it. Failures are
    // silent: the choice stays stored and the caller carries on as usual.
    virtual void Apply(int enabled) = 0;
};

// The arguments the entry passes to the program, so that the session starts
// it as this run was started ("--data-dir DIR" when this run was given its
// data folder). None until set; set once at start-up, before any dialog.
void SetStartArguments(std::vector<std::string> arguments);
const std::vector<std::string>& StartArguments();

// The system's setting, for the whole process.
StartSetting& SystemStartSetting();

}  // namespace tavren::platform
