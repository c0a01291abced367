#include "support/Fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quendo::testing {

void FakePlayer::SetFileName(const std::string& path) {
    calls.push_back("FileName " + path);
    fileName = path;
    position = 0;
    state = psStopped;
    plan.clear();
    bassPlan.clear();
    cued_ = false;
    failPending_ = false;
    ++openedCount;
}

double FakePlayer::Duration() {
    if (fileName.empty()) return 0;
    auto it = durations.find(fileName);
    if (it != durations.end()) return it->second;
    return defaultDuration;
}

void FakePlayer::SetCurrentPosition(double seconds) {
    calls.push_back("Seek " + std::to_string(static_cast<long long>(seconds)));
    position = seconds;
}

void FakePlayer::SetVolume(int v) {
    calls.push_back("Volume " + std::to_string(v));
    volume = v;
}

void FakePlayer::SetBalance(int b) {
    calls.push_back("Balance " + std::to_string(b));
    balance = b;
}

void FakePlayer::Play() {
    calls.push_back("Play");
    cued_ = false;
    if (!fileName.empty() && Duration() > 0) state = psPlaying;
    else if (!fileName.empty()) failPending_ = true;
}

void FakePlayer::Pause() {
    calls.push_back("Pause");
    cued_ = false;
    if (state == psPlaying) state = psPaused;
}

bool FakePlayer::Starved() {
    const auto stall = stallsAt.find(fileName);
    return state == psPlaying && stall != stallsAt.end() && position >= stall->second;
}

namespace {
std::string Number(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%g", v);
    return s;
}
}  // namespace

void FakePlayer::SetRatePlan(std::vector<RatePoint> p) {
    if (!inStep) return;
    std::string call = "RatePlan";
    for (const RatePoint& r : p) call += " " + Number(r.fileSeconds) + ":" + Number(r.rate);
    calls.push_back(call);
    plan = std::move(p);
}

void FakePlayer::PlayAfterOther(double otherSeconds, bool seamless) {
    if (!inStep) return MediaPlayer::PlayAfterOther(otherSeconds, seamless);
    calls.push_back("PlayAfterOther " + (otherSeconds == kAtOtherEnd ? std::string("end") : Number(otherSeconds)) +
                    (seamless ? " seamless" : " faded"));
    if (fileName.empty() || Duration() <= 0) {
        failPending_ = !fileName.empty();
        return;
    }
    if (state == psPlaying) return;
    state = psPlaying;
    startClock_.reset();
    if (!other || other->state != psPlaying || other->cued_) return;  // at once
    cue_ = otherSeconds == kAtOtherEnd ? other->Duration() : otherSeconds;
    cued_ = other->position < cue_;
}

double FakePlayer::RateAt(double s) const {
    if (plan.empty()) return 1;
    if (s <= plan.front().fileSeconds) return plan.front().rate;
    for (std::size_t i = 1; i < plan.size(); ++i)
        if (s < plan[i].fileSeconds)
            return plan[i - 1].rate +
                   (s - plan[i - 1].fileSeconds) / (plan[i].fileSeconds - plan[i - 1].fileSeconds) * (plan[i].rate - plan[i - 1].rate);
    return plan.back().rate;
}

void FakePlayer::Advance(double seconds) {
    const double before = clock_;
    clock_ += seconds;
    if (failPending_) {
        failPending_ = false;
        if (EndOfStream) EndOfStream();
        return;
    }
    if (state != psPlaying) return;
    if (cued_) {
        // The other stopped or paused short of the point: at once.
        if (!startClock_ && (!other || other->state != psPlaying)) startClock_ = before;
        if (!startClock_ || *startClock_ >= clock_) return;
        cued_ = false;
        seconds = clock_ - std::max(*startClock_, before);
    }
    Move(seconds);
}

void FakePlayer::Move(double seconds) {
    const double from = position;
    if (plan.empty()) position += seconds;
    else
        for (double left = seconds; left > 0; left -= 0.001) position += std::min(0.001, left) * RateAt(position);
    // A file that stops answering plays no further.
    const auto stall = stallsAt.find(fileName);
    if (stall != stallsAt.end() && from <= stall->second) position = std::min(position, stall->second);
    const double length = Duration();
    // The other deck waits for this one's position: it starts when that was reached, at once if it
    // has been advanced to this clock already.
    if (other && other->cued_ && !other->startClock_ && position >= std::min(other->cue_, length)) {
        const double reached = std::min(other->cue_, length);
        other->startClock_ = clock_ - seconds + (position > from ? (reached - from) / (position - from) * seconds : 0);
        if (other->clock_ > *other->startClock_) {
            other->cued_ = false;
            other->Move(other->clock_ - *other->startClock_);
        }
    }
    if (position >= length) {
        position = length;
        state = psStopped;
        if (EndOfStream) EndOfStream();
    }
}

FakeWorld::FakeWorld(TrackAnalysis* analysis) {
    core = std::make_unique<Core>(PlatformServices{deck1, deck2, probe, shell, powerOff, dialogs, random, analysis, &outputs},
                                  forms);
    core->nodes.MusicFolder = "/music/";
    core->nodes.ProgramFolder = "/program";
    core->files = LocateProgramFiles("/program/quendo");
    random.Seed(12345);
    deck1.other = &deck2;
    deck2.other = &deck1;
}

void FakeWorld::FirstRunIn(const std::string& programFolder) {
    core->nodes.ProgramFolder = programFolder;
    core->nodes.MusicFolder = "/music/";
    core->SetFirstRunValues(7);
}

std::int32_t FakeWorld::AddFile(const std::string& relativePath, double seconds) {
    NodeTable& t = core->nodes;
    std::int32_t parent = 0;
    std::size_t start = 0;
    for (std::size_t slash; (slash = relativePath.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string name = relativePath.substr(start, slash - start);
        std::int32_t found = -1;
        for (std::int32_t f : t.ChildFolders(parent))
            if (t.Folder(f).name == name) found = f;
        parent = found >= 0 ? found : t.AddFolderNode(parent, name);
    }
    const std::int32_t j = t.AddFileNode(parent, relativePath.substr(start));
    const std::string full = t.MusicFolder + relativePath;
    probe.durations[full] = seconds;
    deck1.durations[full] = seconds;
    deck2.durations[full] = seconds;
    return j;
}

void FakeWorld::StartMix() {
    core->buttons.UP = true;
    if (!core->deck.Timer1Enabled()) core->deck.StartHeadTrack();
    CurrentDeck().position = core->deck.trackLength();
    core->deck.Timer1Timer();
}

void FakeWorld::FinishMix() {
    for (int n = 0; core->deck.isMixing() && n < 10000; ++n) {
        deck1.Advance(0.1);
        deck2.Advance(0.1);
        core->deck.Timer1Timer();
    }
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "quendo-test-XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    path_ = made ? made : templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempDir::WriteFile(const std::string& relative, const std::string& content) const {
    const std::filesystem::path p = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string TempDir::ReadFile(const std::string& relative) const {
    std::ifstream in(std::filesystem::path(path_) / relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> TempDir::FilesBelow() const {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(path_))
        if (!e.is_directory()) files.push_back(fs::relative(e.path(), path_).string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace quendo::testing
