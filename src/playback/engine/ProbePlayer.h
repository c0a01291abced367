#pragma once
#include "model/MediaPlayer.h"

namespace quendo {

// The probe: opens a file only to learn its length, from the headers; never plays.
class ProbePlayer : public MediaPlayer {
public:
    void SetFileName(const std::string& path) override;
    double Duration() override { return duration_; }
    double CurrentPosition() override { return 0; }
    void SetCurrentPosition(double) override {}
    void SetVolume(int) override {}
    void SetBalance(int) override {}
    int PlayState() override { return psStopped; }
    void Play() override {}
    void Pause() override {}

private:
    double duration_ = 0;
};

}  // namespace quendo
