#pragma once

#include <filesystem>
#include <memory>
#include <vector>

namespace tavren::platform {

// The notification sounds of the watch actions.
//
// Threading: any thread may call, and several workers may play at once;
// each call opens its own connection to the sound device, so they share
// nothing. Every call blocks its thread until the sound has played. Nothing
// is reported: with no sound device (or one that is busy or fails while
// playing) a call is silent and returns at once.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // A sine tone; returns when it has played.
    virtual void Beep(int frequencyHz, int durationMs) = 0;

    // Plays a WAV file and returns when it has finished. A file that is
    // missing or not a playable WAV is replaced by the desktop's alert sound
    // (FindAlertSound), or by an 800 Hz beep of 100 ms when there is none.
    virtual void PlayWave(const std::filesystem::path& file) = 0;
};

// The player of this platform, on the system's default sound device.
std::unique_ptr<SoundPlayer> MakeSoundPlayer();

// The alert sound of the desktop: the freedesktop sound theme's
// "dialog-warning", else its "bell", stored as WAV in
// <dir>/sounds/freedesktop/stereo/ of the first of `dataDirs` that has one
// that parses as playable. Empty when there is none. Most desktops ship
// these sounds as Ogg only, which we cannot decode, so the beep is the
// usual outcome. The player searches the XDG data folders (XDG_DATA_HOME,
// then XDG_DATA_DIRS) at each call, so a sound installed later is found.
std::filesystem::path FindAlertSound(const std::vector<std::filesystem::path>& dataDirs);

}  // namespace tavren::platform
