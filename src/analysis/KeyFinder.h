#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "model/TrackFacts.h"

namespace quendo::audio {

class KeyDetector;

// The key of one track, from its sound fed in order, block by block, as it is decoded. Holds one
// block of a second and a half, never the whole sound. One thread.
class KeyFinder {
public:
    explicit KeyFinder(int rate);
    ~KeyFinder();
    KeyFinder(const KeyFinder&) = delete;
    KeyFinder& operator=(const KeyFinder&) = delete;

    // Interleaved stereo at the rate given.
    void Add(const float* stereo, int frames);
    // 0..11 major on C..B, 12..23 minor; kNoKey when the sound held no tonal evidence.
    int Finish();

private:
    void Block();

    std::unique_ptr<KeyDetector> detector_;
    std::vector<double> block_;
    std::size_t filled_ = 0;
    std::size_t skip_ = 0;  // frames still to pass over before the next block
    std::size_t gap_ = 0;   // blocks looked at so far
    bool looked_ = false;   // a block with sound went to the detector
    double b_[3] = {}, a_[2] = {}, x_[2] = {}, y_[2] = {};  // the high-pass
};

}  // namespace quendo::audio
