// The decoder on its own: a seek lands on the very frame that decoding from the start reaches (the
// analysis counts its beats from the start, a deck starts after a seek), in every format; and a
// damaged stretch costs no more than itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Clicks.h"
#include "FileSurgery.h"
#include "playback/engine/Decoder.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using quendo::audio::AudioDecoder;
using quendo::testing::LoudestIn;

namespace {

constexpr int kRate = 44100;

std::vector<float> DecodeAll(AudioDecoder& decoder) {
    std::vector<float> all, buf(2 * 8192);
    for (int got; (got = decoder.Read(buf.data(), 8192)) > 0;) all.insert(all.end(), buf.begin(), buf.begin() + 2 * got);
    return all;
}

TEST(Decoder, ASeekLandsOnTheFrameThatDecodingFromTheStartReachesInEveryFormat) {
    quendo::testing::TempDir d;
    d.WriteFile("clicks.wav", quendo::testing::ClickTrack(24.0));
    struct Format {
        const char* name;
        const char* options;  // ffmpeg's encoder
    } formats[] = {{"cbr.mp3", "-c:a libmp3lame -b:a 128k"},
                   {"vbr.mp3", "-c:a libmp3lame -q:a 2"},
                   {"wma2.wma", "-c:a wmav2 -b:a 128k"},
                   {"clicks.wav", nullptr}};
    for (const Format& f : formats) {
        SCOPED_TRACE(f.name);
        const std::string encode = "ffmpeg -nostdin -loglevel error -i '" + d / "clicks.wav" + "' " +
                                   (f.options ? f.options : "") + " '" + d / f.name + "'";
        ASSERT_TRUE(!f.options || std::system(encode.c_str()) == 0) << encode;
        AudioDecoder whole(kRate);
        ASSERT_TRUE(whole.Open(d / f.name));
        const std::vector<float> all = DecodeAll(whole);
        // Beats early, in the middle and late, where a seek has the most to get wrong.
        for (const double beat : {0.75, 5.25, 11.75, 20.25}) {
            SCOPED_TRACE(beat);
            const auto near = static_cast<long>(beat * kRate);
            const long at = LoudestIn(all, near - kRate / 10, near + kRate / 10);
            // Shortly before the beat, so that a seek landing late shows as well as one landing early.
            constexpr long kBefore = kRate / 20;
            AudioDecoder seeked(kRate);
            ASSERT_TRUE(seeked.Open(d / f.name));
            ASSERT_TRUE(seeked.Seek(static_cast<double>(at - kBefore) / kRate));
            std::vector<float> head(2 * kRate / 5);
            ASSERT_EQ(seeked.Read(head.data(), kRate / 5), kRate / 5);
            EXPECT_NEAR(LoudestIn(head, 0, kRate / 5), kBefore, kRate / 1000) << "1 ms";
        }
    }
}

// A stretch of junk is a gap, not the end: the decoder finds the frames after it and plays on, and
// what is lost is no more than the frames the stretch touches, wherever the file is read from.
TEST(Decoder, AStretchOfJunkInAnMp3IsSkippedAndTheRestPlays) {
    quendo::testing::TempDir d;
    const quendo::testing::Made made = quendo::testing::MakeFixture("mp3-cbr", 60.0, d / "good.mp3", "--kbps 128");
    ASSERT_GT(made.frames, 0) << "the demo library tool";
    std::string bytes = quendo::testing::ReadBytes(d / "good.mp3");
    constexpr std::size_t kJunk = 300 * 1024;
    bytes.replace(bytes.size() / 3, kJunk, quendo::testing::Garbage(kJunk));
    quendo::testing::WriteBytes(d / "damaged.mp3", bytes);
    const double whole = static_cast<double>(made.frames) / made.rate;
    const double junkSeconds = kJunk * 8.0 / 128000;
    for (const double from : {0.0, 10.0}) {
        SCOPED_TRACE(from);
        AudioDecoder decoder(kRate);
        ASSERT_TRUE(decoder.Open(d / "damaged.mp3"));
        if (from > 0) {
            ASSERT_TRUE(decoder.Seek(from));
        }
        const double heard = from + static_cast<double>(DecodeAll(decoder).size() / 2) / kRate;
        EXPECT_FALSE(decoder.ReadFailed()) << "junk is no failed read";
        EXPECT_GE(heard, whole - junkSeconds - 2 * 1152.0 / kRate);
        EXPECT_LE(heard, whole + 0.05);
    }
}

}  // namespace
