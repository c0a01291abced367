// The probe's length of every kind of file the decks play, against the length the decoder
// actually produces; the files are made by the demo library tool, and damaged by byte surgery.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileSurgery.h"
#include "playback/engine/Decoder.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

using quendo::testing::DecodedSeconds;
using quendo::testing::Made;
using quendo::testing::MakeFixture;
using quendo::testing::ReadBytes;
using quendo::testing::WriteBytes;

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
        {"wma1", "v1.wma", ""},
        {"wma1", "v1-mono-22k.wma", "--rate 22050 --channels 1"},
        {"mp3-cbr", "cbr-noxing.mp3", "--no-xing 1"},
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

// Damaged files: whatever the headers claim, the length is what the decoder hears. The
// fixtures are long enough (over 512 KiB of frames) that the probe's quick paths (a trusted
// header, a constant bit rate) are tried and must turn the damage down.
struct Damaged {
    std::string name;
    std::string bytes;
};

void ExpectHeardLength(const quendo::testing::TempDir& dir, const std::vector<Damaged>& cases) {
    for (const Damaged& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        WriteBytes(path, c.bytes);
        const double decoded = DecodedSeconds(path, 44100);
        ASSERT_GT(decoded, 0);
        EXPECT_NEAR(quendo::audio::MeasureDuration(path), decoded, 0.05);
    }
}

// Cut off, cut and padded with zeros, joined: for a file with a Xing/Info header.
std::vector<Damaged> CutAndJoined(const std::string& tag, const std::string& a, const std::string& b) {
    const std::size_t n = a.size();
    return {
        {tag + "-whole.mp3", a},
        {tag + "-half.mp3", a.substr(0, n / 2)},
        {tag + "-cut-mid-frame.mp3", a.substr(0, n * 37 / 100 + 5)},
        {tag + "-half-then-zeros.mp3", a.substr(0, n / 2) + std::string(n - n / 2, '\0')},
        {tag + "-joined.mp3", a + b},
        {tag + "-joined-to-itself.mp3", a + a},
        {tag + "-zeros-after-id3.mp3", a.substr(0, quendo::testing::Id3v2Length(a)) + std::string(102400, '\0') +
                                           a.substr(quendo::testing::Id3v2Length(a))},
    };
}

TEST(ProbeDuration, DamagedMp3sWithAFrameCountHeader) {
    quendo::testing::TempDir dir;
    // The fixture tool's MP3s carry an Info header (constant bit rate) or a Xing header (variable).
    ASSERT_GT(MakeFixture("mp3-cbr", 28, dir / "cbr.mp3", "--kbps 320 --seed 3").frames, 0);
    ASSERT_GT(MakeFixture("mp3-vbr", 60, dir / "vbr.mp3", "--seed 4").frames, 0);
    ASSERT_GT(MakeFixture("mp3-cbr", 8, dir / "48k.mp3", "--rate 48000 --seed 5").frames, 0);
    const std::string cbr = ReadBytes(dir / "cbr.mp3"), vbr = ReadBytes(dir / "vbr.mp3"), r48 = ReadBytes(dir / "48k.mp3");
    ASSERT_NE(cbr.find("Info"), std::string::npos);
    ASSERT_NE(vbr.find("Xing"), std::string::npos);
    // Even cut to half, more than the 512 KiB that the probe walks frame by frame without checks.
    ASSERT_GT(cbr.size(), 1100000u);
    ASSERT_GT(vbr.size(), 1100000u);

    auto cases = CutAndJoined("cbr", cbr, vbr);
    for (Damaged& d : CutAndJoined("vbr", vbr, cbr)) cases.push_back(std::move(d));
    // The sample rate changes where a 48 kHz file is joined on.
    cases.push_back({"cbr-then-48k.mp3", cbr + r48});
    cases.push_back({"vbr-then-48k.mp3", vbr + r48});
    // A frame count that the bytes cannot hold, too many frames or too few, with the right byte count.
    auto frameCount = [](std::string b, const char* tag, std::uint32_t frames) {
        const std::size_t at = b.find(tag) + 8;
        for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(frames >> (24 - 8 * i));
        return b;
    };
    cases.push_back({"cbr-frame-count-too-big.mp3", frameCount(cbr, "Info", 0xFFFFFFF0u)});
    cases.push_back({"vbr-frame-count-too-small.mp3", frameCount(vbr, "Xing", 10)});
    ExpectHeardLength(dir, cases);

    // The damage is real: a header trusted would be off by seconds.
    const double whole = quendo::audio::MeasureDuration(dir / "cbr-whole.mp3");
    EXPECT_NEAR(whole, 28, 0.05);
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "cbr-half.mp3"), whole / 2, 0.1);
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "cbr-half-then-zeros.mp3"), whole / 2, 0.1);
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "vbr-joined.mp3"), 88, 0.1);
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "cbr-then-48k.mp3"), 36, 0.1);
}

TEST(ProbeDuration, DamagedMp3sWithoutAHeader) {
    quendo::testing::TempDir dir;
    ASSERT_GT(MakeFixture("mp3-cbr", 16, dir / "cbr.mp3", "--kbps 320 --no-xing 1 --seed 6").frames, 0);
    ASSERT_GT(MakeFixture("mp3-cbr", 70, dir / "11k.mp3", "--rate 11025 --channels 1 --kbps 64 --no-xing 1 --seed 7").frames, 0);
    const std::string cbr = ReadBytes(dir / "cbr.mp3"), low = ReadBytes(dir / "11k.mp3");
    ASSERT_EQ(cbr.find("Info"), std::string::npos);
    ASSERT_GT(cbr.size(), 600000u);
    ASSERT_GT(low.size(), 540000u);
    const std::size_t n = cbr.size(), mid = n / 2 + 123, tags = quendo::testing::Id3v2Length(cbr);
    const std::string junk = quendo::testing::Garbage(102400), zeros(102400, '\0');
    ExpectHeardLength(dir, {
        {"whole.mp3", cbr},
        {"11k.mp3", low},
        {"garbage-inside.mp3", cbr.substr(0, mid) + junk + cbr.substr(mid)},
        {"zeros-inside.mp3", cbr.substr(0, mid) + zeros + cbr.substr(mid)},
        {"garbage-over.mp3", cbr.substr(0, mid) + junk + cbr.substr(mid + junk.size())},
        {"zeros-over.mp3", cbr.substr(0, mid) + zeros + cbr.substr(mid + zeros.size())},
        {"cut-then-zeros.mp3", cbr.substr(0, n * 6 / 10) + std::string(n - n * 6 / 10, '\0')},
        {"cut.mp3", cbr.substr(0, n * 6 / 10 + 7)},
        {"ape-then-id3v1.mp3", cbr + quendo::testing::ApeTag() + quendo::testing::Id3v1Tag()},
        {"ape.mp3", cbr + quendo::testing::ApeTag()},
        {"zeros-after-id3.mp3", cbr.substr(0, tags) + zeros + cbr.substr(tags)},
        {"joined.mp3", cbr + cbr},
        {"11k-cut.mp3", low.substr(0, low.size() * 3 / 4)},
    });
    // 100 KiB of junk at 320 kbit/s is 2.56 s that a bit-rate estimate would count.
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "zeros-over.mp3"),
                quendo::audio::MeasureDuration(dir / "whole.mp3") - 2.56, 0.1);
    // Without the LAME header nothing trims the encoder's delay and padding: a few frames more.
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "11k.mp3"), 70.1, 0.1);
}

TEST(ProbeDuration, WmaWithoutALengthOrCutOff) {
    quendo::testing::TempDir dir;
    ASSERT_GT(MakeFixture("wma", 10, dir / "a.wma", "--seed 8").frames, 0);
    ASSERT_GT(MakeFixture("wma", 10, dir / "streamed.wma", "--streamed 1 --seed 8").frames, 0);
    ASSERT_GT(MakeFixture("wma1", 6, dir / "v1.wma", "--streamed 1 --seed 9").frames, 0);
    const std::string whole = ReadBytes(dir / "a.wma"), streamed = ReadBytes(dir / "streamed.wma"), v1 = ReadBytes(dir / "v1.wma");
    ExpectHeardLength(dir, {
        {"whole.wma", whole},
        {"streamed.wma", streamed},
        {"v1-streamed.wma", v1},
        {"half.wma", whole.substr(0, whole.size() / 2)},
        {"two-thirds.wma", whole.substr(0, whole.size() * 2 / 3 + 77)},
        {"streamed-cut.wma", streamed.substr(0, streamed.size() / 2 + 1000)},
        {"v1-cut.wma", v1.substr(0, v1.size() / 3)},
    });
    EXPECT_NEAR(quendo::audio::MeasureDuration(dir / "half.wma"), 5, 0.2);
}

// A music file named .mp3 that holds another format is measured and decoded as what it holds.
TEST(ProbeDuration, MislabelledFilesAreWhatTheyHold) {
    quendo::testing::TempDir dir;
    for (const char* kind : {"ogg-vorbis", "flac", "wma", "wav-s16", "mp3-cbr"}) {
        SCOPED_TRACE(kind);
        const std::string path = dir / (std::string(kind) + ".mp3");
        ASSERT_GT(MakeFixture(kind, 3, path).frames, 0);
        const std::string wrong = dir / (std::string(kind) + ".wma");
        WriteBytes(wrong, ReadBytes(path));
        const double decoded = DecodedSeconds(path, 44100);
        EXPECT_NEAR(decoded, 3, 0.1);
        EXPECT_NEAR(quendo::audio::MeasureDuration(path), decoded, 0.05);
        EXPECT_NEAR(DecodedSeconds(wrong, 44100), decoded, 0.001);
        EXPECT_NEAR(quendo::audio::MeasureDuration(wrong), decoded, 0.05);
    }
}

}  // namespace
