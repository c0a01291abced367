// The probe's length of every kind of file the decks play, against the length the decoder
// actually produces; the files are made by the demo library tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "playback/engine/Decoder.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

using quendo::testing::Made;
using quendo::testing::MakeFixture;

double DecodedSeconds(const std::string& path, int rate) {
    quendo::audio::AudioDecoder decoder(rate);
    if (!decoder.Open(path)) return -1;
    std::vector<float> buf(2 * 4096);
    long frames = 0;
    for (int got; (got = decoder.Read(buf.data(), 4096)) > 0;) frames += got;
    return static_cast<double>(frames) / rate;
}

std::string Head(const std::string& path, std::size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

TEST(ProbeDuration, WithinFiftyMillisecondsOfTheDecodedLengthInEveryFormat) {
    quendo::testing::TempDir dir;
    struct Case {
        const char* kind;
        const char* file;
        const char* options;
    };
    const Case cases[] = {
        {"mp3-cbr", "cbr.mp3", ""},
        {"mp3-cbr", "cbr-mono-48k.mp3", "--rate 48000 --channels 1"},
        {"mp3-vbr", "vbr.mp3", ""},
        {"mp3-vbr", "vbr-22k.mp3", "--rate 22050"},
        {"mp3-vbr-noheader", "vbr-noheader.mp3", ""},
        {"mp3-id3pic", "picture.mp3", ""},
        {"wma", "a.wma", ""},
        {"wma", "mono-22k.wma", "--rate 22050 --channels 1"},
        {"wma", "mono-8k.wma", "--rate 8000 --channels 1 --kbps 24"},
        {"wma", "32k.wma", "--rate 32000 --kbps 64"},
        {"wma", "48k.wma", "--rate 48000"},
        {"wav-u8", "u8-mono.wav", "--channels 1 --rate 22050"},
        {"wav-s16", "s16.wav", ""},
        {"wav-s24", "s24-48k.wav", "--rate 48000"},
        {"wav-f32", "f32-mono.wav", "--channels 1"},
        {"wav-s16", "tone.wav", "--tone 1000 --level -12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir / c.file;
        const Made made = MakeFixture(c.kind, 3.3, path, c.options);
        ASSERT_GT(made.frames, 0) << "the fixture tool failed; is QUENDO_TOOLS_DIR set?";
        const double written = static_cast<double>(made.frames) / made.rate;
        const double decoded = DecodedSeconds(path, made.rate);
        // Encoders add their delay and pad to whole frames, but not by much.
        EXPECT_NEAR(decoded, written, 0.1);
        EXPECT_NEAR(quendo::audio::MeasureDuration(path), decoded, 0.05);
    }
}

TEST(ProbeDuration, FixturesHaveTheTraitsTheyAreMadeFor) {
    quendo::testing::TempDir dir;
    // Without the frame-count header, and with a bit rate that starts far below its average: the
    // first frame's rate would put the length at several times the real one.
    const std::string vbr = dir / "vbr.mp3";
    ASSERT_GT(MakeFixture("mp3-vbr-noheader", 4, vbr).frames, 0);
    const std::string head = Head(vbr, 8192);
    EXPECT_EQ(head.find("Xing"), std::string::npos);
    EXPECT_EQ(head.find("Info"), std::string::npos);
    EXPECT_EQ(head.find("VBRI"), std::string::npos);
    // The picture is large enough that the audio starts well past the first 64 KiB.
    const std::string pic = dir / "pic.mp3";
    ASSERT_GT(MakeFixture("mp3-id3pic", 2, pic).frames, 0);
    const std::string tag = Head(pic, 4096);
    ASSERT_EQ(tag.substr(0, 3), "ID3");
    EXPECT_NE(tag.find("APIC"), std::string::npos);
    const long tagSize = (tag[6] & 0x7F) << 21 | (tag[7] & 0x7F) << 14 | (tag[8] & 0x7F) << 7 | (tag[9] & 0x7F);
    EXPECT_GT(tagSize, 65536);
}

}  // namespace
