// Files as users have them, through the engine: mislabelled downloads play what they hold, junk
// of any size neither plays nor holds the interface thread up, a surround file is mixed down
// without clipping, and a decoder that failed to open holds nothing open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "FileSurgery.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/Decoder.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;

namespace {

constexpr int kRate = 44100;

double Rms(const std::vector<float>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    to = std::min(to, v.size() / 2);
    for (std::size_t i = from; i < to; ++i) sum += double(v[2 * i]) * v[2 * i] + double(v[2 * i + 1]) * v[2 * i + 1];
    return to > from ? std::sqrt(sum / (2.0 * (to - from))) : 0;
}

TEST(FileKinds, MislabelledFilesPlayWhatTheyHold) {
    quendo::testing::TempDir d;
    for (const char* kind : {"ogg-vorbis", "flac", "wma", "wav-s16"}) {
        SCOPED_TRACE(kind);
        const std::string path = d / (std::string("download-") + kind + ".mp3");
        // A steady tone at -6 dBFS: its level is known whatever the codec.
        ASSERT_GT(quendo::testing::MakeFixture(kind, 2.0, path, "--tone 440 --level -6").frames, 0);
        AudioEngine engine{EngineOptions{false, kRate, 512}};
        int ends = 0;
        MediaPlayer& deck = engine.Deck1();
        deck.EndOfStream = [&] { ++ends; };
        deck.SetFileName(path);
        EXPECT_NEAR(deck.Duration(), 2.0, 0.1);
        deck.Play();
        EXPECT_EQ(deck.PlayState(), psPlaying);
        const std::vector<float> out = engine.render(static_cast<int>(2.5 * kRate));
        // Sine at half scale: RMS 0.354, in the middle of the file.
        EXPECT_NEAR(Rms(out, kRate / 2, kRate * 3 / 2), 0.354, 0.03);
        EXPECT_EQ(ends, 1);
        EXPECT_NEAR(deck.CurrentPosition(), deck.Duration(), 0.05) << "it plays to the length measured";
    }
}

TEST(FileKinds, HugeJunkDoesNotLoadOrPlay) {
    quendo::testing::TempDir d;
    const std::string huge = d / "huge.mp3";
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 800LL * 1000 * 1000), 0);  // sparse: no disk
    ::close(fd);
    d.WriteFile("noise.mp3", quendo::testing::Garbage(2 << 20, 3));
    for (const char* name : {"huge.mp3", "noise.mp3"}) {
        SCOPED_TRACE(name);
        AudioEngine engine{EngineOptions{false, kRate, 512}};
        int ends = 0;
        MediaPlayer& deck = engine.Deck1();
        deck.EndOfStream = [&] { ++ends; };
        const auto start = std::chrono::steady_clock::now();
        deck.SetFileName(d / name);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
        EXPECT_EQ(deck.Duration(), 0);
        deck.Play();
        EXPECT_NE(deck.PlayState(), psPlaying);
        const std::vector<float> out = engine.render(kRate / 10);
        EXPECT_EQ(ends, 1) << "the caller hears of the end and moves on";
        EXPECT_EQ(Rms(out, 0, out.size() / 2), 0);
    }
}

TEST(FileKinds, SurroundIsMixedDownWithinFullScale) {
    quendo::testing::TempDir d;
    quendo::testing::WavSpec six;
    six.channels = 6;
    // Every channel at full scale, in phase: the worst case for a downmix.
    d.WriteFile("5.1.wav", quendo::testing::MakeWav(six, kRate, [](std::uint32_t i, int) {
        return static_cast<std::int32_t>(std::lround(32767 * std::sin(2 * 3.14159265358979 * 441 * i / kRate)));
    }));
    float peak = 0;
    EXPECT_NEAR(quendo::testing::DecodedSeconds(d / "5.1.wav", kRate, &peak), 1.0, 0.001);
    EXPECT_LE(peak, 1.0f);
    EXPECT_GT(peak, 0.5f) << "mixed down, not muted";
    // Stereo and mono files keep their level.
    d.WriteFile("stereo.wav", quendo::testing::ToneWav(0.5, 441, 0.99));
    EXPECT_NEAR(quendo::testing::DecodedSeconds(d / "stereo.wav", kRate, &peak), 0.5, 0.001);
    EXPECT_NEAR(peak, 0.99f, 0.001f);
}

TEST(FileKinds, ADecoderThatFailsToOpenHoldsNothing) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", quendo::testing::ToneWav(1.0, 440, 0.5));
    d.WriteFile("junk.mp3", quendo::testing::Garbage(100000));
    quendo::audio::AudioDecoder decoder(kRate);
    ASSERT_TRUE(decoder.Open(d / "a.wav"));
    EXPECT_TRUE(decoder.IsOpen());
    EXPECT_NEAR(decoder.Duration(), 1.0, 0.001);
    EXPECT_FALSE(decoder.Open(d / "junk.mp3"));
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_EQ(decoder.Duration(), 0);
    std::vector<float> buf(2 * 256);
    EXPECT_EQ(decoder.Read(buf.data(), 256), 0);
    EXPECT_FALSE(decoder.Seek(0.5));
    EXPECT_FALSE(decoder.Open(d / "missing.mp3"));
    ASSERT_TRUE(decoder.Open(d / "a.wav"));
    EXPECT_EQ(decoder.Read(buf.data(), 256), 256);
}

}  // namespace

namespace {

// Bytes this process has read from files so far (every thread's reads count).
long long BytesRead() {
    long long bytes = -1;
    if (FILE* f = std::fopen("/proc/self/io", "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "rchar: %lld", &bytes) == 1) break;
        std::fclose(f);
    }
    return bytes;
}

// A mix often starts a track part way in, so the seek comes before the first read. A 16-bit WAV
// is looked at for other audio carried in PCM over its first packets; a seek before that look is
// over must not widen it to a megabyte that is read (and copied over and over) before a sample
// comes out.
TEST(FileKinds, ASeekIntoAFreshWavReadsLittleBeforeItsFirstSample) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", quendo::testing::ToneWav(20.0, 440, 0.5));
    const long long before = BytesRead();
    if (before < 0) GTEST_SKIP() << "no /proc/self/io here";
    quendo::audio::AudioDecoder decoder(kRate);
    ASSERT_TRUE(decoder.Open(d / "a.wav"));
    ASSERT_TRUE(decoder.Seek(10.0));
    std::vector<float> buf(2 * 256);
    ASSERT_EQ(decoder.Read(buf.data(), 256), 256);
    EXPECT_GT(std::fabs(buf[2 * 200]) + std::fabs(buf[2 * 201]), 0.0f) << "the tone, from 10 s on";
    // The look itself takes 128 KiB (32 packets); FFmpeg's reader adds its buffers.
    EXPECT_LT(BytesRead() - before, 400 * 1024);
}

}  // namespace
