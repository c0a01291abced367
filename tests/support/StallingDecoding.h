#pragma once
// Files that stop answering, for the engine (tests and benchmarks): the real decoder, but a chosen
// file's stream blocks in its read once it has given a number of frames, as the read of a file on
// a share or a stick that has gone away blocks, until Release().
#include <algorithm>
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
    // `path`, once opened, stops answering after `frames` frames.
    void StallAfter(const std::string& path, long frames) { stalls_[path] = frames; }
    // Every blocked read goes on, and none blocks again. A reader the engine gave up on may still
    // be held in one: release before the end, so that it can leave.
    void Release() {
        std::lock_guard lock(held_->mutex);
        held_->released = true;
        held_->cv.notify_all();
    }
    std::unique_ptr<audio::DeckStream> Open(const std::string& path, int rate) override {
        std::unique_ptr<audio::DeckStream> file = audio::FileDecoding().Open(path, rate);
        if (!file) return nullptr;
        const auto stall = stalls_.find(path);
        return std::make_unique<Stream>(std::move(file), stall == stalls_.end() ? -1 : stall->second, held_);
    }

private:
    // Shared with the streams, which may outlive this source on a thread the engine gave up on.
    struct Held {
        std::mutex mutex;
        std::condition_variable cv;
        bool released = false;
    };
    class Stream final : public audio::DeckStream {
    public:
        Stream(std::unique_ptr<audio::DeckStream> file, long left, std::shared_ptr<Held> held)
            : file_(std::move(file)), left_(left), held_(std::move(held)) {}
        double Duration() const override { return file_->Duration(); }
        bool Seek(double seconds) override { return file_->Seek(seconds); }
        Chunk Read(float* out, int maxFrames) override {
            if (left_ == 0) {
                std::unique_lock lock(held_->mutex);
                held_->cv.wait(lock, [&] { return held_->released; });
                left_ = -1;
            }
            const Chunk got = file_->Read(out, left_ < 0 ? maxFrames : static_cast<int>(std::min<long>(left_, maxFrames)));
            if (left_ > 0) left_ -= got.frames;
            return got;
        }

    private:
        std::unique_ptr<audio::DeckStream> file_;
        long left_;  // frames before it stops answering; -1: it answers
        std::shared_ptr<Held> held_;
    };

    std::map<std::string, long> stalls_;
    std::shared_ptr<Held> held_ = std::make_shared<Held>();
};

}  // namespace quendo::testing
