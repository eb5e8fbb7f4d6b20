#include "platform/wav.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>
#include <string>

namespace tavren::platform {
namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr unsigned kMaxChannels = 8;

// Every KSDATAFORMAT_SUBTYPE GUID of a classic format tag is the tag in
// its first two bytes followed by these fourteen.
constexpr unsigned char kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t U16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t U32(std::string_view b, std::size_t at) {
    return U16(b, at) | std::uint32_t{U16(b, at + 2)} << 16;
}

std::string Hex4(unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s = "0x0000";
    for (int i = 5; i >= 2; --i, value >>= 4) s[static_cast<std::size_t>(i)] = kDigits[value & 15];
    return s;
}

ParsedWav Fail(std::string why) {
    return {std::nullopt, std::move(why)};
}

// Checks a `fmt ` chunk body (already known to lie inside the buffer) and
// fills the layout fields of `out`.
std::string ReadFormat(std::string_view fmt, WavSound& out) {
    if (fmt.size() < 16) return "fmt chunk too short (" + std::to_string(fmt.size()) + " bytes)";
    std::uint16_t tag = U16(fmt, 0);
    const unsigned channels = U16(fmt, 2);
    const std::uint32_t rate = U32(fmt, 4);
    const unsigned blockAlign = U16(fmt, 12);
    const unsigned bits = U16(fmt, 14);

    if (tag == kFormatExtensible) {
        if (fmt.size() < 40 || U16(fmt, 16) < 22) return "extensible fmt chunk too short";
        const std::string_view subtype = fmt.substr(24, 16);
        if (!std::equal(std::begin(kSubtypeTail), std::end(kSubtypeTail), subtype.begin() + 2,
                        [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }))
            return "extensible subformat is not a known format";
        tag = U16(subtype, 0);
    }
    if (tag != kFormatPcm && tag != kFormatFloat)
        return "format " + Hex4(tag) + " is compressed or unknown; only PCM can be played";
    if (channels == 0 || channels > kMaxChannels)
        return std::to_string(channels) + " channels; 1 to " + std::to_string(kMaxChannels) +
               " can be played";
    if (rate == 0) return "sample rate 0";

    // Integer samples narrower than their container are stored left-aligned,
    // so they play correctly as the container's width.
    const unsigned container = (bits + 7) / 8;
    if (tag == kFormatFloat) {
        if (bits != 32) return std::to_string(bits) + "-bit float samples are not supported";
        out.format = SampleFormat::kFloat32;
    } else {
        switch (container) {
            case 1:
                out.format = SampleFormat::kU8;
                break;
            case 2:
                out.format = SampleFormat::kS16;
                break;
            case 3:
                out.format = SampleFormat::kS24;
                break;
            case 4:
                out.format = SampleFormat::kS32;
                break;
            default:
                return std::to_string(bits) + "-bit samples are not supported";
        }
    }
    out.channels = channels;
    out.sampleRate = rate;
    if (blockAlign != out.FrameBytes())
        return "block size " + std::to_string(blockAlign) + " does not fit " +
               std::to_string(channels) + " channels of " + std::to_string(bits) + " bits";
    return {};
}

}  // namespace

std::size_t SampleBytes(SampleFormat format) {
    switch (format) {
        case SampleFormat::kU8:
            return 1;
        case SampleFormat::kS16:
            return 2;
        case SampleFormat::kS24:
            return 3;
        case SampleFormat::kS32:
        case SampleFormat::kFloat32:
            return 4;
    }
    return 0;
}

ParsedWav ParseWav(std::string_view bytes) {
    if (bytes.size() < 12) return Fail("too short for a RIFF header");
    if (bytes.substr(0, 4) != "RIFF") return Fail("not a RIFF file");
    if (bytes.substr(8, 4) != "WAVE") return Fail("a RIFF file, but not WAVE");

    std::optional<std::string_view> fmt;
    std::optional<std::string_view> data;
    std::uint64_t declaredData = 0;
    // 64-bit offsets: a chunk size near 4 GiB must not wrap around.
    std::uint64_t at = 12;
    while (at + 8 <= bytes.size() && !(fmt && data)) {
        const std::string_view id = bytes.substr(static_cast<std::size_t>(at), 4);
        const std::uint64_t size = U32(bytes, static_cast<std::size_t>(at + 4));
        const std::uint64_t body = at + 8;
        const std::uint64_t present = std::min<std::uint64_t>(size, bytes.size() - body);
        const std::string_view content =
            bytes.substr(static_cast<std::size_t>(body), static_cast<std::size_t>(present));
        if (id == "fmt " && !fmt) {
            if (present < size) return Fail("fmt chunk is cut short");
            fmt = content;
        } else if (id == "data" && !data) {
            data = content;
            declaredData = size;
        }
        at = body + size + (size & 1);  // chunks are padded to even length
    }
    if (!fmt) return Fail("no fmt chunk");
    if (!data) return Fail("no data chunk");

    WavSound sound;
    if (std::string why = ReadFormat(*fmt, sound); !why.empty()) return Fail(std::move(why));
    const std::size_t whole = data->size() - data->size() % sound.FrameBytes();
    if (whole == 0 && declaredData > 0) return Fail("data chunk is cut short: no whole frame");
    sound.samples = data->substr(0, whole);
    return {sound, {}};
}

std::uint64_t Tone::Frames() const {
    if (durationMs <= 0 || frequencyHz <= 0 || 2ULL * frequencyHz >= sampleRate) return 0;
    return static_cast<std::uint64_t>(sampleRate) * static_cast<std::uint64_t>(durationMs) / 1000;
}

std::size_t Tone::Render(std::uint64_t first, std::span<std::int16_t> out) const {
    const std::uint64_t total = Frames();
    if (first >= total) return 0;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), total - first));
    // 5 ms ramps, shorter for very short tones so that some full level remains.
    const std::uint64_t fade =
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(sampleRate / 200, total / 4));
    constexpr double kAmplitude = 0.5 * 32767;  // loud enough, with headroom
    const auto freq = static_cast<std::uint64_t>(frequencyHz);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t i = first + k;
        // The phase is taken modulo one period in integers, so it stays exact
        // however far into a long tone we are.
        const double phase = static_cast<double>(freq * i % sampleRate) / sampleRate;
        const std::uint64_t edge = std::min(i, total - 1 - i);
        const double gain =
            edge >= fade ? 1.0
                         : 0.5 * (1.0 - std::cos(std::numbers::pi * static_cast<double>(edge) /
                                                 static_cast<double>(fade)));
        out[k] = static_cast<std::int16_t>(
            std::lround(kAmplitude * gain * std::sin(2 * std::numbers::pi * phase)));
    }
    return count;
}

}  // namespace tavren::platform
