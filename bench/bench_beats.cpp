// The tempo, beat grid, bars and key that the analysis finds, on synthesized music whose truth is
// known, and what finding them costs per minute of sound at the analysis' rate (CPU time of this
// thread; the key detectors are kept from track to track, as the analysis thread keeps them).
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "analysis/BeatTracker.h"
#include "analysis/KeyFinder.h"
#include "support/MusicSynth.h"

namespace {

using quendo::testing::Groove;
using quendo::testing::MusicSpec;
using quendo::testing::SynthesizeMusic;

constexpr int kRate = 22050;
constexpr int kBlock = kRate / 20;  // the analysis' 50 ms windows

using bench::ThreadCpu;

const char* Name(Groove g) {
    switch (g) {
        case Groove::FourOnTheFloor: return "four";
        case Groove::Breakbeat: return "break";
        case Groove::Swing: return "swing";
        case Groove::Drifting: return "drift";
        case Groove::Pad: return "pad";
    }
    return "?";
}

// Feeds `analyser` the sound in the analysis' blocks; returns the CPU seconds it took.
template <class A>
double Feed(A& analyser, const std::vector<float>& stereo) {
    const int frames = static_cast<int>(stereo.size() / 2);
    const double t0 = ThreadCpu();
    for (int at = 0; at < frames; at += kBlock) analyser.Add(stereo.data() + 2 * at, std::min(kBlock, frames - at));
    return ThreadCpu() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);

    if (figures.Wants("beat_tempo_error_pct") || figures.Wants("beat_phase_error_ms_max") ||
        figures.Wants("bar_start_right_fraction") || figures.Wants("beat_analysis_ms_per_minute")) {
        // Twelve steady tracks from 72 to 174 BPM, two of them fading in, then two without a steady
        // beat. A beat missed or invented counts as a tempo error of 100 %; the phase is the worst
        // distance of a true beat from the grid's nearest one, over the whole track.
        const MusicSpec set[] = {
            {Groove::FourOnTheFloor, 124, 0, 150, 0.6, 0, 0, 1},
            {Groove::FourOnTheFloor, 128, 9, 150, 1.2, 12, 2, 2},
            {Groove::FourOnTheFloor, 140.5, 19, 120, 0.3, 0, 1, 3},
            {Groove::FourOnTheFloor, 174, 4, 120, 0.8, 0, 3, 4},
            {Groove::FourOnTheFloor, 84, 14, 150, 0.5, 0, 0, 5},
            {Groove::Breakbeat, 90, 21, 150, 0.4, 0, 1, 6},
            {Groove::Breakbeat, 136, 7, 120, 1.0, 0, 0, 7},
            {Groove::Breakbeat, 172, 16, 120, 0.6, 0, 2, 8},
            {Groove::Breakbeat, 110, 2, 150, 0.9, 16, 3, 9},
            // Short breakbeats near 127, which a tracker easily counts in beats and a half.
            {Groove::Breakbeat, 127, 2, 80, 1.2, 0, 2, 23},
            {Groove::Breakbeat, 127, 9, 80, 0.8, 0, 2, 24},
            {Groove::Swing, 96, 5, 150, 0.5, 0, 0, 10},
            {Groove::Swing, 118, 22, 150, 0.7, 0, 1, 11},
            {Groove::Swing, 72, 11, 150, 0.5, 0, 2, 12},
            {Groove::Pad, 100, 3, 150, 0.5, 4, 0, 13},
            {Groove::Drifting, 122, 8, 150, 0.5, 0, 0, 14},
        };
        double worstTempo = 0, worstPhase = 0, seconds = 0, cpu = 0;
        int bars = 0, barsRight = 0;
        for (const MusicSpec& spec : set) {
            const auto music = SynthesizeMusic(spec, kRate);
            quendo::audio::BeatTracker tracker(kRate, spec.seconds);
            cpu += Feed(tracker, music.stereo);
            const double t0 = ThreadCpu();
            const quendo::BeatGrid grid = tracker.Finish(spec.lead);
            cpu += ThreadCpu() - t0;
            seconds += spec.seconds;

            double tempoError = 0, phaseError = 0;
            bool barRight = false;
            if (music.bpm == 0 || !grid.Steady()) {
                tempoError = music.bpm == 0 && !grid.Steady() ? 0 : 100;  // a beat invented or missed
            } else {
                tempoError = std::fabs(grid.bpm - music.bpm) / music.bpm * 100;
                for (double t : music.beats) {
                    const double k = std::round((t - grid.firstBeat) / grid.period);
                    phaseError = std::max(phaseError, std::fabs(grid.firstBeat + k * grid.period - t));
                }
                const double k = std::round((music.downbeats.front() - grid.firstBeat) / grid.period);
                barRight = grid.barPhase >= 0 && ((static_cast<long>(k) - grid.barPhase) % 4 + 4) % 4 == 0;
                worstPhase = std::max(worstPhase, phaseError);
            }
            worstTempo = std::max(worstTempo, tempoError);
            if (spec.groove == Groove::FourOnTheFloor || spec.groove == Groove::Breakbeat) {
                ++bars;
                barsRight += barRight;
            }
            std::fprintf(stderr, "bench_beats: %-5s %6.2f BPM%s: found %8.3f BPM (%.4f %%), phase %4.1f ms, bar %s\n",
                         Name(spec.groove), spec.bpm, spec.fadeIn > 0 ? " fading in" : "", grid.bpm, tempoError,
                         phaseError * 1000, !grid.Steady() ? "-" : barRight ? "right" : "wrong");
        }
        figures.Print("beat_tempo_error_pct", worstTempo, "%");
        figures.Print("beat_phase_error_ms_max", worstPhase * 1000, "ms");
        figures.Print("bar_start_right_fraction", static_cast<double>(barsRight) / bars, "fraction");
        figures.Print("beat_analysis_ms_per_minute", cpu * 1000 / (seconds / 60), "ms");
    }

    if (figures.Wants("key_detection_accuracy") || figures.Wants("key_analysis_ms_per_minute")) {
        static const char* kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
        const Groove grooves[] = {Groove::FourOnTheFloor, Groove::Breakbeat, Groove::Swing, Groove::Pad};
        int right = 0;
        double seconds = 0, cpu = 0;
        for (int key = 0; key < 24; ++key) {
            MusicSpec spec;
            spec.groove = grooves[key % 4];
            spec.bpm = 96 + 4 * key;
            spec.key = key;
            spec.seconds = 90;
            spec.seed = 100 + static_cast<std::uint32_t>(key);
            const auto music = SynthesizeMusic(spec, kRate);
            quendo::audio::KeyFinder finder(kRate);
            cpu += Feed(finder, music.stereo);
            const double t0 = ThreadCpu();
            const int found = finder.Finish();
            cpu += ThreadCpu() - t0;
            seconds += spec.seconds;
            // The relative key shares the notes: right too.
            const int relative = key < 12 ? 12 + (key + 9) % 12 : (key + 3) % 12;
            const bool ok = found == key || found == relative;
            right += ok;
            std::fprintf(stderr, "bench_beats: %-2s %s: found %s %s%s\n", kNames[key % 12], key < 12 ? "major" : "minor",
                         found < 0 ? "none" : kNames[found % 12], found < 0 ? "" : found < 12 ? "major" : "minor",
                         ok ? "" : "  (wrong)");
        }
        figures.Print("key_detection_accuracy", right / 24.0, "fraction");
        figures.Print("key_analysis_ms_per_minute", cpu * 1000 / (seconds / 60), "ms");
    }
    return 0;
}
