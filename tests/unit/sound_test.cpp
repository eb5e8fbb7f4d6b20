#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wav.h"
#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

using std::chrono::steady_clock;
using test::TempDir;
using test::WriteBytes;

std::vector<std::int16_t> RenderAll(const Tone& tone) {
    std::vector<std::int16_t> out(tone.Frames());
    EXPECT_EQ(tone.Render(0, out), out.size());
    return out;
}

TEST(Tone, LastsRateTimesDuration) {
    struct Case {
        Tone tone;
        std::uint64_t frames;
    };
    const Case cases[] = {
        {{800, 100, 48000}, 4800},   {{440, 1, 44100}, 44},  // rounded down
        {{1000, 1500, 8000}, 12000}, {{23999, 100, 48000}, 4800},
        {{24000, 100, 48000}, 0},  // at half the rate nothing can be heard
        {{800, 0, 48000}, 0},        {{800, -5, 48000}, 0},
        {{0, 100, 48000}, 0},        {{-800, 100, 48000}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.tone.Frames(), c.frames)
            << c.tone.frequencyHz << " Hz, " << c.tone.durationMs << " ms";
    }
}

TEST(Tone, HasTheRequestedFrequency) {
    const Tone tones[] = {
        {800, 100, 48000}, {440, 1000, 44100}, {3000, 50, 8000}, {37, 500, 48000}};
    for (const Tone& tone : tones) {
        SCOPED_TRACE(tone.frequencyHz);
        const std::vector<std::int16_t> s = RenderAll(tone);
        int rising = 0;
        for (std::size_t i = 1; i < s.size(); ++i) rising += s[i - 1] < 0 && s[i] >= 0;
        const double cycles = tone.frequencyHz * tone.durationMs / 1000.0;
        EXPECT_NEAR(rising, cycles, 1.0);
    }
}

TEST(Tone, FadesInAndOutAtFullLevelBetween) {
    const Tone tone{800, 100, 48000};
    const std::vector<std::int16_t> s = RenderAll(tone);
    // A hard start or stop is heard as a click.
    EXPECT_LE(std::abs(s.front()), 1);
    EXPECT_LE(std::abs(s.back()), 1);
    int maxStep = 0;
    for (std::size_t i = 1; i < s.size(); ++i)
        maxStep = std::max(maxStep, std::abs(s[i] - s[i - 1]));
    int middlePeak = 0;
    for (std::size_t i = s.size() / 4; i < 3 * s.size() / 4; ++i)
        middlePeak = std::max(middlePeak, std::abs(int{s[i]}));
    // Steps no larger than those of the sine itself: no jump anywhere.
    EXPECT_LE(maxStep, middlePeak * 2 * 3.1416 * tone.frequencyHz / tone.sampleRate + 2);
    EXPECT_GT(middlePeak, 32767 / 3);
    EXPECT_LT(middlePeak, 32767);  // headroom, never clipped
}

TEST(Tone, RendersTheSameInPieces) {
    const Tone tone{1234, 37, 44100};
    const std::vector<std::int16_t> whole = RenderAll(tone);
    std::vector<std::int16_t> pieces;
    std::int16_t buffer[7];
    while (const std::size_t n = tone.Render(pieces.size(), buffer))
        pieces.insert(pieces.end(), buffer, buffer + n);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(tone.Render(tone.Frames() + 5, buffer), 0u);
}

// A short WAV file of `data`: 16-bit stereo at 22050 Hz unless told.
std::string WavBytes(const std::string& data, unsigned channels = 2, unsigned bits = 16,
                     unsigned tag = 1) {
    auto le = [](std::uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
        return s;
    };
    const unsigned align = channels * bits / 8;
    const std::string fmt = le(tag, 2) + le(channels, 2) + le(22050, 4) + le(22050 * align, 4) +
                            le(align, 2) + le(bits, 2);
    const std::string chunks =
        "fmt " + le(16, 4) + fmt + "data" + le(static_cast<std::uint32_t>(data.size()), 4) + data;
    return "RIFF" + le(static_cast<std::uint32_t>(chunks.size() + 4), 4) + "WAVE" + chunks;
}

std::string SomeSamples(std::size_t n, char seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 13);
    return s;
}

void PutFile(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    WriteBytes(file, bytes);
}

std::filesystem::path AlertIn(const std::filesystem::path& dataDir, const char* name) {
    return dataDir / "sounds" / "freedesktop" / "stereo" / name;
}

TEST(AlertSound, TakesTheFirstPlayableWarningThenBell) {
    TempDir tmp;
    const auto a = tmp / "a";
    const auto b = tmp / "b";
    const auto none = tmp / "missing";
    EXPECT_EQ(FindAlertSound({a, b, none}), std::filesystem::path());

    PutFile(AlertIn(a, "bell.wav"), WavBytes(SomeSamples(8, 1)));
    EXPECT_EQ(FindAlertSound({none, a, b}), AlertIn(a, "bell.wav"));

    // The warning sound wins over the bell, even from a later folder.
    PutFile(AlertIn(b, "dialog-warning.wav"), WavBytes(SomeSamples(8, 2)));
    EXPECT_EQ(FindAlertSound({a, b}), AlertIn(b, "dialog-warning.wav"));

    // Ogg files and broken WAV files are passed over.
    PutFile(AlertIn(a, "dialog-warning.oga"), "OggS");
    PutFile(AlertIn(a, "dialog-warning.wav"), "RIFF junk");
    EXPECT_EQ(FindAlertSound({a, b}), AlertIn(b, "dialog-warning.wav"));
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The player against a device made by an ALSA configuration of our own:
// none at all, one that swallows sound, or one that records the raw
// samples in a file. The desktop's own data folders are hidden, so that
// the alert sound comes only from what a test puts there.
class SoundPlayerTest : public testing::Test {
protected:
    enum class Device { kNone, kDiscard, kRecord };

    void UseDevice(Device device) {
        std::string conf;
        if (device == Device::kDiscard) conf = "pcm.default { type null }\n";
        if (device == Device::kRecord) {
            conf = "pcm.default { type file slave.pcm \"sink\" file \"" + recording().string() +
                   "\" format \"raw\" }\npcm.sink { type null }\n";
        }
        WriteBytes(tmp_ / "asound.conf", conf);
        alsaConfig_.emplace("ALSA_CONFIG_PATH", (tmp_ / "asound.conf").string());
    }

    std::filesystem::path recording() const { return tmp_ / "played.raw"; }
    std::filesystem::path dataHome() const { return tmp_ / "data"; }

    TempDir tmp_;
    ScopedEnv dataHome_{"XDG_DATA_HOME", (tmp_ / "data").string()};
    ScopedEnv dataDirs_{"XDG_DATA_DIRS", (tmp_ / "no-data").string()};
    std::optional<ScopedEnv> alsaConfig_;
    std::unique_ptr<SoundPlayer> player_ = MakeSoundPlayer();
};

std::string ToneBytes(const Tone& tone) {
    std::vector<std::int16_t> s(tone.Frames());
    tone.Render(0, s);
    std::string bytes;
    for (std::int16_t v : s) {
        bytes += static_cast<char>(v & 0xFF);
        bytes += static_cast<char>(v >> 8 & 0xFF);
    }
    return bytes;
}

TEST_F(SoundPlayerTest, WithoutADeviceEveryCallReturnsAtOnce) {
    UseDevice(Device::kNone);
    const auto wav = tmp_ / "ok.wav";
    WriteBytes(wav, WavBytes(SomeSamples(22050 * 4, 3)));  // one second
    PutFile(AlertIn(dataHome(), "dialog-warning.wav"), WavBytes(SomeSamples(22050 * 4, 4)));

    const auto start = steady_clock::now();
    player_->Beep(800, 1000);
    player_->PlayWave(wav);
    player_->PlayWave(tmp_ / "missing.wav");
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SoundPlayerTest, BeepPlaysTheTone) {
    UseDevice(Device::kRecord);
    player_->Beep(800, 100);
    EXPECT_EQ(test::ReadBytes(recording()), ToneBytes({800, 100, 48000}));
}

TEST_F(SoundPlayerTest, PlaysWavSamplesAsStored) {
    UseDevice(Device::kRecord);
    struct Case {
        const char* what;
        unsigned channels, bits, tag;
    };
    const Case cases[] = {
        {"8-bit mono", 1, 8, 1},
        {"24-bit 6 channels", 6, 24, 1},
        {"float 8 channels", 8, 32, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string data = SomeSamples(c.channels * c.bits / 8 * 5000, 5);
        WriteBytes(tmp_ / "sound.wav", WavBytes(data, c.channels, c.bits, c.tag));
        player_->PlayWave(tmp_ / "sound.wav");
        EXPECT_EQ(test::ReadBytes(recording()), data);
    }
}

TEST_F(SoundPlayerTest, MissingOrBrokenFilePlaysTheAlertSoundElseABeep) {
    UseDevice(Device::kRecord);
    WriteBytes(tmp_ / "broken.wav", WavBytes(SomeSamples(40, 6), 2, 16, 0x55));

    player_->PlayWave(tmp_ / "missing.wav");
    EXPECT_EQ(test::ReadBytes(recording()), ToneBytes({800, 100, 48000}));

    const std::string alert = SomeSamples(4000, 7);
    PutFile(AlertIn(dataHome(), "dialog-warning.wav"), WavBytes(alert));
    player_->PlayWave(tmp_ / "missing.wav");
    EXPECT_EQ(test::ReadBytes(recording()), alert);
    player_->PlayWave(tmp_ / "broken.wav");
    EXPECT_EQ(test::ReadBytes(recording()), alert);
    player_->PlayWave(tmp_.path());  // a folder is no sound either
    EXPECT_EQ(test::ReadBytes(recording()), alert);
}

TEST_F(SoundPlayerTest, WorkersCanPlayAtTheSameTime) {
    UseDevice(Device::kDiscard);
    const auto wav = tmp_ / "ok.wav";
    WriteBytes(wav, WavBytes(SomeSamples(22050 * 4 / 10, 8)));
    const auto start = steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&, i] {
            for (int k = 0; k < 5; ++k) {
                player_->Beep(800 + 100 * i, 100);
                player_->PlayWave(k % 2 == 0 ? wav : tmp_ / "missing.wav");
            }
        });
    }
    for (std::thread& t : workers) t.join();
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace tavren::platform
