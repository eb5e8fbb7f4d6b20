#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavren::platform {

// Sound in memory, as the players hand it to a sound device: WAV files
// read from disk and the tone of a beep. Portable; no device is touched.

// Sample layouts that go to the device as stored: little-endian,
// channels interleaved frame by frame.
enum class SampleFormat {
    kU8,       // unsigned 8-bit
    kS16,      // signed 16-bit
    kS24,      // signed 24-bit in 3 bytes
    kS32,      // signed 32-bit
    kFloat32,  // IEEE float, -1.0 to 1.0
};

std::size_t SampleBytes(SampleFormat format);

// The playable part of a WAV file. `samples` points into the buffer that
// was parsed and holds whole frames only.
struct WavSound {
    SampleFormat format = SampleFormat::kS16;
    unsigned channels = 0;
    unsigned sampleRate = 0;
    std::string_view samples;

    std::size_t FrameBytes() const { return channels * SampleBytes(format); }
    std::size_t Frames() const { return FrameBytes() == 0 ? 0 : samples.size() / FrameBytes(); }
};

struct ParsedWav {
    std::optional<WavSound> sound;  // set when the bytes are a playable WAV file
    std::string error;              // otherwise why not, in words for a developer
};

// Reads a RIFF/WAVE image: uncompressed integer PCM of 1 to 32 bits
// (stored in 1 to 4 bytes), 32-bit float, plain or in the extensible
// header, 1 to 8 channels, any rate. Compressed formats are refused. A
// data chunk that claims more bytes than the buffer holds is cut to what is
// there; the RIFF size field is not trusted, as streaming writers often
// leave it wrong. Never reads outside `bytes`.
ParsedWav ParseWav(std::string_view bytes);

// A sine tone, mono signed 16-bit, faded in and out over a few
// milliseconds so that it starts and stops without a click. A tone the
// device cannot reproduce (no positive duration, or a frequency not below
// half the sample rate) has no frames.
struct Tone {
    int frequencyHz = 0;
    int durationMs = 0;
    unsigned sampleRate = 48000;

    // sampleRate * durationMs / 1000, rounded down.
    std::uint64_t Frames() const;

    // Writes frames first, first + 1, ... into `out`, stopping at the end of
    // the tone; returns how many were written. Rendering in pieces gives the
    // same samples as rendering at once, so a player needs no whole-tone
    // buffer however long the tone.
    std::size_t Render(std::uint64_t first, std::span<std::int16_t> out) const;
};

}  // namespace tavren::platform
