#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <mmsystem.h>

#include "platform/sound.h"

namespace tavren::platform {
namespace {

// The system's own calls. Both block until the sound has played and both
// return at once, silently, when there is no sound device.
class Win32SoundPlayer final : public SoundPlayer {
public:
    void Beep(int frequencyHz, int durationMs) override {
        // The frequency range that Beep accepts.
        if (frequencyHz < 37 || frequencyHz > 32767 || durationMs <= 0) return;
        ::Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs));
    }

    void PlayWave(const std::filesystem::path& file) override {
        // No flags but SND_SYNC (which is 0): the name is tried as a sound
        // alias, then as a file, and when neither is found the system's
        // default sound plays instead; that is the desktop's alert sound.
        ::PlaySoundW(file.c_str(), nullptr, SND_SYNC);
    }
};

}  // namespace

std::unique_ptr<SoundPlayer> MakeSoundPlayer() {
    return std::make_unique<Win32SoundPlayer>();
}

}  // namespace tavren::platform
