#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/TrackFacts.h"
#include "playback/analysis/FactsCache.h"

namespace quendo::audio {

// Analyses the files asked for, one at a time, on a worker thread of its own at the lowest CPU and
// disk priority, so that the decks' threads always come first. The results are kept in a cache
// file (loaded by the worker when it starts, rewritten whole, atomically), so that a file is
// analysed once for as long as its size and modification time stay the same.
//
// Facts and Want are for the interface thread; both only take a short lock. A cached result
// counts only once the worker has checked it against the file, after a Want.
class TrackAnalyser final : public TrackAnalysis {
public:
    // `cacheFile`'s folder is made when the cache is first saved.
    explicit TrackAnalyser(std::string cacheFile);
    ~TrackAnalyser();  // stops the worker (within one short window of audio) and saves the cache
    TrackAnalyser(const TrackAnalyser&) = delete;
    TrackAnalyser& operator=(const TrackAnalyser&) = delete;

    std::optional<TrackFacts> Facts(const std::string& path) override;
    void Want(const std::vector<std::string>& paths) override;

private:
    void Run();
    // Worker: the facts from the cache or analysed; `undecodable` when the file holds no audio.
    std::optional<TrackFacts> Check(const std::string& path, bool& undecodable);
    void Save();

    const std::string cacheFile_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;                      // guarded
    std::string current_;                                // guarded: what the worker is on
    std::unordered_map<std::string, TrackFacts> known_;  // guarded: checked in this run
    std::unordered_set<std::string> failed_;             // guarded: no audio; not tried again in this run
    FactsCache cache_;                                   // worker only
    bool dirty_ = false;                                 // worker only: cache_ differs from the file
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace quendo::audio
