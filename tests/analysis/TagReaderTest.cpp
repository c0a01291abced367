// Tags as files carry them: the formats the library holds, files named for another format, and
// damaged or hostile tags, which give no tags or clean ones, never a crash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "playback/engine/FileSurgery.h"
#include "analysis/TagReader.h"
#include "support/Fakes.h"

namespace quendo::testing {
namespace {

using audio::ReadTags;
using audio::TagLayout;

// Writes half a second of tone with ffmpeg, tagged as the arguments say; false when it failed.
bool Encode(const std::string& out, const std::string& args) {
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=0.5 " +
                            args + " -metadata 'artist=  Ünder Tow ' -metadata 'title=Tide\tLine' " +
                            "-metadata album=Harbour -metadata track=3/12 -metadata disc=2/3 '" + out + "'";
    return std::system(cmd.c_str()) == 0;
}

std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// An ID3v2.3 tag of Latin-1 text frames.
std::string Id3v23(const std::vector<std::pair<std::string, std::string>>& frames) {
    std::string body;
    for (const auto& [id, text] : frames)
        body += id + Be32(static_cast<std::uint32_t>(text.size() + 1)) + std::string(3, '\0') + text;
    const auto n = static_cast<std::uint32_t>(body.size());
    return std::string("ID3\x03\x00\x00", 6) + char(n >> 21 & 0x7F) + char(n >> 14 & 0x7F) + char(n >> 7 & 0x7F) +
           char(n & 0x7F) + body;
}

// An ID3v1.1 tag; fields are cut or padded with NULs to their width.
std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album, int track) {
    auto field = [](std::string s, std::size_t n) { return s.substr(0, n) + std::string(n - std::min(n, s.size()), '\0'); };
    return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + "2024" + field("", 29) + char(track) + '\xff';
}

// What every field must be, whatever the file held: short, trimmed, and whole UTF-8 characters
// without controls, checked apart from the reader's own check, which would prove nothing here.
void ExpectClean(const TrackTags& t) {
    for (const std::string& s : {t.artist, t.title, t.album}) {
        EXPECT_LE(s.size(), audio::kMaxTagBytes);
        EXPECT_TRUE(s.empty() || (s.front() != ' ' && s.back() != ' ')) << s;
        for (std::size_t i = 0, len = 1; i < s.size(); i += len) {
            const auto c = static_cast<unsigned char>(s[i]);
            len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            ASSERT_TRUE(len > 0 && i + len <= s.size() && c >= 0x20 && c != 0x7F) << s;
            for (std::size_t k = 1; k < len; ++k) ASSERT_EQ(s[i + k] & 0xC0, 0x80) << s;
        }
    }
    for (int n : {t.trackNumber, t.discNumber}) EXPECT_TRUE(n >= 0 && n <= audio::kMaxTagNumber) << n;
}

TrackTags FromBytes(const std::string& bytes, TagLayout layout) {
    return ReadTags(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), layout);
}

auto Fields(const TrackTags& t) { return std::tie(t.artist, t.title, t.album, t.trackNumber, t.discNumber); }

TEST(TagReader, ReadsEachFormatByItsContentAndTurnsDamageIntoNoTags) {
    TempDir d;
    const std::string v2 = d / "id3v2.mp3", wma = d / "tagged.wma", wav = d / "info.wav";
    ASSERT_TRUE(Encode(v2, "-c:a libmp3lame -b:a 64k -id3v2_version 4 -write_id3v1 0"));
    ASSERT_TRUE(Encode(wma, "-c:a wmav2 -b:a 64k"));
    ASSERT_TRUE(Encode(wav, "-c:a pcm_s16le"));
    const std::string mp3 = ReadBytes(v2), pcm = ReadBytes(wav);
    const std::size_t tagEnd = Id3v2Length(mp3);
    ASSERT_GT(tagEnd, 20u);
    // Taggers write ID3v1 text in UTF-8 or in Latin-1: both read right.
    WriteBytes(d / "id3v1.mp3", mp3.substr(tagEnd) + Id3v1("Tide\tLine", "  \xc3\x9cnder Tow ", "Caf\xe9", 3));
    WriteBytes(d / "mp3-named.wav", mp3);
    WriteBytes(d / "wav-named.mp3", pcm);
    WriteBytes(d / "cut-in-tag.mp3", mp3.substr(0, tagEnd / 2));
    std::string scribbled = mp3;
    scribbled.replace(10, tagEnd - 10, Garbage(tagEnd - 10, 7));
    WriteBytes(d / "scribbled-tag.mp3", scribbled);
    WriteBytes(d / "junk.mp3", Garbage(20000, 3));
    // A megabyte of Latin-1 title with control characters, an artist of spaces, numbers that are
    // no numbers; the ID3v1 tag behind them gives what the ID3v2 tag leaves empty.
    const std::string audio = mp3.substr(tagEnd);
    const std::string hostile = Id3v23({{"TIT2", "\x01H\xe9\n" + std::string(1 << 20, 'x')},
                                        {"TPE1", "   "}, {"TRCK", "123456"}, {"TPOS", "two"}});
    WriteBytes(d / "hostile.mp3", hostile + audio + Id3v1Tag());

    const TrackTags full{"Ünder Tow", "Tide Line", "Harbour", 3, 2};
    const TrackTags noDisc{"Ünder Tow", "Tide Line", "Harbour", 3, 0};
    struct Row {
        const char* file;
        std::optional<TrackTags> expected;  // none: anything, as long as it is clean
    };
    const Row rows[] = {
        {"id3v2.mp3", full},
        {"id3v1.mp3", TrackTags{"Ünder Tow", "Tide Line", "Café", 3, 0}},
        {"tagged.wma", full},
        {"info.wav", noDisc},
        {"mp3-named.wav", full},
        {"wav-named.mp3", noDisc},
        {"cut-in-tag.mp3", TrackTags{}},
        {"junk.mp3", TrackTags{}},
        {"missing.mp3", TrackTags{}},
        {"hostile.mp3", TrackTags{std::string(30, 'A'), "H\xc3\xa9 " + std::string(252, 'x'), std::string(30, 'L'), 0, 0}},
        {"scribbled-tag.mp3", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const TrackTags t = ReadTags(d / row.file);
        EXPECT_EQ(Fields(t), Fields(row.expected.value_or(t)));
        ExpectClean(t);  // any bytes read any way: the tags' fuzz target
    }
    EXPECT_EQ(Fields(FromBytes(pcm, TagLayout::kWav)), Fields(noDisc));
}

}  // namespace
}  // namespace quendo::testing
