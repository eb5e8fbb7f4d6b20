#include "platform/wav.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>

namespace tavren::platform {
namespace {

std::string Le16(unsigned v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
std::string Le32(std::uint32_t v) {
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}

// A chunk whose size field says `declared`, whatever the body holds.
std::string RawChunk(std::string_view id, std::uint32_t declared, std::string_view body) {
    return std::string(id) + Le32(declared) + std::string(body);
}

// A well-formed chunk, padded to even length.
std::string Chunk(std::string_view id, std::string_view body) {
    std::string c = RawChunk(id, static_cast<std::uint32_t>(body.size()), body);
    if (body.size() % 2 != 0) c += '\0';
    return c;
}

std::string Riff(std::string_view chunks) {
    return "RIFF" + Le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" +
           std::string(chunks);
}

std::string FmtBody(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits,
                    int blockAlign = -1) {
    const unsigned align =
        blockAlign >= 0 ? static_cast<unsigned>(blockAlign) : channels * ((bits + 7) / 8);
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

std::string Fmt(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits,
                int blockAlign = -1) {
    return Chunk("fmt ", FmtBody(tag, channels, rate, bits, blockAlign));
}

const std::string kGuidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);

std::string Extensible(unsigned subtag, unsigned channels, std::uint32_t rate, unsigned bits,
                       const std::string& guidTail = kGuidTail) {
    return Chunk("fmt ", FmtBody(0xFFFE, channels, rate, bits) + Le16(22) + Le16(bits) +
                             Le32(0x3F) + Le16(subtag) + guidTail);
}

std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 1);
    return s;
}

// What must hold for any input, good or bad.
void ExpectSane(const ParsedWav& r, std::string_view buffer) {
    if (!r.sound) {
        EXPECT_FALSE(r.error.empty());
        return;
    }
    const WavSound& s = *r.sound;
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const auto first = reinterpret_cast<std::uintptr_t>(s.samples.data());
    EXPECT_TRUE(s.samples.empty() ||
                (first >= begin && first + s.samples.size() <= begin + buffer.size()));
    EXPECT_GE(s.channels, 1u);
    EXPECT_LE(s.channels, 8u);
    EXPECT_EQ(s.samples.size() % s.FrameBytes(), 0u);
}

TEST(WavParse, ReadsEveryPlayableLayout) {
    struct Case {
        const char* what;
        std::string fmt;
        SampleFormat format;
        unsigned channels;
        unsigned rate;
    };
    const Case cases[] = {
        {"8-bit mono", Fmt(1, 1, 8000, 8), SampleFormat::kU8, 1, 8000},
        {"16-bit stereo", Fmt(1, 2, 44100, 16), SampleFormat::kS16, 2, 44100},
        {"24-bit 6 channels", Fmt(1, 6, 96000, 24), SampleFormat::kS24, 6, 96000},
        {"32-bit 8 channels", Fmt(1, 8, 192000, 32), SampleFormat::kS32, 8, 192000},
        {"float stereo", Fmt(3, 2, 48000, 32), SampleFormat::kFloat32, 2, 48000},
        {"12 bits in 2 bytes", Fmt(1, 1, 22050, 12), SampleFormat::kS16, 1, 22050},
        {"extensible PCM", Extensible(1, 4, 48000, 24), SampleFormat::kS24, 4, 48000},
        {"extensible float", Extensible(3, 2, 44100, 32), SampleFormat::kFloat32, 2, 44100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t frameBytes = c.channels * SampleBytes(c.format);
        const std::string data = Bytes(frameBytes * 3);
        const std::string file = Riff(c.fmt + Chunk("data", data));
        const ParsedWav r = ParseWav(file);
        ASSERT_TRUE(r.sound) << r.error;
        EXPECT_EQ(r.sound->format, c.format);
        EXPECT_EQ(r.sound->channels, c.channels);
        EXPECT_EQ(r.sound->sampleRate, c.rate);
        EXPECT_EQ(r.sound->Frames(), 3u);
        EXPECT_EQ(r.sound->samples, data);
    }
}

TEST(WavParse, WalksChunksInAnyOrder) {
    const std::string data = Bytes(12);
    struct Case {
        const char* what;
        std::string file;
    };
    const Case cases[] = {
        {"odd-sized chunk before fmt is padded",
         Riff(Chunk("LIST", "abcde") + Fmt(1, 2, 44100, 16) + Chunk("data", data))},
        {"chunks between fmt and data", Riff(Fmt(1, 2, 44100, 16) + Chunk("fact", "1234") +
                                             Chunk("junk", "x") + Chunk("data", data))},
        {"data before fmt", Riff(Chunk("data", data) + Fmt(1, 2, 44100, 16))},
        {"chunks after data",
         Riff(Fmt(1, 2, 44100, 16) + Chunk("data", data) + Chunk("LIST", "trailing tags"))},
        {"only the first fmt counts",
         Riff(Fmt(1, 2, 44100, 16) + Fmt(0x55, 2, 44100, 16) + Chunk("data", data))},
        {"RIFF size field of zero, as streaming writers leave it",
         "RIFF" + Le32(0) + "WAVE" + Fmt(1, 2, 44100, 16) + Chunk("data", data)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedWav r = ParseWav(c.file);
        ASSERT_TRUE(r.sound) << r.error;
        EXPECT_EQ(r.sound->samples, data);
    }
}

TEST(WavParse, CutsDataToWholeFramesPresent) {
    // Claims 1000 bytes; 10 are there: two whole 4-byte frames and a stray half.
    const std::string data = Bytes(10);
    const std::string file = Riff(Fmt(1, 2, 44100, 16) + RawChunk("data", 1000, data));
    const ParsedWav r = ParseWav(file);
    ASSERT_TRUE(r.sound) << r.error;
    EXPECT_EQ(r.sound->Frames(), 2u);
    EXPECT_EQ(r.sound->samples, data.substr(0, 8));

    const ParsedWav empty = ParseWav(Riff(Fmt(1, 2, 44100, 16) + Chunk("data", "")));
    ASSERT_TRUE(empty.sound) << "an empty sound is silence, not damage: " << empty.error;
    EXPECT_EQ(empty.sound->Frames(), 0u);
}

TEST(WavParse, RefusesWithAReason) {
    struct Case {
        const char* what;
        std::string file;
        const char* reason;  // part of the message
    };
    const std::string data = Chunk("data", Bytes(8));
    const Case cases[] = {
        {"empty", "", "too short"},
        {"big-endian RIFX", "RIFX" + Le32(4) + "WAVE", "not a RIFF"},
        {"another RIFF type", "RIFF" + Le32(4) + "AVI ", "not WAVE"},
        {"no fmt", Riff(data), "no fmt"},
        {"no data", Riff(Fmt(1, 2, 44100, 16)), "no data"},
        {"chunk claiming 4 GiB hides the rest",
         Riff(RawChunk("LIST", 0xFFFFFFFF, "abcd") + Fmt(1, 2, 44100, 16) + data), "no fmt"},
        {"IMA ADPCM", Riff(Fmt(0x11, 1, 22050, 4, 256) + data), "0x0011"},
        {"MP3", Riff(Fmt(0x55, 2, 44100, 0, 1) + data), "0x0055"},
        {"extensible ADPCM", Riff(Extensible(2, 2, 44100, 4) + data), "0x0002"},
        {"extensible with a foreign GUID",
         Riff(Extensible(1, 2, 44100, 16, std::string(14, 'x')) + data), "not a known format"},
        {"extensible without its extension", Riff(Fmt(0xFFFE, 2, 44100, 16) + data),
         "extensible fmt chunk too short"},
        {"no channels", Riff(Fmt(1, 0, 44100, 16, 0) + data), "0 channels"},
        {"nine channels", Riff(Fmt(1, 9, 44100, 16) + data), "9 channels"},
        {"rate 0", Riff(Fmt(1, 2, 0, 16) + data), "sample rate 0"},
        {"0-bit samples", Riff(Fmt(1, 2, 44100, 0, 4) + data), "0-bit"},
        {"40-bit samples", Riff(Fmt(1, 1, 44100, 40) + data), "40-bit"},
        {"double float", Riff(Fmt(3, 1, 44100, 64) + data), "64-bit float"},
        {"block size wrong", Riff(Fmt(1, 2, 44100, 16, 3) + data), "block size 3"},
        {"fmt too short", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16).substr(0, 14)) + data),
         "fmt chunk too short"},
        {"file ends inside fmt", Riff(Fmt(1, 2, 44100, 16)).substr(0, 30), "fmt chunk is cut"},
        {"file ends before the first frame",
         Riff(Fmt(1, 2, 44100, 16) + RawChunk("data", 100, "ab")), "no whole frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedWav r = ParseWav(c.file);
        EXPECT_FALSE(r.sound);
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << "message: " << r.error;
    }
}

// Each input is copied into a buffer of exactly its size, so that a sanitizer
// build reports any read past the end.
ParsedWav ParseExact(std::string_view bytes, std::unique_ptr<char[]>& storage) {
    storage = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), storage.get());
    return ParseWav({storage.get(), bytes.size()});
}

TEST(WavParse, StaysInsideTruncatedAndDamagedInput) {
    const std::string good =
        Riff(Chunk("LIST", "abcde") + Extensible(1, 2, 44100, 16) + Chunk("data", Bytes(64)));
    std::unique_ptr<char[]> storage;
    for (std::size_t n = 0; n <= good.size(); ++n) {
        SCOPED_TRACE(n);
        const ParsedWav r = ParseExact(std::string_view(good).substr(0, n), storage);
        ExpectSane(r, {storage.get(), n});
    }

    std::mt19937 random(20260607);
    for (int round = 0; round < 20000; ++round) {
        std::string bad = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) {
            // Mostly the headers, where damage changes the walk.
            const std::size_t at = random() % 80;
            bad[at] = static_cast<char>(random());
        }
        if (random() % 2 != 0) bad.resize(random() % (bad.size() + 1));
        const ParsedWav r = ParseExact(bad, storage);
        ExpectSane(r, {storage.get(), bad.size()});
        if (HasFailure()) {
            ADD_FAILURE() << "in round " << round;
            break;
        }
    }
}

}  // namespace
}  // namespace tavren::platform
