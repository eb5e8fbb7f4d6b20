#include <alsa/asoundlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/sound.h"
#include "platform/wav.h"

namespace tavren::platform {
namespace {

constexpr unsigned kToneRate = 48000;
// Long enough to ride out a busy system, short enough that a beep starts promptly.
constexpr unsigned kLatencyUs = 100000;
// Larger files play their first 64 MiB (over six minutes of CD audio).
constexpr std::size_t kMaxWavBytes = std::size_t{64} << 20;
// Stands in for a WAV file when the desktop has no alert sound we can play.
constexpr Tone kFallbackTone{800, 100, kToneRate};

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Null when there is no usable device, which is normal on servers and in CI.
Pcm OpenDevice() {
    // alsa-lib prints each failed open to stderr. The handler is a process
    // global, so it is set once, before any device is opened.
    static const bool silenced = [] {
        snd_lib_error_set_handler(&IgnoreAlsaError);
        return true;
    }();
    (void)silenced;

    snd_pcm_t* raw = nullptr;
    // A blocking open waits for a hardware device that another program
    // holds; open without blocking so that we fail instead, then write
    // with blocking calls.
    if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return {};
    Pcm pcm(raw);
    if (snd_pcm_nonblock(pcm.get(), 0) < 0) return {};
    return pcm;
}

bool Configure(snd_pcm_t* pcm, snd_pcm_format_t format, unsigned channels, unsigned rate) {
    return snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                              1 /* let alsa-lib resample */, kLatencyUs) == 0;
}

// False when the device failed beyond recovery.
bool WriteFrames(snd_pcm_t* pcm, const void* data, std::size_t frames, std::size_t frameBytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    int failures = 0;
    while (frames > 0) {
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, frames);
        if (n > 0) {
            p += static_cast<std::size_t>(n) * frameBytes;
            frames -= static_cast<std::size_t>(n);
            failures = 0;
            continue;
        }
        // An underrun (-EPIPE) or a suspend is recovered; a device that keeps
        // failing ends the sound rather than the worker.
        if (++failures > 8) return false;
        if (n < 0 && snd_pcm_recover(pcm, static_cast<int>(n), 1 /* silent */) < 0) return false;
    }
    return true;
}

void PlayTone(snd_pcm_t* pcm, const Tone& tone) {
    if (!Configure(pcm, SND_PCM_FORMAT_S16_LE, 1, tone.sampleRate)) return;
    std::array<std::int16_t, 4096> chunk{};
    std::uint64_t at = 0;
    while (const std::size_t n = tone.Render(at, chunk)) {
        if (!WriteFrames(pcm, chunk.data(), n, sizeof chunk[0])) return;
        at += n;
    }
    snd_pcm_drain(pcm);
}

snd_pcm_format_t AlsaFormat(SampleFormat format) {
    switch (format) {
        case SampleFormat::kU8:
            return SND_PCM_FORMAT_U8;
        case SampleFormat::kS16:
            return SND_PCM_FORMAT_S16_LE;
        case SampleFormat::kS24:
            return SND_PCM_FORMAT_S24_3LE;
        case SampleFormat::kS32:
            return SND_PCM_FORMAT_S32_LE;
        case SampleFormat::kFloat32:
            return SND_PCM_FORMAT_FLOAT_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

void PlaySamples(snd_pcm_t* pcm, const WavSound& sound) {
    if (!Configure(pcm, AlsaFormat(sound.format), sound.channels, sound.sampleRate)) return;
    if (!WriteFrames(pcm, sound.samples.data(), sound.Frames(), sound.FrameBytes())) return;
    snd_pcm_drain(pcm);
}

// `bytes` keeps the file content that the returned sound points into.
std::optional<WavSound> LoadWav(const std::filesystem::path& file, std::string& bytes) {
    if (ReadFile(file, bytes, kMaxWavBytes)) return std::nullopt;
    return ParseWav(bytes).sound;
}

std::vector<std::filesystem::path> XdgDataDirs() {
    std::vector<std::filesystem::path> dirs;
    if (auto home = UserDataHome()) dirs.push_back(*home);
    const std::string list = GetEnv("XDG_DATA_DIRS").value_or("/usr/local/share:/usr/share");
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string_view dir = std::string_view(list).substr(start, end - start);
        if (!dir.empty() && dir.front() == '/')
            dirs.emplace_back(dir);  // relative ones are invalid
        start = end + 1;
    }
    return dirs;
}

class AlsaSoundPlayer final : public SoundPlayer {
public:
    void Beep(int frequencyHz, int durationMs) override {
        const Tone tone{frequencyHz, durationMs, kToneRate};
        if (tone.Frames() == 0) return;
        if (Pcm pcm = OpenDevice()) PlayTone(pcm.get(), tone);
    }

    void PlayWave(const std::filesystem::path& file) override {
        // Ask for the device first: without one there is nothing to read.
        Pcm pcm = OpenDevice();
        if (!pcm) return;
        std::string bytes;
        std::optional<WavSound> sound = LoadWav(file, bytes);
        if (!sound) {
            if (const auto alert = FindAlertSound(XdgDataDirs()); !alert.empty())
                sound = LoadWav(alert, bytes);
        }
        if (sound)
            PlaySamples(pcm.get(), *sound);
        else
            PlayTone(pcm.get(), kFallbackTone);
    }
};

}  // namespace

std::unique_ptr<SoundPlayer> MakeSoundPlayer() {
    return std::make_unique<AlsaSoundPlayer>();
}

std::filesystem::path FindAlertSound(const std::vector<std::filesystem::path>& dataDirs) {
    for (const char* name : {"dialog-warning.wav", "bell.wav"}) {
        for (const auto& dir : dataDirs) {
            auto file = dir / "sounds" / "freedesktop" / "stereo" / name;
            std::string bytes;
            if (LoadWav(file, bytes)) return file;
        }
    }
    return {};
}

}  // namespace tavren::platform
