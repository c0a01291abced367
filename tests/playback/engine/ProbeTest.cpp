#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

}  // namespace
