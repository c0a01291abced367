#pragma once
// What the benchmarks that play a whole show through the program share: the decks as the program
// sees them, the pace of the render, and the measures of what is heard (dead air, loudness).
#include <ebur128.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "model/MediaPlayer.h"

namespace bench {

constexpr int kShowRate = 44100;
constexpr int kShowTick = kShowRate / 10;  // the frames rendered between two ticks
constexpr int kDeadAirWindow = kShowRate / 20;  // the dead-air measure's window: 50 ms
constexpr double kSilenceDbfs = -50;        // a window's RMS (both channels) below this is dead air

inline double Db(double power) { return power > 0 ? 10 * std::log10(power) : -200; }

struct Ebur128Free {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};
using Meter = std::unique_ptr<ebur128_state, Ebur128Free>;
inline Meter NewMeter() { return Meter(ebur128_init(2, kShowRate, EBUR128_MODE_I)); }

inline double Lufs(const std::vector<float>& stereo) {
    Meter m = NewMeter();
    ebur128_add_frames_float(m.get(), stereo.data(), stereo.size() / 2);
    double l = -HUGE_VAL;
    ebur128_loudness_global(m.get(), &l);
    return l;
}

inline double PeakDbfs(const std::vector<float>& stereo) {
    float peak = 0;
    for (float s : stereo) peak = std::max(peak, std::fabs(s));
    return 20 * std::log10(std::max(peak, 1e-10f));
}

// A deck as the program sees it, remembering the file it was given and the last rate plan.
class Tap final : public quendo::MediaPlayer {
public:
    explicit Tap(quendo::MediaPlayer& real) : real_(real) {
        real_.EndOfStream = [this] {
            if (EndOfStream) EndOfStream();
        };
    }
    void SetFileName(const std::string& path) override {
        file = path;
        ratePlan.clear();
        real_.SetFileName(path);
    }
    double Duration() override { return real_.Duration(); }
    double CurrentPosition() override { return real_.CurrentPosition(); }
    void SetCurrentPosition(double seconds) override { real_.SetCurrentPosition(seconds); }
    void SetVolume(int volume) override { real_.SetVolume(volume); }
    void SetBalance(int balance) override { real_.SetBalance(balance); }
    void SetTrackGain(double db) override { real_.SetTrackGain(db); }
    void SetLimitedTrackGain(double db, double ceilingDbfs) override { real_.SetLimitedTrackGain(db, ceilingDbfs); }
    int PlayState() override { return real_.PlayState(); }
    bool Starved() override { return real_.Starved(); }
    void Play() override { real_.Play(); }
    void Pause() override { real_.Pause(); }
    bool CanPlayInStep() const override { return real_.CanPlayInStep(); }
    void SetRatePlan(std::vector<RatePoint> plan) override {
        ratePlan = plan;
        real_.SetRatePlan(std::move(plan));
    }
    void PlayAfterOther(double otherSeconds, bool seamless) override { real_.PlayAfterOther(otherSeconds, seamless); }
    // The bass swap reaches the engine, so that a show hears what the program plays.
    bool CanCutBass() const override { return real_.CanCutBass(); }
    void SetBassPlan(std::vector<BassPoint> plan) override { real_.SetBassPlan(std::move(plan)); }

    std::string file;
    std::vector<RatePoint> ratePlan;  // of this file; empty: its own rate

private:
    quendo::MediaPlayer& real_;
};

// The render's pace against the wall clock: real time while nothing plays (a held start waits in
// real time, as the program's would), ten times faster while a deck plays, a pace at which a cold
// analysis meets the same deadlines as in a show heard live.
class Pace {
public:
    void Tick(bool quiet) {
        wall_ += quiet ? 0.1 : 0.01;
        if (const double ahead = wall_ - NowSeconds(); ahead > 0) ::usleep(static_cast<useconds_t>(ahead * 1e6));
    }

private:
    double wall_ = NowSeconds();
};

// Each 50 ms window's level, dBFS, of a block of sound.
inline void AddWindows(const std::vector<float>& block, std::vector<double>& windows) {
    for (std::size_t w = 0; w + 1 <= block.size() / (2 * kDeadAirWindow); ++w) {
        double power = 0;
        for (std::size_t i = 2 * w * kDeadAirWindow; i < 2 * (w + 1) * kDeadAirWindow; ++i) power += double(block[i]) * block[i];
        windows.push_back(Db(power / (2 * kDeadAirWindow)));
    }
}

// The longest run of silent windows between the first sound and the last, in seconds.
inline double DeadAir(const std::vector<double>& windows) {
    const auto loud = [](double db) { return db >= kSilenceDbfs; };
    const auto first = std::find_if(windows.begin(), windows.end(), loud);
    const auto last = std::find_if(windows.rbegin(), windows.rend(), loud).base();
    int run = 0, longest = 0;
    for (auto it = first; it < last; ++it) {
        run = loud(*it) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return static_cast<double>(longest) * kDeadAirWindow / kShowRate;
}

// Each track's loudness while it alone sounds, as the show goes.
class AloneLoudness {
public:
    void Add(const std::string& file, const std::vector<float>& block) {
        Meter& m = meters_[file];
        if (!m) m = NewMeter();
        ebur128_add_frames_float(m.get(), block.data(), block.size() / 2);
        seconds_[file] += static_cast<double>(block.size() / 2) / kShowRate;
    }
    std::map<std::string, double> Lufs() const {
        std::map<std::string, double> out;
        for (const auto& [file, m] : meters_) {
            double l = -HUGE_VAL;
            ebur128_loudness_global(m.get(), &l);
            out[file] = l;
        }
        return out;
    }
    double Seconds(const std::string& file) const {
        const auto it = seconds_.find(file);
        return it == seconds_.end() ? 0 : it->second;
    }

private:
    std::map<std::string, Meter> meters_;
    std::map<std::string, double> seconds_;
};

// From the quietest track to the loudest, LU; tracks never measured are left out.
inline double Spread(const std::map<std::string, double>& lufs) {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const auto& [path, l] : lufs) {
        if (!std::isfinite(l)) continue;
        lo = std::min(lo, l);
        hi = std::max(hi, l);
    }
    return hi >= lo ? hi - lo : 0;
}

}  // namespace bench
