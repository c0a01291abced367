#include "playback/engine/ChangeRenderer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "playback/engine/AudioEngine.h"

namespace quendo::audio {

namespace {
// The levels are looked at this often: a step lands within a block of where the plan puts it.
constexpr int kBlockFrames = 512;

void Load(MediaPlayer& deck, const PlannedChange::Track& t) {
    // The gain first, so that its ramp is over before the file is heard.
    if (t.limited) deck.SetLimitedTrackGain(t.gainDb, t.ceilingDbfs);
    else deck.SetTrackGain(t.gainDb);
    deck.SetFileName(t.path);
    if (t.from > 0) deck.SetCurrentPosition(t.from);
    if (!t.rate.empty()) deck.SetRatePlan(t.rate);
    if (!t.bass.empty()) deck.SetBassPlan(t.bass);
    deck.SetVolume(t.volume);
    deck.SetBalance(t.balance);
}
}  // namespace

ChangeRenderer::ChangeRenderer(PlannedChange change, int rate)
    : change_(std::move(change)),
      rate_(rate),
      total_(static_cast<std::int64_t>(std::max(0.0, change_.seconds) * rate)) {}

ChangeRenderer::~ChangeRenderer() = default;

void ChangeRenderer::Begin() {
    engine_ = std::make_unique<AudioEngine>(EngineOptions{false, rate_, 512, nullptr});
    MediaPlayer& out = engine_->Deck1();
    MediaPlayer& in = engine_->Deck2();
    Load(out, change_.outgoing);
    Load(in, change_.incoming);
    out.Play();
    in.PlayAfterOther(change_.incomingAt, change_.seamless);
}

// What the ticks would have sent by now: the last step the outgoing track has reached.
void ChangeRenderer::StepsDue() {
    MediaPlayer& out = engine_->Deck1();
    const double at = out.CurrentPosition();
    const bool over = out.PlayState() != psPlaying;  // its file ended: the mix ends with it
    const PlannedChange::LevelStep* due = nullptr;
    while (nextStep_ < change_.steps.size() && (over || change_.steps[nextStep_].at <= at))
        due = &change_.steps[nextStep_++];
    if (!due) return;
    for (int d = 0; d < 2; ++d) {
        MediaPlayer& deck = d == 0 ? out : engine_->Deck2();
        deck.SetVolume(due->volume[d]);
        deck.SetBalance(due->balance[d]);
    }
}

int ChangeRenderer::Render(float* out, int frames) {
    if (!engine_) Begin();
    int written = 0;
    while (written < frames && done_ < total_) {
        // Blocks end where the levels may move.
        const int intoBlock = static_cast<int>(done_ % kBlockFrames);
        if (intoBlock == 0) StepsDue();
        const int n = static_cast<int>(std::min<std::int64_t>({frames - written, kBlockFrames - intoBlock, total_ - done_}));
        engine_->render(out + 2 * static_cast<std::ptrdiff_t>(written), n);
        written += n;
        done_ += n;
    }
    return written;
}

}  // namespace quendo::audio
