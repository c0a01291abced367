#pragma once
// Marker tones laid on a track's beats and downbeats, and the filters that find them again in
// what is heard: what lets a show's benchmark tell the two tracks of a mix apart and time them.
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "Show.h"

namespace bench {

constexpr double kMarkerPi = 3.14159265358979323846;

// A marker burst: a tone under a Hann window this long (20 ms), at a whole number of cycles per
// window (tones on a 50 Hz grid), so that the matched filter of one tone does not hear another.
// The longer the burst, the less a drum's click of broadband noise reaches its filter.
constexpr int kBurst = kShowRate / 50;

inline void AddBurst(std::vector<float>& stereo, double at, int bin, double amplitude) {
    const long from = std::lround(at * kShowRate);
    for (int j = 0; j < kBurst && 2 * (from + j) + 1 < static_cast<long>(stereo.size()); ++j) {
        const double w = 0.5 - 0.5 * std::cos(2 * kMarkerPi * j / kBurst);
        const auto v = static_cast<float>(amplitude * w * std::sin(2 * kMarkerPi * bin * (from + j) / kBurst));
        stereo[2 * (from + j)] += v;
        stereo[2 * (from + j) + 1] += v;
    }
}


struct Burst {
    double at;  // the burst's first frame, counted from the first frame given
    double amplitude;
};

// The bursts of one tone in a stream of stereo frames, mixed to mono: a filter matched to the
// burst (the Hann window and the tone), run as three sliding sums, and the peaks of its magnitude
// above a threshold, each placed between frames by a parabola.
class ToneBursts {
public:
    ToneBursts(int bin, double threshold) : threshold_(threshold), ring_(kBurst, 0.0) {
        // Each frame's phase against the tone and its two neighbours on the grid, by its place
        // in the window's period.
        for (int p = 0; p < kBurst; ++p) {
            const auto at = [&](int q) { return std::polar(1.0, -2 * kMarkerPi * ((q * p) % kBurst) / kBurst); };
            tone_[p] = at(bin);
            above_[p] = at(bin + 1);
            below_[p] = at(bin - 1);
            turn_[p] = at(1);
        }
    }

    void Add(const float* stereo, int frames) {
        for (int i = 0; i < frames; ++i, ++n_) {
            const double x = 0.5 * (static_cast<double>(stereo[2 * i]) + stereo[2 * i + 1]);
            const int p = static_cast<int>(n_ % kBurst);
            const double old = ring_[static_cast<std::size_t>(p)];
            ring_[static_cast<std::size_t>(p)] = x;
            // The frame leaving the window had the same phase as the one entering it.
            const double d = x - old;
            a_ += d * tone_[p];
            b_ += d * above_[p];
            c_ += d * below_[p];
            const std::complex<double> z = 0.5 * a_ - 0.25 * std::conj(turn_[p]) * b_ - 0.25 * turn_[p] * c_;
            Next(std::abs(z) * 16.0 / (3.0 * kBurst));
        }
    }
    const std::vector<Burst>& Found() const { return found_; }

private:
    void Next(double v) {
        const double n = static_cast<double>(n_);
        if (peakAt_ >= 0 && n == peakAt_ + 1) after_ = v;
        if (v > threshold_ && (peakAt_ < 0 || v > peak_)) {
            before_ = last_;
            peak_ = v;
            peakAt_ = n;
        } else if (peakAt_ >= 0 && (v < threshold_ / 2 || n > peakAt_ + kBurst)) {
            const double d = before_ - 2 * peak_ + after_;
            const double offset = d < 0 ? std::clamp(0.5 * (before_ - after_) / d, -0.5, 0.5) : 0;
            // The filter's window matches the burst when it has just passed its last frame.
            const Burst b{peakAt_ + offset - kBurst, peak_};
            // A burst split by the stretch's splice shows twice: the stronger stands.
            if (!found_.empty() && b.at - found_.back().at < 0.1 * kShowRate) {
                if (b.amplitude > found_.back().amplitude) found_.back() = b;
            } else {
                found_.push_back(b);
            }
            peakAt_ = -1;
        }
        last_ = v;
    }

    const double threshold_;
    std::complex<double> tone_[kBurst], above_[kBurst], below_[kBurst], turn_[kBurst];
    std::vector<double> ring_;
    std::complex<double> a_, b_, c_;
    long n_ = 0;
    double last_ = 0, before_ = 0, after_ = 0, peak_ = 0, peakAt_ = -1;
    std::vector<Burst> found_;
};

// Below this a burst is not taken for a marker: the markers are heard some 10 to 20 dB above it
// (as the volume, balance and the end's fade leave them), the drums' clicks below it.
constexpr double kMarkerThreshold = 0.03;

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(at));
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

// A downbeat's burst sounds with its beat's, as loud: a bar tone found alone is a beat's burst
// that the stretch's splice spread across the spectrum.
inline std::vector<Burst> Downbeats(const ToneBursts& bars, const ToneBursts& beats) {
    std::vector<Burst> out;
    for (const Burst& bar : bars.Found())
        for (const Burst& beat : beats.Found())
            if (std::fabs(bar.at - beat.at) < 0.005 * kShowRate && bar.amplitude >= 0.5 * beat.amplitude) {
                out.push_back(bar);
                break;
            }
    return out;
}

inline double Nearest(const std::vector<double>& times, double t) {
    double best = HUGE_VAL;
    for (double u : times) best = std::min(best, std::fabs(u - t));
    return best;
}

}  // namespace bench
