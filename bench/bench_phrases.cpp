// How a track is built on its bars, as the analysis reads it from files of synthesized dance tracks
// whose form is known: its phrase lines, its bars, where its bass comes in and goes out, its
// fade-out; and what reading the form adds to the analysis' cost. Each file is written out and
// dropped from the page cache, then analysed as the program does it.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "PhraseSynth.h"
#include "analysis/Analyse.h"
#include "analysis/FactsCache.h"
#include "analysis/Form.h"
#include "playback/engine/Decoder.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"

namespace {

using bench::BarMark;
using bench::Part;
using bench::PhraseSpec;

using bench::ThreadCpu;

using bench::OutOfMemory;

PhraseSpec Spec(double bpm, BarMark marks, std::vector<bench::Section> sections, int bassNote, std::uint32_t seed) {
    PhraseSpec s;
    s.bpm = bpm;
    s.marks = marks;
    s.sections = std::move(sections);
    s.bassNote = bassNote;
    s.key = static_cast<int>(seed * 7 % 24);
    s.seed = seed;
    return s;
}

// The band meter alone over the file, as the analysis feeds it: what the form costs on top.
double FormCpu(const std::string& path, const quendo::TrackFacts& facts) {
    quendo::audio::AudioDecoder decoder(22050);
    if (!decoder.Open(path)) return 0;
    std::vector<float> block(2 * 1102);
    double cpu = 0;
    quendo::audio::BandMeter meter(22050);
    for (int got; (got = decoder.Read(block.data(), 1102)) > 0;) {
        const double t0 = ThreadCpu();
        meter.Add(block.data(), got);
        cpu += ThreadCpu() - t0;
    }
    const double t0 = ThreadCpu();
    quendo::audio::FindForm(quendo::audio::FoldIntoBars(meter.Hops(), meter.HopSeconds(), facts.beats, facts.lastSound));
    return cpu + ThreadCpu() - t0;
}

// The band meter alone over the decoded file, with its outline or without: the difference is
// what the outline costs the analysis. The file is decoded first, so that the decoder's time does
// not blur it.
double MeterCpu(const std::string& path, bool outline) {
    quendo::audio::AudioDecoder decoder(22050);
    if (!decoder.Open(path)) return 0;
    std::vector<float> sound, block(2 * 1102);
    for (int got; (got = decoder.Read(block.data(), 1102)) > 0;) sound.insert(sound.end(), block.begin(), block.begin() + 2 * got);
    quendo::audio::BandMeter meter(22050, outline);
    const double t0 = ThreadCpu();
    for (std::size_t at = 0; at < sound.size(); at += 2 * 1102)
        meter.Add(sound.data() + at, static_cast<int>(std::min<std::size_t>(1102, (sound.size() - at) / 2)));
    return ThreadCpu() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::audio::SilenceFfmpegLog();
    const std::string dir = "/tmp/quendo-bench-phrases";
    ::mkdir(dir.c_str(), 0755);

    const auto I = [](int n) { return bench::Section{Part::Intro, n}; };
    const auto F = [](int n) { return bench::Section{Part::Full, n}; };
    const auto B = [](int n) { return bench::Section{Part::Breakdown, n}; };
    const auto O = [](int n) { return bench::Section{Part::Outro, n}; };
    const auto E = [](int n) { return bench::Section{Part::RadioEdit, n}; };
    const auto D = [](int n) { return bench::Section{Part::FadeOut, n}; };
    struct Case {
        PhraseSpec spec;
        const char* codec;  // "wav", "mp3" or "wma"
    };
    const Case cases[] = {
        {Spec(124, BarMark::Chords, {I(16), F(32), B(8), F(32), O(16)}, 33, 1), "wav"},
        {Spec(128, BarMark::Chords, {I(8), F(24), B(16), E(24)}, 36, 2), "mp3"},
        {Spec(118, BarMark::Chords, {I(4), F(32), B(8), F(16), D(8)}, 31, 3), "wav"},
        {Spec(140, BarMark::Chords, {I(8), F(32), B(8), F(32), O(8)}, 38, 4), "wma"},
        {Spec(122, BarMark::Bass, {I(4), F(16), B(8), F(32), O(8)}, 33, 5), "wav"},
        {Spec(126, BarMark::Bass, {I(8), F(32), B(8), F(24), D(16)}, 35, 6), "mp3"},
        {Spec(132, BarMark::Bass, {I(16), F(32), B(16), F(32), O(16)}, 29, 7), "wav"},
        {Spec(100, BarMark::Bass, {I(16), F(16), B(8), E(16)}, 40, 8), "wav"},
        {Spec(120, BarMark::Accent, {I(8), F(32), B(8), F(32), O(8)}, 33, 9), "wav"},
        {Spec(130, BarMark::Accent, {I(16), F(24), B(8), E(24)}, 34, 10), "mp3"},
        {Spec(125, BarMark::Accent, {I(4), F(16), B(8), F(16), D(16)}, 37, 11), "wav"},
        {Spec(136, BarMark::Accent, {I(8), F(32), B(16), F(24), O(4)}, 30, 12), "wav"},
    };

    int linesTrue = 0, linesFound = 0, linesFalse = 0, fades = 0, fadesFound = 0, fadesFalse = 0;
    std::map<BarMark, std::pair<int, int>> bars;  // right, all
    double worstBass = 0, analysisCpu = 0, formCpu = 0;
    for (const Case& c : cases) {
        const bench::PhraseTrack truth = bench::SynthesizePhrases(c.spec, 44100);
        const std::string name = dir + "/" + std::to_string(c.spec.seed);
        const std::string wav = name + ".wav", path = name + "." + c.codec;
        if (!(std::ofstream(wav, std::ios::binary) << quendo::testing::StereoWav(truth.stereo, 44100))) return 1;
        if (path != wav) {
            const std::string cmd = "ffmpeg -nostdin -loglevel error -y -i '" + wav + "' -b:a 192k '" + path + "'";
            if (std::system(cmd.c_str()) != 0) {
                std::fprintf(stderr, "bench_phrases: could not encode %s\n", path.c_str());
                return 1;
            }
        }
        if (!OutOfMemory(path)) return 1;
        const double t0 = ThreadCpu();
        const auto facts = quendo::audio::AnalyseFile(path);
        analysisCpu += ThreadCpu() - t0;
        if (!facts) return 1;
        formCpu += FormCpu(path, *facts);

        const quendo::BeatGrid& g = facts->beats;
        const quendo::TrackForm& form = facts->form;
        const double beat = 60 / c.spec.bpm, bar = 4 * beat;
        // Bars are right when the grid's bar 0 lies on a true downbeat.
        bool barsRight = false;
        if (g.Steady() && g.barPhase >= 0) {
            const double at = quendo::BarStart(g, 0);
            for (double d : truth.downbeats) barsRight = barsRight || std::fabs(d - at) < beat / 4;
        }
        auto& [right, all] = bars[c.spec.marks];
        right += barsRight, ++all;

        std::vector<double> found;
        for (int p : form.phrases) found.push_back(quendo::BarStart(g, p));
        const auto near = [&](const std::vector<double>& in, double t) {
            return std::any_of(in.begin(), in.end(), [&](double u) { return std::fabs(u - t) <= beat; });
        };
        int hit = 0, wrong = 0;
        for (double t : truth.phrases) hit += near(found, t);
        for (double t : found) wrong += !near(truth.phrases, t);
        linesTrue += static_cast<int>(truth.phrases.size()), linesFound += hit, linesFalse += wrong;

        const auto barError = [&](int foundBar, double t) {
            if (t < 0) return foundBar < 0 ? 0.0 : 99.0;
            if (foundBar < 0 || !form.Known()) return 99.0;
            return std::fabs(std::round((quendo::BarStart(g, foundBar) - t) / bar));
        };
        const double bassIn = barError(form.bassIn, truth.bassIn), bassOut = barError(form.bassOut, truth.bassOut);
        worstBass = std::max({worstBass, bassIn, bassOut});
        const double fadeError = barError(form.fadeOut, truth.fadeOut);
        if (truth.fadeOut >= 0) ++fades, fadesFound += fadeError <= 1;
        else fadesFalse += form.fadeOut >= 0;

        std::string lines;
        for (int p : form.phrases) lines += " " + std::to_string(p);
        std::string trueLines;
        for (double t : truth.phrases) trueLines += " " + std::to_string(truth.BarAt(t));
        std::fprintf(stderr,
                     "bench_phrases: %-4s %-36s bpm %.2f first %.3f/%.3f bar0 %.3f (true %.3f) %s (%d of %d); phrases%s (true%s): %d/%zu, %d false; "
                     "bass %d..%d (true %d..%d), fade %d (true %d)\n",
                     c.codec, bench::Describe(c.spec).c_str(), g.bpm, facts->firstSound, g.firstBeat,
                     g.barPhase < 0 ? -1.0 : quendo::BarStart(g, 0), truth.downbeats.front(), barsRight ? "right" : "WRONG", form.bars, truth.bars,
                     lines.c_str(), trueLines.c_str(), hit, truth.phrases.size(), wrong, form.bassIn, form.bassOut,
                     truth.BarAt(truth.bassIn), truth.BarAt(truth.bassOut), form.fadeOut,
                     truth.fadeOut < 0 ? -1 : truth.BarAt(truth.fadeOut));
    }

    figures.Print("phrase_line_accuracy", static_cast<double>(linesFound) / linesTrue, "fraction");
    figures.Print("phrase_false_lines", linesFalse, "lines");
    int right = 0, all = 0;
    static const char* kKinds[] = {"chords", "bass", "accent"};
    for (const auto& [marks, counts] : bars) {
        figures.Print(std::string("downbeat_accuracy_") + kKinds[static_cast<int>(marks)],
                      static_cast<double>(counts.first) / counts.second, "fraction");
        right += counts.first, all += counts.second;
    }
    figures.Print("downbeat_accuracy", static_cast<double>(right) / all, "fraction");
    figures.Print("bass_in_out_error_bars_max", worstBass, "bars");
    figures.Print("fade_out_found", fadesFound, (std::string("of_") + std::to_string(fades)).c_str());
    figures.Print("fade_out_false", fadesFalse, "tracks");
    const int n = static_cast<int>(std::size(cases));
    figures.Print("phrase_analysis_ms_per_track", analysisCpu * 1000 / n, "ms");
    figures.Print("form_cost_pct", formCpu / (analysisCpu - formCpu) * 100, "%");
    // And on bench_analysis' five-minute MP3, where decoding takes its usual share.
    if (figures.Wants("form_cost_pct_mp3")) {
        const std::string mp3 = bench::Make(bench::kMp3);
        if (mp3.empty() || !quendo::audio::AnalyseFile(mp3)) return 1;
        std::vector<double> analysis, form;
        for (int i = 0; i < 3; ++i) {
            const double t0 = ThreadCpu();
            const auto facts = quendo::audio::AnalyseFile(mp3);
            analysis.push_back(ThreadCpu() - t0);
            form.push_back(FormCpu(mp3, *facts));
        }
        figures.Print("form_cost_pct_mp3", bench::Median(form) / (bench::Median(analysis) - bench::Median(form)) * 100, "%");
    }
    // The outline's share of the same analysis, and what it takes in the cache.
    if (figures.Wants("waveform_share_of_analysis_pct") || figures.Wants("waveform_bytes_per_minute")) {
        const std::string mp3 = bench::Make(bench::kMp3);
        const auto facts = mp3.empty() ? std::nullopt : quendo::audio::AnalyseFile(mp3);
        if (!facts || !facts->wave) return 1;
        // The least of several runs each: what another thread's load adds is no part of the cost.
        double analysis = 1e9, with = 1e9, without = 1e9;
        for (int i = 0; i < 5; ++i) {
            const double t0 = ThreadCpu();
            quendo::audio::AnalyseFile(mp3);
            analysis = std::min(analysis, ThreadCpu() - t0);
            with = std::min(with, MeterCpu(mp3, true));
            without = std::min(without, MeterCpu(mp3, false));
        }
        figures.Print("waveform_share_of_analysis_pct", (with - without) / analysis * 100, "%");
        quendo::audio::FactsCache kept, bare;
        kept[mp3].facts = bare[mp3].facts = *facts;
        bare[mp3].facts.wave.reset();
        const double bytes = static_cast<double>(quendo::audio::FormatFactsCache(kept).size() -
                                                 quendo::audio::FormatFactsCache(bare).size());
        figures.Print("waveform_bytes_per_minute", bytes / (facts->decodedSeconds / 60), "B");
        figures.Print("waveform_points_per_second", 1 / facts->wave->pointSeconds, "points");
    }
    return 0;
}
