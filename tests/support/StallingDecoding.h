#pragma once
// Files that stop answering, for the engine (tests and benchmarks): the real decoder, but a chosen
// file blocks, as a file on a share or a stick that has gone away blocks: in its read once it has
// given a number of frames, in its open, or in a seek; until Release(), or for a given time.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "playback/engine/DecodeSource.h"

namespace quendo::testing {

class StallingDecoding final : public audio::DecodeSource {
public:
    static constexpr double kForever = -1;
    // `path`, once opened, stops answering after `frames` frames.
    void StallAfter(const std::string& path, long frames) {
        std::lock_guard lock(held_->mutex);
        stalls_[path].reads = frames;
    }
    // Opening `path`, or each seek in it, takes `seconds` (kForever: until Release()).
    void StallOpen(const std::string& path, double seconds = kForever) {
        std::lock_guard lock(held_->mutex);
        stalls_[path].open = seconds;
    }
    void StallSeek(const std::string& path, double seconds = kForever) {
        std::lock_guard lock(held_->mutex);
        stalls_[path].seek = seconds;
    }
    // Every blocked call goes on, and none blocks again. A reader the engine gave up on may still
    // be held in one: release before the end, so that it can leave.
    void Release() {
        std::lock_guard lock(held_->mutex);
        held_->released = true;
        held_->cv.notify_all();
    }
    std::unique_ptr<audio::DeckStream> Open(const std::string& path, int rate) override {
        Stall stall;
        {
            std::lock_guard lock(held_->mutex);
            if (const auto it = stalls_.find(path); it != stalls_.end()) stall = it->second;
        }
        // This source may be gone once the hold lets go: the thread keeps what it needs itself.
        const std::shared_ptr<Held> held = held_;
        Hold(*held, stall.open);
        std::unique_ptr<audio::DeckStream> file = audio::FileDecoding().Open(path, rate);
        if (!file) return nullptr;
        return std::make_unique<Stream>(std::move(file), stall, held);
    }

private:
    struct Stall {
        long reads = -1;     // frames before the reads stop answering; -1: they answer
        double open = 0, seek = 0;  // seconds each takes; kForever: until released
    };
    // Shared with the streams, which may outlive this source on a thread the engine gave up on.
    struct Held {
        std::mutex mutex;
        std::condition_variable cv;
        bool released = false;
    };
    static void Hold(Held& held, double seconds) {
        if (seconds == 0) return;
        std::unique_lock lock(held.mutex);
        if (seconds < 0) held.cv.wait(lock, [&] { return held.released; });
        else held.cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return held.released; });
    }
    class Stream final : public audio::DeckStream {
    public:
        Stream(std::unique_ptr<audio::DeckStream> file, Stall stall, std::shared_ptr<Held> held)
            : file_(std::move(file)), left_(stall.reads), seek_(stall.seek), held_(std::move(held)) {}
        double Duration() const override { return file_->Duration(); }
        bool Seek(double seconds) override {
            Hold(*held_, seek_);
            return file_->Seek(seconds);
        }
        Chunk Read(float* out, int maxFrames) override {
            if (left_ == 0) {
                Hold(*held_, kForever);
                left_ = -1;
            }
            const Chunk got = file_->Read(out, left_ < 0 ? maxFrames : static_cast<int>(std::min<long>(left_, maxFrames)));
            if (left_ > 0) left_ -= got.frames;
            return got;
        }

    private:
        std::unique_ptr<audio::DeckStream> file_;
        long left_;  // frames before it stops answering; -1: it answers
        double seek_;
        std::shared_ptr<Held> held_;
    };

    std::map<std::string, Stall> stalls_;  // under held_->mutex
    std::shared_ptr<Held> held_ = std::make_shared<Held>();
};

}  // namespace quendo::testing
