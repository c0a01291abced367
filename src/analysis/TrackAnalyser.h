#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/TrackFacts.h"
#include "analysis/FactsCache.h"

namespace quendo::audio {

// Analyses the files wanted, one at a time, on a worker thread of its own at the lowest CPU and
// disk priority, so that the decks' threads always come first. The results are kept in a cache
// file (loaded by the worker when it starts), so that a file is analysed once for as long as its
// size and modification time stay the same. Copies of the program may share the file: a save
// keeps what another wrote since. Entries of files gone or changed are dropped, and past a bound
// the least recently wanted.
//
// Facts and Want are for the interface thread; both only take a short lock and never touch the
// disk. The worker checks each wanted file's key when it is wanted and about once a second while it
// stays wanted, so facts answer for the file as it is: a file changed (or replaced) is analysed
// again, and one that held no audio is tried again once it changes (or after some minutes: its
// opening may have met a failed read). A file whose read failed (not its end) is not answered,
// and tried again a while later.
//
// Between wishes the worker goes through the files given for the background pass, in their
// order: one file analysed at a time, and those the cache knows stat'ed in short batches with a
// pause after each, so that the disk is never taken for long. A wish or a hold stops the file
// under way within one window; the file is done again later. What the pass found is saved less
// often than what was wished for, and never while it is held. Its facts are answered from the
// cache itself, so that a library's facts are not held twice.
class TrackAnalyser final : public TrackAnalysis {
public:
    // `cacheFile`'s folder is made when the cache is first saved.
    explicit TrackAnalyser(std::string cacheFile);
    // Stops the worker (within one short window of audio), then saves what changed on the calling
    // thread, at its priority. A worker held in a read of a music file (a share gone away) is
    // given up after a while, and the cache saved without it; one held in the cache's own file
    // is given up without a save, which would be held as well.
    ~TrackAnalyser();
    TrackAnalyser(const TrackAnalyser&) = delete;
    TrackAnalyser& operator=(const TrackAnalyser&) = delete;

    std::optional<TrackFacts> Facts(const std::string& path) override;
    // A file that is being analysed and is no longer wanted is dropped at once.
    void Want(const std::vector<std::string>& paths) override;
    // A copy of the list is all the caller pays for: the worker looks at the files.
    void AnalyseInBackground(const std::vector<std::string>& paths) override;
    void HoldBackground(bool held) override;
    Progress BackgroundProgress() override;

private:
    // All the worker reads and writes, kept alive by the worker's thread as long as it runs: a
    // worker given up on may come back from its read long after the analyser is gone.
    class Work {
    public:
        explicit Work(std::string cacheFile) : cacheFile_(std::move(cacheFile)) {}
        std::optional<TrackFacts> Facts(const std::string& path);
        void Want(const std::vector<std::string>& paths);
        void AnalyseInBackground(const std::vector<std::string>& paths);
        void HoldBackground(bool held);
        Progress BackgroundProgress();
        // The worker's thread, from start to end.
        void Thread();
        // The destructor's: tells the worker to stop, and waits a while for it to end.
        enum class Stopped { kEnded, kHeldOnTheMusic, kHeldElsewhere };
        Stopped Stop();
        void Save();  // worker, or the destructor once the worker has ended or been given up

    private:
        struct GivenUp {};  // thrown on the worker when it comes back from a read after a stop

        using Clock = std::chrono::steady_clock;
        struct Known {
            FileKey key;
            TrackFacts facts;
        };
        struct Failure {
            std::optional<FileKey> key;  // nothing: the file was not there
            Clock::time_point at, retry;  // tried again at `retry`, or once the key changes
        };

        void Run();
        // Runs `read`, a look at the music's files that touches none of the state and may hold
        // the thread for as long as the disk likes; throws GivenUp when the analyser stopped meanwhile.
        template <class Read>
        auto OnTheMusic(Read&& read);
        void Load();
        // Worker: brings `path`'s facts up to date with the file; true when that took an analysis.
        // For the background pass, no analysis starts while the pass should give way.
        bool Serve(const std::string& path, bool inPass = false);
        // Worker: the background pass goes on; true when it analysed a file and may go on at once.
        bool PassStep();
        bool PassWaits() const { return held_ || wantsChanged_ || passChanged_ || stop_; }  // guarded
        bool Checked(const std::string& path) const;  // guarded
        void Renew(const std::string& path, CachedFacts& cached);
        // Worker: drops up to `count` loaded entries whose files changed or went.
        void Prune(std::size_t count);

        const std::string cacheFile_;
        std::mutex mutex_;
        std::condition_variable wake_;
        std::vector<std::string> wanted_;                  // guarded
        bool wantsChanged_ = false, stop_ = false;         // guarded
        std::string current_;                              // guarded: what the worker analyses
        bool currentInPass_ = false;                       // guarded: for the background pass, not wished for
        std::vector<std::string> passGiven_;               // guarded: a new list, not taken yet
        bool passNew_ = false, passChanged_ = false;       // guarded: a new list, or a new hold
        bool held_ = false;                                // guarded
        Progress progress_;                                // guarded: of the list given last
        std::unordered_map<std::string, Known> known_;     // guarded: wished for, checked in this run
        std::unordered_map<std::string, Failure> failed_;  // guarded
        std::atomic<bool> cancel_{false};                  // drops the analysis under way
        // Worker; changed under the lock, as Facts() reads the entries the background pass checked.
        FactsCache cache_;
        std::unordered_set<std::string> changed_;          // worker only: entries changed since the last save
        std::vector<std::string> unchecked_;               // worker only: loaded entries not yet pruned
        std::unordered_set<std::string> tagsRetried_;      // worker only: failed tag reads tried in this run
        std::unordered_set<std::string> outlineRetried_;   // worker only: analysed again for an outline
        std::size_t outlineBytes_ = 0;                     // worker; changed under the lock with cache_: what its outlines take
        bool dirty_ = false;                               // worker only: the file should be written
        bool passDirty_ = false;                           // worker only: so should it, less urgently
        std::vector<std::string> pass_;                    // worker only: the background pass' files
        std::size_t passNext_ = 0;                         // worker only: those before it are settled
        Clock::time_point passResume_{};                   // worker only: the pause after a batch ends
        bool reading_ = false, finished_ = false;          // guarded: where the worker is
        std::condition_variable ended_;                    // finished_ turned true
    };

    std::shared_ptr<Work> work_;
    std::thread worker_;
};

}  // namespace quendo::audio
