#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "FileSurgery.h"
#include "playback/engine/Decoder.h"
#include "playback/engine/ProbePlayer.h"
#include "support/Fakes.h"

using namespace quendo;

namespace {

std::string Wav(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames) {
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const std::uint32_t data = frames * channels * 2;
    std::string s = "RIFF" + u32(36 + data) + "WAVEfmt " + u32(16) + u16(1) + u16(channels) + u32(rate) +
                    u32(rate * channels * 2) + u16(channels * 2) + u16(16) + "data" + u32(data);
    s += std::string(data, '\0');
    return s;
}

TEST(Probe, WavLengthFromItsHeaderAndBadFilesMeasureZero) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", Wav(44100, 2, 44100 * 3 + 22050));
    d.WriteFile("empty.mp3", "");
    d.WriteFile("text.mp3", std::string(5000, 'x'));
    ProbePlayer probe;
    probe.SetFileName(d / "a.wav");
    EXPECT_NEAR(probe.Duration(), 3.5, 0.05);
    for (const char* bad : {"empty.mp3", "text.mp3", "missing.wav"}) {
        probe.SetFileName(d / bad);
        EXPECT_EQ(probe.Duration(), 0) << bad;
    }
    probe.SetFileName("");
    EXPECT_EQ(probe.Duration(), 0);
    EXPECT_NE(probe.PlayState(), psPlaying);
}

using quendo::testing::MakeWav;
using quendo::testing::WavSpec;

TEST(Probe, WavFormatsAsFfmpegDecodesThem) {
    quendo::testing::TempDir d;
    WavSpec noAlign;
    noAlign.blockAlign = 0;  // FFmpeg works the frame out from channels and bits
    WavSpec extensiblePcm;
    extensiblePcm.tag = 0xFFFE;
    extensiblePcm.subformat = quendo::testing::SubformatGuid(1);
    WavSpec extensibleOther = extensiblePcm;
    extensibleOther.subformat = quendo::testing::SubformatGuid(0x1234);  // no codec has it
    WavSpec extensibleJunk = extensiblePcm;
    extensibleJunk.subformat = std::string(16, '\x11');
    // IMA ADPCM with its samples per block where PCM has its valid bits: FFmpeg takes that for
    // the sample size, and its decoder turns the file down.
    WavSpec extensibleAdpcm = extensiblePcm;
    extensibleAdpcm.subformat = quendo::testing::SubformatGuid(0x11);
    extensibleAdpcm.channels = 1;
    extensibleAdpcm.bits = 4;
    extensibleAdpcm.blockAlign = 1024;
    extensibleAdpcm.samplesField = 2041;
    WavSpec twelveBits;
    twelveBits.bits = 12;  // stored in two bytes
    d.WriteFile("no-align.wav", MakeWav(noAlign, 44100 * 2));
    d.WriteFile("ext-pcm.wav", MakeWav(extensiblePcm, 44100));
    d.WriteFile("ext-other.wav", MakeWav(extensibleOther, 44100));
    d.WriteFile("ext-junk.wav", MakeWav(extensibleJunk, 44100));
    d.WriteFile("ext-adpcm.wav", MakeWav(extensibleAdpcm, 1024 * 43 * 4));
    d.WriteFile("12-bit.wav", MakeWav(twelveBits, 22050));
    struct Case {
        const char* file;
        double seconds;  // 0: neither measured nor played
    } cases[] = {{"no-align.wav", 2}, {"ext-pcm.wav", 1}, {"ext-other.wav", 0}, {"ext-junk.wav", 0},
                    {"ext-adpcm.wav", 0}, {"12-bit.wav", 0.5}};
    ProbePlayer probe;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        probe.SetFileName(d / c.file);
        EXPECT_NEAR(probe.Duration(), c.seconds, 0.001);
        const double decoded = quendo::testing::DecodedSeconds(d / c.file, 44100);
        if (c.seconds > 0) EXPECT_NEAR(decoded, c.seconds, 0.001);
        else EXPECT_LT(decoded, 0) << "nothing decodes it";
    }
}

// Junk of any size is turned down at once, with no more memory than a small file takes.
TEST(Probe, JunkMeasuresZeroQuickly) {
    quendo::testing::TempDir d;
    const std::string noise = quendo::testing::Garbage(4 << 20, 5);
    for (const char* name : {"noise.mp3", "noise.wma", "noise.wav", "noise.ogg"}) d.WriteFile(name, noise);
    d.WriteFile("zeros.mp3", std::string(3 << 20, '\0'));
    d.WriteFile("id3-then-noise.mp3", std::string("ID3\x03\x00\x00\x00\x00\x10\x00", 10) + std::string(2048, '\0') + noise);
    // 800 MB of zeros named .mp3, sparse: it costs no disk.
    const std::string huge = d / "huge.mp3";
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 800LL * 1000 * 1000), 0);
    ::close(fd);
    ProbePlayer probe;
    for (const char* name : {"noise.mp3", "noise.wma", "noise.wav", "noise.ogg", "zeros.mp3", "id3-then-noise.mp3", "huge.mp3"}) {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        probe.SetFileName(d / name);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(probe.Duration(), 0);
        EXPECT_LT(took, 1.0) << "bounded, even under the sanitizers";
        quendo::audio::AudioDecoder decoder(44100);
        EXPECT_FALSE(decoder.Open(d / name));
        EXPECT_FALSE(decoder.IsOpen());
    }
}

}  // namespace
