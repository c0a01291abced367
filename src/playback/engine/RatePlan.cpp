#include "playback/engine/RatePlan.h"

#include <algorithm>
#include <cmath>

namespace quendo::audio {

namespace {
// log(1 + x) / x and (e^x - 1) / x, exact near 0 where the plain forms lose their digits.
double Log1pOver(double x) { return x == 0 ? 1.0 : std::log1p(x) / x; }
double Expm1Over(double x) { return x == 0 ? 1.0 : std::expm1(x) / x; }
bool IsOne(double rate) { return std::fabs(rate - 1.0) < 1e-12; }
}  // namespace

RatePlan::RatePlan(const std::vector<MediaPlayer::RatePoint>& points, int sampleRate) {
    for (const MediaPlayer::RatePoint& p : points)
        if (std::isfinite(p.fileSeconds) && std::isfinite(p.rate))
            points_.push_back({p.fileSeconds * sampleRate, std::clamp(p.rate, kMinRate, kMaxRate)});
    std::stable_sort(points_.begin(), points_.end(), [](const Point& a, const Point& b) { return a.frame < b.frame; });
    std::size_t last = points_.size();  // the last point whose rate is not 1
    for (std::size_t i = 0; i < points_.size(); ++i)
        if (!IsOne(points_[i].rate)) last = i;
    if (last == points_.size()) plainFrom_ = -kNever;
    else if (last + 1 < points_.size()) plainFrom_ = points_[last + 1].frame;
}

std::size_t RatePlan::PieceOf(double f) const {
    return static_cast<std::size_t>(std::upper_bound(points_.begin(), points_.end(), f,
                                                     [](double v, const Point& p) { return v < p.frame; }) -
                                    points_.begin());
}

double RatePlan::RateAt(double f) const { return RateIn(PieceOf(f), f); }

double RatePlan::RateIn(std::size_t i, double f) const {
    if (points_.empty()) return 1.0;
    if (i == 0) return points_.front().rate;
    if (i == points_.size()) return points_.back().rate;
    const Point& a = points_[i - 1];
    const Point& b = points_[i];
    return a.rate + (b.rate - a.rate) * (f - a.frame) / (b.frame - a.frame);
}

// Within one piece the rate is r(f) = ra + s (f - a), and a stretch of it is heard for the
// integral of 1 / r: log(r(b) / r(a)) / s, or (b - a) / ra where the rate is level.
double RatePlan::HeardBetween(double a, double b) const {
    double heard = 0;
    while (a < b) {
        const std::size_t i = PieceOf(a);
        const double end = i < points_.size() ? std::min(b, points_[i].frame) : b;
        const double ra = RateIn(i, a);
        heard += (end - a) / ra * Log1pOver((RateIn(i, end) - ra) / ra);
        a = end;
    }
    return heard;
}

// The inverse, piece by piece: within a piece r(b) = ra e^(s h) after h frames heard.
double RatePlan::FileAfter(double a, double heard) const {
    while (heard > 0) {
        const std::size_t i = PieceOf(a);
        const double ra = RateIn(i, a);
        if (i < points_.size()) {
            const double end = points_[i].frame;
            const double across = HeardBetween(a, end);
            if (across <= heard) {
                heard -= across;
                a = end;
                continue;
            }
            const double slope = (points_[i].rate - ra) / (end - a);
            return std::min(end, a + ra * heard * Expm1Over(slope * heard));
        }
        return a + ra * heard;
    }
    return a;
}

}  // namespace quendo::audio
