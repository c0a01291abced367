// The track analysis on sound whose answers are known, and its cache across runs of the program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "analysis/Analyse.h"
#include "analysis/FactsCache.h"
#include "analysis/TagReader.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/Decoder.h"
#include "playback/engine/FileSurgery.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AnalyseFile;
using quendo::audio::AnalysisEnd;
using quendo::audio::TrackAnalyser;

namespace {

constexpr int kRate = 44100;

double Amplitude(double dbfs) { return std::pow(10.0, dbfs / 20); }

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 16-bit stereo WAV of `parts` one after another: {seconds, amplitude} of a 1 kHz sine, with a
// 50 Hz hum at -75 dBFS under everything (a noise floor that is no sound).
std::string Stretches(std::initializer_list<std::pair<double, double>> parts) {
    double total = 0;
    for (const auto& p : parts) total += p.first;
    std::string wav = quendo::testing::ToneWav(total, 0, 0, kRate);
    std::size_t at = 44;
    long frame = 0;
    for (const auto& [seconds, amplitude] : parts) {
        const long frames = std::lround(seconds * kRate);
        for (long i = 0; i < frames && at + 3 < wav.size(); ++i, ++frame, at += 4) {
            const double v = amplitude * std::sin(2 * M_PI * 1000 * frame / kRate) +
                             Amplitude(-75) * std::sin(2 * M_PI * 50 * frame / kRate);
            const auto s = static_cast<std::int16_t>(std::lround(32767 * v));
            wav[at] = wav[at + 2] = char(s);
            wav[at + 1] = wav[at + 3] = char(s >> 8);
        }
    }
    return wav;
}

// Whether `done` comes to hold within a minute.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 6000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (done()) return true;
    return false;
}

// The path's facts once `done` holds for them (any facts, by default); nothing after a minute.
std::optional<TrackFacts> FactsOnceSo(TrackAnalyser& analyser, const std::string& path,
                                      const std::function<bool(const TrackFacts&)>& done = {}) {
    std::optional<TrackFacts> facts;
    return Eventually([&] { return (facts = analyser.Facts(path)) && (!done || done(*facts)); }) ? facts : std::nullopt;
}

std::optional<TrackFacts> WaitForFacts(TrackAnalyser& analyser, const std::string& path) {
    analyser.Want({path});
    return FactsOnceSo(analyser, path);
}

double Lufs(const std::optional<TrackFacts>& facts) { return facts ? facts->integratedLufs : NAN; }

// `path`, written as a 1 kHz tone at `dbfs`.
std::string Tone(const std::string& path, double seconds, double dbfs, int rate = kRate) {
    Write(path, quendo::testing::ToneWav(seconds, 1000, Amplitude(dbfs), rate));
    return path;
}

// A cache line of a file never analysed, last wanted at `used`.
std::string CacheLine(const std::string& path, std::int64_t used) {
    return "1000 1 " + std::to_string(used) + " 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0\t" + path + "\t\t\t\n";
}

// {analysed, unreadable, total} of the background pass, once those settled reach `until` (the
// total by default).
std::tuple<int, int, int> Progress(TrackAnalyser& analyser, int until = -1) {
    TrackAnalysis::Progress p;
    Eventually([&] {
        p = analyser.BackgroundProgress();
        return p.analysed + p.unreadable >= (until < 0 ? p.total : until);
    });
    return {p.analysed, p.unreadable, p.total};
}

}  // namespace

TEST(TrackAnalysis, KnownSignalsGiveTheirLoudnessPeakAndAudibleStretch) {
    quendo::testing::TempDir dir;
    // The EBU's own test signal: a 1 kHz stereo sine at -23 dBFS reads -23.0 LUFS.
    const std::string ebu = dir.path() + "/ebu.wav";
    Write(ebu, quendo::testing::ToneWav(20, 1000, Amplitude(-23), kRate));
    auto facts = AnalyseFile(ebu);
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->audible);
    EXPECT_NEAR(facts->integratedLufs, -23.0, 0.1);
    EXPECT_NEAR(facts->peakDbfs, -23.0, 0.1);
    EXPECT_NEAR(facts->firstSound, 0, 0.05);
    EXPECT_NEAR(facts->lastSound, 20, 0.05);
    EXPECT_NEAR(facts->decodedSeconds, 20, 1e-3);
    // Both ends in the band of 1 kHz, at the sine's RMS (3 dB under its peak), give or take the
    // split's gentle slopes; little of it in the others.
    for (const TrackFacts::Edge& edge : {facts->headEdge, facts->tailEdge}) {
        EXPECT_NEAR(edge.rmsDb[1], -26, 2);
        EXPECT_LT(edge.rmsDb[0], edge.rmsDb[1] - 10);
        EXPECT_LT(edge.rmsDb[2], edge.rmsDb[1] - 6);
    }

    // The peak is the file's own, its high band included: a 15 kHz tone over a 1 kHz one peaks
    // near the sum of their amplitudes, though the loudness is measured at a rate without it.
    const std::string bright = dir.path() + "/bright.wav";
    std::string wav = quendo::testing::ToneWav(5, 0, 0, kRate);
    int peak = 0;
    for (std::size_t at = 44, i = 0; at + 3 < wav.size(); at += 4, ++i) {
        const double v = Amplitude(-20) * std::sin(2 * M_PI * 1000 * i / kRate) +
                         Amplitude(-12) * std::sin(2 * M_PI * 15000 * i / kRate);
        const auto s = static_cast<std::int16_t>(std::lround(32767 * v));
        peak = std::max(peak, std::abs(int{s}));
        wav[at] = wav[at + 2] = char(s);
        wav[at + 1] = wav[at + 3] = char(s >> 8);
    }
    Write(bright, wav);
    facts = AnalyseFile(bright);
    ASSERT_TRUE(facts);
    EXPECT_NEAR(facts->peakDbfs, 20 * std::log10(peak / 32768.0), 0.01);

    // Silent head and tail (with a hum far below the music), at times off the analysis' own steps.
    const std::string framed = dir.path() + "/framed.wav";
    Write(framed, Stretches({{1.23, 0}, {3.0, Amplitude(-20)}, {0.4, 0}, {0.5, Amplitude(-30)}, {2.61, 0}}));
    facts = AnalyseFile(framed);
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->audible);
    EXPECT_NEAR(facts->firstSound, 1.23, 0.05);
    EXPECT_NEAR(facts->lastSound, 1.23 + 3.0 + 0.4 + 0.5, 0.05);
    EXPECT_NEAR(facts->decodedSeconds, 1.23 + 3.0 + 0.4 + 0.5 + 2.61, 1e-3);
    for (int band = 0; band < 3; ++band) {  // the hum alone at either end
        EXPECT_LT(facts->headEdge.rmsDb[band], -70);
        EXPECT_LT(facts->tailEdge.rmsDb[band], -70);
    }

    // Digital silence, and a hum alone, hold no sound; a file that is not audio gives nothing at all.
    const std::string silence = dir.path() + "/silence.wav", hum = dir.path() + "/hum.wav";
    Write(silence, quendo::testing::ToneWav(5, 0, 0, kRate));
    Write(hum, Stretches({{5, 0}}));
    for (const std::string& path : {silence, hum}) {
        facts = AnalyseFile(path);
        ASSERT_TRUE(facts) << path;
        EXPECT_FALSE(facts->audible) << path;
    }
    const std::string text = dir.path() + "/notes.mp3";
    Write(text, std::string(5000, 'x'));
    EXPECT_FALSE(AnalyseFile(text));
}

TEST(TrackAnalysis, CacheKeepsResultsAcrossRunsAndSurvivesDamage) {
    quendo::testing::TempDir dir;
    const std::string cache = dir.path() + "/facts.cache";
    const std::string track = dir.path() + "/tone\tname\n.wav";  // a name the cache must escape
    Write(track, quendo::testing::ToneWav(4, 1000, Amplitude(-23), kRate));

    // A foreign file where the cache should be is ignored, and replaced.
    Write(cache, std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'));
    {
        TrackAnalyser analyser(cache);
        EXPECT_FALSE(analyser.Facts(track));  // nothing before it is wanted
        const auto facts = WaitForFacts(analyser, track);
        ASSERT_TRUE(facts);
        EXPECT_NEAR(facts->integratedLufs, -23.0, 0.1);
    }
    auto kept = audio::ParseFactsCache(Read(cache));
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_TRUE(kept.count(track));

    // The next run takes the cached facts without decoding: a marked value in the cache shows
    // through. Damaged lines beside it are ignored and gone after the next save.
    kept[track].facts.integratedLufs = -42.5;
    // The facts that later analyses add, with texts the cache must escape, come back the same.
    TrackFacts& marked = kept[track].facts;
    marked.beats = {128, 0.5, 60.0 / 128, 2};
    marked.key = 14;
    marked.tags = {"Art\\ist\twith tabs", "Title\r\nover lines", "", 3, 1};
    std::string text = audio::FormatFactsCache(kept);
    // A few kinds of damage; the cache's fuzz target tries every other.
    const std::string damaged[] = {
        "garbage\n",
        "12 34 0 1 nan -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0\t/x.mp3\t\t\t\n",
        "12 34 0 1 -20 -1 5 3 1 5 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0\t/first-after-last.mp3\t\t\t\n",
        "12 34 0 1 -20 -1 0 3 1 2 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0\t/sound-after-the-end.mp3\t\t\t\n",
        "12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 24 0 0 0\t/no-such-key.mp3\t\t\t\n",
        "12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0\t/cut-off.mp3\t\t",
    };
    for (const std::string& line : damaged) text += line;
    Write(cache, text);
    {
        TrackAnalyser analyser(cache);
        const auto facts = WaitForFacts(analyser, track);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->integratedLufs, -42.5);
        EXPECT_EQ(std::tie(facts->beats.period, facts->beats.barPhase, facts->key, facts->tags.artist, facts->tags.title),
                  std::tie(marked.beats.period, marked.beats.barPhase, marked.key, marked.tags.artist, marked.tags.title));
    }
    int dropped = -1;
    kept = audio::ParseFactsCache(Read(cache), &dropped);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(kept.size(), 1u);

    // One whose outline the cache lacks (an older layout's, or one that made room) answers from
    // the cache, and is heard again once for its outline.
    ASSERT_TRUE(kept[track].facts.wave);
    kept[track].facts.wave.reset();
    Write(cache, audio::FormatFactsCache(kept));
    {
        TrackAnalyser analyser(cache);
        ASSERT_TRUE(WaitForFacts(analyser, track));
        const auto outlined = FactsOnceSo(analyser, track, [](const TrackFacts& f) { return f.wave != nullptr; });
        ASSERT_TRUE(outlined);
        EXPECT_NEAR(outlined->wave->pointSeconds * static_cast<double>(outlined->wave->points[0].size()), 4, 0.1);
    }
    EXPECT_TRUE(audio::ParseFactsCache(Read(cache))[track].facts.wave);

    // A file changed since (same size, new time) is analysed again.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, track.c_str(), times, 0), 0);
    {
        TrackAnalyser analyser(cache);
        const auto facts = WaitForFacts(analyser, track);
        ASSERT_TRUE(facts);
        EXPECT_NEAR(facts->integratedLufs, -23.0, 0.1);
    }
    EXPECT_NEAR(audio::ParseFactsCache(Read(cache))[track].facts.integratedLufs, -23.0, 0.1);
}

TEST(TrackAnalysis, DamagedAndMultichannelFilesAreMeasuredAsTheyAreHeard) {
    quendo::testing::TempDir dir;
    // Float WAVs: a -23 dBFS tone from 1 s to 9 s of 10 s, then the same with damage the output
    // silences (NaN, infinities) or clips (far past full scale).
    quendo::testing::WavSpec floating, sixChannels;
    floating.tag = 3;
    floating.bits = 32;
    sixChannels.channels = 6;
    auto floatWav = [&](const std::string& name, const std::function<void(std::uint32_t, float&)>& damage) {
        Write(dir / name, quendo::testing::MakeWav(floating, 10 * kRate, [&](std::uint32_t i, int) {
            float v = i >= kRate && i < 9u * kRate ? static_cast<float>(Amplitude(-23) * std::sin(2 * M_PI * 1000.0 * i / kRate)) : 0.0f;
            damage(i, v);
            return std::bit_cast<std::int32_t>(v);
        }));
        return dir / name;
    };
    const auto expected = AnalyseFile(floatWav("clean.wav", [](std::uint32_t, float&) {}));
    ASSERT_TRUE(expected);
    ASSERT_NEAR(expected->integratedLufs, -23, 0.2);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::function<void(std::uint32_t, float&)> damage;
        double lufsWithin, peakDbfs;
    } cases[] = {
        // NaN where the measure starts and in its midst, and infinities of either sign.
        {"non-finite", [&](std::uint32_t i, float& v) { v = i == 0 || i == 5u * kRate ? nan : i % kRate == 7 ? (i % 2 ? inf : -inf) : v; },
         0.05, expected->peakDbfs},
        // Ten samples heard as a click at full scale, no louder.
        {"huge", [&](std::uint32_t i, float& v) { if (i >= 5u * kRate && i < 5u * kRate + 10) v = 1e30f; }, 0.1, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto facts = AnalyseFile(floatWav(std::string(c.name) + ".wav", c.damage));
        ASSERT_TRUE(facts);
        EXPECT_TRUE(facts->audible);
        EXPECT_NEAR(facts->integratedLufs, expected->integratedLufs, c.lufsWithin);
        EXPECT_NEAR(facts->peakDbfs, c.peakDbfs, 0.01);
        EXPECT_NEAR(facts->firstSound, expected->firstSound, 0.001);
        EXPECT_NEAR(facts->lastSound, expected->lastSound, 0.001);
    }

    // A 5.1 file with its sound in front, left, right and centre: its peak and its loudness are
    // those of the stereo downmix that the decks play (the channels' own peaks lie 3 dB higher).
    const std::string surround = dir / "surround.wav";
    Write(surround, quendo::testing::MakeWav(sixChannels, 5 * kRate, [](std::uint32_t i, int channel) {
        return channel < 3 ? static_cast<std::int32_t>(std::lround(32767 * Amplitude(-10) * std::sin(2 * M_PI * 1000.0 * i / kRate))) : 0;
    }));
    float played = 0;
    ASSERT_GT(quendo::testing::DecodedSeconds(surround, kRate, &played), 4.9);
    ASSERT_LT(20 * std::log10(played), -12);
    const auto facts = AnalyseFile(surround);
    ASSERT_TRUE(facts);
    EXPECT_NEAR(facts->peakDbfs, 20 * std::log10(played), 0.05);
    EXPECT_NEAR(facts->integratedLufs, facts->peakDbfs, 0.2);  // a sine's, as the EBU's own signal
}

TEST(TrackAnalysis, AFailedReadIsNoEnd) {
    quendo::testing::TempDir dir;
    const std::string track = Tone(dir / "track.wav", 6, -23);
    // Cut to 3 s while it is open, as a share that drops out: what follows cannot be read, and
    // nothing is measured.
    quendo::audio::AudioDecoder decoder(22050);
    ASSERT_TRUE(decoder.Open(track));
    ASSERT_EQ(::truncate(track.c_str(), 44 + 3 * 4 * kRate), 0);
    AnalysisEnd end = AnalysisEnd::kMeasured;
    EXPECT_FALSE(quendo::audio::Analyse(decoder, nullptr, &end));
    EXPECT_EQ(end, AnalysisEnd::kFailed);
    // Cut before it is opened, the file ends where it is cut.
    const auto facts = AnalyseFile(track, nullptr, 0, &end);
    ASSERT_TRUE(facts);
    EXPECT_EQ(end, AnalysisEnd::kMeasured);
    EXPECT_NEAR(facts->lastSound, 3, 0.05);
}

TEST(TrackAnalysis, CacheKeepsABeatGridOnlyWhereItsTempoAndPeriodAgree) {
    // {bpm, period, kept}; a period of 1e-300 overflows any beat count made with it.
    const std::tuple<const char*, const char*, bool> rows[] = {{"128", "0.46875", true}, {"30", "2", true},
        {"128", "1e-300", false}, {"128", "0.5", false}, {"1000", "0.06", false}, {"20", "3", false}};
    for (const auto& [bpm, period, kept] : rows) {
        const std::string line = std::string("12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 ") + bpm + " 0.5 " +
                                 period + " 2 -1 0 0 0\t/x.mp3\t\t\t\n";
        int dropped = -1;
        auto cache = audio::ParseFactsCache("quendo-track-facts 5\n" + line, &dropped);
        const BeatGrid& grid = cache["/x.mp3"].facts.beats;  // the entry stays, its other facts worth keeping
        EXPECT_EQ(std::tuple(cache.size(), grid.Steady(), grid.barPhase, dropped),
                  std::tuple(1u, kept, kept ? 2 : -1, kept ? 0 : 1)) << line;  // dropped: written clean
    }
}

TEST(TrackAnalysis, TagsThatCouldNotBeReadAreTriedAgainInTheNextRun) {
    quendo::testing::TempDir dir;
    const std::string cache = dir / "analysis.cache", track = dir / "tagged.wav";
    // A WAV with an ID3v2 chunk naming its artist.
    std::string wav = quendo::testing::ToneWav(2, 1000, Amplitude(-20), kRate);
    const std::string tag = std::string("ID3\x03\0\0\0\0\0\x10", 10) + "TPE1" + std::string("\0\0\0\x06\0\0\0", 7) + "Tides";
    const auto le32 = [](std::size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    wav += "id3 " + le32(tag.size()) + tag;
    wav.replace(4, 4, le32(wav.size() - 8));
    Write(track, wav);
    bool failed = true;
    ASSERT_EQ(audio::ReadTags(track, &failed).artist, "Tides");
    EXPECT_FALSE(failed);
    audio::ReadTags(dir / "missing.wav", &failed);
    EXPECT_TRUE(failed);

    // The facts as a run whose tag read failed left them; the marked loudness shows they are
    // not decoded again.
    audio::FactsCache facts;
    facts[track] = {*audio::KeyOf(track), TrackFacts{}, std::time(nullptr), audio::kAnalysisVersion, false, true};
    facts[track].facts.integratedLufs = -42.5;
    facts[track].facts.audible = true;
    Write(cache, audio::FormatFactsCache(facts));
    {
        TrackAnalyser analyser(cache);
        const auto read = WaitForFacts(analyser, track).value_or(TrackFacts{});
        EXPECT_EQ(std::tie(read.integratedLufs, read.tags.artist), std::tuple(-42.5, "Tides"));
    }
    const auto saved = audio::ParseFactsCache(Read(cache))[track];
    EXPECT_EQ(std::tie(saved.tagsFailed, saved.facts.tags.artist), std::tuple(false, "Tides"));
}

TEST(TrackAnalysis, ASaveWaitsForAnotherCopysLockOnAFileOpenedForWriting) {
    quendo::testing::TempDir dir;
    const std::string cache = dir / "analysis.cache", track = Tone(dir / "a.wav", 2, -20);
    // Another copy's lock, as one taken for writing: what an NFS home honours.
    const int other = ::open((cache + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    TrackAnalyser analyser(cache);
    ASSERT_TRUE(WaitForFacts(analyser, track));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(std::filesystem::exists(cache));
    ::close(other);
    EXPECT_TRUE(Eventually([&] { return audio::ParseFactsCache(Read(cache)).count(track) == 1; }));
}

TEST(TrackAnalysis, AWorkerHeldInAReadIsGivenUpAndTheCacheSavedWithoutIt) {
    // A write lease holds anyone else's open() of the file (until it is let go or the kernel's
    // break time runs out), as a hard-mounted share gone away holds a read. The lease's break is
    // told by SIGIO, whose default would end the test.
    quendo::testing::TempDir dir;
    const std::string known = Tone(dir / "known.wav", 2, -20), held = Tone(dir / "held.wav", 2, -20);
    const std::string cache = dir / "analysis.cache";
    const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    const auto sigio = std::signal(SIGIO, SIG_IGN);
    const int lease = ::open(held.c_str(), O_WRONLY | O_CLOEXEC);
    if (::fcntl(lease, F_SETLEASE, F_WRLCK) != 0) {
        std::signal(SIGIO, sigio);
        GTEST_SKIP() << "no leases here";
    }
    auto analyser = std::make_unique<TrackAnalyser>(cache);
    analyser->Want({known, held});  // the first one's facts are not saved while the next is worked on
    ASSERT_TRUE(FactsOnceSo(*analyser, known));
    ASSERT_TRUE(Eventually([&] { return ::fcntl(lease, F_GETLEASE) != F_WRLCK; }));  // the worker's open() waits
    // Counted with the worker there: a sanitizer's own threads may have come with it.
    const auto withWorker = threads();
    const auto start = std::chrono::steady_clock::now();
    analyser.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(audio::ParseFactsCache(Read(cache)).count(known), 1u);
    // Let go, the worker ends of itself, and takes its state with it.
    ::fcntl(lease, F_SETLEASE, F_UNLCK);
    ::close(lease);
    EXPECT_TRUE(Eventually([&] { return threads() < withWorker; }));
    EXPECT_EQ(audio::ParseFactsCache(Read(cache)).count(held), 0u);
    std::signal(SIGIO, sigio);
}

TEST(TrackAnalysis, FactsFollowTheFileAsItChanges) {
    quendo::testing::TempDir dir;
    const std::string track = Tone(dir / "track.wav", 3, -30), other = Tone(dir / "other.wav", 2, -20), copying = dir / "copying.wav";
    TrackAnalyser analyser(dir / "facts.cache");
    EXPECT_NEAR(Lufs(WaitForFacts(analyser, track)), -30, 0.2);

    // A sync replaces the quiet track with a loud master of another length, keeping its time.
    struct stat before {};
    ASSERT_EQ(::stat(track.c_str(), &before), 0);
    Tone(track, 4, -12);
    const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, track.c_str(), times, 0), 0);
    analyser.Want({track});
    EXPECT_NEAR(Lufs(FactsOnceSo(analyser, track, [](const TrackFacts& f) { return f.integratedLufs > -20; })), -12, 0.2);

    // A file still being copied holds no audio yet; once the copy is done, it is tried again.
    Write(copying, quendo::testing::ToneWav(2, 1000, Amplitude(-20), kRate).substr(0, 30));
    analyser.Want({copying, other});
    ASSERT_TRUE(FactsOnceSo(analyser, other));  // the more urgent one was tried first
    EXPECT_FALSE(analyser.Facts(copying));
    Tone(copying, 2, -20);
    EXPECT_NEAR(Lufs(FactsOnceSo(analyser, copying)), -20, 0.2);
}

TEST(TrackAnalysis, OnlyTheLatestWishesAreAnalysed) {
    quendo::testing::TempDir dir;
    const std::string cache = dir / "facts.cache";
    std::vector<std::string> tracks;
    for (int i = 0; i < 7; ++i) tracks.push_back(Tone(dir / ("track" + std::to_string(i) + ".wav"), i == 1 ? 60 : 20, -20 - i));
    {
        TrackAnalyser analyser(cache);
        ASSERT_TRUE(WaitForFacts(analyser, tracks[0]));
        // Shuffle moves the head to the end again and again as a track starts: each move wishes
        // for the playing track, the new head and the entry after it. The long first head is
        // being analysed when it is no longer wanted, and is dropped.
        analyser.Want({tracks[0], tracks[1], tracks[2]});
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (int head = 2; head + 1 < 7; ++head) analyser.Want({tracks[0], tracks[head], tracks[head + 1]});
        ASSERT_TRUE(FactsOnceSo(analyser, tracks[5]));
        ASSERT_TRUE(FactsOnceSo(analyser, tracks[6]));
        for (int dropped = 1; dropped < 5; ++dropped) EXPECT_FALSE(analyser.Facts(tracks[dropped])) << dropped;
    }
    const auto kept = audio::ParseFactsCache(Read(cache));
    EXPECT_EQ(kept.size(), 3u);
    for (int dropped = 1; dropped < 5; ++dropped) EXPECT_FALSE(kept.count(tracks[dropped])) << dropped;
}

TEST(TrackAnalysis, TwoCopiesShareTheCacheWhichKeepsToItsBound) {
    quendo::testing::TempDir dir;
    const std::string cache = dir / "facts.cache", first = Tone(dir / "first.wav", 2, -20), second = Tone(dir / "second.wav", 2, -25);
    // Left by earlier runs: a file since deleted, and one on a share that is not mounted now.
    const std::string deleted = dir / "deleted.wav", unmounted = "/quendo-share-not-mounted/kept.wav";
    Write(cache, "quendo-track-facts 5\n" + CacheLine(deleted, std::time(nullptr)) + CacheLine(unmounted, std::time(nullptr)));
    auto saved = [&](const std::string& path) { return Eventually([&] { return audio::ParseFactsCache(Read(cache)).count(path) > 0; }); };
    {
        TrackAnalyser one(cache), another(cache);
        ASSERT_TRUE(WaitForFacts(one, first) && saved(first));
        ASSERT_TRUE(WaitForFacts(another, second) && saved(second));
    }
    const auto kept = audio::ParseFactsCache(Read(cache));
    EXPECT_TRUE(kept.count(first));  // the other copy's save kept it
    EXPECT_TRUE(kept.count(second));
    EXPECT_FALSE(kept.count(deleted));
    EXPECT_TRUE(kept.count(unmounted));

    // Past its bound, in entries or in bytes, the least recently wanted go.
    audio::FactsCache many;
    for (int i = 0; i < 10; ++i) many["/music/" + std::to_string(i) + ".mp3"].used = 100 + (i * 7) % 10;
    audio::BoundFactsCache(many, 6, audio::FormatFactsCache(many).size() / 2);
    EXPECT_EQ(many.size(), 4u);
    for (const auto& [path, cached] : many) EXPECT_GE(cached.used, 106) << path;
}

// The library in the background: never while held, giving way to a wish at once, and a file
// without audio settled as one that cannot be read; one that is not there leaves the count. The pass that a
// later run begins again takes what the cache knows of each file as it is now, without decoding
// it: the facts are there for the draw, though no one wished for them.
TEST(TrackAnalysis, TheBackgroundPassWorksBetweenWishesAndHoldsAndGoesOnFromTheCache) {
    quendo::testing::TempDir dir;
    const std::string cache = dir / "facts.cache", wished = Tone(dir / "wished.wav", 2, -20), wishedLater = Tone(dir / "later.wav", 2, -20);
    const std::vector<std::string> library = {Tone(dir / "a.wav", 2, -20), Tone(dir / "b.wav", 2, -20),
                                              Tone(dir / "long.wav", 300, -20, 8000), dir / "notes.mp3", dir / "gone.wav"};
    Write(library[3], std::string(5000, 'x'));
    {
        TrackAnalyser analyser(cache);
        analyser.HoldBackground(true);
        analyser.AnalyseInBackground(library);
        ASSERT_TRUE(WaitForFacts(analyser, wished));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const std::string& path : library) EXPECT_FALSE(analyser.Facts(path)) << path;
        EXPECT_EQ(Progress(analyser, 0), std::tuple(0, 0, 5));

        // Released, the long file is under way when a wish comes: the wish is done first.
        analyser.HoldBackground(false);
        Progress(analyser, 2);
        ASSERT_TRUE(WaitForFacts(analyser, wishedLater));
        EXPECT_FALSE(analyser.Facts(library[2]));
        EXPECT_EQ(Progress(analyser), std::tuple(3, 1, 4));  // the file of text cannot be read
        for (int i : {0, 1, 2}) EXPECT_TRUE(analyser.Facts(library[i])) << i;
    }
    auto kept = audio::ParseFactsCache(Read(cache));
    for (int i : {0, 1, 2}) ASSERT_TRUE(kept.count(library[i])) << i;
    for (auto& entry : kept) entry.second.facts.integratedLufs = -42.5;  // shows what was not decoded again
    Write(cache, audio::FormatFactsCache(kept));
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, library[1].c_str(), times, 0), 0);  // changed since

    TrackAnalyser analyser(cache);
    analyser.AnalyseInBackground(library);
    EXPECT_EQ(Progress(analyser), std::tuple(3, 1, 4));  // the file of text cannot be read
    // Once what it found is saved, too.
    Eventually([&] { return audio::ParseFactsCache(Read(cache))[library[1]].facts.integratedLufs > -30; });
    EXPECT_EQ(Lufs(analyser.Facts(library[0])), -42.5);
    EXPECT_EQ(Lufs(analyser.Facts(library[2])), -42.5);
    EXPECT_NEAR(Lufs(analyser.Facts(library[1])), -20, 0.1);
}
