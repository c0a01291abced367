#include "playback/engine/DeckStretch.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quendo::audio {

namespace {
// Fed a little at a time, so that the rate given for each stretch of input is the plan's there.
constexpr int kPiece = 512;
constexpr int kCrossfadeFrames = 1024;  // about 23 ms
// Past the file's end, silence is fed until the stretcher gives up the rest; never without end.
constexpr int kMostSilentPieces = 64;
}  // namespace

DeckStretch::DeckStretch(int rate) : rate_(rate) {}

double DeckStretch::MeanLagFrames(int sampleRate, double rate) {
    if (rate == 1) return 0;
    soundtouch::SoundTouch touch;
    touch.setSampleRate(static_cast<unsigned>(sampleRate));
    touch.setChannels(2);
    touch.setTempo(rate);
    // A pass hands out this many frames of sound that runs at rate 1 where it should run at `rate`.
    const double pass = touch.getSetting(SETTING_NOMINAL_OUTPUT_SEQUENCE);
    return (rate - 1) * pass / 2;
}
DeckStretch::~DeckStretch() = default;

void DeckStretch::Start(std::shared_ptr<const RatePlan> plan, std::int64_t from) {
    plan_ = std::move(plan);
    start_ = fed_ = plainAt_ = from;
    fileEnd_ = endOut_ = -1;
    made_ = padded_ = 0;
    fileAt_ = static_cast<double>(from);
    faded_ = 0;
    runFrames_ = 0;
    if (!plan_ || plan_->PlainFrom() <= fileAt_) {
        mode_ = Mode::kPlain;
        return;
    }
    if (!touch_) {
        touch_ = std::make_unique<soundtouch::SoundTouch>();
        touch_->setSampleRate(static_cast<unsigned>(rate_));
        touch_->setChannels(2);
        history_.assign(2 * kHistoryFrames, 0.0f);
        piece_.assign(2 * kPiece, 0.0f);
    }
    touch_->clear();
    touch_->setTempo(plan_->RateAt(fileAt_));
    mode_ = Mode::kStretch;
}

DeckStretch::Chunk DeckStretch::Read(DeckStream& stream, float* out, int maxFrames) {
    switch (mode_) {
        case Mode::kStretch: return ReadStretched(stream, out, maxFrames);
        case Mode::kCrossfade: return ReadCrossfade(stream, out, maxFrames);
        case Mode::kAfter: return ReadAfter(stream, out, maxFrames);
        case Mode::kPlain: break;
    }
    const DeckStream::Chunk c = stream.Read(out, maxFrames);
    return {c.frames, c.ended, false, 0, 1};
}

void DeckStretch::Fill(DeckStream& stream, int frames) {
    for (int silent = 0; static_cast<int>(touch_->numSamples()) < frames;) {
        int n = kPiece;
        if (fileEnd_ < 0) {
            const DeckStream::Chunk c = stream.Read(piece_.data(), kPiece);
            n = c.frames;
            for (int i = 0; i < n;) {
                // In runs up to where the history wraps.
                const std::int64_t at = fed_ + i;
                const int run = static_cast<int>(std::min<std::int64_t>(n - i, kHistoryFrames - (at & (kHistoryFrames - 1))));
                std::memcpy(History(at), piece_.data() + 2 * i, sizeof(float) * 2 * run);
                i += run;
            }
            if (c.ended) {
                fileEnd_ = fed_ + n;
                endOut_ = std::llround(plan_->HeardBetween(static_cast<double>(start_), static_cast<double>(fileEnd_)));
            }
            if (n == 0 && !c.ended) return;  // nothing to be had for now
        } else {
            if (++silent > kMostSilentPieces) return;
            std::fill(piece_.begin(), piece_.end(), 0.0f);
        }
        if (n == 0) continue;
        // The stretcher's next pass takes its input from where its unprocessed frames begin;
        // it runs at the plan's rate at the middle of that pass.
        const double pass = touch_->getSetting(SETTING_NOMINAL_INPUT_SEQUENCE);
        const double at = static_cast<double>(fed_ + padded_) - touch_->numUnprocessedSamples() + pass / 2;
        touch_->setTempo(plan_->RateAt(at));
        touch_->putSamples(piece_.data(), static_cast<unsigned>(n));
        if (fileEnd_ < 0 || fed_ < fileEnd_) fed_ += n;
        else padded_ += n;
    }
}

DeckStretch::Chunk DeckStretch::ReadStretched(DeckStream& stream, float* out, int maxFrames) {
    std::int64_t want = maxFrames;
    const double plainFrom = plan_->PlainFrom();
    // A chunk stops where the plan's rate becomes 1 for good: the crossfade starts there.
    if (plainFrom < RatePlan::kNever)
        want = std::min<std::int64_t>(want, std::max<std::int64_t>(1, std::llround(std::ceil(plan_->HeardBetween(fileAt_, plainFrom) - 1e-6))));
    if (endOut_ >= 0) want = std::min(want, endOut_ - made_);
    if (want > 0) Fill(stream, static_cast<int>(want));
    if (endOut_ >= 0) want = std::min(want, endOut_ - made_);
    const int got = want > 0 ? static_cast<int>(touch_->receiveSamples(out, static_cast<unsigned>(want))) : 0;
    Chunk c{got, false, true, fileAt_, 1.0};
    if (got > 0) {
        const double next = plan_->FileAfter(fileAt_, got);
        c.step = (next - fileAt_) / got;
        // A chunk that goes on along the last run's line, within a thousandth of a frame, adds to
        // it: a steady rate is one run, however long.
        const double drift = c.file - (runFile_ + runFrames_ * runStep_);
        if (runFrames_ > 0 && std::fabs(drift) < 1e-3 && std::fabs(drift + (c.step - runStep_) * got) < 1e-3) {
            c.newRun = false;
            runFrames_ += got;
        } else {
            runFile_ = c.file;
            runStep_ = c.step;
            runFrames_ = got;
        }
        fileAt_ = next;
        made_ += got;
    }
    // The file's end, or a stretcher that will give no more of it.
    c.ended = fileEnd_ >= 0 && (made_ >= endOut_ || got < want);
    if (!c.ended && fileAt_ >= plainFrom - 1e-6) {
        mode_ = Mode::kCrossfade;
        plainAt_ = std::llround(fileAt_);
    }
    return c;
}

// The stretched signal gives way to the file's own over kCrossfadeFrames, both at rate 1 and
// aligned in file time; the two are much alike, so their gains add up to one.
DeckStretch::Chunk DeckStretch::ReadCrossfade(DeckStream& stream, float* out, int maxFrames) {
    const int n = std::min(maxFrames, kCrossfadeFrames - faded_);
    Fill(stream, n);
    int got = static_cast<int>(touch_->receiveSamples(out, static_cast<unsigned>(n)));
    got = static_cast<int>(std::min<std::int64_t>(got, fed_ - plainAt_));
    constexpr double kQuarterTurn = 1.5707963267948966;
    for (int j = 0; j < got; ++j) {
        const double s = std::sin(kQuarterTurn * (faded_ + j + 0.5) / kCrossfadeFrames);
        const float w = static_cast<float>(s * s);
        const float* plain = History(plainAt_ + j);
        out[2 * j] = out[2 * j] * (1.0f - w) + plain[0] * w;
        out[2 * j + 1] = out[2 * j + 1] * (1.0f - w) + plain[1] * w;
    }
    Chunk c{got, false, faded_ == 0, static_cast<double>(plainAt_), 1.0};
    plainAt_ += got;
    faded_ += got;
    c.ended = fileEnd_ >= 0 && plainAt_ >= fileEnd_;
    if (faded_ == kCrossfadeFrames) {
        mode_ = Mode::kAfter;
        touch_->clear();
    }
    return c;
}

// The file's own frames: those fed to the stretcher and not yet heard, then the stream's.
DeckStretch::Chunk DeckStretch::ReadAfter(DeckStream& stream, float* out, int maxFrames) {
    int n = 0;
    while (n < maxFrames && plainAt_ < fed_) {
        const int run = static_cast<int>(std::min<std::int64_t>(
            {maxFrames - n, fed_ - plainAt_, kHistoryFrames - (plainAt_ & (kHistoryFrames - 1))}));
        std::memcpy(out + 2 * n, History(plainAt_), sizeof(float) * 2 * run);
        n += run;
        plainAt_ += run;
    }
    bool ended = fileEnd_ >= 0 && plainAt_ >= fileEnd_;
    if (n < maxFrames && fileEnd_ < 0) {
        const DeckStream::Chunk c = stream.Read(out + 2 * n, maxFrames - n);
        n += c.frames;
        plainAt_ += c.frames;
        fed_ += c.frames;
        if (c.ended) {
            fileEnd_ = fed_;
            ended = true;
        }
    }
    return {n, ended, false, 0, 1};
}

}  // namespace quendo::audio
