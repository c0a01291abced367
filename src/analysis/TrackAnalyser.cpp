#include "analysis/TrackAnalyser.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "library/SafeFile.h"
#include "analysis/Analyse.h"
#include "analysis/TagReader.h"

namespace quendo::audio {

namespace {

// The cache's bound: a whole library (the node table holds 64000 files) with room to spare for
// what another copy of the program plays, each entry with its form (about 1.2 kB in all).
constexpr std::size_t kMaxEntries = 80000;
// The outlines count apart: past their bound the oldest go, and their entries stay.
constexpr std::size_t kMaxOutlineBytes = 48u << 20;
constexpr std::size_t kMaxBytes = (96u << 20) + kMaxOutlineBytes;
// What is read of a cache file at most: well past the bound, so that no file a copy wrote is cut.
constexpr std::size_t kMaxReadBytes = 192u << 20;
constexpr std::size_t kPruneBatch = 256;  // stats between two looks at the wishes

constexpr auto kRecheck = std::chrono::seconds(1);      // of the wanted files' keys
constexpr auto kSaveEvery = std::chrono::seconds(10);   // while a long list is worked through
constexpr auto kSavePassEvery = std::chrono::minutes(2); // while the background pass runs: a whole library's file
// The background pass' stats of files the cache may know: a batch, then a pause at least twice
// as long as it took, so that a cold disk is left to the decks most of the time.
constexpr int kPassBatch = 128;
constexpr auto kPassBatchTime = std::chrono::milliseconds(20);
constexpr auto kPassPause = std::chrono::milliseconds(50);
constexpr auto kSettle = std::chrono::seconds(2);       // a failed file is left alone at least this long
constexpr auto kRetryFailed = std::chrono::seconds(30); // after a failed read
constexpr auto kRetryNoAudio = std::chrono::minutes(10); // its opening may have met a failed read
// How long the program's exit waits for a worker held in a read (the decks give up theirs sooner).
constexpr auto kGiveUp = std::chrono::milliseconds(1500);
constexpr std::int64_t kRenewAfterSeconds = 24 * 3600;  // of an entry's last use: a day is fine enough

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A lock for one save's read, merge and write: two copies saving at once would each write over
// what the other added. It is a file of its own beside the cache, opened for writing: a home on
// NFS takes the lock as a byte-range one, which a descriptor only for reading may not hold, and
// would let the save go on without it. Taken within a short while or not at all: a save without
// it may lose an entry, a wait could hold the exit.
class SaveLock {
public:
    explicit SaveLock(const std::string& cacheFile)
        : fd_(::open((cacheFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        for (int i = 0; fd_ >= 0 && i < 200; ++i) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~SaveLock() {
        if (fd_ >= 0) ::close(fd_);  // and with it the lock
    }
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

private:
    int fd_;
};

long ThisThread() { return ::syscall(SYS_gettid); }

// The calling thread's disk priority: idle (the disk only when no one else wants it), or the usual.
void SetDiskPriority(bool idle) {
    constexpr int kWhoProcess = 1, kClassBestEffort = 2, kClassIdle = 3, kClassShift = 13, kUsualLevel = 4;
    const int value = idle ? kClassIdle << kClassShift : (kClassBestEffort << kClassShift | kUsualLevel);
    ::syscall(SYS_ioprio_set, kWhoProcess, static_cast<int>(ThisThread()), value);
}

// The calling thread yields the CPU and the disk to every other thread of the program.
void LowerThisThread() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(ThisThread()), 19);
    SetDiskPriority(true);
}

// The usual disk priority for a while, for the cache's short reads and writes: the first answers
// wait for the load, and the program's exit may wait for a save.
class UsualDiskPriority {
public:
    UsualDiskPriority() { SetDiskPriority(false); }
    ~UsualDiskPriority() { SetDiskPriority(true); }
    UsualDiskPriority(const UsualDiskPriority&) = delete;
    UsualDiskPriority& operator=(const UsualDiskPriority&) = delete;
};

}  // namespace

TrackAnalyser::TrackAnalyser(std::string cacheFile) : work_(std::make_shared<Work>(std::move(cacheFile))) {
    worker_ = std::thread([work = work_] { work->Thread(); });
}

TrackAnalyser::~TrackAnalyser() {
    switch (work_->Stop()) {
        case Work::Stopped::kEnded:
            worker_.join();
            break;
        case Work::Stopped::kHeldOnTheMusic:
            worker_.detach();  // it comes back to nothing but its end
            break;
        case Work::Stopped::kHeldElsewhere:
            worker_.detach();
            return;
    }
    // Here, not on the worker: at its priority a busy disk could hold the program's exit for long.
    work_->Save();
}

std::optional<TrackFacts> TrackAnalyser::Facts(const std::string& path) { return work_->Facts(path); }
void TrackAnalyser::Want(const std::vector<std::string>& paths) { work_->Want(paths); }
void TrackAnalyser::AnalyseInBackground(const std::vector<std::string>& paths) { work_->AnalyseInBackground(paths); }
void TrackAnalyser::HoldBackground(bool held) { work_->HoldBackground(held); }
TrackAnalysis::Progress TrackAnalyser::BackgroundProgress() { return work_->BackgroundProgress(); }

void TrackAnalyser::Work::Thread() {
    try {
        Run();
    } catch (const GivenUp&) {
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    ended_.notify_all();
}

TrackAnalyser::Work::Stopped TrackAnalyser::Work::Stop() {
    std::unique_lock lock(mutex_);
    stop_ = true;
    cancel_ = true;
    wake_.notify_all();
    if (ended_.wait_for(lock, kGiveUp, [this] { return finished_; })) return Stopped::kEnded;
    return reading_ ? Stopped::kHeldOnTheMusic : Stopped::kHeldElsewhere;
}

template <class Read>
auto TrackAnalyser::Work::OnTheMusic(Read&& read) {
    {
        std::lock_guard lock(mutex_);
        reading_ = true;
    }
    auto result = read();
    std::lock_guard lock(mutex_);
    reading_ = false;
    if (stop_) throw GivenUp{};
    return result;
}

std::optional<TrackFacts> TrackAnalyser::Work::Facts(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (const auto it = known_.find(path); it != known_.end()) return it->second.facts;
    if (const auto it = cache_.find(path); it != cache_.end() && it->second.checked) return it->second.facts;
    return std::nullopt;
}

bool TrackAnalyser::Work::Checked(const std::string& path) const {
    const auto it = cache_.find(path);
    return it != cache_.end() && it->second.checked;
}

void TrackAnalyser::Work::Want(const std::vector<std::string>& paths) {
    std::vector<std::string> wanted;
    for (const std::string& path : paths)
        if (!path.empty() && std::find(wanted.begin(), wanted.end(), path) == wanted.end()) wanted.push_back(path);
    {
        std::lock_guard lock(mutex_);
        if (wanted == wanted_) return;
        if (!current_.empty() && !stop_) {
            const bool stillWanted = std::find(wanted.begin(), wanted.end(), current_) != wanted.end();
            if (!currentInPass_)
                cancel_ = !stillWanted;
            else if (!stillWanted && std::any_of(wanted.begin(), wanted.end(),
                                                 [this](const std::string& p) { return !known_.count(p) && !Checked(p); }))
                cancel_ = true;  // the background's file waits; wishes already known do not stop it
        }
        wanted_ = std::move(wanted);
        wantsChanged_ = true;
    }
    wake_.notify_one();
}

void TrackAnalyser::Work::AnalyseInBackground(const std::vector<std::string>& paths) {
    std::vector<std::string> given = paths;  // copied outside the lock: Facts() is not to wait
    {
        std::lock_guard lock(mutex_);
        passGiven_.swap(given);
        passNew_ = passChanged_ = true;
        progress_ = {0, static_cast<int>(passGiven_.size()), 0};
        if (currentInPass_ && !current_.empty()) cancel_ = true;
    }
    wake_.notify_one();
}

void TrackAnalyser::Work::HoldBackground(bool held) {
    {
        std::lock_guard lock(mutex_);
        if (held == held_) return;
        held_ = held;
        passChanged_ = true;
        if (held && currentInPass_ && !current_.empty() &&
            std::find(wanted_.begin(), wanted_.end(), current_) == wanted_.end())
            cancel_ = true;
    }
    wake_.notify_one();
}

TrackAnalysis::Progress TrackAnalyser::Work::BackgroundProgress() {
    std::lock_guard lock(mutex_);
    return progress_;
}

void TrackAnalyser::Work::Run() {
    LowerThisThread();
    {
        const UsualDiskPriority usual;
        Load();
    }
    auto saved = Clock::now();
    bool busy = false, saveFailed = false, held = false;
    for (;;) {
        std::vector<std::string> wanted, done;  // done: a list replaced, let go outside the lock
        {
            std::unique_lock lock(mutex_);
            const auto woken = [this] { return stop_ || wantsChanged_ || passChanged_; };
            if (!busy) {
                // While files are wanted (or a save is due), their keys are looked at now and then;
                // a pass that paused goes on when its pause is over.
                auto until = Clock::time_point::max();
                if (!wanted_.empty() || dirty_ || (passDirty_ && !held_)) until = Clock::now() + kRecheck;
                if (!held_ && passNext_ < pass_.size()) until = std::min(until, passResume_);
                if (until == Clock::time_point::max()) wake_.wait(lock, woken);
                else wake_.wait_until(lock, until, woken);
            }
            if (stop_) return;  // the destructor saves
            wantsChanged_ = false;
            wanted = wanted_;
            if (passNew_) {
                done.swap(pass_);
                pass_.swap(passGiven_);
                passNext_ = 0;
                passNew_ = false;
            }
            passChanged_ = false;
            held = held_;
        }
        // The most urgent file that needs work gets it; then the wishes are looked at again.
        bool worked = false;
        for (const std::string& path : wanted)
            if ((worked = Serve(path))) break;
        if (!worked && !unchecked_.empty()) Prune(kPruneBatch);
        const bool wishesBusy = worked || !unchecked_.empty();
        const bool passLeft = !held && passNext_ < pass_.size();
        busy = wishesBusy || (passLeft && Clock::now() >= passResume_ && PassStep());
        // Nothing is written while the decks need the disk; the pass' finds wait longer, as the
        // whole file is written each time.
        const auto since = Clock::now() - saved;
        if (!held && ((dirty_ && ((!wishesBusy && !saveFailed) || since > kSaveEvery)) ||
                      (passDirty_ && ((!passLeft && !saveFailed) || since > kSavePassEvery)))) {
            const UsualDiskPriority usual;
            Save();
            saveFailed = dirty_ || passDirty_;
            saved = Clock::now();
        }
    }
}

bool TrackAnalyser::Work::PassStep() {
    const auto start = Clock::now();
    int stats = 0;
    while (passNext_ < pass_.size()) {
        const std::string& path = pass_[passNext_];
        {
            // Known already, or tried: settled without a look at the disk.
            std::lock_guard lock(mutex_);
            if (PassWaits()) return false;
            if (known_.count(path) || Checked(path)) {
                ++passNext_;
                ++progress_.analysed;
                continue;
            }
            if (const auto f = failed_.find(path); f != failed_.end()) {
                ++passNext_;
                if (f->second.key) ++progress_.unreadable;
                else --progress_.total;  // not there
                continue;
            }
        }
        if (stats == kPassBatch || Clock::now() - start > kPassBatchTime) {
            const auto took = Clock::now() - start;
            passResume_ = Clock::now() + std::max<Clock::duration>(kPassPause, 2 * took);
            return false;
        }
        ++stats;
        const bool analysed = Serve(path, true);
        std::lock_guard lock(mutex_);
        if (passNew_) return false;  // its progress is the new list's now
        // Settled, it is counted at the top; stopped, it is done again.
        if (analysed || PassWaits()) return analysed;
        if (!known_.count(path) && !Checked(path) && !failed_.count(path)) {
            passResume_ = Clock::now() + kPassPause;  // never a loop that spins on one file
            return false;
        }
    }
    std::vector<std::string>().swap(pass_);  // over: a library's paths are not kept
    passNext_ = 0;
    return false;
}

void TrackAnalyser::Work::Load() {
    std::string text;
    FactsCache loaded;
    if (ReadWholeFile(cacheFile_, text, kMaxReadBytes)) {
        int dropped = 0;
        loaded = ParseFactsCache(text, &dropped);
        dirty_ = dropped > 0;  // a damaged file is rewritten clean at the next save
    }
    unchecked_.reserve(loaded.size());
    for (const auto& entry : loaded) unchecked_.push_back(entry.first);
    // Taken from the back, so in order: a folder's files one after another.
    std::sort(unchecked_.begin(), unchecked_.end(), std::greater<>());
    std::lock_guard lock(mutex_);
    cache_.swap(loaded);
    outlineBytes_ = BoundOutlines(cache_, kMaxOutlineBytes);
}

bool TrackAnalyser::Work::Serve(const std::string& path, bool inPass) {
    const std::optional<FileKey> key = OnTheMusic([&] { return KeyOf(path); });
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        if (const auto k = known_.find(path); k != known_.end()) {
            if (key && k->second.key == *key) return false;
            known_.erase(k);  // the file changed or went: its facts no longer hold
        }
        if (const auto c = cache_.find(path); c != cache_.end() && c->second.checked && (!key || c->second.key != *key))
            c->second.checked = false;
        if (const auto f = failed_.find(path); f != failed_.end()) {
            const Failure& failure = f->second;
            if (now < failure.retry && (failure.key == key || now < failure.at + kSettle)) return false;
            failed_.erase(f);
        }
        if (!key) {
            failed_[path] = {key, now, Clock::time_point::max()};
            return false;
        }
    }
    if (const auto cached = cache_.find(path);
        cached != cache_.end() && cached->second.key == *key && cached->second.version == kAnalysisVersion) {
        if (!inPass) Renew(path, cached->second);  // `used` tells what was wanted
        // Tags that could not be read are tried once a run: the share may have been away.
        std::optional<TrackTags> tags;
        bool tagsFailed = true;
        if (cached->second.tagsFailed && tagsRetried_.insert(path).second)
            tags = OnTheMusic([&] { return ReadTags(path, &tagsFailed); });
        std::lock_guard lock(mutex_);
        if (tags) {
            cached->second.facts.tags = std::move(*tags);
            cached->second.tagsFailed = tagsFailed;
            changed_.insert(path);
            (inPass ? passDirty_ : dirty_) = true;
        }
        if (inPass) cached->second.checked = true;
        else known_[path] = {*key, cached->second.facts};
        // The mix editor draws the decks' files: one analysed before outlines were kept, or whose
        // outline made room for others, is heard again once, its facts answering meanwhile.
        const bool outline = inPass || cached->second.facts.wave || !cached->second.facts.audible ||
                             !outlineRetried_.insert(path).second;
        if (outline) return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (stop_ || (inPass && PassWaits())) return false;
        current_ = path;
        currentInPass_ = inPass;
        cancel_ = false;
    }
    AnalysisEnd end = AnalysisEnd::kFailed;
    std::optional<TrackFacts> facts;
    bool tagsFailed = false;
    const std::optional<FileKey> after = OnTheMusic([&] {
        facts = AnalyseFile(path, &cancel_, 0, &end, &tagsFailed);
        return KeyOf(path);
    });
    const bool whole = facts && after == key;
    {
        std::lock_guard lock(mutex_);
        current_.clear();
        currentInPass_ = false;
        const auto now = Clock::now();
        if (whole) {
            if (!inPass) known_[path] = {*key, *facts};
            CachedFacts& entry = cache_[path];
            outlineBytes_ = outlineBytes_ - std::min(OutlineBytes(entry.facts), outlineBytes_) + OutlineBytes(*facts);
            entry = {*key, *facts, WallSeconds(), kAnalysisVersion, inPass, tagsFailed};
        } else if (end == AnalysisEnd::kStopped)
            ;  // no longer wanted: done again if it is wanted again
        else if (after != key)
            failed_[path] = {after, now, now + kSettle};  // changed while read: once it settles
        else if (end == AnalysisEnd::kFailed)
            failed_[path] = {key, now, now + kRetryFailed};
        else
            failed_[path] = {key, now, now + kRetryNoAudio};  // no audio: once it changes
    }
    // A pass over a large library would otherwise hold every outline; a quarter goes at once. The
    // worker alone changes the entries, so the order of use is found without the lock, which
    // Facts() would wait on.
    if (whole && outlineBytes_ > kMaxOutlineBytes) {
        std::size_t kept = 0;
        const std::vector<std::string> past = OutlinesPast(cache_, kMaxOutlineBytes / 4 * 3, &kept);
        std::lock_guard lock(mutex_);
        for (const std::string& p : past) cache_[p].facts.wave.reset();
        outlineBytes_ = kept;
    }
    if (whole) {
        if (tagsFailed) tagsRetried_.insert(path);  // in the next run
        changed_.insert(path);
        (inPass ? passDirty_ : dirty_) = true;
    }
    return true;
}

void TrackAnalyser::Work::Renew(const std::string& path, CachedFacts& cached) {
    const std::int64_t now = WallSeconds();
    if (now - cached.used < kRenewAfterSeconds) return;
    cached.used = now;
    changed_.insert(path);
    dirty_ = true;
}

void TrackAnalyser::Work::Prune(std::size_t count) {
    std::string folder;
    bool folderThere = false;
    for (std::size_t n = 0; n < count && !unchecked_.empty(); ++n) {
        const std::string path = std::move(unchecked_.back());
        unchecked_.pop_back();
        const auto it = cache_.find(path);
        if (it == cache_.end()) continue;
        const FileKey key = it->second.key;
        const bool gone = OnTheMusic([&] {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) return !S_ISREG(st.st_mode) || KeyOf(path) != key;
            if (errno != ENOENT) return false;
            // Only where its folder is still there: a share that is not mounted now is no reason
            // to forget its files.
            if (std::string dir = FolderOfPath(path); dir != folder) {
                folder = std::move(dir);
                struct stat fs {};
                folderThere = ::stat(folder.c_str(), &fs) == 0 && S_ISDIR(fs.st_mode);
            }
            return folderThere;
        });
        if (gone) {
            const std::lock_guard lock(mutex_);
            cache_.erase(it);
            changed_.insert(path);
            dirty_ = true;
        }
    }
}

void TrackAnalyser::Work::Save() {
    if (!dirty_ && !passDirty_) return;
    // An installed copy's cache folder is the user's, and may not be there yet.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(cacheFile_).parent_path(), ec);
    // Another copy of the program may have written the file since: its entries stay, with this
    // run's changes over them.
    const SaveLock lock(cacheFile_);
    FactsCache merged;
    std::string text;
    int dropped = 0;
    const bool read = ReadWholeFile(cacheFile_, text, kMaxReadBytes);
    if (read) merged = ParseFactsCache(text, &dropped);
    if (!read || (merged.empty() && dropped > 0)) {
        merged = cache_;  // nothing of anyone's there
    } else {
        for (const std::string& path : changed_) {
            if (const auto it = cache_.find(path); it != cache_.end()) merged.insert_or_assign(path, it->second);
            else merged.erase(path);
        }
    }
    BoundFactsCache(merged, kMaxEntries, kMaxBytes, kMaxOutlineBytes);
    if (WriteFileAtomically(cacheFile_, FormatFactsCache(merged))) {
        // What this run found unchanged goes on answering.
        for (const auto& [path, cached] : cache_)
            if (const auto it = merged.find(path);
                cached.checked && it != merged.end() && it->second.key == cached.key && it->second.version == cached.version)
                it->second.checked = true;
        {
            std::lock_guard lock(mutex_);
            cache_.swap(merged);
            outlineBytes_ = BoundOutlines(cache_, kMaxOutlineBytes);
        }
        changed_.clear();
        dirty_ = passDirty_ = false;
    } else {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) std::fprintf(stderr, "quendo: cannot write %s\n", cacheFile_.c_str());
    }
}

}  // namespace quendo::audio
