#include "playback/analysis/TrackAnalyser.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "library/SafeFile.h"
#include "playback/analysis/Analyse.h"

namespace quendo::audio {

namespace {

constexpr std::size_t kMaxCacheBytes = 64u << 20;
constexpr auto kSaveEvery = std::chrono::seconds(10);  // while a long queue is worked through

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The calling thread yields the CPU and the disk to every other thread of the program.
void LowerThisThread() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, 19);
    constexpr int kWhoProcess = 1, kClassIdle = 3, kClassShift = 13;
    ::syscall(SYS_ioprio_set, kWhoProcess, static_cast<int>(tid), kClassIdle << kClassShift);
}

}  // namespace

TrackAnalyser::TrackAnalyser(std::string cacheFile) : cacheFile_(std::move(cacheFile)) {
    worker_ = std::thread([this] { Run(); });
}

TrackAnalyser::~TrackAnalyser() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

std::optional<TrackFacts> TrackAnalyser::Facts(const std::string& path) {
    std::lock_guard lock(mutex_);
    const auto it = known_.find(path);
    if (it == known_.end()) return std::nullopt;
    return it->second;
}

void TrackAnalyser::Want(const std::vector<std::string>& paths) {
    {
        std::lock_guard lock(mutex_);
        std::deque<std::string> queue;
        for (const std::string& path : paths)
            if (!path.empty() && !known_.count(path) && !failed_.count(path) && path != current_ &&
                std::find(queue.begin(), queue.end(), path) == queue.end())
                queue.push_back(path);
        if (queue == queue_) return;
        queue_ = std::move(queue);
    }
    wake_.notify_one();
}

void TrackAnalyser::Run() {
    LowerThisThread();
    std::string text;
    if (ReadWholeFile(cacheFile_, text, kMaxCacheBytes)) {
        int dropped = 0;
        cache_ = ParseFactsCache(text, &dropped);
        dirty_ = dropped > 0;  // a damaged file is rewritten clean at the next save
    }
    auto saved = std::chrono::steady_clock::now();
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) break;
            path = std::move(queue_.front());
            queue_.pop_front();
            current_ = path;
        }
        bool undecodable = false;
        const std::optional<TrackFacts> facts = Check(path, undecodable);
        bool idle = false;
        {
            std::lock_guard lock(mutex_);
            current_.clear();
            if (facts)
                known_[path] = *facts;
            else if (undecodable)
                failed_.insert(path);
            idle = queue_.empty();
        }
        if (dirty_ && (idle || std::chrono::steady_clock::now() - saved > kSaveEvery)) {
            Save();
            saved = std::chrono::steady_clock::now();
        }
    }
    if (dirty_) Save();
}

std::optional<TrackFacts> TrackAnalyser::Check(const std::string& path, bool& undecodable) {
    const std::optional<FileKey> key = KeyOf(path);
    if (!key) return std::nullopt;
    const auto cached = cache_.find(path);
    if (cached != cache_.end() && cached->second.key == *key && cached->second.version == kAnalysisVersion)
        return cached->second.facts;
    std::optional<TrackFacts> facts = AnalyseFile(path, &stop_);
    // A file that changed while it was read is left for a later want.
    if (!facts || KeyOf(path) != key) {
        undecodable = !facts && !stop_ && KeyOf(path) == key;
        return std::nullopt;
    }
    cache_[path] = {*key, *facts, WallSeconds(), kAnalysisVersion};
    dirty_ = true;
    return facts;
}

void TrackAnalyser::Save() {
    // An installed copy's cache folder is the user's, and may not be there yet.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(cacheFile_).parent_path(), ec);
    if (WriteFileAtomically(cacheFile_, FormatFactsCache(cache_))) {
        dirty_ = false;
    } else {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) std::fprintf(stderr, "quendo: cannot write %s\n", cacheFile_.c_str());
    }
}

}  // namespace quendo::audio
