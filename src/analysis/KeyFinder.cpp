#include "analysis/KeyFinder.h"

#include <dsp/keydetection/GetKeyMode.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace quendo::audio {

namespace {

// The detector decimates by 8 and reads a chromagram from C3 to C7 (2093 Hz): it needs a
// 44.1 kHz class rate. A lower rate is declared to it an octave (or two) up rather than resampled:
// every pitch then reads an octave higher, which leaves its pitch class, all a key is made of, as
// it was, and the chromagram covers C2..C6 of the real sound at half the cost.
int DeclaredRate(int rate) {
    while (rate < 33075) rate *= 2;
    return rate;
}

// The chromagram's lowest octave is then where a kick drum sweeps through on every beat: left in,
// it outweighs the chords of a busy dance track. A high-pass below the chords keeps it out.
constexpr double kHighPassHz = 150;

// A key holds for minutes: one block in four (1.5 s of every 6 s at 22 kHz) tells it nearly as
// well as all of them, at a quarter of the cost. The gaps vary, so that the blocks looked at do
// not keep landing on the same chord of a progression that repeats every four bars.
constexpr int kGaps[] = {2, 3, 4};  // blocks passed over after each one looked at

// A key's profile correlates with the track's chroma at 0.5..0.7 for music; noise, drums alone or
// a single held note stay near 0.3.
constexpr double kTonalStrength = 0.4;

// The chroma is averaged over the whole track (up to an hour at the declared rate) rather than
// the detector's usual sliding window; the key is the profile that correlates best with that
// average at the end (the detector's own answer is a median over its last few blocks).
constexpr double kAverageSeconds = 3600;
constexpr double kMedianSeconds = 0.5;

}  // namespace

// The detector, one per track: its constant-Q kernel takes some 10 ms to build, a fiftieth of a
// five-minute track's analysis, but a detector used before holds the last track's chroma and
// filter state in members of its own, which only a new one is sure to have clear.
class KeyDetector : public GetKeyMode {
public:
    explicit KeyDetector(int declaredRate) : GetKeyMode(declaredRate, 440.0f, kAverageSeconds, kMedianSeconds) {}
};

KeyFinder::KeyFinder(int rate)
    : detector_(std::make_unique<KeyDetector>(DeclaredRate(rate))), block_(detector_->getBlockSize()) {
    // Second-order Butterworth high-pass (bilinear transform).
    const double w = 2 * M_PI * kHighPassHz / rate, c = std::cos(w), alpha = std::sin(w) / std::sqrt(2.0);
    const double a0 = 1 + alpha;
    b_[0] = b_[2] = (1 + c) / 2 / a0;
    b_[1] = -(1 + c) / a0;
    a_[0] = -2 * c / a0;
    a_[1] = (1 - alpha) / a0;
}

KeyFinder::~KeyFinder() = default;

void KeyFinder::Add(const float* stereo, int frames) {
    // The filter's state in locals: through the members, each sample waits on the last one's stores.
    double x1 = x_[0], x2 = x_[1], y1 = y_[0], y2 = y_[1];
    for (int i = 0; i < frames; ++i) {
        if (skip_ > 0) {  // between the blocks looked at
            const auto n = std::min(skip_, static_cast<std::size_t>(frames - i));
            skip_ -= n;
            i += static_cast<int>(n) - 1;
            continue;
        }
        const double x = 0.5 * (static_cast<double>(stereo[2 * i]) + stereo[2 * i + 1]);
        const double y = b_[0] * x + b_[1] * x1 + b_[2] * x2 - a_[0] * y1 - a_[1] * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        block_[filled_] = y;
        if (++filled_ == block_.size()) Block();
    }
    x_[0] = x1, x_[1] = x2, y_[0] = y1, y_[1] = y2;
}

void KeyFinder::Block() {
    filled_ = 0;
    skip_ = static_cast<std::size_t>(kGaps[gap_++ % std::size(kGaps)]) * block_.size();
    // A silent block would enter the average as a chroma of nothing (the detector normalises it
    // by its maximum, zero).
    double energy = 0;
    for (double v : block_) energy += v * v;
    if (energy / static_cast<double>(block_.size()) < 1e-7) return;  // below -70 dBFS
    detector_->process(block_.data());
    looked_ = true;
}

int KeyFinder::Finish() {
    // The last, partial block counts when it holds at least half a block of sound.
    if (filled_ >= block_.size() / 2) {
        std::fill(block_.begin() + static_cast<std::ptrdiff_t>(filled_), block_.end(), 0.0);
        Block();
    }
    if (!looked_) return kNoKey;
    // The detector orders its keys as we do: major on C..B, then minor.
    const double* strengths = detector_->getKeyStrengths();
    const int key = static_cast<int>(std::max_element(strengths, strengths + 24) - strengths);
    return strengths[key] >= kTonalStrength ? key : kNoKey;
}

}  // namespace quendo::audio
