#include "playback/engine/BassCut.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quendo::audio {

namespace {
// Long enough before the first move for a cold filter to settle while it is still unheard.
constexpr double kWarmSeconds = 0.05;
// A plan that changes under a playing deck moves the gain at twice the ramp's pace at most;
// the plan's own ramps, even on a deck played somewhat faster, stay below it.
constexpr float kSlew = static_cast<float>(2.0 / BassCut::kRampFrames);
// Below this a state is let go: it is far under anything heard, and far above denormals.
constexpr double kTiny = 1e-25;
const BassPlan kNoPlan{};
}  // namespace

void BassPlan::Set(std::vector<MediaPlayer::BassPoint> plan, int rate) {
    plan.erase(std::remove_if(plan.begin(), plan.end(), [](const MediaPlayer::BassPoint& p) {
                   return !std::isfinite(p.fileSeconds) || std::isnan(p.gain);
               }),
               plan.end());
    std::stable_sort(plan.begin(), plan.end(), [](const auto& a, const auto& b) { return a.fileSeconds < b.fileSeconds; });
    const int n = std::min(static_cast<int>(plan.size()), kMaxPoints);
    int first = -1, last = -1;  // the first and last points below 1
    for (int i = 0; i < n; ++i) {
        Point& p = points[i];
        p.frame = plan[static_cast<std::size_t>(i)].fileSeconds * rate;
        p.gain = std::clamp(plan[static_cast<std::size_t>(i)].gain, 0.0, 1.0);
        p.area = i == 0 ? 0 : points[i - 1].area + (p.frame - points[i - 1].frame) * (p.gain + points[i - 1].gain) / 2;
        if (p.gain < 1) {
            if (first < 0) first = i;
            last = i;
        }
    }
    count = first < 0 ? 0 : n;
    if (count == 0) return;
    const double inf = std::numeric_limits<double>::infinity(), half = BassCut::kRampFrames / 2;
    activeFrom = first == 0 ? -inf : points[first - 1].frame - half - kWarmSeconds * rate;
    activeTo = last == n - 1 ? inf : points[last + 1].frame + half;
}

// Butterworth poles, the bilinear transform with the corner prewarped: three high-pass sections.
BassCut::BassCut(int rate) : plan_(&kNoPlan) {
    const double k = std::tan(M_PI * kCornerHz / rate);
    for (int s = 0; s < kSections; ++s) {
        const double q = 1 / (2 * std::cos(M_PI * (2 * s + 1) / (4 * kSections)));
        const double norm = 1 / (1 + k / q + k * k);
        sections_[s] = {norm, -2 * norm, norm, 2 * (k * k - 1) * norm, (1 - k / q + k * k) * norm};
    }
}

void BassCut::Use(const BassPlan& plan, bool changed) {
    plan_ = &plan;
    if (changed) lo_ = hi_ = 0;
}

void BassCut::Cold() {
    for (auto& channel : state_)
        for (auto& s : channel) s[0] = s[1] = 0;
    warm_ = false;
}

void BassCut::Tidy() {
    for (auto& channel : state_)
        for (auto& s : channel)
            for (double& v : s)
                if (std::fabs(v) < kTiny) v = 0;
}

double BassCut::AreaAt(double file, int& cursor) const {
    const BassPlan& p = *plan_;
    int i = cursor;
    while (i + 1 < p.count && p.points[i + 1].frame <= file) ++i;
    while (i > 0 && p.points[i].frame > file) --i;
    cursor = i;
    const BassPlan::Point& a = p.points[i];
    // Before the first point and after the last, their gains hold.
    if (file <= a.frame || i + 1 == p.count) return a.area + a.gain * (file - a.frame);
    const BassPlan::Point& b = p.points[i + 1];
    const double d = file - a.frame;
    return a.area + d * (a.gain + (b.gain - a.gain) * d / (2 * (b.frame - a.frame)));
}

// The plan's mean over the ramp centred on `file`.
double BassCut::GainAt(double file) {
    if (plan_->count == 0) return 1;
    const double half = kRampFrames / 2;
    return std::clamp((AreaAt(file + half, hi_) - AreaAt(file - half, lo_)) / kRampFrames, 0.0, 1.0);
}

void BassCut::Apply(std::uint64_t index, double file, float& l, float& r) {
    // Rounded to the float the samples are scaled by: a mean of ones is 1 exactly.
    const auto target = static_cast<float>(GainAt(file));
    if (restart_) {
        Cold();
        gain_ = target;
        restart_ = false;
    } else if (index != next_) {
        // Frames skipped, or passed untouched while there was no plan: the gain goes on from
        // where it was, and a cold filter's low band grows from nothing, so neither steps.
        Cold();
    }
    next_ = index + 1;
    gain_ += std::clamp(target - gain_, -kSlew, kSlew);
    const BassPlan& p = *plan_;
    if (gain_ == 1.0f && !(p.count > 0 && file >= p.activeFrom && file <= p.activeTo)) {
        if (warm_) Cold();
        return;
    }
    warm_ = true;
    double x[2] = {l, r}, y[2];
    for (int c = 0; c < 2; ++c) {
        double v = x[c];
        for (int s = 0; s < kSections; ++s) {
            const Section& f = sections_[s];
            double* z = state_[c][s];
            const double out = f.b0 * v + z[0];
            z[0] = f.b1 * v - f.a1 * out + z[1];
            z[1] = f.b2 * v - f.a2 * out;
            v = out;
        }
        y[c] = v;
    }
    // Damaged frames can decode to infinities: they must not hold the filter after they pass.
    if (!std::isfinite(y[0]) || !std::isfinite(y[1])) return Cold();
    // At a gain of exactly 1 the samples pass as they are.
    const double cut = 1.0 - static_cast<double>(gain_);
    l = static_cast<float>(x[0] - cut * (x[0] - y[0]));
    r = static_cast<float>(x[1] - cut * (x[1] - y[1]));
}

}  // namespace quendo::audio
