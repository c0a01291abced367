// Short shows, each with one thing in its middle that could stop a show or slip it: a mix that
// reaches past its track's end, a file that stops answering in a mix, an album whose next part is
// gone, a pause at an album's cut, a head skipped after its mix was planned, a damaged MP3. Each is
// played as a playlist by the program's core on the real engine offline, from a cold analysis,
// paced as bench_show paces its show. A show stops when a track after the thing never plays, or
// when the silence heard between its first sound and its last exceeds 2.5 s.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Show.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/MusicSynth.h"
#include "support/StallingDecoding.h"

namespace {

using quendo::Core;
constexpr int kRate = bench::kShowRate;
constexpr int kTick = bench::kShowTick;
constexpr double kStopSilence = 2.5;  // seconds of dead air that count as a stop
constexpr double kPlayed = 2.0;       // seconds of a file heard moving for it to count as played

// ---- the files ----

std::vector<float> Music(double bpm, double seconds, int key, std::uint32_t seed, double lead = 0.3) {
    quendo::testing::MusicSpec spec;
    spec.bpm = bpm;
    spec.seconds = seconds;
    spec.key = key;
    spec.seed = seed;
    spec.lead = lead;
    return quendo::testing::SynthesizeMusic(spec, kRate).stereo;
}

void WriteWav(const quendo::testing::TempDir& dir, const std::string& rel, const std::vector<float>& stereo) {
    dir.WriteFile(rel, quendo::testing::StereoWav(stereo, kRate));
}

bool Ffmpeg(std::vector<std::string> args) {
    std::vector<std::string> all{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    return bench::ChildCpuSeconds(all) >= 0;
}

long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void WriteBytes(const std::string& path, long at, const std::vector<char>& bytes, bool truncate) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary | (truncate ? std::ios::trunc : std::ios::openmode{}));
    f.seekp(at);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<char> out(n);
    for (char& c : out) c = static_cast<char>(gen() & 0xff);
    return out;
}

// ---- one short show ----

struct Entry {
    std::string folder;  // "" the music folder itself; else a folder of it (an album)
    std::string name;
};

// What a case's hooks see of the show.
struct Show {
    Core& core;
    quendo::audio::TrackAnalyser& analyser;
    const quendo::testing::TempDir& dir;
    bench::Tap* decks[2];
    bool paused = false;  // by the case's listener: the silence then is no dead air
    int tick = 0;
};

struct Played {
    double advanced = 0;  // seconds of the file heard moving forward
    double last = -1;     // its position at the last tick it moved
    double maxPosition = 0;
    int passes = 0;        // times it started over from an earlier place
    struct Step {
        double at, rate;  // its position at the tick's end, and the file's seconds per second heard
        bool together;    // with the other deck moving
    };
    std::vector<Step> steps;
    double afterSeconds(double from) const {
        double s = 0;
        for (const Step& t : steps) s += t.at > from ? t.rate * 0.1 : 0;
        return s;
    }
};

struct Heard {
    std::string dir;
    double deadAir = 0;
    double together = 0;  // seconds both decks moved, keyed by the pair's files
    std::map<std::pair<std::string, std::string>, double> pairs;
    std::map<std::string, Played> files;  // by relative path
    bool ended = false;
    const Played& Of(const std::string& rel) const {
        static const Played none;
        const auto it = files.find(rel);
        return it == files.end() ? none : it->second;
    }
    double Together(const std::string& a, const std::string& b) const {
        double s = 0;
        for (const auto& [pair, seconds] : pairs)
            if ((pair.first == a && pair.second == b) || (pair.first == b && pair.second == a)) s += seconds;
        return s;
    }
};

struct Case {
    Case(const char* n, std::vector<Entry> p, std::vector<std::string> m)
        : name(n), playlist(std::move(p)), mustPlay(std::move(m)) {}
    const char* name;
    std::vector<Entry> playlist;
    std::vector<std::string> mustPlay;  // relative paths of the tracks after the thing
    std::string stallFile;              // relative; stops answering after stallFrames frames
    long stallFrames = 0;
    std::function<void(Core&)> setUp;
    std::function<void(Show&)> onTick;  // after each tick
    // A fault of the case's own beyond a stop, in words; "" none.
    std::function<std::string(const Heard&)> check;
};

std::string Relative(const std::string& dir, const std::string& path) {
    return path.rfind(dir + "/", 0) == 0 ? path.substr(dir.size() + 1) : path;
}

Heard PlayCase(const quendo::testing::TempDir& dir, const Case& c) {
    using namespace quendo;
    Heard h;
    h.dir = dir.path();
    std::vector<double> windows;
    testing::StallingDecoding decoding;  // outlives the engine, whose decoder threads read through it
    if (!c.stallFile.empty()) decoding.StallAfter(dir / c.stallFile, c.stallFrames);
    {
        audio::TrackAnalyser analyser(dir / "facts.cache");
        audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512, &decoding}};
        bench::Tap deck1(engine.Deck1()), deck2(engine.Deck2());
        testing::CoreOver world(deck1, deck2, engine.Probe(), &analyser);
        Core& core = world.core;
        core.nodes.MusicFolder = dir.path() + "/";
        core.buttons.UP = core.buttons.Play = true;
        core.options.RadioGroup2 = epWait;
        if (c.setUp) c.setUp(core);
        std::map<std::string, std::int32_t> folders;
        for (const Entry& e : c.playlist) {
            std::int32_t parent = 0;
            if (!e.folder.empty()) {
                if (!folders.count(e.folder)) folders[e.folder] = core.nodes.AddFolderNode(0, e.folder);
                parent = folders[e.folder];
            }
            core.playlist.AddToPlaylist(core.nodes.AddFileNode(parent, e.name));
        }
        Show show{core, analyser, dir, {&deck1, &deck2}};
        std::vector<float> block(2 * kTick);
        bench::Pace pace;
        // Ticks since a deck last moved, once one has: a show silent for 30 s (longer than the
        // longest mix) has stopped, and waiting on in real time would tell no more.
        int idle = -1;
        for (; show.tick < 10 * 60 * 5 && core.deck.Timer1Enabled() && idle < 300; ++show.tick) {
            pace.Tick(deck1.PlayState() != psPlaying && deck2.PlayState() != psPlaying);
            double before[2];
            for (int d = 0; d < 2; ++d) before[d] = show.decks[d]->CurrentPosition();
            engine.render(block.data(), kTick);
            if (!show.paused) bench::AddWindows(block, windows);
            std::string moving[2];
            for (int d = 0; d < 2; ++d) {
                bench::Tap& deck = *show.decks[d];
                const double after = deck.CurrentPosition();
                if (deck.PlayState() != psPlaying || deck.file.empty() || after <= before[d] + 0.005) continue;
                const std::string rel = Relative(dir.path(), deck.file);
                Played& p = h.files[rel];
                // A start, or a jump back: a pass of its own; a seek to the first sound is the start's.
                if (p.last < 0 || before[d] < p.last - 0.5) ++p.passes;
                p.advanced += after - before[d];
                p.last = after;
                p.maxPosition = std::max(p.maxPosition, after);
                p.steps.push_back({after, (after - before[d]) / 0.1, false});
                moving[d] = rel;
            }
            if (!moving[0].empty() || !moving[1].empty()) idle = 0;
            else if (idle >= 0 && !show.paused) ++idle;
            if (!moving[0].empty() && !moving[1].empty()) {
                h.files[moving[0]].steps.back().together = h.files[moving[1]].steps.back().together = true;
                h.together += 0.1;
                h.pairs[{moving[0], moving[1]}] += 0.1;
            }
            const bool wasMixing = core.deck.isMixing();
            core.Timer1Timer();
            if (core.deck.isMixing() && !wasMixing) {
                const auto& plan = core.deck.beatPlan();
                std::fprintf(stderr, "bench_stops:   a mix from %s (%.1f s of %.1f) into %s: %s", Relative(dir.path(), core.deck.currentPath()).c_str(),
                             core.deck.CurrentPlayer().CurrentPosition(), core.deck.CurrentPlayer().Duration(),
                             core.deck.incomingName().empty() ? "the head" : core.deck.incomingName().c_str(), plan ? "in step" : "plain\n");
                if (plan) std::fprintf(stderr, " at rate %.4f from %.2f s for %.2f s\n", plan->rate, plan->start, plan->length);
            }
            if (c.onTick) c.onTick(show);
        }
        h.ended = !core.deck.Timer1Enabled();
    }
    decoding.Release();
    h.deadAir = bench::DeadAir(windows);
    return h;
}

// ---- the cases ----

constexpr const char* kOpener = "00 opener.wav";
constexpr const char* kFollower = "99 follower.wav";

// The tracks every case begins and ends with: a short one before the thing, and one after it.
void WriteFrame(const quendo::testing::TempDir& dir) {
    WriteWav(dir, kOpener, Music(124, 20, 5, 901));
    WriteWav(dir, kFollower, Music(125, 20, 7, 902));
}

std::vector<Entry> Around(std::vector<Entry> middle) {
    middle.insert(middle.begin(), Entry{"", kOpener});
    middle.push_back(Entry{"", kFollower});
    return middle;
}

// A piece cut in two, the halves side by side in a folder and untagged: sound to the cut's last
// frame and from its first.
void WriteAlbum(const quendo::testing::TempDir& dir, const std::string& folder) {
    const std::vector<float> piece = Music(124, 50, 2, 903, 0.5);
    const std::size_t cut = 2 * static_cast<std::size_t>(25 * kRate);
    WriteWav(dir, folder + "/01 part one.wav", {piece.begin(), piece.begin() + static_cast<long>(cut)});
    WriteWav(dir, folder + "/02 part two.wav", {piece.begin() + static_cast<long>(cut), piece.end()});
}

struct Made {
    Case c;
    std::string note;  // what was made, for the log
};

// At 100 BPM a bar is 2.4 s: a bar line 6 s before the end, where the mix of a 6 s lead, rounded
// to three bars (7.2 s), starts and runs past the end.
Made SlowTempoPastTheEnd(const quendo::testing::TempDir& dir) {
    WriteWav(dir, "10 slow.wav", Music(100, 42, 9, 11, 0));
    WriteWav(dir, "11 steady.wav", Music(102, 30, 4, 12));
    Case c("a_slow_bars_past_end", Around({{"", "10 slow.wav"}, {"", "11 steady.wav"}}), {"11 steady.wav", kFollower});
    return {c, "100 BPM to its last frame at 42 s, a bar line at 36 s, into 102 BPM"};
}

Made MixLongerThanFinish(const quendo::testing::TempDir& dir) {
    WriteWav(dir, "20 out.wav", Music(124, 30, 1, 21));
    WriteWav(dir, "21 in.wav", Music(124, 30, 6, 22));
    Case c("b_mix_longer_than_finish", Around({{"", "20 out.wav"}, {"", "21 in.wav"}}), {"21 in.wav", kFollower});
    c.setUp = [](Core& core) {
        core.envelope.SetMixLength(200);
        core.envelope.SetFinishingPosition(60);
        std::fprintf(stderr, "bench_stops: b: envelope mix length %d, finishing position %d, starting position %d\n",
                     core.envelope.MixLength(), core.envelope.FinishingPosition(), core.envelope.StartingPosition());
    };
    return {c, "an envelope of 20 s whose outgoing track ends 6 s into it"};
}

// The outgoing track's mix starts some 7 s before its end (30 s); its file stops answering 4 s
// before the end, some seconds into the mix.
Made StallInMix(const quendo::testing::TempDir& dir) {
    WriteWav(dir, "30 stops answering.wav", Music(124, 30, 3, 31));
    WriteWav(dir, "31 in.wav", Music(124, 30, 8, 32));
    Case c("c_stall_in_mix", Around({{"", "30 stops answering.wav"}, {"", "31 in.wav"}}), {"31 in.wav", kFollower});
    c.stallFile = "30 stops answering.wav";
    c.stallFrames = 26L * kRate;
    c.check = [](const Heard& h) {
        const double together = h.Together("30 stops answering.wav", "31 in.wav");
        return together < 0.5 ? "it stopped answering before its mix" : "";
    };
    return {c, "a file that stops answering 26 s in, mixed on the beat into 124 BPM"};
}

// The album's second part is made unreadable once its facts are known and before its first part
// ends: deleted, or its bytes replaced by noise of the same length, its time of change kept, so
// that nothing tells the change but its reading.
Made AlbumPartGone(const quendo::testing::TempDir& dir, bool deleted) {
    WriteAlbum(dir, "album");
    Case c(deleted ? "d_album_part_deleted" : "d_album_part_garbage",
           Around({{"album", "01 part one.wav"}, {"album", "02 part two.wav"}}), {kFollower});
    auto done = std::make_shared<bool>(false);
    c.onTick = [done, deleted](Show& s) {
        const std::string two = s.dir / "album/02 part two.wav";
        if (*done || Relative(s.dir.path(), s.core.deck.currentPath()) != "album/01 part one.wav" || !s.analyser.Facts(two))
            return;
        *done = true;
        if (deleted) {
            ::unlink(two.c_str());
        } else {
            struct stat st {};
            ::stat(two.c_str(), &st);
            WriteBytes(two, 0, RandomBytes(static_cast<std::size_t>(st.st_size), 41), true);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, two.c_str(), times, 0);
        }
        std::fprintf(stderr, "bench_stops: d: part two %s at %.1f s of part one\n", deleted ? "deleted" : "made noise",
                     s.core.deck.CurrentPlayer().CurrentPosition());
    };
    return {c, deleted ? "an untagged album's part two deleted after its analysis"
                       : "an untagged album's part two turned to noise after its analysis, its size and time kept"};
}

// A pause 1.2 s before the album's cut, a second long, then play again.
Made PauseAtCut(const quendo::testing::TempDir& dir) {
    WriteAlbum(dir, "album");
    Case c("e_pause_before_cut", Around({{"album", "01 part one.wav"}, {"album", "02 part two.wav"}}),
           {"album/02 part two.wav", kFollower});
    auto pausedAt = std::make_shared<int>(-1);
    c.onTick = [pausedAt](Show& s) {
        Core& core = s.core;
        if (*pausedAt < 0 && Relative(s.dir.path(), core.deck.currentPath()) == "album/01 part one.wav" &&
            core.deck.CurrentPlayer().CurrentPosition() > core.deck.CurrentPlayer().Duration() - 1.2) {
            *pausedAt = s.tick;
            std::fprintf(stderr, "bench_stops: e: paused at %.2f s of %.2f\n", core.deck.CurrentPlayer().CurrentPosition(),
                         core.deck.CurrentPlayer().Duration());
            core.buttons.Play = false;
            core.PlayClick();
            s.paused = true;
        } else if (s.paused && s.tick == *pausedAt + 10) {
            core.buttons.Play = true;
            core.PlayClick();
            s.paused = false;
        }
    };
    c.check = [](const Heard& h) -> std::string {
        const Played& two = h.Of("album/02 part two.wav");
        if (two.passes > 1) return "part two played " + std::to_string(two.passes) + " times";
        if (const double both = h.Together("album/01 part one.wav", "album/02 part two.wav"); both > 0.25)
            return "both parts at once for " + std::to_string(both) + " s";
        return "";
    };
    return {c, "a pause of 1 s, 1.2 s before an album's cut"};
}

// A mix in step planned into the head (120 into 126 BPM), then the head leaves the playlist before
// the mix: the track after it, at 100 BPM, too far from 120 for a mix in step, plays at its own.
Made SkippedHead(const quendo::testing::TempDir& dir, bool next) {
    WriteWav(dir, "40 out.wav", Music(120, 30, 0, 51));
    WriteWav(dir, "41 skipped.wav", Music(126, 30, 5, 52));
    WriteWav(dir, "42 own tempo.wav", Music(100, 30, 10, 53));
    Case c(next ? "f_head_skipped_then_next" : "f_head_skipped",
           Around({{"", "40 out.wav"}, {"", "41 skipped.wav"}, {"", "42 own tempo.wav"}}), {"42 own tempo.wav", kFollower});
    auto done = std::make_shared<bool>(false);
    c.onTick = [done, next](Show& s) {
        Core& core = s.core;
        if (*done || Relative(s.dir.path(), core.deck.currentPath()) != "40 out.wav" || core.deck.isMixing() ||
            !core.deck.beatPlan())
            return;
        *done = true;
        std::fprintf(stderr, "bench_stops: f: a mix planned into the head at rate %.4f; the head leaves at %.1f s\n",
                     core.deck.beatPlan()->rate, core.deck.CurrentPlayer().CurrentPosition());
        for (int i = 0; i < core.playlist.Count(); ++i) core.playlist.SetSelected(i, i == 0);
        core.playlist.DeleteSelectedEntries();
        if (next) core.NextClick();
    };
    c.check = [](const Heard& h) -> std::string {
        if (!h.Together("40 out.wav", "41 skipped.wav")) return "";
        return "the skipped head was heard";
    };
    return {c, next ? "a planned head deleted, then Next" : "a planned head deleted"};
}

// 300 KB of noise written over a 60 s MP3 a third of the way in. A decoder may pass over the
// noise, the music after it then heard that much earlier: the rest is heard when the file plays
// on from where the noise begins for as long as the music after it lasts, but for the mix.
Made DamagedMp3(const quendo::testing::TempDir& dir) {
    WriteWav(dir, "encode.wav", Music(124, 60, 11, 61));
    const std::string mp3 = dir / "60 damaged.mp3";
    if (!Ffmpeg({"-i", dir / "encode.wav", "-c:a", "libmp3lame", "-b:a", "192k", mp3})) {
        std::fprintf(stderr, "bench_stops: ffmpeg could not write the MP3\n");
    }
    ::unlink((dir / "encode.wav").c_str());
    const long size = FileSize(mp3), at = size / 3, n = 300 * 1024;
    WriteBytes(mp3, at, RandomBytes(static_cast<std::size_t>(n), 62), false);
    const double damageStart = 60.0 * static_cast<double>(at) / static_cast<double>(size);
    const double damageEnd = 60.0 * static_cast<double>(at + n) / static_cast<double>(size);
    Case c("g_damaged_mp3", Around({{"", "60 damaged.mp3"}}), {kFollower});
    auto told = std::make_shared<bool>(false);
    c.onTick = [told](Show& s) {
        const std::string path = s.dir / "60 damaged.mp3";
        if (*told || s.core.deck.currentPath() != path) return;
        *told = true;
        const auto facts = s.analyser.Facts(path);
        std::fprintf(stderr, "bench_stops: g: the deck tells %.2f s; the analysis: sound %.2f..%.2f s\n",
                     s.core.deck.CurrentPlayer().Duration(), facts ? facts->firstSound : -1, facts ? facts->lastSound : -1);
    };
    c.check = [damageStart, damageEnd](const Heard& h) -> std::string {
        const double rest = h.Of("60 damaged.mp3").afterSeconds(damageStart), after = 60 - damageEnd;
        return rest < after - 8 ? "only " + std::to_string(rest) + " s heard of the " + std::to_string(after) + " s after the damage" : "";
    };
    char note[160];
    std::snprintf(note, sizeof note, "a %ld-byte MP3 of 60 s, noise over bytes %ld..%ld (%.1f..%.1f s)", size, at, at + n,
                  60.0 * at / size, damageEnd);
    return {c, note};
}

// The rate a track was heard at, median, while it moved past `from`: in its mixes (with the other
// deck moving) or alone.
double MedianRate(const Played& p, double from, bool together) {
    std::vector<double> r;
    for (const Played::Step& t : p.steps)
        if (t.at > from && t.together == together) r.push_back(t.rate);
    return r.empty() ? 1 : bench::Median(r);
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("show_stops") && !figures.Wants("show_stops_dead_air_s_max") &&
        !figures.Wants("show_stops_faults") && !figures.Wants("show_stops_skipped_head_tempo_error_pct"))
        return 0;
    quendo::audio::SilenceFfmpegLog();

    int stops = 0, faults = 0;
    double deadAirMax = 0, tempoError = 0;
    using Maker = std::function<Made(const quendo::testing::TempDir&)>;
    const std::vector<Maker> makers = {
        SlowTempoPastTheEnd,
        MixLongerThanFinish,
        StallInMix,
        [](const quendo::testing::TempDir& d) { return AlbumPartGone(d, true); },
        [](const quendo::testing::TempDir& d) { return AlbumPartGone(d, false); },
        PauseAtCut,
        [](const quendo::testing::TempDir& d) { return SkippedHead(d, false); },
        [](const quendo::testing::TempDir& d) { return SkippedHead(d, true); },
        DamagedMp3,
    };
    for (const Maker& make : makers) {
        quendo::testing::TempDir dir;
        WriteFrame(dir);
        const Made m = make(dir);
        const double t0 = bench::NowSeconds();
        const Heard h = PlayCase(dir, m.c);
        std::string why;
        for (const std::string& rel : m.c.mustPlay)
            if (h.Of(rel).advanced < kPlayed) why += "; " + rel + " never played";
        if (h.deadAir > kStopSilence) why += "; dead air";
        const bool stop = !why.empty();
        std::string own = m.c.check ? m.c.check(h) : "";
        // Silent after its last track, it should have ended.
        if (!h.ended) own += (own.empty() ? "" : "; ") + std::string("the show did not end");
        stops += stop;
        faults += !own.empty();
        deadAirMax = std::max(deadAirMax, h.deadAir);
        std::fprintf(stderr, "bench_stops: %s (%s): %s, dead air %.2f s%s%s (%.1f s)\n", m.c.name, m.note.c_str(),
                     stop ? "STOP" : "plays on", h.deadAir, why.c_str(), own.empty() ? "" : ("; also: " + own).c_str(),
                     bench::NowSeconds() - t0);
        for (const auto& [rel, p] : h.files)
            std::fprintf(stderr, "bench_stops:   %-26s heard moving %5.1f s in %d pass(es), up to %5.1f s, median rate %.4f\n",
                         rel.c_str(), p.advanced, p.passes, p.maxPosition, MedianRate(p, 1, false));
        if (std::string(m.c.name).rfind("f_", 0) == 0) {
            // Against its own tempo, through the mix and after it.
            const Played& p = h.Of("42 own tempo.wav");
            const double mixed = MedianRate(p, 1, true), alone = MedianRate(p, 1, false);
            std::fprintf(stderr, "bench_stops:   the track after the skipped head heard at %.2f BPM in its mix in, %.2f BPM alone (own 100)\n",
                         100 * mixed, 100 * alone);
            tempoError = std::max({tempoError, 100 * std::fabs(mixed - 1), 100 * std::fabs(alone - 1)});
        }
    }
    std::fprintf(stderr, "bench_stops: %d stop(s), %d other fault(s)\n", stops, faults);
    figures.Print("show_stops", stops, "count");
    figures.Print("show_stops_dead_air_s_max", deadAirMax, "s");
    // Wrong without stopping: an album's parts heard at once, a stall before its mix, a damaged
    // file's rest unheard, a show that did not end after its last track.
    figures.Print("show_stops_faults", faults, "count");
    figures.Print("show_stops_skipped_head_tempo_error_pct", tempoError, "%");
    return 0;
}
