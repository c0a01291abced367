#pragma once
#include <cstdint>
#include <vector>

#include "model/MediaPlayer.h"

namespace quendo::audio {

// A deck's bass plan as the mixer reads it: the low band's gain through the file, in file frames,
// in fixed storage so that it can be handed over in a triple buffer and read without allocating.
// Plain data; the interface thread fills it.
struct BassPlan {
    static constexpr int kMaxPoints = 256;
    struct Point {
        double frame = 0;  // in the file
        double gain = 1;   // 0 to 1
        double area = 0;   // the gain's integral from the first point to this one, in frames
    };
    int count = 0;  // 0: nothing to cut anywhere, whatever the caller gave
    // Outside [activeFrom, activeTo] the gain is exactly 1 and no move is near: the filter rests.
    double activeFrom = 0, activeTo = 0;
    Point points[kMaxPoints];

    // The caller's points, ordered by time (ties kept in their order, which makes a step), gains
    // held to [0, 1]. Beyond kMaxPoints the last point's gain holds on. Interface thread.
    void Set(std::vector<MediaPlayer::BassPoint> plan, int rate);
};

// The mixer's equaliser for one deck: y = x - (1 - g)·(x - HP(x)), HP a 6th-order Butterworth
// high-pass, so that at g = 1 the output is x to the bit and at g = 0 the band below it is gone.
// The gain follows the plan averaged over kRampFrames of the file, so a step in the plan is heard
// as a ramp that is half way on the planned frame, and a plan that changes under a playing deck
// moves the gain no faster than over a ramp. Mixing thread only, after construction.
class BassCut {
public:
    static constexpr double kCornerHz = 180;
    static constexpr double kRampFrames = 256;

    explicit BassCut(int rate);

    // The plan for the next frames; `changed`: not the one given before.
    void Use(const BassPlan& plan, bool changed);
    // Whether Apply may change anything from here: a plan to follow, or a gain not yet back at 1.
    bool Engaged() const { return plan_->count > 0 || gain_ != 1.0f; }
    // Starts over with a cold filter and the gain where the plan has it: the frames that follow
    // are another generation's, and come in under a fade.
    void Restart() { restart_ = true; }
    // Ring frame `index`, file frame `file`: its samples equalised in place.
    void Apply(std::uint64_t index, double file, float& l, float& r);
    // Once a block: states decaying in silence are let go before they turn denormal.
    void Tidy();

private:
    struct Section {
        double b0, b1, b2, a1, a2;
    };
    static constexpr int kSections = 3;
    double GainAt(double file);
    double AreaAt(double file, int& cursor) const;
    void Cold();

    Section sections_[kSections];
    double state_[2][kSections][2] = {};  // per channel and section, transposed direct form II
    const BassPlan* plan_;
    int lo_ = 0, hi_ = 0;  // the plan's points at or before the window's two ends
    float gain_ = 1.0f;    // the gain applied to the last frame
    std::uint64_t next_ = 0;  // the ring frame expected next
    bool warm_ = false, restart_ = true;
};

}  // namespace quendo::audio
